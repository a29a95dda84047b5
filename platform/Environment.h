#pragma once

#include <optional>
#include <string>

// The process's environment, where the port-I/O modules read their settings
// when they load.
namespace platform {

// Nullopt when the variable is not set.
std::optional<std::string> environmentValue(const char* name);
// Sets it for this process and the modules it loads afterwards; false when
// the system refused.
bool setEnvironmentValue(const char* name, const std::string& value);
// Whether a parallel port can be named by a device file (/dev/parport1), as
// the Linux port module takes one; the Windows libraries take addresses only.
bool portDevicesSupported();

}  // namespace platform
