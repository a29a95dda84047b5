#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "flash/FakeChip.h"
#include "flash/LockMap.h"
#include "flash/intel/IntelCommandSet.h"

namespace {

using Cycles = std::vector<std::string>;

Cycles operator+(Cycles a, const Cycles& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::string hex6(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "%06X", value);
    return text;
}

// A lock command on the block at `base`, answered ready at the first poll.
Cycles command(unsigned base, const char* confirm) {
    return {"W 000000 50", "W " + hex6(base) + " 60", "W " + hex6(base) + " " + confirm, "R again"};
}

// The whole map re-read in identifier mode, back to read-array.
Cycles readMap(unsigned blocks) {
    Cycles cycles{"W 000000 90"};
    for (unsigned block = 0; block < blocks; ++block) {
        cycles.push_back("R " + hex6(block * 0x20000 + 4));
    }
    cycles.emplace_back("W 000000 FF");
    return cycles;
}

struct Transaction {
    const char* name;
    std::function<void(FakeChip&)> setUp;
    LockState before;
    bool unlock;
    LockState named;
    Cycles expected;
    LockState after;
    std::vector<std::uint8_t> failedStatus;
};

// The case as ctest and failures name it.
void PrintTo(const Transaction& c, std::ostream* os) {
    *os << c.name;
}

class LockTransaction : public testing::TestWithParam<Transaction> {};

TEST_P(LockTransaction, WritesExactlyTheseCyclesAndReadsTheMapBack) {
    const Transaction& t = GetParam();
    FakeChip fake(t.before.size());
    fake.locks = t.before;
    t.setUp(fake);
    FakeSession session(fake);
    ASSERT_TRUE(session.found.valid()) << session.found.problem();
    LockMap map(*session.commands);
    ASSERT_EQ(map.read(), t.before);
    fake.forget();

    const LockOutcome outcome = t.unlock ? map.unlock(t.before, t.named) : map.lock(t.before, t.named);

    EXPECT_THAT(fake.cycles(), testing::ElementsAreArray(t.expected));
    EXPECT_EQ(outcome.after, t.after);
    for (std::uint32_t block = 0; block < t.after.size(); ++block) {
        EXPECT_EQ(fake.chip().isLocked(block), t.after[block]) << "the chip's own lock bit of block " << block;
    }
    EXPECT_EQ(outcome.verified(), t.failedStatus.empty() && t.after == outcome.intended);
    std::vector<std::uint8_t> statuses;
    for (const LockStepFailure& failure : outcome.failures) {
        statuses.push_back(failure.step.status);
    }
    EXPECT_EQ(statuses, t.failedStatus);
}

const auto plain = [](FakeChip& /*chip*/) {};
const auto lowVpen = [](FakeChip& c) { c.settings.vpenLow = true; };

INSTANTIATE_TEST_SUITE_P(
    Sequences, LockTransaction,
    testing::Values(
        Transaction{"lockOne",
                    plain,
                    {false, false, false, false},
                    false,
                    {false, true, false, false},
                    command(0x20000, "01") + readMap(4),
                    {false, true, false, false},
                    {}},
        Transaction{"lockSkipsLockedBlocks",
                    plain,
                    {true, false, false, true},
                    false,
                    {true, true, false, true},
                    command(0x20000, "01") + readMap(4),
                    {true, true, false, true},
                    {}},
        Transaction{
            "lockPollsUntilReady",
            [](FakeChip& c) { c.settings.busyReads = 2; },
            {false, false},
            false,
            {true, false},
            Cycles{"W 000000 50", "W 000000 60", "W 000000 01", "R again", "wait 10", "R again", "wait 10", "R again"} +
                readMap(2),
            {true, false},
            {}},
        Transaction{"unlockClearsAllThenRelocksTheOthersInOrder",
                    plain,
                    {true, true, false, true},
                    true,
                    {false, true, false, false},
                    command(0, "D0") + command(0, "01") + command(0x60000, "01") + readMap(4),
                    {true, false, false, true},
                    {}},
        Transaction{"unlockPerBlockWhereTheChipCan",
                    [](FakeChip& c) { c.design.features = 0x2A; },
                    {true, true, false, true},
                    true,
                    {false, true, false, true},
                    command(0x20000, "D0") + command(0x60000, "D0") + readMap(4),
                    {true, false, false, false},
                    {}},
        Transaction{"unlockRefusedForLowVpenRelocksNothing",
                    lowVpen,
                    {true, true, false, false},
                    true,
                    {false, true, false, false},
                    command(0, "D0") + Cycles{"W 000000 50"} + readMap(4),
                    {true, true, false, false},
                    {0xA8}},
        Transaction{
            "lockRefusedGoesOnWithTheNext",
            lowVpen,
            {false, false},
            false,
            {true, true},
            command(0, "01") + Cycles{"W 000000 50"} + command(0x20000, "01") + Cycles{"W 000000 50"} + readMap(2),
            {false, false},
            {0x98, 0x98}},
        Transaction{
            "lockOfLockedBlocksWritesNothing", plain, {true, false}, false, {true, false}, {}, {true, false}, {}},
        Transaction{
            "unlockOfUnlockedBlocksWritesNothing", plain, {true, false}, true, {false, true}, {}, {true, false}, {}},
        // The chip takes the clear without an error, so it is tried once more
        // before the block is called stuck.
        Transaction{"unlockOfAStuckBlockIsTriedTwice",
                    [](FakeChip& c) { c.settings.stuckBlock = 2; },
                    {false, true, true, false},
                    true,
                    {false, true, true, false},
                    command(0, "D0") + readMap(4) + command(0, "D0") + readMap(4),
                    {false, false, true, false},
                    {}}),
    [](const testing::TestParamInfo<Transaction>& info) { return info.param.name; });

// A chip far past its deadline that finishes after all is not left for
// busy: the job stops there, and the map is read back for the report.
TEST(LockTransactionDeadline, WatchesALateChipThenReadsTheMap) {
    FakeChip fake(2);
    fake.settings.busyReads =
        static_cast<int>(intelTiming::setDeadlineMicroseconds / intelTiming::setPollMicroseconds) + 50;
    FakeSession session(fake);
    LockMap map(*session.commands);

    const LockOutcome outcome = map.lock({false, false}, {true, true});

    const Cycles cycles = fake.cycles();
    EXPECT_EQ(std::count(cycles.begin(), cycles.end(), "W 020000 01"), 0) << "no command after the late one";
    const Cycles map2 = readMap(2);
    ASSERT_GE(cycles.size(), map2.size());
    EXPECT_EQ(Cycles(cycles.end() - static_cast<std::ptrdiff_t>(map2.size()), cycles.end()), map2);
    ASSERT_EQ(outcome.failures.size(), 1U);
    EXPECT_TRUE(outcome.failures[0].step.timedOut);
    EXPECT_TRUE(outcome.failures[0].step.finishedLate);
    EXPECT_FALSE(map.chipBusy());
    EXPECT_EQ(outcome.after, (LockState{true, false}));
}

TEST(LockTransactionDeadline, GivesUpOnABusyChipAndWritesNothingMore) {
    FakeChip fake(2);
    fake.settings.busyReads = -1;
    FakeSession session(fake);
    LockMap map(*session.commands);

    const LockOutcome outcome = map.unlock({true, false}, {true, false});

    const Cycles cycles = fake.cycles();
    const auto polls = std::count(cycles.begin(), cycles.end(), "R again");
    const auto waits = std::count(cycles.begin(), cycles.end(), "wait 1000");
    // The deadline, then the time a late chip is given to show it only was slow.
    EXPECT_EQ(polls, (intelTiming::clearDeadlineMicroseconds + intelTiming::lateMicroseconds) /
                             intelTiming::clearPollMicroseconds +
                         1);
    EXPECT_EQ(waits, polls - 1);
    EXPECT_EQ(cycles.back(), "R again");
    ASSERT_EQ(outcome.failures.size(), 1U);
    EXPECT_TRUE(outcome.failures[0].step.timedOut);
    EXPECT_TRUE(map.chipBusy());
    EXPECT_TRUE(outcome.after.empty());
    EXPECT_FALSE(outcome.verified());
}

// Read from the chip on every Intel-set part, not taken from its name: parts
// without a master lock read 0 there.
TEST(MasterLock, IsReadAtIdentifierByteSix) {
    for (const bool set : {false, true}) {
        FakeChip fake(2);
        fake.settings.masterLocked = set;
        FakeSession session(fake);
        LockMap map(*session.commands);
        EXPECT_EQ(map.masterLockSet(), set);
        EXPECT_EQ(fake.cycles(), Cycles({"W 000000 90", "R 000006", "W 000000 FF"}));
    }
}

}  // namespace
