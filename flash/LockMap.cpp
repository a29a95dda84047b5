#include "flash/LockMap.h"

LockMap::LockMap(CommandSet& commands) : commands(&commands) {}

LockState LockMap::read() {
    return commands->readProtection();
}

bool LockMap::masterLockSet() {
    return commands->masterLockSet();
}

bool LockMap::command(const LockStep& step, int block, bool clear, LockOutcome& outcome) {
    if (step.finishedLate) {
        halted = true;
    }
    if (!step.ok) {
        outcome.failures.push_back({block, clear, step});
    }
    return step.ok;
}

void LockMap::verify(LockOutcome& outcome) {
    if (!commands->busy()) {
        outcome.after = read();
    }
}

void LockMap::transition(const LockState& from, LockOutcome& outcome) {
    const LockState& intended = outcome.intended;
    const std::vector<Block>& blocks = commands->geometry().blocks;
    const auto going = [this] { return !commands->busy() && !halted; };
    LockState set(from.size(), false);
    bool clearing = false;
    for (std::size_t i = 0; i < from.size(); ++i) {
        set[i] = intended[i] && !from[i];
        clearing = clearing || (from[i] && !intended[i]);
    }
    if (clearing && commands->lockAbility() == LockAbility::PerBlock) {
        for (std::size_t i = 0; i < from.size() && going(); ++i) {
            if (from[i] && !intended[i]) {
                command(commands->clearLock(blocks[i]), static_cast<int>(i), true, outcome);
            }
        }
    } else if (clearing) {
        if (!command(commands->clearAllLocks(), -1, true, outcome)) {
            // Had the chip refused the clear, every lock bit would still be
            // as it was, and re-locking could only fail too.
            return;
        }
        // Every bit is clear now: the blocks to keep locked are set again.
        set = intended;
    }
    for (std::size_t i = 0; i < set.size() && going(); ++i) {
        if (set[i]) {
            command(commands->setLock(blocks[i]), static_cast<int>(i), false, outcome);
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
    if (commands->busy() || !outcome.failures.empty() || outcome.verified()) {
        return outcome;
    }
    // The chip said yes, the map says no: once more, from the map as it is.
    const LockState first = outcome.after;
    transition(first, outcome);
    verify(outcome);
    if (commands->busy() || !outcome.failures.empty()) {
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
