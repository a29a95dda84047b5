#include <windows.h>

#include <atomic>

#include "platform/FileLock.h"

namespace platform {

namespace {

std::string systemMessage(DWORD error) {
    char* text = nullptr;
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
        // The API takes the address of the pointer in place of the buffer.
        // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast)
        reinterpret_cast<LPSTR>(&text), 0, nullptr);
    std::string message = length > 0 && text != nullptr ? std::string(text, length) : "error " + std::to_string(error);
    LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == '.')) {
        message.pop_back();
    }
    return message;
}

// Set by the console handler below while a wait for a lock runs: Windows
// calls console handlers on a thread of its own and with no context.
std::atomic<bool> consoleEventDuringWait{false};  // NOLINT(cppcoreguidelines-avoid-non-const-global-variables)

BOOL WINAPI noteConsoleEvent(DWORD /*event*/) {
    consoleEventDuringWait = true;
    // Not handled here: the program's own handler, registered earlier, still
    // gets the event after this one.
    return FALSE;
}

HANDLE asHandle(std::intptr_t value) {
    // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast,performance-no-int-to-ptr)
    return reinterpret_cast<HANDLE>(value);
}

}  // namespace

FileLock::~FileLock() {
    unlock();
}

FileLock::Outcome FileLock::tryLock(const std::filesystem::path& path) {
    unlock();
    why.clear();
    // Shared for reading, writing and deleting, so that the lock never stops
    // anyone from looking at the file or from replacing the state beside it.
    HANDLE file =
        CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        why = systemMessage(GetLastError());
        return Outcome::Failed;
    }
    if (GetFileType(file) != FILE_TYPE_DISK) {
        why = "not a regular file";
        CloseHandle(file);
        return Outcome::Failed;
    }
    OVERLAPPED whole{};
    if (LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &whole) == 0) {
        const DWORD error = GetLastError();
        CloseHandle(file);
        if (error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING) {
            return Outcome::Busy;
        }
        why = systemMessage(error);
        return Outcome::Failed;
    }
    // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast)
    handle = reinterpret_cast<std::intptr_t>(file);
    return Outcome::Locked;
}

FileLock::Outcome FileLock::lockWithin(const std::filesystem::path& path, std::chrono::milliseconds bound,
                                       const std::function<void()>& waiting) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    const Outcome first = tryLock(path);
    if (first != Outcome::Busy) {
        return first;
    }
    if (waiting) {
        waiting();
    }
    consoleEventDuringWait = false;
    SetConsoleCtrlHandler(noteConsoleEvent, TRUE);
    const Outcome outcome = retryUntil(path, deadline, [] {
        constexpr DWORD pollMilliseconds = 20;
        Sleep(pollMilliseconds);
        return !consoleEventDuringWait.load();
    });
    SetConsoleCtrlHandler(noteConsoleEvent, FALSE);
    return outcome;
}

void FileLock::unlock() {
    if (handle != invalid) {
        // Closing the handle releases the lock.
        CloseHandle(asHandle(handle));
        handle = invalid;
    }
}

}  // namespace platform
