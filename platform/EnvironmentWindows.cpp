#include <windows.h>

#include <cstdlib>

#include "platform/Environment.h"

namespace platform {

std::optional<std::string> environmentValue(const char* name) {
    // NOLINTNEXTLINE(concurrency-mt-unsafe): read before the module loads, by the one thread there is
    const char* value = std::getenv(name);
    return value != nullptr ? std::optional<std::string>(value) : std::nullopt;
}

bool setEnvironmentValue(const char* name, const std::string& value) {
    // The process's block, which the InpOut bridge reads, and the C
    // runtime's copy, which getenv reads (the simulated io.dll among others).
    return SetEnvironmentVariableA(name, value.c_str()) != 0 && _putenv_s(name, value.c_str()) == 0;
}

bool portDevicesSupported() {
    return false;
}

}  // namespace platform
