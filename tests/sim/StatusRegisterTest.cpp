// The chip's status register, its busy time and the faults a bench can put on
// it, driven with the command sequences of the program's lock commands: clear
// status, set or clear, poll until SR.7, then the lock map in identifier mode.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "SimulatedPort.h"
#include "iolib/sim/Config.h"
#include "tests/TempFolder.h"

namespace {

using testing::ElementsAreArray;
using testing::HasSubstr;
using testing::IsEmpty;

constexpr std::uint8_t clearStatus = 0x50;
constexpr std::uint8_t readStatus = 0x70;
constexpr std::uint8_t lockSetup = 0x60;
constexpr std::uint8_t setConfirm = 0x01;
constexpr std::uint8_t clearConfirm = 0xD0;
constexpr std::uint8_t identifier = 0x90;
constexpr std::uint8_t readArray = 0xFF;
constexpr std::uint32_t blockSize = 0x20000;

// The lock map as the program reads it: identifier mode, block base + 4.
std::vector<std::uint32_t> lockedBlocks(FlashChip& flash, std::uint32_t blocks) {
    std::vector<std::uint32_t> locked;
    flash.writeAt(0, identifier);
    for (std::uint32_t block = 0; block < blocks; ++block) {
        if (flash.readAt(block * blockSize + 4) == 0x01) {
            locked.push_back(block);
        }
    }
    return locked;
}

// Polls as the program will: reads in read-status mode until SR.7, with a
// bound so that a chip that never gets ready fails the test instead of
// hanging it.
std::uint8_t pollReady(FlashChip& flash) {
    std::uint8_t status = flash.readAt(0);
    for (int polls = 0; (status & 0x80U) == 0 && polls < 100000; ++polls) {
        status = flash.readAt(0);
    }
    return status;
}

struct LockCase {
    const char* name;
    Variables variables;
    const char* lockedBefore;  // the state file's locked line
    bool set;                  // set the lock bit of `block`, or clear all
    std::uint32_t block;
    std::uint8_t status;  // after the command, polled until ready
    std::vector<std::uint32_t> lockedAfter;
    std::uint8_t masterLockByte;  // identifier bytes 6 and 7
    const char* logged;           // what the log says of the command
};

void PrintTo(const LockCase& c, std::ostream* os) {
    *os << c.name;
}

class LockCommand : public testing::TestWithParam<LockCase> {};

TEST_P(LockCommand, AnswersInTheStatusRegisterAndTheLockMap) {
    const LockCase& c = GetParam();
    TempFolder folder;
    Variables variables = c.variables;
    variables.try_emplace("FLASHLOCK_SIM_CHIP", "28F320J3");
    variables["FLASHLOCK_SIM_STATE"] = folder.file("state.txt");
    variables["FLASHLOCK_SIM_LOG"] = folder.file("bus.log");
    writeFile(folder.file("state.txt"),
              "flashlock-sim-state 1\nchip " + variables["FLASHLOCK_SIM_CHIP"] + "\nlocked " + c.lockedBefore + "\n");
    std::uint32_t blocks = 0;
    {
        Session session(variables);
        ASSERT_TRUE(session.under.sim.usable()) << session.under.messages.str();
        FlashChip& flash = session.flash;
        blocks = session.chip().model().blockCount;

        flash.beginAccess();
        flash.writeAt(0, clearStatus);
        flash.writeAt(c.block * blockSize, lockSetup);
        flash.writeAt(c.block * blockSize, c.set ? setConfirm : clearConfirm);
        // The chip answers with its status register from the confirm on; a
        // read-status command now could meet it still busy.
        EXPECT_EQ(pollReady(flash), c.status);
        flash.writeAt(0, clearStatus);
        flash.writeAt(0, readStatus);
        EXPECT_EQ(flash.readAt(0), 0x80) << "0x50 clears the error bits and leaves SR.7";
        EXPECT_THAT(lockedBlocks(flash, blocks), ElementsAreArray(c.lockedAfter));
        EXPECT_EQ(flash.readAt(6), c.masterLockByte);
        EXPECT_EQ(flash.readAt(7), c.masterLockByte);
        flash.writeAt(0, readArray);
        flash.endAccess();

        EXPECT_THAT(session.faults(), IsEmpty()) << "a refused command is the chip's answer, not the program's fault";
        EXPECT_THAT(readFile(folder.file("bus.log")), HasSubstr(c.logged));
    }
    // What the chip did is what the next run finds.
    Session next{{"FLASHLOCK_SIM_CHIP", variables["FLASHLOCK_SIM_CHIP"]},
                 {"FLASHLOCK_SIM_STATE", folder.file("state.txt")}};
    next.flash.beginAccess();
    EXPECT_THAT(lockedBlocks(next.flash, blocks), ElementsAreArray(c.lockedAfter));
}

using Blocks = std::vector<std::uint32_t>;

INSTANTIATE_TEST_SUITE_P(
    StatusAndFaults, LockCommand,
    testing::Values(
        LockCase{"set", {}, "", true, 3, 0x80, Blocks{3}, 0x00, "set lock bit of block 3: done"},
        LockCase{"clear", {}, "0 5 31", false, 0, 0x80, Blocks{}, 0x00, "clear all lock bits: done"},
        LockCase{"setTakesItsTime",
                 {{"FLASHLOCK_SIM_BUSY", "300"}},
                 "",
                 true,
                 31,
                 0x80,
                 Blocks{31},
                 0x00,
                 "busy for 300 us"},
        LockCase{"setVpenLow",
                 {{"FLASHLOCK_SIM_VPEN", "low"}},
                 "5",
                 true,
                 3,
                 0x98,
                 Blocks{5},
                 0x00,
                 "set lock bit of block 3: refused, VPEN is low; nothing changed (status 0x98, SR.4, SR.3)"},
        LockCase{"clearVpenLow",
                 {{"FLASHLOCK_SIM_VPEN", "LOW"}},
                 "5",
                 false,
                 0,
                 0xA8,
                 Blocks{5},
                 0x00,
                 "clear all lock bits: refused, VPEN is low; nothing changed (status 0xA8, SR.5, SR.3)"},
        LockCase{"clearStuckBlock",
                 {{"FLASHLOCK_SIM_STUCK_BLOCK", "5"}},
                 "0 5 31",
                 false,
                 0,
                 0x80,
                 Blocks{5},
                 0x00,
                 "but block 5 keeps its lock bit"},
        LockCase{"setStuckBlock", {{"FLASHLOCK_SIM_STUCK_BLOCK", "5"}}, "", true, 5, 0x80, Blocks{5}, 0x00, "done"},
        LockCase{"setMasterLocked",
                 {{"FLASHLOCK_SIM_CHIP", "28F320J5"}, {"FLASHLOCK_SIM_MASTER_LOCK", "set"}},
                 "1",
                 true,
                 2,
                 0x92,
                 Blocks{1},
                 0x01,
                 "refused, the master lock bit is set; nothing changed (status 0x92, SR.4, SR.1)"},
        LockCase{"clearMasterLocked",
                 {{"FLASHLOCK_SIM_CHIP", "28F640J5"}, {"FLASHLOCK_SIM_MASTER_LOCK", "Set"}},
                 "1 63",
                 false,
                 0,
                 0xA2,
                 Blocks{1, 63},
                 0x01,
                 "status 0xA2, SR.5, SR.1"},
        LockCase{"clearJ5Unlocked",
                 {{"FLASHLOCK_SIM_CHIP", "28F640J5"}, {"FLASHLOCK_SIM_MASTER_LOCK", "clear"}},
                 "1 63",
                 false,
                 0,
                 0x80,
                 Blocks{},
                 0x00,
                 "clear all lock bits: done"}),
    [](const testing::TestParamInfo<LockCase>& info) { return info.param.name; });

// A long busy time: SR.7 reads 0 right after the confirm, in any mode, and
// every command until ready is a fault that changes nothing.
TEST(BusyChip, ReadsItsStatusWithBit7ClearAndRefusesCommands) {
    Session session{{"FLASHLOCK_SIM_BUSY", "600000000"}};
    FlashChip& flash = session.flash;
    flash.beginAccess();
    flash.writeAt(0, lockSetup);
    flash.writeAt(0, setConfirm);
    EXPECT_EQ(flash.readAt(0), 0x00);
    flash.writeAt(0, identifier);
    EXPECT_EQ(flash.readAt(0), 0x00) << "still the status register: the command was dropped";
    EXPECT_EQ(flash.readAt(4), 0x00);
    ASSERT_EQ(session.faults().size(), 1U);
    EXPECT_THAT(session.faults()[0], HasSubstr("write 0x000000 <- 0x90  command while the chip is busy"));
    EXPECT_EQ(session.intelChip().statusRegister(), 0x00);
    EXPECT_TRUE(session.chip().isLocked(0));
}

TEST(BusyChip, TypicalTimesAreTheDefaultAndNoneIsReadyAtOnce) {
    const auto times = [](const char* value) {
        const flashsim::ConfigResult result =
            flashsim::readConfig([value](const char* name) -> std::optional<std::string> {
                return std::string(name) == "FLASHLOCK_SIM_BUSY" ? std::optional<std::string>(value) : std::nullopt;
            });
        EXPECT_THAT(result.errors, IsEmpty());
        return std::pair(result.config.chipSettings.setLockBitTime.count(),
                         result.config.chipSettings.clearLockBitsTime.count());
    };
    EXPECT_EQ(times(""),
              std::pair(flashsim::typicalSetLockBitTime.count(), flashsim::typicalClearLockBitsTime.count()));
    EXPECT_EQ(times("Typical"), times(""));
    EXPECT_EQ(times("none"), std::pair(std::int64_t{0}, std::int64_t{0}));
    EXPECT_EQ(times("2500"), std::pair(std::int64_t{2500}, std::int64_t{2500}));

    Session session{{"FLASHLOCK_SIM_BUSY", "none"}};
    session.flash.beginAccess();
    session.flash.writeAt(0, lockSetup);
    session.flash.writeAt(0, clearConfirm);
    EXPECT_EQ(session.flash.readAt(0), 0x80);
}

}  // namespace
