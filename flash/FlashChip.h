#pragma once

#include <cstdint>
#include <iostream>

#include "driver/ProgrammerDriver.h"

// Bus cycles at 24-bit flash addresses and the Intel/ST command sequences built
// on them. Every line change, address shift, data transfer and wait goes
// through the driver; this layer never touches the port. It remembers nothing
// about the chip: each sequence sets the mode it needs.
class FlashChip {
public:
    // The driver is borrowed and must outlive the chip layer. The console is
    // where the dumps and lock messages go.
    explicit FlashChip(ProgrammerDriver* driver, std::ostream& console = std::cout);
    ~FlashChip() = default;
    FlashChip(const FlashChip&) = delete;
    FlashChip& operator=(const FlashChip&) = delete;
    FlashChip(FlashChip&&) = delete;
    FlashChip& operator=(FlashChip&&) = delete;

    std::uint8_t readAt(std::uint32_t address);
    void writeAt(std::uint32_t address, std::uint8_t value);
    void beginAccess();
    void endAccess();
    void waitMicroseconds(std::uint32_t count);

    BoardKind detectBoard();
    // Low byte: manufacturer code; high byte: device code.
    std::uint16_t readDeviceId();
    void dumpArray();
    void dumpCfiQuery();
    void queryBlockLocks();
    void setBlockLockBit();
    void clearAllLockBits();

    // The identifier codes by the Intel/ST command alone (0x90), without the
    // other makers' unlock cycles; leaves the chip in read-array mode.
    std::uint16_t readIdentifierCodes();
    // Read-array mode, then the access line down: how every command ends.
    void endInReadArray();
    // From any state the dialogue leaves: access up, read-array, access down.
    void returnToReadArray();

private:
    void lockCommand(std::uint8_t confirm, const char* message);

    ProgrammerDriver* driver;
    std::ostream* console;
};
