#pragma once

#include <functional>
#include <iosfwd>
#include <string>

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
    // --sim: from now on openDriver and the dialogue reach the simulated
    // board, its chip started afresh when `reset`. 0, or the exit status to
    // end with (the reason given).
    std::function<int(bool reset)> useSimulator = {};
    // --chip: the chip a command must find in the socket; empty for any.
    std::string chip = {};
};

// The command line: status, lock, unlock, read, verify, write, erase, chips,
// --sim, --reset-sim, --chip, --port, --help, --version. Returns the exit
// status.
int runCommand(int argc, const char* const* argv, const CommandContext& given);
