#include "flash/WritePlan.h"

#include <algorithm>
#include <functional>
#include <numeric>
#include <optional>

namespace {

constexpr std::uint8_t erased = 0xFF;
// Progress reports while reading: often enough for a line redrawn ten times a
// second, rarely enough to cost nothing beside a bus cycle.
constexpr std::uint32_t progressStep = 256;

// The wanted bytes of one block: runs at [from, to), each inside the block,
// in address order and apart.
struct Piece {
    std::uint32_t from;
    std::uint32_t to;
    const std::uint8_t* wanted;
};

class Planner {
public:
    Planner(const PlanCallbacks& callbacks, std::uint32_t bufferSize, WritePlan& plan, std::uint64_t expected)
        : callbacks(&callbacks), bufferSize(std::max<std::uint32_t>(bufferSize, 1)), plan(&plan), expected(expected) {}

    // Plans one block for its wanted pieces. False when stopped.
    bool block(const Block& block, std::size_t index, const std::vector<Piece>& pieces) {
        BlockPlan planned;
        planned.index = index;
        planned.base = block.base;
        planned.size = block.size;
        std::vector<bool> needed(block.size, false);
        bool erase = false;
        const std::uint64_t readBefore = plan->bytesRead;
        for (const Piece& piece : pieces) {
            for (std::uint32_t address = piece.from; address < piece.to && !erase; ++address) {
                const std::optional<std::uint8_t> old = read(address);
                if (!old) {
                    return false;
                }
                // NOLINTNEXTLINE(cppcoreguidelines-pro-bounds-pointer-arithmetic)
                const std::uint8_t value = piece.wanted[address - piece.from];
                if (*old != value) {
                    // Programming only clears bits; a bit that must rise needs an erase.
                    erase = (*old & value) != value;
                    needed[address - block.base] = true;
                }
            }
        }
        if (!erase && std::none_of(needed.begin(), needed.end(), [](bool need) { return need; })) {
            plan->blocks.push_back(std::move(planned));
            return true;
        }
        const std::uint64_t readHere = plan->bytesRead - readBefore;
        planned.content.assign(block.size, erased);
        // Which bytes the image gives.
        std::vector<bool> given(block.size, false);
        for (const Piece& piece : pieces) {
            std::fill(given.begin() + (piece.from - block.base), given.begin() + (piece.to - block.base), true);
        }
        if (erase) {
            planned.action = BlockAction::EraseAndProgram;
            // The image's bytes left unread once the erase was certain are
            // never read; every other byte of the block is.
            const auto givenCount = static_cast<std::uint64_t>(std::count(given.begin(), given.end(), true));
            expected = expected - (givenCount - readHere) + (block.size - givenCount);
            // The erase takes the other bytes too: they are read now so that
            // they can be written back.
            for (std::uint32_t address = block.base; address < block.base + block.size; ++address) {
                if (given[address - block.base]) {
                    continue;
                }
                const std::optional<std::uint8_t> old = read(address);
                if (!old) {
                    return false;
                }
                planned.content[address - block.base] = *old;
                if (planned.preserved.empty() ||
                    planned.preserved.back().address + planned.preserved.back().length != address) {
                    planned.preserved.push_back({address, 0});
                }
                ++planned.preserved.back().length;
            }
        } else {
            planned.action = BlockAction::Program;
        }
        for (const Piece& piece : pieces) {
            // NOLINTNEXTLINE(cppcoreguidelines-pro-bounds-pointer-arithmetic)
            std::copy(piece.wanted, piece.wanted + (piece.to - piece.from),
                      planned.content.begin() + (piece.from - block.base));
        }
        if (erase) {
            std::transform(planned.content.begin(), planned.content.end(), needed.begin(),
                           [](std::uint8_t value) { return value != erased; });
        }
        spans(planned, needed, given);
        plan->blocks.push_back(std::move(planned));
        return true;
    }

private:
    std::optional<std::uint8_t> read(std::uint32_t address) {
        if (callbacks->stop && callbacks->stop()) {
            plan->complete = false;
            return std::nullopt;
        }
        if (++plan->bytesRead % progressStep == 0) {
            report();
        }
        return callbacks->read(address);
    }

public:
    void report() const {
        if (callbacks->progress) {
            callbacks->progress(plan->bytesRead, expected);
        }
    }

private:
    // One span per buffer window, from its first byte to program to its
    // last; windows with nothing to program are skipped. Spans holding a
    // byte the image does not give come first.
    void spans(BlockPlan& planned, const std::vector<bool>& needed, const std::vector<bool>& given) const {
        const std::uint32_t end = planned.base + planned.size;
        for (std::uint32_t window = planned.base - planned.base % bufferSize; window < end; window += bufferSize) {
            const std::uint32_t low = std::max(window, planned.base);
            const std::uint32_t high = std::min(window + bufferSize, end);
            std::uint32_t first = high;
            std::uint32_t last = low;
            for (std::uint32_t address = low; address < high; ++address) {
                if (needed[address - planned.base]) {
                    first = std::min(first, address);
                    last = address;
                }
            }
            if (first < high) {
                planned.spans.push_back({first, last - first + 1});
            }
        }
        const auto preserved = std::stable_partition(
            planned.spans.begin(), planned.spans.end(), [&planned, &given](const ProgramSpan& span) {
                return !std::all_of(given.begin() + (span.address - planned.base),
                                    given.begin() + (span.address - planned.base + span.length),
                                    [](bool byte) { return byte; });
            });
        planned.preservedSpans = static_cast<std::size_t>(preserved - planned.spans.begin());
    }

    const PlanCallbacks* callbacks;
    std::uint32_t bufferSize;
    WritePlan* plan;
    std::uint64_t expected;
};

}  // namespace

std::uint32_t BlockPlan::programBytes() const {
    return std::accumulate(spans.begin(), spans.end(), std::uint32_t{0},
                           [](std::uint32_t sum, const ProgramSpan& span) { return sum + span.length; });
}

std::uint32_t BlockPlan::verifyBytes() const {
    return erases() ? size : programBytes();
}

bool WritePlan::nothingToDo() const {
    return std::all_of(blocks.begin(), blocks.end(),
                       [](const BlockPlan& block) { return block.action == BlockAction::Keep; });
}

std::size_t WritePlan::blocksToErase() const {
    return static_cast<std::size_t>(
        std::count_if(blocks.begin(), blocks.end(), [](const BlockPlan& block) { return block.erases(); }));
}

std::uint64_t WritePlan::programBytes() const {
    return std::accumulate(blocks.begin(), blocks.end(), std::uint64_t{0},
                           [](std::uint64_t sum, const BlockPlan& block) { return sum + block.programBytes(); });
}

std::uint64_t WritePlan::verifyBytes() const {
    return std::accumulate(blocks.begin(), blocks.end(), std::uint64_t{0},
                           [](std::uint64_t sum, const BlockPlan& block) { return sum + block.verifyBytes(); });
}

WritePlan planWrite(const std::vector<Block>& blocks, std::uint32_t start, const std::vector<std::uint8_t>& wanted,
                    std::uint32_t bufferSize, const PlanCallbacks& callbacks) {
    return planWrite(blocks, std::vector<WantedRange>{{start, wanted}}, bufferSize, callbacks);
}

namespace {

// Calls `each` with every block the ranges touch and its pieces, in address
// order, until it returns false.
void eachBlock(const std::vector<Block>& blocks, const std::vector<WantedRange>& ranges,
               const std::function<bool(const Block&, std::size_t, const std::vector<Piece>&)>& each) {
    auto range = ranges.begin();
    for (std::size_t index = 0; index < blocks.size(); ++index) {
        const Block& block = blocks[index];
        const std::uint64_t blockEnd = std::uint64_t{block.base} + block.size;
        std::vector<Piece> pieces;
        // Ranges are in address order: those that end before this block are done with.
        while (range != ranges.end() && std::uint64_t{range->address} + range->bytes.size() <= block.base) {
            ++range;
        }
        for (auto piece = range; piece != ranges.end() && piece->address < blockEnd; ++piece) {
            const std::uint64_t end = std::uint64_t{piece->address} + piece->bytes.size();
            const auto from = static_cast<std::uint32_t>(std::max<std::uint64_t>(piece->address, block.base));
            const auto to = static_cast<std::uint32_t>(std::min(end, blockEnd));
            if (from < to) {
                // NOLINTNEXTLINE(cppcoreguidelines-pro-bounds-pointer-arithmetic)
                pieces.push_back({from, to, piece->bytes.data() + (from - piece->address)});
            }
        }
        if (!pieces.empty() && !each(block, index, pieces)) {
            return;
        }
    }
}

}  // namespace

WritePlan planWrite(const std::vector<Block>& blocks, const std::vector<WantedRange>& ranges, std::uint32_t bufferSize,
                    const PlanCallbacks& callbacks) {
    WritePlan plan;
    const std::uint64_t total =
        std::accumulate(ranges.begin(), ranges.end(), std::uint64_t{0},
                        [](std::uint64_t sum, const WantedRange& range) { return sum + range.bytes.size(); });
    Planner planner(callbacks, bufferSize, plan, total);
    eachBlock(blocks, ranges, [&planner](const Block& block, std::size_t index, const std::vector<Piece>& pieces) {
        return planner.block(block, index, pieces);
    });
    planner.report();
    return plan;
}

std::uint64_t estimatePlanReads(const std::vector<Block>& blocks, const std::vector<WantedRange>& ranges,
                                const std::function<std::uint8_t(std::uint32_t address)>& read, std::uint32_t sample) {
    std::uint64_t estimate = 0;
    eachBlock(blocks, ranges, [&](const Block& block, std::size_t /*index*/, const std::vector<Piece>& pieces) {
        std::uint64_t given = 0;
        bool erase = false;
        std::uint32_t taken = 0;
        for (const Piece& piece : pieces) {
            given += piece.to - piece.from;
            for (std::uint32_t address = piece.from; address < piece.to && taken < sample && !erase;
                 ++address, ++taken) {
                // NOLINTNEXTLINE(cppcoreguidelines-pro-bounds-pointer-arithmetic)
                const std::uint8_t value = piece.wanted[address - piece.from];
                erase = (read(address) & value) != value;
            }
        }
        // A block that needs an erase reads its other bytes; one that does
        // not, all of the image's.
        estimate += erase ? block.size - given : given;
        return true;
    });
    return estimate;
}

WritePlan planErase(const std::vector<Block>& blocks, const std::vector<bool>& named, const PlanCallbacks& callbacks) {
    WritePlan plan;
    std::uint64_t total = 0;
    for (std::size_t index = 0; index < blocks.size() && index < named.size(); ++index) {
        total += named[index] ? blocks[index].size : 0;
    }
    Planner planner(callbacks, 1, plan, total);
    std::vector<std::uint8_t> blank;
    for (std::size_t index = 0; index < blocks.size() && index < named.size(); ++index) {
        if (!named[index]) {
            continue;
        }
        const Block& block = blocks[index];
        blank.resize(std::max<std::size_t>(blank.size(), block.size), erased);
        if (!planner.block(block, index, {{block.base, block.base + block.size, blank.data()}})) {
            break;
        }
    }
    planner.report();
    return plan;
}
