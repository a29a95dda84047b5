#include "iolib/sim/Simulator.h"

#include <cstdio>
#include <exception>
#include <utility>

#include "iolib/sim/StateFile.h"

namespace flashsim {

namespace {

// An open port: what the status inputs read when the simulator is not usable.
constexpr std::uint8_t openPortStatus = 0x7F;

const char* const notUsable =
    "; the simulated port is not usable: port writes do nothing and no board answers the probe";

// Sized to fit, since a line may carry a file path of any length.
template <typename... Args>
std::string format(const char* pattern, Args... args) {
    // NOLINTNEXTLINE(cppcoreguidelines-pro-type-vararg,hicpp-vararg)
    const int length = std::snprintf(nullptr, 0, pattern, args...);
    if (length <= 0) {
        return {};
    }
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    // NOLINTNEXTLINE(cppcoreguidelines-pro-type-vararg,hicpp-vararg)
    static_cast<void>(std::snprintf(text.data(), text.size(), pattern, args...));
    text.pop_back();
    return text;
}

std::string quoted(const char* variable, const std::filesystem::path& path) {
    return std::string(variable) + "=\"" + path.string() + "\"";
}

const char* modeText(ChipMode mode) {
    switch (mode) {
    case ChipMode::ReadArray:
        return "array";
    case ChipMode::ReadIdentifier:
        return "ident";
    case ChipMode::Query:
        return "query";
    case ChipMode::ReadStatus:
        return "status";
    case ChipMode::LockSetup:
        return "setup";
    }
    return "?";
}

std::string describe(const ChipModel& chip) {
    if (!chip.present) {
        return "no chip in the socket";
    }
    return format("chip %s (maker 0x%02X, device 0x%02X, %u KiB in %u blocks of 128 KiB)", chip.name.c_str(),
                  unsigned{chip.manufacturer}, unsigned{chip.device}, chip.size / 1024U, chip.blockCount);
}

}  // namespace

struct Simulator::Parts {
    Parts(BoardType type, ChipModel model) : board(type), chip(std::move(model)) {}

    Board board;
    Chip chip;
    std::filesystem::path statePath;
    std::ofstream logFile;
    std::ofstream traceFile;
    std::unique_ptr<VcdTrace> trace;
};

Simulator::Simulator(const Environment& environment, std::ostream& errors) : errors(&errors) {
    ConfigResult result = readConfig(environment);
    std::vector<std::string> problems = std::move(result.errors);
    if (problems.empty()) {
        try {
            open(result.config, problems);
        } catch (const std::exception& failure) {
            // Out of memory for a 16 MiB array, a file system error: the
            // module still loads, and says why it cannot serve.
            problems.push_back(std::string("the simulator could not be set up: ") + failure.what());
        }
    }
    for (const std::string& problem : problems) {
        errors << "flashlock simulator: " << problem << notUsable << '\n';
    }
    if (!problems.empty()) {
        errors.flush();
        parts.reset();
    }
}

Simulator::~Simulator() {
    if (parts != nullptr && parts->trace != nullptr) {
        parts->trace->flush();
    }
}

void Simulator::open(const Config& config, std::vector<std::string>& problems) {
    auto opened = std::make_unique<Parts>(config.board, config.chip);
    if (!config.statePath.empty()) {
        if (auto problem = loadStateFile(config.statePath, opened->chip)) {
            problems.push_back(quoted("FLASHLOCK_SIM_STATE", config.statePath) + ": " + *problem);
            return;
        }
        opened->statePath = config.statePath;
    }
    if (!config.tracePath.empty()) {
        opened->traceFile.open(config.tracePath, std::ios::binary | std::ios::trunc);
        if (!opened->traceFile) {
            problems.push_back(quoted("FLASHLOCK_SIM_TRACE", config.tracePath) +
                               " cannot be written; use a file path in an existing folder");
            return;
        }
        opened->trace = std::make_unique<VcdTrace>(opened->traceFile);
    }
    if (!config.logPath.empty()) {
        opened->logFile.open(config.logPath, std::ios::binary | std::ios::trunc);
        if (!opened->logFile) {
            problems.push_back(quoted("FLASHLOCK_SIM_LOG", config.logPath) +
                               " cannot be written; use a file path in an existing folder");
            return;
        }
    }
    parts = std::move(opened);
    note(format("flashlock simulator: board %s, %s, state %s", std::string(boardName(config.board)).c_str(),
                describe(config.chip).c_str(),
                config.statePath.empty() ? "kept in memory only" : config.statePath.string().c_str()));
}

const Board* Simulator::board() const {
    return parts != nullptr ? &parts->board : nullptr;
}

const Chip* Simulator::chip() const {
    return parts != nullptr ? &parts->chip : nullptr;
}

void Simulator::portOut(std::uint16_t port, std::uint8_t value) {
    if (parts == nullptr) {
        return;
    }
    ++time;
    if (parts->trace != nullptr) {
        parts->trace->step(time);
    }
    switch (port) {
    case dataPort:
        writeData(value);
        break;
    case controlPort:
        writeControl(value);
        break;
    case statusPort:
        // Input lines only: the program writes 0x00 here once at start, which
        // a real port ignores too.
        break;
    default:
        fault(format("PortOut(0x%04X, 0x%02X): the simulated port has only 0x378 to 0x37A", unsigned{port},
                     unsigned{value}));
        break;
    }
    traceLines(parts->board.peekStatus());
}

std::uint8_t Simulator::portIn(std::uint16_t port) {
    if (parts == nullptr) {
        return port == statusPort ? openPortStatus : 0x00;
    }
    ++time;
    if (parts->trace != nullptr) {
        parts->trace->step(time);
    }
    Board& lines = parts->board;
    std::uint8_t value = 0xFF;
    switch (port) {
    case dataPort:
        value = lines.data();
        break;
    case controlPort:
        value = lines.control();
        break;
    case statusPort:
        value = lines.readStatus();
        if (lines.probing()) {
            note(format("probe: status 0x%02X, bit 7 = %u", unsigned{value},
                        (value & line::probeAnswer) != 0 ? 1U : 0U));
            if (parts->trace != nullptr) {
                parts->trace->pulseText(VcdTrace::CycleKind, "probe");
            }
        }
        break;
    default:
        fault(format("PortIn(0x%04X): the simulated port has only 0x378 to 0x37A", unsigned{port}));
        break;
    }
    // The trace shows the status this read saw, even where reading changed
    // what the next read gives.
    traceLines(port == statusPort ? value : lines.peekStatus());
    return value;
}

void Simulator::writeData(std::uint8_t value) {
    Chip& socket = parts->chip;
    const std::optional<BusCycle> cycle =
        parts->board.writeData(value, [&socket](std::uint32_t address) { return socket.read(address); });
    if (cycle) {
        busCycle(*cycle);
    }
}

void Simulator::writeControl(std::uint8_t value) {
    Board& lines = parts->board;
    const bool wasOpen = lines.accessOpen();
    const bool wasProbing = lines.probing();
    const std::optional<BusCycle> cycle = lines.writeControl(value);
    if (lines.probing() != wasProbing) {
        note(lines.probing() ? "probe begins (Control bit 0 low)" : "probe ends (Control bit 0 high)");
    }
    if (lines.accessOpen() != wasOpen) {
        note(lines.accessOpen() ? "access line up" : "access line down");
    }
    if (cycle) {
        busCycle(*cycle);
    }
}

void Simulator::busCycle(const BusCycle& cycle) {
    const auto address = static_cast<unsigned>(cycle.address);
    const auto value = static_cast<unsigned>(cycle.value);
    if (parts->trace != nullptr) {
        VcdTrace& trace = *parts->trace;
        trace.pulseText(VcdTrace::CycleKind, cycle.kind == BusCycle::Kind::Read    ? "read"
                                             : cycle.kind == BusCycle::Kind::Write ? "write"
                                                                                   : "blocked");
        trace.set(VcdTrace::CycleAddress, address);
        trace.set(VcdTrace::CycleByte, value);
    }
    Chip& socket = parts->chip;
    switch (cycle.kind) {
    case BusCycle::Kind::Read:
        note(format("read  0x%06X -> 0x%02X  (%s)", address, value, modeName(socket.mode())));
        return;
    case BusCycle::Kind::Write: {
        const CommandOutcome outcome = socket.write(cycle.address, cycle.value);
        const std::string text = format("write 0x%06X <- 0x%02X  ", address, value) + outcome.action;
        if (outcome.fault) {
            fault(text);
        } else {
            note(text);
        }
        if (outcome.locksChanged) {
            saveState();
        }
        return;
    }
    case BusCycle::Kind::BlockedRead:
        fault(format("read at 0x%06X with the access line (Control bit 2) low: it never reached the chip", address));
        return;
    case BusCycle::Kind::BlockedWrite:
        fault(format("write of 0x%02X at 0x%06X with the access line (Control bit 2) low: it never reached the chip",
                     value, address));
        return;
    case BusCycle::Kind::UndrivenWrite:
        fault(format("write strobe at 0x%06X while the data byte is not driven (Control bit 1 low)", address));
        return;
    }
}

void Simulator::saveState() {
    if (parts->statePath.empty()) {
        return;
    }
    if (auto problem = saveStateFile(parts->statePath, parts->chip)) {
        const std::string reason = quoted("FLASHLOCK_SIM_STATE", parts->statePath) + ": " + *problem +
                                   "; the change is kept for this run only";
        *errors << "flashlock simulator: " << reason << '\n' << std::flush;
        fault(reason);
    } else {
        note("state saved");
    }
}

void Simulator::note(const std::string& text) {
    if (parts != nullptr && parts->logFile.is_open()) {
        parts->logFile << format("%8llu  ", static_cast<unsigned long long>(time)) << text << '\n';
        parts->logFile.flush();
    }
}

void Simulator::fault(const std::string& text) {
    faultList.push_back(text);
    note("FAULT: " + text);
    if (parts != nullptr && parts->trace != nullptr) {
        parts->trace->pulse(VcdTrace::Fault, 1);
    }
}

void Simulator::traceLines(std::uint8_t status) {
    if (parts->trace == nullptr) {
        return;
    }
    VcdTrace& trace = *parts->trace;
    const Board& lines = parts->board;
    const std::uint8_t data = lines.data();
    const std::uint8_t control = lines.control();
    trace.set(VcdTrace::Data, data);
    trace.set(VcdTrace::Control, control);
    trace.set(VcdTrace::Status, status);
    trace.set(VcdTrace::AddressClock, data & line::addressClock);
    trace.set(VcdTrace::AddressBit, data & line::addressBit);
    trace.set(VcdTrace::ReadClock, data & line::readClock);
    trace.set(VcdTrace::BusMode, control & line::busMode);
    trace.set(VcdTrace::DataDrive, control & line::dataDrive);
    trace.set(VcdTrace::Access, control & line::access);
    trace.set(VcdTrace::WriteStrobe, control & line::writeStrobe);
    trace.set(VcdTrace::SerialOut, status & line::serialOut);
    trace.set(VcdTrace::ProbeAnswer, status & line::probeAnswer);
    trace.set(VcdTrace::AddressRegister, lines.address());
    trace.setText(VcdTrace::ChipMode, parts->chip.model().present ? modeText(parts->chip.mode()) : "empty");
}

}  // namespace flashsim
