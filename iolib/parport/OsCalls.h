#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace parport {

// Every call the module makes into the operating system. libio.so fills the
// table with the real calls; tests and benchmarks fill it with fakes, so the
// module's logic runs on machines that have no parallel port. A call that fails
// returns -1 (or false) and leaves the reason in errno, as the real ones do.
struct OsCalls {
    // A file that O_CREAT makes gets mode 0644.
    int (*open)(const char* path, int flags);
    int (*ioctl)(int fd, unsigned long request, void* argument);
    int (*close)(int fd);
    // flock(2): LOCK_EX | LOCK_NB fails with EWOULDBLOCK while another open
    // file holds the lock.
    int (*flock)(int fd, int operation);
    // The entries of a directory, without "." and ".."; false when it cannot be listed.
    bool (*listDirectory)(const char* path, std::vector<std::string>& names);
    // The whole of a small file; false when it cannot be read.
    bool (*readFile)(const char* path, std::string& contents);
    // Direct port I/O. All three are null where the processor has no I/O port space.
    int (*ioperm)(unsigned long from, unsigned long count, int turnOn);
    std::uint8_t (*inb)(std::uint16_t port);
    void (*outb)(std::uint8_t value, std::uint16_t port);
    // Null when the variable is not set.
    const char* (*getEnv)(const char* name);
    // One line for the user, given without its newline.
    void (*printError)(const char* line);
};

}  // namespace parport
