#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "iolib/sim/Board.h"
#include "iolib/sim/Chip.h"
#include "iolib/sim/Config.h"
#include "iolib/sim/PowerCut.h"
#include "iolib/sim/VcdTrace.h"

namespace flashsim {

// How long a run waits for another one that holds the same state file.
inline constexpr std::chrono::milliseconds stateLockWait{30000};

// The parallel port at 0x378 with the simulated board and chip behind it:
// what the exported PortOut and PortIn reach. It keeps the persistent chip
// state, the waveform and the log up to date as the traffic comes in.
class Simulator {
public:
    static constexpr std::uint16_t dataPort = 0x378;
    static constexpr std::uint16_t statusPort = dataPort + 1;
    static constexpr std::uint16_t controlPort = dataPort + 2;

    // Reads the configuration and opens its files. Each problem is reported
    // as one line on `errors`, and the simulator is then not usable: port
    // writes do nothing and the status inputs read as an open port, so that
    // detection finds no board.
    // While another run holds the state file, waits up to `lockWait` for it,
    // saying once on `errors` that it waits. `powerOff` is what
    // FLASHLOCK_SIM_KILL calls to end the process (a test gives one that
    // only takes note). Never throws.
    Simulator(const Environment& environment, std::ostream& errors, std::chrono::milliseconds lockWait = stateLockWait,
              std::function<void()> powerOff = cutPower) noexcept;
    ~Simulator();
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;
    Simulator(Simulator&&) = delete;
    Simulator& operator=(Simulator&&) = delete;

    [[nodiscard]] bool usable() const { return parts != nullptr && !stopped; }
    // nullptr while usable; otherwise what is wrong, in the words of the
    // lines on `errors`, joined by "; ". Valid as long as the simulator.
    [[nodiscard]] const char* reasonNotUsable() const;

    // Never throw: whatever goes wrong inside (memory, files) is reported once
    // and then the port behaves as an unusable one.
    void portOut(std::uint16_t port, std::uint8_t value) noexcept;
    std::uint8_t portIn(std::uint16_t port) noexcept;

    // Everything the simulator found wrong with the traffic so far, in order.
    [[nodiscard]] const std::vector<std::string>& faults() const { return faultList; }
    // Only while usable.
    [[nodiscard]] const Board* board() const;
    [[nodiscard]] const Chip* chip() const;
    // The time step of the last port access.
    [[nodiscard]] std::uint64_t steps() const { return time; }

private:
    struct Parts;

    void open(const Config& config, std::chrono::milliseconds lockWait, std::vector<std::string>& problems);
    void portOutUnguarded(std::uint16_t port, std::uint8_t value);
    std::uint8_t portInUnguarded(std::uint16_t port);
    void stop(const char* reason) noexcept;
    void writeData(std::uint8_t value);
    void writeControl(std::uint8_t value);
    void busCycle(const BusCycle& cycle);
    void busCycleOutcome(const BusCycle& cycle, Chip& socket);
    // FLASHLOCK_SIM_KILL: counts the commands that change the chip, and cuts
    // the power at the one it names, before it takes effect or once the
    // state holds it.
    void changingCommandArrives();
    void cutPowerNow();
    void saveState();
    // After an erase or program changed bytes [first, first + count).
    void saveArray(std::uint32_t first, std::uint32_t count);
    std::optional<std::string> foldIntoContent(const std::filesystem::path& file);
    void note(const std::string& text);
    void fault(const std::string& text);
    void traceLines(std::uint8_t status);
    void commitTrace();

    std::unique_ptr<Parts> parts;
    std::ostream* errors;
    std::vector<std::string> faultList;
    std::string problemText;
    std::uint64_t time = 0;
    std::function<void()> powerOff;
    std::optional<PowerCut> powerCut;
    std::uint64_t changingCommands = 0;
    // The power cut comes once this cycle's change is saved.
    bool cutAfterCycle = false;
    // Set once something inside failed past recovery.
    bool stopped = false;
};

}  // namespace flashsim
