#include <cstdlib>

#include "platform/Environment.h"

namespace platform {

std::optional<std::string> environmentValue(const char* name) {
    // NOLINTNEXTLINE(concurrency-mt-unsafe): read before the module loads, by the one thread there is
    const char* value = std::getenv(name);
    return value != nullptr ? std::optional<std::string>(value) : std::nullopt;
}

bool setEnvironmentValue(const char* name, const std::string& value) {
    // NOLINTNEXTLINE(concurrency-mt-unsafe): set before the module loads, by the one thread there is
    return ::setenv(name, value.c_str(), 1) == 0;
}

bool portDevicesSupported() {
    return true;
}

}  // namespace platform
