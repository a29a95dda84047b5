#include "app/Commands.h"

#include <CLI/CLI.hpp>
#include <optional>
#include <ostream>
#include <vector>

#include "app/commands/BackupCommands.h"
#include "app/commands/LockCommands.h"
#include "app/commands/WriteCommands.h"

int runCommand(int argc, const char* const* argv, const CommandContext& context) {
    CLI::App app{
        "flashlock: the lock bits and contents of Intel and ST NOR flash chips on a parallel-port "
        "programmer board.\nWithout a command, flashlock runs its interactive dialogue.",
        "flashlock"};
    app.set_version_flag("--version", std::string("flashlock ") + FLASHLOCK_VERSION);
    app.require_subcommand(1);
    app.footer(
        "BLOCKS: block numbers from 1 as status shows them, comma-separated, with ranges (1,3-5), or all.\n"
        "Exit status: 0 done and verified, 1 no usable port module or no board, 2 usage error, 3 the chip refused,\n"
        "did not finish, failed verification or is no CFI chip of the Intel/ST command set, 4 a file could not be\n"
        "written or read, 128 + N ended by signal N (130 for Ctrl-C).");

    LockCommands locks(app, context);
    BackupCommands backups(app, context);
    WriteCommands writes(app, context);

    const auto known = [&app](const std::string& name) {
        const std::vector<CLI::App*> commands =
            app.get_subcommands([&name](CLI::App* command) { return command->get_name() == name; });
        return !commands.empty();
    };
    if (argc > 1 && argv[1][0] != '-' && !known(argv[1])) {
        context.err << "flashlock: unknown command \"" << argv[1]
                    << "\"; the commands are status, lock, unlock, read, verify, write and erase (flashlock --help)\n"
                    << std::flush;
        return exitStatus::usage;
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        context.out << app.help() << std::flush;
        return context.out ? exitStatus::done : exitStatus::fileFailed;
    } catch (const CLI::ParseError& error) {
        if (error.get_exit_code() == 0) {
            // --version, or help on a command.
            app.exit(error, context.out, context.err);
            context.out.flush();
            return context.out ? exitStatus::done : exitStatus::fileFailed;
        }
        context.err << "flashlock: " << error.what() << "\nRun flashlock --help for the commands and their options.\n"
                    << std::flush;
        return exitStatus::usage;
    }

    if (const std::optional<int> status = locks.run()) {
        return *status;
    }
    if (const std::optional<int> status = backups.run()) {
        return *status;
    }
    if (const std::optional<int> status = writes.run()) {
        return *status;
    }
    return exitStatus::usage;
}
