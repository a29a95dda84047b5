#include "app/commands/LockCommands.h"

#include <CLI/CLI.hpp>
#include <ostream>
#include <vector>

#include "app/Arguments.h"
#include "app/Progress.h"
#include "app/commands/Messages.h"
#include "app/commands/Options.h"
#include "app/commands/Session.h"
#include "flash/KnownChips.h"
#include "flash/LockMap.h"
#include "flash/StatusRegister.h"

LockCommands::LockCommands(CLI::App& app, const CommandContext& context)
    : context(&context),
      statusCommand(
          app.add_subcommand("status", "Show the board, the chip, its CFI geometry and the lock bit of every block")),
      lockCommand(app.add_subcommand("lock", "Set the lock bits of BLOCKS and verify the whole lock map")),
      unlockCommand(app.add_subcommand(
          "unlock", "Clear the lock bits of BLOCKS, keep every other block as it was, and verify the whole lock map")) {
    statusCommand->add_flag("--json", json, "One JSON object instead of text");
    lockCommand->add_option("BLOCKS", lockBlocks, "Blocks to lock")->required()->check(checkBlocks, "BLOCKS");
    unlockCommand->add_option("BLOCKS", unlockBlocks, "Blocks to unlock")->required()->check(checkBlocks, "BLOCKS");
}

std::optional<int> LockCommands::run() {
    if (statusCommand->parsed()) {
        return status();
    }
    if (lockCommand->parsed()) {
        return changeLocks(lockBlocks, false);
    }
    if (unlockCommand->parsed()) {
        return changeLocks(unlockBlocks, true);
    }
    return std::nullopt;
}

int LockCommands::status() {
    Session session(*context);
    if (const int opened = session.open(); opened != exitStatus::done) {
        return opened;
    }
    LockMap map(session.chip(), session.geometry(), hasMasterLockBit(session.id()));
    const LockState state = map.read();
    const bool masterLockPart = hasMasterLockBit(session.id());
    const bool masterLock = map.masterLockSet();
    const Geometry& geometry = session.geometry();
    const std::uint32_t blockSize = geometry.uniformBlockSize();
    std::ostream& out = session.out();
    if (json) {
        const char* name = knownChipName(session.id());
        out << R"({"board": ")" << boardName(session.board()) << R"(", "manufacturer": )"
            << unsigned{session.manufacturer()} << ", \"device\": " << unsigned{session.device()}
            << ", \"chip\": " << (name != nullptr ? '"' + std::string(name) + '"' : std::string("null"))
            << ", \"size\": " << geometry.size
            << ", \"blockSize\": " << (blockSize != 0 ? std::to_string(blockSize) : std::string("null"))
            << ", \"blocks\": " << geometry.blocks.size() << ", \"commandSet\": " << geometry.commandSet
            << ", \"featureBits\": " << geometry.featureBits
            << ", \"instantIndividualLocking\": " << (geometry.instantIndividualLocking() ? "true" : "false")
            << ", \"masterLock\": " << (masterLockPart ? (masterLock ? "true" : "false") : "null") << ", \"locked\": [";
        const std::vector<std::uint32_t> locked = numbersOf(state);
        for (std::size_t i = 0; i < locked.size(); ++i) {
            out << (i > 0 ? ", " : "") << locked[i];
        }
        out << "]}\n";
        return session.finish(exitStatus::done);
    }
    out << "board        " << boardName(session.board()) << '\n'
        << "chip         " << session.chipText() << '\n'
        << "size         " << humanBytes(geometry.size) << " (" << geometry.size << " bytes)\n"
        << "blocks       " << geometry.blocks.size();
    if (blockSize != 0) {
        out << " of " << humanBytes(blockSize);
    }
    out << "\ncommand set  " << hex(geometry.commandSet, 4)
        << (geometry.commandSet == 1 ? " Intel/Sharp extended" : " Intel standard");
    if (geometry.extendedQuery) {
        out << ", extended query " << geometry.extendedMajor << '.' << geometry.extendedMinor;
    }
    out << "\nlocking      "
        << (geometry.instantIndividualLocking()
                ? "each block locks and unlocks on its own"
                : "blocks lock one by one but unlock all at once; unlock re-locks the others")
        << " (features " << hex(geometry.featureBits, 8) << ")\n"
        << "master lock  "
        << (masterLockPart ? (masterLock ? "set: block lock bits cannot change without 12 V on RP#" : "clear")
                           : "none on this part")
        << "\n\n";
    printLockMap(out, state);
    return session.finish(exitStatus::done);
}

void reportLockFailure(Session& session, const LockOutcome& outcome) {
    const bool masterLockPart = hasMasterLockBit(session.id());
    for (const LockStepFailure& failure : outcome.failures) {
        const std::string what =
            failure.clear ? (failure.block < 0 ? "clearing all lock bits"
                                               : "clearing the lock bit of block " + std::to_string(failure.block + 1))
                          : "setting the lock bit of block " + std::to_string(failure.block + 1);
        if (failure.timedOut) {
            const std::uint32_t deadline =
                failure.clear ? lockTiming::clearDeadlineMicroseconds : lockTiming::setDeadlineMicroseconds;
            session.fail(what + ": the chip did not finish within " + humanDuration(deadline / 1e6) + " (status " +
                             hex(failure.status, 2) +
                             "); its lock bits are unknown: switch the board off and on, then run flashlock status",
                         exitStatus::chipFailed);
        } else {
            session.fail(what + ": the chip refused (status " + hex(failure.status, 2) +
                             "): " + status::describe(failure.status, masterLockPart),
                         exitStatus::chipFailed);
        }
    }
    if (outcome.after.empty()) {
        return;
    }
    std::vector<std::uint32_t> stillLocked;
    std::vector<std::uint32_t> notLocked;
    for (std::size_t i = 0; i < outcome.after.size(); ++i) {
        if (outcome.after[i] && !outcome.intended[i]) {
            stillLocked.push_back(static_cast<std::uint32_t>(i + 1));
        } else if (!outcome.after[i] && outcome.intended[i]) {
            notLocked.push_back(static_cast<std::uint32_t>(i + 1));
        }
    }
    if (!stillLocked.empty()) {
        session.fail("still locked, should be unlocked: " + blocksText(stillLocked), exitStatus::chipFailed);
    }
    if (!notLocked.empty()) {
        session.fail("unlocked, should be locked: " + blocksText(notLocked), exitStatus::chipFailed);
        session.fail("to finish the job: flashlock lock " + formatBlocks(notLocked), exitStatus::chipFailed);
    }
    if (!stillLocked.empty()) {
        session.fail("to finish the job: flashlock unlock " + formatBlocks(stillLocked), exitStatus::chipFailed);
    }
}

int LockCommands::changeLocks(const std::string& blocks, bool unlocking) {
    Session session(*context);
    if (const int opened = session.open(); opened != exitStatus::done) {
        return opened;
    }
    std::string problem;
    const std::optional<LockState> named = session.selectBlocks(*parseBlocks(blocks, problem));
    if (!named) {
        return session.finish(exitStatus::usage);
    }
    LockMap map(session.chip(), session.geometry(), hasMasterLockBit(session.id()));
    if (map.masterLockSet()) {
        session.fail(
            "the master lock bit is set: this chip's block lock bits can only change with 12 V on RP#, which the "
            "board does not give; nothing was written",
            exitStatus::chipFailed);
        return session.finish(exitStatus::chipFailed);
    }
    const LockState before = map.read();
    // Blocks named that are locked, and the others that are.
    std::vector<std::uint32_t> namedLocked;
    std::vector<std::uint32_t> othersLocked;
    for (std::size_t i = 0; i < before.size(); ++i) {
        if (before[i] && (*named)[i]) {
            namedLocked.push_back(static_cast<std::uint32_t>(i + 1));
        } else if (before[i]) {
            othersLocked.push_back(static_cast<std::uint32_t>(i + 1));
        }
    }
    std::ostream& out = session.out();
    if (unlocking && namedLocked.empty()) {
        out << "nothing to do: none of the blocks named is locked; locked: " << lockedSummary(before) << '\n';
        return session.finish(exitStatus::done);
    }
    if (unlocking) {
        printLockMap(out, before);
        out << "to restore this map: flashlock lock " << formatBlocks(numbersOf(before)) << '\n';
        if (!session.geometry().instantIndividualLocking() && !othersLocked.empty()) {
            out << "this chip clears all lock bits at once: clearing all, then re-locking " << blocksText(othersLocked)
                << '\n';
        }
        out.flush();
    } else if (!namedLocked.empty()) {
        out << "already locked: " << blocksText(namedLocked) << '\n';
    }
    // A signal that came before anything was written ends the run here.
    if (session.interrupted() != 0) {
        return session.finish(exitStatus::done);
    }
    const LockOutcome outcome = unlocking ? map.unlock(before, *named) : map.lock(before, *named);
    if (outcome.nothingToDo) {
        out << "nothing to do; locked: " << lockedSummary(before) << '\n';
        return session.finish(exitStatus::done);
    }
    if (!outcome.verified()) {
        reportLockFailure(session, outcome);
        return session.finish(exitStatus::chipFailed, map.chipBusy());
    }
    std::vector<std::uint32_t> changed;
    for (std::size_t i = 0; i < before.size(); ++i) {
        if (outcome.intended[i] != before[i]) {
            changed.push_back(static_cast<std::uint32_t>(i + 1));
        }
    }
    out << (unlocking ? "unlocked " : "locked ") << blocksText(changed)
        << "; verified, locked now: " << lockedSummary(outcome.after) << '\n';
    return session.finish(exitStatus::done);
}
