#include "iolib/sim/Chip.h"

#include <algorithm>
#include <utility>

#include "iolib/sim/AmdChip.h"
#include "iolib/sim/IntelChip.h"

namespace flashsim {

namespace {

constexpr std::uint8_t erasedByte = 0xFF;

std::string hexDigits(std::uint32_t value, int digits) {
    constexpr const char* symbols = "0123456789ABCDEF";
    std::string text = "0x";
    for (int digit = digits; digit-- > 0;) {
        text += symbols[(value >> (4U * static_cast<unsigned>(digit))) & 0xFU];
    }
    return text;
}

}  // namespace

std::string hexAddress(std::uint32_t address) {
    return hexDigits(address, 6);
}

std::string hexByte(std::uint8_t value) {
    return hexDigits(value, 2);
}

const char* modeName(ChipMode mode) {
    switch (mode) {
    case ChipMode::ReadArray:
        return "read array";
    case ChipMode::ReadIdentifier:
        return "read identifier";
    case ChipMode::Query:
        return "CFI query";
    case ChipMode::ReadStatus:
        return "read status";
    case ChipMode::LockSetup:
        return "lock setup";
    case ChipMode::EraseSetup:
        return "erase setup";
    case ChipMode::ProgramSetup:
        return "program setup";
    case ChipMode::BufferCount:
        return "write to buffer, extended status";
    case ChipMode::BufferData:
        return "write to buffer";
    case ChipMode::UnlockCycle1:
        return "unlock cycle 1";
    case ChipMode::UnlockCycle2:
        return "unlock cycle 2";
    case ChipMode::Autoselect:
        return "autoselect";
    case ChipMode::EraseUnlockCycle1:
        return "erase setup, unlock cycle 1";
    case ChipMode::EraseUnlockCycle2:
        return "erase setup, unlock cycle 2";
    case ChipMode::BufferLoadCount:
        return "write to buffer, count";
    case ChipMode::UnlockBypass:
        return "unlock bypass";
    case ChipMode::BypassEraseSetup:
        return "unlock bypass, erase setup";
    case ChipMode::BypassExit:
        return "unlock bypass, exit";
    case ChipMode::Programming:
        return "programming, status";
    case ChipMode::Erasing:
        return "erasing, status";
    case ChipMode::Exceeded:
        return "time limit exceeded (DQ5), status";
    case ChipMode::BufferAbort:
        return "write to buffer aborted (DQ1), status";
    }
    return "?";
}

const char* modeTag(ChipMode mode) {
    switch (mode) {
    case ChipMode::ReadArray:
        return "array";
    case ChipMode::ReadIdentifier:
        return "ident";
    case ChipMode::Query:
        return "query";
    case ChipMode::ReadStatus:
        return "status";
    case ChipMode::LockSetup:
        return "setup";
    case ChipMode::EraseSetup:
        return "erase";
    case ChipMode::ProgramSetup:
        return "program";
    case ChipMode::BufferCount:
        return "xstatus";
    case ChipMode::BufferData:
        return "buffer";
    case ChipMode::UnlockCycle1:
        return "unlock1";
    case ChipMode::UnlockCycle2:
        return "unlock2";
    case ChipMode::Autoselect:
        return "autosel";
    case ChipMode::EraseUnlockCycle1:
        return "erase1";
    case ChipMode::EraseUnlockCycle2:
        return "erase2";
    case ChipMode::BufferLoadCount:
        return "bufcount";
    case ChipMode::UnlockBypass:
        return "bypass";
    case ChipMode::BypassEraseSetup:
        return "bypass80";
    case ChipMode::BypassExit:
        return "bypass90";
    case ChipMode::Programming:
        return "pgm busy";
    case ChipMode::Erasing:
        return "ers busy";
    case ChipMode::Exceeded:
        return "dq5 fail";
    case ChipMode::BufferAbort:
        return "abort";
    }
    return "?";
}

Chip::Chip(ChipModel model, ChipSettings settings)
    : part(std::move(model)),
      settings(std::move(settings)),
      locks(part.blockCount, false),
      content(part.present ? part.size : 0, erasedByte),
      givenRows(content.size() / rowLength, false) {}

std::unique_ptr<Chip> makeChip(ChipModel model, ChipSettings settings) {
    if (model.commandSet == CommandSet::Amd) {
        return std::make_unique<AmdChip>(std::move(model), std::move(settings));
    }
    return std::make_unique<IntelChip>(std::move(model), std::move(settings));
}

bool Chip::busy() const {
    return busyReadsLeft != 0 || (readyAt && Clock::now() < *readyAt);
}

void Chip::startBusy(std::chrono::microseconds duration) {
    readyAt.reset();
    busyReadsLeft = 0;
    if (settings.busyReads) {
        busyReadsLeft = std::max(*settings.busyReads, -1);
    } else if (duration.count() > 0) {
        readyAt = Clock::now() + duration;
    }
}

void Chip::endBusy() {
    readyAt.reset();
    busyReadsLeft = 0;
}

void Chip::countBusyRead() {
    if (busyReadsLeft > 0) {
        --busyReadsLeft;
    }
}

std::chrono::microseconds Chip::typicalTime(std::size_t queryOffset, std::chrono::microseconds unit) const {
    if (settings.programEraseTime) {
        return *settings.programEraseTime;
    }
    return unit * (std::int64_t{1} << (part.queryAt(queryOffset) & 0x1FU));
}

std::uint32_t Chip::bufferSize() const {
    constexpr std::size_t queryBufferProgramTime = 0x20;
    constexpr std::size_t queryBufferSize = 0x2A;
    if (part.queryAt(queryBufferProgramTime) == 0 || part.queryAt(queryBufferSize) == 0) {
        return 0;
    }
    return 1U << (part.queryAt(queryBufferSize) & 0x1FU);
}

bool Chip::stuckCell(std::uint32_t address) const {
    return settings.weakBlock && part.blockOf(address) == *settings.weakBlock &&
           (address - part.blockBase(*settings.weakBlock)) % weakCellSpacing == 0;
}

void Chip::store(std::uint32_t address, std::uint8_t value, CommandOutcome& outcome) {
    if (content[address] == value) {
        return;
    }
    content[address] = value;
    if (outcome.changedCount == 0) {
        outcome.changedFirst = address;
    }
    // Changes come in address order, so the range only ever grows upwards.
    outcome.changedCount = address - outcome.changedFirst + 1;
}

bool Chip::program(std::uint32_t address, std::uint8_t value, CommandOutcome& outcome) {
    const std::uint8_t old = content[address];
    store(address, static_cast<std::uint8_t>(old & value), outcome);
    return (static_cast<unsigned>(value) & ~static_cast<unsigned>(old) & 0xFFU) == 0 || stuckCell(address);
}

void Chip::eraseBlock(std::uint32_t block, CommandOutcome& outcome) {
    const std::uint32_t base = part.blockBase(block);
    const std::uint32_t end = base + part.blockLength(block);
    const bool weak = settings.weakBlock == block;
    for (std::uint32_t at = base; at < end; ++at) {
        store(at, weak && (at - base) % weakCellSpacing == 0 ? 0x00 : erasedByte, outcome);
    }
}

bool Chip::isLocked(std::uint32_t block) const {
    return block < locks.size() && locks[block];
}

void Chip::setLocked(std::uint32_t block, bool locked) {
    if (block < locks.size()) {
        locks[block] = locked;
    }
}

void Chip::loadArray(std::uint32_t address, const std::vector<std::uint8_t>& bytes) {
    for (std::size_t i = 0; i < bytes.size() && address + i < content.size(); ++i) {
        content[address + i] = bytes[i];
        const auto row = static_cast<std::uint32_t>((address + i) / rowLength);
        if (!givenRows[row]) {
            givenRows[row] = true;
            // Array lines come in address order as a rule; others find their place.
            givenList.insert(std::upper_bound(givenList.begin(), givenList.end(), row), row);
        }
    }
}

void Chip::forgetGivenRows() {
    givenRows.assign(givenRows.size(), false);
    givenList.clear();
}

void Chip::loadImage(std::uint32_t address, const char* bytes, std::size_t count) {
    for (std::size_t i = 0; i < count && address + i < content.size(); ++i) {
        // NOLINTNEXTLINE(cppcoreguidelines-pro-bounds-pointer-arithmetic)
        content[address + i] = static_cast<std::uint8_t>(bytes[i]);
    }
}

}  // namespace flashsim
