#pragma once

#include <cstdint>

#include "iolib/parport/ParallelPort.h"

// The word and double-word entry points of a port-I/O library, which
// flashlock looks up but never calls, built from byte accesses so that the
// module serves any caller of the 13 names sensibly (iolib/common/PortBits.h
// has the bit and shift ones). Wider values go out and come in low byte
// first, at consecutive addresses, as an 8-bit port answers a word access.
namespace parport {

void writeWord(ParallelPort& port, std::uint16_t address, std::uint16_t value);
void writeDoubleWord(ParallelPort& port, std::uint16_t address, std::uint32_t value);
std::uint16_t readWord(ParallelPort& port, std::uint16_t address);
std::uint32_t readDoubleWord(ParallelPort& port, std::uint16_t address);

}  // namespace parport
