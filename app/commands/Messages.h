#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "driver/ProgrammerDriver.h"
#include "flash/Geometry.h"
#include "flash/LockMap.h"

// What users read of blocks, addresses and sizes, in one place, so that every
// command words them alike.

// "0x3F0000": upper case, at least `digits` digits.
std::string hex(std::uint32_t value, int digits);

// The board's name as the dialogue prints it; nullptr when none answered.
const char* boardName(BoardKind board);

// Block numbers from 1 whose lock bit is (or is not) set.
std::vector<std::uint32_t> numbersOf(const LockState& state, bool locked = true);
// "block 2", "blocks 2, 7-9".
std::string blocksText(const std::vector<std::uint32_t>& numbers);
// "2, 7 (2 of 32 blocks)", "none of 32 blocks".
std::string lockedSummary(const LockState& state);
// The map, 32 blocks a line in groups of eight, and the locked summary; for
// a chip whose sectors are protected rather than locked, the protection map.
void printLockMap(std::ostream& out, const LockState& state, bool protection = false);

// A layout in address order, runs of one size folded: "16 KiB, 2 x 8 KiB,
// 32 KiB, 31 x 64 KiB".
std::string layoutText(const std::vector<Block>& blocks);

// Where a range of the array starts and how long it is, checked against the
// chip; nullopt with the reason in `problem` when it does not fit, in
// addresses: "the range 0x020000 to 0x41FFFF runs past the chip's end at
// 0x3FFFFF". The offset's text, where given, is the value as the user wrote
// it, quoted beside it; the length's is not needed since the range shows it.
std::optional<std::uint32_t> rangeLength(std::uint32_t size, std::uint32_t offset,
                                         const std::optional<std::uint32_t>& length, std::string& problem,
                                         const std::string& offsetText = {}, const std::string& lengthText = {});

// "1 byte", "4096 bytes".
std::string byteCount(std::uint64_t count);

// Why a job did not start: its journal, written before the chip is touched,
// could not be.
std::string journalNotWritten(const std::string& problem);

// A deadline as a person reads it: "654 us", "2.0 ms", "16.4 s".
std::string deadlineText(std::uint32_t microseconds);

// "3.4 s, 1.2 MiB/s".
std::string rateText(std::uint32_t bytes, double seconds);
