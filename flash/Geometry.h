#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// One erase block (an AMD-set part calls it a sector), in address order.
struct Block {
    std::uint32_t base;
    std::uint32_t size;
};

// An erase-block region: `count` blocks of `size` bytes each.
struct Region {
    std::uint32_t count;
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

// The primary command sets of the CFI query (0x13-0x14) that flashlock drives.
namespace cfiCommandSet {
constexpr std::uint16_t intelExtended = 0x0001;
constexpr std::uint16_t amdStandard = 0x0002;
constexpr std::uint16_t intelStandard = 0x0003;
}  // namespace cfiCommandSet

// Where an AMD-set part keeps its boot sectors, as the layout was decided.
enum class BootSectors { None, Bottom, Top };

// What the chip's own CFI query table says about it, with the fixes that
// known parts need. A chip is described by what it answers.
struct Geometry {
    // Primary algorithm command set (query 0x13-0x14).
    std::uint16_t commandSet = 0;
    std::uint32_t size = 0;  // 2^(query 0x27) bytes
    // In address order, whatever order the table listed its regions in.
    std::vector<Block> blocks;
    // Whether "PRI" stands at the primary extended table, and its version.
    bool extendedQuery = false;
    std::uint8_t extendedMajor = 0;
    std::uint8_t extendedMinor = 0;
    // Intel set: optional feature support from the extended table (0 without one).
    std::uint32_t featureBits = 0;
    // AMD set: the extended table's boot flag (v1.1 on; 0 without) and sector
    // protection scheme (4 high-voltage, 8 advanced; 0 without).
    std::uint8_t bootFlag = 0;
    std::uint8_t protectScheme = 0;
    BootSectors boot = BootSectors::None;
    // The regions were listed bottom-up by a top-boot part and are turned round.
    bool regionsReversed = false;
    // The table did not say where the boot sectors are; they were taken from
    // the device code (see decodeGeometry).
    bool bootGuessed = false;
    CfiTiming timing;
    // Bytes one write-to-buffer command takes (query 0x2A: 2^n); 0 when the
    // chip has no write buffer and takes bytes one by one.
    std::uint32_t writeBufferSize = 0;

    [[nodiscard]] bool intelSet() const {
        return commandSet == cfiCommandSet::intelExtended || commandSet == cfiCommandSet::intelStandard;
    }
    [[nodiscard]] bool amdSet() const { return commandSet == cfiCommandSet::amdStandard; }
    // Intel set, bit 5: a block's lock bit can be cleared alone. Without it,
    // clearing is all blocks at once.
    [[nodiscard]] bool instantIndividualLocking() const { return intelSet() && (featureBits & (1U << 5U)) != 0; }
    // The size shared by every block, or 0 when they differ.
    [[nodiscard]] std::uint32_t uniformBlockSize() const;
    // The index of the block holding `address` (the last block for addresses past it).
    [[nodiscard]] std::size_t blockAt(std::uint32_t address) const;
    // Whether the board's 24 address lines reach the whole chip.
    [[nodiscard]] bool reachable() const;
};

// A query byte by query offset; the caller decides how it reaches the chip
// (byte address 2k in byte mode).
using QueryReader = std::function<std::uint8_t(std::uint32_t offset)>;

// What is known of a part beyond its own table.
struct LayoutHints {
    // Where an AMD-set part's boot sectors are, when its table cannot say
    // (extended query before 1.1): from a table of known parts, or nullopt.
    std::optional<BootSectors> boot;
    // The device code's bit 7, the rule Linux MTD and U-Boot fall back on
    // for such parts: set means top boot.
    bool deviceTopBit = false;
    // The layout of a known part whose table is known to be wrong, used when
    // its regions do not add up to its size.
    std::vector<Region> knownLayout;
};

struct GeometryResult {
    bool valid = false;
    Geometry geometry;
    // Why the chip cannot be driven, in words for the user; empty when valid.
    std::string problem;
};

// The board shifts 24 address bits: nothing beyond 16 MiB can be reached.
constexpr std::uint32_t boardAddressSpace = std::uint32_t{1} << 24U;

// Every query byte decodeGeometry may ask for, read once while the chip is
// in query mode, so that decoding can wait until the chip is identified.
class CfiTable {
public:
    static CfiTable read(const QueryReader& query);
    [[nodiscard]] std::uint8_t at(std::uint32_t offset) const { return offset < bytes.size() ? bytes.at(offset) : 0; }
    [[nodiscard]] QueryReader reader() const {
        return [this](std::uint32_t offset) { return at(offset); };
    }
    [[nodiscard]] bool answered() const;
    [[nodiscard]] std::uint16_t commandSet() const;

private:
    std::array<std::uint8_t, 0x100> bytes{};
};

GeometryResult decodeGeometry(const QueryReader& query, const LayoutHints& hints = {});
