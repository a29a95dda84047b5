#include "app/Dialogue.h"

#include <array>
#include <cctype>
#include <cstdint>
#include <istream>
#include <ostream>
#include <string>
#include <string_view>

#include "app/DialogueChip.h"
#include "flash/FlashChip.h"

namespace {

// One word of at most 255 characters and its terminator; only the first
// character is ever looked at.
std::array<char, 256> commandBuffer{};  // NOLINT(cppcoreguidelines-avoid-non-const-global-variables)

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
// input never replays the previous command, and false once as much input as
// longestCommandWord went by without a word ending, blanks included, so that
// an endless stream cannot keep the program reading.
bool readCommandWord(std::istream& in) {
    commandBuffer.fill('\0');
    std::size_t consumed = 0;
    int next = in.peek();
    for (; next != std::istream::traits_type::eof() && std::isspace(next) != 0; next = in.peek()) {
        if (++consumed >= longestCommandWord) {
            return false;
        }
        in.get();
    }
    std::size_t length = 0;
    for (; next != std::istream::traits_type::eof() && std::isspace(next) == 0; next = in.peek()) {
        in.get();
        if (length + 1 < commandBuffer.size()) {
            commandBuffer.at(length) = static_cast<char>(next);
        }
        if (++length >= longestCommandWord) {
            return false;
        }
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
    if (const char* name = dialogueChipName(id)) {
        out << ' ' << name << '\n';
    }
    const bool knownMaker = manufacturer == 0x89 || manufacturer == 0x20;
    const bool knownDevice = device >= 0x14 && device <= 0x18;
    if (!knownMaker && !knownDevice) {
        out << "\nChip not supported !\n";
    }
}

}  // namespace

int runDialogue(ProgrammerDriver& driver, std::istream& in, std::ostream& out, const std::function<void()>& pause,
                const std::function<int()>& interrupted) {
    FlashChip bus(&driver);
    DialogueChip chip(bus, out);
    // A signal is only acted on where the lines are idle: the chip is then
    // put back in read-array mode and the run ends as the signal would have
    // ended it.
    const auto endBySignal = [&chip, &out, &interrupted] {
        chip.returnToReadArray();
        out.flush();
        return signalExitBase + interrupted();
    };

    const BoardKind board = chip.detectBoard();
    out << boardMessage(board) << '\n';
    if (!isKnownBoard(board)) {
        out.flush();
        if (interrupted() == 0) {
            pause();
        }
        return interrupted() != 0 ? signalExitBase + interrupted() : 1;
    }

    reportChip(chip.readDeviceId(), out);
    chip.dumpArray();
    chip.dumpCfiQuery();
    chip.queryBlockLocks();

    for (;;) {
        if (interrupted() != 0) {
            return endBySignal();
        }
        out << "\nClear Block Lock Bits  - enter 'c'"
            << "\nSet 1.Block Lock Bit   - enter 'b'"
            << "\n                  Exit - enter 'x'\n"
            << std::flush;
        // An operator who cannot see the menu cannot have chosen from it: a
        // console that takes no output ends the run as a closed input does.
        if (!out || !readCommandWord(in)) {
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
    if (interrupted() != 0) {
        return endBySignal();
    }

    out << '\n' << std::flush;
    pause();
    return interrupted() != 0 ? signalExitBase + interrupted() : 0;
}
