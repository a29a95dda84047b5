#pragma once

#include <fcntl.h>
#include <linux/ppdev.h>
#include <sys/file.h>
#include <sys/ioctl.h>  // before linux/ppdev.h, which uses its macros

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "iolib/parport/OsCalls.h"

// A machine with parallel ports that exist only in memory. It answers the
// module's OS calls from the maps below and logs each call as a line
// ("ioctl 3 PPWDATA 0xa5"), so a test can hold the exact call sequence
// against what the module must do. One fake is live at a time: the module's
// calls are plain function pointers and find it through `live`. /dev lists
// the devices; a file opened with O_CREAT is made in any folder of
// `folders`, and flock answers `flockError`.
class FakeOs {
public:
    FakeOs() { live = this; }
    ~FakeOs() { live = nullptr; }
    FakeOs(const FakeOs&) = delete;
    FakeOs& operator=(const FakeOs&) = delete;
    FakeOs(FakeOs&&) = delete;
    FakeOs& operator=(FakeOs&&) = delete;

    // Lists parportN at `base` in the kernel's port list and gives it a device.
    void addPort(int number, unsigned base) {
        const std::string name = "parport" + std::to_string(number);
        directories["/proc/sys/dev/parport"].push_back(name);
        files["/proc/sys/dev/parport/" + name + "/base-addr"] =
            std::to_string(base) + "\t" + std::to_string(base + 0x400) + "\n";
        devices.insert("/dev/" + name);
    }

    [[nodiscard]] parport::OsCalls calls() const {
        return {
            .open = [](const char* path, int flags) { return live->open(path, flags); },
            .ioctl = [](int fd, unsigned long request, void* argument) { return live->ioctl(fd, request, argument); },
            .close = [](int fd) { return live->record("close " + std::to_string(fd), 0); },
            .flock =
                [](int fd, int operation) {
                    return live->record(
                        "flock " + std::to_string(fd) + (operation == (LOCK_EX | LOCK_NB) ? " LOCK_EX|LOCK_NB" : " ?"),
                        live->flockError);
                },
            .listDirectory =
                [](const char* path, std::vector<std::string>& names) {
                    if (std::string(path) == "/dev") {
                        for (const std::string& device : live->devices) {
                            if (device.starts_with("/dev/")) {
                                names.push_back(device.substr(5));
                            }
                        }
                        return true;
                    }
                    const auto found = live->directories.find(path);
                    if (found == live->directories.end()) {
                        return false;
                    }
                    names = found->second;
                    return true;
                },
            .readFile =
                [](const char* path, std::string& contents) {
                    const auto found = live->files.find(path);
                    if (found == live->files.end()) {
                        return false;
                    }
                    contents = found->second;
                    return true;
                },
            .ioperm = directIo ? ioperm : nullptr,
            .inb = [](std::uint16_t port) -> std::uint8_t {
                live->log.push_back("inb " + hex(port));
                return live->inputBytes[port];
            },
            .outb = [](std::uint8_t value,
                       std::uint16_t port) { live->log.push_back("outb " + hex(value) + " " + hex(port)); },
            .getEnv = [](const char* name) -> const char* {
                const auto found = live->environment.find(name);
                return found == live->environment.end() ? nullptr : found->second.c_str();
            },
            .printError = [](const char* line) { live->errors.emplace_back(line); },
        };
    }

    // The world.
    std::map<std::string, std::vector<std::string>> directories;
    std::map<std::string, std::string> files;
    std::set<std::string> devices;
    std::map<std::string, int> openErrors;            // path -> errno
    std::map<unsigned long, int> ioctlErrors;         // request -> errno
    std::map<unsigned long, std::uint8_t> readBytes;  // PPRDATA, PPRSTATUS, PPRCONTROL -> answer
    std::map<std::uint16_t, std::uint8_t> inputBytes;
    std::map<std::string, std::string> environment;
    std::set<std::string> folders = {"/run/lock", "/tmp"};
    int flockError = 0;
    bool directIo = true;
    int iopermError = 0;
    int nextFd = 3;

    // What the module did.
    std::vector<std::string> log;
    std::vector<std::string> errors;

    static std::string hex(unsigned value) {
        char text[16];
        std::snprintf(text, sizeof text, "0x%02x", value);
        return text;
    }

private:
    static inline FakeOs* live = nullptr;

    static std::string requestName(unsigned long request) {
        static const std::map<unsigned long, std::string> names = {
            {PPEXCL, "PPEXCL"},   {PPCLAIM, "PPCLAIM"},       {PPRELEASE, "PPRELEASE"},   {PPWDATA, "PPWDATA"},
            {PPRDATA, "PPRDATA"}, {PPWCONTROL, "PPWCONTROL"}, {PPRCONTROL, "PPRCONTROL"}, {PPRSTATUS, "PPRSTATUS"}};
        const auto found = names.find(request);
        return found == names.end() ? hex(static_cast<unsigned>(request)) : found->second;
    }

    static int ioperm(unsigned long from, unsigned long count, int turnOn) {
        return live->record(
            "ioperm " + hex(static_cast<unsigned>(from)) + " " + std::to_string(count) + " " + std::to_string(turnOn),
            live->iopermError);
    }

    int record(const std::string& line, int error) {
        log.push_back(line);
        errno = error;
        return error == 0 ? 0 : -1;
    }

    int open(const std::string& path, int flags) {
        log.push_back("open " + path + " " + hex(static_cast<unsigned>(flags)));
        const auto refused = openErrors.find(path);
        const bool made = (flags & O_CREAT) != 0 && folders.contains(path.substr(0, path.rfind('/')));
        errno = refused != openErrors.end() ? refused->second : devices.contains(path) || made ? 0 : ENOENT;
        return errno == 0 ? nextFd : -1;
    }

    int ioctl(int fd, unsigned long request, void* argument) {
        std::string line = "ioctl " + std::to_string(fd) + " " + requestName(request);
        auto* byte = static_cast<std::uint8_t*>(argument);
        if (request == PPWDATA || request == PPWCONTROL) {
            line += " " + hex(*byte);
        } else if (byte != nullptr) {
            *byte = readBytes[request];
        }
        const auto refused = ioctlErrors.find(request);
        return record(line, refused == ioctlErrors.end() ? 0 : refused->second);
    }
};
