// The simulator's port decoder fed arbitrary traffic through all 13 entry
// points. Beyond not crashing, the port must behave as a port whatever the
// traffic: Data and Control read back what was written, each access is one
// time step, unused status inputs read high, the board answers the probe
// only while it is probed, and only foreign ports and faulty bus cycles are
// reported as faults.
//
// Input: the setup byte (see chooseSetup; its socket values 9 to 15 pick the
// catalogue's other parts here, the AMD-set ones among them), then operations. Each operation is
// one byte: bits 0-1 pick Data, Status, Control, or any port given by the
// next two bytes; bits 2-5 pick the entry point; arguments follow.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "fuzz/FuzzInput.h"
#include "iolib/sim/ChipCatalog.h"
#include "iolib/sim/EntryPoints.h"
#include "tests/sim/SimulatedPort.h"

namespace {

namespace entry = flashsim::entry;
using flashsim::Simulator;

constexpr std::uint8_t unusedInputs = 0x3F;
constexpr std::uint8_t probeAnswer = 0x80;
constexpr std::uint8_t busMode = 0x01;
constexpr std::uint8_t openPort = 0x7F;

enum class Operation : std::uint8_t {
    // The program's own two calls get most of the codes.
    Out0,
    Out1,
    Out2,
    Out3,
    Out4,
    In0,
    In1,
    WordOut,
    DWordOut,
    WordIn,
    DWordIn,
    SetBit,
    ClearBit,
    ToggleBit,
    GetBit,
    Shift,
};

std::int16_t portAt(std::uint16_t address) {
    return static_cast<std::int16_t>(address);
}

// The port as a program sees it from outside, kept alongside the simulator:
// what each access must give back, and how many time steps and faults the
// accesses so far allow.
class PortModel {
public:
    // Whatever levels the lines start at, they must read back the same until
    // they are written.
    PortModel(Simulator& sim, bool boardPresent)
        : sim(&sim),
          boardPresent(boardPresent),
          data(static_cast<std::uint8_t>(entry::portIn(sim, portAt(Simulator::dataPort)))),
          control(static_cast<std::uint8_t>(entry::portIn(sim, portAt(Simulator::controlPort)))) {
        check();
    }

    // One byte written by an entry point, in the order it wrote them.
    void wrote(std::uint16_t port, std::uint8_t value) {
        ++steps;
        if (port == Simulator::dataPort) {
            data = value;
            // Only a bus cycle on a board can go wrong.
            maxFaults += boardPresent ? 1 : 0;
        } else if (port == Simulator::controlPort) {
            control = value;
            maxFaults += boardPresent ? 1 : 0;
        } else if (port != Simulator::statusPort) {
            foreign();
        }
    }

    // One byte read by an entry point; reads change no line levels.
    void read(std::uint16_t port, std::uint8_t value) {
        ++steps;
        if (port == Simulator::dataPort) {
            require(value == data, "Data reads back the level last written");
        } else if (port == Simulator::controlPort) {
            require(value == control, "Control reads back the level last written");
        } else if (port == Simulator::statusPort) {
            require((value & unusedInputs) == unusedInputs, "status inputs that no board drives read high");
            if ((control & busMode) != 0) {
                require((value & probeAnswer) == 0, "the probe is answered only while Control bit 0 is low");
            }
            if (!boardPresent) {
                require(value == openPort, "without a board the status inputs read as an open port");
            }
        } else {
            foreign();
        }
    }

    // A byte read inside an entry point whose caller never sees it as such;
    // for Data and Control what was read shows in what the entry point wrote.
    void readUnseen(std::uint16_t port) {
        ++steps;
        if (port != Simulator::dataPort && port != Simulator::controlPort && port != Simulator::statusPort) {
            foreign();
        }
    }

    // What a read-modify-write entry point read, when the model knows it.
    [[nodiscard]] std::optional<std::uint8_t> level(std::uint16_t port) const {
        if (port == Simulator::dataPort) {
            return data;
        }
        if (port == Simulator::controlPort) {
            return control;
        }
        return std::nullopt;
    }

    void check() const {
        require(sim->steps() == steps, "every port access is one time step");
        const std::size_t faults = sim->faults().size();
        require(faults >= minFaults, "every access to a foreign port is a fault");
        require(faults <= maxFaults, "faults come only from foreign ports and bus cycles");
        const flashsim::Chip& chip = *sim->chip();
        require(!chip.busy(), "the chip is always ready");
        if (!boardPresent || !chip.model().present) {
            require(chip.mode() == flashsim::ChipMode::ReadArray, "no command reaches a chip that is not there");
        }
    }

private:
    void foreign() {
        ++minFaults;
        ++maxFaults;
    }

    Simulator* sim;
    bool boardPresent;
    std::uint8_t data;
    std::uint8_t control;
    // The constructor's two reads.
    std::uint64_t steps = 2;
    std::size_t minFaults = 0;
    std::size_t maxFaults = 0;
};

std::uint16_t next(std::uint16_t port, unsigned offset) {
    return static_cast<std::uint16_t>(port + offset);
}

std::uint8_t byteOf(std::uint32_t value, unsigned index) {
    return static_cast<std::uint8_t>(value >> (8U * index));
}

// Runs one operation on a usable simulator and holds its result against the model.
void operate(Simulator& sim, PortModel& model, Operation operation, std::uint16_t port, FuzzInput& input) {
    const std::int16_t signedPort = portAt(port);
    switch (operation) {
    case Operation::Out0:
    case Operation::Out1:
    case Operation::Out2:
    case Operation::Out3:
    case Operation::Out4: {
        const std::uint8_t value = input.byte();
        entry::portOut(sim, signedPort, static_cast<std::int8_t>(value));
        model.wrote(port, value);
        break;
    }
    case Operation::In0:
    case Operation::In1:
        model.read(port, static_cast<std::uint8_t>(entry::portIn(sim, signedPort)));
        break;
    case Operation::WordOut: {
        const std::uint16_t value = input.word();
        entry::portWordOut(sim, signedPort, static_cast<std::int16_t>(value));
        model.wrote(port, byteOf(value, 0));
        model.wrote(next(port, 1), byteOf(value, 1));
        break;
    }
    case Operation::DWordOut: {
        const std::uint32_t value = input.dword();
        entry::portDWordOut(sim, signedPort, static_cast<std::int32_t>(value));
        for (unsigned index = 0; index < 4; ++index) {
            model.wrote(next(port, index), byteOf(value, index));
        }
        break;
    }
    case Operation::WordIn: {
        const auto value = static_cast<std::uint16_t>(entry::portWordIn(sim, signedPort));
        model.read(port, byteOf(value, 0));
        model.read(next(port, 1), byteOf(value, 1));
        break;
    }
    case Operation::DWordIn: {
        const auto value = static_cast<std::uint32_t>(entry::portDWordIn(sim, signedPort));
        for (unsigned index = 0; index < 4; ++index) {
            model.read(next(port, index), byteOf(value, index));
        }
        break;
    }
    case Operation::SetBit:
    case Operation::ClearBit:
    case Operation::ToggleBit: {
        const auto bit = static_cast<std::int8_t>(input.byte());
        const unsigned mask = 1U << (static_cast<unsigned>(bit) & 7U);
        const std::optional<std::uint8_t> before = model.level(port);
        if (operation == Operation::SetBit) {
            entry::setPortBit(sim, signedPort, bit);
        } else if (operation == Operation::ClearBit) {
            entry::clrPortBit(sim, signedPort, bit);
        } else {
            entry::notPortBit(sim, signedPort, bit);
        }
        // Only Data and Control keep what is written, and the next read of
        // them checks it; the value is immaterial anywhere else.
        const unsigned old = before.value_or(0);
        const unsigned after = operation == Operation::SetBit     ? old | mask
                               : operation == Operation::ClearBit ? old & ~mask
                                                                  : old ^ mask;
        model.readUnseen(port);
        model.wrote(port, static_cast<std::uint8_t>(after));
        break;
    }
    case Operation::GetBit: {
        const auto bit = static_cast<std::int8_t>(input.byte());
        const std::int16_t value = entry::getPortBit(sim, signedPort, bit);
        require(value == 0 || value == 1, "a port bit reads as 0 or 1");
        const unsigned position = static_cast<unsigned>(bit) & 7U;
        if (const std::optional<std::uint8_t> level = model.level(port)) {
            const unsigned expected = (*level >> position) & 1U;
            require(static_cast<unsigned>(value) == expected, "a port bit reads as the level last written");
        } else if (port == Simulator::statusPort && ((unusedInputs >> position) & 1U) != 0) {
            require(value == 1, "status inputs that no board drives read high, bit by bit");
        }
        model.readUnseen(port);
        break;
    }
    case Operation::Shift: {
        // Bit 0 enters, bit 1 picks the direction; the rest must be ignored.
        const auto argument = static_cast<std::int16_t>(input.word());
        const bool right = (static_cast<unsigned>(argument) & 2U) != 0;
        const std::optional<std::uint8_t> before = model.level(port);
        const std::int16_t result =
            right ? entry::rightPortShift(sim, signedPort, argument) : entry::leftPortShift(sim, signedPort, argument);
        require(result == 0 || result == 1, "a shift gives back the one bit that left");
        unsigned after = 0;  // what a port that keeps no level holds does not matter
        if (before) {
            const unsigned in = static_cast<unsigned>(argument) & 1U;
            const unsigned leaving = right ? *before & 1U : *before >> 7U;
            require(static_cast<unsigned>(result) == leaving, "a shift gives back the bit that left");
            after = right ? (*before >> 1U) | (in << 7U) : ((*before << 1U) | in) & 0xFFU;
        }
        model.readUnseen(port);
        model.wrote(port, static_cast<std::uint8_t>(after));
        break;
    }
    }
}

// chooseSetup folds socket values 9 to 15 onto the seven named parts a second
// time; here they pick the other parts of the catalogue instead, so that the
// AMD-set model meets arbitrary traffic too.
Setup chooseSimulatorSetup(FuzzInput& input) {
    FuzzInput peek = input;
    const unsigned socket = (peek.byte() >> 2U) & 0xFU;
    Setup setup = chooseSetup(input);
    constexpr unsigned folded = flashsim::namedParts.size() + 2;
    if (socket >= folded) {
        setup.variables["FLASHLOCK_SIM_CHIP"] =
            std::string(flashsim::moreParts.at((socket - folded) % flashsim::moreParts.size()));
    }
    return setup;
}

// A refused configuration leaves a port that does nothing: writes are lost,
// the status inputs float, and nothing counts as a step or a fault.
void runUnusable(Simulator& sim, FuzzInput& input) {
    require(entry::isDriverInstalled(sim) == 0, "a refused configuration reports the driver missing");
    require(sim.board() == nullptr && sim.chip() == nullptr, "a refused configuration has no board or chip");
    while (!input.empty()) {
        const std::uint8_t code = input.byte();
        const auto port = portAt(static_cast<std::uint16_t>(input.word()));
        if ((code & 1U) != 0) {
            entry::portOut(sim, port, static_cast<std::int8_t>(input.byte()));
        } else {
            const auto value = static_cast<std::uint8_t>(entry::portIn(sim, port));
            const bool status = static_cast<std::uint16_t>(port) == Simulator::statusPort;
            require(value == (status ? openPort : 0x00), "an unusable port reads as an open port");
        }
    }
    require(sim.steps() == 0 && sim.faults().empty(), "an unusable port counts no steps and no faults");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput input(data, size);
    const Setup setup = chooseSimulatorSetup(input);
    SimUnderTest under(setup.variables);
    Simulator& sim = under.sim;
    require(sim.usable() == setup.usable, "the simulator takes exactly the configurations it documents");
    if (!setup.usable) {
        runUnusable(sim, input);
        return 0;
    }
    require(entry::isDriverInstalled(sim) == 1, "an accepted configuration reports the driver installed");

    PortModel model(sim, setup.board != "none");
    while (!input.empty()) {
        const std::uint8_t code = input.byte();
        std::uint16_t port = Simulator::dataPort + (code & 3U);
        if ((code & 3U) == 3U) {
            port = input.word();
        }
        operate(sim, model, static_cast<Operation>((code >> 2U) & 0xFU), port, input);
        model.check();
    }
    return 0;
}
