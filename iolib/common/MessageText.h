#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Pieces of the lines the port modules print: plain ASCII of their own, and
// values from the user's environment made safe to show.
namespace iolib {

// "0x378", "0xd010".
std::string hex(std::uint32_t value);

// A variable's value as a message quotes it: on one line (control characters
// become '?'), and at most 200 bytes of it, cut at a UTF-8 character's start
// and followed by "...", so that a runaway value cannot flood the console.
std::string shown(std::string_view value);

}  // namespace iolib
