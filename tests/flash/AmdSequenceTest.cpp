#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "flash/FakeChip.h"
#include "flash/amd/AmdCommandSet.h"
#include "iolib/sim/ChipCatalog.h"

namespace {

using Cycles = std::vector<std::string>;
using Bytes = std::vector<std::uint8_t>;

// A 2 MiB bottom-boot part of the AMD set: 16, 8, 8 and 32 KiB, then 64 KiB
// sectors; a write buffer of 2^n bytes, or none.
flashsim::ChipModel amdPart(std::uint8_t bufferExponent) {
    return flashsim::amdPart(
        {.layout = {{1, 0x4000}, {2, 0x2000}, {1, 0x8000}, {31, 0x10000}}, .bufferExponent = bufferExponent});
}

struct AmdCase {
    const char* name;
    std::uint8_t bufferExponent;
    std::function<void(FakeChip&)> setUp;
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
    fake.part = amdPart(c.bufferExponent);
    c.setUp(fake);
    FakeSession session(fake);
    ASSERT_TRUE(session.found.valid()) << session.found.problem();

    const OperationResult result = c.operation(*session.commands);

    EXPECT_THAT(fake.cycles(), testing::ElementsAreArray(c.expected));
    EXPECT_EQ(result.ok, c.ok);
    EXPECT_FALSE(session.commands->busy());
}

const Bytes data{0x11, 0xFF, 0x22, 0x44};
const auto ready = [](FakeChip& /*fake*/) {};
const auto programFails = [](FakeChip& fake) { fake.settings.programFailAddress = 0x20010; };
const auto unlock = Cycles{"W 000AAA AA", "W 000555 55"};

Cycles operator+(Cycles a, const Cycles& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AmdSequence,
    testing::Values(
        // One byte per sequence; 0xFF is left alone.
        AmdCase{"byteProgram", 0, ready, [](CommandSet& c) { return c.program(0x20010, data.data(), 3); },
                unlock + Cycles{"W 000AAA A0", "W 020010 11", "R again", "R again"} + unlock +
                    Cycles{"W 000AAA A0", "W 020012 22", "R again", "R again"},
                true},
        // Setup, count and confirm at the buffer's start; polled at the last byte loaded.
        AmdCase{"bufferProgram", 5, ready, [](CommandSet& c) { return c.program(0x20010, data.data(), 4); },
                unlock + Cycles{"W 020010 25", "W 020010 03", "W 020010 11", "W 020011 FF", "W 020012 22",
                                "W 020013 44", "W 020010 29", "R 020013", "R again"},
                true},
        // Polled inside the sector, where DQ7 reads 0 until it is erased.
        AmdCase{"sectorErase", 0, ready,
                [](CommandSet& c) {
                    return c.erase({0x6000, 0x2000});
                },
                unlock + Cycles{"W 000AAA 80"} + unlock + Cycles{"W 006000 30", "R again", "R again"}, true},
        // DQ5 with DQ7 still busy on the second read: a failure, then the reset.
        AmdCase{"programFailureResets", 0, programFails,
                [](CommandSet& c) { return c.program(0x20010, data.data(), 1); },
                unlock + Cycles{"W 000AAA A0", "W 020010 11", "R again", "R again", "W 020010 F0"}, false},
        // DQ7 turned just as DQ5 rose: done after all. The first poll's
        // byte is the one the model, done at once, cannot give.
        AmdCase{"dq5RaceIsNoFailure", 0,
                [](FakeChip& fake) {
                    fake.driver.chipByte = [&fake, polls = 0](std::uint32_t address) mutable {
                        const std::uint8_t byte = fake.chip().read(address);
                        return address == 0x20010 && ++polls == 1 ? std::uint8_t{0xB1} : byte;
                    };
                },
                [](CommandSet& c) { return c.program(0x20010, data.data(), 1); },
                unlock + Cycles{"W 000AAA A0", "W 020010 11", "R again", "R again", "R again"}, true},
        // A failed or aborted buffer needs the three-cycle reset.
        AmdCase{"bufferFailureResetsInThreeCycles", 5, programFails,
                [](CommandSet& c) { return c.program(0x20010, data.data(), 1); },
                unlock + Cycles{"W 020010 25", "W 020010 00", "W 020010 11", "W 020010 29", "R 020010", "R again"} +
                    unlock + Cycles{"W 000AAA F0"},
                false}),
    [](const testing::TestParamInfo<AmdCase>& info) { return info.param.name; });

// Identification speaks the AMD set only once the query said so: no Intel
// command reaches the part, the three-byte code is read whole.
TEST(AmdIdentify, QueriesThenAutoselectsAndReadsTheThreeByteCode) {
    FakeChip fake;
    fake.part = flashsim::findChip("S29GL128P");
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

// Protection on these parts changes only by their own means: a lock command
// is refused without a single bus cycle.
TEST(AmdProtection, LockCommandsSendNothing) {
    FakeChip fake;
    fake.part = amdPart(0);
    FakeSession session(fake);
    ASSERT_TRUE(session.found.valid()) << session.found.problem();
    fake.forget();
    const Block sector{0x10000, 0x10000};
    EXPECT_FALSE(session.commands->setLock(sector).ok);
    EXPECT_FALSE(session.commands->clearLock(sector).ok);
    EXPECT_FALSE(session.commands->clearAllLocks().ok);
    EXPECT_THAT(fake.cycles(), testing::IsEmpty());
}

}  // namespace
