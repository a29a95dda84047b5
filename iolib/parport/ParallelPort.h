#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "iolib/parport/OsCalls.h"

namespace parport {

// The one parallel port that a process drives through this module: byte
// writes and reads at its three register addresses, as the port-I/O libraries
// of Windows offer them.
//
// The port is chosen and opened by the first access: the address's port base
// (its low two bits cleared; every PC parallel port sits on a 4-aligned base,
// and 0x378 + 0, 1, 2 are Data, Status, Control). By default the kernel's
// parport driver serves it through ppdev: the port listed at that base, or the
// device named by FLASHLOCK_PARPORT. FLASHLOCK_IO=direct asks for direct port
// I/O instead. FLASHLOCK_PORT_BASE moves the program's port at 0x378 to
// another base (an add-in card's): direct I/O goes there, and through ppdev
// it chooses the port the kernel lists at that base. Addresses outside the
// chosen port are not served: writes do nothing and reads answer 0xFF, as an
// empty I/O address reads.
//
// One flashlock per port: through ppdev the exclusive claim refuses a second
// program; direct I/O, which the kernel does not arbitrate, holds an flock on
// a file named after the port (/run/lock/flashlock-port-0x378.lock) for as
// long as it drives the port.
//
// When the port cannot be reached, the access that found out prints one line
// saying why and what to do; from then on writes do nothing and reads answer
// 0xFF, as an unconnected port reads, so the program finds no board and ends.
//
// Not thread-safe: the program drives the port from one thread.
class ParallelPort {
public:
    explicit ParallelPort(const OsCalls& os) noexcept : os_(os) {}
    ~ParallelPort();
    ParallelPort(const ParallelPort&) = delete;
    ParallelPort& operator=(const ParallelPort&) = delete;
    ParallelPort(ParallelPort&&) = delete;
    ParallelPort& operator=(ParallelPort&&) = delete;

    void write(std::uint16_t address, std::uint8_t value) noexcept;
    std::uint8_t read(std::uint16_t address) noexcept;

    // False once the port has turned out to be unreachable.
    [[nodiscard]] bool reachable() const noexcept { return access_ != Access::Failed; }

private:
    enum class Access { NotOpened, Ppdev, Direct, Failed };
    enum class Register { Data, Status, Control, None };

    Register registerAt(std::uint16_t address);
    [[nodiscard]] std::uint16_t realAddress(std::uint16_t address) const;
    void open(std::uint16_t base);
    // `named`: chosen by FLASHLOCK_PARPORT rather than found in the kernel's list.
    void openDevice(const std::string& device, bool named);
    [[nodiscard]] std::string missingDevice(const std::string& device) const;
    void openDirect();
    // The problem, if the port's lock file cannot be held.
    std::optional<std::string> lockPort();
    bool transfer(unsigned long request, const char* requestName, unsigned char& byte);
    void fail(const std::string& line);
    void release() noexcept;

    OsCalls os_;
    Access access_ = Access::NotOpened;
    std::uint16_t base_ = 0;      // the port as the program addresses it
    std::uint16_t realBase_ = 0;  // where it is: base_, or FLASHLOCK_PORT_BASE for 0x378
    int fd_ = -1;
    int lockFd_ = -1;
    std::string device_;
};

}  // namespace parport
