#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>

#include "driver/ProgrammerDriver.h"

namespace {

struct LineChangeCase {
    std::uint8_t before;
    LineChange change;
    std::uint8_t after;
};

void PrintTo(const LineChangeCase& c, std::ostream* os) {
    *os << std::hex << unsigned{c.before} << " with " << c.change;
}

class LineChangeRule : public testing::TestWithParam<LineChangeCase> {};

TEST_P(LineChangeRule, ClearsHighByteThenSetsLowByte) {
    const LineChangeCase& c = GetParam();
    EXPECT_EQ(applyLineChange(c.before, c.change), c.after);
}

INSTANTIATE_TEST_SUITE_P(Examples, LineChangeRule,
                         testing::Values(LineChangeCase{0x09, 0x0004, 0x0D},    // set bit 2
                                         LineChangeCase{0x0D, 0x0400, 0x09},    // clear bit 2
                                         LineChangeCase{0x0E, 0x0209, 0x0D},    // clear 1, set 0 and 3
                                         LineChangeCase{0xFF, 0x0300, 0xFC},    // clear bits 0 and 1
                                         LineChangeCase{0x5A, 0xFFA5, 0xA5},    // whole byte
                                         LineChangeCase{0x00, 0xFF00, 0x00},    // whole byte zero
                                         LineChangeCase{0x00, 0x0404, 0x04},    // both bytes: set wins
                                         LineChangeCase{0x04, 0x0404, 0x04},    // both bytes, already set
                                         LineChangeCase{0x37, 0x0000, 0x37}));  // no change

}  // namespace
