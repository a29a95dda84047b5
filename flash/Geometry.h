#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class FlashChip;

// One erase block, as the CFI query's erase-block regions lay the array out.
struct Block {
    std::uint32_t base;
    std::uint32_t size;
};

// What the chip's own CFI query table says about it. Nothing here comes from
// a table of known parts: a chip is described by what it answers.
struct Geometry {
    // Primary algorithm command set (query 0x13-0x14): 1 Intel/Sharp extended, 3 Intel standard.
    std::uint16_t commandSet = 0;
    std::uint32_t size = 0;  // 2^(query 0x27) bytes
    std::vector<Block> blocks;
    // Whether "PRI" stands at the primary extended table, and its version.
    bool extendedQuery = false;
    std::uint8_t extendedMajor = 0;
    std::uint8_t extendedMinor = 0;
    // Optional feature support from the extended table (0 without one).
    std::uint32_t featureBits = 0;

    // Bit 5: a block's lock bit can be cleared alone. Without it, clearing
    // is all blocks at once.
    [[nodiscard]] bool instantIndividualLocking() const { return (featureBits & (1U << 5U)) != 0; }
    // Bit 3: the set-lock-bit / clear-lock-bits commands.
    [[nodiscard]] bool legacyLocking() const { return (featureBits & (1U << 3U)) != 0; }
    // The size shared by every block, or 0 when they differ.
    [[nodiscard]] std::uint32_t uniformBlockSize() const;
};

// A query byte by query offset; the caller decides how it reaches the chip
// (byte address 2k in byte mode).
using QueryReader = std::function<std::uint8_t(std::uint32_t offset)>;

struct GeometryResult {
    bool valid = false;
    Geometry geometry;
    // Why the chip cannot be driven as a CFI part of the Intel/ST command
    // set, in words for the user; empty when valid.
    std::string problem;
};

// The board shifts 24 address bits: nothing beyond 16 MiB can be reached.
constexpr std::uint32_t boardAddressSpace = std::uint32_t{1} << 24U;

GeometryResult decodeGeometry(const QueryReader& query);

// Reads the chip's query table (access line up) and decodes it; leaves the
// chip in read-array mode.
GeometryResult queryGeometry(FlashChip& chip);
