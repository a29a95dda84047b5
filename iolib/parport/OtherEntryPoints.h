#pragma once

#include <cstdint>

#include "iolib/parport/ParallelPort.h"

// The entry points of a port-I/O library that flashlock looks up but never
// calls, built from byte accesses so that the module serves any caller of the
// 13 names sensibly. Wider values go out and come in low byte first, at
// consecutive addresses, as an 8-bit port answers a word access. A bit number
// outside 0 to 7 names no bit: it changes nothing and reads as 0.
namespace parport {

void writeWord(ParallelPort& port, std::uint16_t address, std::uint16_t value);
void writeDoubleWord(ParallelPort& port, std::uint16_t address, std::uint32_t value);
std::uint16_t readWord(ParallelPort& port, std::uint16_t address);
std::uint32_t readDoubleWord(ParallelPort& port, std::uint16_t address);

void setBit(ParallelPort& port, std::uint16_t address, int bit);
void clearBit(ParallelPort& port, std::uint16_t address, int bit);
void toggleBit(ParallelPort& port, std::uint16_t address, int bit);
int readBit(ParallelPort& port, std::uint16_t address, int bit);

// Shift the register's byte by one place; bit 0 of `incoming` enters at the
// free end. Returns the bit that left at the other end.
int shiftRight(ParallelPort& port, std::uint16_t address, int incoming);
int shiftLeft(ParallelPort& port, std::uint16_t address, int incoming);

}  // namespace parport
