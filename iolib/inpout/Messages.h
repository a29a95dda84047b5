#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "iolib/inpout/InpOut.h"

// What the bridge tells the user, one line each. Every line starts with
// "flashlock: " and says what to do; all are plain ASCII, which any Windows
// console shows as it is.
namespace inpout {

std::string badPortBase(std::string_view value);
// InpOut's DLL is nowhere the loader looks; `otherFound`: the one for the
// other width is.
std::string libraryNotFound(bool otherFound);
// The loader refused the file: ERROR_BAD_EXE_FORMAT, a DLL of the other width
// or no DLL at all.
std::string libraryOfTheOtherWidth();
std::string libraryNotLoaded(unsigned long error);
std::string callMissing(const char* call);
std::string driverNotOpen();
std::string portInUse(std::uint16_t base);
std::string portLockFailed(const std::string& name, unsigned long error);

}  // namespace inpout
