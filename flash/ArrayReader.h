#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "flash/CommandSet.h"

// Reads a range of the array in read-array mode, a byte per bus cycle, and
// hands it on in chunks. Every byte costs a full address shift and a serial
// read, so a whole chip takes minutes on real hardware: the caller is told of
// progress after each chunk and may stop the read after any byte.
struct ArrayReadCallbacks {
    // Bytes read so far, in order; called with each chunk and with the rest.
    std::function<void(const std::uint8_t* bytes, std::size_t count)> chunk;
    // Bytes done of the bytes the read takes from the chip, after each chunk.
    std::function<void(std::uint32_t done)> progress;
    // Asked before every byte handed on; true ends the read there.
    std::function<bool()> stop;
    // Asked instead of `stop` before every byte a stepping read takes from
    // the chip into memory, while nothing is handed on yet; unset, `stop` is
    // asked. For a `stop` that must be asked once per byte handed on.
    std::function<bool()> cancel;
};

// Bytes between progress reports: a progress line never needs more, and the
// caller's buffer stays small.
constexpr std::size_t arrayChunkSize = 4096;

// Expects the access line up; puts the chip in read-array mode first and
// leaves it there. Returns the number of bytes read: `length` unless stopped.
// Every byte by a full address shift.
std::uint32_t readArray(CommandSet& commands, std::uint32_t offset, std::uint32_t length,
                        const ArrayReadCallbacks& callbacks);

// Puts the chip in read-array mode (access line up) and gives a byte reader
// over it, a bus cycle a byte, for whatever reads the array piece by piece.
std::function<std::uint8_t(std::uint32_t address)> arrayBytes(CommandSet& commands);

// What a byte costs in port accesses (about a microsecond each on a real
// board), as the board driver moves the lines: an address shift takes three
// line changes a bit and one before and after, a byte shifted in 29.
namespace readCost {
constexpr std::uint32_t addressShift(std::uint32_t bits) {
    return 3 * bits + 2;
}
inline constexpr std::uint32_t byteIn = 29;
// A read cycle: the whole 24-bit address, then the byte (103).
inline constexpr std::uint32_t fullShiftByte = addressShift(24) + byteIn;
// One bit clocked into the address register, then the byte (34).
inline constexpr std::uint32_t steppedByte = addressShift(1) + byteIn;
}  // namespace readCost

// Whether reading the whole chip of `chipSize` bytes by stepping costs fewer
// port accesses than reading `length` of its bytes by full shifts: from
// about a third of the chip on.
bool stepsPay(std::uint32_t length, std::uint32_t chipSize);

// Whether the board's address register steps as a plain shift register,
// proven on the chip's CFI query table whatever the array holds: bytes read
// by full shifts, then reached again by one-bit steps (a 0, and a 1 then a 0)
// from a full shift, at even addresses below 0x100 whose bytes differ from
// the byte the register left. False when any differs, or when the table is
// too uniform to choose such steps (nothing answers). Expects read-array
// mode and the access line up; leaves read-array mode.
bool addressRegisterSteps(CommandSet& commands);

// How much of a range read came about.
struct ArrayReadResult {
    // Bytes handed on to `chunk`, from the range's start: the range's length
    // unless stopped.
    std::uint32_t handedOn = 0;
    // Bytes taken from the chip, of `total`.
    std::uint32_t read = 0;
    // Bytes the read takes from the chip: the range's length, or the chip's
    // size when it steps.
    std::uint32_t total = 0;
    bool stepped = false;
};

// The array's reader for one run. A read of the whole chip by stepping
// clocks one bit into the board's address register a byte, in StepOrder,
// about a third of a full shift's port accesses; the chip is held in memory
// (16 MiB at most) and handed on in address order. A read steps only when
// stepping is allowed, no program or erase is left unfinished, the chip has
// 2^n bytes for n from 1 to 24, stepsPay() says so, and the board passed
// addressRegisterSteps(), run once, the first time all else holds. Every
// read expects the access line up, puts the chip in read-array mode first
// and leaves it there.
class ArrayReader {
public:
    // `steppingAllowed` false: full shifts only, and no self-test. `fellBack`
    // is called once, right after the self-test, if the board failed it.
    ArrayReader(CommandSet& commands, bool steppingAllowed, std::function<void()> fellBack = {});

    // Whether a read of `length` bytes will step (see above); runs the
    // self-test if this is the first read that would. Call it before
    // anything is shown for the read: the self-test may fall back and say so.
    bool willStep(std::uint32_t length);

    // The whole chip, in address order: by stepping when willStep(chip size),
    // else by full shifts. `progress` gets the bytes done after each chunk
    // and on stopping; `stop` is asked before every byte. Nullopt when stopped.
    std::optional<std::vector<std::uint8_t>> readWhole(const std::function<void(std::uint32_t done)>& progress,
                                                       const std::function<bool()>& stop);

    // `length` bytes from `offset`, handed on in address order. When
    // willStep(length), the whole chip is read first (progress over its
    // size, `cancel` asked before each byte) and the range then handed on
    // from memory (`stop` before each byte); else byte by byte as readArray.
    ArrayReadResult read(std::uint32_t offset, std::uint32_t length, const ArrayReadCallbacks& callbacks);

    // Whether a read of this reader has stepped.
    [[nodiscard]] bool steppingUsed() const { return stepped; }

private:
    // The chip's address bits, or 0 when it cannot be stepped through.
    [[nodiscard]] std::uint8_t addressBits() const;
    std::optional<std::vector<std::uint8_t>> readStepping(std::uint8_t bits,
                                                          const std::function<void(std::uint32_t done)>& progress,
                                                          const std::function<bool()>& stop);

    enum class Check { NotRun, Passed, Failed };

    CommandSet* commands;
    bool allowed;
    std::function<void()> fellBack;
    Check check = Check::NotRun;
    bool stepped = false;
};
