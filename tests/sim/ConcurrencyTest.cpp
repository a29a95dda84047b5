// Runs that share one state file take turns: the second waits for the first,
// says so once, and gives up after a bound with a line that says what to do.
// Two simulators in one process conflict as two processes do, so the turns
// can be tested here; tests/sim/ConcurrentRuns.sh runs real processes.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "SimulatedPort.h"
#include "platform/FileLock.h"
#include "tests/TempFolder.h"

namespace {

using platform::FileLock;
using testing::HasSubstr;

constexpr std::chrono::milliseconds shortWait{100};

TEST(FileLock, OneHolderAtATimeAndOnlyOnRegularFiles) {
    TempFolder folder;
    const std::filesystem::path path = folder.path / "x.lock";
    FileLock first;
    FileLock second;
    EXPECT_EQ(first.tryLock(path), FileLock::Outcome::Locked);
    EXPECT_EQ(second.tryLock(path), FileLock::Outcome::Busy);
    int waits = 0;
    EXPECT_EQ(second.lockWithin(path, shortWait, [&waits] { ++waits; }), FileLock::Outcome::Busy);
    EXPECT_EQ(waits, 1);
    first.unlock();
    EXPECT_EQ(second.lockWithin(path, shortWait, [&waits] { ++waits; }), FileLock::Outcome::Locked);
    EXPECT_EQ(waits, 1) << "no wait, no message";

    FileLock moved(std::move(second));
    EXPECT_TRUE(moved.locked());
    EXPECT_EQ(first.tryLock(path), FileLock::Outcome::Busy) << "the lock moved with the object";

    EXPECT_EQ(first.tryLock(folder.path), FileLock::Outcome::Failed);
    EXPECT_FALSE(first.problem().empty());
    EXPECT_EQ(first.tryLock(folder.path / "missing" / "x.lock"), FileLock::Outcome::Failed);
}

TEST(SharedStateFile, ASecondRunWaitsThenGivesUpWithAClearLine) {
    TempFolder folder;
    const std::string state = folder.file("state.txt");
    Session first{{"FLASHLOCK_SIM_STATE", state}};
    ASSERT_TRUE(first.under.sim.usable());
    SimUnderTest second({{"FLASHLOCK_SIM_STATE", state}}, shortWait);
    EXPECT_EQ(second.messages.str(),
              "flashlock simulator: waiting for another run that uses FLASHLOCK_SIM_STATE=\"" + state +
                  "\" to end (at most 0.1 s)\n"
                  "flashlock simulator: FLASHLOCK_SIM_STATE=\"" +
                  state +
                  "\" is still in use by another run after 0.1 s; let that run end first, or give this run a state "
                  "file of its own; the simulated port is not usable: port writes do nothing and no board answers "
                  "the probe\n");
    EXPECT_FALSE(second.sim.usable());
}

// Each run loads the state only once it holds the file, so it starts from the
// last run's changes and none is lost.
TEST(SharedStateFile, TheNextRunStartsFromTheLastRunsChanges) {
    TempFolder folder;
    const std::string state = folder.file("state.txt");
    {
        Session first{{"FLASHLOCK_SIM_STATE", state}};
        first.dialogue.setBlockLockBit();
    }
    Session second{{"FLASHLOCK_SIM_STATE", state}};
    EXPECT_EQ(second.under.messages.str(), "") << "nobody held the file any more";
    EXPECT_TRUE(second.chip().isLocked(0));
    second.dialogue.clearAllLockBits();
    EXPECT_THAT(readFile(state), testing::Not(HasSubstr("locked")));
}

}  // namespace
