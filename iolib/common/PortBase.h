#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace iolib {

// The port flashlock addresses; FLASHLOCK_PORT_BASE moves it to an add-in
// card's base, 0x378 + n becoming base + n.
inline constexpr std::uint16_t kProgramsPort = 0x378;

// The lowest and highest base FLASHLOCK_PORT_BASE accepts: the eight
// addresses of a port from the highest one on still fit below 0x10000.
inline constexpr std::uint16_t kLowestPortBase = 0x100;
inline constexpr std::uint16_t kHighestPortBase = 0xFFF8;

// FLASHLOCK_PORT_BASE's value: hexadecimal after 0x ("0xD010") or decimal
// ("53264"), blanks around it allowed, from kLowestPortBase to
// kHighestPortBase. Anything else is nullopt.
std::optional<std::uint16_t> parsePortBase(std::string_view text);

}  // namespace iolib
