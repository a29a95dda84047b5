// A port-I/O module for tests: records every PortOut and PortIn and answers
// Status reads from a script. Built in variants that leave out one export, to
// test how the program treats an incomplete library.
#include "tests/io/RecordingIo.h"

#include <cstddef>
#include <cstdint>
#include <vector>

#include "iolib/PortIoExports.h"

namespace {

struct Recorder {
    std::vector<PortEvent> events;
    std::vector<std::uint8_t> script;
    std::size_t nextAnswer = 0;
    std::uint8_t afterScript = 0xFF;
};

Recorder& recorder() {
    static Recorder instance;
    return instance;
}

}  // namespace

#ifndef RECORDING_IO_WITHOUT_PORT_OUT
void FLASHLOCK_IO_CALL PortOut(std::int16_t port, std::int8_t value) {
    recorder().events.push_back({'W', port, value});
}
#endif

#ifndef RECORDING_IO_WITHOUT_PORT_IN
std::int8_t FLASHLOCK_IO_CALL PortIn(std::int16_t port) {
    Recorder& r = recorder();
    const std::uint8_t answer = r.nextAnswer < r.script.size() ? r.script[r.nextAnswer++] : r.afterScript;
    r.events.push_back({'R', port, static_cast<std::int8_t>(answer)});
    return static_cast<std::int8_t>(answer);
}
#endif

#ifndef RECORDING_IO_WITHOUT_IS_DRIVER_INSTALLED
std::int16_t FLASHLOCK_IO_CALL IsDriverInstalled() {
    return 1;
}
#endif

void RecordingIoReset(const std::uint8_t* statusAnswers, std::size_t count, std::uint8_t afterwards) {
    Recorder& r = recorder();
    r.events.clear();
    r.script.assign(statusAnswers, statusAnswers + count);
    r.nextAnswer = 0;
    r.afterScript = afterwards;
}

const PortEvent* RecordingIoEvents(std::size_t* count) {
    *count = recorder().events.size();
    return recorder().events.data();
}
