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

// The CFI timing fields (query 0x1F-0x26): typical times as powers of two,
// and the factor, also a power of two, by which the maximum exceeds them.
// A zero exponent means the chip gives no figure.
struct CfiTiming {
    std::uint8_t byteProgramTypical = 0;    // 0x1F: 2^n us
    std::uint8_t bufferProgramTypical = 0;  // 0x20: 2^n us; 0: no write buffer
    std::uint8_t blockEraseTypical = 0;     // 0x21: 2^n ms
    std::uint8_t byteProgramMaximum = 0;    // 0x23: typical x 2^n
    std::uint8_t bufferProgramMaximum = 0;  // 0x24
    std::uint8_t blockEraseMaximum = 0;     // 0x25
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
    CfiTiming timing;
    // Bytes one write-to-buffer command takes (query 0x2A: 2^n); 0 when the
    // chip has no write buffer and takes bytes one by one.
    std::uint32_t writeBufferSize = 0;

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
