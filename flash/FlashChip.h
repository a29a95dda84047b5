#pragma once

#include <cstdint>

#include "driver/ProgrammerDriver.h"

// The flash chip's bus: one read cycle, one write cycle, one wait, one step
// of the board's address register, at 24-bit flash addresses. It knows no
// command byte and prints nothing; the command sets and the dialogue build
// their sequences on it. It remembers nothing about the chip.
class FlashChip {
public:
    // The driver is borrowed and must outlive the chip layer.
    explicit FlashChip(ProgrammerDriver* driver);
    ~FlashChip() = default;
    FlashChip(const FlashChip&) = delete;
    FlashChip& operator=(const FlashChip&) = delete;
    FlashChip(FlashChip&&) = delete;
    FlashChip& operator=(FlashChip&&) = delete;

    std::uint8_t readAt(std::uint32_t address);
    // The byte at the address the board's register holds from the last
    // cycle or step, read without shifting it out again.
    std::uint8_t readAgain();
    void writeAt(std::uint32_t address, std::uint8_t value);
    // Moves the board's address register one place left, `bit` coming in
    // lowest. Only for reading: the bits above the chip's size take whatever
    // the steps left there.
    void stepAddress(bool bit);
    void beginAccess();
    void endAccess();
    void waitMicroseconds(std::uint32_t count);

    BoardKind detectBoard();

private:
    ProgrammerDriver* driver;
};
