// How exactly waitMicroseconds keeps its promise: the actual duration of each
// wait, as overshoot over the request, in microseconds and as a ratio, and how
// many waits came out shorter than asked.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "driver/Zantrel4v4.h"
#include "platform/Platform.h"

namespace {

// The program builds its board driver before anything else in the process
// reads the counter, so the driver meets the counter cold. This one is built
// the same way, as the process starts and before Google Benchmark's own
// readings, and like the program's it is never destroyed.
Zantrel4v4& startUpDriver() {
    // NOLINTNEXTLINE(cppcoreguidelines-owning-memory,cppcoreguidelines-avoid-non-const-global-variables)
    static auto* const driver = new Zantrel4v4(888);
    return *driver;
}
// NOLINTNEXTLINE(cert-err58-cpp): a failure to start is the benchmark's to report
[[maybe_unused]] const bool startUpDriverBuilt = (startUpDriver(), true);

double percentile(std::vector<double> values, double fraction) {
    std::sort(values.begin(), values.end());
    const auto index = static_cast<std::size_t>(std::lround(fraction * static_cast<double>(values.size() - 1)));
    return values.at(index);
}

void waitAccuracy(benchmark::State& state) {
    const auto requested = static_cast<std::uint32_t>(state.range(0));
    platform::TickCounter& counter = platform::systemCounter();
    Zantrel4v4& driver = startUpDriver();
    const std::int64_t frequency = counter.frequency();
    const double ticksPerMicrosecond = static_cast<double>(frequency) / 1e6;
    // A span from one reading to the next holds the wait and one reading
    // more: at least the cost the driver would measure now, warm.
    const std::int64_t readingCost = counterReadingCost(counter);

    std::vector<double> overshoot;
    int shortWaits = 0;
    for (auto _ : state) {
        const std::int64_t start = counter.now();
        driver.waitMicroseconds(requested);
        const std::int64_t waited = counter.now() - start - readingCost;
        overshoot.push_back(static_cast<double>(waited) / ticksPerMicrosecond - requested);
        if (waited * 1000000 < static_cast<std::int64_t>(requested) * frequency) {
            ++shortWaits;
        }
    }
    state.counters["overshoot_min_us"] = percentile(overshoot, 0.0);
    state.counters["overshoot_median_us"] = percentile(overshoot, 0.5);
    state.counters["overshoot_p99_us"] = percentile(overshoot, 0.99);
    state.counters["overshoot_max_us"] = percentile(overshoot, 1.0);
    state.counters["ratio_median"] = (requested + percentile(overshoot, 0.5)) / requested;
    state.counters["ratio_max"] = (requested + percentile(overshoot, 1.0)) / requested;
    state.counters["read_cost_us"] = static_cast<double>(readingCost) / ticksPerMicrosecond;
    state.counters["short_waits"] = shortWaits;
}

BENCHMARK(waitAccuracy)->Arg(1)->Arg(10)->Arg(15000)->Unit(benchmark::kMicrosecond);
// The lock wait: two seconds a run, so only a few.
BENCHMARK(waitAccuracy)->Arg(2000000)->Iterations(5)->Unit(benchmark::kMillisecond);

}  // namespace
