#pragma once

#include <optional>
#include <string>

#include "app/Commands.h"
#include "app/commands/Options.h"

namespace CLI {
class App;
}  // namespace CLI

// read and verify: the chip's array saved to a file and compared with one.
class BackupCommands {
public:
    BackupCommands(CLI::App& app, const CommandContext& context);

    // The exit status of the command that was given, or nullopt when it was
    // none of these.
    std::optional<int> run();

private:
    int read();
    int verify();

    const CommandContext* context;
    CLI::App* readCommand;
    CLI::App* verifyCommand;
    std::string readFile;
    ByteOption readOffset;
    ByteOption readLength;
    bool force = false;
    std::string verifyFile;
    ByteOption verifyOffset;
    ByteOption verifyLength;
    std::optional<bool> progress;
};
