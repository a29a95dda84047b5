#pragma once

#include <cstdint>

// The parts flashlock names, by identifier word: device code in the high
// byte, manufacturer code in the low one, as readDeviceId returns it.
// Nullptr for any other part.
const char* knownChipName(std::uint16_t id);

// The J5 parts carry a master lock bit that freezes every block lock bit
// unless RP# is held at 12 V.
bool hasMasterLockBit(std::uint16_t id);
