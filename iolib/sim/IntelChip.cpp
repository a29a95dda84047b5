#include "iolib/sim/IntelChip.h"

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
constexpr std::uint8_t statusSequenceError = statusEraseError | statusProgramError;
// XSR.7: a write buffer is free. The chip has one, and it is free whenever
// the chip is ready to take a command (unless a test says otherwise).
constexpr std::uint8_t extendedStatusBufferFree = 0x80;
// CFI offsets of the typical times (2^n each) and of the optional features.
constexpr std::size_t queryByteProgramTime = 0x1F;
constexpr std::size_t queryBufferProgramTime = 0x20;
constexpr std::size_t queryBlockEraseTime = 0x21;
constexpr std::size_t queryFeatures = 0x36;
// Feature bit 5: instant individual block locking, where 0x60/0xD0 clears
// the addressed block's lock bit alone rather than all of them.
constexpr std::uint8_t featureBlockUnlock = 0x20;
// Identifier word 3 of block 0 holds the J5 master lock configuration.
constexpr std::uint32_t masterLockWord = 3;

// Byte mode leaves A0 unused for identifier and query data, so word w of a
// block answers at its byte offsets 2w and 2w + 1 alike.
constexpr std::uint32_t lockStatusWord = 2;

std::string statusText(std::uint8_t status) {
    std::string text = "status " + hexByte(status);
    for (unsigned bit = 8; bit-- > 0;) {
        if (bit != 7 && (status & (1U << bit)) != 0) {
            text += ", SR." + std::to_string(bit);
        }
    }
    return text;
}

std::string blockText(std::uint32_t block) {
    return "block " + std::to_string(block);
}

}  // namespace

IntelChip::IntelChip(ChipModel model, ChipSettings settings) : Chip(std::move(model), std::move(settings)) {}

std::uint8_t IntelChip::statusRegister() const {
    return busy() ? static_cast<std::uint8_t>(status & ~statusReady) : status;
}

std::uint8_t IntelChip::read(std::uint32_t address) {
    if (!model().present) {
        return 0x00;
    }
    if (busy()) {
        const std::uint8_t value = statusRegister();
        countBusyRead();
        return value;
    }
    switch (current) {
    case ChipMode::ReadArray:
        return array()[chipAddress(address)];
    case ChipMode::ReadIdentifier:
        return identifierByte(address);
    case ChipMode::Query:
        return queryByte(address);
    case ChipMode::BufferCount:
        return bufferRefused ? 0x00 : extendedStatusBufferFree;
    default:
        return statusRegister();
    }
}

bool IntelChip::isLockStatusWord(std::uint32_t address) const {
    const std::uint32_t at = chipAddress(address);
    return (at - model().blockBase(model().blockOf(at))) >> 1U == lockStatusWord;
}

std::uint8_t IntelChip::lockStatus(std::uint32_t address) const {
    return isLocked(blockOf(address)) ? 0x01 : 0x00;
}

std::uint8_t IntelChip::identifierByte(std::uint32_t address) const {
    const std::uint32_t word = chipAddress(address) >> 1U;
    if (isLockStatusWord(address)) {
        return lockStatus(address);
    }
    if (word == 0) {
        return model().manufacturer;
    }
    if (word == 1) {
        return model().device;
    }
    if (word == masterLockWord && chipSettings().masterLocked) {
        return 0x01;
    }
    // Reserved identifier locations read 0x00.
    return 0x00;
}

std::uint8_t IntelChip::queryByte(std::uint32_t address) const {
    const std::uint32_t word = chipAddress(address) >> 1U;
    if (isLockStatusWord(address)) {
        return lockStatus(address);
    }
    if (word == 0) {
        return model().manufacturer;
    }
    if (word == 1) {
        return model().device;
    }
    return model().queryAt(word);
}

CommandOutcome IntelChip::write(std::uint32_t address, std::uint8_t value) {
    if (!model().present) {
        return {"no chip in the socket", false, false};
    }
    if (busy()) {
        // A real part drops what comes while its state machine runs; a program
        // that writes then has not waited for SR.7.
        return {"command while the chip is busy (SR.7 = 0): ignored", true, false};
    }
    endBusy();
    switch (current) {
    case ChipMode::LockSetup:
        return confirmLock(address, value);
    case ChipMode::EraseSetup:
        return confirmErase(address, value);
    case ChipMode::ProgramSetup:
        return programByte(address, value);
    case ChipMode::BufferCount:
        return bufferRefused ? noFreeBuffer(address, value) : bufferCount(address, value);
    case ChipMode::BufferData:
        return bufferWrite(address, value);
    default:
        return command(address, value);
    }
}

CommandOutcome IntelChip::command(std::uint32_t address, std::uint8_t value) {
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
        if (!model().answersQuery) {
            return {"CFI query: this part predates CFI and ignores it", false, false};
        }
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
        return beginSequence(ChipMode::ProgramSetup, address, "program setup");
    case 0xE8:
        if (bufferSize() == 0) {
            return {"write to buffer: this part has no write buffer, ignored", false, false};
        }
        bufferRefused = chipSettings().bufferNeverFree;
        return beginSequence(ChipMode::BufferCount, address,
                             "write to buffer in " + blockText(blockOf(address)) +
                                 (bufferRefused ? ", extended status: no buffer is free (XSR.7 = 0)"
                                                : ", extended status: a buffer is free"));
    case 0x20:
        return beginSequence(ChipMode::EraseSetup, address, "block erase setup");
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

// XSR.7 read 0: the chip has no buffer for this sequence, so whatever comes
// next is a command, not a count.
CommandOutcome IntelChip::noFreeBuffer(std::uint32_t address, std::uint8_t value) {
    if (value == 0xE8) {
        return {"write to buffer again: still no buffer is free (XSR.7 = 0)", false, false};
    }
    current = ChipMode::ReadStatus;
    bufferRefused = false;
    CommandOutcome outcome = command(address, value);
    outcome.action = "no write buffer was free (XSR.7 = 0), so this byte is a command: " + outcome.action;
    outcome.fault = true;
    return outcome;
}

CommandOutcome IntelChip::confirmLock(std::uint32_t address, std::uint8_t value) {
    if (value == 0x01 || value == 0xD0 || value == 0xF1) {
        changingCommandArrives();
    }
    current = ChipMode::ReadStatus;
    status = statusReady;
    const std::uint32_t block = blockOf(address);
    if (value == 0x01) {
        return lockCommand("set lock bit of " + blockText(block), true, block, false);
    }
    if (value == 0xD0) {
        if ((model().queryAt(queryFeatures) & featureBlockUnlock) != 0) {
            return lockCommand("clear lock bit of " + blockText(block), false, block, false);
        }
        return lockCommand("clear all lock bits", false, 0, true);
    }
    if (value == 0xF1) {
        // Only the J5 parts have a master lock bit, and it cannot be cleared again.
        return refuse("set master lock bit: refused", statusProgramError);
    }
    status = statusReady | statusProgramError | statusEraseError;
    return {"invalid lock confirm byte: command sequence error", true, false};
}

CommandOutcome IntelChip::lockCommand(const std::string& what, bool set, std::uint32_t block, bool allBlocks) {
    const std::uint8_t failed = set ? statusProgramError : statusEraseError;
    // The chip's own answer to a protected part: an error in the status
    // register, not a fault of the program's.
    if (chipSettings().vpenLow) {
        status = static_cast<std::uint8_t>(statusReady | statusVpenLow | failed);
        return {what + ": refused, VPEN is low; nothing changed (" + statusText(status) + ")", false, false};
    }
    if (chipSettings().masterLocked) {
        status = static_cast<std::uint8_t>(statusReady | statusProtected | failed);
        return {what + ": refused, the master lock bit is set; nothing changed (" + statusText(status) + ")", false,
                false};
    }
    std::string note;
    if (set) {
        setLocked(block, true);
    } else {
        for (std::uint32_t index = 0; index < lockCount(); ++index) {
            if ((allBlocks || index == block) && chipSettings().stuckBlock != index) {
                setLocked(index, false);
            }
        }
        if (chipSettings().stuckBlock && isLocked(*chipSettings().stuckBlock) &&
            (allBlocks || block == *chipSettings().stuckBlock)) {
            note = ", but block " + std::to_string(*chipSettings().stuckBlock) +
                   " keeps its lock bit (FLASHLOCK_SIM_STUCK_BLOCK) while the status register reports success";
        }
    }
    const std::chrono::microseconds duration = set ? chipSettings().setLockBitTime : chipSettings().clearLockBitsTime;
    startBusy(duration);
    return {what + ": done" + note + ", busy for " + std::to_string(duration.count()) + " us", false, true};
}

CommandOutcome IntelChip::beginSequence(ChipMode mode, std::uint32_t address, const std::string& what) {
    current = mode;
    setupAddress = chipAddress(address);
    // A real part with SR.4 or SR.5 still set takes the sequence and then
    // appears to fail it: the program has to clear the status register first.
    heldBack = (status & statusSequenceError) != 0;
    if (heldBack) {
        return {what + "; but " + statusText(status) +
                    " is left from an earlier command: this one will not be carried out until 0x50 clears it",
                true, false};
    }
    return {what, false, false};
}

CommandOutcome IntelChip::sequenceError(const std::string& what) {
    current = ChipMode::ReadStatus;
    status = statusReady | statusSequenceError;
    return {what + ": command sequence error (" + statusText(status) + ")", true, false};
}

std::uint8_t IntelChip::protection(std::uint32_t block, std::uint8_t failed) const {
    if (chipSettings().vpenLow) {
        return static_cast<std::uint8_t>(statusVpenLow | failed);
    }
    if (isLocked(block)) {
        return static_cast<std::uint8_t>(statusProtected | failed);
    }
    return 0;
}

CommandOutcome IntelChip::finish(const std::string& what, std::uint8_t errorBits, std::chrono::microseconds duration) {
    current = ChipMode::ReadStatus;
    if (heldBack) {
        return {what + ": not carried out, nothing changed (" + statusText(status) + " kept)", false, false};
    }
    status = static_cast<std::uint8_t>(statusReady | errorBits);
    if ((errorBits & statusVpenLow) != 0) {
        return {what + ": refused, VPEN is low; nothing changed (" + statusText(status) + ")", false, false};
    }
    if ((errorBits & statusProtected) != 0) {
        return {what + ": refused, the block is locked; nothing changed (" + statusText(status) + ")", false, false};
    }
    startBusy(duration);
    return {what + ": " + (errorBits != 0 ? "failed" : "done") + " (" + statusText(status) + "), busy for " +
                std::to_string(duration.count()) + " us",
            false, false};
}

CommandOutcome IntelChip::confirmErase(std::uint32_t address, std::uint8_t value) {
    if (value != 0xD0) {
        return sequenceError("block erase confirm expected (0xD0)");
    }
    changingCommandArrives();
    const std::uint32_t block = blockOf(address);
    if (block != model().blockOf(setupAddress)) {
        return sequenceError("block erase confirmed in " + blockText(block) + ", set up in " +
                             blockText(model().blockOf(setupAddress)));
    }
    const std::string what = "erase " + blockText(block) + " at " + hexAddress(model().blockBase(block));
    const std::chrono::microseconds duration = typicalTime(queryBlockEraseTime, std::chrono::milliseconds(1));
    if (const std::uint8_t refused = protection(block, statusEraseError); refused != 0 || heldBack) {
        return finish(what, refused, duration);
    }
    if (chipSettings().eraseFailBlock == block) {
        return finish(what + " (FLASHLOCK_SIM_ERASE_FAIL: the block keeps its content)", statusEraseError, duration);
    }
    CommandOutcome outcome;
    eraseBlock(block, outcome);
    CommandOutcome finished =
        finish(what + (chipSettings().weakBlock == block
                           ? " (FLASHLOCK_SIM_WEAK_BLOCK: every " + std::to_string(weakCellSpacing) +
                                 "th byte keeps 0x00 while the status register reports success)"
                           : std::string()),
               0, duration);
    finished.changedFirst = outcome.changedFirst;
    finished.changedCount = outcome.changedCount;
    return finished;
}

CommandOutcome IntelChip::programByte(std::uint32_t address, std::uint8_t value) {
    changingCommandArrives();
    const std::uint32_t at = chipAddress(address);
    const std::string what = "byte program of " + hexByte(value) + " at " + hexAddress(at);
    const std::chrono::microseconds duration = typicalTime(queryByteProgramTime, std::chrono::microseconds(1));
    if (const std::uint8_t refused = protection(model().blockOf(at), statusProgramError); refused != 0 || heldBack) {
        return finish(what, refused, duration);
    }
    if (chipSettings().programFailAddress == at) {
        return finish(what + " (FLASHLOCK_SIM_PROGRAM_FAIL: the byte is not programmed)", statusProgramError, duration);
    }
    const std::uint8_t old = array()[at];
    CommandOutcome outcome;
    const bool clearsOnly = program(at, value, outcome);
    CommandOutcome finished = finish(what, 0, duration);
    finished.changedFirst = outcome.changedFirst;
    finished.changedCount = outcome.changedCount;
    if (!clearsOnly) {
        finished.action += "; but programming cannot turn 0 bits into 1 (" + hexByte(old) +
                           " held there): only an erase can, and the byte now reads " + hexByte(array()[at]);
        finished.fault = true;
    }
    return finished;
}

CommandOutcome IntelChip::bufferCount(std::uint32_t address, std::uint8_t value) {
    const std::uint32_t block = blockOf(address);
    if (value >= bufferSize()) {
        return sequenceError("buffer count " + hexByte(value) + " asks for " + std::to_string(value + 1U) +
                             " bytes, more than the " + std::to_string(bufferSize()) + "-byte buffer");
    }
    if (block != model().blockOf(setupAddress)) {
        return sequenceError("buffer count written in " + blockText(block) + ", not in the block of the write to " +
                             "buffer (" + std::to_string(model().blockOf(setupAddress)) + ")");
    }
    current = ChipMode::BufferData;
    bufferLength = value + 1U;
    buffered.clear();
    bufferAborted = false;
    return {"buffer count: " + std::to_string(bufferLength) + (bufferLength == 1 ? " byte" : " bytes"), false, false};
}

CommandOutcome IntelChip::bufferWrite(std::uint32_t address, std::uint8_t value) {
    if (buffered.size() == bufferLength) {
        return confirmBuffer(value);
    }
    const std::uint32_t at = chipAddress(address);
    const std::uint32_t window = at & ~(bufferSize() - 1U);
    if (buffered.empty()) {
        bufferWindow = window;
    }
    buffered.emplace_back(at, value);
    const std::string what = "buffer byte " + std::to_string(buffered.size()) + " of " + std::to_string(bufferLength) +
                             " at " + hexAddress(at);
    // The rest of the sequence is still taken as data, so that none of its
    // bytes is mistaken for a command; the confirm then fails it.
    std::string problem;
    const std::uint32_t setupBlock = model().blockOf(setupAddress);
    if (model().blockOf(at) != setupBlock) {
        problem = "the buffer crosses from " + blockText(setupBlock) + " into " + blockText(model().blockOf(at));
    } else if (window != bufferWindow) {
        problem = "outside the buffer's window " + hexAddress(bufferWindow) + " to " +
                  hexAddress(bufferWindow + bufferSize() - 1U);
    }
    if (!problem.empty()) {
        bufferAborted = true;
        return {what + ": " + problem + "; the chip will abort this buffer with a command sequence error", true, false};
    }
    return {what, false, false};
}

CommandOutcome IntelChip::confirmBuffer(std::uint8_t value) {
    if (value != 0xD0) {
        return sequenceError("buffer program confirm expected (0xD0)");
    }
    changingCommandArrives();
    const std::string what = "buffer program of " + std::to_string(bufferLength) +
                             (bufferLength == 1 ? " byte at " : " bytes at ") + hexAddress(bufferWindow);
    const std::chrono::microseconds duration = typicalTime(queryBufferProgramTime, std::chrono::microseconds(1));
    if (bufferAborted && !heldBack) {
        current = ChipMode::ReadStatus;
        status = statusReady | statusSequenceError;
        return {what + ": aborted, not all its bytes lay in one window of one block; nothing programmed (" +
                    statusText(status) + ")",
                false, false};
    }
    if (const std::uint8_t refused = protection(model().blockOf(bufferWindow), statusProgramError);
        refused != 0 || heldBack) {
        return finish(what, refused, duration);
    }
    // The chip programs its buffer in address order; a later write to the
    // same address replaced the earlier one.
    std::stable_sort(buffered.begin(), buffered.end(),
                     [](const auto& left, const auto& right) { return left.first < right.first; });
    CommandOutcome outcome;
    std::string raised;
    std::uint8_t failed = 0;
    for (std::size_t index = 0; index < buffered.size(); ++index) {
        const auto [at, byte] = buffered[index];
        if (index + 1 < buffered.size() && buffered[index + 1].first == at) {
            continue;
        }
        if (chipSettings().programFailAddress == at) {
            failed = statusProgramError;
            break;
        }
        if (!program(at, byte, outcome) && raised.empty()) {
            raised = hexAddress(at);
        }
    }
    CommandOutcome finished = finish(
        what + (failed != 0 ? " (FLASHLOCK_SIM_PROGRAM_FAIL at " + hexAddress(*chipSettings().programFailAddress) +
                                  ": the bytes below it are programmed, it and those above it are not)"
                            : std::string()),
        failed, duration);
    finished.changedFirst = outcome.changedFirst;
    finished.changedCount = outcome.changedCount;
    if (!raised.empty()) {
        finished.action += "; but programming cannot turn 0 bits into 1 (first at " + raised +
                           "): only an erase can, and those bytes now read old AND new";
        finished.fault = true;
    }
    return finished;
}

CommandOutcome IntelChip::refuse(const char* what, std::uint8_t errorBits) {
    current = ChipMode::ReadStatus;
    status = static_cast<std::uint8_t>(statusReady | errorBits);
    return {what, true, false};
}

}  // namespace flashsim
