#include "flash/Geometry.h"

#include <algorithm>
#include <array>

#include "flash/CommandSet.h"
#include "flash/FlashChip.h"

namespace {

// Query offsets of the fields read here.
constexpr std::uint32_t qryOffset = 0x10;
constexpr std::uint32_t commandSetOffset = 0x13;
constexpr std::uint32_t extendedTableOffset = 0x15;
constexpr std::uint32_t timingOffset = 0x1F;
constexpr std::uint32_t sizeOffset = 0x27;
constexpr std::uint32_t bufferSizeOffset = 0x2A;
// A write buffer beyond this is no chip the board drives; the field is garbage.
constexpr std::uint32_t largestBufferExponent = 12;
constexpr std::uint32_t regionCountOffset = 0x2C;
constexpr std::uint32_t firstRegionOffset = 0x2D;
constexpr std::uint32_t regionLength = 4;
constexpr std::uint32_t featureBitsOffset = 5;  // within the extended table

constexpr std::uint16_t intelExtended = 0x0001;
constexpr std::uint16_t intelStandard = 0x0003;
// A table of more regions than this is garbage, not a chip: the parts that
// use regions at all have one to four.
constexpr std::uint32_t mostRegions = 8;
// Real extended tables sit just after the basic one; an offset far beyond it
// is a chip answering garbage, and reading there would only cost time.
constexpr std::uint32_t lastExtendedTable = 0x100;

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

}  // namespace

std::uint32_t Geometry::uniformBlockSize() const {
    const bool uniform = !blocks.empty() && std::all_of(blocks.begin(), blocks.end(), [this](const Block& block) {
        return block.size == blocks.front().size;
    });
    return uniform ? blocks.front().size : 0;
}

GeometryResult decodeGeometry(const QueryReader& query) {
    if (!spells(query, qryOffset, "QRY")) {
        return refuse(
            "the chip gives no CFI query answer (\"QRY\"): the socket may be empty, the chip seated wrongly, or "
            "it is no CFI part; check the chip and its orientation");
    }
    Geometry geometry;
    geometry.commandSet = static_cast<std::uint16_t>(little(query, commandSetOffset, 2));
    if (geometry.commandSet != intelExtended && geometry.commandSet != intelStandard) {
        return refuse("the chip's command set is " + hex4(geometry.commandSet) +
                      ", not the Intel/ST one (0x0001 or 0x0003) that flashlock drives");
    }
    const std::uint32_t exponent = query(sizeOffset);
    if (exponent > 24) {
        return refuse("the chip holds 2^" + std::to_string(exponent) +
                      " bytes, more than the board's 24 address lines reach (16 MiB)");
    }
    if (exponent < 10) {
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

    const std::uint32_t regions = query(regionCountOffset);
    if (regions == 0 || regions > mostRegions) {
        return refuse("the chip's CFI table lists " + std::to_string(regions) +
                      " erase-block regions; check the chip and the board");
    }
    std::uint32_t base = 0;
    for (std::uint32_t region = 0; region < regions; ++region) {
        const std::uint32_t field = firstRegionOffset + region * regionLength;
        const std::uint32_t count = little(query, field, 2) + 1;
        const std::uint32_t units = little(query, field + 2, 2);
        // A size field of 0 stands for 128 bytes.
        const std::uint32_t blockSize = units == 0 ? 128 : units * 256;
        for (std::uint32_t block = 0; block < count && base < geometry.size; ++block) {
            geometry.blocks.push_back({base, blockSize});
            base += blockSize;
        }
    }
    if (base != geometry.size) {
        return refuse("the chip's erase-block regions do not add up to its size (" + std::to_string(base) + " of " +
                      std::to_string(geometry.size) + " bytes); check the chip and the board");
    }

    const std::uint32_t extended = little(query, extendedTableOffset, 2);
    if (extended != 0 && extended <= lastExtendedTable && spells(query, extended, "PRI")) {
        geometry.extendedQuery = true;
        geometry.extendedMajor = query(extended + 3);
        geometry.extendedMinor = query(extended + 4);
        geometry.featureBits = little(query, extended + featureBitsOffset, 4);
    }
    GeometryResult result;
    result.valid = true;
    result.geometry = std::move(geometry);
    return result;
}

GeometryResult queryGeometry(FlashChip& chip) {
    chip.writeAt(cfiQueryAddress, cmdCfiQuery);
    // Query data sits at even byte addresses in byte mode.
    GeometryResult result = decodeGeometry([&chip](std::uint32_t offset) { return chip.readAt(2 * offset); });
    chip.writeAt(0, cmdReadArray);
    return result;
}
