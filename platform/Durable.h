#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/Platform.h"

// Files that must survive a kill or a power cut, as a write-ahead log does:
// what was synced is on the disk, whatever happens to the process next.
namespace platform {

// The platform's usual place for one user's state, made on demand with any
// missing parents: $XDG_STATE_HOME/flashlock when XDG_STATE_HOME is an
// absolute path, else $HOME/.local/state/flashlock, each folder it creates
// open to the user alone (0700); on Windows %LOCALAPPDATA%\flashlock. Nullopt,
// with `problem` saying what to set or fix, when there is no home folder or
// the folder cannot be made.
std::optional<std::string> stateFolder(std::string& problem);

// A folder the user named for such files: made with any missing parents, or
// taken as it is when it exists. False, with `problem` set, when it cannot be
// made or the name stands for something other than a folder.
bool ensureFolder(const std::string& path, std::string& problem);

// A file that only grows, written through to the disk on request. It is never
// reached through a symbolic link, so a link planted under its name cannot
// send the data elsewhere. After a failed append the file may end in part of
// that data: whoever reads it back must recognise a torn last record.
class DurableFile {
public:
    DurableFile() = default;
    ~DurableFile();
    DurableFile(const DurableFile&) = delete;
    DurableFile& operator=(const DurableFile&) = delete;
    DurableFile(DurableFile&& other) noexcept;
    DurableFile& operator=(DurableFile&& other) noexcept;

    // Creates `path` anew, readable by its owner alone on POSIX. Anything
    // under that name already, a symbolic link to nothing included, makes it
    // fail with Exists and is left as it is: the caller decides what to do.
    static DurableFile create(const std::string& path, FileProblem& problem);
    // Opens an existing regular file to add to its end; a symbolic link, a
    // folder or a device is refused (Unsuitable).
    static DurableFile openForAppend(const std::string& path, FileProblem& problem);

    // Adds all `size` bytes at the end, in as many system writes as it takes.
    bool append(const std::uint8_t* data, std::size_t size, FileProblem& problem);
    // Puts everything appended so far on the disk: one flush of the file
    // and, the first time after create(), one of its folder too, so that the
    // new name survives a power cut as well. Windows records the name in its
    // own log and needs no folder flush.
    // `withName` false leaves the folder alone: for a file that is renamed
    // before it counts, whose first name need not survive.
    bool sync(FileProblem& problem, bool withName = true);

    [[nodiscard]] bool isOpen() const { return handle != closed; }
    [[nodiscard]] const std::string& path() const { return filePath; }

private:
    void close();

    // A file descriptor or a Windows HANDLE, whichever the OS uses.
    static constexpr std::intptr_t closed = -1;
    std::intptr_t handle = closed;
    // Created by this object, and its folder not yet flushed since.
    bool folderPending = false;
    std::string filePath;
};

// The whole of a regular file, for reading a journal back. A file above
// `limit` bytes, a symbolic link, a folder or a device is refused
// (Unsuitable) before anything is read; a missing file is a System problem.
std::optional<std::vector<std::uint8_t>> readWholeFile(const std::string& path, std::uint64_t limit,
                                                       FileProblem& problem);

// Gives `path` the whole of `data` in one step that a power cut cannot tear:
// the data goes to a new file beside it (`path` with ".new" after it, any
// stale one removed first), which is flushed and then renamed over `path`,
// and the rename itself is put on the disk. Afterwards `path` holds either
// its old content or all of the new, never part of it.
bool replaceDurably(const std::string& path, const std::vector<std::uint8_t>& data, FileProblem& problem);

// Removes the file and puts the removal on the disk (a flush of its folder on
// POSIX), so that it cannot come back after a power cut. A missing file is no
// problem: it is as the caller wants it.
bool removeDurably(const std::string& path, FileProblem& problem);

// The regular files in `folder` whose names start with `prefix`, as paths
// (the folder, a separator, the name), sorted by name. Folders, symbolic
// links and devices are left out; a folder that cannot be read lists nothing.
std::vector<std::string> listFiles(const std::string& folder, const std::string& prefix);

}  // namespace platform
