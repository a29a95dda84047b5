#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>

#include "driver/Zantrel4v4.h"
#include "platform/Platform.h"

namespace {

// A counter on a clock of its own, in units of 1/quantum tick: every reading
// takes a set time, the first of the process sixteen times as long, as on a
// cold counter. A reading shows the time as it began, in whole ticks.
class FakeCounter final : public platform::TickCounter {
public:
    FakeCounter(std::int64_t ticksPerSecond, std::int64_t quantum, std::int64_t cost)
        : ticksPerSecond(ticksPerSecond), quantum(quantum), cost(cost) {}
    std::int64_t frequency() override { return ticksPerSecond; }
    std::int64_t now() override {
        const std::int64_t shown = time / quantum;
        const std::int64_t taken = cold ? 16 * cost : cost;
        cold = false;
        time += taken;
        spent += taken;
        ++readings;
        return shown;
    }

    std::int64_t ticksPerSecond;
    std::int64_t quantum;
    std::int64_t cost;
    bool cold = true;
    std::int64_t time = 0;
    std::int64_t spent = 0;  // by the readings counted
    int readings = 0;
};

struct WaitCase {
    std::int64_t frequency;
    std::int64_t quantum;  // time units per tick
    std::int64_t cost;     // time units per reading
    std::uint32_t microseconds;
    int readings;  // the wait's, when it starts on a tick
};

void PrintTo(const WaitCase& c, std::ostream* os) {
    *os << c.microseconds << "us at " << c.frequency << "/s reading " << c.cost << "/" << c.quantum << " tick";
}

class WaitArithmetic : public testing::TestWithParam<WaitCase> {};

TEST_P(WaitArithmetic, LastsAtLeastTheTimeAskedWhereverItStartsInATick) {
    const WaitCase& c = GetParam();
    FakeCounter counter(c.frequency, c.quantum, c.cost);
    Zantrel4v4 driver(888, counter);
    ASSERT_EQ(counter.readings, 40) << "8 readings to warm up, then 16 pairs";
    // In time units, times a million: exact in long double for every case here.
    const long double asked = static_cast<long double>(c.microseconds) * static_cast<long double>(c.frequency) *
                              static_cast<long double>(c.quantum);
    for (std::int64_t phase = 0; phase < c.quantum; ++phase) {
        counter.time = (counter.time / c.quantum + 1) * c.quantum + phase;
        counter.readings = 0;
        counter.spent = 0;
        driver.waitMicroseconds(c.microseconds);
        EXPECT_GE(static_cast<long double>(counter.spent) * 1e6L, asked)
            << "starting " << phase << "/" << c.quantum << " into a tick";
        if (phase == 0) {
            EXPECT_EQ(counter.readings, c.readings);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Ticks, WaitArithmetic,
    testing::Values(
        // A reading costs 25 ns, the cold first one 400 ns: only a warm one is deducted.
        WaitCase{1000000000, 1, 25, 1, 41},
        // 100 ticks less one reading, and one more that two samples may straddle: 97 in steps of 4, 98 in 3.
        WaitCase{10000000, 1, 4, 10, 26}, WaitCase{10000000, 1, 3, 10, 34},
        // Readings longer than the wait: one after the start ends it.
        WaitCase{10000000, 1, 4, 0, 2}, WaitCase{1000000, 1, 5, 1, 2}, WaitCase{10000000, 1, 100, 10, 2},
        // The 2 s lock wait on a nanosecond counter read once a millisecond.
        WaitCase{1000000000, 1, 1000000, 2000000, 2001},
        // 2^62 ticks/s times 8 us is 2^65: beyond 64 bits, still waited in full.
        WaitCase{std::int64_t{1} << 62, 1, std::int64_t{1} << 40, 8, 34},
        // A 10 MHz counter read in a quarter tick: ten ticks seen may be nine and a bit.
        WaitCase{10000000, 4, 1, 1, 45},
        // 3.58 ticks a microsecond: rounded up, never down.
        WaitCase{3579545, 8, 1, 1, 41}));

}  // namespace
