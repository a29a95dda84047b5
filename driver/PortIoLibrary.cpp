#include "driver/PortIoLibrary.h"

PortIoLibrary portIoLibrary;  // NOLINT(cppcoreguidelines-avoid-non-const-global-variables)

namespace {

int resolveEntryPoints() {
    if (portIoLibrary.module == nullptr) {
        return 1;
    }
    for (std::size_t i = 0; i < portIoEntryNames.size(); ++i) {
        portIoLibrary.entryPoints.at(i) = platform::findSymbol(portIoLibrary.module, portIoEntryNames.at(i));
    }
    return 0;
}

}  // namespace

int loadPortIoLibrary() {
    portIoLibrary.module = platform::loadModule("io");
    return resolveEntryPoints();
}

int loadPortIoLibraryFile(const std::string& path, std::string& problem) {
    portIoLibrary.module = platform::loadModuleFile(path, problem);
    return resolveEntryPoints();
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

bool portIoModuleSimulated() {
    const platform::ModuleSymbol symbol = platform::findSymbol(portIoLibrary.module, "FlashlockSimulated");
    // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast)
    const auto simulated = reinterpret_cast<portio::SimulatedFunction>(symbol);
    return simulated != nullptr && simulated() != 0;
}
