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
// top. "content" does the same for the simulator's own file of the array,
// which it keeps up to date in place once the chip has been programmed or
// erased (relative to the folder of the file the state path finally names);
// a state has one of the two at most. "locked" lists locked block numbers (it
// may appear more than once; Intel-set parts only), each "array" line gives up to 16 bytes from a
// hexadecimal address on; bytes not given read as erased flash (0xFF). Blank
// lines and lines starting with '#' are skipped, and so is a UTF-8 byte order
// mark. A file with nothing else in it, an empty one above all, is a chip
// with no state yet.

// Limits on what is read, so that a wrong file cannot exhaust memory: a
// 16-Mbyte part written out as array lines takes about 64 Mbytes.
constexpr std::uintmax_t stateFileLimit = std::uintmax_t{96} << 20U;
constexpr std::size_t stateLineLimit = 4096;

// Where the array's bytes come from, beyond the array lines: a user's image,
// which is only ever read, or the simulator's own content file.
struct ArraySource {
    std::string image;    // the image line's name, as written
    std::string content;  // the content line's name, as written
    // The content file holds the whole array and no array line lies on top,
    // so that a change can go straight into it at its offset.
    bool contentWhole = false;
};

// Whether two names lead to one file, through links and relative paths alike.
bool samePlace(const std::filesystem::path& a, const std::filesystem::path& b);

// What a path that is no regular file is instead, for a message: "a
// folder", "a FIFO", "a device"...
std::string fileKind(const std::filesystem::file_status& status);

// The file's text for the chip's current state. Without an image only rows
// that are not entirely erased are written; with one, the rows that array
// lines gave, since the rest comes from the image.
std::string formatState(const Chip& chip, const ArraySource& source = {});
// The same, written straight to a stream; false when a write failed.
bool writeState(std::ostream& out, const Chip& chip, const ArraySource& source);

// Applies the text to the chip; nullopt on success, otherwise what is wrong
// and on which line. The file must name the chip it was written for. An image
// is looked for in `folder`, a content file in `contentFolder` (empty: in
// `folder` too); their names go to `source`.
std::optional<std::string> parseState(std::istream& text, Chip& chip, const std::filesystem::path& folder = {},
                                      ArraySource* source = nullptr, const std::filesystem::path& contentFolder = {});

// Loads the file if it exists. A missing or empty file is a fresh chip, as
// long as its folder exists so that it can be written later. Only a regular
// file is read.
std::optional<std::string> loadStateFile(const std::filesystem::path& path, Chip& chip, ArraySource* source = nullptr);

// The file a state path finally names once symbolic links are followed: the
// one that saving replaces and that the lock file sits beside.
std::filesystem::path stateTarget(const std::filesystem::path& path);

// Writes a temporary file of a unique name next to the target, then renames
// it over the target, so a crash leaves either the old file or the new one,
// never a mixture. A symbolic link stays a link to the new file, and the
// file keeps its permissions.
std::optional<std::string> saveStateFile(const std::filesystem::path& path, const Chip& chip,
                                         const ArraySource& source = {});

// The content file of the state at `path`: the one its content line names,
// or else the one a first change will make beside the state's target,
// "<name>.content" (never the image's file).
std::filesystem::path contentPath(const std::filesystem::path& path, const ArraySource& source);
// The name a content line gives that file.
std::string contentName(const std::filesystem::path& path, const ArraySource& source);
// The image file a state's image line names, or an empty path.
std::filesystem::path imagePath(const std::filesystem::path& path, const ArraySource& source);

// Writes the whole array to `path` as raw bytes, through a temporary file
// renamed over it, so that the file is never found half-written.
std::optional<std::string> writeContentFile(const std::filesystem::path& path, const Chip& chip);

}  // namespace flashsim
