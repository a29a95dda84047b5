#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "flash/FakeChip.h"
#include "flash/amd/AmdCommandSet.h"

namespace {

using Cycles = std::vector<std::string>;
using Bytes = std::vector<std::uint8_t>;

// A 2 MiB bottom-boot part of the AMD set: 16, 8, 8 and 32 KiB, then 64 KiB sectors.
Geometry amdPart(std::uint32_t buffer) {
    Geometry geometry;
    geometry.commandSet = cfiCommandSet::amdStandard;
    geometry.size = 0x200000;
    geometry.writeBufferSize = buffer;
    geometry.timing = {4, buffer != 0 ? std::uint8_t{7} : std::uint8_t{0}, 10, 5, 5, 4};
    geometry.blocks = {{0, 0x4000}, {0x4000, 0x2000}, {0x6000, 0x2000}, {0x8000, 0x8000}};
    for (std::uint32_t base = 0x10000; base < geometry.size; base += 0x10000) {
        geometry.blocks.push_back({base, 0x10000});
    }
    return geometry;
}

struct AmdCase {
    const char* name;
    std::uint32_t buffer;
    // What every read answers: the data polled for (done), or a failure's status bits.
    std::function<std::uint8_t(std::uint32_t)> answer;
    std::function<OperationResult(CommandSet&)> operation;
    Cycles expected;
    bool ok;
};

void PrintTo(const AmdCase& c, std::ostream* os) {
    *os << c.name;
}

class AmdSequence : public testing::TestWithParam<AmdCase> {};

// The exact bus cycles of the AMD set's program and erase, in byte mode:
// unlock cycles at 0xAAA and 0x555, data polling where the datasheets say.
TEST_P(AmdSequence, WritesExactlyTheseCycles) {
    const AmdCase& c = GetParam();
    FakeChip fake;
    fake.driver.chipByte = c.answer;
    FlashChip chip(&fake.driver);
    const Geometry geometry = amdPart(c.buffer);
    AmdCommandSet commands(chip, geometry);

    const OperationResult result = c.operation(commands);

    EXPECT_THAT(fake.cycles(), testing::ElementsAreArray(c.expected));
    EXPECT_EQ(result.ok, c.ok);
    EXPECT_FALSE(commands.busy());
}

const Bytes data{0x11, 0xFF, 0x22, 0x44};
// Programmed bytes read back as written; an erased sector as 0xFF.
const auto written = [](std::uint32_t address) {
    return address >= 0x20010 && address < 0x20014 ? data.at(address - 0x20010) : std::uint8_t{0xFF};
};
const auto unlock = Cycles{"W 000AAA AA", "W 000555 55"};

Cycles operator+(Cycles a, const Cycles& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AmdSequence,
    testing::Values(
        // One byte per sequence; 0xFF is left alone.
        AmdCase{"byteProgram", 0, written, [](CommandSet& c) { return c.program(0x20010, data.data(), 3); },
                unlock + Cycles{"W 000AAA A0", "W 020010 11", "R again", "R again"} + unlock +
                    Cycles{"W 000AAA A0", "W 020012 22", "R again", "R again"},
                true},
        // Setup, count and confirm at the buffer's start; polled at the last byte loaded.
        AmdCase{"bufferProgram", 32, written, [](CommandSet& c) { return c.program(0x20010, data.data(), 4); },
                unlock + Cycles{"W 020010 25", "W 020010 03", "W 020010 11", "W 020011 FF", "W 020012 22",
                                "W 020013 44", "W 020010 29", "R 020013", "R again"},
                true},
        // Polled inside the sector, where DQ7 reads 0 until it is erased.
        AmdCase{"sectorErase", 0, written,
                [](CommandSet& c) {
                    return c.erase({0x6000, 0x2000});
                },
                unlock + Cycles{"W 000AAA 80"} + unlock + Cycles{"W 006000 30", "R again", "R again"}, true},
        // DQ5 with DQ7 still busy on the second read: a failure, then the reset.
        AmdCase{"programFailureResets", 0, [](std::uint32_t) { return std::uint8_t{0xA0}; },
                [](CommandSet& c) { return c.program(0x20010, data.data(), 1); },
                unlock + Cycles{"W 000AAA A0", "W 020010 11", "R again", "R again", "W 020010 F0"}, false},
        // DQ7 turned just as DQ5 rose: done after all.
        AmdCase{"dq5RaceIsNoFailure", 0,
                [reads = 0](std::uint32_t) mutable { return ++reads == 1 ? std::uint8_t{0xB1} : std::uint8_t{0x11}; },
                [](CommandSet& c) { return c.program(0x20010, data.data(), 1); },
                unlock + Cycles{"W 000AAA A0", "W 020010 11", "R again", "R again", "R again"}, true},
        // A buffer abort (DQ1) needs the three-cycle reset.
        AmdCase{"bufferAbortResetsInThreeCycles", 32, [](std::uint32_t) { return std::uint8_t{0x82}; },
                [](CommandSet& c) { return c.program(0x20010, data.data(), 1); },
                unlock + Cycles{"W 020010 25", "W 020010 00", "W 020010 11", "W 020010 29", "R 020010", "R again"} +
                    unlock + Cycles{"W 000AAA F0"},
                false}),
    [](const testing::TestParamInfo<AmdCase>& info) { return info.param.name; });

// Identification speaks the AMD set only once the query said so: no Intel
// command reaches the part, the three-byte code is read whole.
TEST(AmdIdentify, QueriesThenAutoselectsAndReadsTheThreeByteCode) {
    FakeChip fake;
    fake.driver.chipByte = [](std::uint32_t address) -> std::uint8_t {
        switch (address) {
        case 0x20:
            return 'Q';
        case 0x22:
            return 'R';
        case 0x24:
            return 'Y';
        case 0x26:
            return 0x02;
        case 0x00:
            return 0x01;
        case 0x02:
            return 0x7E;
        case 0x1C:
            return 0x21;
        case 0x1E:
            return 0x01;
        default:
            return 0x00;
        }
    };
    FlashChip chip(&fake.driver);
    const Identification found = identify(chip);
    EXPECT_EQ(found.identity, (ChipIdentity{0x01, 0, {0x7E, 0x21, 0x01}}));
    const Cycles cycles = fake.cycles();
    const auto autoselect = std::find(cycles.begin(), cycles.end(), "W 000AAA 90");
    ASSERT_NE(autoselect, cycles.end());
    EXPECT_EQ(cycles.front(), "W 0000AA 98");
    EXPECT_THAT(Cycles(autoselect - 4, autoselect + 1),
                testing::ElementsAre("W 000000 F0", "W 000000 F0", "W 000AAA AA", "W 000555 55", "W 000AAA 90"));
    EXPECT_THAT(Cycles(autoselect + 1, cycles.end()),
                testing::ElementsAre("wait 1000", "R 000000", "R 000002", "R 00001C", "R 00001E", "W 000000 F0"));
    for (const char* intel : {"FF", "90", "70", "50", "60"}) {
        EXPECT_EQ(std::count_if(cycles.begin(), autoselect,
                                [intel](const std::string& cycle) {
                                    return cycle.rfind("W ", 0) == 0 && cycle.substr(9) == intel;
                                }),
                  0)
            << intel;
    }
}

}  // namespace
