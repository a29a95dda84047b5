#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <utility>

namespace platform {

// An exclusive advisory lock on a file, held until the object goes away or
// the process ends, whichever comes first. Two holders conflict even within
// one process, so that each user of a file can be tested side by side.
class FileLock {
public:
    enum class Outcome { Locked, Busy, Failed, Interrupted };

    FileLock() = default;
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    FileLock(FileLock&& other) noexcept : handle(std::exchange(other.handle, invalid)), why(std::move(other.why)) {}
    FileLock& operator=(FileLock&& other) noexcept {
        if (this != &other) {
            unlock();
            handle = std::exchange(other.handle, invalid);
            why = std::move(other.why);
        }
        return *this;
    }

    // Opens the file, creating it if needed, and takes the lock without
    // waiting: Busy when another holder has it. Only a regular file is
    // accepted, so a FIFO or device put in its place can neither block the
    // caller nor be written. On Failed, problem() says why.
    Outcome tryLock(const std::filesystem::path& path);
    // tryLock until it is no longer Busy or `bound` has passed; `waiting` is
    // called once, when the first try finds the file taken. A signal that the
    // process handles (on Windows a console event: Ctrl-C, a closed console)
    // ends the wait at once with Interrupted, so that a user who gives up on
    // the wait is not kept waiting for the bound.
    Outcome lockWithin(const std::filesystem::path& path, std::chrono::milliseconds bound,
                       const std::function<void()>& waiting);
    void unlock();
    [[nodiscard]] bool locked() const { return handle != invalid; }
    [[nodiscard]] const std::string& problem() const { return why; }

private:
    // The tries after the first, as both OSes make them: `pause` sleeps
    // between two and returns false when a signal cut it short.
    template <typename Pause>
    Outcome retryUntil(const std::filesystem::path& path, std::chrono::steady_clock::time_point deadline,
                       const Pause& pause) {
        Outcome outcome = Outcome::Busy;
        while (outcome == Outcome::Busy && std::chrono::steady_clock::now() < deadline) {
            if (!pause()) {
                return Outcome::Interrupted;
            }
            outcome = tryLock(path);
        }
        return outcome;
    }

    // A file descriptor or a Windows HANDLE, whichever the OS uses.
    static constexpr std::intptr_t invalid = -1;
    std::intptr_t handle = invalid;
    std::string why;
};

}  // namespace platform
