#include "flash/LockMap.h"

#include <algorithm>

#include "flash/CommandSet.h"
#include "flash/StatusRegister.h"

namespace {

// In identifier mode word 3 of the chip (byte 6) holds the J5 master lock bit.
constexpr std::uint32_t masterLockAddress = 6;
constexpr std::uint8_t lockBit = 0x01;

}  // namespace

LockMap::LockMap(FlashChip& chip, const Geometry& geometry, bool masterLockPart)
    : chip(&chip), geometry(&geometry), masterLockPart(masterLockPart) {}

LockState LockMap::read() {
    chip->writeAt(0, cmdReadIdentifier);
    LockState state(geometry->blocks.size());
    std::transform(geometry->blocks.begin(), geometry->blocks.end(), state.begin(),
                   [this](const Block& block) { return (chip->readAt(block.base + lockStatusOffset) & lockBit) != 0; });
    chip->writeAt(0, cmdReadArray);
    return state;
}

bool LockMap::masterLockSet() {
    if (!masterLockPart) {
        return false;
    }
    chip->writeAt(0, cmdReadIdentifier);
    const bool set = (chip->readAt(masterLockAddress) & lockBit) != 0;
    chip->writeAt(0, cmdReadArray);
    return set;
}

bool LockMap::command(std::uint32_t address, std::uint8_t confirm, int block, LockOutcome& outcome) {
    const bool clear = confirm == cmdConfirm;
    const std::uint32_t interval = clear ? lockTiming::clearPollMicroseconds : lockTiming::setPollMicroseconds;
    const std::uint32_t deadline = clear ? lockTiming::clearDeadlineMicroseconds : lockTiming::setDeadlineMicroseconds;
    chip->writeAt(0, cmdClearStatus);
    chip->writeAt(address, cmdLockSetup);
    chip->writeAt(address, confirm);
    // The chip answers with its status register until the next command.
    std::uint8_t value = chip->readAt(address);
    for (std::uint32_t waited = 0; !status::isReady(value); waited += interval) {
        if (waited >= deadline) {
            LockStepFailure late{block, clear, true, false, value};
            // Watched a while longer, at the clear's pace, to learn whether
            // the chip is stuck or only slow.
            for (std::uint32_t after = 0; !status::isReady(value); after += lockTiming::clearPollMicroseconds) {
                if (after >= lockTiming::lateMicroseconds) {
                    busy = true;
                    outcome.failures.push_back(late);
                    return false;
                }
                chip->waitMicroseconds(lockTiming::clearPollMicroseconds);
                value = chip->readAt(address);
            }
            late.finishedLate = true;
            halted = true;
            if (status::reportsError(value)) {
                chip->writeAt(0, cmdClearStatus);
            }
            outcome.failures.push_back(late);
            return false;
        }
        chip->waitMicroseconds(interval);
        value = chip->readAt(address);
    }
    if (status::reportsError(value)) {
        chip->writeAt(0, cmdClearStatus);
        outcome.failures.push_back({block, clear, false, false, value});
        return false;
    }
    return true;
}

void LockMap::verify(LockOutcome& outcome) {
    if (!busy) {
        outcome.after = read();
    }
}

void LockMap::transition(const LockState& from, LockOutcome& outcome) {
    const LockState& intended = outcome.intended;
    LockState set(from.size(), false);
    bool clearing = false;
    for (std::size_t i = 0; i < from.size(); ++i) {
        set[i] = intended[i] && !from[i];
        clearing = clearing || (from[i] && !intended[i]);
    }
    if (clearing && geometry->instantIndividualLocking()) {
        for (std::size_t i = 0; i < from.size() && !busy && !halted; ++i) {
            if (from[i] && !intended[i]) {
                command(geometry->blocks[i].base, cmdConfirm, static_cast<int>(i), outcome);
            }
        }
    } else if (clearing) {
        if (!command(0, cmdConfirm, -1, outcome)) {
            // Had the chip refused the clear, every lock bit would still be
            // as it was, and re-locking could only fail too.
            return;
        }
        // Every bit is clear now: the blocks to keep locked are set again.
        set = intended;
    }
    for (std::size_t i = 0; i < set.size() && !busy && !halted; ++i) {
        if (set[i]) {
            command(geometry->blocks[i].base, cmdSetLockConfirm, static_cast<int>(i), outcome);
        }
    }
}

LockOutcome LockMap::change(const LockState& before, const LockState& intended) {
    LockOutcome outcome{before, intended, {}, {}, false, {}};
    halted = false;
    if (intended == before) {
        outcome.nothingToDo = true;
        outcome.after = before;
        return outcome;
    }
    transition(before, outcome);
    verify(outcome);
    if (busy || !outcome.failures.empty() || outcome.verified()) {
        return outcome;
    }
    // The chip said yes, the map says no: once more, from the map as it is.
    const LockState first = outcome.after;
    transition(first, outcome);
    verify(outcome);
    if (busy || !outcome.failures.empty()) {
        return outcome;
    }
    for (std::size_t i = 0; i < outcome.after.size(); ++i) {
        if (outcome.after[i] != intended[i]) {
            outcome.stuck.push_back(i);
        }
    }
    return outcome;
}

LockOutcome LockMap::lock(const LockState& before, const LockState& named) {
    LockState intended = before;
    for (std::size_t i = 0; i < named.size() && i < intended.size(); ++i) {
        intended[i] = intended[i] || named[i];
    }
    return change(before, intended);
}

LockOutcome LockMap::unlock(const LockState& before, const LockState& named) {
    LockState intended = before;
    for (std::size_t i = 0; i < named.size() && i < intended.size(); ++i) {
        intended[i] = intended[i] && !named[i];
    }
    return change(before, intended);
}
