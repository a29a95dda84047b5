#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <utility>

#include "platform/Platform.h"

// One self-updating line on a terminal: percent, bytes, rate and time left.
// Drawn at most ten times a second, since a terminal that scrolls slower
// than the bytes come in would hold the read up; erased when done.
class ProgressLine {
public:
    ProgressLine(std::ostream& terminal, bool shown, platform::TickCounter& clock, std::uint32_t total);

    void update(std::uint32_t done);
    // The work turned out larger (or smaller) than first thought.
    void setTotal(std::uint32_t value) { total = value; }
    // What the line's work is now ("erasing block 5"), shown before the
    // figures; a job of several phases keeps one line and one total.
    void label(std::string text) { prefix = std::move(text); }
    // Leaves the cursor at the start of an empty line.
    void finish();

    // Seconds since construction.
    [[nodiscard]] double elapsed() const;

private:
    void draw(std::uint32_t done, std::int64_t now);

    std::ostream* terminal;
    bool shown;
    platform::TickCounter* clock;
    std::uint32_t total;
    std::int64_t start;
    std::int64_t lastDrawn = 0;
    bool drawn = false;
    std::size_t width = 0;
    std::string prefix;
};

// "4.0 MiB", "512 bytes": sizes as a person reads them.
std::string humanBytes(double bytes);
// "1m12s", "3.4 s".
std::string humanDuration(double seconds);
