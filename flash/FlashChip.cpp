#include "flash/FlashChip.h"

#include <array>

#include "flash/CommandSet.h"

namespace {

constexpr std::uint8_t addressBits = 24;

constexpr std::uint32_t blockSize = 0x20000;
constexpr int blocksShown = 16;

constexpr LineChange setStrobe = 0x0008;
constexpr LineChange clearStrobe = 0x0800;
constexpr LineChange clearDataDirection = 0x0200;
constexpr LineChange raiseAccess = 0x0004;
constexpr LineChange idleLevels = 0x0209;
constexpr LineChange dropAccess = 0x0400;

constexpr std::uint32_t strobeMicroseconds = 1;
constexpr std::uint32_t settleMicroseconds = 10;
constexpr std::uint32_t lockMicroseconds = 2000000;

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

FlashChip::FlashChip(ProgrammerDriver* driver, std::ostream& console) : driver(driver), console(&console) {}

std::uint8_t FlashChip::readAt(std::uint32_t address) {
    driver->shiftOutAddress(address, addressBits);
    return driver->shiftInByte();
}

void FlashChip::writeAt(std::uint32_t address, std::uint8_t value) {
    driver->shiftOutAddress(address, addressBits);
    driver->putDataByte(value);
    driver->changeLines(PortRegister::Control, setStrobe);
    driver->waitMicroseconds(strobeMicroseconds);
    driver->changeLines(PortRegister::Control, clearStrobe);
    driver->changeLines(PortRegister::Control, clearDataDirection);
}

void FlashChip::beginAccess() {
    driver->changeLines(PortRegister::Control, raiseAccess);
    driver->waitMicroseconds(settleMicroseconds);
}

void FlashChip::endAccess() {
    driver->changeLines(PortRegister::Control, idleLevels);
    driver->waitMicroseconds(settleMicroseconds);
    driver->changeLines(PortRegister::Control, dropAccess);
}

void FlashChip::waitMicroseconds(std::uint32_t count) {
    driver->waitMicroseconds(count);
}

BoardKind FlashChip::detectBoard() {
    return driver->detectBoard();
}

std::uint16_t FlashChip::readDeviceId() {
    beginAccess();
    writeAt(0x555, cmdUnlock1);
    writeAt(0x2AA, cmdUnlock2);
    writeAt(0x555, cmdReset);
    writeAt(0xAAA, cmdUnlock1);
    writeAt(0x555, cmdUnlock2);
    writeAt(0xAAA, cmdReadIdentifier);
    waitMicroseconds(settleMicroseconds);
    const std::uint8_t manufacturer = readAt(0);
    const std::uint8_t device = readAt(2);
    writeAt(0, cmdReset);
    return static_cast<std::uint16_t>((device << 8U) | manufacturer);
}

void FlashChip::dumpArray() {
    writeAt(0, cmdReset);
    writeAt(0, cmdReadArray);
    *console << "\nRead Array Mode (first 1kb)\n";
    for (std::uint32_t row = 0; row < 8; ++row) {
        printHex(*console, "0x", row * 16, ": ");
        for (std::uint32_t column = 0; column < 16; ++column) {
            printHex(*console, "", readAt(row * 16 + column), " ");
        }
        *console << '\n';
    }
    writeAt(0, cmdReset);
}

void FlashChip::dumpCfiQuery() {
    writeAt(0, cmdReset);
    writeAt(cfiQueryAddress, cmdCfiQuery);
    *console << "\nCFI Query Mode\n";
    for (std::uint32_t row = 0; row < 5; ++row) {
        printHex(*console, "0x", row * 16, ": ");
        for (std::uint32_t offset = 0; offset < 16; ++offset) {
            // Query data sits at even byte addresses in byte mode.
            printHex(*console, "", readAt(row * 32 + 2 * offset), " ");
        }
        *console << '\n';
    }
    writeAt(0, cmdReset);
    endAccess();
}

void FlashChip::queryBlockLocks() {
    beginAccess();
    writeAt(0, cmdReset);
    writeAt(cfiQueryAddress, cmdCfiQuery);
    *console << "\nBlock Query within 16Mb (01-block locked)\n";
    for (int block = 0; block < blocksShown; ++block) {
        const auto base = static_cast<std::uint32_t>(block) * blockSize;
        Field().text("[").decimal(static_cast<unsigned>(block) + 1, "]  ").writeTo(*console);
        printHex(*console, "0x", base, ": ");
        printHex(*console, "", readAt(base + lockStatusOffset), " ");
        *console << '\n';
    }
    writeAt(0, cmdReset);
    endAccess();
    // The operator is asked for input next; everything before must be visible.
    console->flush();
}

void FlashChip::setBlockLockBit() {
    lockCommand(cmdSetLockConfirm, "\nSet Block Lock Bit. Please wait...");
}

void FlashChip::clearAllLockBits() {
    lockCommand(cmdConfirm, "\nClear All Block Lock Bits. Please wait...");
}

void FlashChip::lockCommand(std::uint8_t confirm, const char* message) {
    beginAccess();
    writeAt(0, cmdReset);
    writeAt(0, cmdLockSetup);
    waitMicroseconds(settleMicroseconds);
    writeAt(0, confirm);
    // Flushed so the operator reads the message during the wait, not after it.
    *console << message << '\n' << std::flush;
    waitMicroseconds(lockMicroseconds);
    writeAt(0, cmdReset);
}

std::uint16_t FlashChip::readIdentifierCodes() {
    writeAt(0, cmdReadIdentifier);
    const std::uint8_t manufacturer = readAt(0);
    const std::uint8_t device = readAt(2);
    writeAt(0, cmdReadArray);
    return static_cast<std::uint16_t>((device << 8U) | manufacturer);
}

void FlashChip::endInReadArray() {
    writeAt(0, cmdReadArray);
    endAccess();
}

void FlashChip::returnToReadArray() {
    beginAccess();
    endInReadArray();
}
