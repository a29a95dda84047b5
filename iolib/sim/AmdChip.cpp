#include "iolib/sim/AmdChip.h"

#include <algorithm>

namespace flashsim {

namespace {

// Only word A0-A10 take part in a command cycle's address: byte bits 0-11.
constexpr std::uint32_t commandAddressMask = 0xFFF;
constexpr std::uint32_t unlockAddress1 = 0xAAA;
constexpr std::uint32_t unlockAddress2 = 0x555;
constexpr std::uint32_t queryAddress = 0xAA;
// Autoselect and CFI data: byte bits 1-7 pick the word (A-1 is not decoded,
// as on the Intel set; the datasheets leave it open) and higher bits do not
// matter, except that they pick the sector for the protection read.
constexpr std::uint32_t autoselectMask = 0xFF;
constexpr std::uint32_t protectionWord = 0x02;
constexpr std::uint32_t secondIdWord = 0x0E;
constexpr std::uint32_t thirdIdWord = 0x0F;

constexpr std::uint8_t dq7 = 0x80;
constexpr std::uint8_t dq6 = 0x40;
constexpr std::uint8_t dq5 = 0x20;
constexpr std::uint8_t dq3 = 0x08;
constexpr std::uint8_t dq2 = 0x04;
constexpr std::uint8_t dq1 = 0x02;

// CFI offsets of the typical times.
constexpr std::size_t queryByteProgramTime = 0x1F;
constexpr std::size_t queryBufferProgramTime = 0x20;
constexpr std::size_t querySectorEraseTime = 0x21;
constexpr std::size_t queryChipEraseTime = 0x22;
// PRI+9, the protection scheme: 0x08 is advanced sector protection.
constexpr std::size_t queryProtectScheme = 0x49;
constexpr std::uint8_t advancedProtection = 0x08;

// A hit on a protected sector: the datasheets give about 1-2 us busy for a
// program and about 100 us for an erase before the chip is back in read mode.
constexpr std::chrono::microseconds protectedProgramTime{2};
constexpr std::chrono::microseconds protectedEraseTime{100};

// Intel-set commands, which an AMD-set part does not have; nullptr for others.
const char* intelCommandName(std::uint8_t value) {
    switch (value) {
    case 0xFF:
        return "read array";
    case 0x60:
        return "lock setup";
    case 0x70:
        return "read status";
    case 0x20:
        return "block erase setup";
    case 0xD0:
        return "confirm";
    case 0x40:
    case 0x10:
        return "program setup";
    case 0xE8:
        return "write to buffer";
    case 0x50:
        return "clear status";
    case 0x90:
        return "read identifier";
    case 0x01:
        return "set lock bit confirm";
    default:
        return nullptr;
    }
}

std::string sectorText(std::uint32_t sector) {
    return "sector " + std::to_string(sector);
}

std::string busyText(std::chrono::microseconds duration) {
    return "busy for " + std::to_string(duration.count()) + " us";
}

}  // namespace

AmdChip::AmdChip(ChipModel model, ChipSettings settings) : Chip(std::move(model), std::move(settings)) {
    for (const std::uint32_t sector : chipSettings().protectedSectors) {
        setLocked(sector, true);
    }
}

AmdChip::Phase AmdChip::phase() const {
    if (operation == Operation::None) {
        return Phase::Ready;
    }
    if (operation == Operation::Abort) {
        return Phase::Aborted;
    }
    if (busy()) {
        return Phase::Busy;
    }
    return fails ? Phase::Exceeded : Phase::Ready;
}

bool AmdChip::erasing() const {
    return operation == Operation::SectorErase || operation == Operation::ChipErase ||
           operation == Operation::ProtectedErase;
}

void AmdChip::settle() {
    if (operation != Operation::None && phase() == Phase::Ready) {
        operation = Operation::None;
    }
}

ChipMode AmdChip::mode() const {
    switch (phase()) {
    case Phase::Busy:
        return erasing() ? ChipMode::Erasing : ChipMode::Programming;
    case Phase::Exceeded:
        return ChipMode::Exceeded;
    case Phase::Aborted:
        return ChipMode::BufferAbort;
    case Phase::Ready:
        break;
    }
    switch (stage) {
    case Stage::Unlock1:
        return ChipMode::UnlockCycle1;
    case Stage::Unlock2:
        return ChipMode::UnlockCycle2;
    case Stage::ProgramSetup:
        return ChipMode::ProgramSetup;
    case Stage::EraseSetup:
        return ChipMode::EraseSetup;
    case Stage::EraseUnlock1:
        return ChipMode::EraseUnlockCycle1;
    case Stage::EraseUnlock2:
        return ChipMode::EraseUnlockCycle2;
    case Stage::BufferCount:
        return ChipMode::BufferLoadCount;
    case Stage::BufferData:
        return ChipMode::BufferData;
    case Stage::BypassErase:
        return ChipMode::BypassEraseSetup;
    case Stage::BypassExit:
        return ChipMode::BypassExit;
    case Stage::Idle:
        break;
    }
    switch (base) {
    case Base::Autoselect:
        return ChipMode::Autoselect;
    case Base::Query:
        return ChipMode::Query;
    case Base::Bypass:
        return ChipMode::UnlockBypass;
    case Base::Read:
        break;
    }
    return ChipMode::ReadArray;
}

std::uint8_t AmdChip::read(std::uint32_t address) {
    settle();
    switch (phase()) {
    case Phase::Busy: {
        const std::uint8_t value = status(address);
        countBusyRead();
        return value;
    }
    case Phase::Exceeded:
    case Phase::Aborted:
        return status(address);
    case Phase::Ready:
        break;
    }
    switch (base) {
    case Base::Autoselect:
        return autoselectByte(address);
    case Base::Query:
        return queryByte(address);
    case Base::Read:
    case Base::Bypass:
        break;
    }
    return array()[chipAddress(address)];
}

std::uint8_t AmdChip::status(std::uint32_t address) {
    toggle6 = !toggle6;
    const std::uint32_t at = chipAddress(address);
    const bool erase = erasing();
    if (erase && at >= eraseFirst && at < eraseEnd) {
        toggle2 = !toggle2;
    }
    std::uint8_t value = 0;
    // Data# polling: the complement of the byte being programmed, 0 while erasing.
    if (!erase && (polled & dq7) == 0) {
        value |= dq7;
    }
    if (toggle6) {
        value |= dq6;
    }
    if (phase() == Phase::Exceeded) {
        value |= dq5;
    }
    // The 50 us window for more sectors is taken as closed at once: the
    // erase has begun by the first status read.
    if (erase) {
        value |= dq3;
    }
    if (toggle2) {
        value |= dq2;
    }
    if (operation == Operation::Abort) {
        value |= dq1;
    }
    return value;
}

std::uint8_t AmdChip::autoselectByte(std::uint32_t address) const {
    const std::uint32_t at = chipAddress(address);
    const std::uint32_t word = (at & autoselectMask) >> 1U;
    switch (word) {
    case 0:
        return model().manufacturer;
    case 1:
        return model().device;
    case protectionWord:
        return isLocked(model().blockOf(at)) ? 0x01 : 0x00;
    case secondIdWord:
        return !model().moreDeviceBytes.empty() ? model().moreDeviceBytes[0] : std::uint8_t{0x00};
    case thirdIdWord:
        return model().moreDeviceBytes.size() > 1 ? model().moreDeviceBytes[1] : std::uint8_t{0x00};
    default:
        // Undefined in the datasheets; read as 0x00 here.
        return 0x00;
    }
}

std::uint8_t AmdChip::queryByte(std::uint32_t address) const {
    return model().queryAt((chipAddress(address) & autoselectMask) >> 1U);
}

CommandOutcome AmdChip::write(std::uint32_t address, std::uint8_t value) {
    settle();
    switch (phase()) {
    case Phase::Busy:
        return whileBusy(value);
    case Phase::Exceeded:
    case Phase::Aborted:
        return whileStuck(address, value);
    case Phase::Ready:
        break;
    }
    const std::uint32_t low = address & commandAddressMask;
    switch (stage) {
    case Stage::Idle:
        return base == Base::Bypass ? bypassCycle(address, value) : firstCycle(address, value);
    case Stage::Unlock1:
        if (value == 0x55 && low == unlockAddress2) {
            stage = Stage::Unlock2;
            return {"unlock cycle 2", false, false};
        }
        return unknown(address, value, "0x55 at 0x555");
    case Stage::Unlock2:
        return thirdCycle(address, value);
    case Stage::ProgramSetup:
        return programByte(address, value);
    case Stage::EraseSetup:
        if (value == 0xAA && low == unlockAddress1) {
            stage = Stage::EraseUnlock1;
            return {"erase setup, unlock cycle 1", false, false};
        }
        return unknown(address, value, "0xAA at 0xAAA");
    case Stage::EraseUnlock1:
        if (value == 0x55 && low == unlockAddress2) {
            stage = Stage::EraseUnlock2;
            return {"erase setup, unlock cycle 2", false, false};
        }
        return unknown(address, value, "0x55 at 0x555");
    case Stage::EraseUnlock2:
        if (value == 0x30) {
            return eraseSector(address);
        }
        if (value == 0x10 && low == unlockAddress1) {
            return eraseChip();
        }
        return unknown(address, value, "0x30 at the sector or 0x10 at 0xAAA");
    case Stage::BufferCount:
        return bufferCount(address, value);
    case Stage::BufferData:
        return bufferLoad(address, value);
    case Stage::BypassErase:
        if (value == 0x30) {
            return eraseSector(address);
        }
        if (value == 0x10) {
            return eraseChip();
        }
        stage = Stage::Idle;
        return {"unlock bypass erase: 0x30 or 0x10 expected, not " + hexByte(value) + "; still in unlock bypass", true,
                false};
    case Stage::BypassExit:
        stage = Stage::Idle;
        if (value == 0x00) {
            base = Base::Read;
            return {"unlock bypass reset: read array", false, false};
        }
        return {"unlock bypass reset: 0x00 expected after 0x90, not " + hexByte(value) + "; still in unlock bypass",
                true, false};
    }
    return unknown(address, value, "a command");
}

CommandOutcome AmdChip::firstCycle(std::uint32_t address, std::uint8_t value) {
    const std::uint32_t low = address & commandAddressMask;
    if (value == 0xF0) {
        return reset("reset");
    }
    if (value == 0xAA && low == unlockAddress1 && base != Base::Query) {
        stage = Stage::Unlock1;
        return {"unlock cycle 1", false, false};
    }
    if (value == 0x98 && low == queryAddress) {
        if (!model().answersQuery) {
            return unknown(address, value, "a command (this part predates CFI)");
        }
        if (base != Base::Query) {
            queryReturn = base == Base::Autoselect ? Base::Autoselect : Base::Read;
        }
        base = Base::Query;
        return {queryReturn == Base::Autoselect ? "CFI query, from autoselect" : "CFI query", false, false};
    }
    if (value == 0x98) {
        return unknown(address, value, "0x98 at 0xAA, the CFI address in byte mode", true);
    }
    if ((value == 0xB0 || value == 0x30) && base == Base::Read) {
        // Suspend and resume with no erase running do nothing.
        return {"erase suspend or resume with no erase running: ignored", false, false};
    }
    return unknown(address, value, base == Base::Query ? "0xF0 (reset)" : "0xAA at 0xAAA or 0xF0");
}

CommandOutcome AmdChip::thirdCycle(std::uint32_t address, std::uint8_t value) {
    const std::uint32_t low = address & commandAddressMask;
    if (value == 0xF0) {
        return reset("reset (three-cycle form)");
    }
    if (base == Base::Autoselect && !(value == 0x90 && low == unlockAddress1)) {
        return unknown(address, value, "the reset (0xF0) first: only it leaves autoselect", true);
    }
    if (value == 0x25 && bufferSize() > 0) {
        stage = Stage::BufferCount;
        afterOperation = Base::Read;
        bufferSector = blockOf(address);
        return {"write to buffer in " + sectorText(bufferSector), false, false};
    }
    if (low != unlockAddress1) {
        return unknown(address, value, "the third cycle at 0xAAA");
    }
    switch (value) {
    case 0x90:
        stage = Stage::Idle;
        base = Base::Autoselect;
        return {"autoselect", false, false};
    case 0xA0:
        stage = Stage::ProgramSetup;
        afterOperation = Base::Read;
        return {"program setup", false, false};
    case 0x80:
        stage = Stage::EraseSetup;
        afterOperation = Base::Read;
        return {"erase setup", false, false};
    case 0x20:
        if (model().unlockBypass) {
            stage = Stage::Idle;
            base = Base::Bypass;
            return {"unlock bypass", false, false};
        }
        break;
    case 0x88:
    case 0x40:
    case 0x60:
    case 0xC0:
    case 0x50:
    case 0xE0:
        if (model().queryAt(queryProtectScheme) == advancedProtection) {
            return unknown(address, value,
                           "a modelled command: the secured silicon region and the advanced sector protection "
                           "command sets are not simulated",
                           true);
        }
        break;
    default:
        break;
    }
    return unknown(address, value, "0x90, 0xA0, 0x80 or 0xF0 as the third cycle");
}

CommandOutcome AmdChip::bypassCycle(std::uint32_t /*address*/, std::uint8_t value) {
    switch (value) {
    case 0xA0:
        stage = Stage::ProgramSetup;
        afterOperation = Base::Bypass;
        return {"unlock bypass program setup", false, false};
    case 0x90:
        stage = Stage::BypassExit;
        return {"unlock bypass reset, first cycle", false, false};
    case 0x80:
        if (model().bypassErase) {
            stage = Stage::BypassErase;
            afterOperation = Base::Bypass;
            return {"unlock bypass erase setup", false, false};
        }
        break;
    default:
        break;
    }
    return {hexByte(value) + " in unlock bypass mode, which takes only 0xA0 (program)" +
                (model().bypassErase ? std::string(", 0x80 (erase)") : std::string()) +
                " and 0x90, 0x00 (reset): ignored",
            true, false};
}

CommandOutcome AmdChip::reset(const std::string& what) {
    stage = Stage::Idle;
    if (base == Base::Query && queryReturn == Base::Autoselect) {
        base = Base::Autoselect;
        queryReturn = Base::Read;
        return {what + ": back to autoselect, where the CFI query began", false, false};
    }
    base = Base::Read;
    return {what + ": read array", false, false};
}

CommandOutcome AmdChip::unknown(std::uint32_t address, std::uint8_t value, const std::string& expected, bool fault) {
    stage = Stage::Idle;
    if (base != Base::Bypass) {
        base = Base::Read;
    }
    const char* intel = intelCommandName(value);
    std::string text = hexByte(value) + " at " + hexAddress(address) + " is no command here (expected " + expected +
                       "): back to read array";
    if (intel != nullptr && !fault) {
        text = "Intel-set command " + hexByte(value) + " (" + intel +
               ") sent to an AMD-set part, which has no such command: back to read array, nothing changed";
    }
    return {text, fault || intel != nullptr, false};
}

CommandOutcome AmdChip::whileBusy(std::uint8_t value) {
    if (value == 0xF0) {
        return {"reset while the chip is busy: ignored, as the datasheets say", false, false};
    }
    if (value == 0xB0 && operation == Operation::ChipErase) {
        return {"erase suspend during a chip erase: ignored, as the datasheets say", true, false};
    }
    if (value == 0xB0 && erasing()) {
        return {"erase suspend: not simulated, ignored", true, false};
    }
    if (value == 0x30 && erasing()) {
        return {
            "another sector after the erase began: the 50 us window for more sectors is taken as closed at once "
            "(DQ3 = 1), so it is not taken",
            true, false};
    }
    return {"command while the chip is busy (DQ6 toggling): ignored", true, false};
}

CommandOutcome AmdChip::whileStuck(std::uint32_t address, std::uint8_t value) {
    const std::uint32_t low = address & commandAddressMask;
    const bool afterBuffer = operation == Operation::Abort || operation == Operation::Buffer;
    const char* state = operation == Operation::Abort ? "the write to buffer was aborted (DQ1)"
                                                      : "the operation exceeded its time limit (DQ5)";
    if (value == 0xAA && low == unlockAddress1 && resetCycles == 0) {
        resetCycles = 1;
        return {"reset, unlock cycle 1", false, false};
    }
    if (value == 0x55 && low == unlockAddress2 && resetCycles == 1) {
        resetCycles = 2;
        return {"reset, unlock cycle 2", false, false};
    }
    if (value == 0xF0 && (resetCycles == 2 || !afterBuffer)) {
        const bool three = resetCycles == 2;
        resetCycles = 0;
        operation = Operation::None;
        fails = false;
        endBusy();
        stage = Stage::Idle;
        base = Base::Read;
        return {
            std::string(three ? (afterBuffer ? "write-to-buffer-abort reset" : "reset (three-cycle form)") : "reset") +
                ": read array",
            false, false};
    }
    resetCycles = 0;
    return {
        hexByte(value) + " while " + state + ": ignored; the chip answers with its status until " +
            (afterBuffer ? "the write-to-buffer-abort reset (0xAA at 0xAAA, 0x55 at 0x555, 0xF0)" : "a reset (0xF0)"),
        true, false};
}

void AmdChip::begin(Operation started, std::chrono::microseconds duration, bool failing) {
    operation = started;
    fails = failing;
    stage = Stage::Idle;
    base = afterOperation;
    toggle6 = false;
    toggle2 = false;
    resetCycles = 0;
    startBusy(duration);
}

std::chrono::microseconds AmdChip::protectedTime(std::chrono::microseconds datasheet) const {
    return chipSettings().programEraseTime.value_or(datasheet);
}

CommandOutcome AmdChip::programByte(std::uint32_t address, std::uint8_t value) {
    changingCommandArrives();
    const std::uint32_t at = chipAddress(address);
    const std::uint32_t sector = model().blockOf(at);
    std::string what = "byte program of " + hexByte(value) + " at " + hexAddress(at);
    polled = value;
    if (isLocked(sector)) {
        const std::chrono::microseconds duration = protectedTime(protectedProgramTime);
        begin(Operation::ProtectedProgram, duration, false);
        return {what + ": " + sectorText(sector) + " is protected; nothing changed, " + busyText(duration), true,
                false};
    }
    const std::chrono::microseconds duration = typicalTime(queryByteProgramTime, std::chrono::microseconds(1));
    if (chipSettings().programFailAddress == at) {
        begin(Operation::Program, duration, true);
        return {what + " (FLASHLOCK_SIM_PROGRAM_FAIL: the byte is not programmed): fails with DQ5 after " +
                    busyText(duration),
                false, false};
    }
    const std::uint8_t old = array()[at];
    CommandOutcome outcome;
    const bool clearsOnly = program(at, value, outcome);
    begin(Operation::Program, duration, !clearsOnly);
    outcome.action = what + ": done, " + busyText(duration);
    if (!clearsOnly) {
        // The embedded algorithm cannot verify a 1 over a 0 and runs into
        // its time limit.
        outcome.action = what + ": programming cannot turn 0 bits into 1 (" + hexByte(old) +
                         " held there): the byte now reads " + hexByte(array()[at]) + " and the chip fails with DQ5 " +
                         "after " + busyText(duration);
        outcome.fault = true;
    }
    return outcome;
}

CommandOutcome AmdChip::eraseSector(std::uint32_t address) {
    changingCommandArrives();
    const std::uint32_t sector = blockOf(address);
    eraseFirst = model().blockBase(sector);
    eraseEnd = eraseFirst + model().blockLength(sector);
    const std::string what = "erase " + sectorText(sector) + " at " + hexAddress(eraseFirst);
    if (isLocked(sector)) {
        const std::chrono::microseconds duration = protectedTime(protectedEraseTime);
        begin(Operation::ProtectedErase, duration, false);
        return {what + ": the sector is protected; nothing changed, " + busyText(duration), true, false};
    }
    const std::chrono::microseconds duration = typicalTime(querySectorEraseTime, std::chrono::milliseconds(1));
    if (chipSettings().eraseFailBlock == sector) {
        begin(Operation::SectorErase, duration, true);
        return {what + " (FLASHLOCK_SIM_ERASE_FAIL: the sector keeps its content): fails with DQ5 after " +
                    busyText(duration),
                false, false};
    }
    CommandOutcome outcome;
    eraseBlock(sector, outcome);
    begin(Operation::SectorErase, duration, false);
    outcome.action =
        what +
        (chipSettings().weakBlock == sector ? " (FLASHLOCK_SIM_WEAK_BLOCK: every " + std::to_string(weakCellSpacing) +
                                                  "th byte keeps 0x00 while the chip reports success)"
                                            : std::string()) +
        ": done, " + busyText(duration);
    return outcome;
}

CommandOutcome AmdChip::eraseChip() {
    changingCommandArrives();
    eraseFirst = 0;
    eraseEnd = model().size;
    CommandOutcome outcome;
    bool failing = false;
    std::string skipped;
    for (std::uint32_t sector = 0; sector < model().blockCount; ++sector) {
        if (isLocked(sector)) {
            skipped += (skipped.empty() ? "" : ", ") + std::to_string(sector);
        } else if (chipSettings().eraseFailBlock == sector) {
            failing = true;
        } else {
            eraseBlock(sector, outcome);
        }
    }
    // The table's chip erase time, or else each sector's one after the other.
    std::chrono::microseconds duration = typicalTime(queryChipEraseTime, std::chrono::milliseconds(1));
    if (!chipSettings().programEraseTime && model().queryAt(queryChipEraseTime) == 0) {
        duration = typicalTime(querySectorEraseTime, std::chrono::milliseconds(1)) *
                   static_cast<std::int64_t>(model().blockCount);
    }
    begin(Operation::ChipErase, duration, failing);
    outcome.action = "chip erase, which flashlock never sends: every unprotected sector erased" +
                     (skipped.empty() ? std::string() : " (protected, kept: sectors " + skipped + ")") +
                     (failing ? ", fails with DQ5 (FLASHLOCK_SIM_ERASE_FAIL) after " : ", ") + busyText(duration);
    outcome.fault = true;
    return outcome;
}

CommandOutcome AmdChip::bufferCount(std::uint32_t address, std::uint8_t value) {
    const std::uint32_t sector = blockOf(address);
    if (sector != bufferSector) {
        return abortBuffer("buffer count written in " + sectorText(sector) + ", not in " + sectorText(bufferSector) +
                               " of the write to buffer",
                           value);
    }
    if (value >= bufferSize()) {
        return abortBuffer("buffer count " + hexByte(value) + " asks for " + std::to_string(value + 1U) +
                               " bytes, more than the " + std::to_string(bufferSize()) + "-byte buffer",
                           value);
    }
    stage = Stage::BufferData;
    bufferLength = value + 1U;
    buffered.clear();
    return {"buffer count: " + std::to_string(bufferLength) + (bufferLength == 1 ? " byte" : " bytes"), false, false};
}

CommandOutcome AmdChip::bufferLoad(std::uint32_t address, std::uint8_t value) {
    if (buffered.size() == bufferLength) {
        if (value == 0x29 && blockOf(address) == bufferSector) {
            return programBuffer();
        }
        return abortBuffer("after the " + std::to_string(bufferLength) + " loads " + hexByte(value) + " at " +
                               hexAddress(chipAddress(address)) + ", not 0x29 in " + sectorText(bufferSector),
                           polled);
    }
    const std::uint32_t at = chipAddress(address);
    const std::uint32_t page = at & ~(bufferSize() - 1U);
    if (buffered.empty()) {
        bufferPage = page;
    }
    const std::string what = "buffer byte " + std::to_string(buffered.size() + 1) + " of " +
                             std::to_string(bufferLength) + " at " + hexAddress(at);
    if (model().blockOf(at) != bufferSector) {
        return abortBuffer(what + " lies outside " + sectorText(bufferSector) + " of the write to buffer", value);
    }
    if (page != bufferPage) {
        return abortBuffer(what + " lies outside the buffer's page " + hexAddress(bufferPage) + " to " +
                               hexAddress(bufferPage + bufferSize() - 1U),
                           value);
    }
    buffered.emplace_back(at, value);
    polled = value;
    return {what, false, false};
}

CommandOutcome AmdChip::programBuffer() {
    changingCommandArrives();
    const std::string what = "buffer program of " + std::to_string(bufferLength) +
                             (bufferLength == 1 ? " byte in page " : " bytes in page ") + hexAddress(bufferPage);
    if (isLocked(bufferSector)) {
        const std::chrono::microseconds duration = protectedTime(protectedProgramTime);
        begin(Operation::ProtectedProgram, duration, false);
        return {what + ": " + sectorText(bufferSector) + " is protected; nothing changed, " + busyText(duration), true,
                false};
    }
    // The chip programs its buffer in address order; a later load of the
    // same address replaced the earlier one, and locations not loaded keep
    // their data.
    std::stable_sort(buffered.begin(), buffered.end(),
                     [](const auto& left, const auto& right) { return left.first < right.first; });
    CommandOutcome outcome;
    std::string raised;
    bool failed = false;
    for (std::size_t index = 0; index < buffered.size(); ++index) {
        const auto [at, byte] = buffered[index];
        if (index + 1 < buffered.size() && buffered[index + 1].first == at) {
            continue;
        }
        if (chipSettings().programFailAddress == at) {
            failed = true;
            break;
        }
        if (!program(at, byte, outcome) && raised.empty()) {
            raised = hexAddress(at);
        }
    }
    const std::chrono::microseconds duration = typicalTime(queryBufferProgramTime, std::chrono::microseconds(1));
    begin(Operation::Buffer, duration, failed || !raised.empty());
    if (failed) {
        outcome.action = what + " (FLASHLOCK_SIM_PROGRAM_FAIL at " + hexAddress(*chipSettings().programFailAddress) +
                         ": the bytes below it are programmed, it and those above it are not): fails with DQ5 after " +
                         busyText(duration);
    } else {
        outcome.action = what + ": done, " + busyText(duration);
    }
    if (!raised.empty()) {
        outcome.action += "; but programming cannot turn 0 bits into 1 (first at " + raised +
                          "): those bytes now read old AND new, and the chip fails with DQ5";
        outcome.fault = true;
    }
    return outcome;
}

CommandOutcome AmdChip::abortBuffer(const std::string& what, std::uint8_t lastData) {
    polled = lastData;
    begin(Operation::Abort, std::chrono::microseconds(0), false);
    endBusy();
    base = Base::Read;
    return {what +
                ": write to buffer aborted (DQ1 = 1) until the write-to-buffer-abort reset (0xAA at 0xAAA, 0x55 "
                "at 0x555, 0xF0); nothing programmed",
            true, false};
}

}  // namespace flashsim
