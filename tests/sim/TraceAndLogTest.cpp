#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "SimulatedPort.h"
#include "tests/TempFolder.h"

namespace {

using testing::ElementsAre;

// Probe, identifier read, then one write with the access line down.
struct TracedRun {
    TracedRun() {
        Session session{{"FLASHLOCK_SIM_TRACE", folder.file("lines.vcd")},
                        {"FLASHLOCK_SIM_LOG", folder.file("bus.log")}};
        session.port.detectBoard();
        session.dialogue.readDeviceId();
        session.flash.endAccess();
        session.flash.writeAt(0, 0x90);
        steps = session.under.sim.steps();
    }
    TempFolder folder;
    std::uint64_t steps = 0;
};

// A value change dump read back: declarations and, per time, the changes.
struct Dump {
    std::map<std::string, std::pair<std::string, unsigned>> variables;  // id -> scope.name, width
    std::vector<std::string> header;
    struct Change {
        std::uint64_t time;
        std::string name;
        std::uint64_t value;
    };
    std::vector<Change> changes;
    std::vector<std::uint64_t> times;

    explicit Dump(const std::string& text) {
        std::istringstream in(text);
        std::string scope;
        bool body = false;
        std::uint64_t time = 0;
        for (std::string line; std::getline(in, line);) {
            std::istringstream words(line);
            std::string first;
            words >> first;
            if (!body) {
                header.push_back(line);
                if (first == "$scope") {
                    words >> scope >> scope;
                } else if (first == "$var") {
                    std::string type;
                    unsigned width = 0;
                    std::string id;
                    std::string name;
                    words >> type >> width >> id >> name;
                    EXPECT_EQ(variables.count(id), 0U) << "id used twice: " << id;
                    variables[id] = {std::string(scope).append(".").append(name), width};
                } else if (first == "$enddefinitions") {
                    body = true;
                }
                continue;
            }
            if (first[0] == '#') {
                time = std::stoull(first.substr(1));
                times.push_back(time);
            } else if (first[0] == 'b') {
                std::string id;
                words >> id;
                record(time, id, std::stoull(first.substr(1), nullptr, 2));
            } else if (first[0] == '0' || first[0] == '1') {
                record(time, first.substr(1), first[0] == '1' ? 1 : 0);
            } else {
                EXPECT_TRUE(first == "$dumpvars" || first == "$end") << line;
            }
        }
    }

    void record(std::uint64_t time, const std::string& id, std::uint64_t value) {
        const auto found = variables.find(id);
        ASSERT_NE(found, variables.end()) << "undeclared id " << id;
        changes.push_back({time, found->second.first, value});
    }

    // The variable's value as it stands at the end of `time`.
    [[nodiscard]] std::uint64_t at(const std::string& name, std::uint64_t time) const {
        std::uint64_t value = 0;
        for (const Change& change : changes) {
            if (change.time <= time && change.name == name) {
                value = change.value;
            }
        }
        return value;
    }
    [[nodiscard]] std::vector<std::uint64_t> timesOf(const std::string& name, std::uint64_t value) const {
        std::vector<std::uint64_t> found;
        for (const Change& change : changes) {
            if (change.name == name && change.value == value) {
                found.push_back(change.time);
            }
        }
        return found;
    }
};

std::uint64_t text(const std::string& word) {
    std::uint64_t value = 0;
    for (const char c : word) {
        value = (value << 8U) | static_cast<unsigned char>(c);
    }
    return value;
}

TEST(Trace, DeclaresThePortLinesAndTheDecodedCyclesForAViewer) {
    const TracedRun run;
    const Dump dump(readFile(run.folder.file("lines.vcd")));
    EXPECT_THAT(dump.header, testing::Contains("$timescale 1 us $end"));
    std::set<std::string> names;
    for (const auto& [id, variable] : dump.variables) {
        names.insert(variable.first + "/" + std::to_string(variable.second));
    }
    EXPECT_EQ(names,
              (std::set<std::string>{"lpt.data/8", "lpt.control/8", "lpt.status/8", "lpt.d0_address_clock/1",
                                     "lpt.d1_address_bit/1", "lpt.d2_read_clock/1", "lpt.c0_bus_mode/1",
                                     "lpt.c1_data_drive/1", "lpt.c2_access/1", "lpt.c3_write_strobe/1",
                                     "lpt.s6_serial_out/1", "lpt.s7_probe_answer/1", "board.address_register/24",
                                     "bus.cycle/64", "bus.address/24", "bus.byte/8", "bus.fault/1", "chip.mode/64"}));
    ASSERT_FALSE(dump.times.empty());
    EXPECT_EQ(dump.times.front(), 0U);
    EXPECT_TRUE(std::is_sorted(dump.times.begin(), dump.times.end()) &&
                std::adjacent_find(dump.times.begin(), dump.times.end()) == dump.times.end())
        << "strictly increasing";
    EXPECT_LE(dump.times.back(), run.steps);
}

TEST(Trace, ShowsEachBusCycleAtTheStepThatMadeIt) {
    const TracedRun run;
    const Dump dump(readFile(run.folder.file("lines.vcd")));
    const std::vector<std::uint64_t> writes = dump.timesOf("bus.cycle", text("write"));
    ASSERT_EQ(writes.size(), 7U) << "six identifier commands and the reset";
    EXPECT_EQ(dump.at("bus.address", writes[5]), 0xAAAU);
    EXPECT_EQ(dump.at("bus.byte", writes[5]), 0x90U);
    EXPECT_EQ(dump.at("chip.mode", writes[5]), text("ident"));
    EXPECT_EQ(dump.at("lpt.c3_write_strobe", writes[5]), 0U) << "the write is the strobe's fall";
    EXPECT_EQ(dump.at("bus.cycle", writes[5] + 1), 0U) << "a cycle is a one-step pulse";

    const std::vector<std::uint64_t> reads = dump.timesOf("bus.cycle", text("read"));
    ASSERT_EQ(reads.size(), 2U);
    EXPECT_EQ(dump.at("bus.byte", reads[0]), 0x89U);
    EXPECT_EQ(dump.at("bus.byte", reads[1]), 0x16U);
    EXPECT_EQ(dump.at("bus.address", reads[1]), 0x2U);

    EXPECT_EQ(dump.timesOf("bus.cycle", text("probe")).size(), 4U);
    const std::vector<std::uint64_t> faults = dump.timesOf("bus.fault", 1);
    ASSERT_EQ(faults.size(), 1U);
    EXPECT_EQ(dump.at("bus.cycle", faults[0]), text("blocked"));
    EXPECT_EQ(dump.at("lpt.c2_access", faults[0]), 0U);
}

// Each one-bit line must show its bit of the 8-bit register, at every time
// step where anything changed.
TEST(Trace, EveryOneBitLineFollowsItsBitOfTheRegister) {
    const TracedRun run;
    const Dump dump(readFile(run.folder.file("lines.vcd")));
    const struct {
        const char* line;
        const char* reg;
        unsigned bit;
    } lines[] = {
        {"lpt.d0_address_clock", "lpt.data", 0},   {"lpt.d1_address_bit", "lpt.data", 1},
        {"lpt.d2_read_clock", "lpt.data", 2},      {"lpt.c0_bus_mode", "lpt.control", 0},
        {"lpt.c1_data_drive", "lpt.control", 1},   {"lpt.c2_access", "lpt.control", 2},
        {"lpt.c3_write_strobe", "lpt.control", 3}, {"lpt.s6_serial_out", "lpt.status", 6},
        {"lpt.s7_probe_answer", "lpt.status", 7},
    };
    std::map<std::string, std::uint64_t> now;
    std::map<std::string, std::set<std::uint64_t>> seen;
    std::size_t checked = 0;
    const auto check = [&](std::uint64_t time) {
        for (const auto& line : lines) {
            EXPECT_EQ(now[line.line], (now[line.reg] >> line.bit) & 1U) << line.line << " at #" << time;
            seen[line.line].insert(now[line.line]);
        }
        ++checked;
    };
    for (std::size_t index = 0; index < dump.changes.size(); ++index) {
        const Dump::Change& change = dump.changes[index];
        now[change.name] = change.value;
        if (index + 1 == dump.changes.size() || dump.changes[index + 1].time != change.time) {
            check(change.time);
        }
    }
    EXPECT_EQ(checked, dump.times.size());
    for (const auto& line : lines) {
        EXPECT_EQ(seen[line.line], (std::set<std::uint64_t>{0, 1})) << line.line << " shows both levels";
    }
}

// Lines reach the file as each bus cycle ends, not when the run ends: a run
// killed now would leave the waveform up to here, cut at a line boundary.
TEST(Trace, IsOnDiskUpToTheLastBusCycleWhileTheRunGoesOn) {
    TempFolder folder;
    Session session{{"FLASHLOCK_SIM_TRACE", folder.file("lines.vcd")}};
    session.dialogue.readDeviceId();
    const std::string waveform = readFile(folder.file("lines.vcd"));
    ASSERT_FALSE(waveform.empty());
    EXPECT_EQ(waveform.back(), '\n');
    const Dump dump(waveform);
    EXPECT_EQ(dump.timesOf("bus.cycle", text("write")).size(), 7U);
    EXPECT_EQ(dump.timesOf("bus.cycle", text("read")).size(), 2U);
}

std::vector<std::string> logTexts(const std::string& log) {
    std::vector<std::string> texts;
    std::istringstream in(log);
    for (std::string line; std::getline(in, line);) {
        EXPECT_GE(line.size(), 10U);
        texts.push_back(line.substr(10));  // after the step number
    }
    return texts;
}

TEST(Log, TellsTheProbeTheAccessLineAndEveryBusCycleInWords) {
    const TracedRun run;
    EXPECT_THAT(
        logTexts(readFile(run.folder.file("bus.log"))),
        ElementsAre("flashlock simulator: board zantrel4v4, chip 28F320J3 (maker 0x89, device 0x16, 4096 KiB in 32 "
                    "blocks of 128 KiB), state kept in memory only",
                    "probe begins (Control bit 0 low)", "access line up", "probe: status 0xFF, bit 7 = 1",
                    "probe: status 0x7F, bit 7 = 0", "probe: status 0x7F, bit 7 = 0", "probe: status 0xFF, bit 7 = 1",
                    "probe ends (Control bit 0 high)", "access line down", "access line up",
                    "write 0x000555 <- 0xAA  other makers' unlock cycle, ignored",
                    "write 0x0002AA <- 0x55  other makers' unlock cycle, ignored",
                    "write 0x000555 <- 0xF0  reset to read array",
                    "write 0x000AAA <- 0xAA  other makers' unlock cycle, ignored",
                    "write 0x000555 <- 0x55  other makers' unlock cycle, ignored",
                    "write 0x000AAA <- 0x90  read identifier", "read  0x000000 -> 0x89  (read identifier)",
                    "read  0x000002 -> 0x16  (read identifier)", "write 0x000000 <- 0xF0  reset to read array",
                    "access line down",
                    "FAULT: write of 0x90 at 0x000000 with the access line (Control bit 2) low: it never reached the "
                    "chip"));
}

// The AMD set's modes by name in the log and the waveform: the dialogue's
// identifier read, then a program polled while busy.
TEST(Log, NamesTheAmdSetsModes) {
    TempFolder folder;
    {
        Session session{{"FLASHLOCK_SIM_CHIP", "Am29LV160DB"},
                        {"FLASHLOCK_SIM_PROTECTED", "0"},
                        {"FLASHLOCK_SIM_BUSY", "600000000"},
                        {"FLASHLOCK_SIM_TRACE", folder.file("lines.vcd")},
                        {"FLASHLOCK_SIM_LOG", folder.file("bus.log")}};
        EXPECT_EQ(session.dialogue.readDeviceId(), 0x4901);
        session.flash.beginAccess();
        session.flash.writeAt(0xAAA, 0xAA);
        session.flash.writeAt(0x555, 0x55);
        session.flash.writeAt(0xAAA, 0xA0);
        session.flash.writeAt(0x4000, 0x00);
        EXPECT_EQ(session.flash.readAt(0x4000), 0xC0);
        EXPECT_THAT(session.faults(), testing::IsEmpty());
    }
    const std::vector<std::string> log = logTexts(readFile(folder.file("bus.log")));
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.front(),
              "flashlock simulator: board zantrel4v4, chip Am29LV160DB (maker 0x01, device 0x49, 2048 KiB in 35 "
              "sectors: 1 x 16 KiB, 2 x 8 KiB, 1 x 32 KiB, 31 x 64 KiB, AMD command set, protected sectors 0), state "
              "kept in memory only");
    const std::string unknownCycle =
        "write 0x000555 <- 0xAA  0xAA at 0x000555 is no command here (expected 0xAA at 0xAAA or 0xF0): back to read "
        "array";
    const std::vector<std::string> expected = {
        unknownCycle,
        "write 0x000555 <- 0xF0  reset: read array",
        "write 0x000AAA <- 0xAA  unlock cycle 1",
        "write 0x000555 <- 0x55  unlock cycle 2",
        "write 0x000AAA <- 0x90  autoselect",
        "read  0x000002 -> 0x49  (autoselect)",
        "write 0x000AAA <- 0xA0  program setup",
        "write 0x004000 <- 0x00  byte program of 0x00 at 0x004000: done, busy for 600000000 us",
        "read  0x004000 -> 0xC0  (programming, status)",
    };
    EXPECT_THAT(log, testing::IsSupersetOf(expected));
    const Dump dump(readFile(folder.file("lines.vcd")));
    for (const char* mode : {"unlock1", "unlock2", "autosel", "program", "pgm busy"}) {
        EXPECT_THAT(dump.timesOf("chip.mode", text(mode)), testing::Not(testing::IsEmpty())) << mode;
    }
}

}  // namespace
