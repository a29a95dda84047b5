#pragma once

#include <cstdint>
#include <functional>

#include "flash/CommandSet.h"

// Reads a range of the array in read-array mode, a byte per bus cycle, and
// hands it on in chunks. Every byte costs a full address shift and a serial
// read, so a whole chip takes minutes on real hardware: the caller is told of
// progress after each chunk and may stop the read after any byte.
struct ArrayReadCallbacks {
    // Bytes read so far, in order; called with each chunk and with the rest.
    std::function<void(const std::uint8_t* bytes, std::size_t count)> chunk;
    // Bytes done of the range, after each chunk.
    std::function<void(std::uint32_t done)> progress;
    // Asked before every byte; true ends the read there.
    std::function<bool()> stop;
};

// Bytes between progress reports: a progress line never needs more, and the
// caller's buffer stays small.
constexpr std::size_t arrayChunkSize = 4096;

// Expects the access line up; puts the chip in read-array mode first and
// leaves it there. Returns the number of bytes read: `length` unless stopped.
std::uint32_t readArray(CommandSet& commands, std::uint32_t offset, std::uint32_t length,
                        const ArrayReadCallbacks& callbacks);

// Puts the chip in read-array mode (access line up) and gives a byte reader
// over it, a bus cycle a byte, for whatever reads the array piece by piece.
std::function<std::uint8_t(std::uint32_t address)> arrayBytes(CommandSet& commands);
