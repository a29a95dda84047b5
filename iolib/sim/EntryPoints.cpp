#include "iolib/sim/EntryPoints.h"

namespace flashsim::entry {

namespace {

std::uint16_t address(std::int16_t port) {
    return static_cast<std::uint16_t>(port);
}

std::uint8_t readByte(Simulator& sim, std::int16_t port) {
    return sim.portIn(address(port));
}

void writeByte(Simulator& sim, std::int16_t port, unsigned value) {
    sim.portOut(address(port), static_cast<std::uint8_t>(value & 0xFFU));
}

std::int16_t next(std::int16_t port, int offset) {
    return static_cast<std::int16_t>(address(port) + offset);
}

unsigned mask(std::int8_t bit) {
    return 1U << (static_cast<unsigned>(bit) & 7U);
}

}  // namespace

void portOut(Simulator& sim, std::int16_t port, std::int8_t value) noexcept {
    writeByte(sim, port, static_cast<std::uint8_t>(value));
}

std::int8_t portIn(Simulator& sim, std::int16_t port) noexcept {
    return static_cast<std::int8_t>(readByte(sim, port));
}

void portWordOut(Simulator& sim, std::int16_t port, std::int16_t value) noexcept {
    const auto word = static_cast<std::uint16_t>(value);
    writeByte(sim, port, word);
    writeByte(sim, next(port, 1), word >> 8U);
}

void portDWordOut(Simulator& sim, std::int16_t port, std::int32_t value) noexcept {
    const auto dword = static_cast<std::uint32_t>(value);
    for (int index = 0; index < 4; ++index) {
        writeByte(sim, next(port, index), dword >> (8U * static_cast<unsigned>(index)));
    }
}

std::int16_t portWordIn(Simulator& sim, std::int16_t port) noexcept {
    const unsigned low = readByte(sim, port);
    const unsigned high = readByte(sim, next(port, 1));
    return static_cast<std::int16_t>(static_cast<std::uint16_t>((high << 8U) | low));
}

std::int32_t portDWordIn(Simulator& sim, std::int16_t port) noexcept {
    std::uint32_t dword = 0;
    for (int index = 0; index < 4; ++index) {
        dword |= static_cast<std::uint32_t>(readByte(sim, next(port, index))) << (8U * static_cast<unsigned>(index));
    }
    return static_cast<std::int32_t>(dword);
}

void setPortBit(Simulator& sim, std::int16_t port, std::int8_t bit) noexcept {
    writeByte(sim, port, readByte(sim, port) | mask(bit));
}

void clrPortBit(Simulator& sim, std::int16_t port, std::int8_t bit) noexcept {
    writeByte(sim, port, readByte(sim, port) & ~mask(bit));
}

void notPortBit(Simulator& sim, std::int16_t port, std::int8_t bit) noexcept {
    writeByte(sim, port, readByte(sim, port) ^ mask(bit));
}

std::int16_t getPortBit(Simulator& sim, std::int16_t port, std::int8_t bit) noexcept {
    return (readByte(sim, port) & mask(bit)) != 0 ? 1 : 0;
}

std::int16_t rightPortShift(Simulator& sim, std::int16_t port, std::int16_t value) noexcept {
    const std::uint8_t byte = readByte(sim, port);
    writeByte(sim, port, (byte >> 1U) | ((static_cast<unsigned>(value) & 1U) << 7U));
    return static_cast<std::int16_t>(byte & 1U);
}

std::int16_t leftPortShift(Simulator& sim, std::int16_t port, std::int16_t value) noexcept {
    const std::uint8_t byte = readByte(sim, port);
    writeByte(sim, port, (static_cast<unsigned>(byte) << 1U) | (static_cast<unsigned>(value) & 1U));
    return static_cast<std::int16_t>(byte >> 7U);
}

std::int16_t isDriverInstalled(const Simulator& sim) noexcept {
    return sim.usable() ? 1 : 0;
}

}  // namespace flashsim::entry
