#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <new>
#include <optional>
#include <sstream>
#include <string>

#include "SimulatedPort.h"
#include "tests/TempFolder.h"

namespace {

using testing::HasSubstr;

constexpr const char* notUsable =
    "; the simulated port is not usable: port writes do nothing and no board answers the probe\n";

struct BadValue {
    const char* variable;
    const char* value;
    std::string message;         // the whole stderr line
    const char* chip = nullptr;  // FLASHLOCK_SIM_CHIP beside it
};

void PrintTo(const BadValue& c, std::ostream* os) {
    *os << c.variable << "=" << c.value << (c.chip != nullptr ? std::string(" for ") + c.chip : "");
}

std::string protectedSectors(const char* value) {
    return std::string("FLASHLOCK_SIM_PROTECTED=\"") + value +
           "\" is not accepted; use sector numbers of the Am29LV160DB from 0 to 34, separated by commas, with ranges "
           "such as 0-3";
}

std::string withoutLockBits(const char* name, const char* value, const char* chip) {
    return std::string("FLASHLOCK_SIM_") + name + "=\"" + value + "\" is not accepted for the " + chip +
           ": it is an AMD-set part, which has no lock bits (FLASHLOCK_SIM_PROTECTED protects its sectors); leave "
           "this variable unset or choose an Intel-set part with FLASHLOCK_SIM_CHIP";
}

class InvalidValue : public testing::TestWithParam<BadValue> {};

// One line naming the variable and what it accepts; then nothing answers and
// no file is touched.
TEST_P(InvalidValue, IsReportedOnceAndLeavesThePortNotUsable) {
    TempFolder folder;
    Variables variables{{GetParam().variable, GetParam().value},
                        {"FLASHLOCK_SIM_LOG", folder.file("bus.log")},
                        {"FLASHLOCK_SIM_TRACE", folder.file("lines.vcd")}};
    if (GetParam().chip != nullptr) {
        variables["FLASHLOCK_SIM_CHIP"] = GetParam().chip;
    }
    SimUnderTest under(variables);
    EXPECT_EQ(under.messages.str(), "flashlock simulator: " + GetParam().message + notUsable);
    EXPECT_FALSE(under.sim.usable());
    EXPECT_STREQ(under.sim.reasonNotUsable(), GetParam().message.c_str()) << "what FlashlockModuleProblem gives";
    EXPECT_EQ(flashsim::entry::isDriverInstalled(under.sim), 0);
    SimulatedPort port(under.sim);
    EXPECT_EQ(port.detectBoard(), BoardKind::NoBoard);
    EXPECT_EQ(port.samples, "0000");
    EXPECT_EQ(port.shiftInByte(), 0x00);
    EXPECT_EQ(under.sim.steps(), 0U) << "no port access reaches a board";
    EXPECT_FALSE(std::filesystem::exists(folder.file("bus.log")));
    EXPECT_FALSE(std::filesystem::exists(folder.file("lines.vcd")));
}

INSTANTIATE_TEST_SUITE_P(
    Variables, InvalidValue,
    testing::Values(
        BadValue{"FLASHLOCK_SIM_BOARD", "willem2",
                 "FLASHLOCK_SIM_BOARD=\"willem2\" is not accepted; use willem, zantrel4v4, zantrel4v5 or none"},
        BadValue{"FLASHLOCK_SIM_BOARD", "Zantrel 4v4",
                 "FLASHLOCK_SIM_BOARD=\"Zantrel 4v4\" is not accepted; use willem, zantrel4v4, zantrel4v5 or none"},
        BadValue{"FLASHLOCK_SIM_CHIP", "28F321J3",
                 "FLASHLOCK_SIM_CHIP=\"28F321J3\" is not accepted; use 28F320J5, 28F640J5, 28F320J3, 28F640J3, "
                 "28F128J3, M58LW032D, M58LW064D, intel-64k, Am29LV160DB, Am29LV160DT, S29GL128P, empty, or a 4-digit "
                 "hexadecimal identifier word (device code then maker code, e.g. 1689)"},
        BadValue{"FLASHLOCK_SIM_CHIP", "0x1689",
                 "FLASHLOCK_SIM_CHIP=\"0x1689\" is not accepted; use 28F320J5, 28F640J5, 28F320J3, 28F640J3, "
                 "28F128J3, M58LW032D, M58LW064D, intel-64k, Am29LV160DB, Am29LV160DT, S29GL128P, empty, or a 4-digit "
                 "hexadecimal identifier word (device code then maker code, e.g. 1689)"},
        BadValue{"FLASHLOCK_SIM_BUSY", "-5",
                 "FLASHLOCK_SIM_BUSY=\"-5\" is not accepted; use typical (the datasheet's lock times and the CFI "
                 "table's typical program and erase times), none, or a number of microseconds from 0 to 600000000 "
                 "for every lock, program and erase command"},
        BadValue{"FLASHLOCK_SIM_BUSY", "600000001",
                 "FLASHLOCK_SIM_BUSY=\"600000001\" is not accepted; use typical (the datasheet's lock times and the "
                 "CFI table's typical program and erase times), none, or a number of microseconds from 0 to "
                 "600000000 for every lock, program and erase command"},
        BadValue{"FLASHLOCK_SIM_VPEN", "0V",
                 "FLASHLOCK_SIM_VPEN=\"0V\" is not accepted; use low (lock, program and erase commands fail) or high"},
        BadValue{"FLASHLOCK_SIM_ERASE_FAIL", "32",
                 "FLASHLOCK_SIM_ERASE_FAIL=\"32\" is not accepted; use a block number of the 28F320J3, 0 to 31"},
        BadValue{"FLASHLOCK_SIM_WEAK_BLOCK", "0x1",
                 "FLASHLOCK_SIM_WEAK_BLOCK=\"0x1\" is not accepted; use a block number of the 28F320J3, 0 to 31"},
        BadValue{"FLASHLOCK_SIM_PROGRAM_FAIL", "400000",
                 "FLASHLOCK_SIM_PROGRAM_FAIL=\"400000\" is not accepted; use a hexadecimal byte address of the "
                 "28F320J3, 0 to 3FFFFF (0x optional)"},
        BadValue{"FLASHLOCK_SIM_PROGRAM_FAIL", "0x",
                 "FLASHLOCK_SIM_PROGRAM_FAIL=\"0x\" is not accepted; use a hexadecimal byte address of the "
                 "28F320J3, 0 to 3FFFFF (0x optional)"},
        BadValue{"FLASHLOCK_SIM_STUCK_BLOCK", "32",
                 "FLASHLOCK_SIM_STUCK_BLOCK=\"32\" is not accepted; use a block number of the 28F320J3, 0 to 31"},
        BadValue{"FLASHLOCK_SIM_STUCK_BLOCK", "one",
                 "FLASHLOCK_SIM_STUCK_BLOCK=\"one\" is not accepted; use a block number of the 28F320J3, 0 to 31"},
        BadValue{"FLASHLOCK_SIM_MASTER_LOCK", "on",
                 "FLASHLOCK_SIM_MASTER_LOCK=\"on\" is not accepted; use set or clear"},
        BadValue{"FLASHLOCK_SIM_MASTER_LOCK", "set",
                 "FLASHLOCK_SIM_MASTER_LOCK=\"set\" is not accepted for the 28F320J3: only the J5 parts (28F320J5, "
                 "28F640J5) have a master lock bit; choose one of them with FLASHLOCK_SIM_CHIP or leave this "
                 "variable unset"},
        BadValue{"FLASHLOCK_SIM_ADDRESS_REGISTER", "latch",
                 "FLASHLOCK_SIM_ADDRESS_REGISTER=\"latch\" is not accepted; use shift (the chip sees every clock of "
                 "the address register) or latched (it sees a new address only after 24 clocks)"},
        BadValue{"FLASHLOCK_SIM_PROTECTED", "0",
                 "FLASHLOCK_SIM_PROTECTED=\"0\" is not accepted for the 28F320J3: it is an Intel-set part, whose "
                 "blocks are locked by lock bits (flashlock lock, or the state file's locked line); leave this "
                 "variable unset or choose an AMD-set part (Am29LV160DB, Am29LV160DT, S29GL128P) with "
                 "FLASHLOCK_SIM_CHIP"},
        BadValue{"FLASHLOCK_SIM_PROTECTED", "0,35", protectedSectors("0,35"), "Am29LV160DB"},
        BadValue{"FLASHLOCK_SIM_PROTECTED", "3-1", protectedSectors("3-1"), "Am29LV160DB"},
        BadValue{"FLASHLOCK_SIM_PROTECTED", "1,,2", protectedSectors("1,,2"), "Am29LV160DB"},
        BadValue{"FLASHLOCK_SIM_PROTECTED", "0-", protectedSectors("0-"), "Am29LV160DB"},
        BadValue{"FLASHLOCK_SIM_VPEN", "high", withoutLockBits("VPEN", "high", "S29GL128P"), "S29GL128P"},
        BadValue{"FLASHLOCK_SIM_STUCK_BLOCK", "1", withoutLockBits("STUCK_BLOCK", "1", "Am29LV160DT"), "Am29LV160DT"},
        BadValue{"FLASHLOCK_SIM_MASTER_LOCK", "clear", withoutLockBits("MASTER_LOCK", "clear", "Am29LV160DB"),
                 "Am29LV160DB"},
        BadValue{"FLASHLOCK_SIM_ERASE_FAIL", "35",
                 "FLASHLOCK_SIM_ERASE_FAIL=\"35\" is not accepted; use a sector number of the Am29LV160DB, 0 to 34",
                 "Am29LV160DB"},
        BadValue{"FLASHLOCK_SIM_WEAK_BLOCK", "32",
                 "FLASHLOCK_SIM_WEAK_BLOCK=\"32\" is not accepted; use a block number of the intel-64k, 0 to 31",
                 "intel-64k"},
        BadValue{"FLASHLOCK_SIM_PROGRAM_FAIL", "200000",
                 "FLASHLOCK_SIM_PROGRAM_FAIL=\"200000\" is not accepted; use a hexadecimal byte address of the "
                 "Am29LV160DT, 0 to 1FFFFF (0x optional)",
                 "Am29LV160DT"}));

// The AMD-set parts take the fault variables, their sector protection and
// either address register.
TEST(Configuration, AmdPartsTakeFaultsAndProtectedSectors) {
    SimUnderTest under({{"FLASHLOCK_SIM_CHIP", "am29lv160dt"},
                        {"FLASHLOCK_SIM_PROTECTED", "34,0-2,1"},
                        {"FLASHLOCK_SIM_ERASE_FAIL", "33"},
                        {"FLASHLOCK_SIM_PROGRAM_FAIL", "0x1FFFFF"},
                        {"FLASHLOCK_SIM_WEAK_BLOCK", "0"},
                        {"FLASHLOCK_SIM_ADDRESS_REGISTER", "LATCHED"}});
    EXPECT_EQ(under.messages.str(), "");
    ASSERT_TRUE(under.sim.usable());
    const flashsim::Chip& chip = *under.sim.chip();
    EXPECT_EQ(chip.model().name, "Am29LV160DT");
    EXPECT_THAT(chip.chipSettings().protectedSectors, testing::ElementsAre(0U, 1U, 2U, 34U));
    EXPECT_EQ(chip.chipSettings().eraseFailBlock, 33U);
    EXPECT_EQ(chip.chipSettings().programFailAddress, 0x1FFFFFU);
    EXPECT_EQ(chip.chipSettings().weakBlock, 0U);
    EXPECT_EQ(under.sim.board()->addressRegister(), flashsim::AddressRegister::Latched);
    for (std::uint32_t sector = 0; sector < 35; ++sector) {
        EXPECT_EQ(chip.isLocked(sector), sector <= 2 || sector == 34) << "sector " << sector;
    }
}

// A runaway value is quoted only in part, so that the line stays readable.
TEST(Configuration, ALongValueIsCutInTheMessage) {
    SimUnderTest under({{"FLASHLOCK_SIM_BOARD", std::string(100000, 'w')}});
    EXPECT_EQ(under.messages.str(), "flashlock simulator: FLASHLOCK_SIM_BOARD=\"" + std::string(200, 'w') +
                                        "... (100000 characters)\" is not accepted; use willem, zantrel4v4, "
                                        "zantrel4v5 or none" +
                                        notUsable);
}

// The module is set up while it loads, where an exception would end the
// program before main: any failure must leave a quiet port and one line.
TEST(Configuration, AFailureWhileSettingUpLeavesAQuietPortNotACrash) {
    std::ostringstream messages;
    flashsim::Simulator sim([](const char*) -> std::optional<std::string> { throw std::bad_alloc(); }, messages);
    EXPECT_FALSE(sim.usable());
    EXPECT_EQ(messages.str(),
              std::string("flashlock simulator: the simulator could not be set up (out of memory)") + notUsable);
    flashsim::entry::portOut(sim, 0x37A, 0x04);
    EXPECT_EQ(flashsim::entry::portIn(sim, 0x379), 0x7F);
}

TEST(Configuration, EveryBadVariableGetsItsOwnLine) {
    SimUnderTest under({{"FLASHLOCK_SIM_BOARD", "x"}, {"FLASHLOCK_SIM_CHIP", "y"}});
    const std::string text = under.messages.str();
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2);
    EXPECT_THAT(text, HasSubstr("FLASHLOCK_SIM_BOARD=\"x\""));
    EXPECT_THAT(text, HasSubstr("FLASHLOCK_SIM_CHIP=\"y\""));
    EXPECT_THAT(under.sim.reasonNotUsable(),
                testing::StartsWith("FLASHLOCK_SIM_BOARD=\"x\" is not accepted; use willem, zantrel4v4, zantrel4v5 "
                                    "or none; FLASHLOCK_SIM_CHIP=\"y\" is not accepted; use "))
        << "both sentences, joined";
}

TEST(Configuration, DefaultsAreAZantrel4v4WithA28F320J3AndEmptyCountsAsUnset) {
    for (const auto& variables :
         {Variables{},
          Variables{{"FLASHLOCK_SIM_BOARD", ""}, {"FLASHLOCK_SIM_CHIP", ""}, {"FLASHLOCK_SIM_STATE", ""}}}) {
        SimUnderTest under(variables);
        EXPECT_EQ(under.messages.str(), "");
        ASSERT_TRUE(under.sim.usable());
        EXPECT_EQ(under.sim.board()->boardType(), flashsim::BoardType::Zantrel4v4);
        EXPECT_EQ(under.sim.chip()->model().name, "28F320J3");
        EXPECT_EQ(flashsim::entry::isDriverInstalled(under.sim), 1);
        EXPECT_EQ(under.sim.reasonNotUsable(), nullptr);
    }
}

TEST(Configuration, NamesAreTakenInAnyLetterCase) {
    SimUnderTest under({{"FLASHLOCK_SIM_BOARD", "Willem"}, {"FLASHLOCK_SIM_CHIP", "m58lw064d"}});
    EXPECT_EQ(under.messages.str(), "");
    EXPECT_EQ(under.sim.board()->boardType(), flashsim::BoardType::Willem);
    EXPECT_EQ(under.sim.chip()->model().name, "M58LW064D");
}

struct FileCase {
    const char* name;
    const char* variable;
    const char* stateText;  // written to the file first, unless nullptr
    bool missingFolder;
    const char* problem;
};

void PrintTo(const FileCase& c, std::ostream* os) {
    *os << c.name;
}

class UnusableFile : public testing::TestWithParam<FileCase> {};

TEST_P(UnusableFile, IsReportedWithThePathAndWhatIsWrong) {
    TempFolder folder;
    const std::string path = GetParam().missingFolder ? folder.file("missing/file") : folder.file("file");
    if (GetParam().stateText != nullptr) {
        writeFile(path, GetParam().stateText);
    }
    SimUnderTest under({{GetParam().variable, path}});
    EXPECT_EQ(under.messages.str(), "flashlock simulator: " + std::string(GetParam().variable) + "=\"" + path + "\"" +
                                        GetParam().problem + notUsable);
    EXPECT_FALSE(under.sim.usable());
}

INSTANTIATE_TEST_SUITE_P(
    Files, UnusableFile,
    testing::Values(
        FileCase{"traceFolder", "FLASHLOCK_SIM_TRACE", nullptr, true,
                 " cannot be written; use a file path in an existing folder"},
        FileCase{"logFolder", "FLASHLOCK_SIM_LOG", nullptr, true,
                 " cannot be written; use a file path in an existing folder"},
        FileCase{"stateFolder", "FLASHLOCK_SIM_STATE", nullptr, true, ": its folder does not exist"},
        FileCase{"stateHeader", "FLASHLOCK_SIM_STATE", "locked 0\n", false,
                 ": line 1: expected \"flashlock-sim-state 1\""},
        FileCase{"stateOtherChip", "FLASHLOCK_SIM_STATE", "flashlock-sim-state 1\nchip 28F640J3\n", false,
                 ": line 2: the file holds the state of chip \"28F640J3\", not of 28F320J3; give each chip its own "
                 "state file"},
        FileCase{"stateBlock", "FLASHLOCK_SIM_STATE", "flashlock-sim-state 1\n\n# c\nchip 28F320J3\nlocked 1 32\n",
                 false, ": line 5: \"32\" is no block number of this chip (0 to 32 - 1)"},
        FileCase{"stateAddress", "FLASHLOCK_SIM_STATE", "flashlock-sim-state 1\nchip 28F320J3\narray 400000 00\n",
                 false, ": line 3: \"400000\" is no array address of this chip"},
        FileCase{"stateBytes", "FLASHLOCK_SIM_STATE", "flashlock-sim-state 1\nchip 28F320J3\narray 000000 0\n", false,
                 ": line 3: expected up to 16 bytes of two hexadecimal digits each"},
        FileCase{"statePastEnd", "FLASHLOCK_SIM_STATE", "flashlock-sim-state 1\nchip 28F320J3\narray 3FFFFF 00 00\n",
                 false, ": line 3: the bytes run past the end of the array"},
        FileCase{"stateEntry", "FLASHLOCK_SIM_STATE", "flashlock-sim-state 1\nchip 28F320J3\nunlock 1\n", false,
                 ": line 3: unknown entry \"unlock\""},
        FileCase{"stateNoChip", "FLASHLOCK_SIM_STATE", "flashlock-sim-state 1\nlocked 1\n", false,
                 ": line 2: expected \"chip NAME\" first"}),
    [](const testing::TestParamInfo<FileCase>& info) { return info.param.name; });

}  // namespace
