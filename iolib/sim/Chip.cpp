#include "iolib/sim/Chip.h"

#include <algorithm>
#include <utility>

namespace flashsim {

namespace {

constexpr std::uint8_t statusReady = 0x80;
constexpr std::uint8_t statusEraseError = 0x20;    // SR.5, also "clear lock bits" error
constexpr std::uint8_t statusProgramError = 0x10;  // SR.4, also "set lock bit" error
constexpr std::uint8_t erasedByte = 0xFF;

// Byte mode leaves A0 unused for identifier and query data, so word w of a
// block answers at its byte offsets 2w and 2w + 1 alike.
constexpr std::uint32_t lockStatusWord = 2;
constexpr std::uint32_t blockWords = ChipModel::blockSize / 2;

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

Chip::Chip(ChipModel model)
    : part(std::move(model)), locks(part.blockCount, false), content(part.present ? part.size : 0, erasedByte) {}

std::uint8_t Chip::read(std::uint32_t address) const {
    if (!part.present) {
        return 0x00;
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
        return status;
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
        status = statusReady;
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
        setLocked(block, true);
        return {"set lock bit of block " + std::to_string(block), false, true};
    }
    if (value == 0xD0) {
        std::fill(locks.begin(), locks.end(), false);
        return {"clear all lock bits", false, true};
    }
    if (value == 0xF1) {
        // Only the J5 parts have a master lock bit, and it cannot be cleared again.
        return refuse("set master lock bit: refused", statusProgramError);
    }
    status = statusReady | statusProgramError | statusEraseError;
    return {"invalid lock confirm byte: command sequence error", true, false};
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
    }
}

}  // namespace flashsim
