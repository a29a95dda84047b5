#pragma once

#include <cstdint>

#include "iolib/sim/Simulator.h"

// The module's 13 entry points on a given simulator, so that the exported C
// functions stay one-line forwards and these can be tested without loading
// the module. The program calls only PortOut and PortIn; the others are ours
// to define and are built from those two, so they drive the same board.
// None throws: the simulator turns every failure inside into a quiet port, so
// nothing can unwind into a caller that knows nothing of C++.
namespace flashsim::entry {

void portOut(Simulator& sim, std::int16_t port, std::int8_t value) noexcept;
std::int8_t portIn(Simulator& sim, std::int16_t port) noexcept;
// Low byte to the port, high byte to the next (little-endian, as an x86 word
// port access splits).
void portWordOut(Simulator& sim, std::int16_t port, std::int16_t value) noexcept;
void portDWordOut(Simulator& sim, std::int16_t port, std::int32_t value) noexcept;
std::int16_t portWordIn(Simulator& sim, std::int16_t port) noexcept;
std::int32_t portDWordIn(Simulator& sim, std::int16_t port) noexcept;
// Bit numbers 0 to 7; others are taken modulo 8.
void setPortBit(Simulator& sim, std::int16_t port, std::int8_t bit) noexcept;
void clrPortBit(Simulator& sim, std::int16_t port, std::int8_t bit) noexcept;
void notPortBit(Simulator& sim, std::int16_t port, std::int8_t bit) noexcept;
std::int16_t getPortBit(Simulator& sim, std::int16_t port, std::int8_t bit) noexcept;
// Shift the register's byte by one place; bit 0 of `value` enters at the
// vacated end. Returns the bit that left at the other end, as the Linux port
// module does.
std::int16_t rightPortShift(Simulator& sim, std::int16_t port, std::int16_t value) noexcept;
std::int16_t leftPortShift(Simulator& sim, std::int16_t port, std::int16_t value) noexcept;
// 1 when the configuration was accepted, 0 when the port is not usable.
std::int16_t isDriverInstalled(const Simulator& sim) noexcept;

}  // namespace flashsim::entry
