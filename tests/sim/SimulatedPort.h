#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "app/DialogueChip.h"
#include "driver/ProgrammerDriver.h"
#include "flash/FlashChip.h"
#include "iolib/sim/EntryPoints.h"
#include "iolib/sim/IntelChip.h"
#include "iolib/sim/Simulator.h"

// A simulator built from a fixed set of variables instead of the process
// environment; its configuration messages are kept for inspection.
using Variables = std::map<std::string, std::string>;

struct SimUnderTest {
    SimUnderTest(std::initializer_list<Variables::value_type> list) : SimUnderTest(Variables(list)) {}
    // The port's waits cost nothing here, so the chip is ready at once unless
    // a test asks for busy times (FLASHLOCK_SIM_BUSY="" gives the default).
    // FLASHLOCK_SIM_KILL calls `powerOff`, and never ends the test process.
    explicit SimUnderTest(
        Variables variables = {}, std::chrono::milliseconds lockWait = flashsim::stateLockWait,
        std::function<void()> powerOff = [] {})
        : variables(withReadyChip(std::move(variables))),
          sim(
              [this](const char* name) -> std::optional<std::string> {
                  const auto found = this->variables.find(name);
                  return found == this->variables.end() ? std::nullopt : std::optional(found->second);
              },
              messages, lockWait, std::move(powerOff)) {}

    static Variables withReadyChip(Variables variables) {
        variables.try_emplace("FLASHLOCK_SIM_BUSY", "none");
        return variables;
    }

    Variables variables;
    std::ostringstream messages;
    flashsim::Simulator sim;
};

// The board driver's documented port traffic, emitted through the module's
// entry points with the program's signed argument types: the shadows, one
// PortOut per line change, the serial address and byte, the data byte and
// the detection probe. Waits cost nothing here.
class SimulatedPort final : public ProgrammerDriver {
public:
    static constexpr std::int16_t base = 888;

    // Starts with the driver constructor's initial writes.
    explicit SimulatedPort(flashsim::Simulator& sim) : sim(&sim), control(0x09) {
        out(0, 0x00);
        out(1, 0x00);
        out(2, control);
        out(2, control);
    }

    void waitMicroseconds(std::uint32_t /*count*/) override {}

    void changeLines(PortRegister reg, LineChange change) override {
        std::uint8_t* shadow = reg == PortRegister::Data ? &data : reg == PortRegister::Control ? &control : &status;
        *shadow = applyLineChange(*shadow, change);
        out(static_cast<int>(reg), *shadow);
    }

    void shiftOutAddress(std::uint32_t address, std::uint8_t bitCount) override {
        changeLines(PortRegister::Control, 0x0200);
        for (int bit = ((bitCount + 31) % 32); bit >= 0; --bit) {
            changeLines(PortRegister::Data, ((address >> static_cast<unsigned>(bit)) & 1U) != 0 ? 0x0002 : 0x0200);
            changeLines(PortRegister::Data, 0x0100);
            changeLines(PortRegister::Data, 0x0001);
        }
        changeLines(PortRegister::Data, 0x0300);
    }

    std::uint8_t shiftInByte() override {
        changeLines(PortRegister::Control, 0x0200);
        changeLines(PortRegister::Data, 0x0002);
        changeLines(PortRegister::Data, 0x0004);
        changeLines(PortRegister::Data, 0x0400);
        changeLines(PortRegister::Data, 0x0200);
        unsigned result = 0;
        for (int position = 7; position >= 0; --position) {
            const bool serialOut = (statusIn() & 0x40U) != 0;
            changeLines(PortRegister::Data, 0x0004);
            changeLines(PortRegister::Data, 0x0400);
            result |= (serialOut ? 0U : 1U) << static_cast<unsigned>(position);
        }
        return static_cast<std::uint8_t>(result);
    }

    void putDataByte(std::uint8_t value) override {
        changeLines(PortRegister::Control, 0x0002);
        changeLines(PortRegister::Data, static_cast<LineChange>(0xFF00U | value));
    }

    BoardKind detectBoard() override {
        samples.clear();
        status = control = data = 0x00;
        changeLines(PortRegister::Control, 0x0002);
        changeLines(PortRegister::Control, 0x0004);
        sample();
        changeLines(PortRegister::Data, 0x0001);
        sample();
        sample();
        changeLines(PortRegister::Control, 0x0200);
        changeLines(PortRegister::Data, 0x0100);
        sample();
        changeLines(PortRegister::Control, 0x0209);
        changeLines(PortRegister::Data, 0x0100);
        changeLines(PortRegister::Control, 0x0400);
        changeLines(PortRegister::Control, 0x0002);
        if (samples.compare(0, 3, "110") == 0) {
            return BoardKind::Willem;
        }
        if (samples.compare(0, 2, "10") == 0) {
            return samples[3] == '1' ? BoardKind::Zantrel4v4 : BoardKind::Zantrel4v5;
        }
        return BoardKind::NoBoard;
    }

    // Status bit 7 of the last probe's four samples, as "0" and "1".
    std::string samples;

private:
    void out(int offset, std::uint8_t value) {
        flashsim::entry::portOut(*sim, static_cast<std::int16_t>(base + offset), static_cast<std::int8_t>(value));
    }
    std::uint8_t statusIn() {
        return static_cast<std::uint8_t>(flashsim::entry::portIn(*sim, static_cast<std::int16_t>(base + 1)));
    }
    void sample() { samples += (statusIn() & 0x80U) != 0 ? '1' : '0'; }

    flashsim::Simulator* sim;
    std::uint8_t data = 0x00;
    std::uint8_t status = 0x00;
    std::uint8_t control = 0x00;
};

// A simulator, the program's driver traffic into it, and the program's own chip
// layer on top: the command sequences exactly as flashlock sends them.
struct Session {
    Session(std::initializer_list<Variables::value_type> list) : under(Variables(list)) {}
    explicit Session(
        Variables variables, std::function<void()> powerOff = [] {})
        : under(std::move(variables), flashsim::stateLockWait, std::move(powerOff)) {}
    Session() = default;

    [[nodiscard]] const flashsim::Chip& chip() const { return *under.sim.chip(); }
    // The Intel-set model, for its status register.
    [[nodiscard]] const flashsim::IntelChip& intelChip() const {
        return dynamic_cast<const flashsim::IntelChip&>(chip());
    }
    [[nodiscard]] const std::vector<std::string>& faults() const { return under.sim.faults(); }

    SimUnderTest under;
    SimulatedPort port{under.sim};
    std::ostringstream console;
    FlashChip flash{&port};
    DialogueChip dialogue{flash, console};
};
