#include "flash/Geometry.h"

#include <algorithm>

namespace {

// Query offsets of the fields read here.
constexpr std::uint32_t qryOffset = 0x10;
constexpr std::uint32_t commandSetOffset = 0x13;
constexpr std::uint32_t extendedTableOffset = 0x15;
constexpr std::uint32_t timingOffset = 0x1F;
constexpr std::uint32_t sizeOffset = 0x27;
constexpr std::uint32_t bufferSizeOffset = 0x2A;
constexpr std::uint32_t regionCountOffset = 0x2C;
constexpr std::uint32_t firstRegionOffset = 0x2D;
constexpr std::uint32_t regionLength = 4;
// The basic table, regions included, ends before this.
constexpr std::uint32_t basicTableEnd = 0x50;
// Within the extended table.
constexpr std::uint32_t featureBitsOffset = 5;    // Intel: four bytes
constexpr std::uint32_t protectSchemeOffset = 9;  // AMD
constexpr std::uint32_t bootFlagOffset = 0xF;     // AMD, version 1.1 on
constexpr std::uint32_t extendedTableLength = 0x14;
// A write buffer beyond this is no chip the board drives; the field is garbage.
constexpr std::uint32_t largestBufferExponent = 12;
// A table of more regions than this is garbage, not a chip: the parts that
// use regions at all have one to four.
constexpr std::uint32_t mostRegions = 8;
// Real extended tables sit just after the basic one; an offset far beyond it
// is a chip answering garbage, and reading there would only cost time.
constexpr std::uint32_t lastExtendedTable = 0x100 - extendedTableLength;
// AMD boot flags: 2 bottom, 3 top; other values mean no boot sectors at one end.
constexpr std::uint8_t bootFlagBottom = 2;
constexpr std::uint8_t bootFlagTop = 3;
// The smallest and largest chip sizes a table can sensibly give.
constexpr std::uint32_t smallestSizeExponent = 10;
constexpr std::uint32_t largestSizeExponent = 31;

std::uint32_t little(const QueryReader& query, std::uint32_t offset, unsigned bytes) {
    std::uint32_t value = 0;
    for (unsigned i = bytes; i-- > 0;) {
        value = (value << 8U) | query(offset + i);
    }
    return value;
}

bool spells(const QueryReader& query, std::uint32_t offset, const char* word) {
    for (std::uint32_t i = 0; word[i] != '\0'; ++i) {
        if (query(offset + i) != static_cast<std::uint8_t>(word[i])) {
            return false;
        }
    }
    return true;
}

std::string hex4(unsigned value) {
    constexpr std::array<char, 16> digits{'0', '1', '2', '3', '4', '5', '6', '7',
                                          '8', '9', 'A', 'B', 'C', 'D', 'E', 'F'};
    std::string text = "0x";
    for (int shift = 12; shift >= 0; shift -= 4) {
        text += digits.at((value >> static_cast<unsigned>(shift)) & 0xFU);
    }
    return text;
}

GeometryResult refuse(std::string problem) {
    GeometryResult result;
    result.problem = std::move(problem);
    return result;
}

std::uint64_t total(const std::vector<Region>& regions) {
    std::uint64_t sum = 0;
    for (const Region& region : regions) {
        sum += std::uint64_t{region.count} * region.size;
    }
    return sum;
}

// Where the boot sectors of an AMD-set part are. From extended query 1.1 on
// the table says so itself. Before that it does not, and parts of either
// kind share one table; a table of known parts decides, else the device
// code's bit 7 as Linux MTD and U-Boot take it (set: top boot). That rule is
// known to misname a few bottom-boot parts, which the table of known parts
// lists, so it is only the last resort.
BootSectors bootSectors(const Geometry& geometry, const LayoutHints& hints, bool& guessed) {
    guessed = false;
    if (geometry.extendedQuery &&
        (geometry.extendedMajor > '1' || (geometry.extendedMajor == '1' && geometry.extendedMinor >= '1'))) {
        if (geometry.bootFlag == bootFlagTop) {
            return BootSectors::Top;
        }
        return geometry.bootFlag == bootFlagBottom ? BootSectors::Bottom : BootSectors::None;
    }
    if (hints.boot) {
        return *hints.boot;
    }
    guessed = true;
    return hints.deviceTopBit ? BootSectors::Top : BootSectors::Bottom;
}

}  // namespace

std::uint32_t Geometry::uniformBlockSize() const {
    const bool uniform = !blocks.empty() && std::all_of(blocks.begin(), blocks.end(), [this](const Block& block) {
        return block.size == blocks.front().size;
    });
    return uniform ? blocks.front().size : 0;
}

std::size_t Geometry::blockAt(std::uint32_t address) const {
    const auto after = std::upper_bound(blocks.begin(), blocks.end(), address,
                                        [](std::uint32_t at, const Block& block) { return at < block.base; });
    return after == blocks.begin() ? 0 : static_cast<std::size_t>(after - blocks.begin()) - 1;
}

bool Geometry::reachable() const {
    return size <= boardAddressSpace;
}

CfiTable CfiTable::read(const QueryReader& query) {
    CfiTable table;
    // An empty socket or a chip in another mode costs three reads, not the table.
    for (std::uint32_t offset = qryOffset; offset < basicTableEnd; ++offset) {
        table.bytes.at(offset) = query(offset);
        if (offset == qryOffset + 2 && !table.answered()) {
            return table;
        }
    }
    const std::uint32_t extended = little(table.reader(), extendedTableOffset, 2);
    if (extended != 0 && extended <= lastExtendedTable) {
        for (std::uint32_t offset = extended; offset < extended + extendedTableLength; ++offset) {
            if (offset < qryOffset || offset >= basicTableEnd) {
                table.bytes.at(offset) = query(offset);
            }
        }
    }
    return table;
}

bool CfiTable::answered() const {
    return spells(reader(), qryOffset, "QRY");
}

std::uint16_t CfiTable::commandSet() const {
    return static_cast<std::uint16_t>(little(reader(), commandSetOffset, 2));
}

GeometryResult decodeGeometry(const QueryReader& query, const LayoutHints& hints) {
    if (!spells(query, qryOffset, "QRY")) {
        return refuse(
            "the chip gives no CFI query answer (\"QRY\"): the socket may be empty, the chip seated wrongly, or "
            "it is no CFI part; check the chip and its orientation");
    }
    Geometry geometry;
    geometry.commandSet = static_cast<std::uint16_t>(little(query, commandSetOffset, 2));
    if (!geometry.intelSet() && !geometry.amdSet()) {
        return refuse("the chip's command set is " + hex4(geometry.commandSet) +
                      ", not one that flashlock drives (0x0001 or 0x0003 of the Intel set, 0x0002 of the AMD set)");
    }
    const std::uint32_t exponent = query(sizeOffset);
    if (exponent < smallestSizeExponent || exponent > largestSizeExponent) {
        return refuse("the chip's CFI size field reads 2^" + std::to_string(exponent) +
                      " bytes, which no flash part has; check the chip and the board");
    }
    geometry.size = std::uint32_t{1} << exponent;

    geometry.timing.byteProgramTypical = query(timingOffset);
    geometry.timing.bufferProgramTypical = query(timingOffset + 1);
    geometry.timing.blockEraseTypical = query(timingOffset + 2);
    geometry.timing.byteProgramMaximum = query(timingOffset + 4);
    geometry.timing.bufferProgramMaximum = query(timingOffset + 5);
    geometry.timing.blockEraseMaximum = query(timingOffset + 6);
    const std::uint32_t bufferExponent = little(query, bufferSizeOffset, 2);
    // A one-byte buffer saves nothing over programming bytes one by one.
    if (geometry.timing.bufferProgramTypical != 0 && bufferExponent > 0 && bufferExponent <= largestBufferExponent) {
        geometry.writeBufferSize = std::uint32_t{1} << bufferExponent;
    }

    const std::uint32_t extended = little(query, extendedTableOffset, 2);
    if (extended != 0 && extended <= lastExtendedTable && spells(query, extended, "PRI")) {
        geometry.extendedQuery = true;
        geometry.extendedMajor = query(extended + 3);
        geometry.extendedMinor = query(extended + 4);
        if (geometry.intelSet()) {
            geometry.featureBits = little(query, extended + featureBitsOffset, 4);
        } else {
            geometry.protectScheme = query(extended + protectSchemeOffset);
            geometry.bootFlag = query(extended + bootFlagOffset);
        }
    }

    const std::uint32_t regionCount = query(regionCountOffset);
    if (regionCount == 0 || regionCount > mostRegions) {
        return refuse("the chip's CFI table lists " + std::to_string(regionCount) +
                      " erase-block regions; check the chip and the board");
    }
    std::vector<Region> regions;
    for (std::uint32_t region = 0; region < regionCount; ++region) {
        const std::uint32_t field = firstRegionOffset + region * regionLength;
        const std::uint32_t units = little(query, field + 2, 2);
        // A size field of 0 stands for 128 bytes.
        regions.push_back({little(query, field, 2) + 1, units == 0 ? 128 : units * 256});
    }
    if (total(regions) != geometry.size && !hints.knownLayout.empty() && total(hints.knownLayout) == geometry.size) {
        regions = hints.knownLayout;
    }
    if (total(regions) != geometry.size) {
        return refuse("the chip's erase-block regions do not add up to its size (" + std::to_string(total(regions)) +
                      " of " + std::to_string(geometry.size) + " bytes); check the chip and the board");
    }
    if (geometry.amdSet()) {
        geometry.boot = bootSectors(geometry, hints, geometry.bootGuessed);
        // Top-boot parts list their regions smallest first, as bottom-boot
        // ones do: the list is turned round to give the address order.
        if (geometry.boot == BootSectors::Top && regions.size() > 1) {
            std::reverse(regions.begin(), regions.end());
            geometry.regionsReversed = true;
        }
        // A uniform part has nothing to guess.
        geometry.bootGuessed = geometry.bootGuessed && regions.size() > 1;
    }
    std::uint32_t base = 0;
    for (const Region& region : regions) {
        for (std::uint32_t block = 0; block < region.count; ++block) {
            geometry.blocks.push_back({base, region.size});
            base += region.size;
        }
    }
    GeometryResult result;
    result.valid = true;
    result.geometry = std::move(geometry);
    return result;
}
