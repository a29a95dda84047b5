#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>

#include "SimulatedPort.h"
#include "iolib/sim/StateFile.h"
#include "tests/TempFolder.h"

namespace {

using flashsim::Chip;
using flashsim::findChip;

TEST(StateFile, TextRoundTripKeepsLocksAndContent) {
    Chip chip(*findChip("28F128J3"));
    for (const std::uint32_t block : {0U, 5U, 127U}) {
        chip.setLocked(block, true);
    }
    chip.loadArray(0x10, {0x48, 0x69, 0x00});
    chip.loadArray(0xFFFFFE, {0x12, 0x34});
    const std::string text = formatState(chip);
    EXPECT_EQ(text,
              "flashlock-sim-state 1\n"
              "# The simulated chip's lock bits and array content; rewritten after every change.\n"
              "chip 28F128J3\n"
              "locked 0 5 127\n"
              "array 000010 48 69 00 FF FF FF FF FF FF FF FF FF FF FF FF FF\n"
              "array FFFFF0 FF FF FF FF FF FF FF FF FF FF FF FF FF FF 12 34\n");

    Chip copy(*findChip("1889"));
    std::istringstream in(text);
    EXPECT_EQ(parseState(in, copy), std::nullopt);
    EXPECT_EQ(copy.array(), chip.array());
    EXPECT_EQ(formatState(copy), text);
}

// The lock status as the program reads it, blocks [1] to [16] as 0 and 1.
std::string lockColumn(Session& session) {
    session.console.str("");
    session.flash.queryBlockLocks();
    std::string column;
    std::istringstream in(session.console.str());
    for (std::string line; std::getline(in, line);) {
        if (line.rfind('[', 0) == 0) {
            column += line.substr(line.size() - 3, 2) == "01" ? '1' : '0';
        }
    }
    return column;
}

// Each process of the program is one simulator: a lock set in one shows in the
// next, a clear in the next shows in the one after.
TEST(StateFile, LocksOutliveTheProcessAndTheFileIsRewrittenAfterEachChange) {
    TempFolder folder;
    const std::string state = folder.file("state.txt");
    {
        Session first{{"FLASHLOCK_SIM_STATE", state}};
        EXPECT_FALSE(std::filesystem::exists(state)) << "nothing changed yet";
        first.flash.setBlockLockBit();
        EXPECT_THAT(readFile(state), testing::HasSubstr("\nlocked 0\n"));
    }
    {
        Session second{{"FLASHLOCK_SIM_STATE", state}};
        EXPECT_EQ(lockColumn(second), "1000000000000000");
        second.flash.clearAllLockBits();
        EXPECT_THAT(readFile(state), testing::Not(testing::HasSubstr("locked")));
    }
    Session third{{"FLASHLOCK_SIM_STATE", state}};
    EXPECT_EQ(lockColumn(third), "0000000000000000");
    EXPECT_THAT(third.faults(), testing::IsEmpty());
    EXPECT_FALSE(std::filesystem::exists(state + ".tmp"));
}

// The new text goes to a temporary file that is then renamed: when that file
// cannot be written, the old state stays whole.
TEST(StateFile, AFailedSaveLeavesTheOldFileWhole) {
    TempFolder folder;
    const std::string state = folder.file("state.txt");
    const std::string before = "flashlock-sim-state 1\nchip 28F320J3\nlocked 7\n";
    writeFile(state, before);
    std::filesystem::create_directory(state + ".tmp");

    Session session{{"FLASHLOCK_SIM_STATE", state}};
    ASSERT_TRUE(session.under.sim.usable());
    session.flash.setBlockLockBit();
    EXPECT_EQ(readFile(state), before);
    ASSERT_EQ(session.faults().size(), 1U);
    EXPECT_THAT(session.faults()[0], testing::HasSubstr("the change is kept for this run only"));
    EXPECT_THAT(session.under.messages.str(),
                testing::StartsWith("flashlock simulator: FLASHLOCK_SIM_STATE=\"" + state));
    EXPECT_EQ(lockColumn(session), "1000000100000000") << "the chip itself did lock";
}

TEST(StateFile, SaveReplacesAnExistingFile) {
    TempFolder folder;
    const std::string state = folder.file("state.txt");
    writeFile(state, "old");
    Chip chip(*findChip("empty"));
    EXPECT_EQ(flashsim::saveStateFile(state, chip), std::nullopt);
    EXPECT_EQ(readFile(state),
              "flashlock-sim-state 1\n"
              "# The simulated chip's lock bits and array content; rewritten after every change.\n"
              "chip empty\n");
    EXPECT_FALSE(std::filesystem::exists(state + ".tmp"));
}

}  // namespace
