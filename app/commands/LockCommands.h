#pragma once

#include <optional>
#include <string>

#include "app/Commands.h"

class Session;
struct LockOutcome;

namespace CLI {
class App;
}  // namespace CLI

// status, lock, unlock and chips: what the chip is, its lock bits changed by
// verified transactions, and the parts flashlock knows.
class LockCommands {
public:
    LockCommands(CLI::App& app, const CommandContext& context);

    // The exit status of the command that was given, or nullopt when it was
    // none of these.
    std::optional<int> run();

private:
    int status();
    int changeLocks(const std::string& blocks, bool unlocking);
    int chips();

    const CommandContext* context;
    CLI::App* statusCommand;
    CLI::App* lockCommand;
    CLI::App* unlockCommand;
    CLI::App* chipsCommand;
    bool json = false;
    std::string lockBlocks;
    std::string unlockBlocks;
    bool dryRun = false;
};

// Why a lock transaction failed, which blocks are left wrong, and the
// commands that finish the job.
void reportLockFailure(Session& session, const LockOutcome& outcome);
// Only why each refused or unfinished lock command failed, in the chip's words.
void reportLockSteps(Session& session, const LockOutcome& outcome);
