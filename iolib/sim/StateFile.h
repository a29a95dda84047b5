#pragma once

#include <cstdint>
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
//   image firmware.bin
//   locked 0 5
//   array 000010 48 65 6C 6C 6F
//
// "image" names a file of raw bytes loaded at address 0 (relative to the
// state file's folder unless absolute), so that a 16-Mbyte part needs no
// 16 Mbytes of text; it comes before any "array" line, which then applies on
// top. "locked" lists locked block numbers (it may appear more than once),
// each "array" line gives up to 16 bytes from a hexadecimal address on; bytes
// not given read as erased flash (0xFF). Blank lines and lines starting with
// '#' are skipped, and so is a UTF-8 byte order mark.

// Limits on what is read, so that a wrong file cannot exhaust memory: a
// 16-Mbyte part written out as array lines takes about 64 Mbytes.
constexpr std::uintmax_t stateFileLimit = std::uintmax_t{96} << 20U;
constexpr std::size_t stateLineLimit = 4096;

// What a path that is no regular file is instead, for a message: "a
// folder", "a FIFO", "a device"...
std::string fileKind(const std::filesystem::file_status& status);

// The file's text for the chip's current state. Without an image only rows
// that are not entirely erased are written; with one, the rows that array
// lines gave, since the rest comes from the image.
std::string formatState(const Chip& chip, const std::string& image = {});
// The same, written straight to a stream; false when a write failed.
bool writeState(std::ostream& out, const Chip& chip, const std::string& image);

// Applies the text to the chip; nullopt on success, otherwise what is wrong
// and on which line. The file must name the chip it was written for. An image
// is looked for in `folder`; its line's text goes to `image`.
std::optional<std::string> parseState(std::istream& text, Chip& chip, const std::filesystem::path& folder = {},
                                      std::string* image = nullptr);

// Loads the file if it exists. A missing file is a fresh chip, as long as its
// folder exists so that it can be written later. Only a regular file is read.
std::optional<std::string> loadStateFile(const std::filesystem::path& path, Chip& chip, std::string* image = nullptr);

// The file a state path finally names once symbolic links are followed: the
// one that saving replaces and that the lock file sits beside.
std::filesystem::path stateTarget(const std::filesystem::path& path);

// Writes a temporary file of a unique name next to the target, then renames
// it over the target, so a crash leaves either the old file or the new one,
// never a mixture. A symbolic link stays a link to the new file, and the
// file keeps its permissions.
std::optional<std::string> saveStateFile(const std::filesystem::path& path, const Chip& chip,
                                         const std::string& image = {});

}  // namespace flashsim
