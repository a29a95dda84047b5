#pragma once

#include <cstdint>
#include <string>

#include "driver/ProgrammerDriver.h"
#include "platform/Platform.h"

// The cost of one counter reading, in ticks: the smallest of several
// back-to-back pairs, taken after a few readings that warm the counter up.
// The first reading of a process finds the counter's code and data cold and
// takes many times longer than any later one.
[[nodiscard]] std::int64_t counterReadingCost(platform::TickCounter& counter);

// The board driver: every line change is one write of a whole shadowed
// register byte through the port-I/O module, reads are serial on Status bit 6,
// and waits busy-loop on the performance counter.
class Zantrel4v4 final : public ProgrammerDriver {
public:
    // Loads the port-I/O module and, if it is usable, sets the idle levels.
    // The counter is a seam for tests; the program uses the OS's. The module
    // is "io" as the loader finds it, or the file `modulePath` names.
    explicit Zantrel4v4(std::int32_t portBase, platform::TickCounter& counter = platform::systemCounter(),
                        const std::string& modulePath = {});
    // Returns the control lines to idle and releases the module. The program
    // never runs it: its driver lives until the process ends.
    ~Zantrel4v4() override;
    Zantrel4v4(const Zantrel4v4&) = delete;
    Zantrel4v4& operator=(const Zantrel4v4&) = delete;
    Zantrel4v4(Zantrel4v4&&) = delete;
    Zantrel4v4& operator=(Zantrel4v4&&) = delete;

    void waitMicroseconds(std::uint32_t count) override;
    void changeLines(PortRegister reg, LineChange change) override;
    void shiftOutAddress(std::uint32_t address, std::uint8_t bitCount) override;
    std::uint8_t shiftInByte() override;
    void putDataByte(std::uint8_t value) override;
    BoardKind detectBoard() override;

    // Empty when the port is usable; otherwise why not, and what to do.
    [[nodiscard]] const std::string& portProblem() const;

private:
    [[nodiscard]] std::int16_t portAddress(PortRegister reg) const;
    [[nodiscard]] std::uint8_t readStatus() const;
    [[nodiscard]] bool probeSample() const;

    std::int32_t ioState;
    std::int32_t portBase;
    std::uint8_t dataShadow = 0;
    std::uint8_t statusShadow = 0;
    std::uint8_t controlShadow = 0;
    std::int64_t counterFrequency;
    // What counterReadingCost measured when the driver was built.
    std::int64_t readingTicks;
    platform::TickCounter* counter;
    std::string problem;
};
