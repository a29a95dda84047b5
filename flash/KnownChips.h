#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "flash/ChipIdentity.h"
#include "flash/Geometry.h"

// A part flashlock names, with what its datasheet says of it. Everything the
// commands do with a chip they take from its own CFI table instead; this is
// for names, for the list that `chips` prints, and for the few facts a CFI
// table cannot give: where an older AMD-set part keeps its boot sectors, and
// the layout of parts whose table is known to be wrong.
struct KnownChip {
    std::uint16_t commandSet = 0;  // cfiCommandSet::intelExtended or amdStandard
    std::uint8_t manufacturer = 0;
    std::uint8_t bank = 0;
    // One device byte, or three (0x7E, then the bytes at 0x1C and 0x1E).
    std::array<std::uint8_t, 3> device{};
    std::uint8_t deviceLength = 0;
    const char* name = nullptr;
    std::uint8_t sizeExponent = 0;  // 2^n bytes
    BootSectors boot = BootSectors::None;
    // The layout in address order, as `chips` shows it.
    const char* layout = nullptr;
    // Regions in address order for a part whose CFI table is known to give
    // them wrong; empty otherwise.
    std::uint8_t fixedCount = 0;
    std::uint32_t fixedSize = 0;
    // Some parts answer in byte mode but cannot work in it.
    bool byteMode = true;

    [[nodiscard]] bool matches(std::uint16_t set, const ChipIdentity& identity) const;
    [[nodiscard]] ChipIdentity identity() const;
    [[nodiscard]] bool reachable() const { return sizeExponent <= 24; }
};

// Every named part, the Intel set first, in the order `chips` lists them.
std::span<const KnownChip> knownChips();

// The named part with this command set and identity; nullptr for any other.
const KnownChip* findKnownChip(std::uint16_t commandSet, const ChipIdentity& identity);

// What the known part adds to its own table's layout.
LayoutHints layoutHints(const KnownChip* known, const ChipIdentity& identity);
