#include "iolib/parport/OtherEntryPoints.h"

namespace parport {

namespace {

void writeBytes(ParallelPort& port, std::uint16_t address, std::uint32_t value, int count) {
    for (int i = 0; i < count; ++i) {
        port.write(static_cast<std::uint16_t>(address + i), static_cast<std::uint8_t>(value >> (8 * i)));
    }
}

std::uint32_t readBytes(ParallelPort& port, std::uint16_t address, int count) {
    std::uint32_t value = 0;
    for (int i = 0; i < count; ++i) {
        value |= std::uint32_t{port.read(static_cast<std::uint16_t>(address + i))} << (8 * i);
    }
    return value;
}

bool isBit(int bit) {
    return bit >= 0 && bit < 8;
}

std::uint8_t mask(int bit) {
    return static_cast<std::uint8_t>(1U << static_cast<unsigned>(bit));
}

}  // namespace

void writeWord(ParallelPort& port, std::uint16_t address, std::uint16_t value) {
    writeBytes(port, address, value, 2);
}

void writeDoubleWord(ParallelPort& port, std::uint16_t address, std::uint32_t value) {
    writeBytes(port, address, value, 4);
}

std::uint16_t readWord(ParallelPort& port, std::uint16_t address) {
    return static_cast<std::uint16_t>(readBytes(port, address, 2));
}

std::uint32_t readDoubleWord(ParallelPort& port, std::uint16_t address) {
    return readBytes(port, address, 4);
}

void setBit(ParallelPort& port, std::uint16_t address, int bit) {
    if (isBit(bit)) {
        port.write(address, port.read(address) | mask(bit));
    }
}

void clearBit(ParallelPort& port, std::uint16_t address, int bit) {
    if (isBit(bit)) {
        port.write(address, port.read(address) & static_cast<std::uint8_t>(~mask(bit)));
    }
}

void toggleBit(ParallelPort& port, std::uint16_t address, int bit) {
    if (isBit(bit)) {
        port.write(address, port.read(address) ^ mask(bit));
    }
}

int readBit(ParallelPort& port, std::uint16_t address, int bit) {
    return isBit(bit) && (port.read(address) & mask(bit)) != 0 ? 1 : 0;
}

int shiftRight(ParallelPort& port, std::uint16_t address, int incoming) {
    const std::uint8_t byte = port.read(address);
    port.write(address, static_cast<std::uint8_t>((byte >> 1U) | ((incoming & 1) << 7)));
    return byte & 1;
}

int shiftLeft(ParallelPort& port, std::uint16_t address, int incoming) {
    const std::uint8_t byte = port.read(address);
    port.write(address, static_cast<std::uint8_t>((byte << 1U) | (incoming & 1)));
    return byte >> 7U;
}

}  // namespace parport
