#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "flash/CommandSet.h"

// A lock command that the chip refused or did not finish.
struct LockStepFailure {
    // The block the command addressed, or -1 for a clear of all blocks.
    int block = -1;
    bool clear = false;
    LockStep step;
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
// remembered, and changed by verified transactions through the chip's
// command set. Every operation expects the access line up and leaves the
// chip in read-array mode (unless it was left busy, when nothing more is
// written).
class LockMap {
public:
    explicit LockMap(CommandSet& commands);

    LockState read();
    // A master lock bit that freezes every lock bit, read from the chip.
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
    [[nodiscard]] bool chipBusy() const { return commands->busy(); }

private:
    // True when the chip reported success; a failure is recorded.
    bool command(const LockStep& step, int block, bool clear, LockOutcome& outcome);
    // The commands that take the map from `from` to the outcome's intended map.
    void transition(const LockState& from, LockOutcome& outcome);
    void verify(LockOutcome& outcome);

    CommandSet* commands;
    // A command finished late: the transaction goes no further.
    bool halted = false;
};
