#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "iolib/sim/ChipCatalog.h"

namespace flashsim {

// What a read cycle returns, as chosen by the last command, and where a
// command sequence stands.
enum class ChipMode {
    // Intel set. The setup modes between the first and the last write of a
    // program or erase sequence read the status register, except that a write
    // to buffer first answers with its extended status register.
    ReadArray,
    ReadIdentifier,
    Query,
    ReadStatus,
    LockSetup,
    EraseSetup,    // also the AMD set's erase setup after 0x80
    ProgramSetup,  // also the AMD set's program setup after 0xA0
    BufferCount,
    BufferData,  // also the AMD set's buffer loads
    // AMD set.
    UnlockCycle1,
    UnlockCycle2,
    Autoselect,
    EraseUnlockCycle1,
    EraseUnlockCycle2,
    BufferLoadCount,
    UnlockBypass,
    BypassEraseSetup,
    BypassExit,
    Programming,  // embedded program or buffer program running: status reads
    Erasing,      // embedded erase running: status reads
    Exceeded,     // DQ5: the operation ran over its time limit
    BufferAbort,  // DQ1: a write to buffer was aborted
};

const char* modeName(ChipMode mode);
// At most eight characters, for the waveform's text signal.
const char* modeTag(ChipMode mode);

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
    // For tests that must not depend on time: every lock, program and erase
    // command keeps the chip busy for exactly this many reads, whatever the
    // times above say; -1 keeps it busy for ever.
    std::optional<int> busyReads;
    // Intel set: XSR.7 stays 0 after 0xE8, as when no write buffer ever
    // becomes free.
    bool bufferNeverFree = false;
    // VPEN below its lockout voltage: every lock, program and erase command
    // fails with SR.3.
    bool vpenLow = false;
    // A block whose lock bit survives a clear-all, while the status register
    // still reports success.
    std::optional<std::uint32_t> stuckBlock;
    // J5 parts only: the master lock bit is set, so lock commands fail with SR.1.
    bool masterLocked = false;
    // AMD set: the sectors protected (by the programmer's high-voltage
    // method, which no bus command undoes).
    std::vector<std::uint32_t> protectedSectors;
    // Erasing this block fails (SR.5; DQ5 on the AMD set) and leaves its
    // content as it was.
    std::optional<std::uint32_t> eraseFailBlock;
    // Programming this byte fails (SR.4; DQ5 on the AMD set); a buffer
    // holding it programs only its bytes at lower addresses.
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

// The flash chip in the socket, in byte mode: its array, its blocks' lock
// bits or protection, and the busy time of its commands. Each command set
// has its own model behind this interface (IntelChip, AmdChip); read and
// write are all a bus cycle needs, with or without the board around them.
class Chip {
public:
    using Clock = std::chrono::steady_clock;

    virtual ~Chip() = default;
    Chip(const Chip&) = delete;
    Chip& operator=(const Chip&) = delete;
    Chip(Chip&&) = delete;
    Chip& operator=(Chip&&) = delete;

    [[nodiscard]] const ChipModel& model() const { return part; }
    [[nodiscard]] const ChipSettings& chipSettings() const { return settings; }
    [[nodiscard]] virtual ChipMode mode() const = 0;
    // A command is still running.
    [[nodiscard]] bool busy() const;

    // A read cycle; it may change what the next one gives (status toggle
    // bits, busy reads counted down).
    virtual std::uint8_t read(std::uint32_t address) = 0;
    virtual CommandOutcome write(std::uint32_t address, std::uint8_t value) = 0;

    // Intel set: the block's lock bit. AMD set: the sector's protection.
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
    // The write buffer's size from CFI offset 0x2A: 2^n bytes; 0 for a part
    // whose table gives no buffer.
    [[nodiscard]] std::uint32_t bufferSize() const;
    // Called as the final cycle of every command that changes the chip
    // arrives (a lock bit set or cleared, an erase, a byte or buffer program),
    // before it takes effect, whether the chip then carries it out or
    // refuses it: the place for a power cut.
    void onChangingCommand(std::function<void()> hook) { changingCommand = std::move(hook); }

protected:
    Chip(ChipModel model, ChipSettings settings);

    [[nodiscard]] std::uint32_t chipAddress(std::uint32_t address) const { return address & (part.size - 1U); }
    [[nodiscard]] std::uint32_t blockOf(std::uint32_t address) const { return part.blockOf(chipAddress(address)); }
    // The typical time at a CFI offset (2^n units), or the settings' fixed time.
    [[nodiscard]] std::chrono::microseconds typicalTime(std::size_t queryOffset, std::chrono::microseconds unit) const;
    // Busy for `duration` of real time, or for the settings' number of reads.
    void startBusy(std::chrono::microseconds duration);
    void endBusy();
    // After a read that found the chip busy.
    void countBusyRead();
    // Programs one byte: old AND new. False when the new byte asked for a
    // 0 bit to become 1 (except in a weak block's stuck cells).
    bool program(std::uint32_t address, std::uint8_t value, CommandOutcome& outcome);
    void store(std::uint32_t address, std::uint8_t value, CommandOutcome& outcome);
    // Erases a block as the settings' faults allow: FF, or 00 in a weak
    // block's stuck cells.
    void eraseBlock(std::uint32_t block, CommandOutcome& outcome);
    [[nodiscard]] bool stuckCell(std::uint32_t address) const;
    [[nodiscard]] std::uint32_t lockCount() const { return static_cast<std::uint32_t>(locks.size()); }
    void changingCommandArrives() const {
        if (changingCommand) {
            changingCommand();
        }
    }

private:
    ChipModel part;
    ChipSettings settings;
    std::optional<Clock::time_point> readyAt;
    int busyReadsLeft = 0;
    std::vector<bool> locks;
    std::vector<std::uint8_t> content;
    std::vector<bool> givenRows;
    std::vector<std::uint32_t> givenList;
    std::function<void()> changingCommand;
};

// The model of the part's command set.
std::unique_ptr<Chip> makeChip(ChipModel model, ChipSettings settings = {});

// Texts for the log: "0x012345", "0xAB".
std::string hexAddress(std::uint32_t address);
std::string hexByte(std::uint8_t value);

}  // namespace flashsim
