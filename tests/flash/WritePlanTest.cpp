#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "flash/FakeChip.h"
#include "flash/FlashChip.h"
#include "flash/Geometry.h"
#include "flash/WritePlan.h"
#include "flash/intel/IntelCommandSet.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

struct Planned {
    BlockAction action;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> spans;  // address, length, in writing order
    std::size_t preserved;
};

struct PlanCase {
    const char* name;
    std::vector<Block> blocks;
    std::function<void(Bytes&)> chip;  // from all 0xFF
    std::uint32_t start;
    Bytes wanted;  // empty: erase the blocks named in `erase`
    std::vector<bool> erase;
    std::uint32_t bufferSize;
    std::vector<Planned> expected;
    std::uint64_t bytesRead;
};

// The case as ctest and failures name it.
void PrintTo(const PlanCase& c, std::ostream* os) {
    *os << c.name;
}

class Planner : public testing::TestWithParam<PlanCase> {};

TEST_P(Planner, ReadsNoMoreThanItNeedsAndWritesOnlyWhatDiffers) {
    const PlanCase& c = GetParam();
    Bytes chip(c.blocks.back().base + c.blocks.back().size, 0xFF);
    c.chip(chip);
    PlanCallbacks callbacks;
    callbacks.read = [&chip](std::uint32_t address) { return chip.at(address); };
    const WritePlan plan = c.wanted.empty() ? planErase(c.blocks, c.erase, callbacks)
                                            : planWrite(c.blocks, c.start, c.wanted, c.bufferSize, callbacks);
    EXPECT_TRUE(plan.complete);
    EXPECT_EQ(plan.bytesRead, c.bytesRead);
    ASSERT_EQ(plan.blocks.size(), c.expected.size());
    for (std::size_t i = 0; i < plan.blocks.size(); ++i) {
        const BlockPlan& block = plan.blocks[i];
        std::vector<std::pair<std::uint32_t, std::uint32_t>> spans;
        for (const ProgramSpan& span : block.spans) {
            spans.emplace_back(span.address, span.length);
            // Never across a buffer window or out of the block.
            EXPECT_EQ(span.address / c.bufferSize, (span.address + span.length - 1) / c.bufferSize);
            EXPECT_GE(span.address, block.base);
            EXPECT_LE(span.address + span.length, block.base + block.size);
        }
        EXPECT_EQ(block.action, c.expected[i].action) << "block " << i;
        EXPECT_EQ(spans, c.expected[i].spans) << "block " << i;
        EXPECT_EQ(block.preservedSpans, c.expected[i].preserved) << "block " << i;
    }
}

Bytes filled(std::size_t count, std::uint8_t value) {
    return Bytes(count, value);  // NOLINT(modernize-return-braced-init-list): braces would make a two-byte vector
}

const std::vector<Block> twoBlocks{{0, 64}, {64, 64}};
const auto blank = [](Bytes& /*chip*/) {};

INSTANTIATE_TEST_SUITE_P(Cases, Planner,
                         testing::Values(
                             // A rerun: everything read once, nothing written.
                             PlanCase{"equal",
                                      twoBlocks,
                                      [](Bytes& chip) { chip.assign(128, 0x5A); },
                                      0,
                                      filled(128, 0x5A),
                                      {},
                                      8,
                                      {{BlockAction::Keep, {}, 0}, {BlockAction::Keep, {}, 0}},
                                      128},
                             // Only bits to clear: programmed in place, one span per buffer window.
                             PlanCase{"clearBitsOnly",
                                      twoBlocks,
                                      blank,
                                      10,
                                      filled(10, 0x0F),
                                      {},
                                      8,
                                      {{BlockAction::Program, {{10, 6}, {16, 4}}, 0}},
                                      10},
                             // The first byte proves the erase; the rest is not read.
                             PlanCase{"needsErase",
                                      twoBlocks,
                                      [](Bytes& chip) { chip.assign(128, 0x00); },
                                      64,
                                      filled(64, 0x11),
                                      {},
                                      32,
                                      {{BlockAction::EraseAndProgram, {{64, 32}, {96, 32}}, 0}},
                                      1},
                             // Block 0 must be erased: its bytes outside the range are read and
                             // written back first; block 1 only clears bits.
                             PlanCase{"partialFirstAndLastBlocks",
                                      twoBlocks,
                                      [](Bytes& chip) {
                                          chip[2] = 0x55;
                                          chip[60] = 0x00;
                                      },
                                      60,
                                      filled(10, 0xA5),
                                      {},
                                      8,
                                      {{BlockAction::EraseAndProgram, {{2, 1}, {60, 4}}, 1},
                                       {BlockAction::Program, {{64, 6}}, 0}},
                                      67},
                             // After an erase, 0xFF needs no programming: only the runs between.
                             PlanCase{"erasedBytesSkipped",
                                      twoBlocks,
                                      [](Bytes& chip) { chip.assign(128, 0x00); },
                                      64,
                                      [] {
                                          Bytes wanted = filled(64, 0xFF);
                                          wanted[6] = 0x12;
                                          wanted[36] = wanted[37] = 0x34;
                                          return wanted;
                                      }(),
                                      {},
                                      8,
                                      {{BlockAction::EraseAndProgram, {{70, 1}, {100, 2}}, 0}},
                                      1},
                             // Blocks that do not start on a buffer boundary still cut the windows.
                             PlanCase{"buffersStopAtBlockEnds",
                                      {{0, 48}, {48, 48}},
                                      blank,
                                      40,
                                      filled(16, 0x00),
                                      {},
                                      32,
                                      {{BlockAction::Program, {{40, 8}}, 0}, {BlockAction::Program, {{48, 8}}, 0}},
                                      16},
                             // No write buffer: byte by byte.
                             PlanCase{"byteByByte",
                                      twoBlocks,
                                      blank,
                                      3,
                                      Bytes{0x01, 0xFF, 0x02},
                                      {},
                                      1,
                                      {{BlockAction::Program, {{3, 1}, {5, 1}}, 0}},
                                      3},
                             // erase: a blank block is left alone, the other erased with nothing to program.
                             PlanCase{"eraseSkipsBlankBlocks",
                                      twoBlocks,
                                      [](Bytes& chip) { chip[100] = 0x00; },
                                      0,
                                      {},
                                      {true, true},
                                      1,
                                      {{BlockAction::Keep, {}, 0}, {BlockAction::EraseAndProgram, {}, 0}},
                                      64 + 37}),
                         [](const testing::TestParamInfo<PlanCase>& info) { return info.param.name; });

TEST(Planner, StopsReadingWhenAsked) {
    int reads = 0;
    PlanCallbacks callbacks;
    callbacks.read = [&reads](std::uint32_t /*address*/) {
        ++reads;
        return std::uint8_t{0xFF};
    };
    callbacks.stop = [&reads] { return reads == 3; };
    const WritePlan plan = planWrite(twoBlocks, 0, filled(128, 0x00), 8, callbacks);
    EXPECT_FALSE(plan.complete);
    EXPECT_EQ(plan.bytesRead, 3U);
}

using Cycles = std::vector<std::string>;

struct SequenceCase {
    const char* name;
    std::function<void(FakeChip&)> setUp;
    std::function<OperationResult(CommandSet&)> operation;
    Cycles expected;
    bool ok;
    std::uint8_t status;
};

// The case as ctest and failures name it.
void PrintTo(const SequenceCase& c, std::ostream* os) {
    *os << c.name;
}

class ProgrammerSequence : public testing::TestWithParam<SequenceCase> {};

// The exact bus cycles of one erase and one program, through the recording
// driver: clear the status, set up, data, confirm, poll; clear again after an error.
TEST_P(ProgrammerSequence, WritesExactlyTheseCycles) {
    const SequenceCase& c = GetParam();
    FakeChip fake(2);
    c.setUp(fake);
    FakeSession session(fake);
    ASSERT_TRUE(session.found.valid());

    const OperationResult result = c.operation(*session.commands);

    EXPECT_THAT(fake.cycles(), testing::ElementsAreArray(c.expected));
    EXPECT_EQ(result.ok, c.ok);
    EXPECT_EQ(result.status, c.status);
}

const Bytes four{0x11, 0x22, 0x33, 0x44};
const auto bufferOfFour = [](CommandSet& commands) { return commands.program(0x20010, four.data(), 4); };
const auto eraseBlock1 = [](CommandSet& commands) { return commands.erase({0x20000, 0x20000}); };

INSTANTIATE_TEST_SUITE_P(
    Cases, ProgrammerSequence,
    testing::Values(
        SequenceCase{"bufferProgram", [](FakeChip& /*fake*/) {}, bufferOfFour,
                     Cycles{"W 020010 50", "W 020010 E8", "R again", "W 020010 03", "W 020010 11", "W 020011 22",
                            "W 020012 33", "W 020013 44", "W 020010 D0", "R again"},
                     true, 0x80},
        SequenceCase{"bufferProgramRefusedByALockedBlock", [](FakeChip& fake) { fake.locks[1] = true; }, bufferOfFour,
                     Cycles{"W 020010 50", "W 020010 E8", "R again", "W 020010 03", "W 020010 11", "W 020011 22",
                            "W 020012 33", "W 020013 44", "W 020010 D0", "R again", "W 020010 50"},
                     false, 0x92},
        SequenceCase{"byteProgramWithoutABuffer", [](FakeChip& fake) { fake.design.bufferExponent = 0; },
                     [](CommandSet& commands) { return commands.program(0x20010, four.data(), 2); },
                     Cycles{"W 020010 50", "W 020010 40", "W 020010 11", "R again", "W 020011 50", "W 020011 40",
                            "W 020011 22", "R again"},
                     true, 0x80},
        SequenceCase{"erase", [](FakeChip& /*fake*/) {}, eraseBlock1,
                     Cycles{"W 020000 50", "W 020000 20", "W 020000 D0", "R again"}, true, 0x80},
        SequenceCase{"erasePolledUntilReady", [](FakeChip& fake) { fake.settings.busyReads = 2; }, eraseBlock1,
                     Cycles{"W 020000 50", "W 020000 20", "W 020000 D0", "R again", "wait 1000", "R again", "wait 1000",
                            "R again"},
                     true, 0x80},
        SequenceCase{"eraseFailed", [](FakeChip& fake) { fake.settings.eraseFailBlock = 1; }, eraseBlock1,
                     Cycles{"W 020000 50", "W 020000 20", "W 020000 D0", "R again", "W 020000 50"}, false, 0xA0}),
    [](const testing::TestParamInfo<SequenceCase>& info) { return info.param.name; });

// A chip that never offers its buffer gets neither count nor data: written
// as commands, data bytes could erase a block.
TEST(ProgrammerSequence, SendsNothingIntoABufferNeverOffered) {
    FakeChip fake(2);
    fake.settings.bufferNeverFree = true;
    FakeSession session(fake);

    const OperationResult result = session.commands->program(0x20010, four.data(), 4);

    const Cycles cycles = fake.cycles();
    EXPECT_TRUE(result.bufferRefused);
    EXPECT_TRUE(session.commands->busy());
    EXPECT_EQ(std::count(cycles.begin(), cycles.end(), "W 020010 E8"),
              (result.deadlineMicroseconds + intelTiming::programPollMicroseconds - 1) /
                      intelTiming::programPollMicroseconds +
                  1);
    EXPECT_TRUE(std::all_of(cycles.begin(), cycles.end(), [](const std::string& cycle) {
        return cycle == "W 020010 50" || cycle == "W 020010 E8" || cycle == "R again" || cycle == "wait 10";
    }));
}

struct DeadlineCase {
    std::uint8_t typical;
    std::uint8_t maximum;
    std::uint32_t unit;
    std::uint32_t floor;
    std::uint32_t expected;
};

// The case as ctest and failures name it.
void PrintTo(const DeadlineCase& c, std::ostream* os) {
    *os << "2^" << unsigned{c.typical} << " x 2^" << unsigned{c.maximum} << " of " << c.unit << " us, floor "
        << c.floor;
}

class Deadlines : public testing::TestWithParam<DeadlineCase> {};

TEST_P(Deadlines, AreTheCfiMaximumNeverBelowTheDatasheet) {
    const DeadlineCase& c = GetParam();
    EXPECT_EQ(timing::deadline(c.typical, c.maximum, c.unit, c.floor), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Fields, Deadlines,
                         testing::Values(
                             // 2^10 ms typical erase, 2^4 times that at most.
                             DeadlineCase{0x0A, 0x04, 1000, 5000000, 16384000},
                             // 2^7 us x 2^4 = 2 ms, above the 654 us floor.
                             DeadlineCase{0x07, 0x04, 1, 654, 2048},
                             // No maximum factor: eight times typical.
                             DeadlineCase{0x07, 0x00, 1, 654, 1024},
                             // No figure, or one below the datasheet: the floor.
                             DeadlineCase{0x00, 0x04, 1, 630, 630}, DeadlineCase{0x02, 0x01, 1, 630, 630},
                             // Garbage exponents cannot overflow.
                             DeadlineCase{0x1F, 0x1F, 1000, 5000000, 60000000}));

}  // namespace
