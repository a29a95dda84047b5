#include "app/Dialogue.h"

#include <array>
#include <cctype>
#include <cstdint>
#include <istream>
#include <ostream>
#include <string>
#include <string_view>

#include "flash/FlashChip.h"

namespace {

// One word of at most 255 characters and its terminator; only the first
// character is ever looked at.
std::array<char, 256> commandBuffer{};  // NOLINT(cppcoreguidelines-avoid-non-const-global-variables)

struct ChipName {
    std::uint16_t id;
    const char* name;
};

// Low byte manufacturer, high byte device code, tested in this order.
constexpr std::array<ChipName, 7> chipNames{{
    {0x1489, " Intel 28F320J5"},
    {0x1589, " Intel 28F640J5"},
    {0x1689, " Intel 28F320J3"},
    {0x1789, " Intel 28F640J3"},
    {0x1889, " Intel 28F128J3"},
    {0x1620, " ST Micro M58LW032D"},
    {0x1720, " ST Micro M58LW064D"},
}};

const char* boardMessage(BoardKind board) {
    switch (board) {
    case BoardKind::PortNotUsable:
        return "IO driver not initialized !";
    case BoardKind::Willem:
        return "Willem/pcb3b detected !";
    case BoardKind::Zantrel4v4:
        return "Zantrel4v4 detected !";
    case BoardKind::Zantrel4v5:
        return "Zantrel4v5 detected !";
    case BoardKind::NoBoard:
        break;
    }
    return "H/W check failed !";
}

bool isKnownBoard(BoardKind board) {
    return board == BoardKind::Willem || board == BoardKind::Zantrel4v4 || board == BoardKind::Zantrel4v5;
}

// Reads one blank-delimited word the way "%s" does, but never past the buffer:
// the rest of an over-long word is read and dropped, so it cannot spill into
// the next prompt. False at end of input or on a read error, so that a closed
// input never replays the previous command, and false for a word that never
// ends, so that an endless stream cannot keep the program reading.
bool readCommandWord(std::istream& in) {
    commandBuffer.fill('\0');
    in >> std::ws;
    std::size_t length = 0;
    for (int next = in.peek(); next != std::istream::traits_type::eof() && std::isspace(next) == 0; next = in.peek()) {
        if (length == longestCommandWord) {
            return false;
        }
        in.get();
        if (length + 1 < commandBuffer.size()) {
            commandBuffer.at(length) = static_cast<char>(next);
        }
        ++length;
    }
    return length > 0;
}

// Two upper-case hex digits, as "%.2X" prints a byte.
std::string hexByte(unsigned value) {
    constexpr std::string_view digits = "0123456789ABCDEF";
    return {digits[(value >> 4U) & 0xFU], digits[value & 0xFU]};
}

void reportChip(std::uint16_t id, std::ostream& out) {
    const auto manufacturer = static_cast<unsigned>(id & 0xFFU);
    const auto device = static_cast<unsigned>(id >> 8U);
    out << "\nDevice ID\n"
        << "8/16bit [00]=0x" << hexByte(manufacturer) << "; [01]=0x" << hexByte(device);
    for (const ChipName& chip : chipNames) {
        if (chip.id == id) {
            out << chip.name << '\n';
        }
    }
    const bool knownMaker = manufacturer == 0x89 || manufacturer == 0x20;
    const bool knownDevice = device >= 0x14 && device <= 0x18;
    if (!knownMaker && !knownDevice) {
        out << "\nChip not supported !\n";
    }
}

}  // namespace

int runDialogue(ProgrammerDriver& driver, std::istream& in, std::ostream& out, const std::function<void()>& pause) {
    FlashChip chip(&driver, out);

    const BoardKind board = chip.detectBoard();
    out << boardMessage(board) << '\n';
    if (!isKnownBoard(board)) {
        out.flush();
        pause();
        return 1;
    }

    reportChip(chip.readDeviceId(), out);
    chip.dumpArray();
    chip.dumpCfiQuery();
    chip.queryBlockLocks();

    for (;;) {
        out << "\nClear Block Lock Bits  - enter 'c'"
            << "\nSet 1.Block Lock Bit   - enter 'b'"
            << "\n                  Exit - enter 'x'\n"
            << std::flush;
        if (!readCommandWord(in)) {
            break;
        }
        const int command = std::toupper(static_cast<unsigned char>(commandBuffer[0]));
        if (command == 'C') {
            chip.clearAllLockBits();
            chip.queryBlockLocks();
            break;
        }
        if (command != 'B') {
            break;
        }
        chip.setBlockLockBit();
        chip.queryBlockLocks();
    }

    out << '\n' << std::flush;
    pause();
    return 0;
}
