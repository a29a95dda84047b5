#pragma once

#include <memory>
#include <string>

#include "flash/ChipIdentity.h"
#include "flash/CommandSet.h"
#include "flash/FlashChip.h"
#include "flash/Geometry.h"
#include "flash/KnownChips.h"

// What the chip in the socket is, found as the commands need it: its CFI
// query first, which says which command set it speaks, then its identifier
// codes by that set's own method, never by the other's.
struct Identification {
    // The chip answered a CFI query: its command set and identity are known.
    bool answered = false;
    ChipIdentity identity;
    std::uint16_t commandSet = 0;
    // Valid when the chip can be driven.
    GeometryResult geometry;
    const KnownChip* known = nullptr;

    [[nodiscard]] bool valid() const { return answered && geometry.valid; }
    // Why the chip cannot be driven; empty when it can.
    [[nodiscard]] const std::string& problem() const { return geometry.problem; }
    // "Intel 28F320J3 (manufacturer 0x89, device 0x16)", or for a part
    // flashlock does not name, "CFI part, maker 0x01, device 0x7E 0x21 0x01".
    [[nodiscard]] std::string text() const;
};

// Expects the access line up; leaves the chip in read-array mode (of its
// set, when known).
Identification identify(FlashChip& chip);

// The command set a valid identification names, on the bus; the geometry
// must outlive it.
std::unique_ptr<CommandSet> commandSetFor(FlashChip& chip, const Geometry& geometry);
