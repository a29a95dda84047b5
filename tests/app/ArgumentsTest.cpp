#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "app/Arguments.h"

namespace {

struct BlocksCase {
    const char* text;
    bool valid;
    std::vector<BlockRange> ranges;
    const char* problemStart;
};

// The case as ctest and failures name it.
void PrintTo(const BlocksCase& c, std::ostream* os) {
    *os << '"' << c.text << '"';
}

class BlockLists : public testing::TestWithParam<BlocksCase> {};

TEST_P(BlockLists, AreNumbersFromOneAndRanges) {
    std::string problem;
    const auto selection = parseBlocks(GetParam().text, problem);
    ASSERT_EQ(selection.has_value(), GetParam().valid) << problem;
    if (selection) {
        EXPECT_EQ(selection->ranges, GetParam().ranges);
        EXPECT_EQ(selection->all, std::string(GetParam().text) == "all");
    } else {
        EXPECT_EQ(problem.rfind(GetParam().problemStart, 0), 0U) << problem;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, BlockLists,
    testing::Values(BlocksCase{"1", true, {{1, 1}}, ""}, BlocksCase{"1,3-5", true, {{1, 1}, {3, 5}}, ""},
                    BlocksCase{"7,2,2-3", true, {{2, 3}, {7, 7}}, ""}, BlocksCase{"5-6,1-4", true, {{1, 6}}, ""},
                    BlocksCase{"all", true, {}, ""}, BlocksCase{"131072", true, {{131072, 131072}}, ""},
                    BlocksCase{"", false, {}, "no blocks given"}, BlocksCase{"0", false, {}, "block 0 does not exist"},
                    BlocksCase{"5-3", false, {}, "the range 5-3 runs backwards"},
                    BlocksCase{"1,", false, {}, "\"1,\" is not a block list"},
                    BlocksCase{"1 2", false, {}, "\"1 2\" is not a block list"},
                    BlocksCase{"-3", false, {}, "\"-3\" is not a block list"},
                    BlocksCase{"1-2-3", false, {}, "\"1-2-3\" is not a block list"},
                    BlocksCase{"ALL", false, {}, "\"ALL\" is not a block list"},
                    BlocksCase{
                        "99999999999", false, {}, "block 99999999999 does not exist on any chip flashlock drives"},
                    BlocksCase{"1-4000000000", true, {{1, 4000000000}}, ""}));

// Thousands of overlapping ranges fold as they come, into as many ranges as
// the blocks they name, and never into millions of numbers.
TEST(BlockLists, ManyLongRangesStayOneRange) {
    std::string text = "1-131072";
    for (int i = 0; i < 5000; ++i) {
        text += ",1-131072";
    }
    std::string problem;
    const auto selection = parseBlocks(text, problem);
    ASSERT_TRUE(selection.has_value()) << problem;
    EXPECT_EQ(selection->ranges, (std::vector<BlockRange>{{1, 131072}}));
}

struct CountCase {
    const char* text;
    bool valid;
    std::uint32_t value;
};

// The case as ctest and failures name it.
void PrintTo(const CountCase& c, std::ostream* os) {
    *os << '"' << c.text << '"';
}

class ByteCounts : public testing::TestWithParam<CountCase> {};

TEST_P(ByteCounts, AreDecimalOrHexWithUnits) {
    std::string problem;
    const auto value = parseByteCount(GetParam().text, problem);
    ASSERT_EQ(value.has_value(), GetParam().valid) << problem;
    if (value) {
        EXPECT_EQ(*value, GetParam().value);
    } else {
        EXPECT_FALSE(problem.empty());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ByteCounts,
    testing::Values(CountCase{"0", true, 0}, CountCase{"4096", true, 4096}, CountCase{"0x3FFFF0", true, 0x3FFFF0},
                    CountCase{"4k", true, 4096}, CountCase{"16M", true, 16777216}, CountCase{"0x10K", true, 0x4000},
                    CountCase{"4294967295", true, 4294967295U}, CountCase{"4096M", false, 0}, CountCase{"0x", false, 0},
                    CountCase{"12b", false, 0}, CountCase{"-1", false, 0}, CountCase{"0xG", false, 0},
                    CountCase{"", false, 0}, CountCase{"4m", true, 4194304}, CountCase{"64KiB", true, 65536},
                    CountCase{"2MiB", true, 2097152}, CountCase{"1.5M", false, 0}, CountCase{"4kB", false, 0}));

TEST(BlockFormat, FoldsRuns) {
    EXPECT_EQ(formatBlocks({2, 7, 9, 10, 11, 12, 32}), "2,7,9-12,32");
    EXPECT_EQ(formatBlocks({1, 2}, ", "), "1-2");
    EXPECT_EQ(formatBlocks({}), "");
}

}  // namespace
