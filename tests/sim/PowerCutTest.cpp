// FLASHLOCK_SIM_KILL: the N-th command that changes the chip, on either
// command set and whether the chip carries it out or refuses it, cuts the
// power once: before it takes effect, with the state as the command found
// it, or after, with the state file holding its change.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "SimulatedPort.h"
#include "tests/TempFolder.h"

namespace {

// Bus writes "ADDRESS:BYTE,BYTE..." in hexadecimal (the bytes to consecutive
// addresses): a whole command sequence, whose last write is its final cycle.
struct Step {
    const char* writes;
    bool changes;  // a command that changes the chip, counted
};

struct Script {
    const char* name;
    const char* chip;
    const char* protectedSectors;  // FLASHLOCK_SIM_PROTECTED, or ""
    std::vector<Step> steps;
};

void PrintTo(const Script& script, std::ostream* os) {
    *os << script.name;
}

// Block (sector) 1 holds data, so that its erase changes bytes.
std::string startingState(const char* chip) {
    return std::string("flashlock-sim-state 1\nchip ") + chip +
           "\narray 020000 0F 0F 0F 0F 0F 0F 0F 0F 0F 0F 0F 0F 0F 0F 0F 0F\n";
}

// What a power cut leaves behind: the state file and the start of the array
// (where every step writes), as saved on disk.
std::string saved(const TempFolder& folder) {
    std::string start(0x40000, '\0');
    std::ifstream content(folder.file("state.txt.content"), std::ios::binary);
    content.read(start.data(), static_cast<std::streamsize>(start.size()));
    start.resize(static_cast<std::size_t>(content.gcount()));
    return readFile(folder.file("state.txt")) + start;
}

// Runs the script's steps; `step` tells the power cut where it came, and
// `beforeStep` is called before each step and once at the end.
void deliver(
    Session& session, const Script& script, std::size_t& step, const std::function<void()>& beforeStep = [] {}) {
    session.flash.beginAccess();
    for (step = 0; step < script.steps.size(); ++step) {
        beforeStep();
        std::istringstream words(script.steps[step].writes);
        for (std::string word; words >> word;) {
            auto address = static_cast<std::uint32_t>(std::stoul(word.substr(0, word.find(':')), nullptr, 16));
            std::istringstream bytes(word.substr(word.find(':') + 1));
            for (std::string byte; std::getline(bytes, byte, ',');) {
                session.flash.writeAt(address++, static_cast<std::uint8_t>(std::stoul(byte, nullptr, 16)));
            }
        }
    }
    beforeStep();
}

class PowerCut : public testing::TestWithParam<Script> {};

TEST_P(PowerCut, ComesOnceAtTheNthChangingCommandBeforeOrAfterItTakesEffect) {
    const Script& script = GetParam();
    const auto variables = [&script](const TempFolder& folder, const std::string& kill) {
        writeFile(folder.file("state.txt"), startingState(script.chip));
        Variables set{{"FLASHLOCK_SIM_CHIP", script.chip},
                      {"FLASHLOCK_SIM_STATE", folder.file("state.txt")},
                      {"FLASHLOCK_SIM_PROTECTED", script.protectedSectors},
                      {"FLASHLOCK_SIM_KILL", kill}};
        return set;
    };
    std::vector<std::size_t> changing;
    for (std::size_t index = 0; index < script.steps.size(); ++index) {
        if (script.steps[index].changes) {
            changing.push_back(index);
        }
    }
    // Without a power cut: what is saved before each step, and at the end.
    std::vector<std::string> before;
    {
        TempFolder folder;
        std::size_t step = 0;
        Session session(variables(folder, ""), [] { FAIL() << "a power cut nobody asked for"; });
        ASSERT_TRUE(session.under.sim.usable()) << session.under.messages.str();
        deliver(session, script, step, [&] { before.push_back(saved(folder)); });
    }
    for (const char* moment : {"before", "after"}) {
        for (std::size_t n = 1; n <= changing.size(); ++n) {
            const std::string kill = std::string(moment) + ":" + std::to_string(n);
            TempFolder folder;
            std::size_t step = 0;
            std::vector<std::size_t> cutAt;
            std::vector<std::string> cutLeft;
            Session session(variables(folder, kill), [&] {
                cutAt.push_back(step);
                cutLeft.push_back(saved(folder));
            });
            deliver(session, script, step);
            const std::size_t expected = changing[n - 1];
            ASSERT_EQ(cutAt.size(), 1U) << kill;
            EXPECT_EQ(cutAt[0], expected) << kill << ": the step of the power cut";
            EXPECT_TRUE(cutLeft[0] == before[std::string(moment) == "before" ? expected : expected + 1])
                << kill << ": the state saved when the power went";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    CommandSets, PowerCut,
    testing::Values(Script{"intel",
                           "28F320J3",
                           "",
                           {{"0:60,01", true},               // set lock bit of block 0
                            {"0:90", false},                 // read identifier
                            {"0:20,D0", true},               // erase of the locked block 0: refused
                            {"0:50", false},                 // clear status
                            {"0:60,D0", true},               // clear lock bits
                            {"20000:20,FF", false},          // erase confirm missing: a sequence error
                            {"0:50", false},                 //
                            {"20000:20,D0", true},           // erase block 1
                            {"0:40 100:5A", true},           // byte program
                            {"40:E8,00 40:11 40:D0", true},  // buffer program
                            {"0:FF", false}}},
                    Script{"amd",
                           "S29GL128P",
                           "5",
                           {{"AAA:AA 555:55 AAA:90", false},                                 // autoselect
                            {"0:F0", false},                                                 //
                            {"AAA:AA 555:55 AAA:80 AAA:AA 555:55 20000:30", true},           // sector erase
                            {"AAA:AA 555:55 AAA:A0 100:5A", true},                           // byte program
                            {"AAA:AA 555:55 20040:25 20040:01 20040:11,22 20040:29", true},  // buffer program
                            {"AAA:AA 555:55 20080:25 20080:01 20080:11 200C0:22",
                             false},                                                 // a load outside the page: aborted
                            {"AAA:AA 555:55 AAA:F0", false},                         // write-to-buffer-abort reset
                            {"AAA:AA 555:55 AAA:A0 A0000:00", true},                 // protected sector 5: refused
                            {"AAA:AA 555:55 AAA:20 0:A0 200:33", true},              // unlock bypass program
                            {"0:80 20000:30", true},                                 // unlock bypass sector erase
                            {"0:90 0:00", false},                                    // unlock bypass reset
                            {"AAA:AA 555:55 AAA:80 AAA:AA 555:55 AAA:10", true}}}),  // chip erase
    [](const testing::TestParamInfo<Script>& info) { return info.param.name; });

TEST(PowerCutSetting, TakesBeforeOrAfterAndACountFromOne) {
    for (const auto& [value, accepted] : std::vector<std::pair<std::string, bool>>{{"before:1", true},
                                                                                   {"AFTER:12", true},
                                                                                   {"after:0", false},
                                                                                   {"during:3", false},
                                                                                   {"before", false},
                                                                                   {"before:", false},
                                                                                   {"after:-1", false},
                                                                                   {"after:2x", false}}) {
        SimUnderTest under({{"FLASHLOCK_SIM_KILL", value}});
        EXPECT_EQ(under.sim.usable(), accepted) << value;
        if (!accepted) {
            EXPECT_EQ(under.messages.str(),
                      "flashlock simulator: FLASHLOCK_SIM_KILL=\"" + value +
                          "\" is not accepted; use before:N or after:N, N from 1: the process ends as in a power cut "
                          "just before or just after the N-th command that changes the chip (a lock bit set or "
                          "cleared, an erase, a byte or buffer program); the simulated port is not usable: port "
                          "writes do nothing and no board answers the probe\n");
        }
    }
}

}  // namespace
