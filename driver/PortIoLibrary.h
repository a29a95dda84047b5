#pragma once

#include <array>
#include <cstddef>
#include <string>

#include "platform/Platform.h"
#include "platform/PortIoAbi.h"

// The port-I/O module "io" and its entry points, in the order they are
// resolved. Only PortOut and PortIn are called; IsDriverInstalled is only
// looked for, since the Windows libraries users install all export it.
enum class PortIoEntry : std::size_t {
    PortOut,
    PortWordOut,
    PortDWordOut,
    PortIn,
    PortWordIn,
    PortDWordIn,
    SetPortBit,
    ClrPortBit,
    NotPortBit,
    GetPortBit,
    RightPortShift,
    LeftPortShift,
    IsDriverInstalled,
};

inline constexpr std::array<const char*, 13> portIoEntryNames{
    "PortOut",    "PortWordOut", "PortDWordOut", "PortIn",         "PortWordIn",    "PortDWordIn",      "SetPortBit",
    "ClrPortBit", "NotPortBit",  "GetPortBit",   "RightPortShift", "LeftPortShift", "IsDriverInstalled"};

struct PortIoLibrary {
    platform::ModuleHandle module = nullptr;
    std::array<platform::ModuleSymbol, portIoEntryNames.size()> entryPoints{};

    [[nodiscard]] platform::ModuleSymbol entry(PortIoEntry which) const {
        return entryPoints.at(static_cast<std::size_t>(which));
    }
    [[nodiscard]] portio::PortOutFunction portOut() const {
        // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast)
        return reinterpret_cast<portio::PortOutFunction>(entry(PortIoEntry::PortOut));
    }
    [[nodiscard]] portio::PortInFunction portIn() const {
        // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast)
        return reinterpret_cast<portio::PortInFunction>(entry(PortIoEntry::PortIn));
    }
};

// One record for the whole process: the module is loaded once by the board
// driver and stays loaded while the program runs.
extern PortIoLibrary portIoLibrary;  // NOLINT(cppcoreguidelines-avoid-non-const-global-variables)

// 1 when the module cannot be loaded (no entry point is looked up then), else 0
// however many of the names it exports.
int loadPortIoLibrary();
// The same from this very file, whatever the loader's search path holds;
// the system's reason in `problem` when it cannot be loaded.
int loadPortIoLibraryFile(const std::string& path, std::string& problem);
void unloadPortIoLibrary();

// Why a module of ours that loaded serves no port (the simulator refused its
// configuration), as it says through FlashlockModuleProblem; empty when it
// serves, and for modules that do not say.
std::string portIoModuleProblem();

// Whether the loaded module is our simulated board, which says so through
// FlashlockSimulated: the program names the board "(simulated)" then.
bool portIoModuleSimulated();
