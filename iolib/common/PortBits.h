#pragma once

#include <concepts>
#include <cstdint>

// The entry points of a port-I/O library that flashlock looks up but never
// calls, built from a module's byte accesses so that the module serves any
// caller of the 13 names sensibly. A bit number outside 0 to 7 names no bit:
// it changes nothing and reads as 0. The shifts move the register's byte one
// place, bit 0 of `incoming` entering at the free end, and return the bit
// that left at the other.
namespace iolib {

// A module's port: a byte written to and read from an I/O address.
template <typename Port>
concept BytePort = requires(Port& port, std::uint16_t address, std::uint8_t value) {
    port.write(address, value);
    { port.read(address) } -> std::same_as<std::uint8_t>;
};

namespace detail {

constexpr bool isBit(int bit) {
    return bit >= 0 && bit < 8;
}

constexpr std::uint8_t mask(int bit) {
    return static_cast<std::uint8_t>(1U << static_cast<unsigned>(bit));
}

}  // namespace detail

template <BytePort Port>
void setBit(Port& port, std::uint16_t address, int bit) {
    if (detail::isBit(bit)) {
        port.write(address, port.read(address) | detail::mask(bit));
    }
}

template <BytePort Port>
void clearBit(Port& port, std::uint16_t address, int bit) {
    if (detail::isBit(bit)) {
        port.write(address, port.read(address) & static_cast<std::uint8_t>(~detail::mask(bit)));
    }
}

template <BytePort Port>
void toggleBit(Port& port, std::uint16_t address, int bit) {
    if (detail::isBit(bit)) {
        port.write(address, port.read(address) ^ detail::mask(bit));
    }
}

template <BytePort Port>
int readBit(Port& port, std::uint16_t address, int bit) {
    return detail::isBit(bit) && (port.read(address) & detail::mask(bit)) != 0 ? 1 : 0;
}

template <BytePort Port>
int shiftRight(Port& port, std::uint16_t address, int incoming) {
    const std::uint8_t byte = port.read(address);
    port.write(address, static_cast<std::uint8_t>((byte >> 1U) | ((incoming & 1) << 7)));
    return byte & 1;
}

template <BytePort Port>
int shiftLeft(Port& port, std::uint16_t address, int incoming) {
    const std::uint8_t byte = port.read(address);
    port.write(address, static_cast<std::uint8_t>((byte << 1U) | (incoming & 1)));
    return byte >> 7U;
}

}  // namespace iolib
