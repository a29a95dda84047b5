#include "iolib/sim/Board.h"

namespace flashsim {

namespace {

constexpr std::uint32_t addressMask = 0xFFFFFF;
constexpr unsigned addressBits = 24;
// Inputs that no board drives read as 1, as pulled-up inputs do.
constexpr std::uint8_t unusedInputs = 0x3F;
// An open port: everything pulled up except Busy, which the port inverts.
constexpr std::uint8_t openPortStatus = 0x7F;
// A load pulse that never reached the chip latches the idle, pulled-up bus.
constexpr std::uint8_t floatingBus = 0xFF;

}  // namespace

std::string_view boardName(BoardType type) {
    switch (type) {
    case BoardType::Willem:
        return "willem";
    case BoardType::Zantrel4v4:
        return "zantrel4v4";
    case BoardType::Zantrel4v5:
        return "zantrel4v5";
    case BoardType::None:
        break;
    }
    return "none";
}

std::string_view addressRegisterName(AddressRegister kind) {
    return kind == AddressRegister::Latched ? "latched" : "shift";
}

std::uint32_t Board::cycleAddress() {
    if (latching == AddressRegister::Shift || clocksSinceCycle >= addressBits) {
        latched = shiftRegister;
    }
    clocksSinceCycle = 0;
    return latched;
}

std::optional<BusCycle> Board::writeData(std::uint8_t value, const ChipRead& readChip) {
    const auto rising = static_cast<std::uint8_t>(value & ~dataLines);
    const auto falling = static_cast<std::uint8_t>(dataLines & ~value);
    dataLines = value;
    if (type == BoardType::None) {
        return std::nullopt;
    }
    if (probing()) {
        if ((rising & line::addressClock) != 0) {
            readsSinceProbeClock = 0;
        }
        return std::nullopt;
    }
    // While the data byte is driven its bits are not clocks.
    if (!serialLogicEnabled()) {
        return std::nullopt;
    }
    if ((rising & line::addressClock) != 0) {
        const std::uint32_t bit = (value & line::addressBit) != 0 ? 1 : 0;
        shiftRegister = ((shiftRegister << 1U) | bit) & addressMask;
        clocksSinceCycle = clocksSinceCycle < addressBits ? clocksSinceCycle + 1 : addressBits;
    }
    // The read clock acts on its falling edge: after a data byte with bit 2
    // set the line is already high when the load pulse begins.
    if ((falling & line::readClock) == 0) {
        return std::nullopt;
    }
    if ((value & line::addressBit) == 0) {
        readRegister = static_cast<std::uint8_t>(readRegister << 1U);
        return std::nullopt;
    }
    const std::uint32_t seen = cycleAddress();
    if (!accessOpen()) {
        readRegister = floatingBus;
        return BusCycle{BusCycle::Kind::BlockedRead, seen, readRegister};
    }
    readRegister = readChip(seen);
    return BusCycle{BusCycle::Kind::Read, seen, readRegister};
}

std::optional<BusCycle> Board::writeControl(std::uint8_t value) {
    const auto falling = static_cast<std::uint8_t>(controlLines & ~value);
    controlLines = value;
    if (type == BoardType::None) {
        return std::nullopt;
    }
    // The probe opens by dropping bit 0 and bit 3 in one write: that is no
    // write cycle, so the new level of bit 0 decides.
    if ((falling & line::writeStrobe) == 0 || probing()) {
        return std::nullopt;
    }
    const std::uint32_t seen = cycleAddress();
    if ((value & line::dataDrive) == 0) {
        return BusCycle{BusCycle::Kind::UndrivenWrite, seen, dataLines};
    }
    if (!accessOpen()) {
        return BusCycle{BusCycle::Kind::BlockedWrite, seen, dataLines};
    }
    return BusCycle{BusCycle::Kind::Write, seen, dataLines};
}

std::uint8_t Board::readStatus() {
    const std::uint8_t value = peekStatus();
    if (probing()) {
        ++readsSinceProbeClock;
    }
    return value;
}

std::uint8_t Board::peekStatus() const {
    if (type == BoardType::None) {
        return openPortStatus;
    }
    std::uint8_t value = unusedInputs;
    if ((readRegister & 0x80U) == 0) {
        value |= line::serialOut;
    }
    if (probing() && probeAnswerBit()) {
        value |= line::probeAnswer;
    }
    return value;
}

// Each board's answer to the probe, as a function of the lines alone (and,
// for the Willem board, of the reads since the clock rose), so that the
// answer never depends on how long the program's waits really took.
bool Board::probeAnswerBit() const {
    const bool clockHigh = (dataLines & line::addressClock) != 0;
    switch (type) {
    case BoardType::Willem:
        // A one-shot fired by the clock: the first read after the rising
        // edge still sees it, the next one sees it expired.
        return !(clockHigh && readsSinceProbeClock > 0);
    case BoardType::Zantrel4v4:
        // Data bit 0 looped back inverted.
        return !clockHigh;
    case BoardType::Zantrel4v5:
        // The same loop, gated by Control bit 1.
        return !clockHigh && (controlLines & line::dataDrive) != 0;
    case BoardType::None:
        break;
    }
    return false;
}

}  // namespace flashsim
