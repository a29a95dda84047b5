#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "flash/FlashChip.h"
#include "flash/Geometry.h"

// One bool per block, in address order: true where the block is locked (an
// Intel-set lock bit) or protected (an AMD-set sector protection).
using LockState = std::vector<bool>;

// How one erase or program command ended.
struct OperationResult {
    enum class Kind { Erase, BufferProgram, ByteProgram };
    Kind kind = Kind::Erase;
    // Where the command was written: the block base, the buffer's or the byte's first address.
    std::uint32_t address = 0;
    bool ok = true;
    // The chip did not report the end within the deadline: it may still be
    // busy and takes no more commands.
    bool timedOut = false;
    // The chip never offered a write buffer, so no count or data was sent:
    // the chip would have taken them as commands.
    bool bufferRefused = false;
    // What the chip last answered: its status register, or its data-polling
    // bits.
    std::uint8_t status = 0;
    std::uint32_t deadlineMicroseconds = 0;
};

// What the chip lets the bus do to its lock bits.
enum class LockAbility {
    // Nothing: protection changes only by the chip's own means (high voltage
    // or commands flashlock does not send).
    None,
    // Each block locks alone, but clearing clears every block at once.
    ClearAll,
    // Each block locks and unlocks alone.
    PerBlock,
};

// How one lock command ended.
struct LockStep {
    bool ok = true;
    bool timedOut = false;
    // Timed out, but finished a while after the deadline: a chip this slow
    // is not to be given more commands.
    bool finishedLate = false;
    // Left busy past every patience: the chip takes no more commands.
    bool leftBusy = false;
    std::uint8_t status = 0;
    std::uint32_t deadlineMicroseconds = 0;
    // The master lock bit, read from the chip when it refused.
    bool masterLocked = false;
};

// The command sequences of one command set, on the bus. Everything above
// speaks to a chip through this and never sends a command byte itself, so a
// command of one set never reaches a chip of the other. Every operation
// expects the access line up. Nothing is remembered of the chip between
// calls except that a command was left unfinished.
class CommandSet {
public:
    virtual ~CommandSet();
    CommandSet(const CommandSet&) = delete;
    CommandSet& operator=(const CommandSet&) = delete;
    CommandSet(CommandSet&&) = delete;
    CommandSet& operator=(CommandSet&&) = delete;

    // "Intel/Sharp extended": the set's name as status shows it.
    [[nodiscard]] virtual std::string name() const = 0;

    // Read-array mode, in which readByte gives the array.
    virtual void readArray() = 0;
    // CFI query mode, entered from read-array: query offset k reads at byte
    // 2k. readArray() leaves it.
    virtual void enterQuery() = 0;
    // Reads the lock bits or sector protection of every block; leaves the
    // chip in read-array mode.
    virtual LockState readProtection() = 0;
    [[nodiscard]] virtual LockAbility lockAbility() const = 0;
    // Whether a master lock freezes every lock bit (the J5 parts have one);
    // read from the chip. Leaves the chip in read-array mode.
    virtual bool masterLockSet() = 0;
    virtual LockStep setLock(const Block& block) = 0;
    // Only where lockAbility() is PerBlock.
    virtual LockStep clearLock(const Block& block) = 0;
    // Only where lockAbility() is ClearAll.
    virtual LockStep clearAllLocks() = 0;

    virtual OperationResult erase(const Block& block) = 0;
    // `count` bytes from `address`, inside one aligned window of
    // programUnit() bytes in one block.
    virtual OperationResult program(std::uint32_t address, const std::uint8_t* data, std::uint32_t count) = 0;
    // Bytes one program command takes: the write buffer, or 1.
    [[nodiscard]] virtual std::uint32_t programUnit() const = 0;

    // Why a command failed, in words a user can act on.
    [[nodiscard]] virtual std::string explain(const OperationResult& result) const = 0;
    [[nodiscard]] virtual std::string explainLock(const LockStep& step, bool clearing) const = 0;

    // Whether a command was left unfinished, so the chip may not take another write.
    [[nodiscard]] bool busy() const { return leftBusy; }
    [[nodiscard]] virtual std::uint32_t eraseDeadline() const = 0;

    // A byte in whatever mode the chip is in.
    std::uint8_t readByte(std::uint32_t address) { return chip->readAt(address); }
    [[nodiscard]] FlashChip& bus() const { return *chip; }
    [[nodiscard]] const Geometry& geometry() const { return *layout; }

protected:
    CommandSet(FlashChip& chip, const Geometry& geometry) : chip(&chip), layout(&geometry) {}
    void markBusy() { leftBusy = true; }

private:
    FlashChip* chip;
    const Geometry* layout;
    bool leftBusy = false;
};

// Deadlines count only the waits between polls, so the real time before
// giving up is longer still: a slow board can never make a chip look late.
namespace timing {
// The deadline for a CFI typical exponent (2^n units of `unitMicroseconds`)
// and maximum exponent (the maximum is typical x 2^m; without one, eight
// times typical), raised to `floor`.
std::uint32_t deadline(std::uint8_t typical, std::uint8_t maximum, std::uint32_t unitMicroseconds, std::uint32_t floor);
}  // namespace timing
