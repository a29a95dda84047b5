#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <span>
#include <sstream>
#include <string>
#include <vector>

#include "app/Commands.h"
#include "app/SteppingClock.h"
#include "app/commands/Session.h"
#include "flash/FakeChip.h"
#include "flash/KnownChips.h"

// What a newcomer meets first on the command line: --sim, --chip, the
// habits of other tools, options given twice, block numbers no chip has, the
// help, and the board line of status.
namespace {

using testing::HasSubstr;

struct LineRun {
    FakeChip fake;
    bool simulated = false;
    bool opened = false;
    // The reset each --sim asked for, in order.
    std::vector<bool> simulatorRequests;
    bool dialogueRan = false;
    std::ostringstream out;
    std::ostringstream err;
    SteppingClock clock;

    int operator()(const std::vector<std::string>& arguments) {
        std::vector<const char*> argv{"flashlock"};
        for (const std::string& argument : arguments) {
            argv.push_back(argument.c_str());
        }
        CommandContext context{out,
                               err,
                               [this] {
                                   opened = true;
                                   return DriverAccess{&fake.driver, "", {}, simulated};
                               },
                               [] { return 0; },
                               false,
                               clock,
                               [this] {
                                   dialogueRan = true;
                                   return 0;
                               }};
        context.useSimulator = [this](bool reset) {
            simulatorRequests.push_back(reset);
            return exitStatus::done;
        };
        return runCommand(static_cast<int>(argv.size()), argv.data(), context);
    }
};

struct LineCase {
    const char* name;
    std::vector<std::string> arguments;
    int status;
    // Part of standard output.
    const char* out;
    // All of standard error.
    const char* err;
    // Whether the port was reached (a usage error never reaches it).
    bool opened;
    bool simulated = false;
};

void PrintTo(const LineCase& line, std::ostream* os) {
    *os << line.name;
}

class CommandLine : public testing::TestWithParam<LineCase> {};

TEST_P(CommandLine, SaysWhatToTypeInstead) {
    LineRun run;
    run.simulated = GetParam().simulated;
    EXPECT_EQ(run(GetParam().arguments), GetParam().status) << run.err.str();
    EXPECT_THAT(run.out.str(), HasSubstr(GetParam().out));
    EXPECT_EQ(run.err.str(), GetParam().err);
    EXPECT_EQ(run.opened, GetParam().opened);
}

constexpr const char* wrongChip =
    "flashlock: the chip in the socket is the Intel 28F320J3 (manufacturer 0x89, device 0x16), not 28F640J3 as "
    "--chip says; nothing was written or read beyond its identification. Check the part in the socket, or give "
    "--chip 28F320J3 for this one\n";

INSTANTIATE_TEST_SUITE_P(
    Cases, CommandLine,
    testing::Values(
        // flashrom's and avrdude's habits, with the FILE given.
        LineCase{"readHabit",
                 {"-r", "chip.bin"},
                 2,
                 "",
                 "flashlock has commands, not those options: did you mean `flashlock read chip.bin`?\n",
                 false},
        LineCase{"writeThenVerifyIsWrite",
                 {"-w", "new image.bin", "-v", "new image.bin"},
                 2,
                 "",
                 "flashlock has commands, not those options: did you mean `flashlock write 'new image.bin'`?\n",
                 false},
        LineCase{"verifyAttached",
                 {"-vchip.bin"},
                 2,
                 "",
                 "flashlock has commands, not those options: did you mean `flashlock verify chip.bin`?\n",
                 false},
        LineCase{"verifyAloneMayMeanVersion",
                 {"-v"},
                 2,
                 "",
                 "flashlock has commands, not those options: did you mean `flashlock verify FILE`, or "
                 "`flashlock --version`?\n",
                 false},
        LineCase{"longRead",
                 {"--read=out.bin"},
                 2,
                 "",
                 "flashlock has commands, not those options: did you mean `flashlock read out.bin`?\n",
                 false},
        LineCase{"eraseHabit",
                 {"-E"},
                 2,
                 "",
                 "flashlock has commands, not those options: did you mean `flashlock erase all`?\n",
                 false},
        LineCase{"chipHabit",
                 {"-c", "28F320J3", "status"},
                 2,
                 "",
                 "flashlock takes --chip, not -c: did you mean `flashlock --chip 28F320J3 status`?\n",
                 false},
        LineCase{"chipAndReadHabits",
                 {"-p", "internal", "-c", "28F320J3", "-r", "x.bin"},
                 2,
                 "",
                 "flashlock has commands, not those options: did you mean `flashlock --chip 28F320J3 read x.bin`?\n",
                 false},
        // Given twice.
        LineCase{"offsetTwice",
                 {"read", "f", "--offset", "1", "--offset", "2"},
                 2,
                 "",
                 "flashlock: --offset given twice: give it once\n",
                 false},
        LineCase{"portTwice",
                 {"--port", "0x378", "status", "--port", "0x278"},
                 2,
                 "",
                 "flashlock: --port given twice: give it once\n",
                 false},
        // Block numbers: the chip has the last word, 32 bits the first.
        LineCase{"blockPastThisChip",
                 {"erase", "4294967295"},
                 2,
                 "",
                 "flashlock: block 4294967295 does not exist: this chip has blocks 1 to 32\n",
                 true},
        LineCase{"blockPastAnyChip",
                 {"erase", "3,4294967296"},
                 2,
                 "",
                 "flashlock: block 4294967296 does not exist on any chip flashlock drives\n",
                 false},
        LineCase{"rangePastTheEnd",
                 {"read", "-", "--offset", "0x20000", "--length", "0x400000"},
                 2,
                 "",
                 "flashlock: the range 0x020000 to 0x41FFFF runs past the chip's end at 0x3FFFFF\n",
                 true},
        // --chip: the forms that name the chip in the socket, and one that does not.
        LineCase{"chipPartNumber", {"--chip", "28F320J3", "status"}, 0, "chip         Intel 28F320J3", "", true},
        LineCase{"chipAnyCase", {"status", "--chip", "intel 28f320j3"}, 0, "chip         Intel 28F320J3", "", true},
        LineCase{"chipCodes", {"--chip", "0x89:0x16", "status"}, 0, "chip         Intel 28F320J3", "", true},
        LineCase{"chipBareCodes", {"--chip", "89:16", "status"}, 0, "chip         Intel 28F320J3", "", true},
        LineCase{"chipAnother", {"--chip", "28F640J3", "lock", "1"}, 3, "", wrongChip, true},
        LineCase{"chipOtherCodes",
                 {"--chip", "0x89:0x17", "read", "-"},
                 3,
                 "",
                 "flashlock: the chip in the socket is the Intel 28F320J3 (manufacturer 0x89, device 0x16), not "
                 "0x89:0x17 as --chip says; nothing was written or read beyond its identification. Check the part "
                 "in the socket, or give --chip 28F320J3 for this one\n",
                 true},
        LineCase{"chipUnknown",
                 {"--chip", "28F320J4", "status"},
                 2,
                 "",
                 "flashlock: --chip 28F320J4 names no chip flashlock knows: give a part number as flashlock chips "
                 "lists it (28F320J3, Am29LV160DB), or the chip's codes as flashlock status shows them (0x89:0x16)\n",
                 false},
        LineCase{"chipWithoutCommand",
                 {"--chip", "28F320J3"},
                 2,
                 "",
                 "flashlock: --chip is for the commands: give one, such as flashlock --chip 28F320J3 status; the "
                 "dialogue names the chip it finds\n",
                 false},
        // --sim and its company.
        LineCase{"resetWithoutSim",
                 {"--reset-sim", "status"},
                 2,
                 "",
                 "flashlock: --reset-sim needs --sim too; see flashlock --help\n",
                 false},
        LineCase{"simAndPort",
                 {"--sim", "--port", "0x378", "status"},
                 2,
                 "",
                 "flashlock: --sim and --port cannot be given together\n",
                 false},
        // The board line and its JSON say when the board is simulated.
        LineCase{"boardLine", {"status"}, 0, "board        Zantrel4v4\nchip", "", true},
        LineCase{"simulatedBoardLine", {"status"}, 0, "board        Zantrel4v4 (simulated)\nchip", "", true, true},
        LineCase{
            "simulatedJson", {"status", "--json"}, 0, R"({"board": "Zantrel4v4", "simulated": true, )", "", true, true},
        // --help: each option on its own line with its value in words, its
        // description below; a command's help names the options every command takes.
        LineCase{
            "help", {"--help"}, 0, "  --chip NAME\n      Go on only if the chip in the socket is NAME:", "", false},
        LineCase{"commandHelp",
                 {"read", "--help"},
                 0,
                 "  --offset ADDR\n      First byte (default 0; 0x for hex, k and M suffixes)\n  --length BYTES\n"
                 "      Bytes to read (default: to the chip's end)\n  --force\n      Replace FILE if it exists\n"
                 "  --progress\n      Show progress even when standard error is no terminal; not with --quiet\n",
                 "",
                 false},
        LineCase{"commandHelpNamesSharedOptions",
                 {"erase", "--help"},
                 0,
                 "  BLOCKS\n      Blocks to erase\n\nOptions:\n  -h, --help\n      Print this help and exit "
                 "(flashlock COMMAND --help for a command's)\n  --dry-run\n      Print the plan and write nothing to "
                 "the chip\n  --progress\n      Show progress even when standard error is no terminal; not with "
                 "--quiet\n  --quiet\n      Show no progress line; not with --progress\n\nEvery command also takes "
                 "--sim, --reset-sim, --chip NAME, --port PORT, --journal\nDIR, --full-shifts (see flashlock "
                 "--help).\n",
                 "",
                 false}),
    [](const testing::TestParamInfo<LineCase>& info) { return info.param.name; });

TEST(CommandLine, SimulatorIsChosenBeforeTheCommandOrTheDialogueRuns) {
    LineRun status;
    EXPECT_EQ(status({"status", "--sim", "--reset-sim"}), 0);
    EXPECT_EQ(status.simulatorRequests, std::vector<bool>{true});
    EXPECT_TRUE(status.opened);

    LineRun dialogue;
    EXPECT_EQ(dialogue({"--sim"}), 0);
    EXPECT_EQ(dialogue.simulatorRequests, std::vector<bool>{false});
    EXPECT_TRUE(dialogue.dialogueRan);

    LineRun refused;
    CommandContext context{refused.out,   refused.err,     [] { return DriverAccess{}; }, [] { return 0; }, false,
                           refused.clock, [] { return 0; }};
    context.useSimulator = [](bool) { return exitStatus::noBoard; };
    const std::vector<const char*> argv{"flashlock", "--sim", "status"};
    EXPECT_EQ(runCommand(3, argv.data(), context), exitStatus::noBoard) << "the reason is useSimulator's to give";
}

struct NameCase {
    const char* name;
    const char* part;
    // NAME names this part.
    bool named;
    // NAME is a form --chip takes at all (of some part flashlock knows, or codes).
    bool taken;
};

void PrintTo(const NameCase& nameCase, std::ostream* os) {
    *os << nameCase.name << " for " << nameCase.part;
}

class ChipNames : public testing::TestWithParam<NameCase> {};

TEST_P(ChipNames, AreTheNameItsPartNumbersOrItsCodes) {
    const std::span<const KnownChip> chips = knownChips();
    const auto known = std::find_if(chips.begin(), chips.end(),
                                    [](const KnownChip& chip) { return std::string(chip.name) == GetParam().part; });
    ASSERT_NE(known, chips.end());
    EXPECT_EQ(chipNamed(GetParam().name, &*known, known->identity()), GetParam().named);
    EXPECT_EQ(chipNameProblem(GetParam().name).empty(), GetParam().taken) << chipNameProblem(GetParam().name);
}

INSTANTIATE_TEST_SUITE_P(Forms, ChipNames,
                         testing::Values(NameCase{"AM29LV160DB", "AMD Am29LV160DB", true, true},
                                         NameCase{"AMD Am29LV160DB", "AMD Am29LV160DB", true, true},
                                         NameCase{"Am29LV160DT", "AMD Am29LV160DB", false, true},
                                         NameCase{"Am29LV640MT", "AMD Am29LV640MT / S29GL064N, top boot", true, true},
                                         NameCase{"s29gl064n", "AMD Am29LV640MT / S29GL064N, top boot", true, true},
                                         NameCase{"Am29LV640ML", "AMD Am29LV640MH/ML / S29GL064N, uniform", true, true},
                                         NameCase{"S29GL128P", "Spansion S29GL128N/P", true, true},
                                         NameCase{"S29GL128N/P", "Spansion S29GL128N/P", true, true},
                                         NameCase{"MX29GL128F", "Macronix MX29GL128E/F", true, true},
                                         NameCase{"0x01:0x7E:0x21:0x01", "Spansion S29GL128N/P", true, true},
                                         NameCase{"0x01:0x7E", "Spansion S29GL128N/P", false, true},
                                         NameCase{"0x7F:0x1C:0x49", "Eon EN29LV160B", true, true},
                                         NameCase{"0x1C:0x49", "Eon EN29LV160B", false, true},
                                         NameCase{"M58LW032D", "ST Micro M58LW032D", true, true},
                                         NameCase{"28F320J3", "ST Micro M58LW032D", false, true},
                                         // Not part numbers: a note after the comma, a maker, half a name; nor codes.
                                         NameCase{"x16", "Spansion S29GL064N, x16 only", false, false},
                                         NameCase{"Spansion", "Spansion S29GL128N/P", false, false},
                                         NameCase{"S29GL128", "Spansion S29GL128N/P", false, false},
                                         NameCase{"0x89", "Intel 28F320J3", false, false},
                                         NameCase{"0x89:0x116", "Intel 28F320J3", false, false}));

}  // namespace
