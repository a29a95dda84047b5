#include "app/Progress.h"

#include <array>
#include <cmath>
#include <cstdio>

namespace {

constexpr int redrawsPerSecond = 10;

template <typename... Args>
std::string format(const char* pattern, Args... args) {
    std::array<char, 64> text{};
    // NOLINTNEXTLINE(cppcoreguidelines-pro-type-vararg,hicpp-vararg)
    const int length = std::snprintf(text.data(), text.size(), pattern, args...);
    return {text.data(), static_cast<std::size_t>(std::max(length, 0))};
}

}  // namespace

std::string humanBytes(double bytes) {
    if (bytes < 1024) {
        return format(bytes == 1 ? "%.0f byte" : "%.0f bytes", bytes);
    }
    const bool kibibytes = bytes < 1024 * 1024;
    const double value = kibibytes ? bytes / 1024 : bytes / (1024 * 1024);
    // Whole sizes (block and chip sizes) read better without a fraction.
    return format(value == std::floor(value) ? "%.0f %s" : "%.1f %s", value, kibibytes ? "KiB" : "MiB");
}

std::string humanDuration(double seconds) {
    if (seconds < 60) {
        return format("%.1f s", seconds);
    }
    const auto whole = static_cast<long>(std::lround(seconds));
    return format("%ldm%02lds", whole / 60, whole % 60);
}

ProgressLine::ProgressLine(std::ostream& terminal, bool shown, platform::TickCounter& clock, std::uint32_t total)
    : terminal(&terminal), shown(shown), clock(&clock), total(total), start(clock.now()) {}

double ProgressLine::elapsed() const {
    return static_cast<double>(clock->now() - start) / static_cast<double>(clock->frequency());
}

void ProgressLine::update(std::uint32_t done) {
    if (!shown) {
        return;
    }
    const std::int64_t now = clock->now();
    if (drawn && now - lastDrawn < clock->frequency() / redrawsPerSecond && done < total) {
        return;
    }
    draw(done, now);
}

void ProgressLine::draw(std::uint32_t done, std::int64_t now) {
    const double seconds = static_cast<double>(now - start) / static_cast<double>(clock->frequency());
    const double rate = seconds > 0 ? done / seconds : 0;
    const double percent = total > 0 ? 100.0 * done / total : 100.0;
    std::string line = (prefix.empty() ? std::string() : prefix + "  ") + format("%3.0f%%  ", std::floor(percent)) +
                       humanBytes(done) + " of " + humanBytes(total);
    if (rate > 0) {
        line += "  " + humanBytes(rate) + "/s  " + humanDuration((total - done) / rate) + " left";
    }
    const std::size_t length = line.size();
    // Blanks over what a longer earlier line left.
    line.append(width > length ? width - length : 0, ' ');
    *terminal << '\r' << line << std::flush;
    width = length;
    lastDrawn = now;
    drawn = true;
}

void ProgressLine::finish() {
    if (shown && drawn) {
        *terminal << '\r' << std::string(width, ' ') << '\r' << std::flush;
        drawn = false;
    }
}
