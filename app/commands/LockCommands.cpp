#include "app/commands/LockCommands.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <ostream>
#include <vector>

#include "app/Arguments.h"
#include "app/Progress.h"
#include "app/commands/JobJournal.h"
#include "app/commands/Messages.h"
#include "app/commands/Options.h"
#include "app/commands/Session.h"
#include "app/commands/WriteCommands.h"
#include "flash/KnownChips.h"
#include "flash/LockMap.h"

LockCommands::LockCommands(CLI::App& app, const CommandContext& context)
    : context(&context),
      statusCommand(
          app.add_subcommand("status", "Show the board, the chip, its CFI geometry and the lock bit of every block")),
      lockCommand(app.add_subcommand("lock", "Set the lock bits of BLOCKS and verify the whole lock map")),
      unlockCommand(app.add_subcommand(
          "unlock", "Clear the lock bits of BLOCKS, keep every other block as it was, and verify the whole lock map")),
      chipsCommand(
          app.add_subcommand("chips", "List the chips and boards flashlock knows, with their codes and sizes")) {
    statusCommand->add_flag("--json", json, "One JSON object instead of text");
    lockCommand->add_option("BLOCKS", lockBlocks, "Blocks to lock")->required()->check(checkBlocks, "BLOCKS");
    unlockCommand->add_option("BLOCKS", unlockBlocks, "Blocks to unlock")->required()->check(checkBlocks, "BLOCKS");
    unlockCommand->add_flag("--dry-run", dryRun, "Print the map and what would change, and write nothing to the chip");
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
    if (chipsCommand->parsed()) {
        return chips();
    }
    return std::nullopt;
}

namespace {

const char* yesNo(bool value) {
    return value ? "true" : "false";
}

void printJson(std::ostream& out, const Session& session, const LockState& state, std::optional<bool> masterLock) {
    const Identification& chip = session.identification();
    const Geometry& geometry = session.geometry();
    const std::uint32_t blockSize = geometry.uniformBlockSize();
    const bool protection = session.protectionOnly();
    out << R"({"board": ")" << boardName(session.board()) << R"(", "simulated": )" << yesNo(session.simulated())
        << R"(, "manufacturer": )" << unsigned{session.manufacturer()} << ", \"device\": " << unsigned{session.device()}
        << ", \"deviceCodes\": [";
    for (std::size_t i = 0; i < chip.identity.device.size(); ++i) {
        out << (i > 0 ? ", " : "") << unsigned{chip.identity.device[i]};
    }
    out << "], \"chip\": " << (chip.known != nullptr ? '"' + std::string(chip.known->name) + '"' : std::string("null"))
        << ", \"size\": " << geometry.size
        << ", \"blockSize\": " << (blockSize != 0 ? std::to_string(blockSize) : std::string("null"))
        << ", \"blocks\": " << geometry.blocks.size() << ", \"commandSet\": " << geometry.commandSet
        << R"(, "commandSetName": ")" << session.commands().name() << '"';
    if (geometry.intelSet()) {
        out << ", \"featureBits\": " << geometry.featureBits
            << ", \"instantIndividualLocking\": " << yesNo(geometry.instantIndividualLocking());
    }
    out << ", \"masterLock\": " << (masterLock ? yesNo(*masterLock) : "null")
        << ", \"reachable\": " << yesNo(geometry.reachable());
    const char* key = protection ? "protected" : "locked";
    if (geometry.reachable()) {
        out << ", \"" << key << "\": [";
        const std::vector<std::uint32_t> set = numbersOf(state);
        for (std::size_t i = 0; i < set.size(); ++i) {
            out << (i > 0 ? ", " : "") << set[i];
        }
        out << "], \"blockList\": [";
        for (std::size_t i = 0; i < geometry.blocks.size(); ++i) {
            const Block& block = geometry.blocks[i];
            out << (i > 0 ? ", " : "") << "{\"number\": " << i + 1 << ", \"start\": " << block.base
                << ", \"size\": " << block.size << ", \"" << key << "\": " << yesNo(state[i]) << '}';
        }
        out << ']';
    }
    out << "}\n";
}

}  // namespace

int LockCommands::status() {
    Session session(*context);
    if (const int opened = session.open(true); opened != exitStatus::done) {
        return opened;
    }
    JobJournal(session).notice();
    const Geometry& geometry = session.geometry();
    CommandSet& commands = session.commands();
    const bool protection = session.protectionOnly();
    // Nothing past the board's reach can be read, not even a sector's protection.
    const LockState state = geometry.reachable() ? commands.readProtection() : LockState{};
    const std::optional<bool> masterLock =
        geometry.intelSet() && geometry.reachable() ? std::optional<bool>(commands.masterLockSet()) : std::nullopt;
    std::ostream& out = session.out();
    if (json) {
        printJson(out, session, state, masterLock);
        return session.finish(exitStatus::done);
    }
    const std::uint32_t blockSize = geometry.uniformBlockSize();
    session.printBoardAndChip(out);
    out << "size         " << humanBytes(geometry.size) << " (" << geometry.size << " bytes)\n"
        << "blocks       " << geometry.blocks.size();
    if (blockSize != 0) {
        out << " of " << humanBytes(blockSize);
    } else {
        out << ": " << layoutText(geometry.blocks);
    }
    if (geometry.boot != BootSectors::None && blockSize == 0) {
        out << "\nboot sectors " << (geometry.boot == BootSectors::Top ? "at the top" : "at the bottom");
        if (geometry.bootGuessed) {
            out << ", taken from the device code as Linux MTD does: this part's CFI table does not say";
        }
    }
    out << "\ncommand set  " << hex(geometry.commandSet, 4) << ' ' << commands.name();
    if (geometry.extendedQuery) {
        out << ", extended query " << geometry.extendedMajor << '.' << geometry.extendedMinor;
    }
    out << "\nwrite buffer "
        << (geometry.writeBufferSize > 1 ? humanBytes(geometry.writeBufferSize) : std::string("none: byte by byte"));
    if (!geometry.reachable()) {
        out << "\nreach        beyond the board: its 24 address lines reach the first 16 MiB; flashlock shows this "
               "part and changes nothing on it\n";
        return session.finish(exitStatus::done);
    }
    if (protection) {
        out << "\nprotection   sectors are protected by the chip's own means (12 V, or its own protection "
               "commands); flashlock reads it and never changes it\n\n";
    } else {
        out << "\nlocking      "
            << (geometry.instantIndividualLocking()
                    ? "each block locks and unlocks on its own"
                    : "blocks lock one by one but unlock all at once; unlock re-locks the others")
            << " (features " << hex(geometry.featureBits, 8) << ")\n"
            << "master lock  "
            << (masterLock.value_or(false) ? "set: block lock bits cannot change without 12 V on RP#" : "not set")
            << "\n\n";
    }
    printLockMap(out, state, protection);
    out << "\nblock  addresses          size     " << (protection ? "protection" : "lock bit") << '\n';
    for (std::size_t i = 0; i < geometry.blocks.size(); ++i) {
        const Block& block = geometry.blocks[i];
        const std::string number = std::to_string(i + 1);
        const std::string size = humanBytes(block.size);
        out << std::string(number.size() < 5 ? 5 - number.size() : 0, ' ') << number << "  " << hex(block.base, 6)
            << '-' << hex(block.base + block.size - 1, 6) << "  "
            << std::string(size.size() < 7 ? 7 - size.size() : 0, ' ') << size << "  "
            << (state[i] ? (protection ? "protected" : "locked") : (protection ? "unprotected" : "unlocked")) << '\n';
    }
    return session.finish(exitStatus::done);
}

int LockCommands::chips() {
    std::ostream& out = context->out;
    const auto column = [&out](const std::string& text, std::size_t width) {
        out << text << std::string(text.size() < width ? width - text.size() : 1, ' ');
    };
    out << "chips flashlock names, with the codes status shows:\n  ";
    column("part", 42);
    column("set", 7);
    column("maker", 11);
    column("device", 16);
    column("size", 8);
    out << "blocks, in address order\n";
    for (const KnownChip& chip : knownChips()) {
        const std::string maker = (chip.bank > 0 ? std::string("0x7F ") : std::string()) + hex(chip.manufacturer, 2);
        std::string device;
        for (std::uint8_t i = 0; i < chip.deviceLength; ++i) {
            device += (i > 0 ? " " : "") + hex(chip.device.at(i), 2);
        }
        std::string notes = chip.layout;
        if (!chip.byteMode) {
            notes += "; needs a 16-bit bus: refused";
        } else if (!chip.reachable()) {
            notes += "; beyond the board's 16 MiB: status only";
        }
        out << "  ";
        column(chip.name, 42);
        column(chip.commandSet == cfiCommandSet::amdStandard ? "AMD" : "Intel", 7);
        column(maker, 11);
        column(device, 16);
        column(humanBytes(static_cast<double>(std::uint64_t{1} << chip.sizeExponent)), 8);
        out << notes << '\n';
    }
    out << "Any other CFI chip of the Intel set (0x0001, 0x0003) or of the AMD set (0x0002, in byte mode) up to\n"
           "16 MiB is driven by what its own CFI table says, and shown as \"CFI part\" with its codes.\n\n"
           "boards flashlock finds on the parallel port:\n";
    for (const BoardKind board : {BoardKind::Willem, BoardKind::Zantrel4v4, BoardKind::Zantrel4v5}) {
        out << "  " << boardName(board) << '\n';
    }
    out.flush();
    return out ? exitStatus::done : exitStatus::fileFailed;
}

namespace {

// The commands that take the lock map from `from` to `to`, leaving out the
// blocks no command mends. `known` false: `from` lists the blocks that may be
// locked, as after a board that had to be switched off and on.
std::string commandsBetween(const CommandContext& context, const LockState& from, const LockState& to, bool known,
                            const std::vector<std::size_t>& stuck) {
    std::vector<std::uint32_t> locking;
    std::vector<std::uint32_t> unlocking;
    for (std::size_t i = 0; i < to.size(); ++i) {
        if (std::find(stuck.begin(), stuck.end(), i) != stuck.end()) {
            continue;
        }
        if (to[i] && (!known || !from[i])) {
            locking.push_back(static_cast<std::uint32_t>(i + 1));
        } else if (!to[i] && from[i]) {
            unlocking.push_back(static_cast<std::uint32_t>(i + 1));
        }
    }
    std::string text;
    if (!unlocking.empty()) {
        text = commandText(context, {"unlock", formatBlocks(unlocking)});
    }
    if (!locking.empty()) {
        text += (text.empty() ? "" : " && ") + commandText(context, {"lock", formatBlocks(locking)});
    }
    return text;
}

}  // namespace

void reportLockSteps(Session& session, const LockOutcome& outcome) {
    for (const LockStepFailure& failure : outcome.failures) {
        const std::string what =
            failure.clear ? (failure.block < 0 ? "clearing all lock bits"
                                               : "clearing the lock bit of block " + std::to_string(failure.block + 1))
                          : "setting the lock bit of block " + std::to_string(failure.block + 1);
        const LockStep& step = failure.step;
        if (step.timedOut) {
            session.fail(what + ": the chip did not finish within " + humanDuration(step.deadlineMicroseconds / 1e6) +
                             " (status " + hex(step.status, 2) +
                             (step.finishedLate ? "), far beyond its datasheet's time; it finished later, and "
                                                  "flashlock went no further"
                                                : ")"),
                         exitStatus::chipFailed);
        } else {
            session.fail(what + ": the chip refused (status " + hex(step.status, 2) +
                             "): " + session.commands().explainLock(step, failure.clear),
                         exitStatus::chipFailed);
        }
    }
    for (const std::size_t block : outcome.stuck) {
        session.fail("block " + std::to_string(block + 1) + ": the chip took the command twice without an error, but " +
                         "its lock bit did not change: a hardware fault, which no command mends",
                     exitStatus::chipFailed);
    }
}

void reportLockFailure(Session& session, const LockOutcome& outcome) {
    reportLockSteps(session, outcome);
    if (outcome.after.empty()) {
        // Any block the job touched may now be locked or not.
        LockState maybe = outcome.before;
        for (std::size_t i = 0; i < maybe.size(); ++i) {
            maybe[i] = maybe[i] || outcome.intended[i];
        }
        session.fail(
            "the lock map is unknown: the chip was left busy; switch the board off and on, then run "
            "flashlock status",
            exitStatus::chipFailed);
        if (const std::string restore = commandsBetween(session.commandContext(), maybe, outcome.before, false, {});
            !restore.empty()) {
            session.fail("then, to restore the map as it was: " + restore, exitStatus::chipFailed);
        }
        if (outcome.intended != outcome.before) {
            session.fail("or to finish the job: " +
                             commandsBetween(session.commandContext(), maybe, outcome.intended, false, {}),
                         exitStatus::chipFailed);
        }
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
    }
    if (const std::string finish =
            commandsBetween(session.commandContext(), outcome.after, outcome.intended, true, outcome.stuck);
        !finish.empty()) {
        session.fail("to finish the job: " + finish, exitStatus::chipFailed);
    }
    if (outcome.intended != outcome.before && outcome.after != outcome.before) {
        if (const std::string restore =
                commandsBetween(session.commandContext(), outcome.after, outcome.before, true, outcome.stuck);
            !restore.empty()) {
            session.fail("to restore the map as it was: " + restore, exitStatus::chipFailed);
        }
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
    if (session.protectionOnly()) {
        session.fail(std::string(unlocking ? "unlock" : "lock") + ": the " + session.chipText() +
                         " has no lock bits: " + session.commands().explainLock({}, unlocking) +
                         "; nothing was sent to the chip",
                     exitStatus::chipFailed);
        return session.finish(exitStatus::chipFailed);
    }
    JobJournal journal(session);
    JournalJob job;
    job.kind = unlocking ? JobKind::Unlock : JobKind::Lock;
    job.blocks = *named;
    job.command = jobWords(*context);
    int refused = exitStatus::done;
    const std::optional<std::optional<JournalState>> taken = journal.takeUp(&job, refused);
    if (!taken) {
        return session.finish(refused);
    }
    const std::optional<JournalState>& previous = *taken;
    LockMap map(session.commands());
    const LockState current = map.read();
    // A job taken up again starts from the map as it was before its first
    // run, not as that run left it.
    const LockState before = previous ? previous->locksBefore : current;
    LockState intended = before;
    for (std::size_t i = 0; i < intended.size(); ++i) {
        intended[i] = unlocking ? intended[i] && !(*named)[i] : intended[i] || (*named)[i];
    }
    // Blocks named that are locked, the named ones that are not, and the others that are.
    std::vector<std::uint32_t> namedLocked;
    std::vector<std::uint32_t> namedUnlocked;
    std::vector<std::uint32_t> othersLocked;
    for (std::size_t i = 0; i < before.size(); ++i) {
        const auto number = static_cast<std::uint32_t>(i + 1);
        if ((*named)[i] && before[i]) {
            namedLocked.push_back(number);
        } else if ((*named)[i]) {
            namedUnlocked.push_back(number);
        } else if (before[i]) {
            othersLocked.push_back(number);
        }
    }
    std::ostream& out = session.out();
    if (previous) {
        out << "journal      " << journal.path() << " keeps " << JobJournal::describe(*previous)
            << "; finishing it from the map before it: " << lockedSummary(before) << '\n';
    }
    if (intended == current) {
        if (previous) {
            if (platform::FileProblem removal; !journal.journal().remove(removal)) {
                return session.finish(session.fail(removal.text, exitStatus::fileFailed));
            }
        }
        if (unlocking) {
            out << "nothing to do: none of the blocks named is locked; locked: " << lockedSummary(current) << '\n';
        } else {
            if (!namedLocked.empty()) {
                out << "already locked: " << blocksText(namedLocked) << '\n';
            }
            out << "nothing to do; locked: " << lockedSummary(current) << '\n';
        }
        return session.finish(exitStatus::done);
    }
    if (!unlocking && !namedLocked.empty()) {
        out << "already locked: " << blocksText(namedLocked) << '\n';
    }
    // Only now, with something to change: the master lock refuses every change.
    if (map.masterLockSet()) {
        session.fail(
            "the master lock bit is set: this chip's block lock bits can only change with 12 V on RP#, which the "
            "board does not give; nothing was written",
            exitStatus::chipFailed);
        return session.finish(exitStatus::chipFailed);
    }
    const std::string restore = commandText(*context, {"lock", formatBlocks(numbersOf(before))});
    if (unlocking) {
        printLockMap(out, before);
        out << "to restore this map: " << restore << '\n';
        if (!session.geometry().instantIndividualLocking() && !othersLocked.empty()) {
            out << "this chip clears all lock bits at once: clearing all, then re-locking " << blocksText(othersLocked)
                << '\n';
        }
        out.flush();
    }
    if (dryRun) {
        out << "dry run: nothing was written to the chip\n";
        return session.finish(exitStatus::done);
    }
    // A signal that came before anything was written ends the run here.
    if (session.interrupted() != 0) {
        session.fail("interrupted before anything was written; nothing was changed", exitStatus::done);
        return session.finish(exitStatus::done);
    }
    JournalKeeper keeper(journal.journal(), previous ? *previous : journal.fresh(job, before));
    if (platform::FileProblem written; !keeper.begin(written)) {
        return session.finish(session.fail(journalNotWritten(written.text), exitStatus::fileFailed));
    }
    const LockOutcome outcome = map.change(current, intended);
    // The journal is needed no more once the map is the one asked for, or
    // still the one from before.
    const bool settled = !outcome.after.empty() && (outcome.after == intended || outcome.after == before);
    if (settled) {
        if (platform::FileProblem removal; !keeper.finish(removal)) {
            session.fail(
                "the journal " + journal.path() + " could not be removed: " + removal.text + "; it is no longer needed",
                exitStatus::fileFailed);
        }
    }
    if (!outcome.verified()) {
        LockOutcome report = outcome;
        report.before = before;
        reportLockFailure(session, report);
        if (!settled) {
            session.fail("the journal " + journal.path() + " keeps the map from before this job; " +
                             commandText(*context, {"recover"}) + " makes it again",
                         exitStatus::chipFailed);
        }
        return session.finish(exitStatus::chipFailed, map.chipBusy());
    }
    std::vector<std::uint32_t> changed;
    for (std::size_t i = 0; i < before.size(); ++i) {
        if (outcome.intended[i] != before[i]) {
            changed.push_back(static_cast<std::uint32_t>(i + 1));
        }
    }
    const std::string done = std::string(unlocking ? "unlocked " : "locked ") + blocksText(changed) +
                             "; verified, locked now: " + lockedSummary(outcome.after);
    out << done << '\n' << std::flush;
    if (!out) {
        // Whoever reads standard error must still learn what changed on the chip.
        session.fail(done + (numbersOf(before).empty() ? "" : "; to restore the earlier map: " + restore),
                     exitStatus::fileFailed);
    }
    return session.finish(exitStatus::done);
}
