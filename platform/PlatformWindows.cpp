#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "platform/Platform.h"
#include "platform/ShellQuote.h"

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

// The folder part of `path` with its separator ("dir\\"), or nothing for a
// bare name, so that a name can be appended as it is.
std::string folderPrefix(const std::string& path) {
    const std::size_t separator = path.find_last_of("/\\:");
    return separator == std::string::npos ? std::string() : path.substr(0, separator + 1);
}

// Some implementations of ReplaceFile (Wine's) take absolute paths only.
std::string fullPath(const std::string& path) {
    std::array<char, 32768> full{};
    const DWORD length = GetFullPathNameA(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    return length == 0 || length >= full.size() ? path : std::string(full.data(), length);
}

std::string errorText(DWORD error) {
    SetLastError(error);
    return lastErrorText();
}

std::string reasonOf(int error) {
    return std::strerror(error);  // NOLINT(concurrency-mt-unsafe): one thread
}

// The new file's name: short and of fixed length, so that it fits wherever
// the target's own name fits.
std::string pendingName(unsigned attempt) {
    LARGE_INTEGER now{};
    QueryPerformanceCounter(&now);
    const auto mixed =
        static_cast<std::uint32_t>(now.QuadPart) ^ (GetCurrentProcessId() << 8U) ^ (attempt * 0x9E3779B9U);
    std::string name = ".flashlock-";
    for (int shift = 28; shift >= 0; shift -= 4) {
        name += "0123456789ABCDEF"[(mixed >> static_cast<unsigned>(shift)) & 0xFU];
    }
    return name + ".tmp";
}

HANDLE asHandle(std::intptr_t handle) {
    // A HANDLE kept as an integer, as FileLock keeps its own.
    // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast,performance-no-int-to-ptr)
    return reinterpret_cast<HANDLE>(handle);
}

std::intptr_t asInteger(HANDLE handle) {
    return reinterpret_cast<std::intptr_t>(handle);  // NOLINT(cppcoreguidelines-pro-type-reinterpret-cast)
}

// What an open handle is when it is no file on a disk, in words; null for a
// regular file.
const char* kindOf(HANDLE handle, bool& folder) {
    folder = false;
    switch (GetFileType(handle)) {
    case FILE_TYPE_DISK:
        break;
    case FILE_TYPE_CHAR:
        return "a character device";
    case FILE_TYPE_PIPE:
        return "a pipe";
    default:
        return "a device";
    }
    BY_HANDLE_FILE_INFORMATION information{};
    if (GetFileInformationByHandle(handle, &information) != 0 &&
        (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        folder = true;
        return "a folder";
    }
    return nullptr;
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
    // A console process started with Ctrl-C ignored (a parent's
    // SetConsoleCtrlHandler(NULL, TRUE), a new process group, start /b)
    // keeps that flag: Windows then calls no handler for Ctrl-C, and adding
    // one does not clear it, so such a run stays deaf to Ctrl-C as its
    // caller wanted. Ctrl-Break and closing the console cannot be ignored
    // that way and are caught as always.
    SetConsoleCtrlHandler(recordConsoleEvent, TRUE);
}

int interruptSignal() {
    return caughtSignal.load();
}

bool standardErrorIsTerminal() {
    return _isatty(_fileno(stderr)) != 0;
}

OutputFile OutputFile::create(const std::string& target, bool replace, FileProblem& problem) {
    OutputFile file;
    if (target == standardStreamName) {
        // Bytes as they are: text mode would turn every 0x0A into 0x0D 0x0A.
        _setmode(_fileno(stdout), _O_BINARY);
        file.standardOutput = true;
        file.shownName = "standard output";
        return file;
    }
    // Before anything touches the name: opening one of these reaches the
    // device, and some (LPT1) would be written to.
    if (isReservedWindowsName(target)) {
        problem = reservedWindowsNameProblem(target);
        return {};
    }
    if (target.empty() || target.back() == '/' || target.back() == '\\') {
        problem = {FileFault::Unsuitable, "\"" + target + "\" names no file"};
        return {};
    }
    file.shownName = target;
    file.finalPath = target;
    // Opened for its attributes alone: this follows symbolic links, and
    // reaches devices (NUL, CON) that have no attributes of their own.
    HANDLE existing =
        CreateFileA(target.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    const DWORD attributes = GetFileAttributesA(target.c_str());
    const bool link = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    if (existing == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) {
            problem = {FileFault::System, "cannot use " + target + ": " + errorText(error)};
            return {};
        }
        if (link) {
            problem = {FileFault::Unsuitable, target + " is a symbolic link to nothing"};
            return {};
        }
    } else {
        bool folder = false;
        const char* kind = kindOf(existing, folder);
        std::array<char, 32768> resolved{};
        const DWORD length = link && kind == nullptr ? GetFinalPathNameByHandleA(existing, resolved.data(),
                                                                                 static_cast<DWORD>(resolved.size()),
                                                                                 FILE_NAME_NORMALIZED | VOLUME_NAME_DOS)
                                                     : 0;
        const DWORD error = GetLastError();
        CloseHandle(existing);
        if (kind != nullptr) {
            problem = {FileFault::Unsuitable,
                       target + " is " + (link ? "a symbolic link to " : "") + kind + ", not a regular file"};
            return {};
        }
        if (!replace) {
            problem = {FileFault::Exists, target + " exists"};
            return {};
        }
        if (link) {
            if (length == 0 || length >= resolved.size()) {
                problem = {FileFault::System, "cannot use " + target + ": " + errorText(error)};
                return {};
            }
            file.finalPath.assign(resolved.data(), length);
        }
        file.replaceExisting = true;
    }
    const std::string folder = folderPrefix(file.finalPath);
    for (unsigned attempt = 0; attempt < 100 && file.handle == closed; ++attempt) {
        const std::string path = folder + pendingName(attempt);
        HANDLE created =
            CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (created != INVALID_HANDLE_VALUE) {
            file.handle = asInteger(created);
            file.pendingPath = path;
        } else if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS) {
            break;
        }
    }
    if (file.handle == closed) {
        problem = {FileFault::System,
                   "cannot create a file in " + (folder.empty() ? std::string(".") : folder) + ": " + lastErrorText()};
        return {};
    }
    return file;
}

bool OutputFile::write(const std::uint8_t* data, std::size_t size, FileProblem& problem) {
    while (size > 0) {
        const auto piece = static_cast<unsigned>(std::min<std::size_t>(size, 1U << 20U));
        std::size_t written = 0;
        if (standardOutput) {
            const int count = _write(_fileno(stdout), data, piece);
            if (count < 0) {
                problem = {FileFault::System, "cannot write " + shownName + ": " + reasonOf(errno)};
                return false;
            }
            written = static_cast<std::size_t>(count);
        } else {
            DWORD count = 0;
            if (WriteFile(asHandle(handle), data, piece, &count, nullptr) == 0) {
                problem = {FileFault::System, "cannot write " + shownName + ": " + lastErrorText()};
                return false;
            }
            written = count;
        }
        data += written;
        size -= written;
    }
    return true;
}

bool OutputFile::commit(FileProblem& problem) {
    if (standardOutput) {
        standardOutput = false;
        return true;
    }
    HANDLE file = asHandle(std::exchange(handle, closed));
    bool written = FlushFileBuffers(file) != 0;
    DWORD error = GetLastError();
    if (CloseHandle(file) == 0 && written) {
        written = false;
        error = GetLastError();
    }
    if (!written) {
        problem = {FileFault::System, "cannot write " + shownName + ": " + errorText(error)};
        discard();
        return false;
    }
    BOOL named = FALSE;
    if (replaceExisting) {
        // Unlike a move, this passes the old file's attributes and access
        // rights on to the new one.
        named = ReplaceFileA(fullPath(finalPath).c_str(), fullPath(pendingPath).c_str(), nullptr,
                             REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr);
        error = GetLastError();
    }
    if (!replaceExisting || (named == 0 && error == ERROR_FILE_NOT_FOUND)) {
        // Without MOVEFILE_REPLACE_EXISTING a file of that name is never
        // replaced, whoever made it.
        named = MoveFileExA(pendingPath.c_str(), finalPath.c_str(), MOVEFILE_WRITE_THROUGH);
        error = GetLastError();
    }
    if (named == 0) {
        kept = std::exchange(pendingPath, {});
        problem = error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS
                      ? FileProblem{FileFault::Exists, shownName +
                                                           " was created by another program meanwhile and is left as "
                                                           "it is; the data is in " +
                                                           kept}
                      : FileProblem{FileFault::System, "cannot name the data " + shownName + ": " + errorText(error) +
                                                           "; it is in " + kept};
        return false;
    }
    pendingPath.clear();
    return true;
}

void OutputFile::discard() {
    standardOutput = false;
    if (handle != closed) {
        // Nothing of it is kept, so a failed close loses nothing.
        CloseHandle(asHandle(std::exchange(handle, closed)));
    }
    if (!pendingPath.empty()) {
        DeleteFileA(std::exchange(pendingPath, {}).c_str());
    }
}

void InputFile::close() {
    standardInput = false;
    if (handle != closed) {
        CloseHandle(asHandle(std::exchange(handle, closed)));
    }
}

InputFile InputFile::open(const std::string& name, FileProblem& problem) {
    InputFile file;
    if (name == standardStreamName) {
        // Bytes as they are: text mode would drop 0x0D before 0x0A and stop at 0x1A.
        _setmode(_fileno(stdin), _O_BINARY);
        file.standardInput = true;
        file.shownName = "standard input";
        return file;
    }
    if (name.empty()) {
        problem = {FileFault::Unsuitable, "cannot read \"\": no file has an empty name"};
        return {};
    }
    if (isReservedWindowsName(name)) {
        problem = reservedWindowsNameProblem(name);
        return {};
    }
    HANDLE opened = CreateFileA(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (opened == INVALID_HANDLE_VALUE) {
        problem = {FileFault::System, "cannot read " + name + ": " + lastErrorText()};
        return {};
    }
    file.handle = asInteger(opened);
    file.shownName = name;
    bool folder = false;
    if (const char* kind = kindOf(opened, folder); kind != nullptr) {
        problem = {FileFault::Unsuitable,
                   "cannot read " + name + ": " +
                       (folder ? reasonOf(EISDIR) : "it is " + std::string(kind) + ", not a regular file")};
        return {};
    }
    LARGE_INTEGER length{};
    if (GetFileSizeEx(opened, &length) != 0 && length.QuadPart > 0) {
        file.knownSize = static_cast<std::uint64_t>(length.QuadPart);
    }
    return file;
}

std::size_t InputFile::read(std::uint8_t* buffer, std::size_t capacity, FileProblem& problem) {
    std::size_t done = 0;
    while (done < capacity && !ended) {
        const auto piece = static_cast<unsigned>(std::min<std::size_t>(capacity - done, 1U << 20U));
        if (standardInput) {
            const int count = _read(_fileno(stdin), buffer + done, piece);
            if (count < 0) {
                problem = {FileFault::System, "cannot read " + shownName + ": " + reasonOf(errno)};
                break;
            }
            ended = count == 0;
            done += static_cast<std::size_t>(count);
        } else {
            DWORD count = 0;
            if (ReadFile(asHandle(handle), buffer + done, piece, &count, nullptr) == 0) {
                problem = {FileFault::System, "cannot read " + shownName + ": " + lastErrorText()};
                break;
            }
            ended = count == 0;
            done += count;
        }
        if (interruptSignal() != 0) {
            // The console's Ctrl-C lands between two reads, never in one.
            break;
        }
    }
    return done;
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

ModuleHandle loadModuleFile(const std::string& path, std::string& problem) {
    // With a full path, the DLLs it needs are looked for beside it first.
    HMODULE module = LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (module == nullptr) {
        const DWORD error = GetLastError();
        problem = error == ERROR_MOD_NOT_FOUND ? std::string("not found") : loadErrorText(error);
    }
    return module;
}

std::optional<std::string> programFolder() {
    std::vector<char> path(MAX_PATH);
    while (true) {
        const DWORD length = GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) {
            return std::nullopt;
        }
        if (length < path.size()) {
            const std::string program(path.data(), length);
            const std::size_t separator = program.find_last_of("\\/");
            return separator == std::string::npos ? std::nullopt
                                                  : std::optional<std::string>(program.substr(0, separator));
        }
        // Cut short: the path is longer than the buffer.
        path.resize(path.size() * 2);
    }
}

std::string quoteArgument(std::string_view argument) {
    return quoteWindowsCmd(argument);
}

std::string commandLine(const std::vector<std::string>& arguments) {
    return commandLineWindowsCmd(arguments);
}

TickCounter& systemCounter() {
    static PerformanceCounter counter;
    return counter;
}

}  // namespace platform
