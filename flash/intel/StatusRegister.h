#pragma once

#include <cstdint>
#include <string>

// The chip's status register, as the Intel/ST parts report the end of a
// lock, erase or program command.
namespace status {

constexpr std::uint8_t ready = 0x80;            // SR.7: the write state machine is idle
constexpr std::uint8_t clearLocksError = 0x20;  // SR.5: clear lock bits or block erase failed
constexpr std::uint8_t setLockError = 0x10;     // SR.4: set lock bit or program failed
constexpr std::uint8_t supplyLow = 0x08;        // SR.3: VPEN/VPP below its lockout level
constexpr std::uint8_t protectedDevice = 0x02;  // SR.1: J3 block locked; J5 master lock / RP#
constexpr std::uint8_t errorBits = clearLocksError | setLockError | supplyLow | protectedDevice;
constexpr std::uint8_t eraseError = clearLocksError;
constexpr std::uint8_t programError = setLockError;
// XSR.7, read after a write-to-buffer command: a buffer is free to load.
constexpr std::uint8_t bufferAvailable = 0x80;

[[nodiscard]] constexpr bool isReady(std::uint8_t value) {
    return (value & ready) != 0;
}
[[nodiscard]] constexpr bool reportsError(std::uint8_t value) {
    return (value & errorBits) != 0;
}

// What the chip was doing when it reported: SR.4 and SR.5 mean different
// failures for each.
enum class Operation { Lock, Erase, Program };

// Why the chip refused, in words a user can act on; empty when no error bit
// is set. `masterLocked` tells how SR.1 reads on a lock command: with the
// master lock bit set (J5 parts), it means that bit stopped it.
std::string describe(std::uint8_t value, bool masterLocked, Operation operation = Operation::Lock);

}  // namespace status
