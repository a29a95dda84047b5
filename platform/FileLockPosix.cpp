#include <fcntl.h>
#include <sys/file.h>
#include <sys/select.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <ctime>
#include <system_error>

#include "platform/FileLock.h"

namespace platform {

namespace {

std::string systemMessage(int error) {
    return std::generic_category().message(error);
}

}  // namespace

FileLock::~FileLock() {
    unlock();
}

FileLock::Outcome FileLock::tryLock(const std::filesystem::path& path) {
    unlock();
    why.clear();
    // Non-blocking, so that a FIFO in the file's place returns at once and is
    // then refused below; O_NOFOLLOW is not used, as a linked lock file is
    // still the one file every run agrees on.
    // NOLINTNEXTLINE(cppcoreguidelines-pro-type-vararg,hicpp-vararg)
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, 0666);
    if (fd < 0) {
        why = systemMessage(errno);
        return Outcome::Failed;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        why = "not a regular file";
        ::close(fd);
        return Outcome::Failed;
    }
    // flock, not fcntl: its locks belong to the open file, so that a second
    // open in the same process conflicts too, and they go with the process.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(fd);
        if (error == EWOULDBLOCK || error == EINTR) {
            return Outcome::Busy;
        }
        why = systemMessage(error);
        return Outcome::Failed;
    }
    handle = fd;
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
    // Signals are held back while a try runs and let in only during the
    // pauses, atomically with the sleep: one that arrives in the middle of a
    // try then cuts the next pause short instead of going unnoticed.
    sigset_t all{};
    sigset_t before{};
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, &before);
    const Outcome outcome = retryUntil(path, deadline, [&before] {
        constexpr long pollNanoseconds = 20'000'000;
        const timespec pause{0, pollNanoseconds};
        return ::pselect(0, nullptr, nullptr, nullptr, &pause, &before) == 0 || errno != EINTR;
    });
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
    return outcome;
}

void FileLock::unlock() {
    if (handle != invalid) {
        // Closing the descriptor releases the lock.
        ::close(static_cast<int>(handle));
        handle = invalid;
    }
}

}  // namespace platform
