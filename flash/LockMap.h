#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "flash/FlashChip.h"
#include "flash/Geometry.h"

// One bool per block, in address order: true where the lock bit is set.
using LockState = std::vector<bool>;

// Deadlines and poll intervals of the lock commands. The deadlines count only
// the waits between polls, so the real time before giving up is longer still:
// a slow board can never make a command look late.
namespace lockTiming {
// Set lock bit: about 64 us typical, 75 us at most on the J3 parts.
constexpr std::uint32_t setDeadlineMicroseconds = 100000;
constexpr std::uint32_t setPollMicroseconds = 10;
// Clear lock bits: 0.5 s typical, 0.7 s at most (1.4 s on later J3
// steppings); Linux MTD allows 1.5 s.
constexpr std::uint32_t clearDeadlineMicroseconds = 5000000;
constexpr std::uint32_t clearPollMicroseconds = 1000;
// A command past its deadline is watched this much longer before the chip
// counts as stuck busy: a slow chip that finishes after all can still have
// its map read back, so that the user learns what it holds.
constexpr std::uint32_t lateMicroseconds = 5000000;
}  // namespace lockTiming

// A lock command that the chip refused or did not finish.
struct LockStepFailure {
    // The block the command addressed, or -1 for a clear of all blocks.
    int block = -1;
    bool clear = false;
    bool timedOut = false;
    // Timed out, but finished within lockTiming::lateMicroseconds after.
    bool finishedLate = false;
    std::uint8_t status = 0;
};

struct LockOutcome {
    LockState before;
    LockState intended;
    // Re-read from the chip after the last command; empty when the chip was
    // left busy and could not be read.
    LockState after;
    std::vector<LockStepFailure> failures;
    // Nothing needed changing, so nothing was written.
    bool nothingToDo = false;
    // Blocks whose lock bit stayed wrong although the chip took the command
    // without an error, twice: a fault of the chip, which no rerun mends.
    std::vector<std::size_t> stuck;

    // Success is the re-read map, whatever the status register said.
    [[nodiscard]] bool verified() const { return !after.empty() && after == intended; }
};

// The lock bits of every block: read from the chip each time, never
// remembered, and changed by verified transactions. Every operation expects
// the access line up and leaves the chip in read-array mode (unless it was
// left busy, when nothing more is written).
class LockMap {
public:
    LockMap(FlashChip& chip, const Geometry& geometry, bool masterLockPart);

    LockState read();
    // The J5 master lock bit (identifier byte 6); false on parts without one.
    bool masterLockSet();

    // Sets the lock bits of the named blocks that are not set yet.
    LockOutcome lock(const LockState& before, const LockState& named);
    // Clears the lock bits of the named blocks and leaves every other block
    // as `before` has it. Without per-block clearing that is one transaction:
    // clear all, re-lock the others one by one, read the whole map back.
    LockOutcome unlock(const LockState& before, const LockState& named);
    // Makes the map `intended`, from `before` as read: the bits to set are
    // set, and bits to clear are cleared as unlock does. When the chip
    // reported success but the map read back differs, the change is tried
    // once more; what still differs then is stuck.
    LockOutcome change(const LockState& before, const LockState& intended);

    // Whether the last command was left unfinished, so the chip may not take
    // another write.
    [[nodiscard]] bool chipBusy() const { return busy; }

private:
    // Runs one lock command: clears the status register, writes setup and
    // confirm at `address`, polls until ready, and clears the status again
    // after an error. True when the chip reported success.
    bool command(std::uint32_t address, std::uint8_t confirm, int block, LockOutcome& outcome);
    // The commands that take the map from `from` to the outcome's intended map.
    void transition(const LockState& from, LockOutcome& outcome);
    void verify(LockOutcome& outcome);

    FlashChip* chip;
    const Geometry* geometry;
    bool masterLockPart;
    bool busy = false;
    // A command finished late: the transaction goes no further.
    bool halted = false;
};
