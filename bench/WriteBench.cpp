// What programming costs in port accesses, the board's real price: the board
// driver runs over the simulated board in this process, and every PortOut and
// PortIn it makes is counted. Two figures, each against its floor:
// - accesses per programmed byte through the write buffer, against one setup,
//   one extended-status read, one count, the data, one confirm and one status
//   read per buffer;
// - a whole 4-Mbyte image that differs in every block, planned by reading and
//   written with every block read back, against erase + buffer program +
//   read-back of every block.
// On a real board each access takes about a microsecond, so the counts are
// also the time a write takes there, less the chip's own busy time.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <fstream>
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

    [[nodiscard]] double bufferFloor(std::uint32_t bytes) const {
        return static_cast<double>((3 + bytes) * writeCycle + 2 * readCycle);
    }
};

std::vector<std::uint8_t> pattern(std::size_t size) {
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<std::uint8_t>((i * 31U + (i >> 8U)) % 251U);
    }
    return bytes;
}

void programmingAccesses(benchmark::State& state) {
    Bench bench("");
    if (!bench.ready || bench.geometry().writeBufferSize == 0) {
        state.SkipWithError("the simulated board did not answer as a 28F320J3 with a write buffer");
        return;
    }
    const std::vector<std::uint8_t> data = pattern(chipSize);
    const std::uint32_t buffer = bench.geometry().writeBufferSize;
    std::uint64_t accesses = 0;
    for (auto _ : state) {
        const std::uint64_t start = counted().accesses;
        for (std::uint32_t address = 0; address < chipSize; address += buffer) {
            if (!bench.commands->program(address, &data[address], buffer).ok) {
                state.SkipWithError("a buffer program failed");
                return;
            }
        }
        accesses = counted().accesses - start;
    }
    const double buffers = static_cast<double>(chipSize) / buffer;
    const double floor = bench.bufferFloor(buffer) * buffers;
    state.counters["accesses_per_byte"] = static_cast<double>(accesses) / chipSize;
    state.counters["floor_per_byte"] = floor / chipSize;
    state.counters["ratio"] = static_cast<double>(accesses) / floor;
    state.counters["real_board_s"] = static_cast<double>(accesses) * microsecondsPerAccess / 1e6;
}

void wholeImageWrite(benchmark::State& state) {
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
        return;
    }
    const std::vector<std::uint8_t> image = pattern(chipSize);
    LockMap locks(*bench.commands);
    std::uint64_t accesses = 0;
    std::uint64_t read = 0;
    for (auto _ : state) {
        const std::uint64_t start = counted().accesses;
        const LockState before = locks.read();
        PlanCallbacks callbacks;
        callbacks.read = arrayBytes(*bench.commands);
        const WritePlan plan =
            planWrite(bench.geometry().blocks, 0, image, bench.geometry().writeBufferSize, callbacks);
        ImageWriter writer(*bench.commands, locks);
        const WriteOutcome outcome = writer.run(plan, before, true, {});
        if (outcome.failed() || plan.blocksToErase() != bench.geometry().blocks.size()) {
            state.SkipWithError("the write did not erase, program and verify every block");
            return;
        }
        accesses = counted().accesses - start;
        read = plan.bytesRead;
    }
    const std::uint32_t buffer = bench.geometry().writeBufferSize;
    const auto blockCount = static_cast<double>(bench.geometry().blocks.size());
    const auto eraseFloor = static_cast<double>(2 * bench.writeCycle + bench.readCycle);
    const double floor = blockCount * eraseFloor +
                         bench.bufferFloor(buffer) * (static_cast<double>(chipSize) / buffer) +
                         static_cast<double>(chipSize) * static_cast<double>(bench.readCycle);
    state.counters["accesses_M"] = static_cast<double>(accesses) / 1e6;
    state.counters["floor_M"] = floor / 1e6;
    state.counters["ratio"] = static_cast<double>(accesses) / floor;
    state.counters["read_to_plan_bytes"] = static_cast<double>(read);
    state.counters["real_board_s"] = static_cast<double>(accesses) * microsecondsPerAccess / 1e6;
}

BENCHMARK(programmingAccesses)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(wholeImageWrite)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
