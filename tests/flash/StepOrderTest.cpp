#include <gtest/gtest.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "flash/StepOrder.h"

namespace {

class StepOrderWidths : public testing::TestWithParam<int> {};

// Walked as the board's register moves: each next address is the last one
// shifted left with the clocked bit coming in lowest, masked to the width.
TEST_P(StepOrderWidths, VisitsEveryAddressExactlyOnce) {
    const auto bits = static_cast<std::uint8_t>(GetParam());
    const StepOrder order(bits);
    const std::uint32_t mask = (std::uint32_t{1} << bits) - 1U;
    ASSERT_EQ(order.count(), mask + 1);
    // A bit per address; 16 million of them for 24 bits, walked unoptimised.
    std::vector<std::uint64_t> seen((order.count() + 63) / 64, 0);
    std::uint64_t* const bitmap = seen.data();
    std::uint32_t address = StepOrder::first();
    for (std::uint32_t visited = 0; visited < order.count(); ++visited) {
        const std::uint64_t bit = std::uint64_t{1} << (address % 64U);
        if ((bitmap[address / 64U] & bit) != 0) {
            FAIL() << "address " << address << " again after " << visited << " steps";
        }
        bitmap[address / 64U] |= bit;
        address = ((address << 1U) | (order.bitAfter(address) ? 1U : 0U)) & mask;
    }
}

INSTANTIATE_TEST_SUITE_P(Bits, StepOrderWidths, testing::Range(1, 25),
                         [](const testing::TestParamInfo<int>& info) { return std::to_string(info.param) + "bits"; });

TEST(StepOrder, TakesOnlyTheRegistersWidths) {
    const auto addresses = [](std::uint8_t bits) { return StepOrder(bits).count(); };
    EXPECT_THROW(addresses(0), std::invalid_argument);
    EXPECT_THROW(addresses(25), std::invalid_argument);
}

}  // namespace
