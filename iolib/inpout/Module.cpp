// io.dll for Windows over InpOut32/InpOutx64: the 13 entry points of the
// port-I/O libraries that flashlock loads, each forwarded to the process's one
// bridge to InpOut.
#include <windows.h>

#include <cstdint>

#include "iolib/PortIoExports.h"
#include "iolib/common/PortBits.h"
#include "iolib/inpout/Bridge.h"

namespace {

// Building it touches nothing; it sets itself up at the first call and lets
// InpOut and the port's mutex go when the module is unloaded.
inpout::Bridge theBridge;  // NOLINT(cppcoreguidelines-avoid-non-const-global-variables)

// The binding hands over addresses and bytes as signed values; the port knows
// them as the unsigned ones they are.
std::uint16_t address(std::int16_t port) {
    return static_cast<std::uint16_t>(port);
}

}  // namespace

// Called before the C runtime destroys theBridge. When the process is ending
// (reserved is not null) other DLLs may be gone already, and Windows frees
// everything the bridge holds anyway: it is left alone then.
extern "C" BOOL WINAPI DllMain(HINSTANCE /*module*/, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_DETACH && reserved != nullptr) {
        theBridge.abandon();
    }
    return TRUE;
}

void PortOut(std::int16_t port, std::int8_t value) {
    theBridge.write(address(port), static_cast<std::uint8_t>(value));
}

void PortWordOut(std::int16_t port, std::int16_t value) {
    theBridge.writeWord(address(port), static_cast<std::uint16_t>(value));
}

void PortDWordOut(std::int16_t port, std::int32_t value) {
    theBridge.writeDoubleWord(address(port), static_cast<std::uint32_t>(value));
}

std::int8_t PortIn(std::int16_t port) {
    return static_cast<std::int8_t>(theBridge.read(address(port)));
}

std::int16_t PortWordIn(std::int16_t port) {
    return static_cast<std::int16_t>(theBridge.readWord(address(port)));
}

std::int32_t PortDWordIn(std::int16_t port) {
    return static_cast<std::int32_t>(theBridge.readDoubleWord(address(port)));
}

void SetPortBit(std::int16_t port, std::int8_t bit) {
    iolib::setBit(theBridge, address(port), bit);
}

void ClrPortBit(std::int16_t port, std::int8_t bit) {
    iolib::clearBit(theBridge, address(port), bit);
}

void NotPortBit(std::int16_t port, std::int8_t bit) {
    iolib::toggleBit(theBridge, address(port), bit);
}

std::int16_t GetPortBit(std::int16_t port, std::int8_t bit) {
    return static_cast<std::int16_t>(iolib::readBit(theBridge, address(port), bit));
}

std::int16_t RightPortShift(std::int16_t port, std::int16_t value) {
    return static_cast<std::int16_t>(iolib::shiftRight(theBridge, address(port), value));
}

std::int16_t LeftPortShift(std::int16_t port, std::int16_t value) {
    return static_cast<std::int16_t>(iolib::shiftLeft(theBridge, address(port), value));
}

// 1 while InpOut's driver is open and the port is this flashlock's; the
// first call sets the bridge up, as any port access would.
std::int16_t IsDriverInstalled() {
    return theBridge.driverOpen() ? 1 : 0;
}
