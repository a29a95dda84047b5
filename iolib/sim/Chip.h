#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "iolib/sim/ChipCatalog.h"

namespace flashsim {

// What a read cycle returns, as chosen by the last command.
enum class ChipMode { ReadArray, ReadIdentifier, Query, ReadStatus, LockSetup };

const char* modeName(ChipMode mode);

// The J3 datasheet's typical times for the two lock commands. The program
// polls SR.7 against real deadlines, so the chip is busy in real time.
inline constexpr std::chrono::microseconds typicalSetLockBitTime{64};
inline constexpr std::chrono::microseconds typicalClearLockBitsTime{500000};

// How the simulated part behaves beyond its catalogue facts: how long its lock
// commands keep it busy, and the faults a test bench can put on it.
struct ChipSettings {
    std::chrono::microseconds setLockBitTime = typicalSetLockBitTime;
    std::chrono::microseconds clearLockBitsTime = typicalClearLockBitsTime;
    // VPEN below its lockout voltage: every lock command fails with SR.3.
    bool vpenLow = false;
    // A block whose lock bit survives a clear-all, while the status register
    // still reports success.
    std::optional<std::uint32_t> stuckBlock;
    // J5 parts only: the master lock bit is set, so lock commands fail with SR.1.
    bool masterLocked = false;
};

// What one write cycle did, told back for the log.
struct CommandOutcome {
    std::string action;
    // A command that this model refuses to carry out (program, erase) or a
    // sequence that the real program never sends.
    bool fault = false;
    // The lock bits changed, so the persistent state must be written.
    bool locksChanged = false;
};

// The flash chip in the socket, in byte mode, with the Intel-style command
// interface that all seven parts share. Program and erase commands are
// recognised but never carried out: the simulator is there to show what the
// program does, and the program sends none of them.
class Chip {
public:
    using Clock = std::chrono::steady_clock;

    explicit Chip(ChipModel model, ChipSettings settings = {});

    [[nodiscard]] const ChipModel& model() const { return part; }
    [[nodiscard]] ChipMode mode() const { return current; }
    // SR.7 reads 0 while a lock command is still running.
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

private:
    [[nodiscard]] std::uint32_t chipAddress(std::uint32_t address) const { return address & (part.size - 1U); }
    [[nodiscard]] std::uint8_t lockStatus(std::uint32_t address) const;
    [[nodiscard]] std::uint8_t identifierByte(std::uint32_t address) const;
    [[nodiscard]] std::uint8_t queryByte(std::uint32_t address) const;
    CommandOutcome confirmLock(std::uint32_t address, std::uint8_t value);
    CommandOutcome lockCommand(const std::string& what, bool set, std::uint32_t block);
    CommandOutcome refuse(const char* what, std::uint8_t errorBits);

    ChipModel part;
    ChipSettings settings;
    ChipMode current = ChipMode::ReadArray;
    // SR.7 is kept set here; busy() clears it on the way out.
    std::uint8_t status = 0x80;
    std::optional<Clock::time_point> readyAt;
    std::vector<bool> locks;
    std::vector<std::uint8_t> content;
    std::vector<bool> givenRows;
    std::vector<std::uint32_t> givenList;
};

}  // namespace flashsim
