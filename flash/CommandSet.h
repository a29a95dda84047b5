#pragma once

#include <cstdint>

// The Intel/ST command bytes and fixed addresses that every sequence of the
// chip layer is built from, in one place.

inline constexpr std::uint8_t cmdReset = 0xF0;  // other makers' reset
inline constexpr std::uint8_t cmdReadArray = 0xFF;
inline constexpr std::uint8_t cmdUnlock1 = 0xAA;  // other makers' unlock cycles
inline constexpr std::uint8_t cmdUnlock2 = 0x55;
inline constexpr std::uint8_t cmdReadIdentifier = 0x90;
inline constexpr std::uint8_t cmdCfiQuery = 0x98;
inline constexpr std::uint8_t cmdClearStatus = 0x50;
inline constexpr std::uint8_t cmdLockSetup = 0x60;
inline constexpr std::uint8_t cmdSetLockConfirm = 0x01;
// Confirms a clear of lock bits, a block erase and a buffer program alike.
inline constexpr std::uint8_t cmdConfirm = 0xD0;
inline constexpr std::uint8_t cmdBlockErase = 0x20;
inline constexpr std::uint8_t cmdByteProgram = 0x40;
inline constexpr std::uint8_t cmdWriteToBuffer = 0xE8;

// Where the CFI query command is written.
inline constexpr std::uint32_t cfiQueryAddress = 0x55;
// In identifier and query mode, word 2 of a block (byte 4 in byte mode)
// reads its lock bit.
inline constexpr std::uint32_t lockStatusOffset = 4;
