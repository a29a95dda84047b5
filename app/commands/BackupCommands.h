#pragma once

#include <optional>
#include <string>

#include "app/Commands.h"
#include "app/commands/Options.h"
#include "platform/Platform.h"

class Session;

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
    // A text image (Intel HEX, S-record): its records, wherever they lie,
    // against the chip; `content` is what was read of it so far.
    int verifyImage(Session& session, platform::InputFile& input, std::vector<std::uint8_t> content);

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
    std::string verifyFormat = "auto";
    std::optional<bool> progress;
};
