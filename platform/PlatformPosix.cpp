#include <dlfcn.h>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>

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
