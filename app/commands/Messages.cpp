#include "app/commands/Messages.h"

#include <algorithm>
#include <array>

#include "app/Arguments.h"
#include "app/Progress.h"

namespace {

// Blocks per line of the lock map, in groups of eight: 128 blocks stay four lines.
constexpr std::size_t mapRowBlocks = 32;
constexpr std::size_t mapGroupBlocks = 8;

}  // namespace

std::string hex(std::uint32_t value, int digits) {
    constexpr std::array<char, 16> symbols{'0', '1', '2', '3', '4', '5', '6', '7',
                                           '8', '9', 'A', 'B', 'C', 'D', 'E', 'F'};
    // Never fewer digits than the value needs: a cut value would be a wrong one.
    while (digits < 8 && (value >> (4U * static_cast<unsigned>(digits))) != 0) {
        ++digits;
    }
    std::string text = "0x";
    for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4) {
        text += symbols.at((value >> static_cast<unsigned>(shift)) & 0xFU);
    }
    return text;
}

const char* boardName(BoardKind board) {
    switch (board) {
    case BoardKind::Willem:
        return "Willem/pcb3b";
    case BoardKind::Zantrel4v4:
        return "Zantrel4v4";
    case BoardKind::Zantrel4v5:
        return "Zantrel4v5";
    case BoardKind::PortNotUsable:
    case BoardKind::NoBoard:
        break;
    }
    return nullptr;
}

std::vector<std::uint32_t> numbersOf(const LockState& state, bool locked) {
    std::vector<std::uint32_t> numbers;
    for (std::size_t i = 0; i < state.size(); ++i) {
        if (state[i] == locked) {
            numbers.push_back(static_cast<std::uint32_t>(i + 1));
        }
    }
    return numbers;
}

std::string blocksText(const std::vector<std::uint32_t>& numbers) {
    return (numbers.size() == 1 ? "block " : "blocks ") + formatBlocks(numbers, ", ");
}

std::string lockedSummary(const LockState& state) {
    const std::vector<std::uint32_t> locked = numbersOf(state);
    if (locked.empty()) {
        return "none of " + std::to_string(state.size()) + " blocks";
    }
    return formatBlocks(locked, ", ") + " (" + std::to_string(locked.size()) + " of " + std::to_string(state.size()) +
           " blocks)";
}

void printLockMap(std::ostream& out, const LockState& state, bool protection) {
    out << (protection ? "protection map (P protected, . unprotected)\n" : "lock map (L locked, . unlocked)\n");
    for (std::size_t row = 0; row < state.size(); row += mapRowBlocks) {
        const std::size_t end = std::min(state.size(), row + mapRowBlocks);
        const std::string label = std::to_string(row + 1) + "-" + std::to_string(end);
        out << "  " << label << std::string(label.size() < 9 ? 9 - label.size() : 1, ' ');
        for (std::size_t i = row; i < end; ++i) {
            if (i > row && (i - row) % mapGroupBlocks == 0) {
                out << ' ';
            }
            out << (state[i] ? (protection ? 'P' : 'L') : '.');
        }
        out << '\n';
    }
    out << (protection ? "protected    " : "locked       ") << lockedSummary(state) << '\n';
}

std::string layoutText(const std::vector<Block>& blocks) {
    std::string text;
    for (std::size_t i = 0; i < blocks.size();) {
        std::size_t run = 1;
        while (i + run < blocks.size() && blocks[i + run].size == blocks[i].size) {
            ++run;
        }
        text += (text.empty() ? "" : ", ") + (run > 1 ? std::to_string(run) + " x " : std::string()) +
                humanBytes(blocks[i].size);
        i += run;
    }
    return text;
}

std::optional<std::uint32_t> rangeLength(std::uint32_t size, std::uint32_t offset,
                                         const std::optional<std::uint32_t>& length, std::string& problem,
                                         const std::string& offsetText, const std::string& /*lengthText*/) {
    const auto shown = [](std::uint32_t value, const std::string& text) {
        const std::string number = hex(value, 6);
        return text.empty() || text == number ? number : text + " (" + number + ")";
    };
    // A chip holds at least a byte: its last address is size - 1.
    const std::string end = "the chip's end at " + hex(size - 1, 6);
    if (offset >= size) {
        problem = "the offset " + shown(offset, offsetText) + " is past " + end;
        return std::nullopt;
    }
    const std::uint32_t count = length.value_or(size - offset);
    if (count == 0) {
        problem = "a length of 0 reads nothing";
        return std::nullopt;
    }
    if (count > size - offset) {
        // The last address may lie beyond 32 bits, though below 33: its
        // ninth digit is 1.
        const std::uint64_t last = std::uint64_t{offset} + count - 1;
        const std::string lastText = last > UINT32_MAX ? "0x1" + hex(static_cast<std::uint32_t>(last), 8).substr(2)
                                                       : hex(static_cast<std::uint32_t>(last), 6);
        problem = "the range " + hex(offset, 6) + " to " + lastText + " runs past " + end;
        return std::nullopt;
    }
    return count;
}

std::string journalNotWritten(const std::string& problem) {
    return "the journal that keeps this job safe cannot be written: " + problem +
           "; nothing was changed; mend that, or give --journal DIR for another folder";
}

std::string byteCount(std::uint64_t count) {
    return std::to_string(count) + (count == 1 ? " byte" : " bytes");
}

std::string deadlineText(std::uint32_t microseconds) {
    constexpr std::uint32_t perMillisecond = 1000;
    if (microseconds < perMillisecond) {
        return std::to_string(microseconds) + " us";
    }
    if (microseconds < perMillisecond * perMillisecond) {
        const std::uint32_t tenths = (microseconds + perMillisecond / 20) / (perMillisecond / 10);
        return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + " ms";
    }
    return humanDuration(microseconds / 1e6);
}

std::string rateText(std::uint32_t bytes, double seconds) {
    return humanDuration(seconds) + (seconds > 0 ? ", " + humanBytes(bytes / seconds) + "/s" : std::string());
}
