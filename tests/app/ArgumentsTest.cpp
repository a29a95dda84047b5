#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/Arguments.h"

namespace {

struct BlocksCase {
    const char* text;
    bool valid;
    std::vector<std::uint32_t> numbers;
    const char* problemStart;
};

class BlockLists : public testing::TestWithParam<BlocksCase> {};

TEST_P(BlockLists, AreNumbersFromOneAndRanges) {
    std::string problem;
    const auto selection = parseBlocks(GetParam().text, problem);
    ASSERT_EQ(selection.has_value(), GetParam().valid) << problem;
    if (selection) {
        EXPECT_EQ(selection->numbers, GetParam().numbers);
        EXPECT_EQ(selection->all, std::string(GetParam().text) == "all");
    } else {
        EXPECT_EQ(problem.rfind(GetParam().problemStart, 0), 0U) << problem;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, BlockLists,
    testing::Values(BlocksCase{"1", true, {1}, ""}, BlocksCase{"1,3-5", true, {1, 3, 4, 5}, ""},
                    BlocksCase{"7,2,2-3", true, {2, 3, 7}, ""}, BlocksCase{"all", true, {}, ""},
                    BlocksCase{"128", true, {128}, ""}, BlocksCase{"", false, {}, "no blocks given"},
                    BlocksCase{"0", false, {}, "block 0 does not exist"},
                    BlocksCase{"5-3", false, {}, "the range 5-3 runs backwards"},
                    BlocksCase{"1,", false, {}, "\"1,\" is not a block list"},
                    BlocksCase{"1 2", false, {}, "\"1 2\" is not a block list"},
                    BlocksCase{"-3", false, {}, "\"-3\" is not a block list"},
                    BlocksCase{"1-2-3", false, {}, "\"1-2-3\" is not a block list"},
                    BlocksCase{"ALL", false, {}, "\"ALL\" is not a block list"},
                    BlocksCase{"99999999999", false, {}, "\"99999999999\" is not a block list"},
                    BlocksCase{"1-4000000000", false, {}, "the range 1-4000000000 is longer than any chip"}));

struct CountCase {
    const char* text;
    bool valid;
    std::uint32_t value;
};

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

INSTANTIATE_TEST_SUITE_P(Texts, ByteCounts,
                         testing::Values(CountCase{"0", true, 0}, CountCase{"4096", true, 4096},
                                         CountCase{"0x3FFFF0", true, 0x3FFFF0}, CountCase{"4k", true, 4096},
                                         CountCase{"16M", true, 16777216}, CountCase{"0x10K", true, 0x4000},
                                         CountCase{"4294967295", true, 4294967295U}, CountCase{"4096M", false, 0},
                                         CountCase{"0x", false, 0}, CountCase{"12b", false, 0},
                                         CountCase{"-1", false, 0}, CountCase{"0xG", false, 0}, CountCase{"", false, 0},
                                         CountCase{"4m", false, 0}));

TEST(BlockFormat, FoldsRuns) {
    EXPECT_EQ(formatBlocks({2, 7, 9, 10, 11, 12, 32}), "2,7,9-12,32");
    EXPECT_EQ(formatBlocks({1, 2}, ", "), "1-2");
    EXPECT_EQ(formatBlocks({}), "");
}

}  // namespace
