#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <map>
#include <string>

#include "flash/Geometry.h"
#include "flash/StatusRegister.h"

namespace {

// The J3 query table of a 28F320J3, offsets 0x10 to 0x4F, as the datasheet
// and the simulator have it.
std::map<std::uint32_t, std::uint8_t> j3Table() {
    const std::array<std::uint8_t, 0x40> bytes{
        0x51, 0x52, 0x59, 0x01, 0x00, 0x31, 0x00, 0x00, 0x00, 0x00, 0x00, 0x27, 0x36, 0x00, 0x00, 0x07,
        0x07, 0x0A, 0x00, 0x04, 0x04, 0x04, 0x00, 0x16, 0x02, 0x00, 0x05, 0x00, 0x01, 0x1F, 0x00, 0x00,
        0x02, 0x50, 0x52, 0x49, 0x31, 0x31, 0x0A, 0x00, 0x00, 0x00, 0x01, 0x01, 0x00, 0x33, 0x00, 0x01,
        0x80, 0x00, 0x03, 0x03, 0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
    std::map<std::uint32_t, std::uint8_t> table;
    for (std::uint32_t i = 0; i < bytes.size(); ++i) {
        table[0x10 + i] = bytes.at(i);
    }
    return table;
}

struct QueryCase {
    const char* name;
    std::map<std::uint32_t, std::uint8_t> changes;
    bool valid;
    std::uint32_t size;
    std::size_t blocks;
    std::uint32_t blockSize;
    bool perBlockUnlock;
    const char* problemStart;
};

class QueryDecoding : public testing::TestWithParam<QueryCase> {};

TEST_P(QueryDecoding, TakesTheGeometryFromTheChip) {
    std::map<std::uint32_t, std::uint8_t> table = j3Table();
    for (const auto& [offset, value] : GetParam().changes) {
        table[offset] = value;
    }
    const GeometryResult result = decodeGeometry([&table](std::uint32_t offset) {
        const auto found = table.find(offset);
        return found == table.end() ? std::uint8_t{0} : found->second;
    });
    const QueryCase& expected = GetParam();
    ASSERT_EQ(result.valid, expected.valid) << result.problem;
    if (!expected.valid) {
        EXPECT_EQ(result.problem.rfind(expected.problemStart, 0), 0U) << result.problem;
        return;
    }
    EXPECT_EQ(result.geometry.size, expected.size);
    EXPECT_EQ(result.geometry.blocks.size(), expected.blocks);
    EXPECT_EQ(result.geometry.uniformBlockSize(), expected.blockSize);
    EXPECT_EQ(result.geometry.instantIndividualLocking(), expected.perBlockUnlock);
    EXPECT_EQ(result.geometry.blocks.back().base + result.geometry.blocks.back().size, expected.size);
}

INSTANTIATE_TEST_SUITE_P(
    Tables, QueryDecoding,
    testing::Values(
        QueryCase{"j3_32blocks", {}, true, 0x400000, 32, 0x20000, false, ""},
        QueryCase{"j3_64blocks", {{0x27, 0x17}, {0x2D, 0x3F}}, true, 0x800000, 64, 0x20000, false, ""},
        QueryCase{"j3_128blocks", {{0x27, 0x18}, {0x2D, 0x7F}}, true, 0x1000000, 128, 0x20000, false, ""},
        QueryCase{"instantIndividualLocking", {{0x36, 0x2A}}, true, 0x400000, 32, 0x20000, true, ""},
        QueryCase{"noExtendedTableMeansClearAll", {{0x31, 0x00}, {0x36, 0x2A}}, true, 0x400000, 32, 0x20000, false, ""},
        QueryCase{"twoRegions",
                  {{0x27, 0x15},
                   {0x2C, 0x02},
                   {0x2D, 0x07},
                   {0x2E, 0x00},
                   {0x2F, 0x20},
                   {0x30, 0x00},
                   {0x31, 0x1E},
                   {0x32, 0x00},
                   {0x33, 0x00},
                   {0x34, 0x01},
                   {0x35, 0x00}},
                  true,
                  0x200000,
                  39,
                  0,
                  false,
                  ""},
        QueryCase{"emptySocket",
                  {{0x10, 0x00}, {0x11, 0x00}, {0x12, 0x00}},
                  false,
                  0,
                  0,
                  0,
                  false,
                  "the chip gives no CFI query answer"},
        QueryCase{"amdCommandSet", {{0x13, 0x02}}, false, 0, 0, 0, false, "the chip's command set is 0x0002"},
        QueryCase{"beyondTheBoard", {{0x27, 0x19}, {0x2D, 0xFF}}, false, 0, 0, 0, false, "the chip holds 2^25"},
        QueryCase{"regionsShortOfTheSize",
                  {{0x2D, 0x0F}},
                  false,
                  0,
                  0,
                  0,
                  false,
                  "the chip's erase-block regions do not add up"},
        QueryCase{"noRegions", {{0x2C, 0x00}}, false, 0, 0, 0, false, "the chip's CFI table lists 0"}),
    [](const testing::TestParamInfo<QueryCase>& info) { return info.param.name; });

struct StatusCase {
    std::uint8_t value;
    bool masterLockPart;
    const char* words;
};

class StatusWords : public testing::TestWithParam<StatusCase> {};

TEST_P(StatusWords, SayWhatToDo) {
    EXPECT_EQ(status::describe(GetParam().value, GetParam().masterLockPart), GetParam().words);
}

INSTANTIATE_TEST_SUITE_P(
    Bits, StatusWords,
    testing::Values(StatusCase{0x80, false, ""}, StatusCase{0x80, true, ""},
                    StatusCase{0x98, false, "VPEN/VPP low: check the programmer's supply or jumper"},
                    StatusCase{0xA8, true, "VPEN/VPP low: check the programmer's supply or jumper"},
                    StatusCase{0x92, true,
                               "the master lock bit is set: block lock bits can only change with 12 V on RP#, "
                               "which the board does not give"},
                    StatusCase{0x92, false, "the device reports a locked block"},
                    StatusCase{0xB0, false,
                               "command sequence error: the chip did not take the lock command as sent; check the "
                               "board's cable and power"},
                    StatusCase{0xA0, false, "clearing the lock bits failed"},
                    StatusCase{0x90, false, "setting the lock bit failed"}, StatusCase{0x45, false, ""}));

}  // namespace
