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

}  // namespace parport
