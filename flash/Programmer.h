#pragma once

#include <cstdint>

#include "flash/FlashChip.h"
#include "flash/Geometry.h"

// Deadlines and poll intervals of erase and program. Each deadline is the
// chip's own CFI maximum (typical x factor), never less than the datasheet's
// maximum for the J3 parts, the slowest here. As for the lock commands, they
// count only the waits between polls: a slow board can never make the chip
// look late.
namespace writeTiming {
// J3 datasheet maxima: byte program 630 us, 32-byte buffer 654 us, block erase 5 s.
constexpr std::uint32_t byteProgramFloorMicroseconds = 630;
constexpr std::uint32_t bufferProgramFloorMicroseconds = 654;
constexpr std::uint32_t blockEraseFloorMicroseconds = 5000000;
// Without a maximum factor in CFI, the maximum is taken as eight times the typical time.
constexpr std::uint32_t defaultMaximumFactor = 8;
// A status read on the board takes about 100 us of its own, so program polls
// need only a short pause; an erase takes a second.
constexpr std::uint32_t programPollMicroseconds = 10;
constexpr std::uint32_t erasePollMicroseconds = 1000;

// The deadline for a CFI typical exponent (2^n units of `unitMicroseconds`)
// and maximum exponent, raised to `floor`.
std::uint32_t deadline(std::uint8_t typical, std::uint8_t maximum, std::uint32_t unitMicroseconds, std::uint32_t floor);
}  // namespace writeTiming

// How one erase or program command ended.
struct OperationResult {
    enum class Kind { Erase, BufferProgram, ByteProgram };
    Kind kind = Kind::Erase;
    // Where the command was written: the block base, the buffer's or the byte's first address.
    std::uint32_t address = 0;
    bool ok = true;
    // SR.7 (or XSR.7 for a buffer) never came within the deadline: the chip
    // may still be busy and takes no more commands.
    bool timedOut = false;
    // The chip never offered a write buffer (XSR.7 stayed 0); no count or
    // data was sent, since the chip would have taken them as commands.
    bool bufferRefused = false;
    std::uint8_t status = 0;
    std::uint32_t deadlineMicroseconds = 0;
};

// One erase, one buffer program or one byte program at a time: clear the
// status register, the setup, the data, the confirm, then poll SR.7 against
// the chip's deadline and clear the status again after an error. Expects the
// access line up; leaves the chip reading its status register. Never prints.
class Programmer {
public:
    Programmer(FlashChip& chip, const Geometry& geometry);

    OperationResult eraseBlock(std::uint32_t base);
    // `count` bytes from `address`, inside one buffer-aligned window of one
    // block; with no write buffer, byte by byte (stopping at the first failure).
    OperationResult program(std::uint32_t address, const std::uint8_t* data, std::uint32_t count);

    // Whether a command was left unfinished, so the chip may not take another write.
    [[nodiscard]] bool chipBusy() const { return busy; }
    [[nodiscard]] std::uint32_t eraseDeadline() const { return eraseMicroseconds; }
    [[nodiscard]] std::uint32_t bufferDeadline() const { return bufferMicroseconds; }
    [[nodiscard]] std::uint32_t byteDeadline() const { return byteMicroseconds; }

private:
    OperationResult programBuffer(std::uint32_t address, const std::uint8_t* data, std::uint32_t count);
    OperationResult programByte(std::uint32_t address, std::uint8_t value);
    // Reads at `address` until `bit` is set, pausing `interval` between reads
    // and writing `again` (unless 0) before each new one; false, with the
    // chip marked busy, when the result's deadline passed first.
    bool await(std::uint32_t address, std::uint8_t bit, std::uint32_t interval, std::uint8_t again,
               OperationResult& result);
    // Reads the status at `address` until SR.7, pausing `interval` between
    // reads; fills `result` and clears the status after an error.
    void poll(std::uint32_t address, std::uint32_t interval, OperationResult& result);

    FlashChip* chip;
    std::uint32_t bufferSize;
    std::uint32_t eraseMicroseconds;
    std::uint32_t bufferMicroseconds;
    std::uint32_t byteMicroseconds;
    bool busy = false;
};
