// How exactly waitMicroseconds keeps its promise: the actual duration of each
// wait, as overshoot over the request, in microseconds and as a ratio.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "driver/Zantrel4v4.h"
#include "platform/Platform.h"

namespace {

double percentile(std::vector<double> values, double fraction) {
    std::sort(values.begin(), values.end());
    const auto index = static_cast<std::size_t>(std::lround(fraction * static_cast<double>(values.size() - 1)));
    return values.at(index);
}

void waitAccuracy(benchmark::State& state) {
    const auto requested = static_cast<std::uint32_t>(state.range(0));
    platform::TickCounter& counter = platform::systemCounter();
    Zantrel4v4 driver(888);
    const double ticksPerMicrosecond = static_cast<double>(counter.frequency()) / 1e6;
    // The cost of one counter read, measured as the driver measures it.
    const std::int64_t first = counter.now();
    const double readCost = static_cast<double>(counter.now() - first) / ticksPerMicrosecond;

    std::vector<double> overshoot;
    int shortWaits = 0;
    for (auto _ : state) {
        const std::int64_t start = counter.now();
        driver.waitMicroseconds(requested);
        const std::int64_t end = counter.now();
        const double actual = static_cast<double>(end - start) / ticksPerMicrosecond;
        overshoot.push_back(actual - requested);
        if (actual < requested - readCost) {
            ++shortWaits;
        }
    }
    state.counters["overshoot_min_us"] = percentile(overshoot, 0.0);
    state.counters["overshoot_median_us"] = percentile(overshoot, 0.5);
    state.counters["overshoot_p99_us"] = percentile(overshoot, 0.99);
    state.counters["overshoot_max_us"] = percentile(overshoot, 1.0);
    state.counters["ratio_median"] = (requested + percentile(overshoot, 0.5)) / requested;
    state.counters["ratio_max"] = (requested + percentile(overshoot, 1.0)) / requested;
    state.counters["read_cost_us"] = readCost;
    state.counters["short_waits"] = shortWaits;
}

BENCHMARK(waitAccuracy)->Arg(1)->Arg(10)->Arg(15000)->Unit(benchmark::kMicrosecond);
// The lock wait: two seconds a run, so only a few.
BENCHMARK(waitAccuracy)->Arg(2000000)->Iterations(5)->Unit(benchmark::kMillisecond);

}  // namespace
