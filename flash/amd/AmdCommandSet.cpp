#include "flash/amd/AmdCommandSet.h"

#include <algorithm>

namespace {

// Byte-mode command addresses: word 0x555 and 0x2AA become 0xAAA and 0x555.
constexpr std::uint32_t unlockAddress1 = 0xAAA;
constexpr std::uint32_t unlockAddress2 = 0x555;
constexpr std::uint8_t cmdUnlock1 = 0xAA;
constexpr std::uint8_t cmdUnlock2 = 0x55;
constexpr std::uint8_t cmdReset = 0xF0;
constexpr std::uint8_t cmdAutoselect = 0x90;
// Word 0x55 in byte mode; one cycle, no unlock.
constexpr std::uint8_t cmdQuery = 0x98;
constexpr std::uint32_t queryAddress = 0xAA;
constexpr std::uint8_t cmdProgram = 0xA0;
constexpr std::uint8_t cmdEraseSetup = 0x80;
constexpr std::uint8_t cmdSectorErase = 0x30;
constexpr std::uint8_t cmdWriteToBuffer = 0x25;
constexpr std::uint8_t cmdBufferConfirm = 0x29;

// Autoselect addresses in byte mode.
constexpr std::uint32_t makerAddress = 0x00;
constexpr std::uint32_t deviceAddress = 0x02;
constexpr std::uint32_t device2Address = 0x1C;
constexpr std::uint32_t device3Address = 0x1E;
constexpr std::uint32_t protectionOffset = 0x04;
// Each JEDEC bank of maker codes one step (word 0x100) further.
constexpr std::uint32_t bankStride = 0x200;
constexpr std::uint8_t continuationCode = 0x7F;
constexpr std::uint8_t threeByteDevice = 0x7E;
// More continuation codes than any maker uses: garbage.
constexpr std::uint8_t mostBanks = 8;
// Some parts are slow to answer autoselect; U-Boot waits this long.
constexpr std::uint32_t autoselectMicroseconds = 1000;

constexpr std::uint8_t dq7 = 0x80;
constexpr std::uint8_t dq5 = 0x20;
constexpr std::uint8_t dq1 = 0x02;
constexpr std::uint8_t erased = 0xFF;

// Deadlines: the chip's CFI maximum, never less than these. Linux MTD gives
// a buffer at least 2 ms and a sector erase 20 s; the datasheets' byte
// program maximum is a few hundred microseconds.
constexpr std::uint32_t byteProgramFloorMicroseconds = 1000;
constexpr std::uint32_t bufferProgramFloorMicroseconds = 2000;
constexpr std::uint32_t sectorEraseFloorMicroseconds = 20000000;
constexpr std::uint32_t programPollMicroseconds = 10;
constexpr std::uint32_t erasePollMicroseconds = 1000;

}  // namespace

AmdCommandSet::AmdCommandSet(FlashChip& chip, const Geometry& geometry)
    : CommandSet(chip, geometry),
      bufferSize(geometry.writeBufferSize),
      eraseMicroseconds(timing::deadline(geometry.timing.blockEraseTypical, geometry.timing.blockEraseMaximum, 1000,
                                         sectorEraseFloorMicroseconds)),
      bufferMicroseconds(timing::deadline(geometry.timing.bufferProgramTypical, geometry.timing.bufferProgramMaximum, 1,
                                          bufferProgramFloorMicroseconds)),
      byteMicroseconds(timing::deadline(geometry.timing.byteProgramTypical, geometry.timing.byteProgramMaximum, 1,
                                        byteProgramFloorMicroseconds)) {}

ChipIdentity AmdCommandSet::readIdentity(FlashChip& chip) {
    chip.writeAt(unlockAddress1, cmdUnlock1);
    chip.writeAt(unlockAddress2, cmdUnlock2);
    chip.writeAt(unlockAddress1, cmdAutoselect);
    chip.waitMicroseconds(autoselectMicroseconds);
    ChipIdentity identity;
    identity.manufacturer = chip.readAt(makerAddress);
    while (identity.manufacturer == continuationCode && identity.bank < mostBanks) {
        ++identity.bank;
        identity.manufacturer = chip.readAt(makerAddress + identity.bank * bankStride);
    }
    identity.device.push_back(chip.readAt(deviceAddress));
    // The three bytes belong together: the first alone names no part.
    if (identity.device.front() == threeByteDevice) {
        identity.device.push_back(chip.readAt(device2Address));
        identity.device.push_back(chip.readAt(device3Address));
    }
    chip.writeAt(0, cmdReset);
    return identity;
}

void AmdCommandSet::leaveQuery(FlashChip& chip) {
    chip.writeAt(0, cmdReset);
    chip.writeAt(0, cmdReset);
}

std::string AmdCommandSet::name() const {
    return "AMD/Fujitsu standard";
}

void AmdCommandSet::readArray() {
    bus().writeAt(0, cmdReset);
}

void AmdCommandSet::enterQuery() {
    bus().writeAt(queryAddress, cmdQuery);
}

void AmdCommandSet::unlockCycles() {
    bus().writeAt(unlockAddress1, cmdUnlock1);
    bus().writeAt(unlockAddress2, cmdUnlock2);
}

LockState AmdCommandSet::readProtection() {
    unlockCycles();
    bus().writeAt(unlockAddress1, cmdAutoselect);
    bus().waitMicroseconds(autoselectMicroseconds);
    const std::vector<Block>& blocks = geometry().blocks;
    LockState state(blocks.size());
    std::transform(blocks.begin(), blocks.end(), state.begin(),
                   [this](const Block& block) { return (bus().readAt(block.base + protectionOffset) & 0x01U) != 0; });
    bus().writeAt(0, cmdReset);
    return state;
}

namespace {

// Nothing is sent: these parts change protection only by their own means.
LockStep refused() {
    LockStep step;
    step.ok = false;
    return step;
}

}  // namespace

LockStep AmdCommandSet::setLock(const Block& /*block*/) {
    return refused();
}

LockStep AmdCommandSet::clearLock(const Block& /*block*/) {
    return refused();
}

LockStep AmdCommandSet::clearAllLocks() {
    return refused();
}

void AmdCommandSet::poll(std::uint32_t address, bool shifted, std::uint8_t expected, std::uint32_t interval,
                         bool buffer, OperationResult& result) {
    FlashChip& chip = bus();
    const auto read = [&chip, address, &shifted] {
        if (shifted) {
            return chip.readAgain();
        }
        shifted = true;
        return chip.readAt(address);
    };
    const auto done = [expected](std::uint8_t value) { return ((value ^ expected) & dq7) == 0; };
    std::uint8_t value = read();
    for (std::uint32_t waited = 0;; waited += interval) {
        if (done(value)) {
            // DQ7 may turn a read before the other bits do: the byte counts
            // as read once the next read has it too.
            result.status = chip.readAgain();
            return;
        }
        if ((value & (dq5 | dq1)) != 0) {
            // DQ7 may have turned just as DQ5 rose: only a second read that
            // still shows it busy is a failure.
            const std::uint8_t again = chip.readAgain();
            if (done(again)) {
                result.status = chip.readAgain();
                return;
            }
            result.ok = false;
            result.status = again;
            // A failed or aborted buffer needs the three-cycle reset; a
            // byte program or erase the plain one.
            if (buffer) {
                unlockCycles();
                chip.writeAt(unlockAddress1, cmdReset);
            } else {
                chip.writeAt(address, cmdReset);
            }
            return;
        }
        if (waited >= result.deadlineMicroseconds) {
            // A chip still busy ignores a reset: nothing more is sent.
            markBusy();
            result.ok = false;
            result.timedOut = true;
            result.status = value;
            return;
        }
        chip.waitMicroseconds(interval);
        value = read();
    }
}

OperationResult AmdCommandSet::erase(const Block& block) {
    OperationResult result{OperationResult::Kind::Erase, block.base};
    result.deadlineMicroseconds = eraseMicroseconds;
    unlockCycles();
    bus().writeAt(unlockAddress1, cmdEraseSetup);
    unlockCycles();
    bus().writeAt(block.base, cmdSectorErase);
    // The register holds the sector's base, where DQ7 reads 0 until it is erased.
    poll(block.base, true, erased, erasePollMicroseconds, false, result);
    return result;
}

std::uint32_t AmdCommandSet::programUnit() const {
    return std::max<std::uint32_t>(bufferSize, 1);
}

OperationResult AmdCommandSet::program(std::uint32_t address, const std::uint8_t* data, std::uint32_t count) {
    if (bufferSize > 1) {
        return programBuffer(address, data, count);
    }
    OperationResult result{OperationResult::Kind::ByteProgram, address};
    for (std::uint32_t i = 0; i < count && result.ok; ++i) {
        // A byte of 0xFF changes nothing, and programming one over erased
        // cells has corrupted other bytes on some parts: such bytes are left alone.
        // NOLINTNEXTLINE(cppcoreguidelines-pro-bounds-pointer-arithmetic)
        if (data[i] != erased) {
            // NOLINTNEXTLINE(cppcoreguidelines-pro-bounds-pointer-arithmetic)
            result = programByte(address + i, data[i]);
        }
    }
    return result;
}

OperationResult AmdCommandSet::programByte(std::uint32_t address, std::uint8_t value) {
    OperationResult result{OperationResult::Kind::ByteProgram, address};
    result.deadlineMicroseconds = byteMicroseconds;
    unlockCycles();
    bus().writeAt(unlockAddress1, cmdProgram);
    bus().writeAt(address, value);
    poll(address, true, value, programPollMicroseconds, false, result);
    return result;
}

OperationResult AmdCommandSet::programBuffer(std::uint32_t address, const std::uint8_t* data, std::uint32_t count) {
    OperationResult result{OperationResult::Kind::BufferProgram, address};
    result.deadlineMicroseconds = bufferMicroseconds;
    FlashChip& chip = bus();
    unlockCycles();
    // The setup, the count and the confirm go to an address in the sector:
    // the buffer's own start.
    chip.writeAt(address, cmdWriteToBuffer);
    // In byte mode the count is bytes less one.
    chip.writeAt(address, static_cast<std::uint8_t>(count - 1));
    for (std::uint32_t i = 0; i < count; ++i) {
        // NOLINTNEXTLINE(cppcoreguidelines-pro-bounds-pointer-arithmetic)
        chip.writeAt(address + i, data[i]);
    }
    chip.writeAt(address, cmdBufferConfirm);
    // Only the last byte loaded polls right.
    const std::uint32_t last = address + count - 1;
    // NOLINTNEXTLINE(cppcoreguidelines-pro-bounds-pointer-arithmetic)
    poll(last, false, data[count - 1], programPollMicroseconds, true, result);
    return result;
}

std::string AmdCommandSet::explain(const OperationResult& result) const {
    if (result.kind == OperationResult::Kind::BufferProgram && (result.status & dq1) != 0) {
        return "the chip aborted the write buffer (DQ1): run the command again; if it keeps failing, check the "
               "board's cable and power";
    }
    if (result.kind == OperationResult::Kind::Erase) {
        return "erase failure: the chip gave up on the sector (DQ5, its time limit exceeded): run the command "
               "again; a sector that keeps failing is worn out";
    }
    return "program failure: the chip gave up on the bytes (DQ5, its time limit exceeded): run the command again; "
           "a sector that keeps failing is worn out";
}

std::string AmdCommandSet::explainLock(const LockStep& /*step*/, bool /*clearing*/) const {
    return "this chip's sector protection can only be changed by the chip's own means (12 V, or its own "
           "protection commands), which flashlock does not send";
}
