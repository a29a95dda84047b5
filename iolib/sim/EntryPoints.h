#pragma once

#include <cstdint>

#include "iolib/sim/Simulator.h"

// The module's 13 entry points on a given simulator, so that the exported C
// functions stay one-line forwards and these can be tested without loading
// the module. The program calls only PortOut and PortIn; the others are ours
// to define and are built from those two, so they drive the same board.
namespace flashsim::entry {

void portOut(Simulator& sim, std::int16_t port, std::int8_t value);
std::int8_t portIn(Simulator& sim, std::int16_t port);
// Low byte to the port, high byte to the next (little-endian, as an x86 word
// port access splits).
void portWordOut(Simulator& sim, std::int16_t port, std::int16_t value);
void portDWordOut(Simulator& sim, std::int16_t port, std::int32_t value);
std::int16_t portWordIn(Simulator& sim, std::int16_t port);
std::int32_t portDWordIn(Simulator& sim, std::int16_t port);
// Bit numbers 0 to 7; others are taken modulo 8.
void setPortBit(Simulator& sim, std::int16_t port, std::int8_t bit);
void clrPortBit(Simulator& sim, std::int16_t port, std::int8_t bit);
void notPortBit(Simulator& sim, std::int16_t port, std::int8_t bit);
std::int16_t getPortBit(Simulator& sim, std::int16_t port, std::int8_t bit);
// Shift the register's byte by one place; bit 0 of `value` enters at the
// vacated end. Returns the bit that left at the other end, as the Linux port
// module does.
std::int16_t rightPortShift(Simulator& sim, std::int16_t port, std::int16_t value);
std::int16_t leftPortShift(Simulator& sim, std::int16_t port, std::int16_t value);
// 1 when the configuration was accepted, 0 when the port is not usable.
std::int16_t isDriverInstalled(const Simulator& sim);

}  // namespace flashsim::entry
