// A whole run of the real program on the simulated board, answering "x" at
// the menu: its wall time less the waits the program must make (detection
// 15020 us, identifier read 27 us, the dumps 3 + 13 + 23 us). What remains is
// what the program and the process around it add: start-up, loading the
// module, every bus cycle through the simulator, the console and the exit.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

extern char** environ;  // NOLINT(readability-redundant-declaration): POSIX names it, no header declares it

namespace {

constexpr double mandatoryWaitsMicroseconds = 15020 + 27 + 3 + 13 + 23;

int runOnce(const std::string& input, const std::string& state, const std::vector<std::string>& arguments = {},
            const std::vector<std::string>& settings = {}) {
    std::vector<std::string> variables = {std::string("LD_LIBRARY_PATH=") + FLASHLOCK_SIM_DIR,
                                          "FLASHLOCK_SIM_STATE=" + state};
    variables.insert(variables.end(), settings.begin(), settings.end());
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        if (text.rfind("LD_LIBRARY_PATH=", 0) != 0 && text.rfind("FLASHLOCK_", 0) != 0) {
            variables.push_back(text);
        }
    }
    std::vector<char*> envp;
    envp.reserve(variables.size() + 1);
    for (std::string& text : variables) {
        envp.push_back(text.data());
    }
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, input.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    std::string program = FLASHLOCK_PROGRAM;
    std::vector<std::string> words = arguments;
    std::vector<char*> argv{program.data()};
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    pid_t child = 0;
    const int spawned = posix_spawn(&child, program.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        return -1;
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void wholeRun(benchmark::State& state) {
    const std::string folder = std::string(FLASHLOCK_BENCH_DIR);
    const std::string input = folder + "/whole-run-input.txt";
    const std::string simState = folder + "/whole-run-state.txt";
    if (FILE* file = std::fopen(input.c_str(), "w"); file != nullptr) {
        std::fputs("x\n", file);
        std::fclose(file);
    }
    double totalMicroseconds = 0;
    for (auto _ : state) {
        const auto started = std::chrono::steady_clock::now();
        if (runOnce(input, simState) != 0) {
            state.SkipWithError("flashlock did not end with status 0 on the simulated board");
            return;
        }
        totalMicroseconds +=
            std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - started).count();
    }
    const double perRun = totalMicroseconds / static_cast<double>(state.iterations());
    state.counters["wall_us"] = perRun;
    state.counters["waits_us"] = mandatoryWaitsMicroseconds;
    state.counters["program_adds_us"] = perRun - mandatoryWaitsMicroseconds;
}

BENCHMARK(wholeRun)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(30);

void writeText(const std::string& path, const char* text) {
    if (FILE* file = std::fopen(path.c_str(), "w"); file != nullptr) {
        std::fputs(text, file);
        std::fclose(file);
    }
}

// Unlocking block 2 of a 28F320J3 with blocks 2 and 7 locked, keeping 7
// locked, with the simulated chip's datasheet-typical busy times (0.5 s for
// the clear): the command polls the status register and is done when the
// chip is. Beside it, what the dialogue offers for the same chip: c (clear
// all, then a fixed 2 s) and, in a second run, b (set block 1 only, another
// fixed 2 s); block 7 it cannot lock again at all.
void unlockOneBlock(benchmark::State& state) {
    const std::string folder = std::string(FLASHLOCK_BENCH_DIR);
    const std::string simState = folder + "/unlock-state.txt";
    const std::string input = folder + "/unlock-input.txt";
    writeText(input, "");
    for (auto _ : state) {
        state.PauseTiming();
        writeText(simState, "flashlock-sim-state 1\nchip 28F320J3\nlocked 1 6\n");
        state.ResumeTiming();
        if (runOnce(input, simState, {"unlock", "2"}, {"FLASHLOCK_SIM_BUSY=typical"}) != 0) {
            state.SkipWithError("flashlock unlock did not end with status 0");
            return;
        }
    }
}

void dialogueClearThenSet(benchmark::State& state) {
    const std::string folder = std::string(FLASHLOCK_BENCH_DIR);
    const std::string simState = folder + "/dialogue-state.txt";
    const std::string clear = folder + "/dialogue-clear.txt";
    const std::string set = folder + "/dialogue-set.txt";
    writeText(clear, "c\n\n");
    writeText(set, "b\nx\n\n");
    for (auto _ : state) {
        state.PauseTiming();
        writeText(simState, "flashlock-sim-state 1\nchip 28F320J3\nlocked 1 6\n");
        state.ResumeTiming();
        if (runOnce(clear, simState, {}, {"FLASHLOCK_SIM_BUSY=typical"}) != 0 ||
            runOnce(set, simState, {}, {"FLASHLOCK_SIM_BUSY=typical"}) != 0) {
            state.SkipWithError("the dialogue did not end with status 0");
            return;
        }
    }
}

// A whole 4-Mbyte backup through the simulator, as a user runs it.
void readWholeChip(benchmark::State& state) {
    const std::string folder = std::string(FLASHLOCK_BENCH_DIR);
    const std::string simState = folder + "/read-state.txt";
    const std::string input = folder + "/read-input.txt";
    writeText(input, "");
    for (auto _ : state) {
        if (runOnce(input, simState, {"read", folder + "/backup.bin", "--force", "--quiet"}) != 0) {
            state.SkipWithError("flashlock read did not end with status 0");
            return;
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 4 * 1024 * 1024);
}

// A whole 4-Mbyte image written over one that differs in every block, as a
// user runs it: the read to plan, 32 erases, the buffers, every block read
// back, the lock map checked; the simulated chip is never busy.
void writeWholeChip(benchmark::State& state) {
    const std::string folder = std::string(FLASHLOCK_BENCH_DIR);
    const std::string simState = folder + "/write-state.txt";
    const std::string input = folder + "/write-input.txt";
    writeText(input, "");
    constexpr std::size_t size = std::size_t{4} * 1024 * 1024;
    std::string image(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        image[i] = static_cast<char>((i * 31U + (i >> 8U)) % 251U + 1U);
    }
    // The chip holds 0x00 everywhere before each run, so every block must be erased.
    for (const auto& [name, content] :
         {std::pair{"/write-new.bin", image}, std::pair{"/write-zero.bin", std::string(size, '\0')}}) {
        if (FILE* file = std::fopen((folder + name).c_str(), "wb"); file != nullptr) {
            std::fwrite(content.data(), 1, content.size(), file);
            std::fclose(file);
        }
    }
    for (auto _ : state) {
        state.PauseTiming();
        writeText(simState, "flashlock-sim-state 1\nchip 28F320J3\nimage write-zero.bin\n");
        std::remove((simState + ".content").c_str());
        state.ResumeTiming();
        if (runOnce(input, simState, {"write", folder + "/write-new.bin", "--quiet"}, {"FLASHLOCK_SIM_BUSY=none"}) !=
            0) {
            state.SkipWithError("flashlock write did not end with status 0");
            return;
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
}

BENCHMARK(unlockOneBlock)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(writeWholeChip)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);
BENCHMARK(dialogueClearThenSet)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(readWholeChip)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

}  // namespace
