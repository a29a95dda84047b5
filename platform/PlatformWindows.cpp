#include <io.h>
#include <windows.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include "platform/Platform.h"

namespace platform {

namespace {

class PerformanceCounter final : public TickCounter {
public:
    std::int64_t frequency() override {
        LARGE_INTEGER value{};
        QueryPerformanceFrequency(&value);
        return value.QuadPart;
    }
    std::int64_t now() override {
        LARGE_INTEGER value{};
        QueryPerformanceCounter(&value);
        return value.QuadPart;
    }
};

// The signal numbers a POSIX shell would report, so that exit statuses agree.
constexpr int interruptNumber = 2;  // SIGINT
constexpr int hangUpNumber = 1;     // SIGHUP

// The first interrupting console event, written by the handler's thread.
std::atomic<int> caughtSignal{0};  // NOLINT(cppcoreguidelines-avoid-non-const-global-variables)

BOOL WINAPI recordConsoleEvent(DWORD event) {
    int expected = 0;
    const int number = event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT ? interruptNumber : hangUpNumber;
    caughtSignal.compare_exchange_strong(expected, number);
    if (number == hangUpNumber) {
        // Windows ends the process once this handler returns from a close
        // event: give the program a moment to reach its safe point first.
        Sleep(3000);
    }
    return TRUE;
}

std::string folderOf(const std::string& path) {
    const std::size_t slash = path.find_last_of("/\\");
    if (slash == std::string::npos) {
        return ".";
    }
    return path.substr(0, slash + 1);
}

std::string lastErrorText() {
    std::array<char, 256> text{};
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                        GetLastError(), 0, text.data(), static_cast<DWORD>(text.size()), nullptr);
    std::string message(text.data(), length);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == '.')) {
        message.pop_back();
    }
    return message;
}

// The loader's errors that a user meets, in words; others by number.
std::string loadErrorText(DWORD error) {
    switch (error) {
    case ERROR_MOD_NOT_FOUND:
        return "not found next to flashlock.exe, in the system folders or on PATH";
    case ERROR_BAD_EXE_FORMAT:
        return "not a DLL for this program: damaged, not a library at all, or built for the other of 32-bit and 64-bit";
    case ERROR_DLL_INIT_FAILED:
        return "its start-up code failed";
    default:
        return "error " + std::to_string(error);
    }
}

}  // namespace

// Nothing to do on Windows: the C runtime keeps descriptors 0 to 2 marked
// open at start-up even when no handle stands behind them, so a file opened
// later never takes their numbers, and reads from a missing input fail, which
// the dialogue takes as the end of its input.
void ensureStandardStreams() {}

void pauseBeforeExit() {
    // cmd's own PAUSE: the prompt and the key handling Windows users know.
    // NOLINTNEXTLINE(cert-env33-c,concurrency-mt-unsafe)
    static_cast<void>(std::system("PAUSE"));
}

void catchInterrupts() {
    SetConsoleCtrlHandler(recordConsoleEvent, TRUE);
}

int interruptSignal() {
    return caughtSignal.load();
}

bool standardErrorIsTerminal() {
    return _isatty(_fileno(stderr)) != 0;
}

PendingFile createFileBeside(const std::string& target, std::string& problem) {
    std::array<char, MAX_PATH + 1> name{};
    if (GetTempFileNameA(folderOf(target).c_str(), "fl", 0, name.data()) == 0) {
        problem = "cannot create a file in " + folderOf(target) + ": " + lastErrorText();
        return {};
    }
    PendingFile file{name.data(), std::fopen(name.data(), "wb")};  // NOLINT(cppcoreguidelines-owning-memory)
    if (file.stream == nullptr) {
        problem = "cannot write " + file.path + ": " + std::strerror(errno);  // NOLINT(concurrency-mt-unsafe)
        DeleteFileA(file.path.c_str());
        return {};
    }
    return file;
}

bool commitFile(PendingFile& file, const std::string& target, std::string& problem) {
    bool written = std::fflush(file.stream) == 0 && _commit(_fileno(file.stream)) == 0;
    // NOLINTNEXTLINE(cppcoreguidelines-owning-memory): the stream is closed once, here
    if (std::fclose(file.stream) != 0) {
        written = false;
    }
    file.stream = nullptr;
    if (!written) {
        problem = "cannot write " + target + ": " + std::strerror(errno);  // NOLINT(concurrency-mt-unsafe)
    } else if (MoveFileExA(file.path.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) ==
               0) {
        written = false;
        problem = "cannot replace " + target + ": " + lastErrorText();
    }
    if (!written) {
        DeleteFileA(file.path.c_str());
    }
    return written;
}

void discardFile(PendingFile& file) {
    if (file.stream != nullptr) {
        // Nothing of it is kept, so a failed close loses nothing.
        // NOLINTNEXTLINE(cppcoreguidelines-owning-memory)
        static_cast<void>(std::fclose(file.stream));
        file.stream = nullptr;
    }
    if (!file.path.empty()) {
        DeleteFileA(file.path.c_str());
    }
}

bool fileExists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

ModuleHandle loadModule(const char* name) {
    return LoadLibraryA(name);
}

std::string moduleFileName(const char* name) {
    return std::string(name) + ".dll";
}

ModuleSymbol findSymbol(ModuleHandle module, const char* name) {
    if (module == nullptr) {
        return nullptr;
    }
    // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast)
    return reinterpret_cast<ModuleSymbol>(GetProcAddress(static_cast<HMODULE>(module), name));
}

void unloadModule(ModuleHandle module) {
    if (module != nullptr) {
        FreeLibrary(static_cast<HMODULE>(module));
    }
}

std::string moduleLoadProblem(const char* name) {
    const DWORD error = GetLastError();
    return "the port-I/O module " + moduleFileName(name) + " could not be loaded (" + loadErrorText(error) +
           "). Install a port-I/O library as io.dll next to flashlock.exe; a 64-bit flashlock needs a 64-bit io.dll.";
}

TickCounter& systemCounter() {
    static PerformanceCounter counter;
    return counter;
}

}  // namespace platform
