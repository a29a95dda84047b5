#include "app/DialogueChip.h"

#include <algorithm>
#include <array>
#include <ostream>

namespace {

// The command bytes and addresses of the dialogue's sequences.
constexpr std::uint8_t cmdReset = 0xF0;
constexpr std::uint8_t cmdReadArray = 0xFF;
constexpr std::uint8_t cmdUnlock1 = 0xAA;
constexpr std::uint8_t cmdUnlock2 = 0x55;
constexpr std::uint8_t cmdReadIdentifier = 0x90;
constexpr std::uint8_t cmdCfiQuery = 0x98;
constexpr std::uint8_t cmdLockSetup = 0x60;
constexpr std::uint8_t cmdSetLockConfirm = 0x01;
constexpr std::uint8_t cmdClearLocksConfirm = 0xD0;
constexpr std::uint32_t cfiQueryAddress = 0x55;
// In identifier and query mode, word 2 of a block (byte 4 in byte mode)
// reads its lock bit.
constexpr std::uint32_t lockStatusOffset = 4;

constexpr std::uint32_t blockSize = 0x20000;
constexpr int blocksShown = 16;

constexpr std::uint32_t settleMicroseconds = 10;
constexpr std::uint32_t lockMicroseconds = 2000000;

struct NamedPart {
    std::uint16_t id;
    // Read through the iterator find_if returns, which cppcheck does not follow.
    // cppcheck-suppress unusedStructMember
    const char* name;
};

// In the order the dialogue tests them: device code high, maker low.
constexpr std::array<NamedPart, 7> namedParts{{
    {0x1489, "Intel 28F320J5"},
    {0x1589, "Intel 28F640J5"},
    {0x1689, "Intel 28F320J3"},
    {0x1789, "Intel 28F640J3"},
    {0x1889, "Intel 28F128J3"},
    {0x1620, "ST Micro M58LW032D"},
    {0x1720, "ST Micro M58LW064D"},
}};

// The console formats, written by hand: a dump prints over a thousand fields,
// and formatting each through snprintf cost more than the bus cycles it
// reports. Hexadecimal is upper case with at least two digits ("%.2X").
class Field {
public:
    // "%.2X" followed by `suffix`.
    Field& hex(std::uint32_t value, const char* suffix) {
        constexpr std::array<char, 16> digits{'0', '1', '2', '3', '4', '5', '6', '7',
                                              '8', '9', 'A', 'B', 'C', 'D', 'E', 'F'};
        int count = 2;
        while (count < 8 && (value >> (4U * static_cast<unsigned>(count))) != 0) {
            ++count;
        }
        while (count-- > 0) {
            put(digits.at((value >> (4U * static_cast<unsigned>(count))) & 0xFU));
        }
        return text(suffix);
    }
    // "%d" for the small positive numbers of the block list.
    Field& decimal(unsigned value, const char* suffix) {
        if (value >= 10) {
            decimal(value / 10, "");
        }
        put(static_cast<char>('0' + value % 10));
        return text(suffix);
    }
    Field& text(const char* part) {
        while (*part != '\0') {
            put(*part++);
        }
        return *this;
    }
    void writeTo(std::ostream& out) const { out.write(buffer.data(), static_cast<std::streamsize>(length)); }

private:
    void put(char c) {
        if (length < buffer.size()) {
            buffer.at(length++) = c;
        }
    }

    std::array<char, 32> buffer{};
    std::size_t length = 0;
};

void printHex(std::ostream& out, const char* prefix, std::uint32_t value, const char* suffix) {
    Field().text(prefix).hex(value, suffix).writeTo(out);
}

}  // namespace

const char* dialogueChipName(std::uint16_t id) {
    const auto* found =
        std::find_if(namedParts.begin(), namedParts.end(), [id](const NamedPart& part) { return part.id == id; });
    return found != namedParts.end() ? found->name : nullptr;
}

DialogueChip::DialogueChip(FlashChip& bus, std::ostream& console) : bus(&bus), console(&console) {}

BoardKind DialogueChip::detectBoard() {
    return bus->detectBoard();
}

std::uint16_t DialogueChip::readDeviceId() {
    bus->beginAccess();
    bus->writeAt(0x555, cmdUnlock1);
    bus->writeAt(0x2AA, cmdUnlock2);
    bus->writeAt(0x555, cmdReset);
    bus->writeAt(0xAAA, cmdUnlock1);
    bus->writeAt(0x555, cmdUnlock2);
    bus->writeAt(0xAAA, cmdReadIdentifier);
    bus->waitMicroseconds(settleMicroseconds);
    const std::uint8_t manufacturer = bus->readAt(0);
    const std::uint8_t device = bus->readAt(2);
    bus->writeAt(0, cmdReset);
    return static_cast<std::uint16_t>((device << 8U) | manufacturer);
}

void DialogueChip::dumpArray() {
    bus->writeAt(0, cmdReset);
    bus->writeAt(0, cmdReadArray);
    *console << "\nRead Array Mode (first 1kb)\n";
    for (std::uint32_t row = 0; row < 8; ++row) {
        printHex(*console, "0x", row * 16, ": ");
        for (std::uint32_t column = 0; column < 16; ++column) {
            printHex(*console, "", bus->readAt(row * 16 + column), " ");
        }
        *console << '\n';
    }
    bus->writeAt(0, cmdReset);
}

void DialogueChip::dumpCfiQuery() {
    bus->writeAt(0, cmdReset);
    bus->writeAt(cfiQueryAddress, cmdCfiQuery);
    *console << "\nCFI Query Mode\n";
    for (std::uint32_t row = 0; row < 5; ++row) {
        printHex(*console, "0x", row * 16, ": ");
        for (std::uint32_t offset = 0; offset < 16; ++offset) {
            // Query data sits at even byte addresses in byte mode.
            printHex(*console, "", bus->readAt(row * 32 + 2 * offset), " ");
        }
        *console << '\n';
    }
    bus->writeAt(0, cmdReset);
    bus->endAccess();
}

void DialogueChip::queryBlockLocks() {
    bus->beginAccess();
    bus->writeAt(0, cmdReset);
    bus->writeAt(cfiQueryAddress, cmdCfiQuery);
    *console << "\nBlock Query within 16Mb (01-block locked)\n";
    for (int block = 0; block < blocksShown; ++block) {
        const auto base = static_cast<std::uint32_t>(block) * blockSize;
        Field().text("[").decimal(static_cast<unsigned>(block) + 1, "]  ").writeTo(*console);
        printHex(*console, "0x", base, ": ");
        printHex(*console, "", bus->readAt(base + lockStatusOffset), " ");
        *console << '\n';
    }
    bus->writeAt(0, cmdReset);
    bus->endAccess();
    // The operator is asked for input next; everything before must be visible.
    console->flush();
}

void DialogueChip::setBlockLockBit() {
    lockCommand(cmdSetLockConfirm, "\nSet Block Lock Bit. Please wait...");
}

void DialogueChip::clearAllLockBits() {
    lockCommand(cmdClearLocksConfirm, "\nClear All Block Lock Bits. Please wait...");
}

void DialogueChip::lockCommand(std::uint8_t confirm, const char* message) {
    bus->beginAccess();
    bus->writeAt(0, cmdReset);
    bus->writeAt(0, cmdLockSetup);
    bus->waitMicroseconds(settleMicroseconds);
    bus->writeAt(0, confirm);
    // Flushed so the operator reads the message during the wait, not after it.
    *console << message << '\n' << std::flush;
    bus->waitMicroseconds(lockMicroseconds);
    bus->writeAt(0, cmdReset);
}

void DialogueChip::returnToReadArray() {
    bus->beginAccess();
    bus->writeAt(0, cmdReadArray);
    bus->endAccess();
}
