// Block erase, byte program and write to buffer as the board delivers them:
// what each sequence leaves in the array and the status register, whether it
// is a fault of the program's, and what the log says of it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
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

// "ADDRESS:BYTE,BYTE... ..." in hexadecimal: the bytes go to consecutive
// addresses, and BYTExN stands for N of them.
std::vector<Write> parseWrites(const std::string& text) {
    std::vector<Write> writes;
    std::istringstream words(text);
    for (std::string word; words >> word;) {
        std::uint32_t address = std::stoul(word.substr(0, word.find(':')), nullptr, 16);
        std::istringstream bytes(word.substr(word.find(':') + 1));
        for (std::string byte; std::getline(bytes, byte, ',');) {
            const std::size_t times = byte.find('x') == std::string::npos ? 1 : std::stoul(byte.substr(3));
            for (std::size_t count = 0; count < times; ++count) {
                writes.push_back({address++, static_cast<std::uint8_t>(std::stoul(byte.substr(0, 2), nullptr, 16))});
            }
        }
    }
    return writes;
}

// Block 1 starts with 32 bytes of 0x0F and ends with 16 of 0x00; block 3 is
// locked; everything else is erased.
const std::string startingState =
    "flashlock-sim-state 1\nchip 28F320J3\nlocked 3\n"
    "array 020000 0F 0F 0F 0F 0F 0F 0F 0F 0F 0F 0F 0F 0F 0F 0F 0F\n"
    "array 020010 0F 0F 0F 0F 0F 0F 0F 0F 0F 0F 0F 0F 0F 0F 0F 0F\n"
    "array 03FFF0 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00\n";
const char* const block1Erased = "20000:FFx32 3FFF0:FFx16";

struct Row {
    const char* name;
    const char* variable;  // FLASHLOCK_SIM_NAME=value, or ""
    const char* writes;
    const char* changed;  // every byte that differs from the starting state afterwards
    int status;           // afterwards; -1 where it depends on time
    bool fault;
    const char* logged;
};

void PrintTo(const Row& c, std::ostream* os) {
    *os << c.name;
}

class Sequence : public testing::TestWithParam<Row> {};

TEST_P(Sequence, LeavesTheArrayAndStatusAsTheDatasheetSays) {
    const Row& c = GetParam();
    TempFolder folder;
    writeFile(folder.file("state.txt"), startingState);
    Variables variables{{"FLASHLOCK_SIM_STATE", folder.file("state.txt")}, {"FLASHLOCK_SIM_LOG", folder.file("log")}};
    if (const std::string variable = c.variable; !variable.empty()) {
        variables["FLASHLOCK_SIM_" + variable.substr(0, variable.find('='))] = variable.substr(variable.find('=') + 1);
    }
    Session session(variables);
    ASSERT_TRUE(session.under.sim.usable()) << session.under.messages.str();
    std::vector<std::uint8_t> expected = session.chip().array();
    for (const Write& change : parseWrites(c.changed)) {
        expected[change.address] = change.value;
    }

    session.flash.beginAccess();
    for (const Write& write : parseWrites(c.writes)) {
        session.flash.writeAt(write.address, write.value);
    }
    EXPECT_TRUE(session.chip().array() == expected) << "the array holds exactly the expected changes";
    if (c.status >= 0) {
        EXPECT_EQ(session.intelChip().statusRegister(), c.status);
    }
    EXPECT_EQ(!session.faults().empty(), c.fault) << testing::PrintToString(session.faults());
    EXPECT_THAT(readFile(folder.file("log")), HasSubstr(c.logged));
}

INSTANTIATE_TEST_SUITE_P(
    Commands, Sequence,
    testing::Values(
        Row{"erase", "", "20000:20 20010:D0", block1Erased, 0x80, false,
            "write 0x020010 <- 0xD0  erase block 1 at 0x020000: done (status 0x80), busy for 0 us"},
        Row{"eraseConfirmNotD0", "", "20000:20,FF", "", 0xB0, true,
            "FAULT: write 0x020001 <- 0xFF  block erase confirm expected (0xD0): command sequence error"},
        Row{"eraseConfirmInAnotherBlock", "", "20000:20 40000:D0", "", 0xB0, true,
            "confirmed in block 2, set up in block 1"},
        Row{"eraseLockedBlock", "", "60000:20,D0", "", 0xA2, false,
            "erase block 3 at 0x060000: refused, the block is locked; nothing changed (status 0xA2, SR.5, SR.1)"},
        Row{"eraseVpenLow", "VPEN=low", "20000:20,D0", "", 0xA8, false, "VPEN is low; nothing changed (status 0xA8"},
        Row{"eraseFails", "ERASE_FAIL=1", "20000:20,D0", "", 0xA0, false,
            "(FLASHLOCK_SIM_ERASE_FAIL: the block keeps its content): failed (status 0xA0, SR.5)"},
        Row{"eraseAnotherBlock", "ERASE_FAIL=2", "20000:20,D0", block1Erased, 0x80, false, "done"},
        // A weak block's stuck cells take a program without a fault: the
        // program erased them, and only a read-back can tell.
        Row{"eraseWeakBlock", "WEAK_BLOCK=1", "20000:20,D0 0:40 21000:5A",
            "20000:FFx32 3FFF0:FFx16 20000:00 21000:00 22000:00 23000:00 24000:00 25000:00 26000:00 27000:00 "
            "28000:00 29000:00 2A000:00 2B000:00 2C000:00 2D000:00 2E000:00 2F000:00 30000:00 31000:00 32000:00 "
            "33000:00 34000:00 35000:00 36000:00 37000:00 38000:00 39000:00 3A000:00 3B000:00 3C000:00 3D000:00 "
            "3E000:00 3F000:00",
            0x80, false, "every 4096th byte keeps 0x00 while the status register reports success): done"},
        Row{"eraseTypicalTime", "BUSY=typical", "20000:20,D0", block1Erased, 0x00, false, "busy for 1024000 us"},
        Row{"bytePrograms", "", "0:40 100:5A 0:10 20001:05", "100:5A 20001:05", 0x80, false,
            "write 0x020001 <- 0x05  byte program of 0x05 at 0x020001: done (status 0x80), busy for 0 us"},
        Row{"byteProgramTypicalTime", "BUSY=", "0:40 100:5A", "100:5A", -1, false, "busy for 128 us"},
        Row{"programCannotSetABit", "", "0:40 20000:F3", "20000:03", 0x80, true,
            "but programming cannot turn 0 bits into 1 (0x0F held there): only an erase can, and the byte now reads "
            "0x03"},
        Row{"programLockedBlock", "", "60000:40,00", "", 0x92, false,
            "locked; nothing changed (status 0x92, SR.4, SR.1)"},
        Row{"programVpenLow", "VPEN=low", "0:40 100:00", "", 0x98, false, "(status 0x98, SR.4, SR.3)"},
        Row{"programFailsThenHoldsBack", "PROGRAM_FAIL=100", "0:40 100:00 0:40 101:00", "", 0x90, true,
            "FAULT: write 0x000000 <- 0x40  program setup; but status 0x90, SR.4 is left from an earlier command: "
            "this one will not be carried out until 0x50 clears it"},
        Row{"clearStatusLetsTheNextGoOn", "PROGRAM_FAIL=0x100", "0:40 100:00 0:50,40 101:00", "101:00", 0x80, false,
            "(FLASHLOCK_SIM_PROGRAM_FAIL: the byte is not programmed): failed (status 0x90, SR.4)"},
        Row{"eraseHeldBack", "", "60000:20,D0 20000:20,D0", "", 0xA2, true,
            "erase block 1 at 0x020000: not carried out, nothing changed (status 0xA2, SR.5, SR.1 kept)"},
        Row{"buffer", "", "40:E8,03 43:44 40:11,22,33 40:D0", "40:11,22,33,44", 0x80, false,
            "write 0x000040 <- 0xD0  buffer program of 4 bytes at 0x000040: done (status 0x80), busy for 0 us"},
        Row{"bufferTypicalTime", "BUSY=typical", "40:E8,00 40:11 40:D0", "40:11", -1, false, "busy for 128 us"},
        // Every byte after the count is data, whatever command it looks like.
        Row{"bufferOfThirtyTwo", "", "20000:E8 20000:1F 20020:20,D0,70,50,FFx28 20000:D0", "20020:20,D0,70,50", 0x80,
            false, "buffer program of 32 bytes at 0x020020: done"},
        Row{"bufferCountTooLarge", "", "40:E8 40:20", "", 0xB0, true, "count 0x20 asks for 33 bytes, more than the 32"},
        Row{"bufferCountInAnotherBlock", "", "40:E8 20040:00", "", 0xB0, true, "written in block 1, not in the block"},
        Row{"bufferOutsideItsWindow", "", "40:E8,01 40:11 60:22 40:D0", "", 0xB0, true,
            "buffer byte 2 of 2 at 0x000060: outside the buffer's window 0x000040 to 0x00005F"},
        Row{"bufferCrossingABlock", "", "1FFF0:E8,01 1FFFF:11,22 1FFF0:D0", "", 0xB0, true,
            "aborted, not all its bytes lay in one window of one block; nothing programmed (status 0xB0, SR.5, SR.4)"},
        Row{"bufferConfirmNotD0", "", "40:E8,00 40:11 40:70", "", 0xB0, true, "confirm expected (0xD0): command seq"},
        Row{"bufferLockedBlock", "", "60000:E8,00,11 60000:D0", "", 0x92, false,
            "1 byte at 0x060000: refused, the block"},
        Row{"bufferFailsPart", "PROGRAM_FAIL=0x42", "40:E8,03 43:44 40:11,22,33 40:D0", "40:11,22", 0x90, false,
            "the bytes below it are programmed, it and those above it are not): failed (status 0x90, SR.4)"},
        Row{"bufferCannotSetABit", "", "20000:E8,01 20000:30,01 20000:D0", "20000:00,01", 0x80, true,
            "cannot turn 0 bits into 1 (first at 0x020000)"},
        Row{"commandWhileBusy", "BUSY=600000000", "0:40 100:5A 0:FF 0:40 101:00", "100:5A", 0x00, true,
            "FAULT: write 0x000000 <- 0xFF  command while the chip is busy (SR.7 = 0): ignored"}),
    [](const testing::TestParamInfo<Row>& info) { return info.param.name; });

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
