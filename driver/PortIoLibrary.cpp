#include "driver/PortIoLibrary.h"

PortIoLibrary portIoLibrary;  // NOLINT(cppcoreguidelines-avoid-non-const-global-variables)

int loadPortIoLibrary() {
    portIoLibrary.module = platform::loadModule("io");
    if (portIoLibrary.module == nullptr) {
        return 1;
    }
    for (std::size_t i = 0; i < portIoEntryNames.size(); ++i) {
        portIoLibrary.entryPoints.at(i) = platform::findSymbol(portIoLibrary.module, portIoEntryNames.at(i));
    }
    return 0;
}

// The slots are deliberately left as they are: nothing calls them after the
// driver that loaded the module is gone.
void unloadPortIoLibrary() {
    platform::unloadModule(portIoLibrary.module);
}

std::string portIoModuleProblem() {
    // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast)
    const auto problem = reinterpret_cast<portio::ModuleProblemFunction>(
        platform::findSymbol(portIoLibrary.module, "FlashlockModuleProblem"));
    const char* text = problem != nullptr ? problem() : nullptr;
    return text != nullptr ? std::string(text) : std::string();
}
