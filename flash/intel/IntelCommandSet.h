#pragma once

#include <cstdint>

#include "flash/ChipIdentity.h"
#include "flash/CommandSet.h"

// Deadlines and poll intervals of the Intel-set commands.
namespace intelTiming {
// Set lock bit: about 64 us typical, 75 us at most on the J3 parts.
inline constexpr std::uint32_t setDeadlineMicroseconds = 100000;
inline constexpr std::uint32_t setPollMicroseconds = 10;
// Clear lock bits: 0.5 s typical, 0.7 s at most (1.4 s on later J3
// steppings); Linux MTD allows 1.5 s.
inline constexpr std::uint32_t clearDeadlineMicroseconds = 5000000;
inline constexpr std::uint32_t clearPollMicroseconds = 1000;
// A lock command past its deadline is watched this much longer before the
// chip counts as stuck busy: a slow chip that finishes after all can still
// have its map read back, so that the user learns what it holds.
inline constexpr std::uint32_t lateMicroseconds = 5000000;

// J3 datasheet maxima: byte program 630 us, 32-byte buffer 654 us, block
// erase 5 s; each deadline is the chip's own CFI maximum, never less.
inline constexpr std::uint32_t byteProgramFloorMicroseconds = 630;
inline constexpr std::uint32_t bufferProgramFloorMicroseconds = 654;
inline constexpr std::uint32_t blockEraseFloorMicroseconds = 5000000;
// A status read on the board takes about 30 us of its own, so program polls
// need only a short pause; an erase takes a second.
inline constexpr std::uint32_t programPollMicroseconds = 10;
inline constexpr std::uint32_t erasePollMicroseconds = 1000;

}  // namespace intelTiming

// The Intel/Sharp command sets (CFI 0x0001 and 0x0003): the status register,
// 0x60 lock commands, 0x20/0xD0 block erase, 0x40 byte program and 0xE8
// write to buffer. Every status poll reads again at the address the board's
// register already holds: the status register answers at any address.
class IntelCommandSet final : public CommandSet {
public:
    IntelCommandSet(FlashChip& chip, const Geometry& geometry);

    // Read-array first, then the identifier codes (0x90), back to read-array.
    static ChipIdentity readIdentity(FlashChip& chip);
    // Leaves query mode.
    static void leaveQuery(FlashChip& chip);

    [[nodiscard]] std::string name() const override;
    void readArray() override;
    void enterQuery() override;
    LockState readProtection() override;
    [[nodiscard]] LockAbility lockAbility() const override;
    bool masterLockSet() override;
    LockStep setLock(const Block& block) override;
    LockStep clearLock(const Block& block) override;
    LockStep clearAllLocks() override;
    OperationResult erase(const Block& block) override;
    OperationResult program(std::uint32_t address, const std::uint8_t* data, std::uint32_t count) override;
    [[nodiscard]] std::uint32_t programUnit() const override;
    [[nodiscard]] std::string explain(const OperationResult& result) const override;
    [[nodiscard]] std::string explainLock(const LockStep& step, bool clearing) const override;
    [[nodiscard]] std::uint32_t eraseDeadline() const override { return eraseMicroseconds; }

private:
    LockStep lockCommand(std::uint32_t address, std::uint8_t confirm);
    OperationResult programBuffer(std::uint32_t address, const std::uint8_t* data, std::uint32_t count);
    OperationResult programByte(std::uint32_t address, std::uint8_t value);
    // Reads the status again until `bit` is set, pausing `interval` between
    // reads and writing `again` at `address` (unless 0) before each new one;
    // false, with the chip marked busy, when the result's deadline passed first.
    bool await(std::uint32_t address, std::uint8_t bit, std::uint32_t interval, std::uint8_t again,
               OperationResult& result);
    // Polls SR.7, fills `result` and clears the status after an error.
    void poll(std::uint32_t address, std::uint32_t interval, OperationResult& result);

    std::uint32_t bufferSize;
    std::uint32_t eraseMicroseconds;
    std::uint32_t bufferMicroseconds;
    std::uint32_t byteMicroseconds;
};
