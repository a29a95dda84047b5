#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "iolib/sim/Chip.h"

namespace flashsim {

// A part of the Intel command set (CFI 0x0001), as the seven named parts
// share it: lock bits, block erase, byte program and write to buffer, with
// the status register's answers and busy times. An empty socket is one too:
// it answers 0x00 and takes no command.
class IntelChip final : public Chip {
public:
    explicit IntelChip(ChipModel model, ChipSettings settings = {});

    [[nodiscard]] ChipMode mode() const override { return current; }
    // SR.7 reads 0 while a command is still running.
    [[nodiscard]] std::uint8_t statusRegister() const;

    std::uint8_t read(std::uint32_t address) override;
    CommandOutcome write(std::uint32_t address, std::uint8_t value) override;

private:
    [[nodiscard]] std::uint8_t lockStatus(std::uint32_t address) const;
    [[nodiscard]] bool isLockStatusWord(std::uint32_t address) const;
    [[nodiscard]] std::uint8_t identifierByte(std::uint32_t address) const;
    [[nodiscard]] std::uint8_t queryByte(std::uint32_t address) const;
    CommandOutcome command(std::uint32_t address, std::uint8_t value);
    CommandOutcome noFreeBuffer(std::uint32_t address, std::uint8_t value);
    CommandOutcome confirmLock(std::uint32_t address, std::uint8_t value);
    CommandOutcome lockCommand(const std::string& what, bool set, std::uint32_t block, bool allBlocks);
    CommandOutcome refuse(const char* what, std::uint8_t errorBits);
    CommandOutcome beginSequence(ChipMode mode, std::uint32_t address, const std::string& what);
    CommandOutcome confirmErase(std::uint32_t address, std::uint8_t value);
    CommandOutcome programByte(std::uint32_t address, std::uint8_t value);
    CommandOutcome bufferCount(std::uint32_t address, std::uint8_t value);
    CommandOutcome bufferWrite(std::uint32_t address, std::uint8_t value);
    CommandOutcome confirmBuffer(std::uint8_t value);
    CommandOutcome sequenceError(const std::string& what);
    // The error bits that VPEN or the block's lock bit give a program or
    // erase of `block` (with `failed`, SR.4 or SR.5), or 0 when it may go on.
    [[nodiscard]] std::uint8_t protection(std::uint32_t block, std::uint8_t failed) const;
    // Ends a program or erase: its status, busy time and log text.
    CommandOutcome finish(const std::string& what, std::uint8_t errorBits, std::chrono::microseconds duration);

    ChipMode current = ChipMode::ReadArray;
    // SR.7 is kept set here; statusRegister() clears it while busy.
    std::uint8_t status = 0x80;
    // The address of the erase or write-to-buffer command being set up.
    std::uint32_t setupAddress = 0;
    // The sequence began while SR.4 or SR.5 were set: it is taken to its end
    // but not carried out.
    bool heldBack = false;
    // 0xE8 found no free buffer (ChipSettings::bufferNeverFree).
    bool bufferRefused = false;
    // Write to buffer: the bytes announced, the window of the first one,
    // the address/data pairs so far, and whether one fell outside.
    std::uint32_t bufferLength = 0;
    std::uint32_t bufferWindow = 0;
    std::vector<std::pair<std::uint32_t, std::uint8_t>> buffered;
    bool bufferAborted = false;
};

}  // namespace flashsim
