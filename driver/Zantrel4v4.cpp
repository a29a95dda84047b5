#include "driver/Zantrel4v4.h"

#include <algorithm>
#include <limits>

#include "driver/PortIoLibrary.h"

namespace {

constexpr std::uint8_t statusSerialData = 0x40;
constexpr std::uint8_t statusProbe = 0x80;

constexpr std::int32_t usable = 1;
constexpr std::int32_t notUsable = -1;

// Enough readings to bring the counter's code and data into the caches, and
// enough pairs that one of them runs without an interrupt or a preemption.
constexpr int warmUpReadings = 8;
constexpr int measuredPairs = 16;

// Rounded up, so that a counter whose ticks do not divide a microsecond still
// waits the whole time; a counter too fast to count the wait in 63 bits waits
// the longest it can.
std::int64_t ticksFor(std::uint32_t microseconds, std::int64_t frequency) {
    constexpr auto longest = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
    const auto perSecond = static_cast<std::uint64_t>(frequency);
    const std::uint64_t perMicrosecond = perSecond / 1000000;
    if (microseconds != 0 && perMicrosecond >= longest / microseconds) {
        return std::numeric_limits<std::int64_t>::max();
    }
    const std::uint64_t fraction = ((perSecond % 1000000) * microseconds + 999999) / 1000000;
    return static_cast<std::int64_t>(perMicrosecond * microseconds + fraction);
}

}  // namespace

std::int64_t counterReadingCost(platform::TickCounter& counter) {
    for (int reading = 0; reading < warmUpReadings; ++reading) {
        counter.now();
    }
    std::int64_t smallest = std::numeric_limits<std::int64_t>::max();
    for (int pair = 0; pair < measuredPairs; ++pair) {
        const std::int64_t first = counter.now();
        smallest = std::min(smallest, counter.now() - first);
    }
    return smallest;
}

Zantrel4v4::Zantrel4v4(std::int32_t portBase, platform::TickCounter& counter, const std::string& modulePath)
    : ioState(notUsable),
      portBase(portBase),
      counterFrequency(counter.frequency()),
      readingTicks(counterReadingCost(counter)),
      counter(&counter) {
    const std::string module =
        "the port-I/O module " + (modulePath.empty() ? platform::moduleFileName("io") : modulePath);
    std::string reason;
    if (!modulePath.empty() && loadPortIoLibraryFile(modulePath, reason) != 0) {
        problem = module + " could not be loaded (" + reason + "); build it again, or install flashlock again.";
    } else if (modulePath.empty() && loadPortIoLibrary() != 0) {
        problem = platform::moduleLoadProblem("io");
    } else if (portIoLibrary.entry(PortIoEntry::IsDriverInstalled) == nullptr) {
        problem = module +
                  " does not export IsDriverInstalled, so it is not a port-I/O library; put a port-I/O "
                  "library in its place.";
    } else if (portIoLibrary.portOut() == nullptr || portIoLibrary.portIn() == nullptr) {
        // Marked usable it would have the driver call an empty slot.
        problem = module + " lacks " + (portIoLibrary.portOut() == nullptr ? "PortOut" : "PortIn") +
                  "; put a complete port-I/O library in its place.";
    } else {
        ioState = usable;
    }
    if (ioState != usable) {
        return;
    }
    changeLines(PortRegister::Data, 0xFF00);
    changeLines(PortRegister::Status, 0xFF00);
    changeLines(PortRegister::Control, 0xFF09);
    changeLines(PortRegister::Control, 0x0400);
}

Zantrel4v4::~Zantrel4v4() {
    // Without a usable module there may be no PortOut to call.
    if (ioState == usable) {
        changeLines(PortRegister::Control, 0x0209);
        changeLines(PortRegister::Control, 0x0400);
    }
    unloadPortIoLibrary();
}

const std::string& Zantrel4v4::portProblem() const {
    return problem;
}

std::int16_t Zantrel4v4::portAddress(PortRegister reg) const {
    return static_cast<std::int16_t>(portBase + static_cast<std::int32_t>(reg));
}

std::uint8_t Zantrel4v4::readStatus() const {
    return static_cast<std::uint8_t>(portIoLibrary.portIn()(portAddress(PortRegister::Status)));
}

void Zantrel4v4::waitMicroseconds(std::uint32_t count) {
    // Besides the time between its first and last samples the wait spends one
    // whole reading (the part of the first before its sample, of the last
    // after it). Samples n ticks apart may be only a little more than n - 1
    // ticks apart in time, so the wait ends at the first sample that proves
    // the whole time has passed, never sooner.
    const std::int64_t limit = ticksFor(count, counterFrequency) - readingTicks;
    const std::int64_t start = counter->now();
    std::int64_t elapsed = 0;
    do {
        elapsed = counter->now() - start;
    } while (elapsed <= limit);
}

void Zantrel4v4::changeLines(PortRegister reg, LineChange change) {
    std::uint8_t* shadow = nullptr;
    switch (reg) {
    case PortRegister::Data:
        shadow = &dataShadow;
        break;
    case PortRegister::Status:
        shadow = &statusShadow;
        break;
    case PortRegister::Control:
        shadow = &controlShadow;
        break;
    }
    if (shadow == nullptr) {
        return;
    }
    *shadow = applyLineChange(*shadow, change);
    portIoLibrary.portOut()(portAddress(reg), static_cast<std::int8_t>(*shadow));
}

void Zantrel4v4::shiftOutAddress(std::uint32_t address, std::uint8_t bitCount) {
    changeLines(PortRegister::Control, 0x0200);
    const unsigned bits = ((bitCount + 31U) % 32U) + 1U;
    for (unsigned bit = bits; bit-- > 0;) {
        changeLines(PortRegister::Data, ((address >> bit) & 1U) != 0 ? 0x0002 : 0x0200);
        changeLines(PortRegister::Data, 0x0100);
        changeLines(PortRegister::Data, 0x0001);
    }
    changeLines(PortRegister::Data, 0x0300);
}

std::uint8_t Zantrel4v4::shiftInByte() {
    changeLines(PortRegister::Control, 0x0200);
    changeLines(PortRegister::Data, 0x0002);
    changeLines(PortRegister::Data, 0x0004);
    changeLines(PortRegister::Data, 0x0400);
    changeLines(PortRegister::Data, 0x0200);
    unsigned result = 0;
    for (unsigned position = 8; position-- > 0;) {
        // The board presents each bit inverted.
        const unsigned bit = (readStatus() & statusSerialData) == 0 ? 1U : 0U;
        changeLines(PortRegister::Data, 0x0004);
        changeLines(PortRegister::Data, 0x0400);
        result |= bit << position;
    }
    return static_cast<std::uint8_t>(result);
}

void Zantrel4v4::putDataByte(std::uint8_t value) {
    changeLines(PortRegister::Control, 0x0002);
    changeLines(PortRegister::Data, static_cast<LineChange>(0xFF00U | value));
}

bool Zantrel4v4::probeSample() const {
    return (readStatus() & statusProbe) != 0;
}

BoardKind Zantrel4v4::detectBoard() {
    if (ioState != usable) {
        return BoardKind::PortNotUsable;
    }
    dataShadow = 0;
    statusShadow = 0;
    controlShadow = 0;
    changeLines(PortRegister::Control, 0x0002);
    changeLines(PortRegister::Control, 0x0004);
    waitMicroseconds(15000);
    const bool sample1 = probeSample();
    changeLines(PortRegister::Data, 0x0001);
    const bool sample2 = probeSample();
    waitMicroseconds(10);
    const bool sample3 = probeSample();
    changeLines(PortRegister::Control, 0x0200);
    changeLines(PortRegister::Data, 0x0100);
    waitMicroseconds(10);
    const bool sample4 = probeSample();
    // The closing levels are restored whatever the board answered.
    changeLines(PortRegister::Control, 0x0209);
    changeLines(PortRegister::Data, 0x0100);
    changeLines(PortRegister::Control, 0x0400);
    changeLines(PortRegister::Control, 0x0002);

    if (sample1 && sample2 && !sample3) {
        return BoardKind::Willem;
    }
    if (sample1 && !sample2) {
        return sample4 ? BoardKind::Zantrel4v4 : BoardKind::Zantrel4v5;
    }
    return BoardKind::NoBoard;
}
