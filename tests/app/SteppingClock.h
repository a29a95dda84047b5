#pragma once

#include <cstdint>

#include "platform/Platform.h"

// A clock that moves a millisecond at every reading, so that durations and
// rates in the commands' output come out the same on every machine.
class SteppingClock final : public platform::TickCounter {
public:
    std::int64_t frequency() override { return 1000000; }
    std::int64_t now() override { return ticks += 1000; }

private:
    std::int64_t ticks = 0;
};
