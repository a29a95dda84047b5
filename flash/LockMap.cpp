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
    const bool clear = confirm == cmdClearLocksConfirm;
    const std::uint32_t interval = clear ? lockTiming::clearPollMicroseconds : lockTiming::setPollMicroseconds;
    const std::uint32_t deadline = clear ? lockTiming::clearDeadlineMicroseconds : lockTiming::setDeadlineMicroseconds;
    chip->writeAt(0, cmdClearStatus);
    chip->writeAt(address, cmdLockSetup);
    chip->writeAt(address, confirm);
    // The chip answers with its status register until the next command.
    std::uint8_t value = chip->readAt(address);
    for (std::uint32_t waited = 0; !status::isReady(value); waited += interval) {
        if (waited >= deadline) {
            busy = true;
            outcome.failures.push_back({block, clear, true, value});
            return false;
        }
        chip->waitMicroseconds(interval);
        value = chip->readAt(address);
    }
    if (status::reportsError(value)) {
        chip->writeAt(0, cmdClearStatus);
        outcome.failures.push_back({block, clear, false, value});
        return false;
    }
    return true;
}

void LockMap::verify(LockOutcome& outcome) {
    if (!busy) {
        outcome.after = read();
    }
}

LockOutcome LockMap::lock(const LockState& before, const LockState& named) {
    LockOutcome outcome{before, before, {}, {}, false};
    for (std::size_t i = 0; i < named.size() && i < outcome.intended.size(); ++i) {
        outcome.intended[i] = outcome.intended[i] || named[i];
    }
    if (outcome.intended == before) {
        outcome.nothingToDo = true;
        outcome.after = before;
        return outcome;
    }
    for (std::size_t i = 0; i < outcome.intended.size() && !busy; ++i) {
        if (outcome.intended[i] && !before[i]) {
            command(geometry->blocks[i].base, cmdSetLockConfirm, static_cast<int>(i), outcome);
        }
    }
    verify(outcome);
    return outcome;
}

LockOutcome LockMap::unlock(const LockState& before, const LockState& named) {
    LockOutcome outcome{before, before, {}, {}, false};
    for (std::size_t i = 0; i < named.size() && i < outcome.intended.size(); ++i) {
        outcome.intended[i] = outcome.intended[i] && !named[i];
    }
    if (outcome.intended == before) {
        outcome.nothingToDo = true;
        outcome.after = before;
        return outcome;
    }
    if (geometry->instantIndividualLocking()) {
        for (std::size_t i = 0; i < before.size() && !busy; ++i) {
            if (before[i] && !outcome.intended[i]) {
                command(geometry->blocks[i].base, cmdClearLocksConfirm, static_cast<int>(i), outcome);
            }
        }
    } else if (command(0, cmdClearLocksConfirm, -1, outcome)) {
        // Only after a clear that the chip took: had it refused, every lock
        // bit would still be as it was, and re-locking could only fail too.
        for (std::size_t i = 0; i < before.size() && !busy; ++i) {
            if (outcome.intended[i]) {
                command(geometry->blocks[i].base, cmdSetLockConfirm, static_cast<int>(i), outcome);
            }
        }
    }
    verify(outcome);
    return outcome;
}
