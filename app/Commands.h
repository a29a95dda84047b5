#pragma once

#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

#include "platform/Platform.h"

class ProgrammerDriver;

// What a command reports to the shell.
namespace exitStatus {
constexpr int done = 0;
// No usable port module, or no board answered.
constexpr int noBoard = 1;
constexpr int usage = 2;
// The chip refused, did not finish, failed verification, is no CFI part of a
// command set flashlock drives, or is not the one --chip names.
constexpr int chipFailed = 3;
// A file, or standard output, could not be written or read.
constexpr int fileFailed = 4;
// Ended by a signal: 128 + its number.
constexpr int signalBase = 128;
}  // namespace exitStatus

// The board driver, built on first use so that a usage error or --help never
// touches the port; `problem` says why the port is not usable, if it is not.
struct DriverAccess {
    ProgrammerDriver* driver = nullptr;
    std::string problem;
    // Asked once no board answered: why the port module serves none, when
    // it can tell (the simulator refused its configuration); else empty.
    std::function<std::string()> moduleProblem;
    // The module is the simulated board.
    bool simulated = false;
};

struct CommandContext {
    std::ostream& out;
    std::ostream& err;
    std::function<DriverAccess()> openDriver;
    // 0, or the number of the signal that asks the program to end.
    std::function<int()> interrupted;
    // Where a progress line can redraw itself.
    bool errIsTerminal;
    platform::TickCounter& clock;
    // The dialogue, for a command line that names a port and nothing else.
    std::function<int()> dialogue;
    // The port as messages name it.
    std::string port = "the parallel port at 0x378";
    // The port as the user names it, which names its journal.
    std::string portKey = "0x378";
    // Where journals are kept; empty: FLASHLOCK_JOURNAL_DIR, else the
    // user's state folder.
    std::string journalFolder{};
    // The options given before or after the command that every command run
    // again must carry (--port, --journal), as words.
    std::vector<std::string> globalArguments{};
    // The command line after the program's name, as given.
    std::vector<std::string> arguments{};
    // Every array byte read with a full address shift: no stepping through
    // the chip, no self-test of the board's address register.
    bool fullShifts = false;
    // --sim: from now on openDriver and the dialogue reach the simulated
    // board, its chip started afresh when `reset`. 0, or the exit status to
    // end with (the reason given).
    std::function<int(bool reset)> useSimulator = {};
    // --chip: the chip a command must find in the socket; empty for any.
    std::string chip = {};
};

// "flashlock" with the global options and `words`, quoted for this OS's
// shell, so that it can be pasted as it stands.
std::string commandText(const CommandContext& context, const std::vector<std::string>& words);

// The command line: status, lock, unlock, read, verify, write, erase, chips,
// --port, --full-shifts, --help, --version. Returns the exit status.
// --sim, --reset-sim, --chip, --port, --help, --version. Returns the exit
// status.
int runCommand(int argc, const char* const* argv, const CommandContext& given);
