#include "flash/WritePlan.h"

#include <algorithm>
#include <numeric>
#include <optional>

namespace {

constexpr std::uint8_t erased = 0xFF;
// Progress reports while reading: often enough for a line redrawn ten times a
// second, rarely enough to cost nothing beside a bus cycle.
constexpr std::uint32_t progressStep = 256;

class Planner {
public:
    Planner(const PlanCallbacks& callbacks, std::uint32_t bufferSize, WritePlan& plan)
        : callbacks(&callbacks), bufferSize(std::max<std::uint32_t>(bufferSize, 1)), plan(&plan) {}

    // Plans one block for the wanted bytes at [from, to), which lie inside it.
    // False when stopped.
    bool block(const Block& block, std::size_t index, std::uint32_t from, std::uint32_t to,
               const std::uint8_t* wanted) {
        BlockPlan planned;
        planned.index = index;
        planned.base = block.base;
        planned.size = block.size;
        std::vector<bool> needed(block.size, false);
        bool erase = false;
        for (std::uint32_t address = from; address < to && !erase; ++address) {
            const std::optional<std::uint8_t> old = read(address);
            if (!old) {
                return false;
            }
            // NOLINTNEXTLINE(cppcoreguidelines-pro-bounds-pointer-arithmetic)
            const std::uint8_t value = wanted[address - from];
            if (*old != value) {
                // Programming only clears bits; a bit that must rise needs an erase.
                erase = (*old & value) != value;
                needed[address - block.base] = true;
            }
            if ((address - from) % progressStep == 0) {
                report(decided + (address - from));
            }
        }
        decided += to - from;
        report(decided);
        if (!erase && std::none_of(needed.begin(), needed.end(), [](bool need) { return need; })) {
            plan->blocks.push_back(std::move(planned));
            return true;
        }
        planned.content.assign(block.size, erased);
        if (erase) {
            planned.action = BlockAction::EraseAndProgram;
            // The erase takes the bytes outside the range too: they are
            // read now so that they can be written back.
            for (std::uint32_t address = block.base; address < block.base + block.size; ++address) {
                if (address == from) {
                    address = to - 1;
                    continue;
                }
                const std::optional<std::uint8_t> old = read(address);
                if (!old) {
                    return false;
                }
                planned.content[address - block.base] = *old;
            }
        } else {
            planned.action = BlockAction::Program;
        }
        std::copy(wanted, wanted + (to - from), planned.content.begin() + (from - block.base));  // NOLINT
        if (erase) {
            std::transform(planned.content.begin(), planned.content.end(), needed.begin(),
                           [](std::uint8_t value) { return value != erased; });
        }
        spans(planned, needed, from, to);
        plan->blocks.push_back(std::move(planned));
        return true;
    }

private:
    std::optional<std::uint8_t> read(std::uint32_t address) {
        if (callbacks->stop && callbacks->stop()) {
            plan->complete = false;
            return std::nullopt;
        }
        ++plan->bytesRead;
        return callbacks->read(address);
    }

    void report(std::uint64_t value) const {
        if (callbacks->progress) {
            callbacks->progress(value);
        }
    }

    // One span per buffer window, from its first byte to program to its
    // last; windows with nothing to program are skipped.
    void spans(BlockPlan& planned, const std::vector<bool>& needed, std::uint32_t from, std::uint32_t to) const {
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
            planned.spans.begin(), planned.spans.end(),
            [from, to](const ProgramSpan& span) { return span.address < from || span.address + span.length > to; });
        planned.preservedSpans = static_cast<std::size_t>(preserved - planned.spans.begin());
    }

    const PlanCallbacks* callbacks;
    std::uint32_t bufferSize;
    WritePlan* plan;
    std::uint64_t decided = 0;
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
    WritePlan plan;
    Planner planner(callbacks, bufferSize, plan);
    const std::uint64_t end = std::uint64_t{start} + wanted.size();
    for (std::size_t index = 0; index < blocks.size(); ++index) {
        const Block& block = blocks[index];
        const std::uint64_t blockEnd = std::uint64_t{block.base} + block.size;
        if (blockEnd <= start || block.base >= end) {
            continue;
        }
        const auto from = static_cast<std::uint32_t>(std::max<std::uint64_t>(start, block.base));
        const auto to = static_cast<std::uint32_t>(std::min(end, blockEnd));
        if (!planner.block(block, index, from, to, wanted.data() + (from - start))) {  // NOLINT
            break;
        }
    }
    return plan;
}

WritePlan planErase(const std::vector<Block>& blocks, const std::vector<bool>& named, const PlanCallbacks& callbacks) {
    WritePlan plan;
    Planner planner(callbacks, 1, plan);
    std::vector<std::uint8_t> blank;
    for (std::size_t index = 0; index < blocks.size() && index < named.size(); ++index) {
        if (!named[index]) {
            continue;
        }
        const Block& block = blocks[index];
        blank.resize(std::max<std::size_t>(blank.size(), block.size), erased);
        if (!planner.block(block, index, block.base, block.base + block.size, blank.data())) {
            break;
        }
    }
    return plan;
}
