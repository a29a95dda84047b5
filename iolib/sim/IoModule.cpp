// The simulated "io" module: the 13 exported names of the port-I/O libraries,
// each forwarding to the one process-wide simulator, and what is wrong with
// its configuration.
#include <cstdlib>
#include <iostream>
#include <optional>
#include <string>

#include "iolib/PortIoExports.h"
#include "iolib/sim/EntryPoints.h"

namespace {

std::optional<std::string> fromProcessEnvironment(const char* name) {
    // Read once, while the module loads and before any thread of ours exists.
    // NOLINTNEXTLINE(concurrency-mt-unsafe)
    const char* value = std::getenv(name);
    return value != nullptr ? std::optional<std::string>(value) : std::nullopt;
}

// Built while the module loads, so a bad configuration is reported at once.
// The exported functions have no other place to keep the port's state. The
// constructor turns every failure into "not usable" rather than throwing, and
// std::cerr is ready: <iostream> above initialises it before this object.
// NOLINTNEXTLINE(cppcoreguidelines-avoid-non-const-global-variables,cert-err58-cpp,cppcoreguidelines-interfaces-global-init)
flashsim::Simulator simulator(fromProcessEnvironment, std::cerr);

}  // namespace

FLASHLOCK_IO_EXPORT void FLASHLOCK_IO_CALL PortOut(std::int16_t port, std::int8_t value) {
    flashsim::entry::portOut(simulator, port, value);
}

FLASHLOCK_IO_EXPORT void FLASHLOCK_IO_CALL PortWordOut(std::int16_t port, std::int16_t value) {
    flashsim::entry::portWordOut(simulator, port, value);
}

FLASHLOCK_IO_EXPORT void FLASHLOCK_IO_CALL PortDWordOut(std::int16_t port, std::int32_t value) {
    flashsim::entry::portDWordOut(simulator, port, value);
}

FLASHLOCK_IO_EXPORT std::int8_t FLASHLOCK_IO_CALL PortIn(std::int16_t port) {
    return flashsim::entry::portIn(simulator, port);
}

FLASHLOCK_IO_EXPORT std::int16_t FLASHLOCK_IO_CALL PortWordIn(std::int16_t port) {
    return flashsim::entry::portWordIn(simulator, port);
}

FLASHLOCK_IO_EXPORT std::int32_t FLASHLOCK_IO_CALL PortDWordIn(std::int16_t port) {
    return flashsim::entry::portDWordIn(simulator, port);
}

FLASHLOCK_IO_EXPORT void FLASHLOCK_IO_CALL SetPortBit(std::int16_t port, std::int8_t bit) {
    flashsim::entry::setPortBit(simulator, port, bit);
}

FLASHLOCK_IO_EXPORT void FLASHLOCK_IO_CALL ClrPortBit(std::int16_t port, std::int8_t bit) {
    flashsim::entry::clrPortBit(simulator, port, bit);
}

FLASHLOCK_IO_EXPORT void FLASHLOCK_IO_CALL NotPortBit(std::int16_t port, std::int8_t bit) {
    flashsim::entry::notPortBit(simulator, port, bit);
}

FLASHLOCK_IO_EXPORT std::int16_t FLASHLOCK_IO_CALL GetPortBit(std::int16_t port, std::int8_t bit) {
    return flashsim::entry::getPortBit(simulator, port, bit);
}

FLASHLOCK_IO_EXPORT std::int16_t FLASHLOCK_IO_CALL RightPortShift(std::int16_t port, std::int16_t value) {
    return flashsim::entry::rightPortShift(simulator, port, value);
}

FLASHLOCK_IO_EXPORT std::int16_t FLASHLOCK_IO_CALL LeftPortShift(std::int16_t port, std::int16_t value) {
    return flashsim::entry::leftPortShift(simulator, port, value);
}

FLASHLOCK_IO_EXPORT std::int16_t FLASHLOCK_IO_CALL IsDriverInstalled() {
    return flashsim::entry::isDriverInstalled(simulator);
}

// Not one of the 13: the program looks it up when it finds one, to say why the
// simulated board does not answer rather than suggest a cable to check.
FLASHLOCK_IO_EXPORT const char* FLASHLOCK_IO_CALL FlashlockModuleProblem() {
    return simulator.reasonNotUsable();
}

// Not one of the 13 either: tells the program that its board is simulated,
// so that it can say so beside the board's name.
FLASHLOCK_IO_EXPORT int FLASHLOCK_IO_CALL FlashlockSimulated() {
    return 1;
}
