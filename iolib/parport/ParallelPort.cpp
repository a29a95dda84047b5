#include "iolib/parport/ParallelPort.h"

#include <fcntl.h>
#include <linux/parport.h>
#include <linux/ppdev.h>
#include <sys/file.h>
#include <sys/ioctl.h>  // linux/ppdev.h needs its _IO macros

#include <algorithm>
#include <array>
#include <cerrno>
#include <optional>
#include <string_view>
#include <system_error>
#include <vector>

#include "iolib/common/MessageText.h"
#include "iolib/common/PortBase.h"
#include "iolib/parport/PortLookup.h"

namespace parport {

using iolib::hex;
using iolib::shown;

namespace {

// What the bytes look like on the way through ppdev (checked against
// linux/ppdev.h and linux/parport.h): PPWDATA, PPRDATA and PPRSTATUS carry the
// register's own byte, with no inversion in software; the PARPORT_STATUS_* and
// PARPORT_CONTROL_* bits are register bits, and the inverted lines (Strobe,
// AutoFd, SelectIn, Busy) are inverted by the port hardware alone, exactly as
// with direct I/O. Control is masked: the kernel writes only bits 0 to 3 (the
// four PARPORT_CONTROL_* lines), keeps bit 4 (interrupt enable) for itself,
// turns the data lines around on bit 5 (which belongs to PPDATADIR), and
// PPRCONTROL answers the driver's copy of those four bits rather than a
// hardware read. We pass only bits 0 to 3 so that a stray bit 5 cannot
// reverse the data lines behind the program's back. flashlock never sets
// Control bits 4 to 7, so nothing it writes is lost.
constexpr unsigned char kControlLines =
    PARPORT_CONTROL_STROBE | PARPORT_CONTROL_AUTOFD | PARPORT_CONTROL_INIT | PARPORT_CONTROL_SELECT;

// Data, Status and Control.
constexpr unsigned long kRegisterCount = 3;
constexpr std::uint8_t kUnconnected = 0xFF;

// Where direct port I/O keeps its lock file, the first folder that exists.
constexpr std::array<const char*, 3> kLockFolders{"/run/lock", "/var/lock", "/tmp"};

// The C library's text for an errno value ("No such file or directory").
std::string describe(int error) {
    return std::generic_category().message(error);
}

std::string badPortBase(std::string_view value) {
    return "flashlock: FLASHLOCK_PORT_BASE=" + shown(value) +
           " is not a port base; set it to the card's I/O base in hexadecimal (0xD010) or decimal (53264), from "
           "0x100 to 0xFFF8, or leave it unset for the port at 0x378";
}

std::string lookupFailure(std::uint16_t base, const std::vector<KernelPort>& ports, bool moved) {
    const std::string prefix = "flashlock: no parallel port at " + hex(base);
    if (ports.empty()) {
        return prefix + ": none is listed in " + kPortListDirectory +
               "; load the kernel modules parport_pc and ppdev (sudo modprobe parport_pc ppdev)";
    }
    std::string others;
    for (const KernelPort& port : ports) {
        others += (others.empty() ? "" : ", ") + ("parport" + std::to_string(port.number)) + " at " + hex(port.base);
    }
    return prefix + " (the kernel has " + others + "); " +
           (moved ? "set FLASHLOCK_PORT_BASE to one of those bases, or leave it unset"
                  : "set FLASHLOCK_PARPORT=/dev/parportN to use another port");
}

std::string openFailure(const std::string& device, int error) {
    switch (error) {
    case EACCES:
    case EPERM:
        return "flashlock: permission denied on " + shown(device) +
               "; add your user to group lp (sudo usermod -aG lp $USER, then log in again) or give the device a "
               "udev rule";
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return "flashlock: cannot open " + shown(device) + " (" + describe(error) +
               "); load the kernel module ppdev (sudo modprobe ppdev)";
    default:
        return "flashlock: cannot open " + shown(device) + " (" + describe(error) + ")";
    }
}

std::string claimFailure(const std::string& device, int error) {
    // ppdev answers a refused exclusive registration with ENXIO: another
    // user of the port is registered, a program through ppdev (a second
    // flashlock) or a driver (the printer driver lp, above all).
    if (error == ENXIO || error == EBUSY) {
        return "flashlock: cannot claim " + shown(device) +
               " for itself: another program holds the port (another flashlock, or the printer driver lp); close "
               "that program, or unload lp with sudo rmmod lp (and keep it from loading at boot)";
    }
    // Any file but a ppdev device refuses the port requests this way.
    if (error == ENOTTY || error == EINVAL) {
        return "flashlock: " + shown(device) +
               " is not a parallel port device; set FLASHLOCK_PARPORT=/dev/parportN, or leave it unset to use the "
               "port at 0x378";
    }
    return "flashlock: cannot claim " + shown(device) + " (" + describe(error) + ")";
}

}  // namespace

ParallelPort::~ParallelPort() {
    release();
}

void ParallelPort::write(std::uint16_t address, std::uint8_t value) noexcept {
    const Register target = registerAt(address);
    if (target != Register::Data && target != Register::Control) {
        return;  // Status is read-only on the hardware too.
    }
    if (access_ == Access::Direct) {
        os_.outb(value, realAddress(address));
        return;
    }
    unsigned char byte = value;
    if (target == Register::Data) {
        transfer(PPWDATA, "PPWDATA", byte);
    } else {
        byte &= kControlLines;
        transfer(PPWCONTROL, "PPWCONTROL", byte);
    }
}

std::uint8_t ParallelPort::read(std::uint16_t address) noexcept {
    const Register source = registerAt(address);
    if (source == Register::None) {
        return kUnconnected;
    }
    if (access_ == Access::Direct) {
        return os_.inb(realAddress(address));
    }
    unsigned char byte = 0;
    const bool done = source == Register::Data     ? transfer(PPRDATA, "PPRDATA", byte)
                      : source == Register::Status ? transfer(PPRSTATUS, "PPRSTATUS", byte)
                                                   : transfer(PPRCONTROL, "PPRCONTROL", byte);
    return done ? byte : kUnconnected;
}

ParallelPort::Register ParallelPort::registerAt(std::uint16_t address) {
    const auto base = static_cast<std::uint16_t>(address & ~3U);
    if (access_ == Access::NotOpened) {
        open(base);
    }
    if ((access_ != Access::Ppdev && access_ != Access::Direct) || base != base_) {
        return Register::None;
    }
    switch (address & 3U) {
    case 0:
        return Register::Data;
    case 1:
        return Register::Status;
    case 2:
        return Register::Control;
    default:
        return Register::None;
    }
}

std::uint16_t ParallelPort::realAddress(std::uint16_t address) const {
    return static_cast<std::uint16_t>(realBase_ + (address & 3U));
}

void ParallelPort::open(std::uint16_t base) {
    base_ = base;
    realBase_ = base;
    const char* method = os_.getEnv("FLASHLOCK_IO");
    const bool direct = method != nullptr && std::string_view(method) == "direct";
    if (!direct && method != nullptr && *method != '\0') {
        fail("flashlock: FLASHLOCK_IO=" + shown(method) + " is not understood; set it to direct or leave it unset");
        return;
    }
    const char* movedTo = os_.getEnv("FLASHLOCK_PORT_BASE");
    const bool moved = movedTo != nullptr && *movedTo != '\0';
    if (moved) {
        const std::optional<std::uint16_t> parsed = iolib::parsePortBase(movedTo);
        if (!parsed) {
            fail(badPortBase(movedTo));
            return;
        }
        if (base == iolib::kProgramsPort) {
            realBase_ = *parsed;
        }
    }
    if (direct) {
        openDirect();
        return;
    }
    const char* named = os_.getEnv("FLASHLOCK_PARPORT");
    if (named != nullptr && *named != '\0') {
        if (moved) {
            fail("flashlock: FLASHLOCK_PARPORT and FLASHLOCK_PORT_BASE both choose the port; set only one of them");
            return;
        }
        openDevice(named, true);
        return;
    }
    const std::vector<KernelPort> ports = listKernelPorts(os_);
    const auto found = std::ranges::find(ports, std::uint32_t{realBase_}, &KernelPort::base);
    if (found == ports.end()) {
        fail(lookupFailure(realBase_, ports, moved));
        return;
    }
    openDevice("/dev/parport" + std::to_string(found->number), false);
}

void ParallelPort::openDevice(const std::string& device, bool named) {
    device_ = device;
    const int fd = os_.open(device.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        fail(named && error == ENOENT ? missingDevice(device) : openFailure(device, error));
        return;
    }
    // Exclusive, so that no other driver (the printer driver above all) can
    // claim the port between our accesses and drive the board's lines, and no
    // second flashlock either. A kernel that cannot register us exclusively
    // still arbitrates a shared claim, so a refused PPEXCL is not fatal; a
    // refused PPCLAIM is.
    static_cast<void>(os_.ioctl(fd, PPEXCL, nullptr));
    // The register ioctls fail until the port is claimed, and the claim itself
    // restores the device's saved Control byte (0x0C for a fresh one, which
    // raises this board's access line on bit 2). So we claim on first use,
    // and the access that caused the claim follows at once.
    if (os_.ioctl(fd, PPCLAIM, nullptr) != 0) {
        const int error = errno;
        os_.close(fd);
        fail(claimFailure(device, error));
        return;
    }
    fd_ = fd;
    access_ = Access::Ppdev;
}

std::string ParallelPort::missingDevice(const std::string& device) const {
    const std::string prefix = "flashlock: no such device: " + shown(device) + " (named by FLASHLOCK_PARPORT); ";
    const std::vector<int> numbers = listPortDevices(os_);
    if (numbers.empty()) {
        return prefix +
               "there is no /dev/parportN here: load the kernel modules parport_pc and ppdev (sudo modprobe "
               "parport_pc ppdev)";
    }
    std::string devices;
    for (const int number : numbers) {
        devices +=
            (devices.empty() ? "" : ", ") + (std::string(kDeviceDirectory) + "/parport" + std::to_string(number));
    }
    return prefix + "the parallel port devices here are " + devices;
}

void ParallelPort::openDirect() {
    // Direct port I/O bypasses the kernel's arbitration of the port: a loaded
    // printer driver would fight us over the lines. That is why it is only
    // ever used when FLASHLOCK_IO=direct asks for it.
    if (os_.ioperm == nullptr) {
        fail("flashlock: FLASHLOCK_IO=direct needs an x86 processor; unset it to use the kernel's parport driver");
        return;
    }
    if (os_.ioperm(realBase_, kRegisterCount, 1) != 0) {
        const int error = errno;
        fail(error == EPERM ? "flashlock: direct port I/O at " + hex(realBase_) +
                                  " is not permitted; run as root or with CAP_SYS_RAWIO, or unset FLASHLOCK_IO to "
                                  "use the kernel's parport driver"
                            : "flashlock: direct port I/O at " + hex(realBase_) + " refused (" + describe(error) + ")");
        return;
    }
    // Only once the port is ours to drive, so that a user who may not drive
    // it leaves no lock file behind.
    if (const std::optional<std::string> problem = lockPort()) {
        os_.ioperm(realBase_, kRegisterCount, 0);
        fail(*problem);
        return;
    }
    access_ = Access::Direct;
}

std::optional<std::string> ParallelPort::lockPort() {
    // Named after the port's real address, so that any two flashlocks on one
    // port meet on the same file, however each was told where the port is.
    const std::string name = "flashlock-port-" + hex(realBase_) + ".lock";
    for (const char* folder : kLockFolders) {
        const std::string path = std::string(folder) + "/" + name;
        // Read-only is enough for flock; O_NOFOLLOW, for these folders are
        // writable by anyone.
        const int fd = os_.open(path.c_str(), O_RDONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0 && errno == ENOENT) {
            continue;  // no such folder on this system
        }
        if (fd < 0) {
            return "flashlock: cannot make the lock file " + path + " for the port at " + hex(realBase_) + " (" +
                   describe(errno) + "); direct port I/O needs it to keep a second flashlock off the port";
        }
        if (os_.flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int error = errno;
            os_.close(fd);
            if (error == EWOULDBLOCK) {
                return "flashlock: another flashlock is using the port at " + hex(realBase_) + " (it holds " + path +
                       "); wait until it has ended, then start again";
            }
            return "flashlock: cannot lock " + path + " (" + describe(error) + ")";
        }
        lockFd_ = fd;
        return std::nullopt;
    }
    return std::string("flashlock: no folder for the lock file of the port at ") + hex(realBase_) +
           ": none of /run/lock, /var/lock and /tmp exists";
}

bool ParallelPort::transfer(unsigned long request, const char* requestName, unsigned char& byte) {
    if (os_.ioctl(fd_, request, &byte) == 0) {
        return true;
    }
    // A claimed port does not refuse a register access; if it does, the port
    // has gone away under us, and guessing at the lines would be worse.
    const int error = errno;
    release();
    fail(std::string("flashlock: ") + requestName + " on " + shown(device_) + " failed (" + describe(error) +
         "); the port is no longer used");
    return false;
}

void ParallelPort::fail(const std::string& line) {
    access_ = Access::Failed;
    os_.printError(line.c_str());
}

void ParallelPort::release() noexcept {
    if (access_ == Access::Ppdev) {
        os_.ioctl(fd_, PPRELEASE, nullptr);
        os_.close(fd_);
        fd_ = -1;
    } else if (access_ == Access::Direct) {
        os_.ioperm(realBase_, kRegisterCount, 0);
        os_.close(lockFd_);
        lockFd_ = -1;
    }
    if (access_ != Access::Failed) {
        access_ = Access::NotOpened;
    }
}

}  // namespace parport
