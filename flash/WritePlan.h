#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "flash/Geometry.h"

// What one block needs so that it holds the wanted bytes.
enum class BlockAction {
    // It already does: nothing is written to it.
    Keep,
    // The wanted bytes only clear bits of what it holds (old AND new == new):
    // programmed without an erase.
    Program,
    // Erased, then every byte that is not 0xFF programmed, its bytes outside
    // the range included, which were read first so they survive.
    EraseAndProgram,
};

// Bytes written by one write-to-buffer command (or, without a buffer, one
// byte): inside one buffer-aligned window, so never across a block.
struct ProgramSpan {
    std::uint32_t address;
    std::uint32_t length;
};

struct BlockPlan {
    std::size_t index = 0;  // in Geometry::blocks
    std::uint32_t base = 0;
    std::uint32_t size = 0;
    BlockAction action = BlockAction::Keep;
    // What the block must hold, from its base; only the bytes of the spans
    // (Program) or all of them (EraseAndProgram) are known. Empty for Keep.
    std::vector<std::uint8_t> content;
    // In the order they are written. Spans that hold bytes from outside the
    // range come first: once the block is erased, those exist nowhere but
    // here, so they are written back before anything may stop the job.
    std::vector<ProgramSpan> spans;
    std::size_t preservedSpans = 0;
    // EraseAndProgram: the runs of bytes the image does not give, which the
    // erase destroys and the plan writes back as they were (0xFF ones too,
    // so that reading back checks them all).
    std::vector<ProgramSpan> preserved;

    [[nodiscard]] bool erases() const { return action == BlockAction::EraseAndProgram; }
    [[nodiscard]] std::uint32_t programBytes() const;
    // What reading back must compare: the whole block after an erase, else the spans.
    [[nodiscard]] std::uint32_t verifyBytes() const;
};

// A plan is a plain value: made by reading the chip no more than it needs,
// printed, then carried out. Blocks are in address order, each block the
// range touches once, kept ones too.
struct WritePlan {
    std::vector<BlockPlan> blocks;
    // Bytes read from the chip to make it.
    std::uint64_t bytesRead = 0;
    // False when the stop check ended the reading: such a plan is not to be carried out.
    bool complete = true;

    [[nodiscard]] bool nothingToDo() const;
    [[nodiscard]] std::size_t blocksToErase() const;
    [[nodiscard]] std::uint64_t programBytes() const;
    [[nodiscard]] std::uint64_t verifyBytes() const;
};

// Bytes the image gives from `address` on; what lies between two ranges
// is left as the chip holds it.
struct WantedRange {
    std::uint32_t address = 0;
    std::vector<std::uint8_t> bytes;
};

struct PlanCallbacks {
    // The byte the chip holds at an address, in read-array mode.
    std::function<std::uint8_t(std::uint32_t address)> read;
    // Bytes read so far, and how many the plan will have read in all as far
    // as it knows: the image's bytes, and the other bytes of each block found
    // to need an erase.
    std::function<void(std::uint64_t read, std::uint64_t expected)> progress;
    // Asked before every read; true ends the planning there, incomplete.
    std::function<bool()> stop;
};

// The plan that makes the chip hold `wanted` from `start` on and keeps every
// other byte. `bufferSize` is the chip's write buffer (0 or 1: byte by byte);
// buffers are aligned to it. The range must lie inside the chip.
WritePlan planWrite(const std::vector<Block>& blocks, std::uint32_t start, const std::vector<std::uint8_t>& wanted,
                    std::uint32_t bufferSize, const PlanCallbacks& callbacks);
// The same for an image of several ranges, in address order and apart.
WritePlan planWrite(const std::vector<Block>& blocks, const std::vector<WantedRange>& ranges, std::uint32_t bufferSize,
                    const PlanCallbacks& callbacks);

// About how many bytes planning `ranges` will read, from `sample` bytes of
// each block's share of them: a block whose sample already needs an erase
// reads its other bytes, any other all of its image bytes. Cheap against the
// plan itself, it tells whether reading the whole chip first pays.
std::uint64_t estimatePlanReads(const std::vector<Block>& blocks, const std::vector<WantedRange>& ranges,
                                const std::function<std::uint8_t(std::uint32_t address)>& read, std::uint32_t sample);

// The plan that leaves the named blocks erased (all 0xFF); blocks that
// already are stay untouched.
WritePlan planErase(const std::vector<Block>& blocks, const std::vector<bool>& named, const PlanCallbacks& callbacks);
