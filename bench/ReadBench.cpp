// What reading the array costs in port accesses, the board's real price: the
// board driver runs over the simulated board in this process, and every
// PortOut and PortIn it makes is counted.
// - A whole chip read by stepping the address register, a bit clocked in a
//   byte, against reading it with the full 24-bit address a byte; the board's
//   self-test counted apart, as it comes once a run.
// - A status poll, which reads again at the address the register holds,
//   against a read cycle that shifts the address first.
// On a real board each access takes about a microsecond.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "bench/CountedBoard.h"
#include "flash/ArrayReader.h"

namespace {

using bench::counted;
using bench::microsecondsPerAccess;

// Bytes read by full shifts to price them: any range costs the same a byte.
constexpr std::uint32_t sampleLength = 64 * 1024;

void wholeChipRead(benchmark::State& state, const char* part, std::uint32_t size) {
    const std::string folder = FLASHLOCK_BENCH_DIR;
    const std::string statePath = folder + "/whole-read-" + part + ".txt";
    std::vector<std::uint8_t> content(size);
    std::mt19937 generator(size);
    for (std::uint8_t& byte : content) {
        byte = static_cast<std::uint8_t>(generator());
    }
    {
        const std::string image = std::string("whole-read-") + part + ".bin";
        std::ofstream(folder + "/" + image, std::ios::binary)
            .write(
                reinterpret_cast<const char*>(content.data()),  // NOLINT(cppcoreguidelines-pro-type-reinterpret-cast)
                static_cast<std::streamsize>(size));
        std::ofstream(statePath) << "flashlock-sim-state 1\nchip " << part << "\nimage " << image << '\n';
    }
    bench::CountedBoard board(statePath, part);
    if (!board.ready || board.geometry().size != size) {
        state.SkipWithError("the simulated board did not answer with the part asked for");
        return;
    }
    bool fellBack = false;
    ArrayReader reader(*board.commands, true, [&fellBack] { fellBack = true; });
    std::uint64_t selfTest = 0;
    std::uint64_t stepping = 0;
    for (auto _ : state) {
        const std::uint64_t start = counted().accesses;
        const bool steps = reader.willStep(size);
        selfTest = counted().accesses - start;
        const std::optional<std::vector<std::uint8_t>> image = reader.readWhole({}, {});
        stepping = counted().accesses - start - selfTest;
        if (!steps || fellBack || !image || *image != content) {
            state.SkipWithError("the stepping read did not give the chip's content");
            return;
        }
    }
    const std::uint64_t start = counted().accesses;
    readArray(*board.commands, 0, sampleLength, {});
    // Less the read-array command the read starts with.
    const double fullShift = static_cast<double>(counted().accesses - start - board.writeCycle) / sampleLength;
    const double perByte = static_cast<double>(stepping) / size;
    state.counters["accesses_per_byte"] = perByte;
    state.counters["full_shift_per_byte"] = fullShift;
    state.counters["self_test_accesses"] = static_cast<double>(selfTest);
    state.counters["ratio"] = fullShift / perByte;
    state.counters["real_board_s"] = static_cast<double>(stepping + selfTest) * microsecondsPerAccess / 1e6;
    state.counters["full_shifts_real_board_s"] = fullShift * size * microsecondsPerAccess / 1e6;
}

void pollingRead(benchmark::State& state) {
    bench::CountedBoard board("");
    if (!board.ready) {
        state.SkipWithError("the simulated board did not answer");
        return;
    }
    std::uint64_t poll = 0;
    for (auto _ : state) {
        const std::uint64_t start = counted().accesses;
        benchmark::DoNotOptimize(board.chip.readAgain());
        poll = counted().accesses - start;
    }
    state.counters["poll_accesses"] = static_cast<double>(poll);
    state.counters["read_cycle_accesses"] = static_cast<double>(board.readCycle);
}

BENCHMARK_CAPTURE(wholeChipRead, 28F320J3, "28F320J3", 4U << 20U)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK_CAPTURE(wholeChipRead, 28F640J3, "28F640J3", 8U << 20U)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK_CAPTURE(wholeChipRead, 28F128J3, "28F128J3", 16U << 20U)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(pollingRead);

}  // namespace
