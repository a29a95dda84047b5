#include "app/Commands.h"

#include <CLI/CLI.hpp>
#include <array>
#include <optional>
#include <ostream>
#include <vector>

#include "app/Arguments.h"
#include "app/commands/BackupCommands.h"
#include "app/commands/LockCommands.h"
#include "app/commands/Messages.h"
#include "app/commands/Options.h"
#include "app/commands/Session.h"
#include "app/commands/WriteCommands.h"
#include "platform/Environment.h"
#include "platform/ShellQuote.h"

namespace {

constexpr const char* commandList = "status, lock, unlock, read, verify, write, erase and chips";
constexpr const char* baseVariable = "FLASHLOCK_PORT_BASE";
constexpr const char* deviceVariable = "FLASHLOCK_PARPORT";
constexpr const char* fullShiftsVariable = "FLASHLOCK_FULL_SHIFTS";
// The port bases the io modules take, as they check them.
constexpr std::uint32_t lowestBase = 0x100;
constexpr std::uint32_t highestBase = 0xFFF8;

// What CLI11 found wrong, as flashlock's own sentence. CLI11 puts the name
// of the option or argument it speaks of first: "--offset: ...".
std::string usageSentence(const CLI::ParseError& error, const CLI::App& app) {
    const std::string what = error.what();
    const std::size_t colon = what.find(": ");
    const std::string name = colon == std::string::npos ? std::string() : what.substr(0, colon);
    std::string rest = colon == std::string::npos ? what : what.substr(colon + 2);
    std::string commandName = "flashlock";
    std::string command = "flashlock";
    for (const CLI::App* sub : app.get_subcommands()) {
        command += " " + sub->get_name();
        commandName = sub->get_name();
    }
    if (dynamic_cast<const CLI::ValidationError*>(&error) != nullptr) {
        // The checks' own words.
        return rest;
    }
    if (dynamic_cast<const CLI::ArgumentMismatch*>(&error) != nullptr && !name.empty()) {
        // CLI11 says "At Most 1 required but received 2" of an option given twice.
        if (rest.find("At Most") != std::string::npos) {
            return name + " given twice: give it once";
        }
        return name + " needs a value; see " + command + " --help";
    }
    if (dynamic_cast<const CLI::RequiredError*>(&error) != nullptr) {
        const std::size_t is = what.find(" is required");
        const std::string missing = is == std::string::npos ? what : what.substr(0, is);
        return commandName + " needs " + missing + "; see " + command + " --help";
    }
    if (dynamic_cast<const CLI::RequiresError*>(&error) != nullptr) {
        const std::size_t needs = what.find(" requires ");
        if (needs != std::string::npos) {
            return what.substr(0, needs) + " needs " + what.substr(needs + 10) + " too; see flashlock --help";
        }
    }
    if (dynamic_cast<const CLI::ExcludesError*>(&error) != nullptr) {
        const std::size_t excludes = what.find(" excludes ");
        if (excludes != std::string::npos) {
            return what.substr(0, excludes) + " and " + what.substr(excludes + 10) + " cannot be given together";
        }
    }
    return "cannot read the command line (" + what + "); see " + command + " --help";
}

// The first argument no command or option took, as a sentence; empty when none.
std::string leftOver(const CLI::App& app) {
    std::string command = "flashlock";
    const CLI::App* deepest = &app;
    for (const CLI::App* sub : app.get_subcommands()) {
        command += " " + sub->get_name();
        deepest = sub;
    }
    std::vector<std::string> left = deepest->remaining();
    if (left.empty()) {
        left = app.remaining();
    }
    if (left.empty()) {
        return {};
    }
    const std::string& first = left.front();
    if (!first.empty() && first[0] == '-' && first != "-") {
        return "unknown option " + first + (command == "flashlock" ? "" : " for " + command.substr(10)) + "; see " +
               command + " --help";
    }
    return "unexpected argument \"" + first + "\"" + (command == "flashlock" ? "" : " for " + command.substr(10)) +
           "; see " + command + " --help";
}

// What flashrom and avrdude users type out of habit, and flashlock's command
// for it: -r FILE read, -w FILE write, -v FILE verify, -E erase all (with
// flashrom's long forms), and -c NAME, which is --chip here. The sentence
// that says so, with the command line to use instead; empty when the
// arguments hold none of them.
std::string habitSentence(int argc, const char* const* argv) {
    struct Habit {
        const char* shortForm;
        const char* longForm;
        const char* command;
        bool takesFile;
    };
    constexpr std::array<Habit, 5> habits{Habit{"-r", "--read", "read", true}, Habit{"-w", "--write", "write", true},
                                          Habit{"-v", "--verify", "verify", true},
                                          Habit{"-E", "--erase", "erase", false}, Habit{"-c", nullptr, nullptr, true}};
    std::vector<std::string> translated{"flashlock"};
    std::vector<std::string> others;
    std::string command;
    bool chipOnly = true;
    bool fileMissing = false;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--") {
            break;
        }
        const Habit* found = nullptr;
        std::string value;
        bool attached = false;
        for (const Habit& habit : habits) {
            const std::string shortForm = habit.shortForm;
            const std::string longForm = habit.longForm != nullptr ? habit.longForm : "";
            if (argument == shortForm || (!longForm.empty() && argument == longForm)) {
                found = &habit;
            } else if (habit.takesFile && argument.size() > 2 && argument.starts_with(shortForm) &&
                       argument[2] != '-') {
                found = &habit;
                value = argument.substr(2);
                attached = true;
            } else if (habit.takesFile && !longForm.empty() && argument.starts_with(longForm + "=")) {
                found = &habit;
                value = argument.substr(longForm.size() + 1);
                attached = true;
            }
            if (found != nullptr) {
                break;
            }
        }
        if (found == nullptr) {
            others.push_back(argument);
            continue;
        }
        if (found->takesFile && !attached) {
            const bool given = i + 1 < argc && (argv[i + 1][0] != '-' || std::string(argv[i + 1]) == "-");
            value = given ? argv[++i] : (found->command != nullptr ? "FILE" : "NAME");
            fileMissing = fileMissing || !given;
        }
        if (found->command == nullptr) {
            translated.insert(translated.begin() + 1, {"--chip", value});
            continue;
        }
        chipOnly = false;
        // One command a run: flashrom's -w FILE -v FILE is write alone here,
        // which reads every block it changed back.
        if (command.empty()) {
            command = found->command;
            translated.push_back(command);
            translated.push_back(found->takesFile ? value : "all");
        }
    }
    if (translated.size() == 1) {
        return {};
    }
    if (chipOnly) {
        translated.insert(translated.end(), others.begin(), others.end());
    }
    std::string suggestion = "`" + platform::commandLine(translated) + "`";
    if (command == "verify" && fileMissing) {
        suggestion += ", or `flashlock --version`";
    }
    return (chipOnly ? "flashlock takes --chip, not -c: did you mean "
                     : "flashlock has commands, not those options: did you mean ") +
           suggestion + "?";
}

// --port as the io modules take it through their variables; the problem in
// `problem` when the value is no port or disagrees with a variable already set.
bool choosePort(const std::string& port, std::string& shown, std::string& problem) {
    std::string unused;
    const std::optional<std::uint32_t> base = parseByteCount(port, unused);
    const bool device = !base && port.find('/') != std::string::npos;
    if (base && (*base < lowestBase || *base > highestBase)) {
        problem = "--port " + port + " is no port base: give one from 0x100 to 0xFFF8, such as 0x378 or 0xD010";
        return false;
    }
    if (!base && !device) {
        problem = "--port " + port +
                  " is no port: give its I/O base (0x378, 0xD010) or, on Linux, its device "
                  "(/dev/parport1)";
        return false;
    }
    if (device && !platform::portDevicesSupported()) {
        problem = "--port " + port + ": on this system a port is chosen by its I/O base, such as 0xD010";
        return false;
    }
    const char* variable = device ? deviceVariable : baseVariable;
    const char* other = device ? baseVariable : deviceVariable;
    if (const std::optional<std::string> set = platform::environmentValue(other); set && !set->empty()) {
        problem = "--port " + port + " and " + other + "=" + *set + " name two ports: give one of them";
        return false;
    }
    if (const std::optional<std::string> set = platform::environmentValue(variable); set && !set->empty()) {
        const std::optional<std::uint32_t> setBase = parseByteCount(*set, unused);
        if (device ? *set != port : setBase != base) {
            problem = "--port " + port + " and " + variable + "=" + *set + " disagree: give one of them";
            return false;
        }
    }
    if (!platform::setEnvironmentValue(variable, port)) {
        problem = "cannot set " + std::string(variable) + " for the port module";
        return false;
    }
    shown = device ? port : "the parallel port at " + hex(*base, 3);
    return true;
}

// FLASHLOCK_FULL_SHIFTS: 1 turns stepping off as --full-shifts does; unset,
// empty or 0 leaves it on. Anything else is refused rather than guessed at.
bool fullShiftsWanted(bool option, std::string& problem) {
    const std::optional<std::string> value = platform::environmentValue(fullShiftsVariable);
    if (!value || value->empty() || *value == "0") {
        return option;
    }
    if (*value == "1") {
        return true;
    }
    problem = std::string(fullShiftsVariable) + "=" + *value +
              " is neither 1 nor 0: set it to 1 to read every byte with a full address shift, or unset it";
    return false;
}

}  // namespace

std::string commandText(const CommandContext& context, const std::vector<std::string>& words) {
    std::vector<std::string> line{"flashlock"};
    line.insert(line.end(), context.globalArguments.begin(), context.globalArguments.end());
    line.insert(line.end(), words.begin(), words.end());
    return platform::commandLine(line);
}

int runCommand(int argc, const char* const* argv, const CommandContext& given) {
    CommandContext context = given;
    context.arguments.assign(argv + 1, argv + argc);  // NOLINT(cppcoreguidelines-pro-bounds-pointer-arithmetic)
    if (const std::string habit = habitSentence(argc, argv); !habit.empty()) {
        // The sentence names flashlock already.
        context.err << habit << '\n' << std::flush;
        return exitStatus::usage;
    }
    CLI::App app{
        "flashlock: the lock bits and contents of CFI NOR flash chips of the Intel and AMD command sets on a "
        "parallel-port programmer board.\nWithout a command, flashlock runs its interactive dialogue.",
        "flashlock"};
    // Before the commands are added: each takes its parent's formatter.
    app.formatter(helpFormatter());
    app.set_help_flag("-h,--help", "Print this help and exit (flashlock COMMAND --help for a command's)");
    app.set_version_flag("--version", std::string("flashlock ") + FLASHLOCK_VERSION,
                         "Print flashlock's version and exit");
    // Left-over arguments and unknown options are found after parsing, to be
    // said in flashlock's words; options of flashlock itself are taken after
    // a command's name too.
    app.allow_extras();
    app.fallthrough();
    bool simulator = false;
    bool resetSimulator = false;
    std::string chip;
    std::string port;
    CLI::Option* simOption = app.add_flag(
        "--sim", simulator,
        "Use the simulated board and chip instead of the port: no hardware needed. The chip is kept between runs "
        "in flashlock's state folder, unless FLASHLOCK_SIM_STATE names a file. Alone, it starts the dialogue on "
        "the simulated board.");
    app.add_flag("--reset-sim", resetSimulator,
                 "Start the simulated chip afresh (erased, no block locked): removes the state --sim keeps, and says "
                 "what it removed.")
        ->needs(simOption);
    app.add_option("--chip", chip,
                   "Go on only if the chip in the socket is NAME: a part number as chips lists it (28F320J3, "
                   "Am29LV160DB), the name status shows, or the codes (0x89:0x16). Another chip ends the command "
                   "with status 3 before anything beyond its identification is read or written.")
        ->type_name("NAME")
        // NOLINTNEXTLINE(performance-unnecessary-value-param): CLI11's validator signature
        ->check([](const std::string& name) { return chipNameProblem(name); }, "", "NAME");
    CLI::Option* portOption =
        app.add_option("--port", port,
                       "The port: its I/O base (0x378, 0xD010) or, on Linux, its device (/dev/parport1). Alone, "
                       "it starts the dialogue on that port.")
            ->type_name("PORT")
            ->excludes(simOption);
    // One line a paragraph: the formatter wraps them.
    std::string journalFolder;
    CLI::Option* journalOption =
        app.add_option("--journal", journalFolder,
                       "The folder for the journals that keep write, erase, lock and unlock safe from a kill or a "
                       "power cut (default: FLASHLOCK_JOURNAL_DIR, else the user's state folder)")
            ->type_name("DIR");
    bool fullShifts = false;
    app.add_flag("--full-shifts", fullShifts,
                 "Read every byte with a full 24-bit address shift, about three times slower, instead of stepping "
                 "the board's address register a bit a byte (also FLASHLOCK_FULL_SHIFTS=1)");
    app.footer(
        "BLOCKS: block numbers from 1 as status shows them, comma-separated, with ranges (1,3-5), or all.\n"
        "ADDR and BYTES: decimal, or hexadecimal after 0x, with k or KiB, M or MiB (0x3F0000, 64k).\n"
        "FILE: - for standard output (read) or standard input (verify, write).\n"
        "Exit status: 0 done and verified, 1 no usable port module or no board, 2 usage error, 3 the chip "
        "refused, did not finish, failed verification, is no CFI chip flashlock drives or not the one --chip "
        "names, 4 a file could not be written or read, 128 + N ended by signal N (130 for Ctrl-C).");

    LockCommands locks(app, context);
    BackupCommands backups(app, context);
    WriteCommands writes(app, context);
    for (CLI::App* command : app.get_subcommands({})) {
        command->group("Commands");
    }

    const auto known = [&app](const std::string& name) {
        const std::vector<CLI::App*> commands =
            app.get_subcommands([&name](CLI::App* command) { return command->get_name() == name; });
        return !commands.empty();
    };
    if (argc > 1 && argv[1][0] != '-' && !known(argv[1])) {
        context.err << "flashlock: unknown command \"" << argv[1] << "\"; the commands are " << commandList
                    << " (flashlock --help)\n"
                    << std::flush;
        return exitStatus::usage;
    }
    const auto usage = [&context](const std::string& sentence) {
        context.err << "flashlock: " << sentence << '\n' << std::flush;
        return exitStatus::usage;
    };
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
        return usage(usageSentence(error, app));
    }
    if (const std::string left = leftOver(app); !left.empty()) {
        return usage(left);
    }
    if (portOption->count() > 0) {
        std::string problem;
        if (!choosePort(port, context.port, problem)) {
            return usage(problem);
        }
        context.portKey = port;
        context.globalArguments.insert(context.globalArguments.end(), {"--port", port});
    }
    if (journalOption->count() > 0) {
        if (journalFolder.empty()) {
            return usage("--journal needs a folder; see flashlock --help");
        }
        context.journalFolder = journalFolder;
        context.globalArguments.insert(context.globalArguments.end(), {"--journal", journalFolder});
    }
    std::string shiftsProblem;
    context.fullShifts = fullShiftsWanted(fullShifts, shiftsProblem);
    if (!shiftsProblem.empty()) {
        return usage(shiftsProblem);
    }
    if (fullShifts) {
        context.globalArguments.emplace_back("--full-shifts");
    }
    const bool commandGiven = !app.get_subcommands().empty();
    if (!chip.empty() && !commandGiven) {
        return usage("--chip is for the commands: give one, such as flashlock --chip " + chip +
                     " status; the dialogue names the chip it finds");
    }
    context.chip = chip;
    if (!chip.empty()) {
        context.globalArguments.insert(context.globalArguments.end(), {"--chip", chip});
    }
    if (simulator) {
        // The simulated board's jobs are journaled apart from those of the
        // real port at the same address.
        context.portKey = "sim";
        context.globalArguments.emplace_back("--sim");
    }
    if (simulator && context.useSimulator) {
        if (const int status = context.useSimulator(resetSimulator); status != exitStatus::done) {
            return status;
        }
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
    if ((portOption->count() > 0 || simulator) && context.dialogue) {
        return context.dialogue();
    }
    return usage(std::string("give a command: ") + commandList +
                 ", or no argument at all for the dialogue; see "
                 "flashlock --help");
}
