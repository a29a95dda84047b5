#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
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

void FileLock::nap() {
    constexpr long pollNanoseconds = 20'000'000;
    const timespec pause{0, pollNanoseconds};
    // An interrupted pause only means an earlier try.
    static_cast<void>(::nanosleep(&pause, nullptr));
}

void FileLock::unlock() {
    if (handle != invalid) {
        // Closing the descriptor releases the lock.
        ::close(static_cast<int>(handle));
        handle = invalid;
    }
}

}  // namespace platform
