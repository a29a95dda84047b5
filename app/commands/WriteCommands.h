#pragma once

#include <optional>
#include <string>

#include "app/Commands.h"
#include "app/commands/Options.h"

namespace CLI {
class App;
}  // namespace CLI

struct WritePlan;
class Session;

// write and erase: the chip's data changed as planned, printed and verified,
// with every block's lock bit as it was.
class WriteCommands {
public:
    WriteCommands(CLI::App& app, const CommandContext& context);

    // The exit status of the command that was given, or nullopt when it was
    // none of these.
    std::optional<int> run();

private:
    int write();
    int erase();

    const CommandContext* context;
    CLI::App* writeCommand;
    CLI::App* eraseCommand;
    std::string writeFile;
    ByteOption writeOffset;
    bool noVerify = false;
    std::string eraseBlocks;
    bool dryRun = false;
    std::optional<bool> progress;
};
