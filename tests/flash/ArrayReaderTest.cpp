#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "flash/ArrayReader.h"
#include "flash/FakeChip.h"
#include "flash/amd/AmdCommandSet.h"
#include "flash/intel/IntelCommandSet.h"

namespace {

using Cycles = std::vector<std::string>;

std::string read(unsigned address) {
    char text[16];
    std::snprintf(text, sizeof text, "R %06X", address);
    return text;
}

// The query command, then the table's even bytes below 0x100 by full shifts.
Cycles queryTable() {
    Cycles cycles{"W 0000AA 98"};
    for (unsigned address = 0; address < 0x100; address += 2) {
        cycles.push_back(read(address));
    }
    return cycles;
}

std::size_t counted(const Cycles& cycles, const std::string& cycle) {
    return static_cast<std::size_t>(std::count(cycles.begin(), cycles.end(), cycle));
}

struct SelfTestCase {
    const char* name;
    std::function<void(FakeChip&)> board;
    bool passes;
    // After the table: the steps tried, then read-array.
    Cycles steps;
};

// The case as ctest and failures name it.
void PrintTo(const SelfTestCase& c, std::ostream* os) {
    *os << c.name;
}

class SelfTest : public testing::TestWithParam<SelfTestCase> {};

// The J3's query answers, by byte address: its codes 0x89 and 0x16 at 0x00
// and 0x02, block 0's lock status 0x00 at 0x04, zeros up to "QRY" at
// 0x20-0x24. A 0 stepped from 0x02 lands on 0x00 at 0x04, from 0x10 on "Q";
// a 1 and a 0 from 0x00 land on 0x16 at 0x02, from 0x08 on "R" at 0x22 (not
// on "Q" at 0x20, where two 0s would).
TEST_P(SelfTest, StepsFromFullShiftsOntoBytesThatDiffer) {
    FakeChip fake;
    GetParam().board(fake);
    FlashChip chip(&fake.driver);
    IntelCommandSet commands(chip, Geometry{});
    EXPECT_EQ(addressRegisterSteps(commands), GetParam().passes);
    Cycles expected = queryTable();
    expected.insert(expected.end(), GetParam().steps.begin(), GetParam().steps.end());
    expected.emplace_back("W 000000 FF");
    EXPECT_THAT(fake.cycles(), testing::ElementsAreArray(expected));
}

INSTANTIATE_TEST_SUITE_P(
    Boards, SelfTest,
    testing::Values(SelfTestCase{"plainShiftRegister",
                                 [](FakeChip& /*fake*/) {},
                                 true,
                                 {"R 000002", "step 0", "R again", "R 000010", "step 0", "R again", "R 000000",
                                  "step 1", "step 0", "R again", "R 000008", "step 1", "step 0", "R again"}},
                    // The chip sees a new address only after 24 clocks.
                    SelfTestCase{"latchedRegister",
                                 [](FakeChip& fake) { fake.driver.latched = true; },
                                 false,
                                 {"R 000002", "step 0", "R again"}},
                    // A part older than CFI stays in read-array: erased
                    // bytes alike, no step to choose, none tried.
                    SelfTestCase{"silentTable", [](FakeChip& fake) { fake.design.answersQuery = false; }, false, {}}),
    [](const testing::TestParamInfo<SelfTestCase>& info) { return info.param.name; });

// Each set enters the query as the identification does, with no unlock.
TEST(EnterQuery, IsOneCommandInEitherSet) {
    FakeChip fake;
    FlashChip chip(&fake.driver);
    const Geometry geometry;
    IntelCommandSet(chip, geometry).enterQuery();
    AmdCommandSet(chip, geometry).enterQuery();
    EXPECT_EQ(fake.cycles(), (Cycles{"W 0000AA 98", "W 0000AA 98"}));
}

// A 4-KiB fake chip of scattered bytes: stepping is cheap to record there.
struct SmallChip {
    explicit SmallChip(bool latched) {
        fake.driver.latched = latched;
        // Multiplicative hashing: no two neighbours and no short period alike.
        for (std::uint32_t address = 0; address < size; ++address) {
            fake.array.push_back(static_cast<std::uint8_t>((address * 2654435761U) >> 24U));
        }
    }

    static constexpr std::uint32_t size = 0x1000;
    FakeChip fake{4, 0x400};
};

struct ReaderCase {
    const char* name;
    bool latched;
    bool allowed;
    bool steps;
    int fellBack;
};

// The case as ctest and failures name it.
void PrintTo(const ReaderCase& c, std::ostream* os) {
    *os << c.name;
}

class WholeRead : public testing::TestWithParam<ReaderCase> {};

// Two whole reads: the self-test runs once at most, for the first, and a
// stepping read is one full shift, then a step and a read again a byte.
TEST_P(WholeRead, GivesTheChipInAddressOrder) {
    SmallChip chip(GetParam().latched);
    FakeSession session(chip.fake);
    ASSERT_TRUE(session.found.valid()) << session.found.problem();
    int fellBack = 0;
    ArrayReader reader(*session.commands, GetParam().allowed, [&fellBack] { ++fellBack; });
    EXPECT_EQ(reader.readWhole({}, {}), chip.fake.array);
    const Cycles first = chip.fake.cycles();
    EXPECT_EQ(counted(first, "W 0000AA 98"), GetParam().allowed ? 1U : 0U);
    chip.fake.forget();
    EXPECT_EQ(reader.readWhole({}, {}), chip.fake.array);
    const Cycles second = chip.fake.cycles();
    EXPECT_EQ(counted(second, "W 0000AA 98"), 0U);
    EXPECT_EQ(counted(second, "R again"), GetParam().steps ? SmallChip::size - 1 : 0U);
    EXPECT_EQ(counted(second, "R 000000"), 1U);
    EXPECT_EQ(reader.steppingUsed(), GetParam().steps);
    EXPECT_EQ(fellBack, GetParam().fellBack);
}

INSTANTIATE_TEST_SUITE_P(Boards, WholeRead,
                         testing::Values(ReaderCase{"plainBoardSteps", false, true, true, 0},
                                         ReaderCase{"latchedBoardFallsBackOnce", true, true, false, 1},
                                         ReaderCase{"fullShiftsAsked", false, false, false, 0}),
                         [](const testing::TestParamInfo<ReaderCase>& info) { return info.param.name; });

// Stepping pays from 34/103 of the chip on: 1,352.2 bytes of 4 KiB. Either
// way the range comes in address order.
TEST(RangeRead, StepsOnlyWhereItCostsLess) {
    EXPECT_EQ(readCost::fullShiftByte, 103U);
    EXPECT_EQ(readCost::steppedByte, 34U);
    SmallChip chip(false);
    FakeSession session(chip.fake);
    ArrayReader reader(*session.commands, true);
    for (const auto& [length, steps] : {std::pair{1352U, false}, std::pair{1353U, true}}) {
        std::vector<std::uint8_t> got;
        ArrayReadCallbacks callbacks;
        callbacks.chunk = [&got](const std::uint8_t* bytes, std::size_t count) {
            got.insert(got.end(), bytes, bytes + count);
        };
        const ArrayReadResult result = reader.read(0x100, length, callbacks);
        EXPECT_EQ(result.stepped, steps) << length;
        EXPECT_EQ(result.total, steps ? SmallChip::size : length);
        EXPECT_EQ(result.handedOn, length);
        EXPECT_TRUE(std::equal(got.begin(), got.end(), chip.fake.array.begin() + 0x100,
                               chip.fake.array.begin() + 0x100 + length));
        EXPECT_EQ(got.size(), length);
    }
}

}  // namespace
