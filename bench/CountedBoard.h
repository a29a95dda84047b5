#pragma once

// The board driver as the program builds it, its port calls sent to an
// in-process simulator instead of the loaded module, and every PortOut and
// PortIn counted: the board's real price, about a microsecond an access.

#include <cstdint>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "driver/PortIoLibrary.h"
#include "driver/Zantrel4v4.h"
#include "flash/FlashChip.h"
#include "flash/Geometry.h"
#include "flash/Identify.h"
#include "iolib/sim/Simulator.h"

namespace bench {

inline constexpr double microsecondsPerAccess = 1.0;

struct Counted {
    flashsim::Simulator* simulator = nullptr;
    std::uint64_t accesses = 0;
};

inline Counted& counted() {
    static Counted instance;
    return instance;
}

inline void FLASHLOCK_IO_CALL countedPortOut(std::int16_t port, std::int8_t value) {
    ++counted().accesses;
    counted().simulator->portOut(static_cast<std::uint16_t>(port), static_cast<std::uint8_t>(value));
}

inline std::int8_t FLASHLOCK_IO_CALL countedPortIn(std::int16_t port) {
    ++counted().accesses;
    return static_cast<std::int8_t>(counted().simulator->portIn(static_cast<std::uint16_t>(port)));
}

// The simulated chip (`chip` names a part, empty for the default one) with
// its state at `statePath` (empty for none), identified, its command set
// ready, and one bus cycle of each kind counted.
struct CountedBoard {
    explicit CountedBoard(const std::string& statePath, std::string chipName = {})
        : simulator(
              [statePath, chipName = std::move(chipName)](const char* name) -> std::optional<std::string> {
                  const std::string variable = name;
                  if (variable == "FLASHLOCK_SIM_BUSY") {
                      return "none";
                  }
                  if (variable == "FLASHLOCK_SIM_STATE" && !statePath.empty()) {
                      return statePath;
                  }
                  if (variable == "FLASHLOCK_SIM_CHIP" && !chipName.empty()) {
                      return chipName;
                  }
                  return std::nullopt;
              },
              std::cerr),
          driver(888),
          chip(&driver) {
        counted().simulator = &simulator;
        // NOLINTBEGIN(cppcoreguidelines-pro-type-reinterpret-cast)
        portIoLibrary.entryPoints.at(static_cast<std::size_t>(PortIoEntry::PortOut)) =
            reinterpret_cast<platform::ModuleSymbol>(&countedPortOut);
        portIoLibrary.entryPoints.at(static_cast<std::size_t>(PortIoEntry::PortIn)) =
            reinterpret_cast<platform::ModuleSymbol>(&countedPortIn);
        // NOLINTEND(cppcoreguidelines-pro-type-reinterpret-cast)
        const bool answered = chip.detectBoard() == BoardKind::Zantrel4v4;
        chip.beginAccess();
        found = identify(chip);
        ready = answered && found.valid();
        if (ready) {
            commands = commandSetFor(chip, geometry());
        }
        const std::uint64_t start = counted().accesses;
        chip.writeAt(0, 0xFF);
        writeCycle = counted().accesses - start;
        static_cast<void>(chip.readAt(0));
        readCycle = counted().accesses - start - writeCycle;
    }

    [[nodiscard]] const Geometry& geometry() const { return found.geometry.geometry; }

    flashsim::Simulator simulator;
    Zantrel4v4 driver;
    FlashChip chip;
    Identification found;
    std::unique_ptr<CommandSet> commands;
    std::uint64_t writeCycle = 0;
    std::uint64_t readCycle = 0;
    bool ready = false;
};

}  // namespace bench
