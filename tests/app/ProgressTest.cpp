#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>

#include "app/Progress.h"

namespace {

// Ticks in microseconds, moved by the test.
class ManualClock final : public platform::TickCounter {
public:
    std::int64_t frequency() override { return 1000000; }
    std::int64_t now() override { return ticks; }
    void setMicroseconds(std::int64_t value) { ticks = value; }
    void advance() { ++ticks; }

private:
    std::int64_t ticks = 0;
};

TEST(ProgressLine, RedrawsAtMostTenTimesASecondAndErasesItself) {
    ManualClock clock;
    std::ostringstream terminal;
    constexpr std::uint32_t step = 41943;
    ProgressLine line(terminal, true, clock, 100 * step);
    // 100 updates within one second: ten redraws.
    for (std::uint32_t update = 0; update < 100; ++update) {
        clock.setMicroseconds(std::int64_t{update} * 10000);
        line.update(update * step);
    }
    const std::string drawn = terminal.str();
    EXPECT_EQ(std::count(drawn.begin(), drawn.end(), '\r'), 10);
    EXPECT_NE(drawn.find("\r 50%  2.0 MiB of 4.0 MiB  4.0 MiB/s  0.5 s left"), std::string::npos) << drawn;
    // The last state is always drawn, however soon after the one before.
    clock.advance();
    line.update(100 * step);
    EXPECT_NE(terminal.str().rfind("\r100%  4.0 MiB of 4.0 MiB"), std::string::npos) << terminal.str();
    const std::size_t before = terminal.str().size();
    line.finish();
    const std::string erased = terminal.str().substr(before);
    EXPECT_EQ(erased.front(), '\r');
    EXPECT_EQ(erased.back(), '\r');
    EXPECT_EQ(erased.find_first_not_of(" \r"), std::string::npos);
}

TEST(ProgressLine, ShowsNothingWhenNotAsked) {
    ManualClock clock;
    std::ostringstream terminal;
    ProgressLine line(terminal, false, clock, 100);
    line.update(50);
    line.finish();
    EXPECT_EQ(terminal.str(), "");
}

TEST(HumanUnits, ReadAsAPersonWould) {
    EXPECT_EQ(humanBytes(512), "512 bytes");
    EXPECT_EQ(humanBytes(131072), "128 KiB");
    EXPECT_EQ(humanBytes(1536), "1.5 KiB");
    EXPECT_EQ(humanBytes(16777216), "16 MiB");
    EXPECT_EQ(humanDuration(3.44), "3.4 s");
    EXPECT_EQ(humanDuration(432), "7m12s");
}

}  // namespace
