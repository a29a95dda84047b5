#include "flash/intel/IntelCommandSet.h"

#include <algorithm>

#include "flash/intel/StatusRegister.h"

namespace {

constexpr std::uint8_t cmdReadArray = 0xFF;
constexpr std::uint8_t cmdReadIdentifier = 0x90;
// Taken at any address; sent where the identification sends it.
constexpr std::uint8_t cmdQuery = 0x98;
constexpr std::uint32_t queryAddress = 0xAA;
constexpr std::uint8_t cmdClearStatus = 0x50;
constexpr std::uint8_t cmdLockSetup = 0x60;
constexpr std::uint8_t cmdSetLockConfirm = 0x01;
// Confirms a clear of lock bits, a block erase and a buffer program alike.
constexpr std::uint8_t cmdConfirm = 0xD0;
constexpr std::uint8_t cmdBlockErase = 0x20;
constexpr std::uint8_t cmdByteProgram = 0x40;
constexpr std::uint8_t cmdWriteToBuffer = 0xE8;

// In identifier mode, word 2 of a block (byte 4 in byte mode) reads its lock
// bit, and word 3 of the chip (byte 6) the J5 master lock bit; parts without
// one read 0 there.
constexpr std::uint32_t lockStatusOffset = 4;
constexpr std::uint32_t masterLockAddress = 6;
constexpr std::uint8_t lockBit = 0x01;

}  // namespace

IntelCommandSet::IntelCommandSet(FlashChip& chip, const Geometry& geometry)
    : CommandSet(chip, geometry),
      bufferSize(geometry.writeBufferSize),
      eraseMicroseconds(timing::deadline(geometry.timing.blockEraseTypical, geometry.timing.blockEraseMaximum, 1000,
                                         intelTiming::blockEraseFloorMicroseconds)),
      bufferMicroseconds(timing::deadline(geometry.timing.bufferProgramTypical, geometry.timing.bufferProgramMaximum, 1,
                                          intelTiming::bufferProgramFloorMicroseconds)),
      byteMicroseconds(timing::deadline(geometry.timing.byteProgramTypical, geometry.timing.byteProgramMaximum, 1,
                                        intelTiming::byteProgramFloorMicroseconds)) {}

ChipIdentity IntelCommandSet::readIdentity(FlashChip& chip) {
    chip.writeAt(0, cmdReadIdentifier);
    ChipIdentity identity;
    identity.manufacturer = chip.readAt(0);
    identity.device.push_back(chip.readAt(2));
    chip.writeAt(0, cmdReadArray);
    return identity;
}

void IntelCommandSet::leaveQuery(FlashChip& chip) {
    chip.writeAt(0, cmdReadArray);
}

std::string IntelCommandSet::name() const {
    return geometry().commandSet == cfiCommandSet::intelExtended ? "Intel/Sharp extended" : "Intel standard";
}

void IntelCommandSet::readArray() {
    bus().writeAt(0, cmdReadArray);
}

void IntelCommandSet::enterQuery() {
    bus().writeAt(queryAddress, cmdQuery);
}

LockState IntelCommandSet::readProtection() {
    bus().writeAt(0, cmdReadIdentifier);
    const std::vector<Block>& blocks = geometry().blocks;
    LockState state(blocks.size());
    std::transform(blocks.begin(), blocks.end(), state.begin(),
                   [this](const Block& block) { return (bus().readAt(block.base + lockStatusOffset) & lockBit) != 0; });
    bus().writeAt(0, cmdReadArray);
    return state;
}

LockAbility IntelCommandSet::lockAbility() const {
    return geometry().instantIndividualLocking() ? LockAbility::PerBlock : LockAbility::ClearAll;
}

bool IntelCommandSet::masterLockSet() {
    bus().writeAt(0, cmdReadIdentifier);
    const bool set = (bus().readAt(masterLockAddress) & lockBit) != 0;
    bus().writeAt(0, cmdReadArray);
    return set;
}

LockStep IntelCommandSet::setLock(const Block& block) {
    return lockCommand(block.base, cmdSetLockConfirm);
}

LockStep IntelCommandSet::clearLock(const Block& block) {
    return lockCommand(block.base, cmdConfirm);
}

LockStep IntelCommandSet::clearAllLocks() {
    return lockCommand(0, cmdConfirm);
}

LockStep IntelCommandSet::lockCommand(std::uint32_t address, std::uint8_t confirm) {
    const bool clear = confirm == cmdConfirm;
    const std::uint32_t interval = clear ? intelTiming::clearPollMicroseconds : intelTiming::setPollMicroseconds;
    LockStep step;
    step.deadlineMicroseconds = clear ? intelTiming::clearDeadlineMicroseconds : intelTiming::setDeadlineMicroseconds;
    FlashChip& chip = bus();
    chip.writeAt(0, cmdClearStatus);
    chip.writeAt(address, cmdLockSetup);
    chip.writeAt(address, confirm);
    // The chip answers with its status register until the next command.
    std::uint8_t value = chip.readAgain();
    for (std::uint32_t waited = 0; !status::isReady(value); waited += interval) {
        if (waited >= step.deadlineMicroseconds) {
            step.ok = false;
            step.timedOut = true;
            step.status = value;
            // Watched a while longer, at the clear's pace, to learn whether
            // the chip is stuck or only slow.
            for (std::uint32_t after = 0; !status::isReady(value); after += intelTiming::clearPollMicroseconds) {
                if (after >= intelTiming::lateMicroseconds) {
                    step.leftBusy = true;
                    markBusy();
                    return step;
                }
                chip.waitMicroseconds(intelTiming::clearPollMicroseconds);
                value = chip.readAgain();
            }
            step.finishedLate = true;
            if (status::reportsError(value)) {
                chip.writeAt(0, cmdClearStatus);
            }
            return step;
        }
        chip.waitMicroseconds(interval);
        value = chip.readAgain();
    }
    step.status = value;
    if (status::reportsError(value)) {
        step.ok = false;
        chip.writeAt(0, cmdClearStatus);
        // SR.1 means a master lock only where the chip has one set: asked
        // now, from the chip itself.
        if ((value & status::protectedDevice) != 0) {
            step.masterLocked = masterLockSet();
        }
    }
    return step;
}

bool IntelCommandSet::await(std::uint32_t address, std::uint8_t bit, std::uint32_t interval, std::uint8_t again,
                            OperationResult& result) {
    FlashChip& chip = bus();
    std::uint8_t value = chip.readAgain();
    for (std::uint32_t waited = 0; (value & bit) == 0; waited += interval) {
        if (waited >= result.deadlineMicroseconds) {
            markBusy();
            result.ok = false;
            result.timedOut = true;
            result.status = value;
            return false;
        }
        chip.waitMicroseconds(interval);
        if (again != 0) {
            chip.writeAt(address, again);
        }
        value = chip.readAgain();
    }
    result.status = value;
    return true;
}

void IntelCommandSet::poll(std::uint32_t address, std::uint32_t interval, OperationResult& result) {
    if (await(address, status::ready, interval, 0, result) && status::reportsError(result.status)) {
        result.ok = false;
        bus().writeAt(address, cmdClearStatus);
    }
}

OperationResult IntelCommandSet::erase(const Block& block) {
    OperationResult result{OperationResult::Kind::Erase, block.base};
    result.deadlineMicroseconds = eraseMicroseconds;
    FlashChip& chip = bus();
    chip.writeAt(block.base, cmdClearStatus);
    chip.writeAt(block.base, cmdBlockErase);
    chip.writeAt(block.base, cmdConfirm);
    poll(block.base, intelTiming::erasePollMicroseconds, result);
    return result;
}

std::uint32_t IntelCommandSet::programUnit() const {
    return std::max<std::uint32_t>(bufferSize, 1);
}

OperationResult IntelCommandSet::program(std::uint32_t address, const std::uint8_t* data, std::uint32_t count) {
    if (bufferSize > 1) {
        return programBuffer(address, data, count);
    }
    OperationResult result{OperationResult::Kind::ByteProgram, address};
    for (std::uint32_t i = 0; i < count && result.ok; ++i) {
        // NOLINTNEXTLINE(cppcoreguidelines-pro-bounds-pointer-arithmetic)
        result = programByte(address + i, data[i]);
    }
    return result;
}

OperationResult IntelCommandSet::programBuffer(std::uint32_t address, const std::uint8_t* data, std::uint32_t count) {
    OperationResult result{OperationResult::Kind::BufferProgram, address};
    result.deadlineMicroseconds = bufferMicroseconds;
    FlashChip& chip = bus();
    chip.writeAt(address, cmdClearStatus);
    chip.writeAt(address, cmdWriteToBuffer);
    // The chip answers with its extended status, XSR.7 once a buffer is free;
    // until then the setup is written again. Neither count nor data may
    // follow a buffer never offered: the chip would take them as commands.
    if (!await(address, status::bufferAvailable, intelTiming::programPollMicroseconds, cmdWriteToBuffer, result)) {
        result.bufferRefused = true;
        return result;
    }
    // In byte mode the count is bytes less one.
    chip.writeAt(address, static_cast<std::uint8_t>(count - 1));
    for (std::uint32_t i = 0; i < count; ++i) {
        // NOLINTNEXTLINE(cppcoreguidelines-pro-bounds-pointer-arithmetic)
        chip.writeAt(address + i, data[i]);
    }
    chip.writeAt(address, cmdConfirm);
    poll(address, intelTiming::programPollMicroseconds, result);
    return result;
}

OperationResult IntelCommandSet::programByte(std::uint32_t address, std::uint8_t value) {
    OperationResult result{OperationResult::Kind::ByteProgram, address};
    result.deadlineMicroseconds = byteMicroseconds;
    FlashChip& chip = bus();
    chip.writeAt(address, cmdClearStatus);
    chip.writeAt(address, cmdByteProgram);
    chip.writeAt(address, value);
    poll(address, intelTiming::programPollMicroseconds, result);
    return result;
}

std::string IntelCommandSet::explain(const OperationResult& result) const {
    const status::Operation operation =
        result.kind == OperationResult::Kind::Erase ? status::Operation::Erase : status::Operation::Program;
    return status::describe(result.status, false, operation);
}

std::string IntelCommandSet::explainLock(const LockStep& step, bool /*clearing*/) const {
    return status::describe(step.status, step.masterLocked);
}
