#pragma once

#include <cstdint>

#include "driver/ProgrammerDriver.h"

// The board's bus protocol on top of the driver's line operations: how a
// write cycle strobes the data byte into the flash, how a read cycle latches
// one, and how the access line lets cycles reach the chip at all. Every line
// value of that protocol lives here, so that the layers above deal in
// addresses and bytes alone.
namespace board {

// The board's serial address register is 24 bits long.
inline constexpr std::uint8_t addressBits = 24;

// The address shifted out in full, the byte driven, a 1-us write strobe.
void writeCycle(ProgrammerDriver& driver, std::uint32_t address, std::uint8_t value);
// The address shifted out in full, then the byte at it shifted in.
std::uint8_t readCycle(ProgrammerDriver& driver, std::uint32_t address);
// The byte at the address the register already holds: no shift, about a
// third of a full read cycle's port accesses.
std::uint8_t readAgain(ProgrammerDriver& driver);
// One more bit clocked into the address register: the address moves left by
// one place and takes `bit` as its lowest.
void stepAddress(ProgrammerDriver& driver, bool bit);
// Lets bus cycles reach the chip; waits for the lines to settle.
void raiseAccess(ProgrammerDriver& driver);
// The control lines back to idle, then the access line down.
void dropAccess(ProgrammerDriver& driver);

}  // namespace board
