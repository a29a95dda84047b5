#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <vector>

#include "platform/Platform.h"

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

PendingFile createFileBeside(const std::string& target, std::string& problem) {
    const std::size_t slash = target.rfind('/');
    const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
    std::string pattern = folderOf(target) + "/." + name + ".XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    const int fd = mkstemp(buffer.data());
    if (fd < 0) {
        problem = "cannot create a file in " + folderOf(target) + ": " + errorText();
        return {};
    }
    // mkstemp's 0600 would make a backup readable by its owner alone; give
    // it what any new file gets.
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, static_cast<mode_t>(0666U & ~mask));
    PendingFile file{std::string(buffer.data()), fdopen(fd, "wb")};
    if (file.stream == nullptr) {
        problem = "cannot write " + file.path + ": " + errorText();
        close(fd);
        unlink(file.path.c_str());
        return {};
    }
    return file;
}

bool commitFile(PendingFile& file, const std::string& target, std::string& problem) {
    bool written = std::fflush(file.stream) == 0 && fsync(fileno(file.stream)) == 0;
    if (!written) {
        problem = "cannot write " + target + ": " + errorText();
    }
    // NOLINTNEXTLINE(cppcoreguidelines-owning-memory): the stream is closed once, here
    if (std::fclose(file.stream) != 0 && written) {
        written = false;
        problem = "cannot write " + target + ": " + errorText();
    }
    file.stream = nullptr;
    if (written && std::rename(file.path.c_str(), target.c_str()) != 0) {
        written = false;
        problem = "cannot replace " + target + ": " + errorText();
    }
    if (!written) {
        unlink(file.path.c_str());
        return false;
    }
    // The new name is only durable once the folder is.
    const int folder = open(folderOf(target).c_str(), O_RDONLY);  // NOLINT(cppcoreguidelines-pro-type-vararg)
    if (folder >= 0) {
        fsync(folder);
        close(folder);
    }
    return true;
}

void discardFile(PendingFile& file) {
    if (file.stream != nullptr) {
        // Nothing of it is kept, so a failed close loses nothing.
        // NOLINTNEXTLINE(cppcoreguidelines-owning-memory)
        static_cast<void>(std::fclose(file.stream));
        file.stream = nullptr;
    }
    if (!file.path.empty()) {
        unlink(file.path.c_str());
    }
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

TickCounter& systemCounter() {
    static MonotonicClock clock;
    return clock;
}

}  // namespace platform
