#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <iomanip>
#include <ostream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "TempFolder.h"
#include "app/Commands.h"
#include "app/SteppingClock.h"
#include "flash/FakeChip.h"
#include "flash/Journal.h"
#include "iolib/sim/ChipCatalog.h"
#include "platform/Environment.h"

namespace {

using testing::HasSubstr;

// flashlock's command line on a fake chip behind the recording driver.
struct CommandRun {
    CommandRun() { std::filesystem::remove_all(journalFolder); }
    ~CommandRun() {
        std::error_code ignored;
        std::filesystem::remove_all(journalFolder, ignored);
    }
    CommandRun(const CommandRun&) = delete;
    CommandRun& operator=(const CommandRun&) = delete;
    CommandRun(CommandRun&&) = delete;
    CommandRun& operator=(CommandRun&&) = delete;

    static std::filesystem::path journalFor() {
        const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string("flashlock-journal-") + test->test_suite_name() + "-" + test->name();
        std::replace_if(
            name.begin(), name.end(), [](char c) { return std::isalnum(static_cast<unsigned char>(c)) == 0; }, '_');
        static const std::string run = std::to_string(std::random_device()());
        return std::filesystem::path(testing::TempDir()) / (name + "-" + run);
    }

    std::filesystem::path journalFolder = journalFor();
    FakeChip fake;
    BoardKind board = BoardKind::Zantrel4v4;
    // The signal that arrives after this many questions, or never.
    int signalAfter = -1;
    bool opened = false;
    // What the port module says of itself when no board answered.
    std::string moduleProblem;
    bool dialogueRan = false;
    std::ostringstream out;
    std::ostringstream err;
    SteppingClock clock;
    int status = -1;

    int operator()(const std::vector<std::string>& arguments) {
        fake.driver.board = board;
        std::vector<const char*> argv{"flashlock"};
        for (const std::string& argument : arguments) {
            argv.push_back(argument.c_str());
        }
        int asked = 0;
        CommandContext context{
            out,
            err,
            [this] {
                opened = true;
                return DriverAccess{&fake.driver, "the module is missing (reason)", [this] { return moduleProblem; }};
            },
            [this, &asked] { return signalAfter >= 0 && asked++ >= signalAfter ? 2 : 0; },
            false,
            clock,
            [this] {
                dialogueRan = true;
                return 0;
            }};
        // Journals stay with the test, never in the user's state folder.
        context.journalFolder = journalFolder.string();
        status = runCommand(static_cast<int>(argv.size()), argv.data(), context);
        return status;
    }

    // No lock command reached the chip.
    bool wroteLockCommand() {
        const std::vector<std::string> cycles = fake.cycles();
        return std::any_of(cycles.begin(), cycles.end(),
                           [](const std::string& cycle) { return cycle.size() > 9 && cycle.substr(9) == "60"; });
    }
    // Every command ends in read-array with the access line down.
    bool endedIdle() {
        const std::vector<std::string> cycles = fake.cycles();
        return cycles.size() >= 2 && cycles.back() == "access down" && cycles[cycles.size() - 2] == "W 000000 FF";
    }
};

struct UsageCase {
    std::vector<std::string> arguments;
    const char* error;
};

void PrintTo(const UsageCase& usage, std::ostream* os) {
    *os << "flashlock";
    for (const std::string& argument : usage.arguments) {
        *os << ' ' << argument;
    }
}

class UsageErrors : public testing::TestWithParam<UsageCase> {};

TEST_P(UsageErrors, EndWithStatusTwoBeforeThePortIsTouched) {
    CommandRun run;
    EXPECT_EQ(run(GetParam().arguments), exitStatus::usage);
    EXPECT_FALSE(run.opened);
    EXPECT_EQ(run.err.str(), std::string("flashlock: ") + GetParam().error + "\n");
    EXPECT_EQ(run.out.str(), "");
    EXPECT_FALSE(run.dialogueRan);
}

// Every usage error is flashlock's own sentence, never the library's.
INSTANTIATE_TEST_SUITE_P(
    Arguments, UsageErrors,
    testing::Values(
        UsageCase{{"bogus"},
                  "unknown command \"bogus\"; the commands are status, lock, unlock, read, verify, write, erase and "
                  "chips (flashlock --help)"},
        UsageCase{{"--bogus"}, "unknown option --bogus; see flashlock --help"},
        UsageCase{{"-V"}, "unknown option -V; see flashlock --help"},
        UsageCase{{},
                  "give a command: status, lock, unlock, read, verify, write, erase and chips, or no argument at "
                  "all for the dialogue; see flashlock --help"},
        UsageCase{{"lock"}, "lock needs BLOCKS; see flashlock lock --help"},
        UsageCase{{"lock", "0"}, "block 0 does not exist: blocks are counted from 1, as flashlock status shows them"},
        UsageCase{{"unlock", "2/3"},
                  "\"2/3\" is not a block list: give block numbers from 1, ranges such as 3-5, separated by commas "
                  "(1,3-5), or all"},
        UsageCase{{"status", "--jsn"}, "unknown option --jsn for status; see flashlock status --help"},
        UsageCase{{"lock", "1", "2"}, "unexpected argument \"2\" for lock; see flashlock lock --help"},
        UsageCase{{"read"}, "read needs FILE; see flashlock read --help"},
        UsageCase{{"read", "f", "--offset"}, "--offset needs a value; see flashlock read --help"},
        UsageCase{{"read", "o.bin", "--offset", "1", "16", "--length"},
                  "--length needs a value; see flashlock read --help"},
        UsageCase{{"read", "f", "--offset", "zz"},
                  "\"zz\" is not a byte count: give a decimal number or a hexadecimal one after 0x, optionally "
                  "followed by k or KiB (times 1024) or M or MiB (times 1048576)"},
        UsageCase{{"read", "f", "--length", "1.5M"},
                  "\"1.5M\" is not a whole number of bytes: give whole bytes, such as 1536k for 1.5M"},
        UsageCase{{"read", "f", "--progress", "--quiet"}, "--progress and --quiet cannot be given together"},
        UsageCase{{"write"}, "write needs FILE; see flashlock write --help"},
        UsageCase{{"erase", "1", "--no-verify"}, "unknown option --no-verify for erase; see flashlock erase --help"},
        UsageCase{{"--port", "0x50", "status"},
                  "--port 0x50 is no port base: give one from 0x100 to 0xFFF8, such as 0x378 or 0xD010"},
        UsageCase{
            {"--port", "lpt1"},
            "--port lpt1 is no port: give its I/O base (0x378, 0xD010) or, on Linux, its device (/dev/parport1)"}));

TEST(Status, ShowsGeometryAndEveryBlockFromTheChip) {
    CommandRun run;
    run.fake.locks[1] = run.fake.locks[6] = run.fake.locks[31] = true;
    EXPECT_EQ(run({"status"}), 0);
    std::string blocks;
    for (unsigned block = 0; block < 32; ++block) {
        char line[64];
        std::snprintf(line, sizeof line, "%5u  0x%06X-0x%06X  128 KiB  %s\n", block + 1, block * 0x20000,
                      block * 0x20000 + 0x1FFFF, run.fake.locks[block] ? "locked" : "unlocked");
        blocks += line;
    }
    EXPECT_EQ(run.out.str(),
              "board        Zantrel4v4\n"
              "chip         Intel 28F320J3 (manufacturer 0x89, device 0x16)\n"
              "size         4 MiB (4194304 bytes)\n"
              "blocks       32 of 128 KiB\n"
              "command set  0x0001 Intel/Sharp extended, extended query 1.1\n"
              "write buffer 32 bytes\n"
              "locking      blocks lock one by one but unlock all at once; unlock re-locks the others (features "
              "0x0000000A)\n"
              "master lock  not set\n"
              "\n"
              "lock map (L locked, . unlocked)\n"
              "  1-32     .L....L. ........ ........ .......L\n"
              "locked       2, 7, 32 (3 of 32 blocks)\n"
              "\n"
              "block  addresses          size     lock bit\n" +
                  blocks);
    EXPECT_EQ(run.err.str(), "");
    EXPECT_FALSE(run.wroteLockCommand());
    EXPECT_TRUE(run.endedIdle());
}

TEST(Status, AsJsonNamesBlocksFromOne) {
    CommandRun run;
    run.fake.design.blockCount = 2;
    run.fake.locks[1] = true;
    EXPECT_EQ(run({"status", "--json"}), 0);
    EXPECT_EQ(run.out.str(),
              "{\"board\": \"Zantrel4v4\", \"simulated\": false, \"manufacturer\": 137, \"device\": 22, "
              "\"deviceCodes\": [22], \"chip\": "
              "\"Intel 28F320J3\", \"size\": 262144, \"blockSize\": 131072, \"blocks\": 2, \"commandSet\": 1, "
              "\"commandSetName\": \"Intel/Sharp extended\", \"featureBits\": 10, \"instantIndividualLocking\": "
              "false, \"masterLock\": false, \"reachable\": true, \"locked\": [2], \"blockList\": [{\"number\": 1, "
              "\"start\": 0, \"size\": 131072, \"locked\": false}, {\"number\": 2, \"start\": 131072, \"size\": "
              "131072, \"locked\": true}]}\n");
}

// The master lock is read from the chip, whatever its codes.
TEST(Status, KeepsAHundredAndTwentyEightBlocksToFourLines) {
    CommandRun run;
    run.fake.design.blockCount = 128;
    run.fake.design.device = 0x20;
    run.fake.settings.masterLocked = true;
    run.fake.locks.resize(128);
    run.fake.locks[127] = true;
    EXPECT_EQ(run({"status"}), 0);
    EXPECT_THAT(run.out.str(), HasSubstr("chip         CFI part, maker 0x89, device 0x20\n"));
    EXPECT_THAT(run.out.str(), HasSubstr("master lock  set: block lock bits cannot change without 12 V on RP#\n"));
    EXPECT_THAT(run.out.str(), HasSubstr("  1-32     ........ ........ ........ ........\n"
                                         "  33-64    ........ ........ ........ ........\n"
                                         "  65-96    ........ ........ ........ ........\n"
                                         "  97-128   ........ ........ ........ .......L\n"
                                         "locked       128 (1 of 128 blocks)\n"));
}

struct LockCase {
    const char* name;
    std::function<void(CommandRun&)> setUp;
    std::vector<std::string> arguments;
    int status;
    const char* out;
    const char* err;
    bool locksWritten;
};

// The case as ctest and failures name it.
void PrintTo(const LockCase& c, std::ostream* os) {
    *os << c.name;
}

class LockCommands : public testing::TestWithParam<LockCase> {};

TEST_P(LockCommands, VerifyAndSayWhatToDo) {
    CommandRun run;
    GetParam().setUp(run);
    run(GetParam().arguments);
    EXPECT_EQ(run.status, GetParam().status) << run.err.str();
    EXPECT_THAT(run.out.str(), HasSubstr(GetParam().out));
    // The journal's folder is the test's own: "@journal" in the expected text.
    std::string err = run.err.str();
    for (const char separator : {'/', '\\'}) {
        const std::string folder = run.journalFolder.string() + separator;
        for (std::size_t at = err.find(folder); at != std::string::npos; at = err.find(folder, at)) {
            err.replace(at, folder.size(), "@journal/");
        }
    }
    EXPECT_EQ(err, GetParam().err);
    EXPECT_EQ(run.wroteLockCommand(), GetParam().locksWritten);
    // Once the board answered, the access line is down at the end, whatever happened.
    const std::vector<std::string> cycles = run.fake.cycles();
    const bool answered = run.board != BoardKind::NoBoard && run.board != BoardKind::PortNotUsable;
    EXPECT_EQ(cycles.empty() ? "" : cycles.back(), answered ? "access down" : "");
}

const auto locked = [](std::vector<int> blocks) {
    return [blocks = std::move(blocks)](CommandRun& run) {
        for (const int block : blocks) {
            run.fake.locks[static_cast<std::size_t>(block - 1)] = true;
        }
    };
};

INSTANTIATE_TEST_SUITE_P(
    Outcomes, LockCommands,
    testing::Values(
        LockCase{"lock",
                 locked(std::vector<int>{}),
                 {"lock", "2,7"},
                 0,
                 "locked blocks 2, 7; verified, locked now: 2, 7 (2 of 32 blocks)\n",
                 "",
                 true},
        LockCase{
            "lockSkipsLocked", locked({2}), {"lock", "1-2"}, 0, "already locked: block 2\nlocked block 1;", "", true},
        LockCase{
            "lockAll", locked(std::vector<int>{}), {"lock", "all"}, 0, "locked now: 1-32 (32 of 32 blocks)", "", true},
        LockCase{"unlockKeepsTheOthers",
                 locked({2, 7, 32}),
                 {"unlock", "7"},
                 0,
                 "to restore this map: flashlock lock 2,7,32\n"
                 "this chip clears all lock bits at once: clearing all, then re-locking blocks 2, 32\n"
                 "unlocked block 7; verified, locked now: 2, 32 (2 of 32 blocks)\n",
                 "",
                 true},
        LockCase{"unlockNothingLocked",
                 locked({2}),
                 {"unlock", "5"},
                 0,
                 "nothing to do: none of the blocks named is locked; locked: 2 (1 of 32 blocks)\n",
                 "",
                 false},
        LockCase{"blockPastTheLast",
                 locked(std::vector<int>{}),
                 {"lock", "33"},
                 2,
                 "",
                 "flashlock: block 33 does not exist: this chip has blocks 1 to 32\n",
                 false},
        LockCase{"vpenLow",
                 [](CommandRun& run) {
                     run.fake.locks[1] = true;
                     run.fake.settings.vpenLow = true;
                 },
                 {"unlock", "2"},
                 3,
                 "",
                 "flashlock: clearing all lock bits: the chip refused (status 0xA8): VPEN/VPP low: check the "
                 "programmer's supply or jumper\n"
                 "flashlock: still locked, should be unlocked: block 2\n"
                 "flashlock: to finish the job: flashlock unlock 2\n",
                 true},
        LockCase{
            "stuckBlock",
            [](CommandRun& run) {
                run.fake.locks[2] = run.fake.locks[4] = true;
                run.fake.settings.stuckBlock = 2;
            },
            {"unlock", "3"},
            3,
            "",
            // Tried twice, then named a hardware fault, with no command offered as the cure.
            "flashlock: block 3: the chip took the command twice without an error, but its lock bit did not change: a "
            "hardware fault, which no command mends\n"
            "flashlock: still locked, should be unlocked: block 3\n",
            true},
        LockCase{"masterLockSet",
                 [](CommandRun& run) {
                     run.fake.design.device = 0x14;
                     run.fake.settings.masterLocked = true;
                 },
                 {"lock", "1"},
                 3,
                 "",
                 "flashlock: the master lock bit is set: this chip's block lock bits can only change with 12 V on RP#, "
                 "which the board does not give; nothing was written\n",
                 false},
        LockCase{"neverReady",
                 [](CommandRun& run) { run.fake.settings.busyReads = -1; },
                 {"lock", "1"},
                 3,
                 "",
                 "flashlock: setting the lock bit of block 1: the chip did not finish within 0.1 s (status 0x00)\n"
                 "flashlock: the lock map is unknown: the chip was left busy; switch the board off and on, then run "
                 "flashlock status\n"
                 "flashlock: then, to restore the map as it was: flashlock unlock 1\n"
                 "flashlock: or to finish the job: flashlock lock 1\n"
                 "flashlock: the journal @journal/journal-0x378 keeps the map from before this job; flashlock "
                 "recover makes it again\n",
                 true},
        LockCase{"emptySocket",
                 [](CommandRun& run) { run.fake.part = flashsim::findChip("empty"); },
                 {"lock", "1"},
                 3,
                 "",
                 "flashlock: the chip gives no CFI query answer (\"QRY\"): the socket may be empty, the chip seated "
                 "wrongly, or it is no CFI part; check the chip and its orientation (identifier 0x00 0x00)\n",
                 false},
        LockCase{"noBoard",
                 [](CommandRun& run) { run.board = BoardKind::NoBoard; },
                 {"status"},
                 1,
                 "",
                 "H/W check failed !\nflashlock: no programmer board answered on the parallel port at 0x378; check the "
                 "cable, the board's power and the port's mode in the firmware setup\n",
                 false},
        LockCase{"signalWaitsForTheTransaction",
                 [](CommandRun& run) {
                     run.fake.locks[0] = true;
                     run.signalAfter = 1;
                 },
                 {"unlock", "1"},
                 130,
                 "unlocked block 1; verified",
                 "",
                 true},
        // A job that failed says so by its status, whatever signal came after.
        LockCase{"failureWinsOverASignal",
                 [](CommandRun& run) {
                     run.fake.locks[0] = true;
                     run.fake.settings.busyReads = -1;
                     run.signalAfter = 1;
                 },
                 {"unlock", "1"},
                 3,
                 "",
                 "flashlock: clearing all lock bits: the chip did not finish within 5.0 s (status 0x00)\n"
                 "flashlock: the lock map is unknown: the chip was left busy; switch the board off and on, then run "
                 "flashlock status\n"
                 "flashlock: then, to restore the map as it was: flashlock lock 1\n"
                 "flashlock: or to finish the job: flashlock unlock 1\n"
                 "flashlock: the journal @journal/journal-0x378 keeps the map from before this job; flashlock "
                 "recover makes it again\n",
                 true},
        LockCase{"interruptedBeforeAnythingWasWritten",
                 [](CommandRun& run) {
                     run.fake.locks[0] = true;
                     run.signalAfter = 0;
                 },
                 {"unlock", "1"},
                 130,
                 "to restore this map: flashlock lock 1\n",
                 "flashlock: interrupted before anything was written; nothing was changed\n",
                 false},
        LockCase{"unlockDryRun",
                 locked({2}),
                 {"unlock", "2", "--dry-run"},
                 0,
                 "to restore this map: flashlock lock 2\ndry run: nothing was written to the chip\n",
                 "",
                 false},
        // With the J5 master lock set, a command with nothing to change still succeeds.
        LockCase{"masterLockAndNothingToLock",
                 [](CommandRun& run) {
                     run.fake.design.device = 0x14;
                     run.fake.settings.masterLocked = true;
                     run.fake.locks[2] = true;
                 },
                 {"lock", "3"},
                 0,
                 "already locked: block 3\nnothing to do; locked: 3 (1 of 32 blocks)\n",
                 "",
                 false},
        LockCase{"masterLockAndNothingToUnlock",
                 [](CommandRun& run) {
                     run.fake.design.device = 0x14;
                     run.fake.settings.masterLocked = true;
                 },
                 {"unlock", "10"},
                 0,
                 "nothing to do: none of the blocks named is locked",
                 "",
                 false},
        // The simulator refused its configuration and said why as it loaded:
        // neither said again nor blamed on a cable.
        LockCase{"moduleSaysWhyNoBoardAnswered",
                 [](CommandRun& run) {
                     run.board = BoardKind::NoBoard;
                     run.moduleProblem = "FLASHLOCK_SIM_CHIP=\"29F010\" is not accepted";
                 },
                 {"status"},
                 1,
                 "",
                 "H/W check failed !\n",
                 false},
        // A signal the module gave up waiting for ends the run with its status.
        LockCase{"signalWhileTheModuleWaited",
                 [](CommandRun& run) {
                     run.board = BoardKind::NoBoard;
                     run.signalAfter = 0;
                 },
                 {"status"},
                 130,
                 "",
                 "H/W check failed !\n",
                 false}),
    [](const testing::TestParamInfo<LockCase>& info) { return info.param.name; });

// Whoever reads standard error still learns what changed on the chip when
// standard output is gone.
TEST(LockOutput, ThatCannotBeWrittenStillTellsStandardErrorWhatChanged) {
    CommandRun run;
    run.fake.locks[0] = true;
    run.out.setstate(std::ios::badbit);
    EXPECT_EQ(run({"unlock", "1"}), exitStatus::fileFailed);
    EXPECT_EQ(run.err.str(),
              "flashlock: unlocked block 1; verified, locked now: none of 32 blocks; to restore the earlier map: "
              "flashlock lock 1\nflashlock: standard output could not be written\n");
}

TEST(PortOption, AloneRunsTheDialogueAndDisagreementIsAUsageError) {
    CommandRun dialogue;
    EXPECT_EQ(dialogue({"--port", "0xD010"}), 0);
    EXPECT_TRUE(dialogue.dialogueRan);
    EXPECT_FALSE(dialogue.opened);
    EXPECT_EQ(platform::environmentValue("FLASHLOCK_PORT_BASE"), "0xD010");
    CommandRun conflict;
    ASSERT_TRUE(platform::setEnvironmentValue("FLASHLOCK_PORT_BASE", "0xD000"));
    EXPECT_EQ(conflict({"--port", "0xD010", "status"}), exitStatus::usage);
    EXPECT_EQ(conflict.err.str(),
              "flashlock: --port 0xD010 and FLASHLOCK_PORT_BASE=0xD000 disagree: give one of them\n");
    EXPECT_FALSE(conflict.opened);
    // An empty value counts as unset, for the modules as for flashlock.
    ASSERT_TRUE(platform::setEnvironmentValue("FLASHLOCK_PORT_BASE", ""));
}

TEST(PortNotUsable, SaysTheDriversLineAndWhy) {
    CommandRun run;
    run.board = BoardKind::PortNotUsable;
    EXPECT_EQ(run({"status"}), 1);
    EXPECT_EQ(run.err.str(), "IO driver not initialized !\nflashlock: the module is missing (reason)\n");
    EXPECT_EQ(run.fake.cycles(), std::vector<std::string>{});
}

class ReadAndVerify : public testing::Test {
protected:
    TempFolder folder;
    CommandRun run;
    std::string image = folder.file("image.bin");
};

TEST_F(ReadAndVerify, ThreeBytesAreThreeBusCyclesInReadArrayMode) {
    run.fake.array = {0x00, 0x11, 0x22, 0x33, 0x44};
    EXPECT_EQ(run({"read", image, "--offset", "1", "--length", "3"}), 0) << run.err.str();
    EXPECT_EQ(readFile(image), "\x11\x22\x33");
    const std::vector<std::string> cycles = run.fake.cycles();
    const std::vector<std::string> tail(cycles.end() - 6, cycles.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"W 000000 FF", "R 000001", "R 000002", "R 000003", "W 000000 FF",
                                              "access down"}));
    EXPECT_THAT(run.out.str(), HasSubstr("read 3 bytes (0x000001 to 0x000003) of the Intel 28F320J3"));
}

TEST_F(ReadAndVerify, RefusesAnExistingFileUnlessForced) {
    writeFile(image, "keep");
    EXPECT_EQ(run({"read", image}), 2);
    EXPECT_FALSE(run.opened);
    EXPECT_EQ(readFile(image), "keep");
    EXPECT_THAT(run.err.str(), HasSubstr("exists; give --force to replace it"));
    CommandRun forced;
    EXPECT_EQ(forced({"read", image, "--length", "2", "--force"}), 0);
    EXPECT_EQ(readFile(image).size(), 2U);
}

TEST_F(ReadAndVerify, RangesPastTheEndAreUsageErrors) {
    for (const auto& [offset, length] : {std::pair{"0x400000", "1"}, std::pair{"0x3FFFFF", "2"}, std::pair{"0", "0"}}) {
        CommandRun attempt;
        EXPECT_EQ(attempt({"read", image, "--offset", offset, "--length", length}), 2) << offset << " " << length;
        EXPECT_FALSE(attempt.wroteLockCommand());
        EXPECT_TRUE(attempt.endedIdle());
    }
    EXPECT_FALSE(platform::fileExists(image));
}

TEST_F(ReadAndVerify, AnInterruptedReadLeavesNoFileAndTheLinesIdle) {
    run.signalAfter = 100;
    EXPECT_EQ(run({"read", image}), 130);
    EXPECT_FALSE(platform::fileExists(image));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path), {}), 0);
    EXPECT_TRUE(run.endedIdle());
    EXPECT_THAT(run.err.str(), HasSubstr("interrupted after"));
}

TEST_F(ReadAndVerify, VerifyListsTheFirstTenDifferences) {
    std::string content(24, '\0');
    for (std::size_t i = 0; i < content.size(); ++i) {
        run.fake.array.push_back(static_cast<std::uint8_t>(i * 7U));
        content[i] = static_cast<char>(i * 7U + (i % 2 == 0 ? 1 : 0));
    }
    writeFile(image, content);
    EXPECT_EQ(run({"verify", image}), 3);
    EXPECT_THAT(run.out.str(), HasSubstr("12 of 24 bytes differ; the first 10:\n  0x000000  chip 0x00  file 0x01\n"));
    EXPECT_THAT(run.out.str(), HasSubstr("  0x000012  chip 0x7E  file 0x7F\n"));
    EXPECT_THAT(run.out.str(), testing::Not(HasSubstr("0x000014")));
    EXPECT_EQ(run.err.str(), "flashlock: the chip differs from " + image + " in 12 bytes\n");
    CommandRun same;
    same.fake.array = {0x00, 0x07, 0x0E, 0x15};
    writeFile(image, std::string("\x07\x0E\x15", 3));
    EXPECT_EQ(same({"verify", image, "--offset", "1"}), 0) << same.out.str();
}

// A 4-KiB fake chip, whose whole reads step, a byte per recorded cycle.
// A 4-KiB chip of four blocks whose neighbouring bytes differ: stepping
// through it is cheap to record, and a wrong step reads a wrong byte.
void makeSmallChip(FakeChip& fake) {
    fake.design.blockSize = 0x400;
    fake.design.blockCount = 4;
    for (std::uint32_t i = 0; i < 0x1000; ++i) {
        fake.array.push_back(static_cast<std::uint8_t>(i * 13U + (i >> 8U)));
    }
}

// Bytes from address 0 as Intel HEX data records of 16 bytes, and the end.
std::string intelHex(const std::vector<std::uint8_t>& bytes) {
    std::ostringstream text;
    text << std::hex << std::uppercase << std::setfill('0');
    for (std::size_t at = 0; at < bytes.size(); at += 16) {
        const std::size_t count = std::min<std::size_t>(16, bytes.size() - at);
        unsigned sum = count + (at >> 8U) + (at & 0xFFU);
        text << ':' << std::setw(2) << count << std::setw(4) << at << "00";
        for (std::size_t i = at; i < at + count; ++i) {
            text << std::setw(2) << unsigned{bytes[i]};
            sum += bytes[i];
        }
        text << std::setw(2) << ((0x100U - (sum & 0xFFU)) & 0xFFU) << '\n';
    }
    return text.str() + ":00000001FF\n";
}

struct SteppingCase {
    const char* name;
    std::vector<std::string> arguments;  // "@" stands for the scratch folder
    // FLASHLOCK_FULL_SHIFTS, or empty for unset.
    const char* variable;
    bool latched;
    int status;
    bool selfTested;
    bool stepped;
    const char* err;
};

void PrintTo(const SteppingCase& run, std::ostream* os) {
    *os << run.name;
}

class Stepping : public testing::TestWithParam<SteppingCase> {};

TEST_P(Stepping, IsProvenOnceAndTurnedOffOnRequest) {
    const SteppingCase& c = GetParam();
    TempFolder folder;
    CommandRun run;
    makeSmallChip(run.fake);
    run.fake.driver.latched = c.latched;
    writeFile(folder.file("same.bin"), std::string(run.fake.array.begin(), run.fake.array.end()));
    writeFile(folder.file("same.hex"), intelHex(run.fake.array));
    std::vector<std::string> arguments = c.arguments;
    for (std::string& argument : arguments) {
        if (argument.rfind('@', 0) == 0) {
            argument = folder.file(argument.substr(1));
        }
    }
    ASSERT_TRUE(platform::setEnvironmentValue("FLASHLOCK_FULL_SHIFTS", c.variable));
    EXPECT_EQ(run(arguments), c.status) << run.err.str();
    platform::setEnvironmentValue("FLASHLOCK_FULL_SHIFTS", "");
    EXPECT_EQ(run.err.str(), c.err);
    const std::vector<std::string> cycles = run.fake.cycles();
    // The identification's query command, then the self-test's.
    EXPECT_EQ(std::count(cycles.begin(), cycles.end(), "W 0000AA 98") == 2, c.selfTested);
    EXPECT_EQ(std::count(cycles.begin(), cycles.end(), "R again") > 0x100, c.stepped);
    if (c.status == 0 && arguments.front() == "read") {
        const std::string copy = readFile(folder.file("copy.bin"));
        EXPECT_FALSE(copy.empty());
        EXPECT_TRUE(copy == readFile(folder.file("same.bin")).substr(0, copy.size())) << "the copy differs";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Runs, Stepping,
    testing::Values(
        SteppingCase{"readSteps", {"read", "@copy.bin"}, "", false, 0, true, true, ""},
        SteppingCase{"verifySteps", {"verify", "@same.bin"}, "0", false, 0, true, true, ""},
        SteppingCase{"verifyHexSteps", {"verify", "@same.hex"}, "", false, 0, true, true, ""},
        SteppingCase{"shortReadShifts", {"read", "@copy.bin", "--length", "1352"}, "", false, 0, false, false, ""},
        SteppingCase{"optionAfterCommand", {"read", "@copy.bin", "--full-shifts"}, "", false, 0, false, false, ""},
        SteppingCase{"optionBeforeCommand", {"--full-shifts", "verify", "@same.bin"}, "", false, 0, false, false, ""},
        SteppingCase{"variable", {"read", "@copy.bin"}, "1", false, 0, false, false, ""},
        SteppingCase{"latchedBoard",
                     {"read", "@copy.bin"},
                     "",
                     true,
                     0,
                     true,
                     false,
                     "flashlock: this board's address register did not step as a plain shift register; reading "
                     "with full 24-bit address shifts (about three times slower); --full-shifts skips this check\n"},
        SteppingCase{"variableNeitherOneNorZero",
                     {"read", "@copy.bin"},
                     "yes",
                     false,
                     2,
                     false,
                     false,
                     "flashlock: FLASHLOCK_FULL_SHIFTS=yes is neither 1 nor 0: set it to 1 to read every byte with a "
                     "full address shift, or unset it\n"}),
    [](const testing::TestParamInfo<SteppingCase>& info) { return info.param.name; });

// Ctrl-C while the chip is read into memory: nothing was saved, and the
// count is of the whole chip that the read takes.
TEST(Stepping, InterruptedSaysWhatItReadOfTheWholeChip) {
    TempFolder folder;
    CommandRun run;
    run.fake.design.blockSize = 0x400;
    run.fake.design.blockCount = 4;
    run.signalAfter = 100;
    EXPECT_EQ(run({"read", folder.file("copy.bin"), "--length", "2k"}), 130);
    EXPECT_THAT(run.err.str(), testing::EndsWith(" of 4096 bytes; " + folder.file("copy.bin") + " was not written\n"));
    EXPECT_FALSE(platform::fileExists(folder.file("copy.bin")));
    EXPECT_TRUE(run.endedIdle());
}

struct SteppedWriteCase {
    const char* name;
    std::uint32_t length;  // of the image, from address 0, each byte the chip's turned round
    std::optional<std::uint32_t> weakBlock;
    int status;
    std::size_t wholeReads;  // of the chip by stepping: to plan, then to read back
    const char* err;         // what standard error says of a failure
};

void PrintTo(const SteppedWriteCase& c, std::ostream* os) {
    *os << c.name;
}

class SteppedWrite : public testing::TestWithParam<SteppedWriteCase> {};

// A write of most of the chip reads it all back by stepping once the last
// block is written, and a worn cell is found there; a write of a few bytes
// reads them back by full shifts.
TEST_P(SteppedWrite, ReadsMostOfTheChipByStepping) {
    const SteppedWriteCase& c = GetParam();
    TempFolder folder;
    CommandRun run;
    makeSmallChip(run.fake);
    run.fake.settings.weakBlock = c.weakBlock;
    std::string image;
    for (std::uint32_t i = 0; i < c.length; ++i) {
        image.push_back(static_cast<char>(~run.fake.array[i]));
    }
    writeFile(folder.file("image.bin"), image);
    EXPECT_EQ(run({"write", folder.file("image.bin"), "--quiet"}), c.status) << run.err.str();
    if (c.status == 0) {
        EXPECT_EQ(run.err.str(), "");
    } else {
        EXPECT_THAT(run.err.str(), HasSubstr(c.err));
    }
    EXPECT_TRUE(run.endedIdle());
    const std::vector<std::string> cycles = run.fake.cycles();
    // A whole read steps 0xFFF times; the self-test before the first, a few.
    const auto steps = std::count_if(cycles.begin(), cycles.end(),
                                     [](const std::string& cycle) { return cycle.rfind("step ", 0) == 0; });
    EXPECT_EQ(static_cast<std::size_t>(steps) / 0xFFFU, c.wholeReads);
    if (c.status == 0) {
        for (std::uint32_t address = 0; address < 0x1000; ++address) {
            const std::uint8_t wanted =
                address < c.length ? static_cast<std::uint8_t>(image[address]) : run.fake.array[address];
            ASSERT_EQ(run.fake.chip().read(address), wanted) << "at " << address;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Images, SteppedWrite,
                         testing::Values(SteppedWriteCase{"mostOfTheChip", 0xC00, std::nullopt, 0, 1, ""},
                                         SteppedWriteCase{"aFewBytes", 0x10, std::nullopt, 0, 0, ""},
                                         SteppedWriteCase{"wornCell", 0xC00, 1, 3, 1,
                                                          "flashlock: block 2 reads back wrong in 1 byte (0x000400); "
                                                          "the first, 0x000400, holds 0x00 where 0xFB belongs, "
                                                          "although the chip reported success"}),
                         [](const testing::TestParamInfo<SteppedWriteCase>& info) { return info.param.name; });

}  // namespace

namespace {

struct EdgeCase {
    const char* name;
    std::function<void(CommandRun&, const TempFolder&)> setUp;
    std::vector<std::string> arguments;  // "@" stands for the scratch folder
    int status;
    const char* out;
    const char* err;
};

// The case as ctest and failures name it.
void PrintTo(const EdgeCase& c, std::ostream* os) {
    *os << c.name;
}

class CommandEdges : public testing::TestWithParam<EdgeCase> {};

TEST_P(CommandEdges, EndWithTheirStatusAndSayWhy) {
    TempFolder folder;
    CommandRun run;
    GetParam().setUp(run, folder);
    std::vector<std::string> arguments = GetParam().arguments;
    for (std::string& argument : arguments) {
        if (argument.rfind('@', 0) == 0) {
            argument = folder.file(argument.substr(1));
        }
    }
    EXPECT_EQ(run(arguments), GetParam().status) << run.err.str();
    EXPECT_THAT(run.out.str(), HasSubstr(GetParam().out));
    EXPECT_THAT(run.err.str(), HasSubstr(GetParam().err));
}

const auto nothing = [](CommandRun& /*run*/, const TempFolder& /*folder*/) {};

// A journal left by a job on the fake chip (a 28F320J3, blocks 2 and 3
// locked before it), or, with `other`, on another chip.
const auto journaled = [](JobKind kind, std::vector<std::string> command, bool other = false) {
    return [kind, command = std::move(command), other](CommandRun& run, const TempFolder& /*folder*/) {
        JournalState state;
        state.port = "0x378";
        state.identity = {other ? std::uint8_t{0x01} : std::uint8_t{0x89}, 0, {0x16}};
        state.commandSet = 1;
        state.size = 0x400000;
        state.blockCount = 32;
        state.locksBefore.assign(32, false);
        state.locksBefore[1] = state.locksBefore[2] = true;
        state.job.kind = kind;
        state.job.blocks.assign(32, false);
        state.job.blocks[4] = true;
        state.job.command = command;
        std::filesystem::create_directories(run.journalFolder);
        const Journal journal((run.journalFolder / "journal-0x378").string());
        platform::FileProblem problem;
        ASSERT_TRUE(journal.write(state, problem)) << problem.text;
    };
};
const auto file = [](const char* name, std::string content) {
    return [name, content = std::move(content)](CommandRun& /*run*/, const TempFolder& folder) {
        writeFile(folder.file(name), content);
    };
};

INSTANTIATE_TEST_SUITE_P(
    Cases, CommandEdges,
    testing::Values(
        EdgeCase{"help", nothing, {"--help"}, 0, "Commands:\n  status\n      Show the board", ""},
        EdgeCase{"commandHelp", nothing, {"read", "--help"}, 0, "Usage: flashlock read [OPTIONS] FILE", ""},
        EdgeCase{"version", nothing, {"--version"}, 0, "flashlock 0.1.0", ""},
        EdgeCase{"willemBoard",
                 [](CommandRun& run, const TempFolder&) { run.board = BoardKind::Willem; },
                 {"status"},
                 0,
                 "board        Willem/pcb3b\n",
                 ""},
        EdgeCase{"zantrel4v5Board",
                 [](CommandRun& run, const TempFolder&) { run.board = BoardKind::Zantrel4v5; },
                 {"status"},
                 0,
                 "board        Zantrel4v5\n",
                 ""},
        EdgeCase{"perBlockLocking",
                 [](CommandRun& run, const TempFolder&) { run.fake.design.features = 0x2A; },
                 {"status"},
                 0,
                 "locking      each block locks and unlocks on its own (features 0x0000002A)",
                 ""},
        EdgeCase{"lockAlreadyLocked",
                 [](CommandRun& run, const TempFolder&) { run.fake.locks[1] = true; },
                 {"lock", "2"},
                 0,
                 "already locked: block 2\nnothing to do; locked: 2 (1 of 32 blocks)\n",
                 ""},
        EdgeCase{"readWithoutBoard",
                 [](CommandRun& run, const TempFolder&) { run.board = BoardKind::NoBoard; },
                 {"read", "@image.bin"},
                 1,
                 "",
                 "H/W check failed !"},
        EdgeCase{"readIntoNoFolder", nothing, {"read", "@missing/image.bin"}, 4, "", "cannot create a file in"},
        EdgeCase{"verifyNoFile", nothing, {"verify", "@none.bin"}, 4, "", "cannot read"},
        EdgeCase{"verifyEmptyFile", file("empty.bin", ""), {"verify", "@empty.bin"}, 2, "", "is empty"},
        EdgeCase{"verifyPastTheEnd",
                 file("tail.bin", "abc"),
                 {"verify", "@tail.bin", "--offset", "0x3FFFFE"},
                 2,
                 "",
                 "does not fit: the range 0x3FFFFE to 0x400000 runs past the chip's end at 0x3FFFFF"},
        EdgeCase{"verifyHexWithoutData",
                 file("none.hex", ":00000001FF\n"),
                 {"verify", "@none.hex"},
                 2,
                 "",
                 "none.hex holds no data: there is nothing to compare"},
        EdgeCase{"verifyHexPastTheChip",
                 file("far.hex", ":020000040040BA\n:01000000AA55\n:00000001FF\n"),
                 {"verify", "@far.hex"},
                 2,
                 "",
                 "far.hex: line 2: a record at 0x400000 runs past the chip's end"},
        EdgeCase{"verifyHexDiffers",
                 file("zero.hex", ":0100100000EF\n:00000001FF\n"),
                 {"verify", "@zero.hex"},
                 3,
                 "1 of 1 byte differs:\n  0x000010  chip 0xFF  file 0x00\n",
                 "the chip differs from"},
        EdgeCase{"verifyWithoutBoard",
                 [](CommandRun& run, const TempFolder& folder) {
                     run.board = BoardKind::NoBoard;
                     writeFile(folder.file("a.bin"), "a");
                 },
                 {"verify", "@a.bin"},
                 1,
                 "",
                 "H/W check failed !"},
        EdgeCase{
            "writeEmptyFile", file("e.bin", ""), {"write", "@e.bin"}, 2, "", "is empty: there is nothing to write"},
        EdgeCase{"writePastTheEnd",
                 file("t.bin", "abc"),
                 {"write", "@t.bin", "--offset", "0x3FFFFE"},
                 2,
                 "",
                 "t.bin does not fit: the range 0x3FFFFE to 0x400000 runs past the chip's end at 0x3FFFFF"},
        // The reason is the system's own words, which differ between systems.
        EdgeCase{"writeMissingFile", nothing, {"write", "@none.bin"}, 4, "", "cannot read"},
        EdgeCase{"writeProgramsAndVerifies",
                 file("a.bin", "ab"),
                 {"write", "@a.bin", "--offset", "0x20010", "--progress"},
                 0,
                 "program      2 bytes in block 2\n",
                 ""},
        EdgeCase{
            "writeWithoutVerifying",
            file("a.bin", "ab"),
            {"write", "@a.bin", "--no-verify"},
            0,
            "not verifying: the image's bytes are not read back (--no-verify); bytes kept through an erase are read "
            "back all the same\nwrote ",
            ""},
        // The chip gives out: an erase that never ends, a buffer never
        // offered, a byte refused, the master lock, a signal while planning
        // and before the first write.
        EdgeCase{"writeEraseNeverEnds",
                 [](CommandRun& run, const TempFolder& folder) {
                     run.fake.array.assign(0x40000, 0x00);
                     run.fake.settings.busyReads = -1;
                     writeFile(folder.file("a.bin"), "ab");
                 },
                 {"write", "@a.bin"},
                 3,
                 "",
                 "flashlock: erasing block 1 (0x000000): the chip did not finish within 16.4 s (status 0x00); it may "
                 "still be busy: switch the board off and on, then run flashlock status\n"
                 "flashlock: the lock map is unknown: the chip was left busy; switch the board off and on, then run "
                 "flashlock status\n"
                 "flashlock: stopped: no block done; block 1 unfinished; to put back only what the journal "},
        EdgeCase{"writeBufferNeverOffered",
                 [](CommandRun& run, const TempFolder& folder) {
                     run.fake.settings.bufferNeverFree = true;
                     writeFile(folder.file("a.bin"), "ab");
                 },
                 {"write", "@a.bin"},
                 3,
                 "",
                 "flashlock: programming the write buffer at 0x000000 in block 1: the chip offered no write buffer "
                 "within 2.0 ms (extended status 0x00), so nothing was sent to it"},
        EdgeCase{"writeByteRefused",
                 [](CommandRun& run, const TempFolder& folder) {
                     run.fake.design.bufferExponent = 0;
                     run.fake.settings.vpenLow = true;
                     writeFile(folder.file("a.bin"), "ab");
                 },
                 {"write", "@a.bin"},
                 3,
                 "",
                 "flashlock: programming the byte at 0x000000 in block 1: the chip refused (status 0x98): VPEN/VPP "
                 "low: check the programmer's supply or jumper\n"},
        EdgeCase{"writeUnderTheMasterLock",
                 [](CommandRun& run, const TempFolder& folder) {
                     run.fake.array.assign(0x40000, 0x00);
                     run.fake.design.device = 0x14;
                     run.fake.settings.masterLocked = true;
                     run.fake.locks[0] = true;
                     writeFile(folder.file("a.bin"), "ab");
                 },
                 {"write", "@a.bin"},
                 3,
                 "erase        block 1\n",
                 "flashlock: block 1 is locked and the master lock bit is set: their lock bits can only change with "
                 "12 V on RP#, which the board does not give; nothing was written\n"},
        EdgeCase{"writeInterruptedWhilePlanning",
                 [](CommandRun& run, const TempFolder& folder) {
                     run.signalAfter = 1;
                     writeFile(folder.file("a.bin"), "ab");
                 },
                 {"write", "@a.bin"},
                 130,
                 "",
                 "flashlock: interrupted while reading the chip to plan the job; nothing was written\n"},
        EdgeCase{"writeInterruptedBeforeWriting",
                 [](CommandRun& run, const TempFolder& folder) {
                     run.signalAfter = 3;
                     writeFile(folder.file("a.bin"), "ab");
                 },
                 {"write", "@a.bin", "--progress"},
                 130,
                 "program      2 bytes in block 1\n",
                 "flashlock: interrupted before anything was written; nothing was changed\n"},
        // A kill between clearing all lock bits and locking 2 and 3 again:
        // recover makes the map as it was before that job.
        EdgeCase{"recoverRestoresTheLockMap",
                 journaled(JobKind::Unlock, {"unlock", "5"}),
                 {"recover"},
                 0,
                 "lock map     made again as before the job: 2-3 (2 of 32 blocks)\n",
                 ""},
        EdgeCase{"recoverWithNothingJournaled", nothing, {"recover"}, 0, "nothing to recover: no unfinished job", ""},
        EdgeCase{"anotherJobOnThisChipRefused",
                 journaled(JobKind::Erase, {"erase", "5"}),
                 {"lock", "9"},
                 3,
                 "",
                 "an unfinished \"flashlock erase 5\" on this chip is journaled in"},
        EdgeCase{"aJobOnAnotherChipRefused",
                 journaled(JobKind::Erase, {"erase", "5"}, true),
                 {"erase", "5"},
                 3,
                 "",
                 "on another chip (maker 0x01, device 0x16), whose old bytes or lock bits it still holds: put that "
                 "chip back"},
        EdgeCase{"statusSaysAJobIsUnfinished",
                 journaled(JobKind::Lock, {"lock", "5"}),
                 {"status"},
                 0,
                 "locked",
                 "flashlock: note: an unfinished \"flashlock lock 5\" on this chip is journaled in"},
        EdgeCase{"aDamagedJournalIsNeverApplied",
                 [](CommandRun& run, const TempFolder& /*folder*/) {
                     std::filesystem::create_directories(run.journalFolder);
                     writeFile((run.journalFolder / "journal-0x378").string(), "flashlock journal 1\n\x01\x02");
                 },
                 {"recover"},
                 4,
                 "",
                 "is damaged (it ends before its last record): flashlock never applies"},
        // What the commands that change nothing say of a journal, and go on.
        EdgeCase{"readNotesADamagedJournal",
                 [](CommandRun& run, const TempFolder& /*folder*/) {
                     std::filesystem::create_directories(run.journalFolder);
                     writeFile((run.journalFolder / "journal-0x378").string(), "flashlock journal 1\n\x01\x02");
                 },
                 {"read", "@copy.bin", "--length", "16"},
                 0,
                 "",
                 "is damaged (it ends before its last record); flashlock will not apply it: write, erase, lock and "
                 "unlock refuse to run until it is looked at"},
        EdgeCase{"verifyNotesAJobOnAnotherChip",
                 [](CommandRun& run, const TempFolder& folder) {
                     journaled(JobKind::Erase, {"erase", "5"}, true)(run, folder);
                     writeFile(folder.file("ff.bin"), std::string(16, '\xFF'));
                 },
                 {"verify", "@ff.bin"},
                 0,
                 "matches the chip",
                 "journals an unfinished \"flashlock erase 5\" on another chip (maker 0x01, device 0x16)"},
        EdgeCase{"journalFolderThatIsAFile",
                 [](CommandRun& run, const TempFolder& /*folder*/) {
                     std::filesystem::create_directories(run.journalFolder.parent_path());
                     writeFile(run.journalFolder.string(), "a file");
                 },
                 {"lock", "5"},
                 4,
                 "",
                 "the journal folder cannot be used: "},
        // The reason is the system's: "Is a directory", "Access denied".
        EdgeCase{"journalThatCannotBeWritten",
                 [](CommandRun& run, const TempFolder& folder) {
                     std::filesystem::create_directories(run.journalFolder / "journal-0x378.new" / "in the way");
                     writeFile(folder.file("zeros.bin"), std::string(16, '\0'));
                 },
                 {"write", "@zeros.bin"},
                 4,
                 "",
                 "; nothing was changed; mend that, or give --journal DIR for another folder\n"},
        // A 32 MiB part: named and shown, and nothing else done to it.
        EdgeCase{"beyondTheBoardShownByStatus",
                 [](CommandRun& run, const TempFolder&) { run.fake.design.blockCount = 256; },
                 {"status"},
                 0,
                 "reach        beyond the board: its 24 address lines reach the first 16 MiB",
                 ""},
        EdgeCase{"beyondTheBoardRefusedOtherwise",
                 [](CommandRun& run, const TempFolder&) { run.fake.design.blockCount = 256; },
                 {"read", "@o.bin"},
                 3,
                 "",
                 "holds 32 MiB, more than the board's 24 address lines reach (16 MiB): flashlock can only show its "
                 "status"},
        EdgeCase{"eraseDryRun",
                 [](CommandRun& run, const TempFolder&) { run.fake.array.assign(0x40000, 0x00); },
                 {"erase", "2", "--dry-run"},
                 0,
                 "erase        block 2\nread         1 byte of the chip to plan this\n",
                 ""},
        EdgeCase{
            "chips",
            nothing,
            {"chips"},
            0,
            "  Intel 28F128J3                            Intel  0x89       0x18            16 MiB  128 x 128 KiB\n",
            ""},
        EdgeCase{"offsetQuotedAsGiven",
                 nothing,
                 {"read", "@o.bin", "--offset", "16M"},
                 2,
                 "",
                 "flashlock: the offset 16M (0x1000000) is past the chip's end at 0x3FFFFF\n"},
        EdgeCase{"lengthInFull",
                 nothing,
                 {"read", "@o.bin", "--length", "0xFFFFFFFF"},
                 2,
                 "",
                 "the range 0x000000 to 0xFFFFFFFE runs past the chip's end at 0x3FFFFF"},
        EdgeCase{"verifyInterrupted",
                 [](CommandRun& run, const TempFolder& folder) {
                     run.signalAfter = 3;
                     writeFile(folder.file("a.bin"), std::string(100, 'a'));
                 },
                 {"verify", "@a.bin"},
                 130,
                 "",
                 "interrupted after 3 of 100 bytes"}),
    [](const testing::TestParamInfo<EdgeCase>& info) { return info.param.name; });

}  // namespace
