#pragma once

#include <filesystem>
#include <iosfwd>
#include <optional>
#include <string>

#include "iolib/sim/Chip.h"

namespace flashsim {

// The chip's persistent state as a small text file that a person can read
// and edit:
//
//   flashlock-sim-state 1
//   chip 28F320J3
//   locked 0 5
//   array 000010 48 65 6C 6C 6F
//
// "locked" lists locked block numbers (it may appear more than once), each
// "array" line gives up to 16 bytes from a hexadecimal address on; bytes not
// given read as erased flash (0xFF). Blank lines and lines starting with '#'
// are skipped.

// The file's text for the chip's current state. Only rows that are not
// entirely erased are written.
std::string formatState(const Chip& chip);

// Applies the text to the chip; nullopt on success, otherwise what is wrong
// and on which line. The file must name the chip it was written for.
std::optional<std::string> parseState(std::istream& text, Chip& chip);

// Loads the file if it exists. A missing file is a fresh chip, as long as its
// folder exists so that it can be written later.
std::optional<std::string> loadStateFile(const std::filesystem::path& path, Chip& chip);

// Writes a temporary file next to the target, then renames it over the
// target, so a crash leaves either the old file or the new one, never a
// mixture.
std::optional<std::string> saveStateFile(const std::filesystem::path& path, const Chip& chip);

}  // namespace flashsim
