#include "iolib/parport/SystemOsCalls.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string_view>

// Direct port I/O exists only on x86; elsewhere the table leaves it empty and
// FLASHLOCK_IO=direct is refused with a message.
#if defined(__x86_64__) || defined(__i386__)
#include <sys/io.h>
#define FLASHLOCK_HAS_PORT_IO 1  // NOLINT(cppcoreguidelines-macro-usage): tested by #if
#else
#define FLASHLOCK_HAS_PORT_IO 0  // NOLINT(cppcoreguidelines-macro-usage)
#endif

namespace parport {

namespace {

constexpr mode_t kCreatedFileMode = 0644;

int openFile(const char* path, int flags) {
    return ::open(path, flags, kCreatedFileMode);  // NOLINT(cppcoreguidelines-pro-type-vararg)
}

int control(int fd, unsigned long request, void* argument) {
    return ::ioctl(fd, request, argument);  // NOLINT(cppcoreguidelines-pro-type-vararg)
}

int closeFile(int fd) {
    return ::close(fd);
}

int lockFile(int fd, int operation) {
    return ::flock(fd, operation);
}

bool listDirectory(const char* path, std::vector<std::string>& names) {
    DIR* directory = ::opendir(path);
    if (directory == nullptr) {
        return false;
    }
    // readdir_r, which cppcheck suggests, is deprecated; this is one thread.
    // cppcheck-suppress readdirCalled
    while (const dirent* entry = ::readdir(directory)) {  // NOLINT(concurrency-mt-unsafe): one thread
        const std::string_view name = entry->d_name;      // NOLINT(cppcoreguidelines-pro-bounds-array-to-pointer-decay)
        if (name != "." && name != "..") {
            names.emplace_back(name);
        }
    }
    ::closedir(directory);
    return true;
}

bool readFile(const char* path, std::string& contents) {
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);  // NOLINT(cppcoreguidelines-pro-type-vararg)
    if (fd < 0) {
        return false;
    }
    std::array<char, 256> buffer{};
    bool complete = false;
    for (;;) {
        const ssize_t count = ::read(fd, buffer.data(), buffer.size());
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            complete = count == 0;
            break;
        }
        contents.append(buffer.data(), static_cast<std::size_t>(count));
    }
    ::close(fd);
    return complete;
}

// The module reads its variables once, at the first port access, on the
// program's one thread.
const char* environment(const char* name) {
    return std::getenv(name);  // NOLINT(concurrency-mt-unsafe)
}

void printError(const char* line) {
    // Nothing is left to tell the user if stderr itself fails.
    static_cast<void>(std::fputs(line, stderr));
    static_cast<void>(std::fputc('\n', stderr));
}

#if FLASHLOCK_HAS_PORT_IO
int permitPorts(unsigned long from, unsigned long count, int turnOn) {
    return ::ioperm(from, count, turnOn);
}
std::uint8_t inputByte(std::uint16_t port) {
    return ::inb(port);
}
void outputByte(std::uint8_t value, std::uint16_t port) {
    ::outb(value, port);
}
#endif

}  // namespace

OsCalls systemOsCalls() noexcept {
    return OsCalls {
        .open = openFile, .ioctl = control, .close = closeFile, .flock = lockFile, .listDirectory = listDirectory,
        .readFile = readFile,
#if FLASHLOCK_HAS_PORT_IO
        .ioperm = permitPorts, .inb = inputByte, .outb = outputByte,
#else
        .ioperm = nullptr, .inb = nullptr, .outb = nullptr,
#endif
        .getEnv = environment, .printError = printError,
    };
}

}  // namespace parport
