#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "iolib/inpout/InpOut.h"

// What the bridge tells the user, one line each, and the value it reads from
// FLASHLOCK_PORT_BASE. Every line starts with "flashlock: " and says what to
// do; all are plain ASCII, which any Windows console shows as it is.
namespace inpout {

// The lowest and highest base FLASHLOCK_PORT_BASE accepts: the eight
// addresses of a port from the highest one on still fit below 0x10000.
inline constexpr std::uint16_t kLowestPortBase = 0x100;
inline constexpr std::uint16_t kHighestPortBase = 0xFFF8;

// Hexadecimal after 0x ("0xD010") or decimal ("53264"), blanks around it
// allowed, from kLowestPortBase to kHighestPortBase; anything else is nullopt.
std::optional<std::uint16_t> parsePortBase(std::string_view text);

// "0x378", "0xd010".
std::string hex(std::uint32_t value);

// A variable's value as a message quotes it: on one line, and at most 200
// bytes of it (cut at a UTF-8 character's start, then "...").
std::string shown(std::string_view value);

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
