#include "app/commands/JobJournal.h"

#include "app/commands/Messages.h"
#include "platform/Durable.h"
#include "platform/Environment.h"
#include "platform/ShellQuote.h"

namespace {

constexpr const char* folderVariable = "FLASHLOCK_JOURNAL_DIR";

}  // namespace

JobJournal::JobJournal(Session& session) : session(&session) {
    const CommandContext& context = session.commandContext();
    std::string folder = context.journalFolder;
    if (folder.empty()) {
        if (const std::optional<std::string> set = platform::environmentValue(folderVariable); set && !set->empty()) {
            folder = *set;
        }
    }
    if (folder.empty()) {
        const std::optional<std::string> state = platform::stateFolder(why);
        if (!state) {
            why = "no folder for the journal that keeps this job safe: " + why + "; or give --journal DIR";
            return;
        }
        folder = *state;
    } else if (!platform::ensureFolder(folder, why)) {
        why = "the journal folder cannot be used: " + why;
        return;
    }
    const char separator = folder.find('\\') != std::string::npos ? '\\' : '/';
    if (folder.back() != '/' && folder.back() != '\\') {
        folder += separator;
    }
    file.emplace(folder + journalFileName(context.portKey));
}

std::string JobJournal::describe(const JournalState& state) {
    std::vector<std::string> line{"flashlock"};
    line.insert(line.end(), state.job.command.begin(), state.job.command.end());
    return "an unfinished \"" + platform::commandLine(line) + "\"";
}

void JobJournal::notice() {
    if (!file) {
        return;
    }
    JournalState state;
    std::string damage;
    switch (file->load(state, damage)) {
    case Journal::Found::None:
        return;
    case Journal::Found::Damaged:
        session->fail("the journal " + file->path() + " is damaged (" + damage +
                          "); flashlock will not apply it: write, erase, lock and unlock refuse to run until it is "
                          "looked at",
                      exitStatus::done);
        return;
    case Journal::Found::Valid:
        break;
    }
    if (!state.sameChip(session->identity(), session->geometry())) {
        session->fail("note: " + file->path() + " journals " + describe(state) + " on another chip (" +
                          state.identity.codes() + ")",
                      exitStatus::done);
        return;
    }
    session->fail("note: " + describe(state) + " on this chip is journaled in " + file->path() +
                      "; to finish it: " + commandText(session->commandContext(), state.job.command) +
                      "; to undo only what it left unsafe: " + commandText(session->commandContext(), {"recover"}),
                  exitStatus::done);
}

std::optional<std::optional<JournalState>> JobJournal::takeUp(const JournalJob* job, int& status) {
    if (!file) {
        status = session->fail(why, exitStatus::fileFailed);
        return std::nullopt;
    }
    JournalState state;
    std::string damage;
    switch (file->load(state, damage)) {
    case Journal::Found::None:
        return std::optional<JournalState>();
    case Journal::Found::Damaged:
        status = session->fail(
            "the journal " + file->path() + " is damaged (" + damage +
                "): flashlock never applies a damaged journal, and changes nothing while it is there; it is kept "
                "as it is. Check the chip with flashlock status and verify; once you know what it holds, move the "
                "journal elsewhere",
            exitStatus::fileFailed);
        return std::nullopt;
    case Journal::Found::Valid:
        break;
    }
    const CommandContext& context = session->commandContext();
    if (!state.sameChip(session->identity(), session->geometry())) {
        status = session->fail(file->path() + " journals " + describe(state) + " on another chip (" +
                                   state.identity.codes() +
                                   "), whose old bytes or lock bits it still holds: put that chip back and run " +
                                   commandText(context, state.job.command) + " or " +
                                   commandText(context, {"recover"}) + "; nothing was written to this one",
                               exitStatus::chipFailed);
        return std::nullopt;
    }
    if (job != nullptr && !state.job.sameAs(*job)) {
        status = session->fail(describe(state) + " on this chip is journaled in " + file->path() +
                                   ": finish it first with " + commandText(context, state.job.command) +
                                   ", or undo only what it left unsafe with " + commandText(context, {"recover"}) +
                                   "; nothing was written",
                               exitStatus::chipFailed);
        return std::nullopt;
    }
    return std::optional<JournalState>(std::move(state));
}

JournalState JobJournal::fresh(const JournalJob& job, const LockState& before) const {
    JournalState state;
    state.port = session->commandContext().portKey;
    state.board = static_cast<std::int32_t>(session->board());
    state.identity = session->identity();
    state.commandSet = session->geometry().commandSet;
    state.size = session->geometry().size;
    state.blockCount = static_cast<std::uint32_t>(session->geometry().blocks.size());
    state.locksBefore = before;
    state.job = job;
    return state;
}
