#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "iolib/parport/OsCalls.h"
#include "iolib/parport/ParallelPort.h"

namespace {

const char* noVariables(const char* /*name*/) {
    return nullptr;
}

const char* askForDirectIo(const char* name) {
    return std::string_view(name) == "FLASHLOCK_IO" ? "direct" : nullptr;
}

// An OS whose parport0 at 0x378 accepts every call at once and does nothing,
// so what is measured is the module's own work per access: the register
// decoding, the masking and the call through the seam.
parport::OsCalls idleOs(bool direct) {
    return {
        .open = [](const char*, int) { return 3; },
        .ioctl = [](int, unsigned long, void*) { return 0; },
        .close = [](int) { return 0; },
        .flock = [](int, int) { return 0; },
        .listDirectory =
            [](const char*, std::vector<std::string>& names) {
                names = {"parport0"};
                return true;
            },
        .readFile =
            [](const char*, std::string& contents) {
                contents = "888\t1912\n";
                return true;
            },
        .ioperm = [](unsigned long, unsigned long, int) { return 0; },
        .inb = [](std::uint16_t) -> std::uint8_t { return 0x7F; },
        .outb = [](std::uint8_t, std::uint16_t) {},
        .getEnv = direct ? askForDirectIo : noVariables,
        .printError = [](const char*) {},
    };
}

void writeAt(benchmark::State& state, bool direct, std::uint16_t address) {
    parport::ParallelPort port(idleOs(direct));
    port.write(address, 0x00);  // the first access opens and claims: not part of the cost per access
    std::uint8_t value = 0;
    for (auto _ : state) {
        port.write(address, value);
        ++value;
    }
    state.SetItemsProcessed(state.iterations());
}

void readAt(benchmark::State& state, bool direct, std::uint16_t address) {
    parport::ParallelPort port(idleOs(direct));
    benchmark::DoNotOptimize(port.read(address));
    for (auto _ : state) {
        benchmark::DoNotOptimize(port.read(address));
    }
    state.SetItemsProcessed(state.iterations());
}

void PpdevPortOutData(benchmark::State& state) {
    writeAt(state, false, 0x378);
}
void PpdevPortOutControl(benchmark::State& state) {
    writeAt(state, false, 0x37A);
}
void PpdevPortInStatus(benchmark::State& state) {
    readAt(state, false, 0x379);
}
void DirectPortOutData(benchmark::State& state) {
    writeAt(state, true, 0x378);
}
void DirectPortInStatus(benchmark::State& state) {
    readAt(state, true, 0x379);
}

// Opening and claiming once per run, for comparison with the per-access cost.
// cppcheck-suppress constParameterCallback
void PpdevFirstAccess(benchmark::State& state) {
    for (auto _ : state) {
        parport::ParallelPort port(idleOs(false));
        port.write(0x378, 0x00);
    }
}

BENCHMARK(PpdevPortOutData);
BENCHMARK(PpdevPortOutControl);
BENCHMARK(PpdevPortInStatus);
BENCHMARK(DirectPortOutData);
BENCHMARK(DirectPortInStatus);
BENCHMARK(PpdevFirstAccess);

}  // namespace

BENCHMARK_MAIN();
