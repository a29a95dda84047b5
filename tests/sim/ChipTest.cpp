#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <iomanip>
#include <sstream>
#include <string>
#include <vector>

#include "SimulatedPort.h"
#include "iolib/sim/Chip.h"

namespace {

using flashsim::ChipMode;
using flashsim::findChip;
using flashsim::IntelChip;

// Lock commands that end at once: these cases are about what the commands do.
flashsim::ChipSettings readyAtOnce() {
    flashsim::ChipSettings settings;
    settings.setLockBitTime = settings.clearLockBitsTime = std::chrono::microseconds(0);
    return settings;
}

// What the datasheets give for each part, written out here independently of
// the model's tables.
struct PartCase {
    const char* chip;  // as configured
    std::uint16_t id;
    const char* vccRange;    // query offsets 0x1B, 0x1C
    const char* sizeCode;    // 0x27
    const char* lastBlock;   // 0x2D: blocks - 1
    const char* vccOptimum;  // 0x3D
    std::uint32_t blocks;
};

void PrintTo(const PartCase& c, std::ostream* os) {
    *os << c.chip;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        result.push_back(line);
    }
    return result;
}

class Part : public testing::TestWithParam<PartCase> {};

TEST_P(Part, AnswersItsCodesAndQueryTableThroughTheProgramsSequences) {
    const PartCase& part = GetParam();
    Session session{{"FLASHLOCK_SIM_CHIP", part.chip}};
    EXPECT_EQ(session.dialogue.readDeviceId(), part.id);
    session.dialogue.dumpCfiQuery();
    std::ostringstream row0;
    row0 << "0x00: " << std::hex << std::uppercase << std::setfill('0') << std::setw(2) << (part.id & 0xFFU) << ' '
         << std::setw(2) << (part.id >> 8U) << " 00 00 00 00 00 00 00 00 00 00 00 00 00 00 ";
    EXPECT_THAT(
        lines(session.console.str()),
        testing::ElementsAre("", "CFI Query Mode", row0.str(),
                             std::string("0x10: 51 52 59 01 00 31 00 00 00 00 00 ") + part.vccRange + " 00 00 07 ",
                             std::string("0x20: 07 0A 00 04 04 04 00 ") + part.sizeCode + " 02 00 05 00 01 " +
                                 part.lastBlock + " 00 00 ",
                             std::string("0x30: 02 50 52 49 31 31 0A 00 00 00 01 01 00 ") + part.vccOptimum + " 00 01 ",
                             "0x40: 80 00 03 03 03 00 00 00 00 00 00 00 00 00 00 00 "));
    EXPECT_THAT(session.faults(), testing::IsEmpty());
}

// Lock status at block base + 4 (and + 5: A0 is not used), in identifier and
// query mode; block numbers past the last one wrap, as the chip does not see
// address lines above its size.
TEST_P(Part, LockBitsOfEveryBlockReadAtBasePlusFour) {
    const PartCase& part = GetParam();
    Session session{{"FLASHLOCK_SIM_CHIP", part.chip}};
    FlashChip& flash = session.flash;
    const std::uint32_t last = (part.blocks - 1) * 0x20000U;
    flash.beginAccess();
    flash.writeAt(last + 0x1234, 0x60);
    flash.writeAt(last + 0x1234, 0x01);
    for (const std::uint8_t mode : {0x90, 0x98}) {
        flash.writeAt(0, mode);
        EXPECT_EQ(flash.readAt(last + 4), 0x01);
        EXPECT_EQ(flash.readAt(last + 5), 0x01);
        EXPECT_EQ(flash.readAt(last - 0x20000 + 4), 0x00);
        EXPECT_EQ(flash.readAt(4), 0x00);
        if (part.blocks < 128) {
            EXPECT_EQ(flash.readAt(last + 0x20000 + 4), 0x00) << "wraps to block 0";
            EXPECT_EQ(flash.readAt(2 * last + 0x20000 + 4), 0x01) << "wraps to the last block";
        }
    }
    EXPECT_THAT(session.faults(), testing::IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(Chips, Part,
                         testing::Values(PartCase{"28F320J5", 0x1489, "45 55", "16", "1F", "50", 32},
                                         PartCase{"28F640J5", 0x1589, "45 55", "17", "3F", "50", 64},
                                         PartCase{"28F320J3", 0x1689, "27 36", "16", "1F", "33", 32},
                                         PartCase{"28F640J3", 0x1789, "27 36", "17", "3F", "33", 64},
                                         PartCase{"28F128J3", 0x1889, "27 36", "18", "7F", "33", 128},
                                         PartCase{"M58LW032D", 0x1620, "27 36", "16", "1F", "33", 32},
                                         PartCase{"M58LW064D", 0x1720, "27 36", "17", "3F", "33", 64},
                                         // Known only by their codes: a 32-Mbit part of the J3 layout.
                                         PartCase{"2089", 0x2089, "27 36", "16", "1F", "33", 32},
                                         PartCase{"16c2", 0x16C2, "27 36", "16", "1F", "33", 32}),
                         [](const testing::TestParamInfo<PartCase>& info) {
                             return std::string("chip_") + info.param.chip;
                         });

struct NameCase {
    const char* text;
    const char* name;  // nullptr: not accepted
};

class ChipName : public testing::TestWithParam<NameCase> {};

TEST_P(ChipName, AcceptsPartNamesEmptyAndFourHexDigitsOnly) {
    const auto chip = findChip(GetParam().text);
    if (GetParam().name == nullptr) {
        EXPECT_FALSE(chip.has_value());
    } else {
        ASSERT_TRUE(chip.has_value());
        EXPECT_EQ(chip->name, GetParam().name);
    }
}

INSTANTIATE_TEST_SUITE_P(Names, ChipName,
                         testing::Values(NameCase{"28F128J3", "28F128J3"}, NameCase{"m58lw032d", "M58LW032D"},
                                         NameCase{"Empty", "empty"}, NameCase{"1789", "28F640J3"},
                                         NameCase{"16c2", "16C2"}, NameCase{"0000", "0000"},
                                         NameCase{"28F320", nullptr}, NameCase{"12345", nullptr},
                                         NameCase{"89", nullptr}, NameCase{"x123", nullptr}, NameCase{"", nullptr},
                                         NameCase{"28F320J3 ", nullptr}));

// One command after another, with the mode each leaves.
TEST(CommandInterface, ModesFollowTheIntelCommandSet) {
    IntelChip chip(*findChip("28F320J3"), readyAtOnce());
    const struct {
        std::uint8_t command;
        ChipMode mode;
    } steps[] = {
        {0x90, ChipMode::ReadIdentifier}, {0xAA, ChipMode::ReadIdentifier}, {0x55, ChipMode::ReadIdentifier},
        {0xF0, ChipMode::ReadArray},      {0x98, ChipMode::Query},          {0x00, ChipMode::Query},
        {0x70, ChipMode::ReadStatus},     {0xFF, ChipMode::ReadArray},      {0x60, ChipMode::LockSetup},
        {0x01, ChipMode::ReadStatus},     {0xB0, ChipMode::ReadStatus},     {0x90, ChipMode::ReadIdentifier},
    };
    for (const auto& step : steps) {
        const auto outcome = chip.write(0x555, step.command);
        EXPECT_EQ(chip.mode(), step.mode) << "after " << int{step.command};
        EXPECT_FALSE(outcome.fault) << outcome.action;
    }
}

TEST(CommandInterface, LockSetupConfirmsSetOneBlockOrClearAll) {
    IntelChip chip(*findChip("28F640J3"), readyAtOnce());
    for (const std::uint32_t address : {0x000000U, 0x0A0000U, 0x7FFFFFU}) {
        chip.write(address, 0x60);
        const auto outcome = chip.write(address, 0x01);
        EXPECT_TRUE(outcome.locksChanged);
        EXPECT_EQ(chip.read(0x1234), 0x80) << "status register, ready";
    }
    std::vector<std::uint32_t> locked;
    for (std::uint32_t block = 0; block < 64; ++block) {
        if (chip.isLocked(block)) {
            locked.push_back(block);
        }
    }
    EXPECT_THAT(locked, testing::ElementsAre(0U, 5U, 63U));
    chip.write(0x300000, 0x60);
    EXPECT_EQ(chip.write(0x300000, 0xD0).action, "clear all lock bits: done, busy for 0 us");
    for (std::uint32_t block = 0; block < 64; ++block) {
        EXPECT_FALSE(chip.isLocked(block));
    }
}

struct RefusedCase {
    std::vector<std::uint8_t> writes;
    std::uint8_t status;
};

class Refused : public testing::TestWithParam<RefusedCase> {};

// Commands and lock sequences the program never sends are faults and change
// neither the array nor the lock bits.
TEST_P(Refused, IsAFaultAndChangesNothing) {
    IntelChip chip(*findChip("28F320J5"));
    chip.setLocked(3, true);
    bool fault = false;
    for (const std::uint8_t value : GetParam().writes) {
        fault = chip.write(0x60000, value).fault || fault;
    }
    EXPECT_TRUE(fault);
    EXPECT_EQ(chip.statusRegister(), GetParam().status);
    EXPECT_EQ(chip.mode(), ChipMode::ReadStatus);
    chip.write(0, 0xFF);
    EXPECT_EQ(chip.read(0x60000), 0xFF);
    EXPECT_EQ(std::count(chip.array().begin(), chip.array().end(), 0xFF), 4 << 20);
    EXPECT_TRUE(chip.isLocked(3));
}

INSTANTIATE_TEST_SUITE_P(Commands, Refused,
                         testing::Values(RefusedCase{{0xC0, 0x00}, 0x90}, RefusedCase{{0x60, 0xF1}, 0x90},
                                         RefusedCase{{0x60, 0x22}, 0xB0}, RefusedCase{{0x20, 0x22}, 0xB0}));

TEST(EmptySocket, ReadsZeroInEveryModeAndIgnoresCommands) {
    Session session{{"FLASHLOCK_SIM_CHIP", "empty"}};
    FlashChip& flash = session.flash;
    EXPECT_EQ(session.dialogue.readDeviceId(), 0x0000);
    flash.beginAccess();
    for (const std::uint8_t mode : {0xFF, 0x90, 0x98, 0x70, 0x60}) {
        flash.writeAt(0, mode);
        for (const std::uint32_t at : {0x0U, 0x2U, 0x4U, 0x20U, 0x20004U}) {
            EXPECT_EQ(flash.readAt(at), 0x00);
        }
    }
    EXPECT_THAT(session.faults(), testing::IsEmpty());
}

}  // namespace
