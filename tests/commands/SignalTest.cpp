// Real signals to a real flashlock on the simulated board: wherever a signal
// lands, the run ends with the chip in read-array mode, the access line down
// and the status a signal gives (128 + its number), and a lock transaction
// that had begun is finished and verified first.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <ostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "TempFolder.h"

namespace {

using namespace std::chrono_literals;

// Long enough for a loaded machine, and only ever reached when something hangs.
#ifdef PATIENCE_SECONDS
constexpr auto patience = std::chrono::seconds(PATIENCE_SECONDS);
#else
constexpr auto patience = std::chrono::seconds(60);
#endif

struct Process {
    pid_t pid = -1;
    int input = -1;  // our end of its standard input, when piped
};

struct Launch {
    std::vector<std::string> arguments;
    std::vector<std::string> environment;
    // Bytes for standard input; the pipe stays open until closeInput.
    std::string input;
    // Where standard output goes: a file, or "" for the null device.
    std::string output;
    // Standard output is a pipe whose reader is gone.
    bool brokenOutput = false;
};

Process start(const Launch& launch, const TempFolder& folder) {
    std::vector<std::string> environment = {
        "LD_LIBRARY_PATH=" SIM_DIR, "FLASHLOCK_SIM_STATE=" + folder.file("state.txt"),
        "FLASHLOCK_JOURNAL_DIR=" + folder.file("journal"), "FLASHLOCK_SIM_LOG=" + folder.file("bus.log")};
    environment.insert(environment.end(), launch.environment.begin(), launch.environment.end());
    std::vector<std::string> arguments = {PROGRAM};
    arguments.insert(arguments.end(), launch.arguments.begin(), launch.arguments.end());
    int inputPipe[2];
    int outputPipe[2];
    if (pipe(inputPipe) != 0 || pipe(outputPipe) != 0) {
        return {};
    }
    const std::string output = launch.output.empty() ? "/dev/null" : launch.output;
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(inputPipe[0], STDIN_FILENO);
        if (launch.brokenOutput) {
            close(outputPipe[0]);
            dup2(outputPipe[1], STDOUT_FILENO);
        } else {
            const int out = open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(out, STDOUT_FILENO);
        }
        const int err = open(folder.file("stderr.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(err, STDERR_FILENO);
        for (int fd = 3; fd < 64; ++fd) {
            close(fd);
        }
        chdir(folder.path.c_str());
        // flashlock keeps a signal ignored that was ignored when it started:
        // whatever the test runner ignores, the child must catch them all.
        for (const int number : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
            std::signal(number, SIG_DFL);
        }
        std::vector<char*> argv;
        argv.reserve(arguments.size() + 1);
        for (std::string& argument : arguments) {
            argv.push_back(argument.data());
        }
        argv.push_back(nullptr);
        std::vector<char*> envp;
        envp.reserve(environment.size() + 1);
        for (std::string& variable : environment) {
            envp.push_back(variable.data());
        }
        envp.push_back(nullptr);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    close(inputPipe[0]);
    close(outputPipe[0]);
    close(outputPipe[1]);
    if (!launch.input.empty()) {
        static_cast<void>(write(inputPipe[1], launch.input.data(), launch.input.size()));
    }
    return {pid, inputPipe[1]};
}

// How the process ended, as waitpid tells it; nullopt when it had to be
// killed after waiting too long.
std::optional<int> waitStatus(Process& process) {
    if (process.input >= 0) {
        close(process.input);
        process.input = -1;
    }
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + patience;
    while (waitpid(process.pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(process.pid, SIGKILL);
            waitpid(process.pid, &status, 0);
            return std::nullopt;
        }
        std::this_thread::sleep_for(5ms);
    }
    return status;
}

// The exit status, or -1 when it ended otherwise (a signal's default action).
int finish(Process& process) {
    const std::optional<int> status = waitStatus(process);
    if (!status) {
        return -2;
    }
    return WIFEXITED(*status) ? WEXITSTATUS(*status) : -1;
}

// Waits until the simulator's log holds `text`; false if it never does.
// Only what was added since the last look is read: a log of many megabytes
// read whole every few milliseconds would slow the run it watches.
bool awaitLog(const TempFolder& folder, const std::string& text) {
    const auto deadline = std::chrono::steady_clock::now() + patience;
    std::string seen;
    std::streamoff position = 0;
    while (std::chrono::steady_clock::now() < deadline) {
        std::ifstream log(folder.file("bus.log"), std::ios::binary);
        log.seekg(position);
        const std::string more((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
        position += static_cast<std::streamoff>(more.size());
        // The text may straddle two looks.
        seen.erase(0, seen.size() - std::min(seen.size(), text.size()));
        seen += more;
        if (seen.find(text) != std::string::npos) {
            return true;
        }
        std::this_thread::sleep_for(2ms);
    }
    return false;
}

// The log ends as every clean run ends: read-array written (the dialogue's
// own end resets with 0xF0 instead), access line down, and nothing wrong on
// the port anywhere.
void expectIdleEnd(const TempFolder& folder, const char* lastCommand = "<- 0xFF  read array") {
    const std::string log = readFile(folder.file("bus.log"));
    EXPECT_EQ(log.find("FAULT"), std::string::npos)
        << log.substr(log.find("FAULT") == std::string::npos ? 0 : log.find("FAULT"), 300);
    const std::size_t down = log.rfind("access line down");
    const std::size_t up = log.rfind("access line up");
    const std::size_t readArray = log.rfind(lastCommand);
    ASSERT_NE(down, std::string::npos);
    EXPECT_TRUE(up == std::string::npos || up < down) << "the access line is left up";
    ASSERT_NE(readArray, std::string::npos);
    EXPECT_LT(readArray, down);
    // No bus cycle after read-array was written.
    const std::string tail = log.substr(readArray);
    EXPECT_EQ(tail.find(" write ", 1), std::string::npos) << tail;
}

struct SignalCase {
    const char* name;
    int signal;
};

// The case as ctest and failures name it.
void PrintTo(const SignalCase& c, std::ostream* os) {
    *os << c.name;
}

class DialogueSignal : public testing::TestWithParam<SignalCase> {};

TEST_P(DialogueSignal, DuringTheLockWaitIsHeldUntilTheLinesAreIdle) {
    TempFolder folder;
    Launch launch{{}, {}, "b\n", "", false};
    launch.output = folder.file("stdout.txt");
    Process process = start(launch, folder);
    ASSERT_TRUE(awaitLog(folder, "set lock bit of block 0"));
    kill(process.pid, GetParam().signal);
    EXPECT_EQ(finish(process), 128 + GetParam().signal);
    expectIdleEnd(folder);
    // The lock command ran to its end and the status was shown, then the run ended.
    const std::string output = readFile(folder.file("stdout.txt"));
    EXPECT_NE(output.find("Please wait...\n\nBlock Query within 16Mb (01-block locked)\n[1]  0x00: 01 \n"),
              std::string::npos)
        << output;
    EXPECT_EQ(output.find("Press any key"), std::string::npos);
    EXPECT_EQ(readFile(folder.file("stderr.txt")), "");
}

INSTANTIATE_TEST_SUITE_P(Signals, DialogueSignal,
                         testing::Values(SignalCase{"interrupt", SIGINT}, SignalCase{"terminate", SIGTERM},
                                         SignalCase{"hangUp", SIGHUP}),
                         [](const testing::TestParamInfo<SignalCase>& info) { return info.param.name; });

TEST(DialogueOutput, ThatCannotBeWrittenEndsTheRunAsAClosedInputDoes) {
    for (const bool broken : {true, false}) {
        TempFolder folder;
        Launch launch{{}, {}, "b\nb\n", broken ? "" : "/dev/full", broken};
        Process process = start(launch, folder);
        EXPECT_EQ(finish(process), 0) << (broken ? "broken pipe" : "/dev/full");
        const std::string log = readFile(folder.file("bus.log"));
        EXPECT_EQ(log.find("lock setup"), std::string::npos) << "a lock command was carried out";
        expectIdleEnd(folder, "<- 0xF0  reset to read array");
    }
}

TEST(UnlockSignal, WaitsForTheTransactionToBeVerified) {
    TempFolder folder;
    writeFile(folder.file("state.txt"), "flashlock-sim-state 1\nchip 28F320J3\nlocked 1 6\n");
    Launch launch{{"unlock", "2"}, {"FLASHLOCK_SIM_BUSY=typical"}, "", "", false};
    launch.output = folder.file("stdout.txt");
    Process process = start(launch, folder);
    ASSERT_TRUE(awaitLog(folder, "clear all lock bits"));
    kill(process.pid, SIGINT);
    kill(process.pid, SIGINT);
    EXPECT_EQ(finish(process), 130);
    expectIdleEnd(folder);
    EXPECT_NE(readFile(folder.file("stdout.txt")).find("unlocked block 2; verified, locked now: 7 (1 of 32 blocks)"),
              std::string::npos)
        << readFile(folder.file("stdout.txt")) << readFile(folder.file("stderr.txt"));
    EXPECT_NE(readFile(folder.file("state.txt")).find("locked 6\n"), std::string::npos);
}

class WriteSignal : public testing::TestWithParam<SignalCase> {};

// A signal during a write lets the erase under way finish, restores the lock
// map and says how far the job got; the same command then finishes the job
// without redoing what is right.
TEST_P(WriteSignal, StopsAtAnEraseOrBufferWithTheLocksRestoredAndARerunFinishes) {
    TempFolder folder;
    // Block 1 must be erased; the start of block 2 only clears bits.
    writeFile(folder.file("old.bin"), std::string(0x20000, '\0') + std::string(0x100, '\xFF'));
    writeFile(folder.file("new.bin"), std::string(0x20100, 'Z'));
    writeFile(folder.file("state.txt"), "flashlock-sim-state 1\nchip 28F320J3\nimage old.bin\nlocked 1 6\n");
    Launch launch{{"write", "new.bin"}, {"FLASHLOCK_SIM_BUSY=typical"}, "", folder.file("stdout.txt"), false};
    Process process = start(launch, folder);
    ASSERT_TRUE(awaitLog(folder, "erase block 0 at"));
    kill(process.pid, GetParam().signal);
    EXPECT_EQ(finish(process), 128 + GetParam().signal);
    expectIdleEnd(folder);
    EXPECT_EQ(readFile(folder.file("stderr.txt")),
              "flashlock: interrupted: no block done; block 1 unfinished; not started: 2; lock bits as before; to "
              "finish the job, run the same command again: flashlock write new.bin\n");
    EXPECT_NE(readFile(folder.file("state.txt")).find("locked 1 6\n"), std::string::npos);
    if (GetParam().signal != SIGINT) {
        return;
    }

    Launch again{{"write", "new.bin"}, {"FLASHLOCK_SIM_BUSY=none"}, "", folder.file("stdout.txt"), false};
    Process rerun = start(again, folder);
    EXPECT_EQ(finish(rerun), 0) << readFile(folder.file("stderr.txt"));
    const std::string output = readFile(folder.file("stdout.txt"));
    // Block 1 was left erased: it is programmed without another erase.
    EXPECT_NE(output.find("erase        none\nprogram      131328 bytes in blocks 1-2\nread "), std::string::npos)
        << output;
    Launch check{{"verify", "new.bin"}, {}, "", "", false};
    Process verify = start(check, folder);
    EXPECT_EQ(finish(verify), 0) << readFile(folder.file("stderr.txt"));
    EXPECT_NE(readFile(folder.file("state.txt")).find("locked 1 6\n"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Signals, WriteSignal,
                         testing::Values(SignalCase{"interrupt", SIGINT}, SignalCase{"terminate", SIGTERM},
                                         SignalCase{"hangUp", SIGHUP}),
                         [](const testing::TestParamInfo<SignalCase>& info) { return info.param.name; });

struct AmdPart {
    const char* name;
    std::size_t imageSize;  // of the zeros the chip starts with
    // The write's offset: its first sector is also kept in part. On the 16-MiB
    // part the write stays within one sector of 128 KiB, for time.
    std::uint32_t at;
    std::size_t length;
    std::uint32_t checkFrom;  // where the check of the chip afterwards starts
    const char* progress;     // what the interrupted run says of its sectors
};

void PrintTo(const AmdPart& part, std::ostream* os) {
    *os << part.name;
}

class AmdWriteSignal : public testing::TestWithParam<AmdPart> {};

// Ctrl-C while an AMD-set part erases (DQ6 toggling for the CFI table's
// typical time): the erase ends, the run stops with the sectors named, and
// the same command then finishes the job, the bytes around the image kept.
TEST_P(AmdWriteSignal, StopsAfterTheEraseAndARerunFinishes) {
    const AmdPart& part = GetParam();
    TempFolder folder;
    writeFile(folder.file("old.bin"), std::string(part.imageSize, '\0'));
    writeFile(folder.file("new.bin"), std::string(part.length, 'Z'));
    std::string expected(part.imageSize - part.checkFrom, '\0');
    expected.replace(part.at - part.checkFrom, part.length, part.length, 'Z');
    writeFile(folder.file("expected.bin"), expected);
    writeFile(folder.file("state.txt"), std::string("flashlock-sim-state 1\nchip ") + part.name + "\nimage old.bin\n");
    const std::string chip = std::string("FLASHLOCK_SIM_CHIP=") + part.name;
    const auto hex = [](std::uint32_t value) {
        std::ostringstream text;
        text << "0x" << std::hex << std::uppercase << value;
        return text.str();
    };
    const std::string offset = hex(part.at);
    Launch launch{{"write", "new.bin", "--offset", offset}, {chip, "FLASHLOCK_SIM_BUSY=typical"}, "", "", false};
    Process process = start(launch, folder);
    ASSERT_TRUE(awaitLog(folder, "erase sector "));
    kill(process.pid, SIGINT);
    EXPECT_EQ(finish(process), 130);
    expectIdleEnd(folder, "<- 0xF0  reset: read array");
    const std::string stopped = readFile(folder.file("stderr.txt"));
    EXPECT_EQ(stopped.rfind(std::string("flashlock: interrupted: ") + part.progress, 0), 0U) << stopped;
    EXPECT_NE(stopped.find("to finish the job, run the same command again: flashlock write new.bin --offset " + offset +
                           "\n"),
              std::string::npos)
        << stopped;

    for (const std::vector<std::string>& again : {std::vector<std::string>{"write", "new.bin", "--offset", offset},
                                                  {"verify", "expected.bin", "--offset", hex(part.checkFrom)}}) {
        Process rerun = start({again, {chip, "FLASHLOCK_SIM_BUSY=none"}, "", "", false}, folder);
        EXPECT_EQ(finish(rerun), 0) << again[0] << ": " << readFile(folder.file("stderr.txt"));
    }
}

INSTANTIATE_TEST_SUITE_P(Signals, AmdWriteSignal,
                         testing::Values(AmdPart{"Am29LV160DB", 0x10000, 0x2000, 0x6000, 0,
                                                 "no block done; block 1 unfinished; not started: 2-3"},
                                         AmdPart{"Am29LV160DT", 0x200000, 0x1FA000, 0x4000, 0x1F0000,
                                                 "no block done; block 34 unfinished; not started: 35"},
                                         AmdPart{"S29GL128P", 0x20000, 0x1000, 0x1000, 0,
                                                 "no block done; block 1 unfinished;"}),
                         [](const testing::TestParamInfo<AmdPart>& info) { return info.param.name; });

TEST(ReadSignal, StopsAfterTheCurrentByteAndLeavesNoFile) {
    TempFolder folder;
    Launch launch{{"read", "backup.bin"}, {"FLASHLOCK_SIM_CHIP=28F128J3"}, "", "", false};
    Process process = start(launch, folder);
    ASSERT_TRUE(awaitLog(folder, "read  0x000100"));
    // A second Ctrl-C must not cut the clean end short.
    kill(process.pid, SIGINT);
    kill(process.pid, SIGINT);
    EXPECT_EQ(finish(process), 130);
    expectIdleEnd(folder);
    for (const auto& entry : std::filesystem::directory_iterator(folder.path)) {
        const std::string name = entry.path().filename().string();
        EXPECT_TRUE(name.find("backup.bin") == std::string::npos && name.rfind(".flashlock-", 0) != 0)
            << "left behind: " << entry.path();
    }
    EXPECT_NE(readFile(folder.file("stderr.txt")).find("backup.bin was not written"), std::string::npos);
}

// FLASHLOCK_SIM_KILL=after:1 ends the run as a power cut would, right after
// the job's first erase took effect and was saved: by SIGKILL, so that no
// handler of flashlock's runs and nothing more reaches the chip.
TEST(PowerCut, AfterTheFirstChangingCommandKillsTheRunOutright) {
    TempFolder folder;
    writeFile(folder.file("old.bin"), std::string(0x4000, '\0'));
    writeFile(folder.file("new.bin"), std::string(0x4000, 'Z'));
    writeFile(folder.file("state.txt"), "flashlock-sim-state 1\nchip Am29LV160DB\nimage old.bin\n");
    Launch launch{{"write", "new.bin"},
                  {"FLASHLOCK_SIM_CHIP=Am29LV160DB", "FLASHLOCK_SIM_BUSY=none", "FLASHLOCK_SIM_KILL=after:1"},
                  "",
                  folder.file("stdout.txt"),
                  false};
    Process process = start(launch, folder);
    const std::optional<int> status = waitStatus(process);
    ASSERT_TRUE(status) << "still running";
    EXPECT_TRUE(WIFSIGNALED(*status) && WTERMSIG(*status) == SIGKILL) << "wait status " << *status;
    EXPECT_EQ(readFile(folder.file("stderr.txt")), "");
    const std::string log = readFile(folder.file("bus.log"));
    const std::string cut = "erase sector 0 at 0x000000: done, busy for 0 us\n";
    ASSERT_NE(log.find(cut), std::string::npos) << log.substr(log.size() - std::min<std::size_t>(log.size(), 500));
    EXPECT_NE(log.find("power cut (FLASHLOCK_SIM_KILL=after:1): the process ends here, after the command that "
                       "changes the chip takes effect\n",
                       log.find(cut)),
              std::string::npos);
    EXPECT_EQ(log.find(" write ", log.find(cut)), std::string::npos) << "a bus cycle after the power cut";
    EXPECT_EQ(readFile(folder.file("state.txt.content")).substr(0, 0x4000), std::string(0x4000, '\xFF'));
}

TEST(CommandOutput, ThatCannotBeWrittenIsAFailure) {
    TempFolder folder;
    Launch launch{{"status"}, {}, "", "/dev/full", false};
    Process process = start(launch, folder);
    EXPECT_EQ(finish(process), 4);
    EXPECT_EQ(readFile(folder.file("stderr.txt")), "flashlock: standard output could not be written\n");
    expectIdleEnd(folder);
}

}  // namespace
