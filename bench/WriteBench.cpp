// What programming costs in port accesses, the board's real price: the board
// driver runs over the simulated board in this process, and every PortOut and
// PortIn it makes is counted. The figures, each against its floor:
// - accesses per programmed byte, on an Intel part's write buffer (setup,
//   one extended-status read, count, data, confirm, one status read), an AMD
//   part's write buffer (two unlock cycles, 0x25, the count, the data, 0x29,
//   one data-polling read) and an AMD part without one (four write cycles a
//   byte and one polling read);
// - a whole 4-Mbyte image that differs in every block, planned, written and
//   read back as the write command does, with stepping reads against full
//   24-bit shifts for every read (how every read went before).
// On a real board each access takes about a microsecond, so the counts are
// also the time a write takes there, less the chip's own busy time.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "bench/CountedBoard.h"
#include "flash/ArrayReader.h"
#include "flash/ImageWriter.h"
#include "flash/LockMap.h"
#include "flash/WritePlan.h"

namespace {

constexpr std::uint32_t chipSize = 4 * 1024 * 1024;
using bench::counted;
using bench::microsecondsPerAccess;

struct Bench : bench::CountedBoard {
    using CountedBoard::CountedBoard;

    // A status or data-polling read at the address the register holds.
    [[nodiscard]] std::uint64_t pollCycle() {
        const std::uint64_t start = counted().accesses;
        static_cast<void>(chip.readAgain());
        return counted().accesses - start;
    }
};

std::vector<std::uint8_t> pattern(std::size_t size) {
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<std::uint8_t>((i * 31U + (i >> 8U)) % 251U);
    }
    return bytes;
}

// Every byte of the part programmed, in its own program commands, against
// `floor(bytes per command)` accesses for each.
void programmingAccesses(benchmark::State& state, const char* part,
                         const std::function<double(Bench&, std::uint32_t bytes)>& floor) {
    Bench bench("", part);
    if (!bench.ready) {
        state.SkipWithError("the simulated board did not answer");
        return;
    }
    const std::uint32_t size = bench.geometry().size;
    const std::vector<std::uint8_t> data = pattern(size);
    const std::uint32_t unit = bench.commands->programUnit();
    std::uint64_t accesses = 0;
    for (auto _ : state) {
        const std::uint64_t start = counted().accesses;
        for (std::uint32_t address = 0; address < size; address += unit) {
            if (!bench.commands->program(address, &data[address], unit).ok) {
                state.SkipWithError("a program command failed");
                return;
            }
        }
        accesses = counted().accesses - start;
    }
    const double least = floor(bench, unit) * (static_cast<double>(size) / unit);
    state.counters["accesses_per_byte"] = static_cast<double>(accesses) / size;
    state.counters["floor_per_byte"] = least / size;
    state.counters["ratio"] = static_cast<double>(accesses) / least;
    state.counters["real_board_s"] = static_cast<double>(accesses) * microsecondsPerAccess / 1e6;
}

void intelBuffer(benchmark::State& state) {
    programmingAccesses(state, "28F320J3", [](Bench& bench, std::uint32_t bytes) {
        return static_cast<double>((3 + bytes) * bench.writeCycle + 2 * bench.pollCycle());
    });
}

void amdBuffer(benchmark::State& state) {
    programmingAccesses(state, "S29GL128P", [](Bench& bench, std::uint32_t bytes) {
        // The last byte is polled at its own address: one full read cycle.
        return static_cast<double>((5 + bytes) * bench.writeCycle + bench.readCycle);
    });
}

void amdBytes(benchmark::State& state) {
    programmingAccesses(state, "Am29LV160DB", [](Bench& bench, std::uint32_t /*bytes*/) {
        return static_cast<double>(4 * bench.writeCycle + bench.pollCycle());
    });
}

// The accesses of a whole write: the planning read, erase, program and
// read-back, with stepping reads allowed or not.
std::uint64_t wholeWrite(bool stepping, benchmark::State& state) {
    const std::string folder = FLASHLOCK_BENCH_DIR;
    const std::string statePath = folder + "/whole-write-state.txt";
    {
        std::ofstream(folder + "/whole-write-old.bin", std::ios::binary)
            .write(std::string(chipSize, '\0').data(), chipSize);
        std::ofstream(statePath) << "flashlock-sim-state 1\nchip 28F320J3\nimage whole-write-old.bin\n";
        std::remove((statePath + ".content").c_str());
    }
    Bench bench(statePath);
    if (!bench.ready) {
        state.SkipWithError("the simulated board did not answer as a 28F320J3");
        return 0;
    }
    const std::vector<WantedRange> image{{0, pattern(chipSize)}};
    LockMap locks(*bench.commands);
    ArrayReader reader(*bench.commands, stepping);
    const std::uint64_t start = counted().accesses;
    const LockState before = locks.read();
    const std::vector<Block>& blocks = bench.geometry().blocks;
    PlanCallbacks callbacks;
    callbacks.read = arrayBytes(*bench.commands);
    std::optional<std::vector<std::uint8_t>> whole;
    if (reader.willStep(static_cast<std::uint32_t>(estimatePlanReads(blocks, image, callbacks.read, 16)))) {
        whole = reader.readWhole({}, {});
        callbacks.read = [&whole](std::uint32_t address) { return (*whole)[address]; };
    }
    const WritePlan plan = planWrite(blocks, image, bench.commands->programUnit(), callbacks);
    ImageWriter writer(*bench.commands, locks, &reader);
    const WriteOutcome outcome = writer.run(plan, before, true, {});
    if (outcome.failed() || plan.blocksToErase() != blocks.size()) {
        state.SkipWithError("the write did not erase, program and verify every block");
        return 0;
    }
    return counted().accesses - start;
}

void wholeImageWrite(benchmark::State& state) {
    std::uint64_t stepped = 0;
    std::uint64_t shifted = 0;
    for (auto _ : state) {
        shifted = wholeWrite(false, state);
        stepped = wholeWrite(true, state);
    }
    state.counters["accesses_M"] = static_cast<double>(stepped) / 1e6;
    state.counters["full_shifts_M"] = static_cast<double>(shifted) / 1e6;
    state.counters["ratio"] = static_cast<double>(stepped) / static_cast<double>(shifted);
    state.counters["real_board_s"] = static_cast<double>(stepped) * microsecondsPerAccess / 1e6;
    state.counters["full_shifts_real_board_s"] = static_cast<double>(shifted) * microsecondsPerAccess / 1e6;
}

BENCHMARK(intelBuffer)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(amdBuffer)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(amdBytes)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(wholeImageWrite)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
