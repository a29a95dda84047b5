#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>

#include "driver/Zantrel4v4.h"
#include "platform/Platform.h"

namespace {

// A counter that advances a fixed step on every reading and never waits.
class SteppingCounter final : public platform::TickCounter {
public:
    SteppingCounter(std::int64_t ticksPerSecond, std::int64_t step) : ticksPerSecond(ticksPerSecond), step(step) {}
    std::int64_t frequency() override { return ticksPerSecond; }
    std::int64_t now() override {
        ++readings;
        value += step;
        return value;
    }

    std::int64_t ticksPerSecond;
    std::int64_t step;
    std::int64_t value = 1000;
    int readings = 0;
};

struct WaitCase {
    std::int64_t frequency;
    std::int64_t step;  // also the measured cost of one reading
    std::uint32_t microseconds;
    int readingsAfterStart;
};

void PrintTo(const WaitCase& c, std::ostream* os) {
    *os << c.microseconds << "us at " << c.frequency << "/s step " << c.step;
}

class WaitArithmetic : public testing::TestWithParam<WaitCase> {};

TEST_P(WaitArithmetic, ReadsTheCounterUntilTheTicksLessOneReadingHavePassed) {
    SteppingCounter counter(GetParam().frequency, GetParam().step);
    Zantrel4v4 driver(888, counter);
    ASSERT_EQ(counter.readings, 2) << "the cost of one reading is measured once, at construction";
    counter.readings = 0;
    driver.waitMicroseconds(GetParam().microseconds);
    EXPECT_EQ(counter.readings, 1 + GetParam().readingsAfterStart);
}

INSTANTIATE_TEST_SUITE_P(Ticks, WaitArithmetic,
                         testing::Values(
                             // 10 us at 10 MHz = 100 ticks, less 4 for one reading = 96: 24 steps of 4.
                             WaitCase{10000000, 4, 10, 24},
                             // 97 ticks in steps of 3: the 33rd reading is the first at or past them.
                             WaitCase{10000000, 3, 10, 33},
                             // Zero or negative ticks: one reading after the start ends the wait.
                             WaitCase{10000000, 4, 0, 1}, WaitCase{1000000, 5, 1, 1}, WaitCase{10000000, 100, 10, 1},
                             // The whole 2 s lock wait on a nanosecond counter in steps of a millisecond,
                             // less the one reading's millisecond.
                             WaitCase{1000000000, 1000000, 2000000, 1999},
                             // The product wraps modulo 2^64: 2^62 ticks/s times 8 us is 0, then less the reading.
                             WaitCase{std::int64_t{1} << 62, 7, 8, 1}));

}  // namespace
