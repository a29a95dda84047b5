#pragma once

#include <cstdint>

// The calling convention and export form of the port-I/O module "io". The
// Windows libraries that users install export their entry points __stdcall
// under undecorated names; our own modules (the simulator, the Linux port)
// export the same 13 names so that the program cannot tell them apart.
#if defined(_WIN32)
#define FLASHLOCK_IO_CALL __stdcall
#define FLASHLOCK_IO_EXPORT extern "C" __declspec(dllexport)
#else
#define FLASHLOCK_IO_CALL
#define FLASHLOCK_IO_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace portio {

// The two entry points the program calls. Port addresses are signed 16-bit and
// bytes signed 8-bit: 0x80 to 0xFF travel as negative values.
using PortOutFunction = void(FLASHLOCK_IO_CALL*)(std::int16_t port, std::int8_t value);
using PortInFunction = std::int8_t(FLASHLOCK_IO_CALL*)(std::int16_t port);
// Not one of the 13: our own modules may export FlashlockModuleProblem, which
// says why they serve nothing (null when they do serve).
using ModuleProblemFunction = const char*(FLASHLOCK_IO_CALL*)();
// Not one of the 13 either: the simulated board exports FlashlockSimulated,
// which returns 1, so that the program can say that its board is simulated.
using SimulatedFunction = int(FLASHLOCK_IO_CALL*)();

}  // namespace portio
