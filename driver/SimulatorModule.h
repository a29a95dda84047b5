#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

// The simulated board as --sim reaches it: its module taken by its own path
// beside the program, never through the loader's search, and the file that
// keeps its chip from one run to the next. The module reads its settings
// from the environment when it loads, so all of this is decided before.

// What the choice reads of the system: the program's own from
// systemSurroundings(), a test's from wherever it likes.
struct SimulatorSurroundings {
    // The folder that holds the program; nullopt when the system cannot tell.
    std::optional<std::string> programFolder;
    std::function<std::optional<std::string>(const char* name)> environment;
    // The per-user folder for flashlock's state, made on demand; nullopt with
    // the reason when there is none.
    std::function<std::optional<std::string>(std::string& problem)> stateFolder;
    std::function<bool(const std::string& path)> exists;
};
SimulatorSurroundings systemSurroundings();

struct SimulatorChoice {
    // The module's file; empty when it is nowhere flashlock looks, and then
    // `problem` says where it looked and what to do.
    std::string module;
    // flashlock's own state file (stateFolder, a separator, stateName), to be
    // handed to the module; empty when FLASHLOCK_SIM_STATE names the user's
    // own, or when there is no folder for it (then `note` says so).
    std::string stateFile;
    std::string stateFolder;
    std::string stateName;
    // What FLASHLOCK_SIM_STATE names; empty when it is not set.
    std::string userState;
    std::string problem;
    // Worth a line on standard error, but no reason to stop.
    std::string note;
};

// The folders, relative to the program's, where the module may lie: where
// the build puts it, then where the packages install it.
std::vector<std::string> simulatorModuleFolders();

SimulatorChoice chooseSimulator(const SimulatorSurroundings& surroundings);

// The state file's name after the board and chip that the simulator's
// variables ask for, their defaults otherwise:
// "sim-zantrel4v4-28F320J3.state". Only letters, digits, '.', '-' and '_'
// reach the name.
std::string simulatorStateName(const std::function<std::optional<std::string>(const char*)>& environment);

// Removes flashlock's own state file and its companions beside it (the
// module's content, lock and temporary files, which all begin with its
// name). Returns what it says to the user; `failed` set when a file could
// not be removed.
std::string resetSimulatorState(const SimulatorChoice& choice, bool& failed);

// For a run that met the simulator through the loader's search rather than
// --sim: its chip lasts the one run unless FLASHLOCK_SIM_STATE names a file.
// The line to say once, or empty when a state file is set.
std::string oneRunNote(const std::function<std::optional<std::string>(const char*)>& environment);
