#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <iomanip>
#include <memory>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "ChipScript.h"
#include "SimulatedPort.h"
#include "iolib/sim/Chip.h"

namespace {

using flashsim::ChipMode;
using flashsim::EraseRegion;
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
    const char* blockUnits;  // 0x30: block size / 256, high byte
    const char* vccOptimum;  // 0x3D
    std::uint32_t blocks;
    std::uint32_t blockSize;
};

// A part name as a test name: letters, digits and underscores only.
std::string testName(std::string name) {
    std::replace(name.begin(), name.end(), '-', '_');
    return name;
}

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
                             std::string("0x30: ") + part.blockUnits + " 50 52 49 31 31 0A 00 00 00 01 01 00 " +
                                 part.vccOptimum + " 00 01 ",
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
    const std::uint32_t size = part.blockSize;
    const std::uint32_t last = (part.blocks - 1) * size;
    flash.beginAccess();
    flash.writeAt(last + 0x1234, 0x60);
    flash.writeAt(last + 0x1234, 0x01);
    for (const std::uint8_t mode : {0x90, 0x98}) {
        flash.writeAt(0, mode);
        EXPECT_EQ(flash.readAt(last + 4), 0x01);
        EXPECT_EQ(flash.readAt(last + 5), 0x01);
        EXPECT_EQ(flash.readAt(last - size + 4), 0x00);
        EXPECT_EQ(flash.readAt(4), 0x00);
        if (part.blocks * size < 0x1000000) {
            EXPECT_EQ(flash.readAt(last + size + 4), 0x00) << "wraps to block 0";
            EXPECT_EQ(flash.readAt(2 * last + size + 4), 0x01) << "wraps to the last block";
        }
    }
    EXPECT_THAT(session.faults(), testing::IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(Chips, Part,
                         testing::Values(PartCase{"28F320J5", 0x1489, "45 55", "16", "1F", "02", "50", 32, 0x20000},
                                         PartCase{"28F640J5", 0x1589, "45 55", "17", "3F", "02", "50", 64, 0x20000},
                                         PartCase{"28F320J3", 0x1689, "27 36", "16", "1F", "02", "33", 32, 0x20000},
                                         PartCase{"28F640J3", 0x1789, "27 36", "17", "3F", "02", "33", 64, 0x20000},
                                         PartCase{"28F128J3", 0x1889, "27 36", "18", "7F", "02", "33", 128, 0x20000},
                                         PartCase{"M58LW032D", 0x1620, "27 36", "16", "1F", "02", "33", 32, 0x20000},
                                         PartCase{"M58LW064D", 0x1720, "27 36", "17", "3F", "02", "33", 64, 0x20000},
                                         // Any Intel-set part with 64 KiB blocks.
                                         PartCase{"intel-64k", 0x6489, "27 36", "15", "1F", "01", "33", 32, 0x10000},
                                         // Known only by their codes: a 32-Mbit part of the J3 layout.
                                         PartCase{"2089", 0x2089, "27 36", "16", "1F", "02", "33", 32, 0x20000},
                                         PartCase{"16c2", 0x16C2, "27 36", "16", "1F", "02", "33", 32, 0x20000},
                                         // An AMD part's codes alone make no AMD part.
                                         PartCase{"4901", 0x4901, "27 36", "16", "1F", "02", "33", 32, 0x20000}),
                         [](const testing::TestParamInfo<PartCase>& info) {
                             return "chip_" + testName(info.param.chip);
                         });

struct NameCase {
    const char* text;
    const char* name;  // nullptr: not accepted
};

// The case as ctest and failures name it.
void PrintTo(const NameCase& c, std::ostream* os) {
    *os << '"' << c.text << '"';
}

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
                                         NameCase{"INTEL-64K", "intel-64k"}, NameCase{"am29lv160dt", "Am29LV160DT"},
                                         NameCase{"s29gl128p", "S29GL128P"}, NameCase{"6489", "6489"},
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

// The case as ctest and failures name it.
void PrintTo(const RefusedCase& c, std::ostream* os) {
    *os << "commands";
    for (const std::uint8_t byte : c.writes) {
        *os << " 0x" << std::hex << unsigned{byte};
    }
}

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

struct LayoutCase {
    const char* chip;
    std::vector<EraseRegion> layout;  // address order
    std::vector<EraseRegion> listed;  // as the CFI table lists them
    std::uint32_t size;
};

void PrintTo(const LayoutCase& c, std::ostream* os) {
    *os << c.chip;
}

class Layout : public testing::TestWithParam<LayoutCase> {};

// Blocks follow the part's own regions, and each block number maps to its
// base and back.
TEST_P(Layout, BlocksLieInAddressOrderAsThePartIsBuilt) {
    const LayoutCase& c = GetParam();
    const flashsim::ChipModel model = *findChip(c.chip);
    EXPECT_EQ(model.layout, c.layout);
    EXPECT_EQ(flashsim::regionsOf(model.query, false), c.listed);
    EXPECT_EQ(model.size, c.size);
    std::uint32_t expectedBase = 0;
    std::uint32_t block = 0;
    for (const EraseRegion& region : c.layout) {
        for (std::uint32_t index = 0; index < region.count; ++index, ++block) {
            ASSERT_EQ(model.blockBase(block), expectedBase) << "block " << block;
            EXPECT_EQ(model.blockLength(block), region.size);
            EXPECT_EQ(model.blockOf(expectedBase), block);
            EXPECT_EQ(model.blockOf(expectedBase + region.size - 1), block);
            expectedBase += region.size;
        }
    }
    EXPECT_EQ(model.blockCount, block);
    EXPECT_EQ(expectedBase, c.size);
}

constexpr std::uint32_t kib = 1024;
const std::vector<EraseRegion> bottomBoot = {{1, 16 * kib}, {2, 8 * kib}, {1, 32 * kib}, {31, 64 * kib}};
const std::vector<EraseRegion> topBoot = {{31, 64 * kib}, {1, 32 * kib}, {2, 8 * kib}, {1, 16 * kib}};

INSTANTIATE_TEST_SUITE_P(Parts, Layout,
                         testing::Values(LayoutCase{"28F320J3", {{32, 128 * kib}}, {{32, 128 * kib}}, 4096 * kib},
                                         LayoutCase{"28F128J3", {{128, 128 * kib}}, {{128, 128 * kib}}, 16384 * kib},
                                         LayoutCase{"intel-64k", {{32, 64 * kib}}, {{32, 64 * kib}}, 2048 * kib},
                                         LayoutCase{"Am29LV160DB", bottomBoot, bottomBoot, 2048 * kib},
                                         // The CFI table lists the bottom-boot order for the T part too.
                                         LayoutCase{"Am29LV160DT", topBoot, bottomBoot, 2048 * kib},
                                         LayoutCase{"S29GL128P", {{128, 128 * kib}}, {{128, 128 * kib}}, 16384 * kib}),
                         [](const testing::TestParamInfo<LayoutCase>& info) { return testName(info.param.chip); });

struct KnobCase {
    const char* name;
    std::function<std::unique_ptr<flashsim::Chip>()> make;
    const char* script;
    bool fault;
};

void PrintTo(const KnobCase& c, std::ostream* os) {
    *os << c.name;
}

flashsim::ChipSettings busyFor(int reads) {
    flashsim::ChipSettings settings;
    settings.busyReads = reads;
    return settings;
}

class Knob : public testing::TestWithParam<KnobCase> {};

// What flashlock's own tests set on a model without any variable.
TEST_P(Knob, ChangesOnlyWhatItSays) {
    const auto chip = GetParam().make();
    const ScriptRun run = runScript(*chip, GetParam().script);
    EXPECT_THAT(run.mismatches, testing::IsEmpty()) << run.log;
    EXPECT_EQ(run.fault, GetParam().fault) << run.log;
}

flashsim::IntelPartDesign intelDesign(std::uint32_t features, bool answersQuery) {
    flashsim::IntelPartDesign design;
    design.blockCount = 16;
    design.blockSize = 0x10000;
    design.features = features;
    design.answersQuery = answersQuery;
    return design;
}

INSTANTIATE_TEST_SUITE_P(
    Settings, Knob,
    testing::Values(
        KnobCase{"busyForThreeStatusReads",
                 [] { return std::make_unique<IntelChip>(*findChip("28F320J3"), busyFor(3)); },
                 "0:60 0:01 R0=00 R0=00 R0=00 R0=80 0:40 20010:00 R0=00 R0=00 R0=00 R0=80", false},
        KnobCase{"busyForEver", [] { return std::make_unique<IntelChip>(*findChip("28F320J3"), busyFor(-1)); },
                 "0:20 0:D0 R0=00 R0=00 R0=00 R0=00 0:FF R0=00", true},
        KnobCase{"bufferNeverFree",
                 [] {
                     flashsim::ChipSettings settings;
                     settings.bufferNeverFree = true;
                     return std::make_unique<IntelChip>(*findChip("28F320J3"), settings);
                 },
                 "0:E8 R0=00 0:E8 R0=00 0:1F R0=80 0:FF R0=FF", true},
        KnobCase{"perBlockUnlock",
                 [] { return flashsim::makeChip(flashsim::intelPart(intelDesign(0x2A, true)), busyFor(0)); },
                 "0:60 0:01 10000:60 10000:01 10000:60 10000:D0 0:90 R4=01 R10004=00 R0=89 R2=16 R10=00", false},
        KnobCase{"clearAllUnlock",
                 [] { return flashsim::makeChip(flashsim::intelPart(intelDesign(0x0A, true)), busyFor(0)); },
                 "0:60 0:01 10000:60 10000:01 10000:60 10000:D0 0:90 R4=00 R10004=00 0:98 R20=51 R6C=0A R5E=00 R60=01",
                 false},
        KnobCase{"intelWithoutQuery",
                 [] { return flashsim::makeChip(flashsim::intelPart(intelDesign(0x0A, false)), busyFor(0)); },
                 "55:98 R20=FF 0:90 R0=89 55:98 R20=00", false},
        KnobCase{"amdWithoutQuery",
                 [] {
                     flashsim::AmdPartDesign design;
                     design.answersQuery = false;
                     return flashsim::makeChip(flashsim::amdPart(design), busyFor(0));
                 },
                 "AA:98 R20=FF AAA:AA 555:55 AAA:90 R0=01 R2=49", false},
        KnobCase{"amdCustomLayout",
                 [] {
                     flashsim::AmdPartDesign design;
                     design.device = {0x7E, 0x10, 0x00};
                     design.layout = {{8, 8 * kib}, {31, 64 * kib}};
                     design.bufferExponent = 5;
                     design.priMinor = '3';
                     design.bootFlag = 2;
                     return flashsim::makeChip(flashsim::amdPart(design), busyFor(1));
                 },
                 "AAA:AA 555:55 AAA:90 R2=7E R1C=10 R1E=00 0:F0 AA:98 R54=05 R58=02 R5A=07 R5E=20 R62=1E R9E=02 "
                 "0:F0 AAA:AA 555:55 2000:25 2000:00 201F:5A 2000:29 R201F=C0 R201F=5A",
                 false}),
    [](const testing::TestParamInfo<KnobCase>& info) { return std::string(info.param.name); });

// The log names every mode, and the waveform shows each in eight characters
// at most: a mode added without its names would show as "?".
TEST(ChipModes, HaveDistinctNamesAndShortTags) {
    std::vector<std::string> names;
    std::vector<std::string> tags;
    for (int mode = static_cast<int>(ChipMode::ReadArray); mode <= static_cast<int>(ChipMode::BufferAbort); ++mode) {
        names.emplace_back(flashsim::modeName(static_cast<ChipMode>(mode)));
        tags.emplace_back(flashsim::modeTag(static_cast<ChipMode>(mode)));
        EXPECT_NE(names.back(), "?") << "mode " << mode;
        EXPECT_TRUE(!tags.back().empty() && tags.back().size() <= 8 && tags.back() != "?") << tags.back();
    }
    std::sort(names.begin(), names.end());
    std::sort(tags.begin(), tags.end());
    EXPECT_EQ(std::adjacent_find(names.begin(), names.end()), names.end());
    EXPECT_EQ(std::adjacent_find(tags.begin(), tags.end()), tags.end());
}

}  // namespace
