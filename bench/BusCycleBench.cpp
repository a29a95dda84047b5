// flashlock's own software cost per bus cycle and per dump, through the real
// board driver and binding on a module whose port accesses do nothing, next
// to the floor: the same number of bare PortOut/PortIn calls into that module.
// The mandatory waits of a sequence (1 us per write strobe, 10 us settles) are
// time the chip needs, not software cost, and are subtracted.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <ostream>
#include <streambuf>

#include "app/DialogueChip.h"
#include "bench/null/NullIo.h"
#include "driver/PortIoLibrary.h"
#include "driver/Zantrel4v4.h"
#include "flash/ArrayReader.h"
#include "flash/FlashChip.h"
#include "flash/intel/IntelCommandSet.h"
#include "platform/Platform.h"

namespace {

// Dumps print; the console is not what is measured.
class NullBuffer final : public std::streambuf {
protected:
    int overflow(int c) override { return c; }
    std::streamsize xsputn(const char* /*text*/, std::streamsize count) override { return count; }
};

struct Calls {
    std::uint64_t outs = 0;
    std::uint64_t ins = 0;
};

class Bench {
public:
    Bench()
        : module(platform::loadModule("io")),
          // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast): the export has this type
          countsOf(reinterpret_cast<NullIoCountsFunction>(platform::findSymbol(module, "NullIoCounts"))) {}
    ~Bench() { platform::unloadModule(module); }
    Bench(const Bench&) = delete;
    Bench& operator=(const Bench&) = delete;
    Bench(Bench&&) = delete;
    Bench& operator=(Bench&&) = delete;

    [[nodiscard]] bool ready() const { return countsOf != nullptr; }
    [[nodiscard]] Calls counts() const {
        Calls calls;
        countsOf(&calls.outs, &calls.ins);
        return calls;
    }

private:
    platform::ModuleHandle module;
    NullIoCountsFunction countsOf = nullptr;
};

// Runs `operation` as the benchmark and reports, per operation: the software
// time (wall time less the mandatory waits), the floor for the same port
// calls, and their ratio.
void measure(benchmark::State& state, double waitsMicroseconds,
             const std::function<void(FlashChip&, DialogueChip&)>& operation, double bytesRead = 0) {
    Bench bench;
    if (!bench.ready()) {
        state.SkipWithError("the null io module is not on the library path");
        return;
    }
    Zantrel4v4 driver(888);
    NullBuffer sink;
    std::ostream console(&sink);
    FlashChip chip(&driver);
    DialogueChip dialogue(chip, console);

    const Calls before = bench.counts();
    const auto started = std::chrono::steady_clock::now();
    for (auto _ : state) {
        operation(chip, dialogue);
    }
    const std::chrono::duration<double, std::nano> elapsed = std::chrono::steady_clock::now() - started;
    const Calls after = bench.counts();
    const auto iterations = static_cast<double>(state.iterations());
    const double softwareNs = elapsed.count() / iterations - waitsMicroseconds * 1000.0;

    // The floor: the very same number of calls, straight into the module.
    const std::uint64_t outs = after.outs - before.outs;
    const std::uint64_t ins = after.ins - before.ins;
    const portio::PortOutFunction portOut = portIoLibrary.portOut();
    const portio::PortInFunction portIn = portIoLibrary.portIn();
    const auto floorStarted = std::chrono::steady_clock::now();
    for (std::uint64_t i = 0; i < outs; ++i) {
        portOut(888, static_cast<std::int8_t>(i));
    }
    for (std::uint64_t i = 0; i < ins; ++i) {
        benchmark::DoNotOptimize(portIn(889));
    }
    const std::chrono::duration<double, std::nano> floorElapsed = std::chrono::steady_clock::now() - floorStarted;
    const double floorNs = floorElapsed.count() / iterations;

    state.counters["port_writes"] = static_cast<double>(outs) / iterations;
    state.counters["port_reads"] = static_cast<double>(ins) / iterations;
    state.counters["software_ns"] = softwareNs;
    state.counters["floor_ns"] = floorNs;
    state.counters["ratio"] = softwareNs / floorNs;
    if (bytesRead > 0) {
        state.counters["bytes_per_s"] = bytesRead / (softwareNs * 1e-9);
        state.counters["floor_bytes_per_s"] = bytesRead / (floorNs * 1e-9);
    }
}

// Only the command set's read-array command and reads are timed: the null
// board answers no query, so the part is described here.
const Geometry& intelPart() {
    static const Geometry geometry = [] {
        Geometry part;
        part.commandSet = cfiCommandSet::intelExtended;
        part.size = std::uint32_t{1} << 22U;
        return part;
    }();
    return geometry;
}

void readCycle(benchmark::State& state) {
    measure(state, 0, [](FlashChip& chip, DialogueChip&) { benchmark::DoNotOptimize(chip.readAt(0x123456)); });
}
void writeCycle(benchmark::State& state) {
    measure(state, 1, [](FlashChip& chip, DialogueChip&) { chip.writeAt(0x555, 0xAA); });
}
// Three write cycles.
void dumpArray(benchmark::State& state) {
    measure(state, 3, [](FlashChip&, DialogueChip& dialogue) { dialogue.dumpArray(); });
}
// Three write cycles and the 10 us settle of closing access.
void dumpCfiQuery(benchmark::State& state) {
    measure(state, 13, [](FlashChip&, DialogueChip& dialogue) { dialogue.dumpCfiQuery(); });
}
// Opening and closing access (10 us each) and three write cycles.
void queryBlockLocks(benchmark::State& state) {
    measure(state, 23, [](FlashChip&, DialogueChip& dialogue) { dialogue.queryBlockLocks(); });
}

// A backup's inner loop: 64 KiB in read-array mode through the chunked
// reader, with its progress and stop callbacks, after one write cycle.
void readArray64k(benchmark::State& state) {
    constexpr std::uint32_t length = 65536;
    std::uint64_t sum = 0;
    ArrayReadCallbacks callbacks;
    callbacks.chunk = [&sum](const std::uint8_t* bytes, std::size_t count) { sum += bytes[count - 1]; };
    callbacks.progress = [](std::uint32_t done) { benchmark::DoNotOptimize(done); };
    callbacks.stop = [] { return false; };
    measure(
        state, 1,
        [&callbacks](FlashChip& chip, DialogueChip&) {
            IntelCommandSet commands(chip, intelPart());
            readArray(commands, 0, length, callbacks);
        },
        length);
    benchmark::DoNotOptimize(sum);
}

BENCHMARK(readCycle);
BENCHMARK(readArray64k)->Unit(benchmark::kMillisecond);
BENCHMARK(writeCycle);
BENCHMARK(dumpArray)->Unit(benchmark::kMicrosecond);
BENCHMARK(dumpCfiQuery)->Unit(benchmark::kMicrosecond);
BENCHMARK(queryBlockLocks)->Unit(benchmark::kMicrosecond);

}  // namespace
