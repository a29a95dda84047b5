#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "RecordingDriver.h"
#include "flash/CommandSet.h"
#include "flash/FlashChip.h"
#include "flash/Identify.h"
#include "iolib/sim/Chip.h"

// The simulator's chip behind the recording driver: the driver's write
// cycles reach it and its reads answer them, so a command's whole bus
// sequence can be asserted on the model users run, and its outcome steered
// by that model's own settings (busy reads, VPEN low, a stuck lock bit...).
// The knobs below are read once, when the first bus cycle builds the chip.
class FakeChip {
public:
    explicit FakeChip(std::size_t blocks = 32, std::uint32_t blockSize = 0x20000) : locks(blocks, false) {
        design.blockCount = static_cast<std::uint32_t>(blocks);
        design.blockSize = blockSize;
        // Ready at the first status read unless a test says otherwise: busy
        // in real time, a test would depend on the machine's speed.
        settings.busyReads = 0;
        driver.chipByte = [this](std::uint32_t address) { return chip().read(address); };
        driver.chipWrite = [this](std::uint32_t address, std::uint8_t value) {
            // A sequence the datasheets forbid fails the test that sent it.
            const flashsim::CommandOutcome outcome = chip().write(address, value);
            if (outcome.fault) {
                ADD_FAILURE() << "the chip takes this write as a fault: " << outcome.action;
            }
        };
    }
    // The driver's chip answers through `this`.
    FakeChip(const FakeChip&) = delete;
    FakeChip& operator=(const FakeChip&) = delete;
    FakeChip(FakeChip&&) = delete;
    FakeChip& operator=(FakeChip&&) = delete;
    ~FakeChip() = default;

    RecordingDriver driver;
    // An Intel-set part of one region of equal blocks, unless `part` puts
    // another in the socket (an AMD-set part, no chip at all).
    flashsim::IntelPartDesign design;
    std::optional<flashsim::ChipModel> part;
    flashsim::ChipSettings settings;
    // Lock bits from block 0 and content from address 0; the chip's other
    // blocks are unlocked and its other bytes erased.
    std::vector<bool> locks;
    std::vector<std::uint8_t> array;

    // The chip as the bus cycles so far left it: its array and lock bits
    // after a run.
    flashsim::Chip& chip() {
        if (!simulated) {
            simulated = flashsim::makeChip(part ? *part : flashsim::intelPart(design), settings);
            simulated->loadArray(0, array);
            for (std::uint32_t block = 0; block < locks.size(); ++block) {
                if (locks[block]) {
                    simulated->setLocked(block, true);
                }
            }
        }
        return *simulated;
    }

    // Drops what the driver recorded so far.
    void forget() { driver.calls.clear(); }

    // The bus cycles, one line each: "W 000000 50", "R 000004", "R again"
    // (no address shifted), "step 1" (one bit clocked in), "wait 10",
    // "access up", "access down". Strobe and direction lines are left out:
    // the write cycle itself is asserted elsewhere.
    [[nodiscard]] std::vector<std::string> cycles() {
        std::vector<std::string> out;
        const std::vector<std::string>& calls = driver.record();
        for (std::size_t i = 0; i < calls.size(); ++i) {
            const std::string& call = calls[i];
            unsigned address = 0;
            if (call.size() > 2 && call.compare(call.size() - 2, 2, "/1") == 0) {
                // One bit clocked into the board's register.
                out.push_back(text("step %X", static_cast<unsigned>(call[call.size() - 3] - '0')));
            } else if (hexAfter(call, "address ", address) && i + 1 < calls.size()) {
                const std::string& next = calls[i + 1];
                out.push_back(next == "read" ? text("R %06X", address)
                                             : text("W %06X ", address) + next.substr(next.size() - 2));
                ++i;
            } else if (call == "read") {
                // Read again at the address the board's register holds.
                out.emplace_back("R again");
            } else if (call == "Control 0004") {
                out.emplace_back("access up");
            } else if (call == "Control 0400") {
                out.emplace_back("access down");
            } else if (call.rfind("wait ", 0) == 0 && call != "wait 1" && (i == 0 || calls[i - 1] != "Control 0209") &&
                       (i == 0 || calls[i - 1] != "Control 0004")) {
                out.push_back(call);
            }
        }
        return out;
    }

private:
    // The hexadecimal number after `prefix` in a recorded call that starts so.
    static bool hexAfter(const std::string& call, const char* prefix, unsigned& value) {
        const std::size_t length = std::strlen(prefix);
        if (call.compare(0, length, prefix) != 0) {
            return false;
        }
        char* end = nullptr;
        value = static_cast<unsigned>(std::strtoul(call.c_str() + length, &end, 16));
        return end != call.c_str() + length;
    }

    static std::string text(const char* pattern, unsigned value) {
        char buffer[32];
        std::snprintf(buffer, sizeof buffer, pattern, value);
        return buffer;
    }

    std::unique_ptr<flashsim::Chip> simulated;
};

// The chip layer on a fake chip: identified as the commands identify it,
// with its command set ready; what that cost on the bus is forgotten.
struct FakeSession {
    explicit FakeSession(FakeChip& fake) : fake(&fake), chip(&fake.driver), found(identify(chip)) {
        if (found.valid()) {
            commands = commandSetFor(chip, found.geometry.geometry);
        }
        fake.forget();
    }

    FakeChip* fake;
    FlashChip chip;
    Identification found;
    std::unique_ptr<CommandSet> commands;
};
