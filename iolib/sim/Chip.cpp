#include "iolib/sim/Chip.h"

#include <algorithm>
#include <utility>

namespace flashsim {

namespace {

constexpr std::uint8_t statusReady = 0x80;
constexpr std::uint8_t statusEraseError = 0x20;    // SR.5, also "clear lock bits" error
constexpr std::uint8_t statusProgramError = 0x10;  // SR.4, also "set lock bit" error
constexpr std::uint8_t statusVpenLow = 0x08;       // SR.3
constexpr std::uint8_t statusProtected = 0x02;     // SR.1: the master lock bit blocks the command
constexpr std::uint8_t statusErrors = statusEraseError | statusProgramError | statusVpenLow | statusProtected;
constexpr std::uint8_t erasedByte = 0xFF;
// Identifier word 3 of block 0 holds the J5 master lock configuration.
constexpr std::uint32_t masterLockWord = 3;

// Byte mode leaves A0 unused for identifier and query data, so word w of a
// block answers at its byte offsets 2w and 2w + 1 alike.
constexpr std::uint32_t lockStatusWord = 2;
constexpr std::uint32_t blockWords = ChipModel::blockSize / 2;

std::string statusText(std::uint8_t status);

}  // namespace

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
    }
    return "?";
}

namespace {

std::string statusText(std::uint8_t status) {
    std::string text = "status 0x";
    constexpr const char* digits = "0123456789ABCDEF";
    text += digits[status >> 4U];
    text += digits[status & 0xFU];
    for (unsigned bit = 8; bit-- > 0;) {
        if (bit != 7 && (status & (1U << bit)) != 0) {
            text += ", SR." + std::to_string(bit);
        }
    }
    return text;
}

}  // namespace

Chip::Chip(ChipModel model, ChipSettings settings)
    : part(std::move(model)),
      settings(settings),
      locks(part.blockCount, false),
      content(part.present ? part.size : 0, erasedByte),
      givenRows(content.size() / rowLength, false) {}

bool Chip::busy() const {
    return readyAt && Clock::now() < *readyAt;
}

std::uint8_t Chip::statusRegister() const {
    return busy() ? static_cast<std::uint8_t>(status & ~statusReady) : status;
}

std::uint8_t Chip::read(std::uint32_t address) const {
    if (!part.present) {
        return 0x00;
    }
    if (busy()) {
        return statusRegister();
    }
    switch (current) {
    case ChipMode::ReadArray:
        return content[chipAddress(address)];
    case ChipMode::ReadIdentifier:
        return identifierByte(address);
    case ChipMode::Query:
        return queryByte(address);
    case ChipMode::ReadStatus:
    case ChipMode::LockSetup:
        return statusRegister();
    }
    return 0x00;
}

std::uint8_t Chip::lockStatus(std::uint32_t address) const {
    return isLocked(chipAddress(address) / ChipModel::blockSize) ? 0x01 : 0x00;
}

std::uint8_t Chip::identifierByte(std::uint32_t address) const {
    const std::uint32_t word = chipAddress(address) >> 1U;
    if (word % blockWords == lockStatusWord) {
        return lockStatus(address);
    }
    if (word == 0) {
        return part.manufacturer;
    }
    if (word == 1) {
        return part.device;
    }
    if (word == masterLockWord && settings.masterLocked) {
        return 0x01;
    }
    // Reserved identifier locations read 0x00.
    return 0x00;
}

std::uint8_t Chip::queryByte(std::uint32_t address) const {
    const std::uint32_t word = chipAddress(address) >> 1U;
    if (word % blockWords == lockStatusWord) {
        return lockStatus(address);
    }
    if (word == 0) {
        return part.manufacturer;
    }
    if (word == 1) {
        return part.device;
    }
    return word < part.query.size() ? part.query.at(word) : std::uint8_t{0x00};
}

CommandOutcome Chip::write(std::uint32_t address, std::uint8_t value) {
    if (!part.present) {
        return {"no chip in the socket", false, false};
    }
    if (busy()) {
        // A real part drops what comes while its state machine runs; a program
        // that writes then has not waited for SR.7.
        return {"command while the chip is busy with a lock command (SR.7 = 0): ignored", true, false};
    }
    readyAt.reset();
    if (current == ChipMode::LockSetup) {
        return confirmLock(address, value);
    }
    switch (value) {
    case 0xFF:
        current = ChipMode::ReadArray;
        return {"read array", false, false};
    case 0xF0:
        // Other makers' reset; taken as a return to read array.
        current = ChipMode::ReadArray;
        return {"reset to read array", false, false};
    case 0x90:
        current = ChipMode::ReadIdentifier;
        return {"read identifier", false, false};
    case 0x98:
        current = ChipMode::Query;
        return {"CFI query", false, false};
    case 0x70:
        current = ChipMode::ReadStatus;
        return {"read status register", false, false};
    case 0x50:
        status = static_cast<std::uint8_t>(status & ~statusErrors);
        return {"clear status register", false, false};
    case 0x60:
        current = ChipMode::LockSetup;
        return {"lock setup", false, false};
    case 0x10:
    case 0x40:
        return refuse("program command: refused, the array is not changed", statusProgramError);
    case 0xE8:
        return refuse("write to buffer command: refused, the array is not changed", statusProgramError);
    case 0x20:
        return refuse("block erase command: refused, the array is not changed", statusEraseError);
    case 0xC0:
        return refuse("protection register program command: refused", statusProgramError);
    case 0xAA:
    case 0x55:
        return {"other makers' unlock cycle, ignored", false, false};
    default:
        break;
    }
    // Suspend, resume and undefined codes leave the chip as it was.
    return {"no command for this part, ignored", false, false};
}

CommandOutcome Chip::confirmLock(std::uint32_t address, std::uint8_t value) {
    current = ChipMode::ReadStatus;
    status = statusReady;
    if (value == 0x01) {
        const std::uint32_t block = chipAddress(address) / ChipModel::blockSize;
        return lockCommand("set lock bit of block " + std::to_string(block), true, block);
    }
    if (value == 0xD0) {
        return lockCommand("clear all lock bits", false, 0);
    }
    if (value == 0xF1) {
        // Only the J5 parts have a master lock bit, and it cannot be cleared again.
        return refuse("set master lock bit: refused", statusProgramError);
    }
    status = statusReady | statusProgramError | statusEraseError;
    return {"invalid lock confirm byte: command sequence error", true, false};
}

CommandOutcome Chip::lockCommand(const std::string& what, bool set, std::uint32_t block) {
    const std::uint8_t failed = set ? statusProgramError : statusEraseError;
    // The chip's own answer to a protected part: an error in the status
    // register, not a fault of the program's.
    if (settings.vpenLow) {
        status = static_cast<std::uint8_t>(statusReady | statusVpenLow | failed);
        return {what + ": refused, VPEN is low; nothing changed (" + statusText(status) + ")", false, false};
    }
    if (settings.masterLocked) {
        status = static_cast<std::uint8_t>(statusReady | statusProtected | failed);
        return {what + ": refused, the master lock bit is set; nothing changed (" + statusText(status) + ")", false,
                false};
    }
    std::string note;
    if (set) {
        setLocked(block, true);
    } else {
        for (std::uint32_t index = 0; index < locks.size(); ++index) {
            locks[index] = settings.stuckBlock == index && locks[index];
        }
        if (settings.stuckBlock && isLocked(*settings.stuckBlock)) {
            note = ", but block " + std::to_string(*settings.stuckBlock) +
                   " keeps its lock bit (FLASHLOCK_SIM_STUCK_BLOCK) while the status register reports success";
        }
    }
    const std::chrono::microseconds duration = set ? settings.setLockBitTime : settings.clearLockBitsTime;
    if (duration.count() > 0) {
        readyAt = Clock::now() + duration;
    }
    return {what + ": done" + note + ", busy for " + std::to_string(duration.count()) + " us", false, true};
}

CommandOutcome Chip::refuse(const char* what, std::uint8_t errorBits) {
    current = ChipMode::ReadStatus;
    status = static_cast<std::uint8_t>(statusReady | errorBits);
    return {what, true, false};
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

void Chip::loadImage(std::uint32_t address, const char* bytes, std::size_t count) {
    for (std::size_t i = 0; i < count && address + i < content.size(); ++i) {
        // NOLINTNEXTLINE(cppcoreguidelines-pro-bounds-pointer-arithmetic)
        content[address + i] = static_cast<std::uint8_t>(bytes[i]);
    }
}

}  // namespace flashsim
