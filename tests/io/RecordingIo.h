#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/PortIoAbi.h"

// One port access as the recording module saw it: 'W' for PortOut, 'R' for
// PortIn (value = the answer given).
struct PortEvent {
    char kind;
    std::int16_t port;
    std::int8_t value;
};

// The test-only controls of the recording module, found by name like the
// port-I/O entry points. Reset clears the record and sets the Status answers:
// the script first, then `afterwards` for every later read.
FLASHLOCK_IO_EXPORT void RecordingIoReset(const std::uint8_t* statusAnswers, std::size_t count,
                                          std::uint8_t afterwards);
FLASHLOCK_IO_EXPORT const PortEvent* RecordingIoEvents(std::size_t* count);

using RecordingIoResetFunction = void (*)(const std::uint8_t*, std::size_t, std::uint8_t);
using RecordingIoEventsFunction = const PortEvent* (*)(std::size_t*);
