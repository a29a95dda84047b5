#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>

#include "iolib/inpout/InpOut.h"

namespace inpout {

// flashlock's parallel port through InpOut: the port-I/O calls of the "io"
// module, forwarded to InpOut's DLL.
//
// It serves flashlock's port alone, the eight addresses from 0x378 on.
// FLASHLOCK_PORT_BASE moves them to another base (an add-in card's, such as
// 0xD010): 0x378 + n becomes base + n. Any other address, or a word or double
// word that would reach past the eight, is not served: a write does nothing
// and a read answers all ones, as an empty I/O address reads.
//
// The first call sets the bridge up: reads FLASHLOCK_PORT_BASE, loads InpOut
// through the DLL search (next to flashlock.exe first), checks that InpOut's
// driver is open, and takes the named mutex Global\flashlock-port-<base>,
// which keeps a second flashlock off the same port for as long as this one
// has the bridge loaded. If any of that fails, one line on standard error
// says what to do, and from then on the port reads as an unconnected one
// (0xFF) and nothing is ever written, so flashlock finds no board and ends.
//
// Not thread-safe: flashlock drives the port from one thread.
class Bridge {
public:
    Bridge() = default;
    ~Bridge();
    Bridge(const Bridge&) = delete;
    Bridge& operator=(const Bridge&) = delete;
    Bridge(Bridge&&) = delete;
    Bridge& operator=(Bridge&&) = delete;

    void write(std::uint16_t address, std::uint8_t value) noexcept;
    std::uint8_t read(std::uint16_t address) noexcept;
    void writeWord(std::uint16_t address, std::uint16_t value) noexcept;
    std::uint16_t readWord(std::uint16_t address) noexcept;
    void writeDoubleWord(std::uint16_t address, std::uint32_t value) noexcept;
    std::uint32_t readDoubleWord(std::uint16_t address) noexcept;
    // InpOut's own answer, once the bridge is usable; false otherwise.
    bool driverOpen() noexcept;

    // The process is ending: Windows releases InpOut and the mutex itself,
    // and the loader must not be called into any more.
    void abandon() noexcept { abandoned_ = true; }

private:
    enum class State { NotOpened, Usable, Failed };

    struct Calls {
        Out32Function out32;
        Inp32Function inp32;
        IsDriverOpenFunction isDriverOpen;
        WriteUshortFunction writeUshort;
        ReadUshortFunction readUshort;
        WriteUlongFunction writeUlong;
        ReadUlongFunction readUlong;
    };

    bool usable() noexcept;
    void open();
    // The problem, if InpOut cannot be loaded and used.
    std::optional<std::string> loadInpOut();
    std::optional<std::string> lockPort();
    // Where the `width` bytes from `address` on really are, if the bridge serves them.
    [[nodiscard]] std::optional<std::uint16_t> realAddress(std::uint16_t address, unsigned width) const;
    void release() noexcept;

    State state_ = State::NotOpened;
    std::uint16_t base_ = 0x378;
    HMODULE library_ = nullptr;
    HANDLE lock_ = nullptr;
    Calls calls_{};
    bool abandoned_ = false;
};

}  // namespace inpout
