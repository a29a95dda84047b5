#include "flash/ArrayReader.h"

#include <array>
#include <bit>
#include <utility>

#include "flash/Geometry.h"
#include "flash/StepOrder.h"

namespace {

// Byte addresses the self-test reads: query offsets 0 to 0x7F. An AMD-set
// part answers the query only with its upper address bits 0.
constexpr std::uint32_t queryEnd = 0x100;
// Steps of each kind the self-test makes, where the table offers them.
constexpr std::size_t checksPerKind = 2;

// One test of the register: a full shift to `start`, then a 0 clocked in
// (landing on 2 x start) or a 1 and a 0 (landing on 4 x start + 2).
struct StepCheck {
    std::uint32_t start;
    bool oneFirst;

    [[nodiscard]] std::uint32_t landing() const { return oneFirst ? 4 * start + 2 : 2 * start; }
};

// Steps whose landing byte differs from the byte the register left, so that
// a register that did not move cannot pass; after a 1 and a 0 it differs
// from the byte two 0s would reach too, so that the bit's value counts.
std::vector<StepCheck> chooseChecks(const std::array<std::uint8_t, queryEnd>& table) {
    std::vector<StepCheck> checks;
    for (const bool oneFirst : {false, true}) {
        std::size_t chosen = 0;
        for (std::uint32_t start = 0; chosen < checksPerKind; start += 2) {
            const StepCheck check{start, oneFirst};
            if (check.landing() >= queryEnd) {
                break;
            }
            const std::uint8_t landed = table.at(check.landing());
            const std::uint32_t twoZeros = 4 * start;
            if (landed != table.at(start) && (!oneFirst || landed != table.at(twoZeros))) {
                checks.push_back(check);
                ++chosen;
            }
        }
        if (chosen == 0) {
            return {};
        }
    }
    return checks;
}

// Hands on `length` bytes from `offset`, taking each from `byteAt`: the
// address-order loop of both ways of reading.
std::uint32_t handOn(std::uint32_t offset, std::uint32_t length, const ArrayReadCallbacks& callbacks,
                     const std::function<std::uint8_t(std::uint32_t)>& byteAt, bool reportProgress) {
    std::array<std::uint8_t, arrayChunkSize> chunk{};
    std::uint32_t done = 0;
    while (done < length) {
        std::size_t filled = 0;
        bool stopped = false;
        while (filled < chunk.size() && done + filled < length) {
            if (callbacks.stop && callbacks.stop()) {
                stopped = true;
                break;
            }
            chunk[filled] = byteAt(offset + done + static_cast<std::uint32_t>(filled));
            ++filled;
        }
        if (filled > 0 && callbacks.chunk) {
            callbacks.chunk(chunk.data(), filled);
        }
        done += static_cast<std::uint32_t>(filled);
        if (reportProgress && callbacks.progress) {
            callbacks.progress(done);
        }
        if (stopped) {
            break;
        }
    }
    return done;
}

}  // namespace

std::uint32_t readArray(CommandSet& commands, std::uint32_t offset, std::uint32_t length,
                        const ArrayReadCallbacks& callbacks) {
    commands.readArray();
    return handOn(
        offset, length, callbacks, [&commands](std::uint32_t address) { return commands.readByte(address); }, true);
}

std::function<std::uint8_t(std::uint32_t address)> arrayBytes(CommandSet& commands) {
    commands.readArray();
    return [&commands](std::uint32_t address) { return commands.readByte(address); };
}

bool stepsPay(std::uint32_t length, std::uint32_t chipSize) {
    // The one full shift that starts a stepping read is left out: a few dozen
    // accesses against millions.
    return std::uint64_t{chipSize} * readCost::steppedByte < std::uint64_t{length} * readCost::fullShiftByte;
}

bool addressRegisterSteps(CommandSet& commands) {
    FlashChip& bus = commands.bus();
    commands.enterQuery();
    std::array<std::uint8_t, queryEnd> table{};
    // Odd addresses are left unread: undocumented in an AMD-set part's query.
    for (std::uint32_t address = 0; address < queryEnd; address += 2) {
        table.at(address) = bus.readAt(address);
    }
    const std::vector<StepCheck> checks = chooseChecks(table);
    bool passed = !checks.empty();
    for (const StepCheck& check : checks) {
        if (!passed) {
            break;
        }
        passed = bus.readAt(check.start) == table.at(check.start);
        if (check.oneFirst) {
            bus.stepAddress(true);
        }
        bus.stepAddress(false);
        passed = passed && bus.readAgain() == table.at(check.landing());
    }
    commands.readArray();
    return passed;
}

ArrayReader::ArrayReader(CommandSet& commands, bool steppingAllowed, std::function<void()> fellBack)
    : commands(&commands), allowed(steppingAllowed), fellBack(std::move(fellBack)) {}

std::uint8_t ArrayReader::addressBits() const {
    const std::uint32_t size = commands->geometry().size;
    if (!std::has_single_bit(size) || size > boardAddressSpace || size < 2) {
        return 0;
    }
    return static_cast<std::uint8_t>(std::countr_zero(size));
}

bool ArrayReader::willStep(std::uint32_t length) {
    if (!allowed || commands->busy() || addressBits() == 0 || !stepsPay(length, commands->geometry().size)) {
        return false;
    }
    if (check == Check::NotRun) {
        commands->readArray();
        check = addressRegisterSteps(*commands) ? Check::Passed : Check::Failed;
        if (check == Check::Failed && fellBack) {
            fellBack();
        }
    }
    return check == Check::Passed;
}

std::optional<std::vector<std::uint8_t>> ArrayReader::readStepping(
    std::uint8_t bits, const std::function<void(std::uint32_t done)>& progress, const std::function<bool()>& stop) {
    const StepOrder order(bits);
    const std::uint32_t mask = order.count() - 1;
    std::vector<std::uint8_t> image(order.count());
    FlashChip& bus = commands->bus();
    commands->readArray();
    stepped = true;
    std::uint32_t address = StepOrder::first();
    for (std::uint32_t done = 0; done < order.count(); ++done) {
        if (stop && stop()) {
            if (progress) {
                progress(done);
            }
            return std::nullopt;
        }
        if (done == 0) {
            // The full shift clears the register's bits above the chip's too.
            image[address] = bus.readAt(address);
        } else {
            const bool bit = order.bitAfter(address);
            bus.stepAddress(bit);
            address = ((address << 1U) | (bit ? 1U : 0U)) & mask;
            image[address] = bus.readAgain();
        }
        if (progress && ((done + 1) % arrayChunkSize == 0 || done + 1 == order.count())) {
            progress(done + 1);
        }
    }
    return image;
}

std::optional<std::vector<std::uint8_t>> ArrayReader::readWhole(const std::function<void(std::uint32_t done)>& progress,
                                                                const std::function<bool()>& stop) {
    const std::uint32_t size = commands->geometry().size;
    if (willStep(size)) {
        return readStepping(addressBits(), progress, stop);
    }
    std::vector<std::uint8_t> image;
    image.reserve(size);
    ArrayReadCallbacks callbacks;
    callbacks.chunk = [&image](const std::uint8_t* bytes, std::size_t count) {
        image.insert(image.end(), bytes, bytes + count);
    };
    callbacks.progress = progress;
    callbacks.stop = stop;
    if (readArray(*commands, 0, size, callbacks) < size) {
        return std::nullopt;
    }
    return image;
}

ArrayReadResult ArrayReader::read(std::uint32_t offset, std::uint32_t length, const ArrayReadCallbacks& callbacks) {
    ArrayReadResult result;
    if (!willStep(length)) {
        result.total = length;
        result.read = readArray(*commands, offset, length, callbacks);
        result.handedOn = result.read;
        return result;
    }
    result.stepped = true;
    result.total = commands->geometry().size;
    const std::optional<std::vector<std::uint8_t>> image = readStepping(
        addressBits(),
        [&](std::uint32_t done) {
            result.read = done;
            if (callbacks.progress) {
                callbacks.progress(done);
            }
        },
        callbacks.cancel ? callbacks.cancel : callbacks.stop);
    if (!image) {
        return result;
    }
    const std::vector<std::uint8_t>& bytes = *image;
    result.handedOn = handOn(
        offset, length, callbacks, [&bytes](std::uint32_t address) { return bytes[address]; }, false);
    return result;
}
