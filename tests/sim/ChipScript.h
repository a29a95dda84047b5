#pragma once

#include <cstdint>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "SimulatedPort.h"
#include "iolib/sim/Chip.h"
#include "iolib/sim/Config.h"

// Bus cycles on a chip model, written as words in hexadecimal:
// "ADDRESS:BYTE,BYTE..." writes the bytes to consecutive addresses, and
// "RADDRESS=BYTE" reads one byte and expects it.
struct ScriptRun {
    std::vector<std::string> mismatches;  // "R1234=C0 read 80" for each read that differed
    bool fault = false;                   // some write was a fault
    std::string log;                      // every write's outcome, one per line
};

inline ScriptRun runScript(flashsim::Chip& chip, const std::string& script) {
    ScriptRun run;
    std::istringstream words(script);
    for (std::string word; words >> word;) {
        if (word[0] == 'R') {
            const std::size_t equals = word.find('=');
            const auto address = static_cast<std::uint32_t>(std::stoul(word.substr(1, equals - 1), nullptr, 16));
            const auto expected = static_cast<std::uint8_t>(std::stoul(word.substr(equals + 1), nullptr, 16));
            const std::uint8_t got = chip.read(address);
            if (got != expected) {
                run.mismatches.push_back(word + " read " + flashsim::hexByte(got));
            }
            continue;
        }
        auto address = static_cast<std::uint32_t>(std::stoul(word.substr(0, word.find(':')), nullptr, 16));
        std::istringstream bytes(word.substr(word.find(':') + 1));
        for (std::string byte; std::getline(bytes, byte, ',');) {
            const flashsim::CommandOutcome outcome =
                chip.write(address++, static_cast<std::uint8_t>(std::stoul(byte, nullptr, 16)));
            run.fault = run.fault || outcome.fault;
            run.log += outcome.action + '\n';
        }
    }
    return run;
}

// A chip as the simulator's variables make it ("CHIP=S29GL128P
// PROTECTED=0-3": FLASHLOCK_SIM_ before each name), busy for `busyReads`
// reads after each command.
inline std::unique_ptr<flashsim::Chip> chipFrom(const std::string& variables, int busyReads) {
    Variables named;
    std::istringstream words(variables);
    for (std::string word; words >> word;) {
        named["FLASHLOCK_SIM_" + word.substr(0, word.find('='))] = word.substr(word.find('=') + 1);
    }
    flashsim::ConfigResult result = flashsim::readConfig([&named](const char* name) -> std::optional<std::string> {
        const auto found = named.find(name);
        return found == named.end() ? std::nullopt : std::optional(found->second);
    });
    EXPECT_THAT(result.errors, testing::IsEmpty());
    result.config.chipSettings.busyReads = busyReads;
    return flashsim::makeChip(result.config.chip, result.config.chipSettings);
}
