#pragma once

#include <optional>
#include <string>

#include "app/commands/Session.h"
#include "flash/Journal.h"

// The journal of the port a session reached, as the commands meet it: where
// it lives, what a command may do while one is there, and the words for it.
class JobJournal {
public:
    explicit JobJournal(Session& session);

    // For status, read and verify, which change nothing: a journal of an
    // unfinished job is said on standard error, and the command goes on.
    void notice();

    // For a command that changes the chip, before it changes anything. The
    // journal of the same job on the same chip comes back, to be finished;
    // none gives an empty state. Nullopt when the command must not go on
    // (another job or another chip is journaled, or the journal is damaged),
    // with the reason given and `status` set. A null `job` takes up any job
    // on this chip (recover).
    std::optional<std::optional<JournalState>> takeUp(const JournalJob* job, int& status);

    // A new journal's state for `job` on this chip, the map to restore being `before`.
    [[nodiscard]] JournalState fresh(const JournalJob& job, const LockState& before) const;

    // False, with the reason given, when no folder for journals can be had.
    [[nodiscard]] bool usable() const { return file.has_value(); }
    [[nodiscard]] const Journal& journal() const { return *file; }
    [[nodiscard]] const std::string& path() const { return file->path(); }
    [[nodiscard]] const std::string& problem() const { return why; }

    // "an unfinished write of image.bin"
    [[nodiscard]] static std::string describe(const JournalState& state);

private:
    Session* session;
    std::optional<Journal> file;
    std::string why;
};
