#pragma once

#include <optional>
#include <string>

#include "app/Commands.h"
#include "app/commands/Options.h"

namespace CLI {
class App;
}  // namespace CLI

// write, erase and recover: the chip's data changed as planned, printed and
// verified, with every block's lock bit as it was, and a journal that keeps
// the job safe from a kill or a power cut.
class WriteCommands {
public:
    WriteCommands(CLI::App& app, const CommandContext& context);

    // The exit status of the command that was given, or nullopt when it was
    // none of these.
    std::optional<int> run();

private:
    int write();
    int erase();
    int recover();

    const CommandContext* context;
    CLI::App* writeCommand;
    CLI::App* eraseCommand;
    CLI::App* recoverCommand;
    std::string writeFile;
    ByteOption writeOffset;
    std::string format = "auto";
    bool noVerify = false;
    std::string eraseBlocks;
    bool dryRun = false;
    std::optional<bool> progress;
};

// The command words that run the job again: the command as given, less the
// options that only shape this run (--dry-run, --progress, --quiet) and the
// global ones, which commandText adds.
std::vector<std::string> jobWords(const CommandContext& context);
