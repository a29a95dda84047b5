#include <windows.h>

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

void FileLock::nap() {
    constexpr DWORD pollMilliseconds = 20;
    Sleep(pollMilliseconds);
}

void FileLock::unlock() {
    if (handle != invalid) {
        // Closing the handle releases the lock.
        CloseHandle(asHandle(handle));
        handle = invalid;
    }
}

}  // namespace platform
