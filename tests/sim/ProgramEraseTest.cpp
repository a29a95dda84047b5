// Block erase, byte program and write to buffer as the board delivers them:
// what each sequence leaves in the array and the status register, whether it
// is a fault of the program's, and what the log says of it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "SimulatedPort.h"
#include "tests/TempFolder.h"

namespace {

using testing::HasSubstr;

struct Write {
    std::uint32_t address;
    std::uint8_t value;
};

struct Bytes {
    std::uint32_t address;
    std::vector<std::uint8_t> values;
};

// Block 1 starts with 32 bytes of 0x0F and ends with 16 of 0x00; block 3 is
// locked; everything else is erased.
const std::string startingState =
    "flashlock-sim-state 1\nchip 28F320J3\nlocked 3\n"
    "array 020000 0F 0F 0F 0F 0F 0F 0F 0F 0F 0F 0F 0F 0F 0F 0F 0F\n"
    "array 020010 0F 0F 0F 0F 0F 0F 0F 0F 0F 0F 0F 0F 0F 0F 0F 0F\n"
    "array 03FFF0 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00\n";

struct SequenceCase {
    const char* name;
    Variables variables;
    std::vector<Write> writes;
    std::vector<Bytes> changed;          // every byte that differs from the starting state afterwards
    std::optional<std::uint8_t> status;  // the status register afterwards, where it does not depend on time
    bool fault;
    const char* logged;
};

void PrintTo(const SequenceCase& c, std::ostream* os) {
    *os << c.name;
}

class Sequence : public testing::TestWithParam<SequenceCase> {};

TEST_P(Sequence, LeavesTheArrayAndStatusAsTheDatasheetSays) {
    const SequenceCase& c = GetParam();
    TempFolder folder;
    writeFile(folder.file("state.txt"), startingState);
    Variables variables = c.variables;
    variables["FLASHLOCK_SIM_STATE"] = folder.file("state.txt");
    variables["FLASHLOCK_SIM_LOG"] = folder.file("bus.log");
    Session session(variables);
    ASSERT_TRUE(session.under.sim.usable()) << session.under.messages.str();
    std::vector<std::uint8_t> expected = session.chip().array();
    for (const Bytes& bytes : c.changed) {
        std::copy(bytes.values.begin(), bytes.values.end(), expected.begin() + bytes.address);
    }

    session.flash.beginAccess();
    for (const Write& write : c.writes) {
        session.flash.writeAt(write.address, write.value);
    }
    EXPECT_TRUE(session.chip().array() == expected) << "the array holds exactly the expected changes";
    if (c.status) {
        EXPECT_EQ(session.chip().statusRegister(), *c.status);
    }
    EXPECT_EQ(!session.faults().empty(), c.fault) << testing::PrintToString(session.faults());
    EXPECT_THAT(readFile(folder.file("bus.log")), HasSubstr(c.logged));
}

std::vector<std::uint8_t> repeated(std::uint8_t value, std::size_t count) {
    return std::vector<std::uint8_t>(count, value);
}

// The erased block 1 as the starting state has it.
const std::vector<Bytes> block1Erased = {{0x20000, repeated(0xFF, 32)}, {0x3FFF0, repeated(0xFF, 16)}};

std::vector<Bytes> weakBlock1Erased() {
    std::vector<Bytes> bytes = block1Erased;
    for (std::uint32_t cell = 0x20000; cell < 0x40000; cell += 0x1000) {
        bytes.push_back({cell, {0x00}});
    }
    return bytes;
}

const std::vector<Write> buffer4At40 = {{0x40, 0xE8}, {0x40, 0x03}, {0x43, 0x44}, {0x40, 0x11},
                                        {0x41, 0x22}, {0x42, 0x33}, {0x40, 0xD0}};

INSTANTIATE_TEST_SUITE_P(
    Commands, Sequence,
    testing::Values(
        SequenceCase{"erase",
                     {},
                     {{0x20000, 0x20}, {0x20010, 0xD0}},
                     block1Erased,
                     0x80,
                     false,
                     "write 0x020010 <- 0xD0  erase block 1 at 0x020000: done (status 0x80), busy for 0 us"},
        SequenceCase{"eraseConfirmNotD0",
                     {},
                     {{0x20000, 0x20}, {0x20000, 0xFF}},
                     {},
                     0xB0,
                     true,
                     "FAULT: write 0x020000 <- 0xFF  block erase confirm expected (0xD0): command sequence error"},
        SequenceCase{"eraseConfirmInAnotherBlock",
                     {},
                     {{0x20000, 0x20}, {0x40000, 0xD0}},
                     {},
                     0xB0,
                     true,
                     "block erase confirmed in block 2, set up in block 1"},
        SequenceCase{
            "eraseLockedBlock",
            {},
            {{0x60000, 0x20}, {0x60000, 0xD0}},
            {},
            0xA2,
            false,
            "erase block 3 at 0x060000: refused, the block is locked; nothing changed (status 0xA2, SR.5, SR.1)"},
        SequenceCase{"eraseVpenLow",
                     {{"FLASHLOCK_SIM_VPEN", "low"}},
                     {{0x20000, 0x20}, {0x20000, 0xD0}},
                     {},
                     0xA8,
                     false,
                     "refused, VPEN is low; nothing changed (status 0xA8, SR.5, SR.3)"},
        SequenceCase{"eraseFails",
                     {{"FLASHLOCK_SIM_ERASE_FAIL", "1"}},
                     {{0x20000, 0x20}, {0x20000, 0xD0}},
                     {},
                     0xA0,
                     false,
                     "erase block 1 at 0x020000 (FLASHLOCK_SIM_ERASE_FAIL: the block keeps its content): failed "
                     "(status 0xA0, SR.5)"},
        SequenceCase{"eraseOtherThanTheFailingBlock",
                     {{"FLASHLOCK_SIM_ERASE_FAIL", "2"}},
                     {{0x20000, 0x20}, {0x20000, 0xD0}},
                     block1Erased,
                     0x80,
                     false,
                     "done"},
        SequenceCase{"eraseWeakBlock",
                     {{"FLASHLOCK_SIM_WEAK_BLOCK", "1"}},
                     {{0x20000, 0x20}, {0x20000, 0xD0}, {0, 0x40}, {0x21000, 0x5A}},
                     weakBlock1Erased(),
                     0x80,
                     false,
                     "FLASHLOCK_SIM_WEAK_BLOCK: every 4096th byte keeps 0x00 while the status register reports "
                     "success): done (status 0x80)"},
        SequenceCase{"eraseTakesTheCfiTypicalTime",
                     {{"FLASHLOCK_SIM_BUSY", "typical"}},
                     {{0x20000, 0x20}, {0x20000, 0xD0}},
                     block1Erased,
                     0x00,
                     false,
                     "busy for 1024000 us"},
        SequenceCase{"bytePrograms",
                     {},
                     {{0x0, 0x40}, {0x100, 0x5A}, {0x0, 0x10}, {0x20001, 0x05}},
                     {{0x100, {0x5A}}, {0x20001, {0x05}}},
                     0x80,
                     false,
                     "write 0x020001 <- 0x05  byte program of 0x05 at 0x020001: done (status 0x80), busy for 0 us"},
        SequenceCase{"byteProgramTakesTheCfiTypicalTime",
                     {{"FLASHLOCK_SIM_BUSY", ""}},
                     {{0x0, 0x40}, {0x100, 0x5A}},
                     {{0x100, {0x5A}}},
                     std::nullopt,
                     false,
                     "busy for 128 us"},
        SequenceCase{"programCannotSetABit",
                     {},
                     {{0x0, 0x40}, {0x20000, 0xF3}},
                     {{0x20000, {0x03}}},
                     0x80,
                     true,
                     "byte program of 0xF3 at 0x020000: done (status 0x80), busy for 0 us; but programming cannot "
                     "turn 0 bits into 1 (0x0F held there): only an erase can, and the byte now reads 0x03"},
        SequenceCase{"programLockedBlock",
                     {},
                     {{0x60000, 0x40}, {0x60001, 0x00}},
                     {},
                     0x92,
                     false,
                     "refused, the block is locked; nothing changed (status 0x92, SR.4, SR.1)"},
        SequenceCase{"programVpenLow",
                     {{"FLASHLOCK_SIM_VPEN", "low"}},
                     {{0x0, 0x40}, {0x100, 0x00}},
                     {},
                     0x98,
                     false,
                     "(status 0x98, SR.4, SR.3)"},
        SequenceCase{"programFails",
                     {{"FLASHLOCK_SIM_PROGRAM_FAIL", "100"}},
                     {{0x0, 0x40}, {0x100, 0x00}, {0x0, 0x40}, {0x101, 0x00}},
                     {},
                     0x90,
                     true,
                     "FAULT: write 0x000000 <- 0x40  program setup; but status 0x90, SR.4 is left from an earlier "
                     "command: this one will not be carried out until 0x50 clears it"},
        SequenceCase{"clearStatusLetsTheNextGoOn",
                     {{"FLASHLOCK_SIM_PROGRAM_FAIL", "0x100"}},
                     {{0x0, 0x40}, {0x100, 0x00}, {0x0, 0x50}, {0x0, 0x40}, {0x101, 0x00}},
                     {{0x101, {0x00}}},
                     0x80,
                     false,
                     "(FLASHLOCK_SIM_PROGRAM_FAIL: the byte is not programmed): failed (status 0x90, SR.4)"},
        SequenceCase{"erasesHeldBackByAnEarlierError",
                     {},
                     {{0x60000, 0x20}, {0x60000, 0xD0}, {0x20000, 0x20}, {0x20000, 0xD0}},
                     {},
                     0xA2,
                     true,
                     "erase block 1 at 0x020000: not carried out, nothing changed (status 0xA2, SR.5, SR.1 kept)"},
        SequenceCase{
            "buffer",
            {},
            buffer4At40,
            {{0x40, {0x11, 0x22, 0x33, 0x44}}},
            0x80,
            false,
            "write 0x000040 <- 0xD0  buffer program of 4 bytes at 0x000040: done (status 0x80), busy for 0 us"},
        SequenceCase{"bufferTakesTheCfiTypicalTime",
                     {{"FLASHLOCK_SIM_BUSY", "typical"}},
                     buffer4At40,
                     {{0x40, {0x11, 0x22, 0x33, 0x44}}},
                     std::nullopt,
                     false,
                     "busy for 128 us"},
        SequenceCase{"bufferDataThatLooksLikeCommands",
                     {},
                     {{0x20000, 0xE8}, {0x20000, 0x01}, {0x20020, 0x20}, {0x20021, 0xD0}, {0x20000, 0xD0}},
                     {{0x20020, {0x20, 0xD0}}},
                     0x80,
                     false,
                     "write 0x020021 <- 0xD0  buffer byte 2 of 2 at 0x020021"},
        SequenceCase{"bufferOfThirtyTwoFromTheBlockBase",
                     {},
                     [] {
                         std::vector<Write> writes = {{0x20000, 0xE8}, {0x20000, 0x1F}};
                         for (std::uint32_t at = 0x2003F; at >= 0x20020; --at) {
                             writes.push_back({at, static_cast<std::uint8_t>(at)});
                         }
                         writes.push_back({0x20000, 0xD0});
                         return writes;
                     }(),
                     {{0x20020,
                       [] {
                           std::vector<std::uint8_t> bytes;
                           for (unsigned at = 0x20; at < 0x40; ++at) {
                               bytes.push_back(static_cast<std::uint8_t>(at));
                           }
                           return bytes;
                       }()}},
                     0x80,
                     false,
                     "buffer program of 32 bytes at 0x020020: done"},
        SequenceCase{"bufferCountInAnotherBlock",
                     {},
                     {{0x40, 0xE8}, {0x20040, 0x00}},
                     {},
                     0xB0,
                     true,
                     "buffer count written in block 1, not in the block of the write to buffer (0)"},
        SequenceCase{"bufferCountTooLarge",
                     {},
                     {{0x40, 0xE8}, {0x40, 0x20}},
                     {},
                     0xB0,
                     true,
                     "buffer count 0x20 asks for 33 bytes, more than the 32-byte buffer: command sequence error"},
        SequenceCase{"bufferDataOutsideTheWindow",
                     {},
                     {{0x40, 0xE8}, {0x40, 0x01}, {0x40, 0x11}, {0x60, 0x22}, {0x40, 0xD0}},
                     {},
                     0xB0,
                     true,
                     "buffer byte 2 of 2 at 0x000060: outside the buffer's window 0x000040 to 0x00005F"},
        SequenceCase{"bufferCrossingABlock",
                     {},
                     {{0x1FFF0, 0xE8}, {0x1FFF0, 0x01}, {0x1FFFF, 0x11}, {0x20000, 0x22}, {0x1FFF0, 0xD0}},
                     {},
                     0xB0,
                     true,
                     "buffer program of 2 bytes at 0x01FFE0: aborted, not all its bytes lay in one window of one "
                     "block; nothing programmed (status 0xB0, SR.5, SR.4)"},
        SequenceCase{"bufferConfirmNotD0",
                     {},
                     {{0x40, 0xE8}, {0x40, 0x00}, {0x40, 0x11}, {0x40, 0x70}},
                     {},
                     0xB0,
                     true,
                     "buffer program confirm expected (0xD0): command sequence error"},
        SequenceCase{"bufferLockedBlock",
                     {},
                     {{0x60000, 0xE8}, {0x60000, 0x00}, {0x60000, 0x11}, {0x60000, 0xD0}},
                     {},
                     0x92,
                     false,
                     "buffer program of 1 byte at 0x060000: refused, the block is locked"},
        SequenceCase{"bufferFailsPart",
                     {{"FLASHLOCK_SIM_PROGRAM_FAIL", "0x42"}},
                     buffer4At40,
                     {{0x40, {0x11, 0x22}}},
                     0x90,
                     false,
                     "(FLASHLOCK_SIM_PROGRAM_FAIL at 0x000042: the bytes below it are programmed, it and those above "
                     "it are not): failed (status 0x90, SR.4)"},
        SequenceCase{"bufferCannotSetABit",
                     {},
                     {{0x20000, 0xE8}, {0x20000, 0x01}, {0x20000, 0x30}, {0x20001, 0x01}, {0x20000, 0xD0}},
                     {{0x20000, {0x00, 0x01}}},
                     0x80,
                     true,
                     "but programming cannot turn 0 bits into 1 (first at 0x020000)"},
        SequenceCase{"commandWhileBusy",
                     {{"FLASHLOCK_SIM_BUSY", "600000000"}},
                     {{0x0, 0x40}, {0x100, 0x5A}, {0x0, 0xFF}, {0x0, 0x40}, {0x101, 0x00}},
                     {{0x100, {0x5A}}},
                     0x00,
                     true,
                     "FAULT: write 0x000000 <- 0xFF  command while the chip is busy (SR.7 = 0): ignored"}),
    [](const testing::TestParamInfo<SequenceCase>& info) { return info.param.name; });

// The write-to-buffer answer: the extended status, XSR.7 set, until the count.
TEST(WriteToBuffer, AnswersWithItsExtendedStatusThenWithTheStatusRegister) {
    Session session;
    session.flash.beginAccess();
    session.flash.writeAt(0x20, 0xE8);
    EXPECT_EQ(session.flash.readAt(0x20), 0x80);
    session.flash.writeAt(0x20, 0x00);
    session.flash.writeAt(0x20, 0x00);
    EXPECT_EQ(session.flash.readAt(0x20), 0x80) << "the status register, ready";
    session.flash.writeAt(0x20, 0xD0);
    session.flash.writeAt(0x0, 0xFF);
    EXPECT_EQ(session.flash.readAt(0x20), 0x00);
    EXPECT_THAT(session.faults(), testing::IsEmpty());
}

}  // namespace
