#include "flash/Programmer.h"

#include <algorithm>

#include "flash/CommandSet.h"
#include "flash/StatusRegister.h"

namespace writeTiming {

std::uint32_t deadline(std::uint8_t typical, std::uint8_t maximum, std::uint32_t unitMicroseconds,
                       std::uint32_t floor) {
    // Garbage exponents would overflow; no chip takes longer than a minute.
    constexpr std::uint64_t ceiling = 60000000;
    if (typical == 0 || typical > 31 || maximum > 31) {
        return floor;
    }
    const std::uint64_t typicalMicroseconds = (std::uint64_t{1} << typical) * unitMicroseconds;
    const std::uint64_t factor = maximum == 0 ? defaultMaximumFactor : std::uint64_t{1} << maximum;
    const std::uint64_t most = typicalMicroseconds > ceiling / factor ? ceiling : typicalMicroseconds * factor;
    return std::max(static_cast<std::uint32_t>(most), floor);
}

}  // namespace writeTiming

Programmer::Programmer(FlashChip& chip, const Geometry& geometry)
    : chip(&chip),
      bufferSize(geometry.writeBufferSize),
      eraseMicroseconds(writeTiming::deadline(geometry.timing.blockEraseTypical, geometry.timing.blockEraseMaximum,
                                              1000, writeTiming::blockEraseFloorMicroseconds)),
      bufferMicroseconds(writeTiming::deadline(geometry.timing.bufferProgramTypical,
                                               geometry.timing.bufferProgramMaximum, 1,
                                               writeTiming::bufferProgramFloorMicroseconds)),
      byteMicroseconds(writeTiming::deadline(geometry.timing.byteProgramTypical, geometry.timing.byteProgramMaximum, 1,
                                             writeTiming::byteProgramFloorMicroseconds)) {}

bool Programmer::await(std::uint32_t address, std::uint8_t bit, std::uint32_t interval, std::uint8_t again,
                       OperationResult& result) {
    std::uint8_t value = chip->readAt(address);
    for (std::uint32_t waited = 0; (value & bit) == 0; waited += interval) {
        if (waited >= result.deadlineMicroseconds) {
            busy = true;
            result.ok = false;
            result.timedOut = true;
            result.status = value;
            return false;
        }
        chip->waitMicroseconds(interval);
        if (again != 0) {
            chip->writeAt(address, again);
        }
        value = chip->readAt(address);
    }
    result.status = value;
    return true;
}

void Programmer::poll(std::uint32_t address, std::uint32_t interval, OperationResult& result) {
    if (await(address, status::ready, interval, 0, result) && status::reportsError(result.status)) {
        result.ok = false;
        chip->writeAt(address, cmdClearStatus);
    }
}

OperationResult Programmer::eraseBlock(std::uint32_t base) {
    OperationResult result{OperationResult::Kind::Erase, base};
    result.deadlineMicroseconds = eraseMicroseconds;
    chip->writeAt(base, cmdClearStatus);
    chip->writeAt(base, cmdBlockErase);
    chip->writeAt(base, cmdConfirm);
    poll(base, writeTiming::erasePollMicroseconds, result);
    return result;
}

OperationResult Programmer::program(std::uint32_t address, const std::uint8_t* data, std::uint32_t count) {
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

OperationResult Programmer::programBuffer(std::uint32_t address, const std::uint8_t* data, std::uint32_t count) {
    OperationResult result{OperationResult::Kind::BufferProgram, address};
    result.deadlineMicroseconds = bufferMicroseconds;
    chip->writeAt(address, cmdClearStatus);
    chip->writeAt(address, cmdWriteToBuffer);
    // The chip answers with its extended status, XSR.7 once a buffer is free;
    // until then the setup is written again. Neither count nor data may
    // follow a buffer never offered: the chip would take them as commands.
    if (!await(address, status::bufferAvailable, writeTiming::programPollMicroseconds, cmdWriteToBuffer, result)) {
        result.bufferRefused = true;
        return result;
    }
    // In byte mode the count is bytes less one.
    chip->writeAt(address, static_cast<std::uint8_t>(count - 1));
    for (std::uint32_t i = 0; i < count; ++i) {
        // NOLINTNEXTLINE(cppcoreguidelines-pro-bounds-pointer-arithmetic)
        chip->writeAt(address + i, data[i]);
    }
    chip->writeAt(address, cmdConfirm);
    poll(address, writeTiming::programPollMicroseconds, result);
    return result;
}

OperationResult Programmer::programByte(std::uint32_t address, std::uint8_t value) {
    OperationResult result{OperationResult::Kind::ByteProgram, address};
    result.deadlineMicroseconds = byteMicroseconds;
    chip->writeAt(address, cmdClearStatus);
    chip->writeAt(address, cmdByteProgram);
    chip->writeAt(address, value);
    poll(address, writeTiming::programPollMicroseconds, result);
    return result;
}
