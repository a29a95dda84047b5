#pragma once

#include <cstdint>

// The three registers of a PC parallel port, as offsets from its base address.
enum class PortRegister : std::int32_t {
    Data = 0,
    Status = 1,
    Control = 2,
};

// A change of one 8-bit register: high byte = bits to clear, low byte = bits to
// set. Clearing comes first, so a bit named in both ends up set, and 0xFF00 | v
// makes the register exactly v.
using LineChange = std::uint16_t;

constexpr std::uint8_t applyLineChange(std::uint8_t value, LineChange change) {
    const auto clear = static_cast<std::uint8_t>(change >> 8U);
    const auto set = static_cast<std::uint8_t>(change & 0xFFU);
    return static_cast<std::uint8_t>((value & static_cast<std::uint8_t>(~clear)) | set);
}

// What the detection probe found on the port.
enum class BoardKind : std::int32_t {
    PortNotUsable = -1,
    NoBoard = 0,
    Willem = 1,
    Zantrel4v4 = 2,
    Zantrel4v5 = 3,
};

// Everything above the hardware layer drives a programmer board through this
// interface and nothing else, so the chip layer can be exercised on a fake.
class ProgrammerDriver {
public:
    virtual ~ProgrammerDriver();

    // Busy-waits; never sleeps or yields, since the chip's timing is ours to keep.
    virtual void waitMicroseconds(std::uint32_t count) = 0;
    // Applies the change to the register's shadow and writes the whole byte out.
    virtual void changeLines(PortRegister reg, LineChange change) = 0;
    // Sends the low bitCount bits of the address, most significant first.
    virtual void shiftOutAddress(std::uint32_t address, std::uint8_t bitCount) = 0;
    // The flash byte at the address last shifted out.
    virtual std::uint8_t shiftInByte() = 0;
    // Drives the byte onto the data lines; the write strobe is the caller's.
    virtual void putDataByte(std::uint8_t value) = 0;
    virtual BoardKind detectBoard() = 0;

protected:
    ProgrammerDriver() = default;
    ProgrammerDriver(const ProgrammerDriver&) = default;
    ProgrammerDriver(ProgrammerDriver&&) = default;
    ProgrammerDriver& operator=(const ProgrammerDriver&) = default;
    ProgrammerDriver& operator=(ProgrammerDriver&&) = default;
};
