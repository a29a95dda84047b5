#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include "platform/Durable.h"
#include "platform/Environment.h"

namespace platform {

namespace {

std::string reasonOf(int error) {
    return std::strerror(error);  // NOLINT(concurrency-mt-unsafe): one thread
}

std::string folderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

// What a thing that is no regular file is, in words.
const char* kindOf(mode_t mode) {
    if (S_ISDIR(mode)) {
        return "a folder";
    }
    if (S_ISLNK(mode)) {
        return "a symbolic link";
    }
    if (S_ISFIFO(mode)) {
        return "a FIFO";
    }
    if (S_ISSOCK(mode)) {
        return "a socket";
    }
    return "a device";
}

// Opens an existing regular file itself, never what a link leads to, and
// without waiting on a FIFO or waking a device. -1 with `problem` set
// otherwise.
int openRegular(const std::string& path, int access, FileProblem& problem) {
    // NOLINTNEXTLINE(cppcoreguidelines-pro-type-vararg)
    const int descriptor = ::open(path.c_str(), access | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    struct stat status {};
    if (descriptor < 0) {
        const int error = errno;
        // A link (ELOOP), a folder (EISDIR) or a FIFO without a reader (ENXIO)
        // is named as what it is, not by the error it gave.
        problem =
            lstat(path.c_str(), &status) == 0 && !S_ISREG(status.st_mode)
                ? FileProblem{FileFault::Unsuitable, path + " is " + kindOf(status.st_mode) + ", not a regular file"}
                : FileProblem{FileFault::System, "cannot open " + path + ": " + reasonOf(error)};
        return -1;
    }
    if (fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
        problem = {FileFault::Unsuitable, path + " is " + kindOf(status.st_mode) + ", not a regular file"};
        ::close(descriptor);
        return -1;
    }
    // NOLINTNEXTLINE(cppcoreguidelines-pro-type-vararg)
    fcntl(descriptor, F_SETFL, fcntl(descriptor, F_GETFL) & ~O_NONBLOCK);
    return descriptor;
}

// A folder's entries (names made, removed) reach the disk only with the
// folder itself. A file system that cannot flush a folder (EINVAL) keeps its
// names some other way, or not at all: nothing more can be done there.
bool syncFolderOf(const std::string& path, FileProblem& problem) {
    const std::string folder = folderOf(path);
    // NOLINTNEXTLINE(cppcoreguidelines-pro-type-vararg)
    const int descriptor = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    int result = -1;
    int error = errno;
    if (descriptor >= 0) {
        do {
            result = fsync(descriptor);
            error = errno;
        } while (result != 0 && error == EINTR);
        ::close(descriptor);
    }
    if (result != 0 && !(descriptor >= 0 && error == EINVAL)) {
        problem = {FileFault::System, "cannot flush the folder " + folder + " to the disk: " + reasonOf(error)};
        return false;
    }
    return true;
}

// Each missing folder on the way to `path` is made with `mode` and put on
// the disk; an existing one is taken as it is, through a symbolic link too.
bool makeFolders(const std::string& path, mode_t mode, std::string& problem) {
    if (path.empty()) {
        problem = "\"\" names no folder";
        return false;
    }
    for (std::size_t end = path.find('/', 1);; end = path.find('/', end + 1)) {
        const std::string part = path.substr(0, end);
        struct stat status {};
        if (mkdir(part.c_str(), mode) != 0) {
            const int error = errno;
            // An existing folder may answer EACCES or EROFS rather than EEXIST.
            if (error != EEXIST && !(stat(part.c_str(), &status) == 0 && S_ISDIR(status.st_mode))) {
                problem = "cannot create the folder " + part + ": " + reasonOf(error);
                return false;
            }
        } else if (FileProblem unsynced; !syncFolderOf(part, unsynced)) {
            // A new folder is only as durable as its name in its parent: a
            // journal in it would be lost with it.
            problem = unsynced.text;
            return false;
        }
        if (end == std::string::npos) {
            if (stat(part.c_str(), &status) != 0) {
                problem = "cannot use the folder " + part + ": " + reasonOf(errno);
                return false;
            }
            if (!S_ISDIR(status.st_mode)) {
                problem = part + " is " + (S_ISREG(status.st_mode) ? "a file" : kindOf(status.st_mode)) +
                          ", not a folder: give another name";
                return false;
            }
            return true;
        }
    }
}

}  // namespace

std::optional<std::string> stateFolder(std::string& problem) {
    std::string base;
    // The XDG rule: a relative XDG_STATE_HOME is to be ignored.
    if (const auto xdg = environmentValue("XDG_STATE_HOME"); xdg && xdg->starts_with('/')) {
        base = *xdg;
    } else if (const auto home = environmentValue("HOME"); home && home->starts_with('/')) {
        base = *home + (home->ends_with('/') ? "" : "/") + ".local/state";
    } else {
        problem = home ? "HOME (\"" + *home + "\") is no absolute path, so there is no folder for " +
                             "flashlock's state: set HOME or XDG_STATE_HOME to an absolute path"
                       : "HOME is not set, so there is no folder for flashlock's state: set HOME or XDG_STATE_HOME "
                         "to an absolute path";
        return std::nullopt;
    }
    while (base.size() > 1 && base.ends_with('/')) {
        base.pop_back();
    }
    std::string folder = base + "/flashlock";
    if (!makeFolders(folder, S_IRWXU, problem)) {
        problem = "no folder for flashlock's state: " + problem;
        return std::nullopt;
    }
    return folder;
}

bool ensureFolder(const std::string& path, std::string& problem) {
    return makeFolders(path, S_IRWXU | S_IRWXG | S_IRWXO, problem);
}

DurableFile::~DurableFile() {
    close();
}

void DurableFile::close() {
    if (handle != closed) {
        // What matters was synced; what was not is lost with or without this.
        ::close(static_cast<int>(std::exchange(handle, closed)));
    }
    folderPending = false;
}

DurableFile DurableFile::create(const std::string& path, FileProblem& problem) {
    // O_EXCL refuses anything under the name, a dangling link included, and
    // O_NOFOLLOW says so once more for systems that would follow one.
    constexpr int flags = O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
    // NOLINTNEXTLINE(cppcoreguidelines-pro-type-vararg)
    const int descriptor = ::open(path.c_str(), flags, S_IRUSR | S_IWUSR);
    if (descriptor < 0) {
        problem = errno == EEXIST ? FileProblem{FileFault::Exists, path + " exists"}
                                  : FileProblem{FileFault::System, "cannot create " + path + ": " + reasonOf(errno)};
        return {};
    }
    DurableFile file;
    file.handle = descriptor;
    file.folderPending = true;
    file.filePath = path;
    return file;
}

DurableFile DurableFile::openForAppend(const std::string& path, FileProblem& problem) {
    const int descriptor = openRegular(path, O_WRONLY | O_APPEND, problem);
    if (descriptor < 0) {
        return {};
    }
    DurableFile file;
    file.handle = descriptor;
    file.filePath = path;
    return file;
}

bool DurableFile::append(const std::uint8_t* data, std::size_t size, FileProblem& problem) {
    if (handle == closed) {
        problem = {FileFault::System, "cannot write: no file is open"};
        return false;
    }
    while (size > 0) {
        const ssize_t written = ::write(static_cast<int>(handle), data, size);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            problem = {FileFault::System, "cannot write " + filePath + ": " + reasonOf(errno)};
            return false;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

bool DurableFile::sync(FileProblem& problem, bool withName) {
    if (handle == closed) {
        problem = {FileFault::System, "cannot flush to the disk: no file is open"};
        return false;
    }
    while (fsync(static_cast<int>(handle)) != 0) {
        if (errno != EINTR) {
            problem = {FileFault::System, "cannot flush " + filePath + " to the disk: " + reasonOf(errno)};
            return false;
        }
    }
    if (folderPending && withName) {
        if (!syncFolderOf(filePath, problem)) {
            return false;
        }
        folderPending = false;
    }
    return true;
}

std::optional<std::vector<std::uint8_t>> readWholeFile(const std::string& path, std::uint64_t limit,
                                                       FileProblem& problem) {
    const int descriptor = openRegular(path, O_RDONLY, problem);
    if (descriptor < 0) {
        return std::nullopt;
    }
    struct stat status {};
    fstat(descriptor, &status);
    const auto tooLarge = [&] {
        problem = {FileFault::Unsuitable,
                   path + " is larger than " + std::to_string(limit) + " bytes, more than it can be: remove it"};
        ::close(descriptor);
        return std::nullopt;
    };
    if (static_cast<std::uint64_t>(status.st_size) > limit) {
        return tooLarge();
    }
    std::vector<std::uint8_t> data(static_cast<std::size_t>(status.st_size));
    std::size_t done = 0;
    // Read to the end even past the size seen, in case the file grew since,
    // and one byte further than the limit, to tell a file that did.
    for (;;) {
        if (done == data.size()) {
            if (data.size() > limit) {
                return tooLarge();
            }
            const std::uint64_t grown = done + (done / 2) + 4096;
            data.resize(static_cast<std::size_t>(grown > limit ? limit + 1 : grown));
        }
        const ssize_t count = ::read(descriptor, data.data() + done, data.size() - done);
        if (count == 0) {
            break;
        }
        if (count < 0) {
            if (errno == EINTR) {
                continue;
            }
            problem = {FileFault::System, "cannot read " + path + ": " + reasonOf(errno)};
            ::close(descriptor);
            return std::nullopt;
        }
        done += static_cast<std::size_t>(count);
    }
    ::close(descriptor);
    data.resize(done);
    return data;
}

bool replaceDurably(const std::string& path, const std::vector<std::uint8_t>& data, FileProblem& problem) {
    const std::string pending = path + ".new";
    // What a run cut short left there is of no use: the name it held was
    // never given to it.
    if (unlink(pending.c_str()) != 0 && errno != ENOENT) {
        problem = {FileFault::System, "cannot remove " + pending + ": " + reasonOf(errno)};
        return false;
    }
    {
        DurableFile file = DurableFile::create(pending, problem);
        if (!file.isOpen()) {
            return false;
        }
        if (!file.append(data.data(), data.size(), problem) || !file.sync(problem, false)) {
            unlink(pending.c_str());
            return false;
        }
    }
    if (rename(pending.c_str(), path.c_str()) != 0) {
        problem = {FileFault::System, "cannot rename " + pending + " to " + path + ": " + reasonOf(errno)};
        unlink(pending.c_str());
        return false;
    }
    return syncFolderOf(path, problem);
}

bool removeDurably(const std::string& path, FileProblem& problem) {
    if (unlink(path.c_str()) != 0) {
        if (errno == ENOENT) {
            return true;
        }
        problem = {errno == EISDIR ? FileFault::Unsuitable : FileFault::System,
                   "cannot remove " + path + ": " + reasonOf(errno)};
        return false;
    }
    return syncFolderOf(path, problem);
}

std::vector<std::string> listFiles(const std::string& folder, const std::string& prefix) {
    std::vector<std::string> paths;
    DIR* listing = opendir(folder.c_str());
    if (listing == nullptr) {
        return paths;
    }
    const std::string separated = folder.ends_with('/') ? folder : folder + "/";
    // readdir is safe on a listing of one's own, and readdir_r is deprecated.
    // cppcheck-suppress readdirCalled
    // NOLINTNEXTLINE(concurrency-mt-unsafe)
    for (const dirent* entry = readdir(listing); entry != nullptr; entry = readdir(listing)) {
        const std::string name = entry->d_name;
        struct stat status {};
        if (name.starts_with(prefix) && name != "." && name != ".." &&
            fstatat(dirfd(listing), name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(status.st_mode)) {
            paths.push_back(separated + name);
        }
    }
    closedir(listing);
    std::sort(paths.begin(), paths.end());
    return paths;
}

}  // namespace platform
