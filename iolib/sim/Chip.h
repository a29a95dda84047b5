#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "iolib/sim/ChipCatalog.h"

namespace flashsim {

// What a read cycle returns, as chosen by the last command. The setup modes
// between the first and the last write of a program or erase sequence read
// the status register, except that a write to buffer first answers with its
// extended status register.
enum class ChipMode {
    ReadArray,
    ReadIdentifier,
    Query,
    ReadStatus,
    LockSetup,
    EraseSetup,
    ProgramSetup,
    BufferCount,
    BufferData
};

const char* modeName(ChipMode mode);

// The J3 datasheet's typical times for the two lock commands. The program
// polls SR.7 against real deadlines, so the chip is busy in real time.
inline constexpr std::chrono::microseconds typicalSetLockBitTime{64};
inline constexpr std::chrono::microseconds typicalClearLockBitsTime{500000};

// Every 4096th byte of a weak block (block offsets 0x0000, 0x1000, ...)
// keeps 0x00 through an erase.
inline constexpr std::uint32_t weakCellSpacing = 0x1000;

// How the simulated part behaves beyond its catalogue facts: how long its
// commands keep it busy, and the faults a test bench can put on it.
struct ChipSettings {
    std::chrono::microseconds setLockBitTime = typicalSetLockBitTime;
    std::chrono::microseconds clearLockBitsTime = typicalClearLockBitsTime;
    // One time for every program and erase command; unset, each takes the
    // typical time of the part's CFI query table.
    std::optional<std::chrono::microseconds> programEraseTime;
    // VPEN below its lockout voltage: every lock, program and erase command
    // fails with SR.3.
    bool vpenLow = false;
    // A block whose lock bit survives a clear-all, while the status register
    // still reports success.
    std::optional<std::uint32_t> stuckBlock;
    // J5 parts only: the master lock bit is set, so lock commands fail with SR.1.
    bool masterLocked = false;
    // Erasing this block fails with SR.5 and leaves its content as it was.
    std::optional<std::uint32_t> eraseFailBlock;
    // Programming this byte fails with SR.4; a buffer holding it programs
    // only its bytes at lower addresses.
    std::optional<std::uint32_t> programFailAddress;
    // An erase of this block reports success, but its cells at every
    // weakCellSpacing bytes stay 0x00: worn cells that only a read-back finds.
    std::optional<std::uint32_t> weakBlock;
};

// What one write cycle did, told back for the log.
struct CommandOutcome {
    std::string action;
    // A sequence that the datasheets forbid and a correct program never sends.
    bool fault = false;
    // The lock bits changed, so the persistent state must be written.
    bool locksChanged = false;
    // The array bytes from changedFirst on that an erase or program changed
    // (none when every byte kept its value), for the persistent state.
    std::uint32_t changedFirst = 0;
    std::uint32_t changedCount = 0;
};

// The flash chip in the socket, in byte mode, with the Intel-style command
// interface that all seven parts share: lock bits, block erase, byte program
// and write to buffer, with the status register's answers and busy times.
class Chip {
public:
    using Clock = std::chrono::steady_clock;

    explicit Chip(ChipModel model, ChipSettings settings = {});

    [[nodiscard]] const ChipModel& model() const { return part; }
    [[nodiscard]] ChipMode mode() const { return current; }
    // SR.7 reads 0 while a command is still running.
    [[nodiscard]] std::uint8_t statusRegister() const;
    [[nodiscard]] bool busy() const;

    [[nodiscard]] std::uint8_t read(std::uint32_t address) const;
    CommandOutcome write(std::uint32_t address, std::uint8_t value);

    [[nodiscard]] bool isLocked(std::uint32_t block) const;
    void setLocked(std::uint32_t block, bool locked);
    // The array as erased flash (0xFF) except where content was loaded.
    [[nodiscard]] const std::vector<std::uint8_t>& array() const { return content; }
    // Content given row by row (the state file's array lines): such rows are
    // remembered, to be written back even where an image lies beneath.
    void loadArray(std::uint32_t address, const std::vector<std::uint8_t>& bytes);
    // Raw bytes from an image file.
    void loadImage(std::uint32_t address, const char* bytes, std::size_t count);
    static constexpr std::uint32_t rowLength = 16;
    [[nodiscard]] bool rowGiven(std::size_t row) const { return row < givenRows.size() && givenRows[row]; }
    // The rows given, in address order: what a save writes back, found
    // without looking at the other rows of a 16 MiB array each time.
    [[nodiscard]] const std::vector<std::uint32_t>& givenRowNumbers() const { return givenList; }
    // Once the whole array is kept elsewhere, no row is given any more.
    void forgetGivenRows();
    // The write buffer's size from CFI offset 0x2A: 2^n bytes.
    [[nodiscard]] std::uint32_t bufferSize() const;

private:
    [[nodiscard]] std::uint32_t chipAddress(std::uint32_t address) const { return address & (part.size - 1U); }
    [[nodiscard]] std::uint8_t lockStatus(std::uint32_t address) const;
    [[nodiscard]] std::uint8_t identifierByte(std::uint32_t address) const;
    [[nodiscard]] std::uint8_t queryByte(std::uint32_t address) const;
    CommandOutcome confirmLock(std::uint32_t address, std::uint8_t value);
    CommandOutcome lockCommand(const std::string& what, bool set, std::uint32_t block);
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
    [[nodiscard]] std::chrono::microseconds typicalTime(std::size_t queryOffset, std::chrono::microseconds unit) const;
    // Programs one byte: old AND new. False when the new byte asked for a
    // 0 bit to become 1 (except in a weak block's stuck cells).
    bool program(std::uint32_t address, std::uint8_t value, CommandOutcome& outcome);
    void store(std::uint32_t address, std::uint8_t value, CommandOutcome& outcome);
    [[nodiscard]] bool stuckCell(std::uint32_t address) const;

    ChipModel part;
    ChipSettings settings;
    ChipMode current = ChipMode::ReadArray;
    // SR.7 is kept set here; busy() clears it on the way out.
    std::uint8_t status = 0x80;
    std::optional<Clock::time_point> readyAt;
    // The address of the erase or write-to-buffer command being set up.
    std::uint32_t setupAddress = 0;
    // The sequence began while SR.4 or SR.5 were set: it is taken to its end
    // but not carried out.
    bool heldBack = false;
    // Write to buffer: the bytes announced, the window of the first one,
    // the address/data pairs so far, and whether one fell outside.
    std::uint32_t bufferLength = 0;
    std::uint32_t bufferWindow = 0;
    std::vector<std::pair<std::uint32_t, std::uint8_t>> buffered;
    bool bufferAborted = false;
    std::vector<bool> locks;
    std::vector<std::uint8_t> content;
    std::vector<bool> givenRows;
    std::vector<std::uint32_t> givenList;
};

}  // namespace flashsim
