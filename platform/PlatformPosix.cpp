#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <utility>
#include <vector>

#include "platform/Platform.h"
#include "platform/ShellQuote.h"

namespace platform {

namespace {

// One key from a terminal, taken without waiting for Enter and without echo,
// as Windows' PAUSE does. The terminal's settings are restored afterwards.
void waitForKeyOnTerminal() {
    termios saved{};
    if (tcgetattr(STDIN_FILENO, &saved) != 0) {
        return;
    }
    termios raw = saved;
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    if (tcsetattr(STDIN_FILENO, TCSANOW, &raw) == 0) {
        char key = 0;
        // A failed read (hang-up, signal) ends the pause too.
        static_cast<void>(read(STDIN_FILENO, &key, 1));
        tcsetattr(STDIN_FILENO, TCSANOW, &saved);
    }
}

// The first interrupting signal, written only by the handler.
volatile std::sig_atomic_t caughtSignal = 0;  // NOLINT(cppcoreguidelines-avoid-non-const-global-variables)

extern "C" void recordSignal(int number) {
    if (caughtSignal == 0) {
        caughtSignal = number;
    }
}

std::string folderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string errorText() {
    return std::strerror(errno);  // NOLINT(concurrency-mt-unsafe): one thread
}

std::string reasonOf(int error) {
    return std::strerror(error);  // NOLINT(concurrency-mt-unsafe): one thread
}

// What a file that is no regular file is, in words.
const char* kindOf(mode_t mode) {
    if (S_ISDIR(mode)) {
        return "a folder";
    }
    if (S_ISFIFO(mode)) {
        return "a FIFO";
    }
    if (S_ISSOCK(mode)) {
        return "a socket";
    }
    if (S_ISCHR(mode)) {
        return "a character device";
    }
    if (S_ISBLK(mode)) {
        return "a block device";
    }
    return "a special file";
}

// The new file's name: short and of fixed length, so that it fits wherever
// the target's own name fits, and starting with a dot, so that listings
// leave it out while it grows.
constexpr const char* pendingPattern = ".flashlock-XXXXXX";

std::string pathInFolder(const std::string& folder, const char* name) {
    return folder == "/" ? folder + name : folder + "/" + name;
}

// Gives `from` the name `to` unless `to` exists, in one step where the file
// system can: 0 or the errno value.
int renameWithoutReplacing(const char* from, const char* to) {
#ifdef RENAME_NOREPLACE
    if (renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) {
        return 0;
    }
    // EINVAL: a file system that cannot refuse in the rename itself.
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) {
        return errno;
    }
#endif
    // A hard link never replaces anything either.
    if (link(from, to) == 0) {
        unlink(from);
        return 0;
    }
    if (errno != EPERM && errno != ENOTSUP && errno != ENOSYS) {
        return errno;
    }
    // Neither (FAT, some network shares): look, then rename. Only a file made
    // in the instant between the two is replaced.
    struct stat status {};
    if (lstat(to, &status) == 0) {
        return EEXIST;
    }
    return std::rename(from, to) == 0 ? 0 : errno;
}

// The new name is only durable once the folder is.
void syncFolder(const std::string& folder) {
    const int descriptor = open(folder.c_str(), O_RDONLY | O_CLOEXEC);  // NOLINT(cppcoreguidelines-pro-type-vararg)
    if (descriptor >= 0) {
        fsync(descriptor);
        close(descriptor);
    }
}

// CLOCK_MONOTONIC in nanoseconds: a counter of 1,000,000,000 ticks per second.
class MonotonicClock final : public TickCounter {
public:
    std::int64_t frequency() override { return 1000000000; }
    std::int64_t now() override {
        timespec time{};
        clock_gettime(CLOCK_MONOTONIC, &time);
        return static_cast<std::int64_t>(time.tv_sec) * 1000000000 + time.tv_nsec;
    }
};

}  // namespace

void ensureStandardStreams() {
    for (const int stream : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
        if (fcntl(stream, F_GETFD) == -1 && errno == EBADF) {  // NOLINT(cppcoreguidelines-pro-type-vararg)
            // The lowest free number is this one, as the lower ones are open.
            const int opened = open("/dev/null", stream == STDIN_FILENO ? O_RDONLY : O_WRONLY);  // NOLINT
            static_cast<void>(opened);
        }
    }
}

void pauseBeforeExit() {
    // A console that cannot be written to has nobody to wait for; carry on.
    static_cast<void>(std::fputs("Press any key to continue . . . ", stdout));
    static_cast<void>(std::fflush(stdout));
    if (isatty(STDIN_FILENO) != 0) {
        waitForKeyOnTerminal();
    } else {
        // Through stdio, which may already hold the rest of the input; EOF
        // returns at once, so a closed input never hangs here.
        static_cast<void>(std::getchar());
    }
    static_cast<void>(std::fputs("\n", stdout));
    static_cast<void>(std::fflush(stdout));
}

void catchInterrupts() {
    struct sigaction action {};
    action.sa_handler = recordSignal;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a blocked console read or write returns EINTR, so the
    // program gets to its safe point instead of waiting on the console.
    action.sa_flags = 0;
    for (const int number : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
        struct sigaction previous {};
        // nohup, trap '' INT and a shell's background jobs hand the program
        // these signals ignored, so that it outlives them: keep it that way.
        // NOLINTNEXTLINE(cppcoreguidelines-pro-type-cstyle-cast)
        if (sigaction(number, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN) {
            continue;
        }
        sigaction(number, &action, nullptr);
    }
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;  // NOLINT(cppcoreguidelines-pro-type-cstyle-cast)
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, nullptr);
}

int interruptSignal() {
    return caughtSignal;
}

bool standardErrorIsTerminal() {
    return isatty(STDERR_FILENO) != 0;
}

OutputFile OutputFile::create(const std::string& target, bool replace, FileProblem& problem) {
    OutputFile file;
    if (target == standardStreamName) {
        file.standardOutput = true;
        file.shownName = "standard output";
        return file;
    }
    if (target.empty() || target.back() == '/') {
        problem = {FileFault::Unsuitable, "\"" + target + "\" names no file"};
        return {};
    }
    file.shownName = target;
    file.finalPath = target;
    struct stat status {};
    const bool exists = lstat(target.c_str(), &status) == 0;
    if (!exists && errno != ENOENT) {
        problem = {FileFault::System, "cannot use " + target + ": " + errorText()};
        return {};
    }
    if (exists) {
        const bool link = S_ISLNK(status.st_mode);
        if (link && stat(target.c_str(), &status) != 0) {
            problem = errno == ENOENT ? FileProblem{FileFault::Unsuitable, target + " is a symbolic link to nothing"}
                                      : FileProblem{FileFault::System, "cannot use " + target + ": " + errorText()};
            return {};
        }
        if (!S_ISREG(status.st_mode)) {
            problem = {FileFault::Unsuitable, target + " is " + (link ? "a symbolic link to " : "") +
                                                  kindOf(status.st_mode) + ", not a regular file"};
            return {};
        }
        if (!replace) {
            problem = {FileFault::Exists, target + " exists"};
            return {};
        }
        if (link) {
            std::vector<char> resolved(PATH_MAX + 1, '\0');
            if (realpath(target.c_str(), resolved.data()) == nullptr) {
                problem = {FileFault::System, "cannot use " + target + ": " + errorText()};
                return {};
            }
            file.finalPath = resolved.data();
        }
        file.replaceExisting = true;
    }
    const std::string folder = folderOf(file.finalPath);
    std::string pattern = pathInFolder(folder, pendingPattern);
    const int descriptor = mkostemp(pattern.data(), O_CLOEXEC);
    if (descriptor < 0) {
        problem = {FileFault::System, "cannot create a file in " + folder + ": " + errorText()};
        return {};
    }
    file.handle = descriptor;
    file.pendingPath = pattern;
    if (exists) {
        // Owner first: a change of owner clears the set-ID bits. Only root
        // may give a file away, and a copy that stays its maker's is no loss.
        static_cast<void>(fchown(descriptor, status.st_uid, status.st_gid));
        fchmod(descriptor, status.st_mode & 07777U);
    } else {
        // mkstemp's 0600 would keep a backup from everyone but its owner;
        // give it what any new file gets.
        const mode_t mask = umask(0);
        umask(mask);
        fchmod(descriptor, static_cast<mode_t>(0666U & ~mask));
    }
    return file;
}

bool OutputFile::write(const std::uint8_t* data, std::size_t size, FileProblem& problem) {
    const int descriptor = standardOutput ? STDOUT_FILENO : static_cast<int>(handle);
    while (size > 0) {
        const ssize_t written = ::write(descriptor, data, size);
        if (written < 0) {
            // A pipe nobody reads blocks the write; a signal ends the wait.
            if (errno == EINTR && interruptSignal() == 0) {
                continue;
            }
            problem = {FileFault::System, "cannot write " + shownName + ": " + errorText()};
            return false;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

bool OutputFile::commit(FileProblem& problem) {
    if (standardOutput) {
        standardOutput = false;
        return true;
    }
    const int descriptor = static_cast<int>(std::exchange(handle, closed));
    bool written = fsync(descriptor) == 0;
    int error = errno;
    if (close(descriptor) != 0 && written) {
        written = false;
        error = errno;
    }
    if (!written) {
        problem = {FileFault::System, "cannot write " + shownName + ": " + reasonOf(error)};
        discard();
        return false;
    }
    const int renamed = replaceExisting ? (std::rename(pendingPath.c_str(), finalPath.c_str()) == 0 ? 0 : errno)
                                        : renameWithoutReplacing(pendingPath.c_str(), finalPath.c_str());
    syncFolder(folderOf(finalPath));
    if (renamed != 0) {
        kept = std::exchange(pendingPath, {});
        problem = renamed == EEXIST ? FileProblem{FileFault::Exists, shownName +
                                                                         " was created by another program meanwhile "
                                                                         "and is left as it is; the data is in " +
                                                                         kept}
                                    : FileProblem{FileFault::System, "cannot name the data " + shownName + ": " +
                                                                         reasonOf(renamed) + "; it is in " + kept};
        return false;
    }
    pendingPath.clear();
    return true;
}

void OutputFile::discard() {
    standardOutput = false;
    if (handle != closed) {
        // Nothing of it is kept, so a failed close loses nothing.
        close(static_cast<int>(std::exchange(handle, closed)));
    }
    if (!pendingPath.empty()) {
        unlink(std::exchange(pendingPath, {}).c_str());
    }
}

void InputFile::close() {
    standardInput = false;
    if (handle != closed) {
        ::close(static_cast<int>(std::exchange(handle, closed)));
    }
}

InputFile InputFile::open(const std::string& name, FileProblem& problem) {
    InputFile file;
    if (name == standardStreamName) {
        file.standardInput = true;
        file.shownName = "standard input";
        return file;
    }
    if (name.empty()) {
        problem = {FileFault::Unsuitable, "cannot read \"\": no file has an empty name"};
        return {};
    }
    // Looked at before it is opened: opening a FIFO waits for a writer, and
    // opening a device may already do something.
    struct stat status {};
    if (stat(name.c_str(), &status) != 0) {
        problem = {FileFault::System, "cannot read " + name + ": " + errorText()};
        return {};
    }
    const auto refuse = [&name, &problem](mode_t mode) {
        problem = S_ISDIR(mode) ? FileProblem{FileFault::Unsuitable, "cannot read " + name + ": " + reasonOf(EISDIR)}
                                : FileProblem{FileFault::Unsuitable, "cannot read " + name + ": it is " + kindOf(mode) +
                                                                         ", not a regular file"};
        return InputFile{};
    };
    if (!S_ISREG(status.st_mode)) {
        return refuse(status.st_mode);
    }
    // Non-blocking in case something else took the name in the meantime.
    // NOLINTNEXTLINE(cppcoreguidelines-pro-type-vararg)
    const int descriptor = ::open(name.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (descriptor < 0) {
        problem = {FileFault::System, "cannot read " + name + ": " + errorText()};
        return {};
    }
    file.handle = descriptor;
    file.shownName = name;
    if (fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
        return refuse(status.st_mode);
    }
    // NOLINTNEXTLINE(cppcoreguidelines-pro-type-vararg)
    fcntl(descriptor, F_SETFL, fcntl(descriptor, F_GETFL) & ~O_NONBLOCK);
    if (status.st_size > 0) {
        file.knownSize = static_cast<std::uint64_t>(status.st_size);
    }
    return file;
}

std::size_t InputFile::read(std::uint8_t* buffer, std::size_t capacity, FileProblem& problem) {
    const int descriptor = standardInput ? STDIN_FILENO : static_cast<int>(handle);
    std::size_t done = 0;
    while (done < capacity && !ended) {
        const ssize_t count = ::read(descriptor, buffer + done, capacity - done);
        if (count > 0) {
            done += static_cast<std::size_t>(count);
        } else if (count == 0) {
            ended = true;
        } else if (errno != EINTR) {
            problem = {FileFault::System, "cannot read " + shownName + ": " + errorText()};
            break;
        } else if (interruptSignal() != 0) {
            // A terminal or a pipe that gives nothing must not hold the program.
            break;
        }
    }
    return done;
}

bool fileExists(const std::string& path) {
    struct stat status {};
    return lstat(path.c_str(), &status) == 0;
}

std::string moduleFileName(const char* name) {
    return std::string("lib") + name + ".so";
}

ModuleHandle loadModule(const char* name) {
    // A bare file name (no slash) makes dlopen search LD_LIBRARY_PATH, the
    // RUNPATH and the system directories, and never the current directory.
    return dlopen(moduleFileName(name).c_str(), RTLD_NOW | RTLD_LOCAL);
}

ModuleSymbol findSymbol(ModuleHandle module, const char* name) {
    if (module == nullptr) {
        return nullptr;
    }
    // POSIX guarantees that a function's address survives the trip through void*.
    return reinterpret_cast<ModuleSymbol>(dlsym(module, name));  // NOLINT(cppcoreguidelines-pro-type-reinterpret-cast)
}

void unloadModule(ModuleHandle module) {
    if (module != nullptr) {
        dlclose(module);
    }
}

std::string moduleLoadProblem(const char* name) {
    const char* reason = dlerror();  // NOLINT(concurrency-mt-unsafe): one thread
    std::string text = "the port-I/O module " + moduleFileName(name) + " could not be loaded";
    if (reason != nullptr) {
        text += std::string(" (") + reason + ")";
    }
    return text + ". Put it next to flashlock or in a directory on LD_LIBRARY_PATH.";
}

ModuleHandle loadModuleFile(const std::string& path, std::string& problem) {
    // A name with a slash in it is taken as a path: dlopen searches nowhere.
    const std::string name = path.find('/') == std::string::npos ? "./" + path : path;
    ModuleHandle module = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) {
        const char* reason = dlerror();  // NOLINT(concurrency-mt-unsafe): one thread
        problem = reason != nullptr ? reason : "the loader gave no reason";
    }
    return module;
}

std::optional<std::string> programFolder() {
    std::vector<char> path(PATH_MAX);
    // Linux's name for the running program, whatever it was started as.
    const ssize_t length = readlink("/proc/self/exe", path.data(), path.size());
    if (length <= 0 || static_cast<std::size_t>(length) >= path.size()) {
        return std::nullopt;
    }
    return folderOf(std::string(path.data(), static_cast<std::size_t>(length)));
}

std::string quoteArgument(std::string_view argument) {
    return quotePosix(argument);
}

std::string commandLine(const std::vector<std::string>& arguments) {
    return commandLinePosix(arguments);
}

TickCounter& systemCounter() {
    static MonotonicClock clock;
    return clock;
}

}  // namespace platform
