#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "iolib/sim/Board.h"
#include "iolib/sim/Chip.h"
#include "iolib/sim/ChipCatalog.h"
#include "iolib/sim/PowerCut.h"

namespace flashsim {

// The module's whole configuration; the program itself has none.
struct Config {
    BoardType board = BoardType::Zantrel4v4;
    AddressRegister addressRegister = AddressRegister::Shift;
    ChipModel chip;
    ChipSettings chipSettings;         // busy times and injected faults
    std::filesystem::path statePath;   // empty: the chip's state lives only as long as the process
    std::filesystem::path tracePath;   // empty: no waveform
    std::filesystem::path logPath;     // empty: no log
    std::optional<PowerCut> powerCut;  // FLASHLOCK_SIM_KILL
};

// Looks one variable up; nullopt when it is not set.
using Environment = std::function<std::optional<std::string>(const char* name)>;

struct ConfigResult {
    Config config;
    // One sentence per variable with a value that is not accepted, naming the
    // variable and the values it accepts.
    std::vector<std::string> errors;
};

// A value as it may be quoted in a message: long values are cut, so that a
// runaway variable cannot flood the console.
std::string shownValue(const std::string& value);

// An empty value counts as unset, so that VAR= on a command line gives the
// default rather than an error.
ConfigResult readConfig(const Environment& environment);

}  // namespace flashsim
