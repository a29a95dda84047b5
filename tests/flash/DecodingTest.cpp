#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <map>
#include <ostream>
#include <string>

#include "flash/Geometry.h"
#include "flash/intel/StatusRegister.h"

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

// The 2 MiB boot-sector part of the AMD set: one table for the top- and
// bottom-boot variants, its regions listed smallest first, extended query 1.0.
std::map<std::uint32_t, std::uint8_t> amdBootTable() {
    std::map<std::uint32_t, std::uint8_t> table{
        {0x10, 'Q'},  {0x11, 'R'},  {0x12, 'Y'},  {0x13, 0x02}, {0x15, 0x40}, {0x1F, 0x04}, {0x21, 0x0A},
        {0x23, 0x05}, {0x25, 0x04}, {0x27, 0x15}, {0x28, 0x02}, {0x2C, 0x04}, {0x2D, 0x00}, {0x2F, 0x40},
        {0x31, 0x01}, {0x33, 0x20}, {0x35, 0x00}, {0x37, 0x80}, {0x39, 0x1E}, {0x3B, 0x00}, {0x3C, 0x01},
        {0x40, 'P'},  {0x41, 'R'},  {0x42, 'I'},  {0x43, '1'},  {0x44, '0'},  {0x49, 0x04}};
    return table;
}

struct QueryCase {
    const char* name;
    std::map<std::uint32_t, std::uint8_t> (*base)();
    std::map<std::uint32_t, std::uint8_t> changes;
    LayoutHints hints;
    bool valid;
    std::uint32_t size;
    std::size_t blocks;
    // The first and last block's sizes: where the boot sectors are.
    std::uint32_t first;
    std::uint32_t last;
    bool perBlockUnlock;
    const char* problemStart;
};

void PrintTo(const QueryCase& c, std::ostream* os) {
    *os << c.name;
}

class QueryDecoding : public testing::TestWithParam<QueryCase> {};

TEST_P(QueryDecoding, TakesTheGeometryFromTheChip) {
    const QueryCase& expected = GetParam();
    std::map<std::uint32_t, std::uint8_t> table = expected.base();
    for (const auto& [offset, value] : expected.changes) {
        table[offset] = value;
    }
    const GeometryResult result = decodeGeometry(
        [&table](std::uint32_t offset) {
            const auto found = table.find(offset);
            return found == table.end() ? std::uint8_t{0} : found->second;
        },
        expected.hints);
    ASSERT_EQ(result.valid, expected.valid) << result.problem;
    if (!expected.valid) {
        EXPECT_EQ(result.problem.rfind(expected.problemStart, 0), 0U) << result.problem;
        return;
    }
    const Geometry& geometry = result.geometry;
    EXPECT_EQ(geometry.size, expected.size);
    ASSERT_EQ(geometry.blocks.size(), expected.blocks);
    EXPECT_EQ(geometry.blocks.front().size, expected.first);
    EXPECT_EQ(geometry.blocks.back().size, expected.last);
    EXPECT_EQ(geometry.instantIndividualLocking(), expected.perBlockUnlock);
    EXPECT_EQ(std::uint64_t{geometry.blocks.back().base} + geometry.blocks.back().size, expected.size);
    for (std::size_t i = 1; i < geometry.blocks.size(); ++i) {
        ASSERT_EQ(geometry.blocks[i].base, geometry.blocks[i - 1].base + geometry.blocks[i - 1].size);
    }
}

LayoutHints topByTable() {
    LayoutHints hints;
    hints.boot = BootSectors::Top;
    return hints;
}

LayoutHints topByDeviceBit() {
    LayoutHints hints;
    hints.deviceTopBit = true;
    return hints;
}

LayoutHints uniformLayoutFix() {
    LayoutHints hints;
    hints.knownLayout = {{128, 0x10000}};
    return hints;
}

constexpr std::uint32_t k8 = 0x2000;
constexpr std::uint32_t k16 = 0x4000;
constexpr std::uint32_t k64 = 0x10000;
constexpr std::uint32_t k128 = 0x20000;

INSTANTIATE_TEST_SUITE_P(
    Tables, QueryDecoding,
    testing::Values(
        QueryCase{"j3_32blocks", j3Table, {}, {}, true, 0x400000, 32, k128, k128, false, ""},
        QueryCase{"j3_64blocks", j3Table, {{0x27, 0x17}, {0x2D, 0x3F}}, {}, true, 0x800000, 64, k128, k128, false, ""},
        QueryCase{
            "j3_128blocks", j3Table, {{0x27, 0x18}, {0x2D, 0x7F}}, {}, true, 0x1000000, 128, k128, k128, false, ""},
        QueryCase{"intel64KiBBlocks",
                  j3Table,
                  {{0x27, 0x15}, {0x2F, 0x00}, {0x30, 0x01}},
                  {},
                  true,
                  0x200000,
                  32,
                  k64,
                  k64,
                  false,
                  ""},
        QueryCase{"instantIndividualLocking", j3Table, {{0x36, 0x2A}}, {}, true, 0x400000, 32, k128, k128, true, ""},
        QueryCase{"noExtendedTableMeansClearAll",
                  j3Table,
                  {{0x31, 0x00}, {0x36, 0x2A}},
                  {},
                  true,
                  0x400000,
                  32,
                  k128,
                  k128,
                  false,
                  ""},
        // An Intel-set part with boot blocks lists them in address order: never turned round.
        QueryCase{"intelTwoRegions",
                  j3Table,
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
                  topByDeviceBit(),
                  true,
                  0x200000,
                  39,
                  k8,
                  k64,
                  false,
                  ""},
        QueryCase{"amdBottomBoot", amdBootTable, {}, {}, true, 0x200000, 35, k16, k64, false, ""},
        QueryCase{"amdTopBootByPartTable", amdBootTable, {}, topByTable(), true, 0x200000, 35, k64, k16, false, ""},
        QueryCase{"amdTopBootByDeviceBit", amdBootTable, {}, topByDeviceBit(), true, 0x200000, 35, k64, k16, false, ""},
        // From extended query 1.1 on, the boot flag decides, whatever the codes.
        QueryCase{
            "amdTopBootFlag", amdBootTable, {{0x44, '1'}, {0x4F, 0x03}}, {}, true, 0x200000, 35, k64, k16, false, ""},
        QueryCase{"amdBottomBootFlag",
                  amdBootTable,
                  {{0x44, '3'}, {0x4F, 0x02}},
                  topByDeviceBit(),
                  true,
                  0x200000,
                  35,
                  k16,
                  k64,
                  false,
                  ""},
        QueryCase{"amdUniform",
                  amdBootTable,
                  {{0x27, 0x18}, {0x2C, 0x01}, {0x2D, 0x7F}, {0x2F, 0x00}, {0x30, 0x02}, {0x44, '3'}, {0x4F, 0x05}},
                  topByDeviceBit(),
                  true,
                  0x1000000,
                  128,
                  k128,
                  k128,
                  false,
                  ""},
        // Parts known to count half their sectors take the layout they have.
        QueryCase{"amdKnownWrongTable",
                  amdBootTable,
                  {{0x27, 0x17}, {0x2C, 0x01}, {0x2D, 0x3F}, {0x2F, 0x00}, {0x30, 0x01}},
                  uniformLayoutFix(),
                  true,
                  0x800000,
                  128,
                  k64,
                  k64,
                  false,
                  ""},
        QueryCase{
            "beyondTheBoard", j3Table, {{0x27, 0x19}, {0x2D, 0xFF}}, {}, true, 0x2000000, 256, k128, k128, false, ""},
        QueryCase{"emptySocket",
                  j3Table,
                  {{0x10, 0x00}, {0x11, 0x00}, {0x12, 0x00}},
                  {},
                  false,
                  0,
                  0,
                  0,
                  0,
                  false,
                  "the chip gives no CFI query answer"},
        QueryCase{"otherCommandSet",
                  j3Table,
                  {{0x13, 0x04}},
                  {},
                  false,
                  0,
                  0,
                  0,
                  0,
                  false,
                  "the chip's command set is 0x0004"},
        QueryCase{"regionsShortOfTheSize",
                  j3Table,
                  {{0x2D, 0x0F}},
                  {},
                  false,
                  0,
                  0,
                  0,
                  0,
                  false,
                  "the chip's erase-block regions do not add up"},
        QueryCase{"noRegions", j3Table, {{0x2C, 0x00}}, {}, false, 0, 0, 0, 0, false, "the chip's CFI table lists 0"}),
    [](const testing::TestParamInfo<QueryCase>& info) { return info.param.name; });

struct StatusCase {
    std::uint8_t value;
    bool masterLockPart;
    const char* words;
};

// The case as ctest and failures name it.
void PrintTo(const StatusCase& c, std::ostream* os) {
    *os << "status 0x" << std::hex << unsigned{c.value} << (c.masterLockPart ? " with the master lock" : "");
}

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
