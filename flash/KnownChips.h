#pragma once

#include <array>
#include <cstdint>

// A part flashlock names, with what its datasheet says of it. Everything the
// commands do with a chip they take from its own CFI table instead; this is
// for names and for the list that `chips` prints.
struct KnownChip {
    // Device code in the high byte, manufacturer code in the low one, as
    // readDeviceId returns it.
    std::uint16_t id;
    const char* name;
    // The J5 parts carry a master lock bit that freezes every block lock bit
    // unless RP# is held at 12 V.
    bool masterLock;
    // 2^n bytes, in blocks of 128 KiB.
    std::uint8_t sizeExponent;
};

inline constexpr std::uint32_t knownChipBlockSize = 0x20000;

// In the order the dialogue tests them.
inline constexpr std::array<KnownChip, 7> knownChips{{
    {0x1489, "Intel 28F320J5", true, 22},
    {0x1589, "Intel 28F640J5", true, 23},
    {0x1689, "Intel 28F320J3", false, 22},
    {0x1789, "Intel 28F640J3", false, 23},
    {0x1889, "Intel 28F128J3", false, 24},
    {0x1620, "ST Micro M58LW032D", false, 22},
    {0x1720, "ST Micro M58LW064D", false, 23},
}};

// The name of the part with this identifier word; nullptr for any other.
const char* knownChipName(std::uint16_t id);

bool hasMasterLockBit(std::uint16_t id);
