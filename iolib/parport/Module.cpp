// libio.so: the "io" module that flashlock loads on Linux, exporting the 13
// names of the Windows port-I/O libraries over a real parallel port.

#include <cstdint>

#include "iolib/PortIoExports.h"
#include "iolib/common/PortBits.h"
#include "iolib/parport/OtherEntryPoints.h"
#include "iolib/parport/ParallelPort.h"
#include "iolib/parport/SystemOsCalls.h"

namespace {

// The process's one port. Building it touches nothing; it opens on the first
// access and is released (PPRELEASE, close) when the module is unloaded.
parport::ParallelPort thePort{parport::systemOsCalls()};  // NOLINT(cppcoreguidelines-avoid-non-const-global-variables)

// The binding hands over addresses and bytes as signed values; the port knows
// them as the unsigned ones they are.
std::uint16_t address(std::int16_t port) {
    return static_cast<std::uint16_t>(port);
}

}  // namespace

void PortOut(std::int16_t port, std::int8_t value) {
    thePort.write(address(port), static_cast<std::uint8_t>(value));
}

void PortWordOut(std::int16_t port, std::int16_t value) {
    parport::writeWord(thePort, address(port), static_cast<std::uint16_t>(value));
}

void PortDWordOut(std::int16_t port, std::int32_t value) {
    parport::writeDoubleWord(thePort, address(port), static_cast<std::uint32_t>(value));
}

std::int8_t PortIn(std::int16_t port) {
    return static_cast<std::int8_t>(thePort.read(address(port)));
}

std::int16_t PortWordIn(std::int16_t port) {
    return static_cast<std::int16_t>(parport::readWord(thePort, address(port)));
}

std::int32_t PortDWordIn(std::int16_t port) {
    return static_cast<std::int32_t>(parport::readDoubleWord(thePort, address(port)));
}

void SetPortBit(std::int16_t port, std::int8_t bit) {
    iolib::setBit(thePort, address(port), bit);
}

void ClrPortBit(std::int16_t port, std::int8_t bit) {
    iolib::clearBit(thePort, address(port), bit);
}

void NotPortBit(std::int16_t port, std::int8_t bit) {
    iolib::toggleBit(thePort, address(port), bit);
}

std::int16_t GetPortBit(std::int16_t port, std::int8_t bit) {
    return static_cast<std::int16_t>(iolib::readBit(thePort, address(port), bit));
}

std::int16_t RightPortShift(std::int16_t port, std::int16_t value) {
    return static_cast<std::int16_t>(iolib::shiftRight(thePort, address(port), value));
}

std::int16_t LeftPortShift(std::int16_t port, std::int16_t value) {
    return static_cast<std::int16_t>(iolib::shiftLeft(thePort, address(port), value));
}

// 1 while the port is, or may yet be, reachable; asking opens nothing.
std::int16_t IsDriverInstalled() {
    return thePort.reachable() ? 1 : 0;
}
