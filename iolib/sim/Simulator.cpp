#include "iolib/sim/Simulator.h"

#include <cerrno>
#include <cstdio>
#include <exception>
#include <system_error>
#include <utility>

#include "iolib/sim/StateFile.h"
#include "platform/FileLock.h"

namespace flashsim {

namespace {

// An open port: what the status inputs read when the simulator is not usable.
constexpr std::uint8_t openPortStatus = 0x7F;

const char* const notUsable =
    "; the simulated port is not usable: port writes do nothing and no board answers the probe";
const char* const outOfMemory = "the simulator could not be set up (out of memory)";

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
    return std::string(variable) + "=\"" + shownValue(path.string()) + "\"";
}

// Opens a log or waveform file for writing. Only a regular file, new or old,
// is taken: a FIFO nobody reads would block here for ever, and a device has
// no place in a record of the run.
std::optional<std::string> openOutput(std::ofstream& file, const char* variable, const std::filesystem::path& path) {
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(path, error);
    if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) {
        return quoted(variable, path) + " is " + fileKind(status) + ", not a regular file; name a file";
    }
    const std::filesystem::path folder = path.parent_path();
    if (!std::filesystem::exists(status) && !folder.empty() && !std::filesystem::is_directory(folder, error)) {
        return quoted(variable, path) + " cannot be written; use a file path in an existing folder";
    }
    errno = 0;
    file.open(path, std::ios::binary | std::ios::trunc);
    if (!file) {
        const int reason = errno;
        return quoted(variable, path) + " cannot be opened for writing: " +
               (reason != 0 ? std::generic_category().message(reason) : std::string("reason unknown"));
    }
    return std::nullopt;
}

std::string layoutText(const ChipModel& chip) {
    const std::string blocks = std::string(chip.blockWord()) + "s";
    if (chip.layout.size() == 1) {
        return format("in %u %s of %u KiB", chip.blockCount, blocks.c_str(), chip.layout.front().size / 1024U);
    }
    std::string text = format("in %u %s:", chip.blockCount, blocks.c_str());
    for (const EraseRegion& region : chip.layout) {
        text += format("%s %u x %u KiB", &region == chip.layout.data() ? "" : ",", region.count, region.size / 1024U);
    }
    return text;
}

std::string describe(const ChipModel& chip, const ChipSettings& settings) {
    if (!chip.present) {
        return "no chip in the socket";
    }
    std::string device = format("0x%02X", unsigned{chip.device});
    for (const std::uint8_t more : chip.moreDeviceBytes) {
        device += format(" 0x%02X", unsigned{more});
    }
    std::string text = format("chip %s (maker 0x%02X, device %s, %u KiB %s", chip.name.c_str(),
                              unsigned{chip.manufacturer}, device.c_str(), chip.size / 1024U, layoutText(chip).c_str());
    if (chip.commandSet == CommandSet::Amd) {
        text += ", AMD command set";
        std::string sectors;
        for (const std::uint32_t sector : settings.protectedSectors) {
            sectors += (sectors.empty() ? " " : ", ") + std::to_string(sector);
        }
        if (!sectors.empty()) {
            text += ", protected sectors" + sectors;
        }
    }
    return text + ")";
}

}  // namespace

struct Simulator::Parts {
    Parts(BoardType type, AddressRegister latching, ChipModel model, ChipSettings settings)
        : board(type, latching), chip(makeChip(std::move(model), std::move(settings))) {}

    Board board;
    std::unique_ptr<Chip> chip;
    // Held from the module's start to the process's end, so that two runs on
    // one state file take turns rather than overwrite each other's changes.
    platform::FileLock stateLock;
    std::filesystem::path statePath;
    ArraySource source;  // the state file's image or content line, kept as written
    // Open once the array has changed and its content file is whole.
    std::fstream content;
    // A save of the array failed: its changes are kept for this run only.
    bool arrayUnsaved = false;
    std::ofstream logFile;
    std::ofstream traceFile;
    std::unique_ptr<VcdTrace> trace;
};

Simulator::Simulator(const Environment& environment, std::ostream& errors, std::chrono::milliseconds lockWait,
                     std::function<void()> powerOff) noexcept
    : errors(&errors), powerOff(std::move(powerOff)) {
    try {
        ConfigResult result = readConfig(environment);
        std::vector<std::string> problems = std::move(result.errors);
        if (problems.empty()) {
            try {
                open(result.config, lockWait, problems);
            } catch (const std::exception& failure) {
                // Out of memory for a 16 MiB array, a file system error: the
                // module still loads, and says why it cannot serve.
                problems.push_back(std::string("the simulator could not be set up: ") + failure.what());
            }
        }
        for (const std::string& problem : problems) {
            errors << "flashlock simulator: " << problem << notUsable << '\n';
            problemText += (problemText.empty() ? "" : "; ") + problem;
        }
        if (!problems.empty()) {
            errors.flush();
            parts.reset();
        }
    } catch (...) {
        // Not even the messages could be made: a port that answers nothing.
        parts.reset();
        errors << "flashlock simulator: " << outOfMemory << notUsable << '\n' << std::flush;
        problemText.clear();
    }
}

Simulator::~Simulator() {
    try {
        if (parts != nullptr && parts->trace != nullptr) {
            parts->trace->commit();
        }
    } catch (...) {
        // Nothing is left to tell at process end.
        static_cast<void>(0);
    }
}

void Simulator::open(const Config& config, std::chrono::milliseconds lockWait, std::vector<std::string>& problems) {
    auto opened = std::make_unique<Parts>(config.board, config.addressRegister, config.chip, config.chipSettings);
    const std::pair<const char*, const std::filesystem::path*> files[] = {
        {"FLASHLOCK_SIM_STATE", &config.statePath},
        {"FLASHLOCK_SIM_TRACE", &config.tracePath},
        {"FLASHLOCK_SIM_LOG", &config.logPath},
    };
    for (std::size_t first = 0; first < std::size(files); ++first) {
        for (std::size_t second = first + 1; second < std::size(files); ++second) {
            const auto& [name, path] = files[second];
            if (!path->empty() && !files[first].second->empty() && samePlace(*path, *files[first].second)) {
                problems.push_back(quoted(name, *path) + " names the same file as " + files[first].first +
                                   "; give each its own file");
                return;
            }
        }
    }
    if (!config.statePath.empty()) {
        std::error_code error;
        const std::filesystem::file_status status = std::filesystem::status(config.statePath, error);
        const std::filesystem::path target = stateTarget(config.statePath);
        const std::filesystem::path folder = target.parent_path();
        const bool lockable =
            std::filesystem::is_regular_file(status) ||
            (!std::filesystem::exists(status) && (folder.empty() || std::filesystem::is_directory(folder, error)));
        if (lockable) {
            std::filesystem::path lockPath = target;
            lockPath += ".lock";
            const std::string name = quoted("FLASHLOCK_SIM_STATE", config.statePath);
            const auto tenths = (lockWait.count() + 50) / 100;
            // Appended piece by piece: g++ 12's -O3 warns (wrongly) of overlap on "." + to_string().
            std::string bound = std::to_string(tenths / 10);
            if (tenths % 10 != 0) {
                bound += '.';
                bound += std::to_string(tenths % 10);
            }
            bound += " s";
            const platform::FileLock::Outcome locked =
                opened->stateLock.lockWithin(lockPath, lockWait, [this, &name, &bound] {
                    *errors << "flashlock simulator: waiting for another run that uses " << name << " to end (at most "
                            << bound << ")\n"
                            << std::flush;
                });
            if (locked == platform::FileLock::Outcome::Interrupted) {
                problems.push_back(name + ": interrupted while waiting for another run that uses it to end");
                return;
            }
            if (locked == platform::FileLock::Outcome::Busy) {
                problems.push_back(name + " is still in use by another run after " + bound +
                                   "; let that run end first, or give this run a state file of its own");
                return;
            }
            if (locked == platform::FileLock::Outcome::Failed) {
                problems.push_back(name + ": its lock file \"" + shownValue(lockPath.string()) +
                                   "\" cannot be used: " + opened->stateLock.problem());
                return;
            }
        }
        if (auto problem = loadStateFile(config.statePath, *opened->chip, &opened->source)) {
            problems.push_back(quoted("FLASHLOCK_SIM_STATE", config.statePath) + ": " + *problem);
            return;
        }
        opened->statePath = config.statePath;
        const std::pair<const char*, std::filesystem::path> underlays[] = {
            {"the image", imagePath(config.statePath, opened->source)},
            {"the content file", contentPath(config.statePath, opened->source)},
        };
        for (const auto& [what, underlay] : underlays) {
            for (const auto& [name, path] : files) {
                if (!underlay.empty() && !path->empty() && path != &config.statePath && samePlace(*path, underlay)) {
                    problems.push_back(quoted(name, *path) + " names " + what +
                                       " of the state file; give it a file of its own");
                    return;
                }
            }
        }
    }
    if (!config.tracePath.empty()) {
        if (auto problem = openOutput(opened->traceFile, "FLASHLOCK_SIM_TRACE", config.tracePath)) {
            problems.push_back(*problem);
            return;
        }
        opened->trace = std::make_unique<VcdTrace>(opened->traceFile);
    }
    if (!config.logPath.empty()) {
        if (auto problem = openOutput(opened->logFile, "FLASHLOCK_SIM_LOG", config.logPath)) {
            problems.push_back(*problem);
            return;
        }
    }
    if (config.powerCut) {
        powerCut = config.powerCut;
        opened->chip->onChangingCommand([this] { changingCommandArrives(); });
    }
    parts = std::move(opened);
    const std::string latching =
        config.addressRegister == AddressRegister::Latched ? " with a latched address register" : "";
    note(format("flashlock simulator: board %s%s, %s, state %s", std::string(boardName(config.board)).c_str(),
                latching.c_str(), describe(config.chip, config.chipSettings).c_str(),
                config.statePath.empty() ? "kept in memory only" : config.statePath.string().c_str()));
}

const Board* Simulator::board() const {
    return parts != nullptr ? &parts->board : nullptr;
}

const Chip* Simulator::chip() const {
    return parts != nullptr ? parts->chip.get() : nullptr;
}

void Simulator::portOut(std::uint16_t port, std::uint8_t value) noexcept {
    if (!usable()) {
        return;
    }
    try {
        portOutUnguarded(port, value);
    } catch (const std::exception& failure) {
        stop(failure.what());
    } catch (...) {
        stop("unknown error");
    }
}

std::uint8_t Simulator::portIn(std::uint16_t port) noexcept {
    if (!usable()) {
        return port == statusPort ? openPortStatus : 0x00;
    }
    try {
        return portInUnguarded(port);
    } catch (const std::exception& failure) {
        stop(failure.what());
    } catch (...) {
        stop("unknown error");
    }
    return port == statusPort ? openPortStatus : 0x00;
}

const char* Simulator::reasonNotUsable() const {
    if (usable()) {
        return nullptr;
    }
    return problemText.empty() ? outOfMemory : problemText.c_str();
}

void Simulator::stop(const char* reason) noexcept {
    stopped = true;
    try {
        problemText = std::string("the simulation stopped (") + reason + ")";
        *errors << "flashlock simulator: the simulation stopped (" << reason
                << "); from here on port writes do nothing and no board answers the probe\n"
                << std::flush;
        note(std::string("FAULT: the simulation stopped: ") + reason);
    } catch (...) {
        // Out of memory even for the message: the port still goes quiet.
        static_cast<void>(0);
    }
}

void Simulator::portOutUnguarded(std::uint16_t port, std::uint8_t value) {
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

std::uint8_t Simulator::portInUnguarded(std::uint16_t port) {
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
    Chip& socket = *parts->chip;
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
        traceLines(lines.peekStatus());
        commitTrace();
    }
    if (cycle) {
        busCycle(*cycle);
    }
}

void Simulator::busCycle(const BusCycle& cycle) {
    if (parts->trace != nullptr) {
        const auto address = static_cast<unsigned>(cycle.address);
        const auto value = static_cast<unsigned>(cycle.value);
        VcdTrace& trace = *parts->trace;
        trace.pulseText(VcdTrace::CycleKind, cycle.kind == BusCycle::Kind::Read    ? "read"
                                             : cycle.kind == BusCycle::Kind::Write ? "write"
                                                                                   : "blocked");
        trace.set(VcdTrace::CycleAddress, address);
        trace.set(VcdTrace::CycleByte, value);
    }
    busCycleOutcome(cycle, *parts->chip);
    traceLines(parts->board.peekStatus());
    commitTrace();
}

void Simulator::busCycleOutcome(const BusCycle& cycle, Chip& socket) {
    const auto address = static_cast<unsigned>(cycle.address);
    const auto value = static_cast<unsigned>(cycle.value);
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
        if (outcome.changedCount > 0) {
            saveArray(outcome.changedFirst, outcome.changedCount);
        }
        if (cutAfterCycle) {
            cutAfterCycle = false;
            cutPowerNow();
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

void Simulator::changingCommandArrives() {
    ++changingCommands;
    if (!powerCut || changingCommands != powerCut->command) {
        return;
    }
    if (powerCut->moment == PowerCut::Moment::After) {
        cutAfterCycle = true;
        return;
    }
    cutPowerNow();
}

void Simulator::cutPowerNow() {
    const bool before = powerCut->moment == PowerCut::Moment::Before;
    note(format(
        "power cut (FLASHLOCK_SIM_KILL=%s:%llu): the process ends here, %s the command that changes the chip "
        "takes effect",
        before ? "before" : "after", static_cast<unsigned long long>(powerCut->command), before ? "before" : "after"));
    commitTrace();
    if (powerOff) {
        powerOff();
    }
}

void Simulator::saveState() {
    if (parts->statePath.empty()) {
        return;
    }
    if (auto problem = saveStateFile(parts->statePath, *parts->chip, parts->source)) {
        const std::string reason = quoted("FLASHLOCK_SIM_STATE", parts->statePath) + ": " + *problem +
                                   "; the change is kept for this run only";
        *errors << "flashlock simulator: " << reason << '\n' << std::flush;
        fault(reason);
    } else {
        note("state saved");
    }
}

void Simulator::saveArray(std::uint32_t first, std::uint32_t count) {
    Parts& state = *parts;
    if (state.statePath.empty() || state.arrayUnsaved) {
        return;
    }
    const std::filesystem::path file = contentPath(state.statePath, state.source);
    std::optional<std::string> problem;
    if (!state.source.contentWhole) {
        problem = foldIntoContent(file);
    } else {
        if (!state.content.is_open()) {
            state.content.open(file, std::ios::binary | std::ios::in | std::ios::out);
        }
        const std::vector<std::uint8_t>& array = state.chip->array();
        state.content.seekp(static_cast<std::streamoff>(first));
        // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast)
        state.content.write(reinterpret_cast<const char*>(array.data() + first), static_cast<std::streamsize>(count));
        state.content.flush();
        if (!state.content) {
            problem = "\"" + file.string() + "\" cannot be written in place (is the disk full?)";
        } else {
            note(format("array saved: %u bytes from 0x%06X", count, first));
        }
    }
    if (problem) {
        state.arrayUnsaved = true;
        const std::string reason = quoted("FLASHLOCK_SIM_STATE", state.statePath) + ": " + *problem +
                                   "; the array's changes are kept for this run only";
        *errors << "flashlock simulator: " << reason << '\n' << std::flush;
        fault(reason);
    }
}

std::optional<std::string> Simulator::foldIntoContent(const std::filesystem::path& file) {
    Parts& state = *parts;
    // The first change of a run whose state has no whole content file: the
    // array as it stands, image and array lines included, goes into the
    // content file once, and the state then names that file alone.
    if (auto problem = writeContentFile(file, *state.chip)) {
        return "its content file " + *problem;
    }
    ArraySource folded;
    folded.content = contentName(state.statePath, state.source);
    folded.contentWhole = true;
    state.chip->forgetGivenRows();
    state.source = folded;
    note("array saved: the whole array to \"" + file.string() + "\"");
    if (auto problem = saveStateFile(state.statePath, *state.chip, state.source)) {
        return *problem;
    }
    note("state saved");
    return std::nullopt;
}

void Simulator::note(const std::string& text) {
    if (parts == nullptr || !parts->logFile.is_open()) {
        return;
    }
    std::ofstream& log = parts->logFile;
    log << format("%8llu  ", static_cast<unsigned long long>(time)) << text << '\n';
    log.flush();
    if (!log) {
        // A disk that filled up: say so once rather than keep a log that
        // silently lacks its end.
        log.close();
        *errors << "flashlock simulator: FLASHLOCK_SIM_LOG could not be written to its end (is the disk full?); "
                   "the log stops here\n"
                << std::flush;
    }
}

void Simulator::commitTrace() {
    if (parts->trace != nullptr && !parts->trace->commit()) {
        parts->trace.reset();
        *errors << "flashlock simulator: FLASHLOCK_SIM_TRACE could not be written to its end (is the disk full?); "
                   "the waveform stops here\n"
                << std::flush;
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
    // One-bit signals take the line's level, not its bit's place value.
    const auto level = [](std::uint8_t lines, std::uint8_t mask) { return (lines & mask) != 0 ? 1U : 0U; };
    trace.set(VcdTrace::AddressClock, level(data, line::addressClock));
    trace.set(VcdTrace::AddressBit, level(data, line::addressBit));
    trace.set(VcdTrace::ReadClock, level(data, line::readClock));
    trace.set(VcdTrace::BusMode, level(control, line::busMode));
    trace.set(VcdTrace::DataDrive, level(control, line::dataDrive));
    trace.set(VcdTrace::Access, level(control, line::access));
    trace.set(VcdTrace::WriteStrobe, level(control, line::writeStrobe));
    trace.set(VcdTrace::SerialOut, level(status, line::serialOut));
    trace.set(VcdTrace::ProbeAnswer, level(status, line::probeAnswer));
    trace.set(VcdTrace::AddressRegister, lines.address());
    trace.setText(VcdTrace::ChipMode, parts->chip->model().present ? modeTag(parts->chip->mode()) : "empty");
}

}  // namespace flashsim
