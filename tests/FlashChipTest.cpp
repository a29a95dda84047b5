#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <initializer_list>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "RecordingDriver.h"
#include "app/DialogueChip.h"
#include "flash/FlashChip.h"

namespace {

using testing::ElementsAreArray;

using Calls = std::vector<std::string>;

// The call sequences every driver must see, spelt out once here so each test
// below reads as the chip's own protocol.
Calls address(unsigned value) {
    char text[32];
    std::snprintf(text, sizeof text, "address %X/24", value);
    return {text};
}

Calls write(unsigned at, unsigned value) {
    Calls calls = address(at);
    char data[16];
    std::snprintf(data, sizeof data, "data %02X", value);
    calls.insert(calls.end(), {data, "Control 0008", "wait 1", "Control 0800", "Control 0200"});
    return calls;
}

Calls read(unsigned at) {
    Calls calls = address(at);
    calls.emplace_back("read");
    return calls;
}

const Calls beginAccess = {"Control 0004", "wait 10"};
const Calls endAccess = {"Control 0209", "wait 10", "Control 0400"};

Calls join(std::initializer_list<Calls> parts) {
    Calls all;
    for (const Calls& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

class FlashChipTest : public testing::Test {
protected:
    FlashChipTest() { driver.watchConsole(&console); }

    // Driver calls only, console text left out.
    Calls busCalls() {
        Calls calls;
        for (const std::string& call : driver.record()) {
            if (call.rfind("print ", 0) != 0) {
                calls.push_back(call);
            }
        }
        return calls;
    }

    RecordingDriver driver;
    std::ostringstream console;
    FlashChip bus{&driver};
    DialogueChip chip{bus, console};
};

TEST_F(FlashChipTest, WriteCycleIsAddressThenExactlyFiveCalls) {
    bus.writeAt(0x2AA, 0x55);
    EXPECT_THAT(busCalls(), ElementsAreArray(write(0x2AA, 0x55)));
    EXPECT_EQ(driver.control & 0x0A, 0) << "Control bits 1 and 3 are clear after a write cycle";
}

TEST_F(FlashChipTest, ReadCycleShiftsAddressThenReadsOneByte) {
    driver.chipByte = [](std::uint32_t at) { return static_cast<std::uint8_t>(at == 0x123456 ? 0xA7 : 0); };
    EXPECT_EQ(bus.readAt(0x123456), 0xA7);
    EXPECT_THAT(busCalls(), ElementsAreArray(read(0x123456)));
}

TEST_F(FlashChipTest, AddressBitsAbove23NeverReachTheBoard) {
    driver.chipByte = [](std::uint32_t at) { return static_cast<std::uint8_t>(at == 0x000004 ? 0x01 : 0xEE); };
    EXPECT_EQ(bus.readAt(0xFF000004), 0x01);
    bus.writeAt(0x01000555, 0xAA);
    EXPECT_THAT(busCalls(), ElementsAreArray(join({read(0xFF000004), write(0x01000555, 0xAA)})));
}

TEST_F(FlashChipTest, WaitAndDetectPassStraightThrough) {
    driver.board = BoardKind::Zantrel4v5;
    bus.waitMicroseconds(15000);
    EXPECT_EQ(chip.detectBoard(), BoardKind::Zantrel4v5);
    EXPECT_THAT(busCalls(), ElementsAreArray(Calls{"wait 15000", "detect"}));
}

TEST_F(FlashChipTest, ReadDeviceIdSequence) {
    driver.chipByte = [](std::uint32_t at) {
        return static_cast<std::uint8_t>(at == 0 ? 0x89 : at == 2 ? 0x18 : 0x77);
    };
    EXPECT_EQ(chip.readDeviceId(), 0x1889);
    EXPECT_THAT(busCalls(), ElementsAreArray(join({beginAccess,
                                                   write(0x555, 0xAA),
                                                   write(0x2AA, 0x55),
                                                   write(0x555, 0xF0),
                                                   write(0xAAA, 0xAA),
                                                   write(0x555, 0x55),
                                                   write(0xAAA, 0x90),
                                                   {"wait 10"},
                                                   read(0),
                                                   read(2),
                                                   write(0, 0xF0)})));
    EXPECT_EQ(console.str(), "");
}

TEST_F(FlashChipTest, DumpArrayReadsExactly128ConsecutiveBytes) {
    chip.dumpArray();
    Calls expected = join({write(0, 0xF0), write(0, 0xFF)});
    for (unsigned at = 0; at < 0x80; ++at) {
        expected = join({expected, read(at)});
    }
    expected = join({expected, write(0, 0xF0)});
    EXPECT_THAT(busCalls(), ElementsAreArray(expected));
}

TEST_F(FlashChipTest, DumpArrayConsoleText) {
    chip.dumpArray();
    EXPECT_EQ(console.str(),
              "\nRead Array Mode (first 1kb)\n"
              "0x00: 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F \n"
              "0x10: 10 11 12 13 14 15 16 17 18 19 1A 1B 1C 1D 1E 1F \n"
              "0x20: 20 21 22 23 24 25 26 27 28 29 2A 2B 2C 2D 2E 2F \n"
              "0x30: 30 31 32 33 34 35 36 37 38 39 3A 3B 3C 3D 3E 3F \n"
              "0x40: 40 41 42 43 44 45 46 47 48 49 4A 4B 4C 4D 4E 4F \n"
              "0x50: 50 51 52 53 54 55 56 57 58 59 5A 5B 5C 5D 5E 5F \n"
              "0x60: 60 61 62 63 64 65 66 67 68 69 6A 6B 6C 6D 6E 6F \n"
              "0x70: 70 71 72 73 74 75 76 77 78 79 7A 7B 7C 7D 7E 7F \n");
    // The heading comes after the two mode writes and before the first read.
    const Calls& record = driver.record();
    const auto heading = std::find(record.begin(), record.end(), "print \nRead Array Mode (first 1kb)\n0x00: ");
    ASSERT_NE(heading, record.end());
    EXPECT_EQ(heading - record.begin(), 12);
}

TEST_F(FlashChipTest, DumpCfiQueryReadsEvenAddressesOnly) {
    chip.dumpCfiQuery();
    Calls expected = join({write(0, 0xF0), write(0x55, 0x98)});
    for (unsigned offset = 0; offset < 0x50; ++offset) {
        expected = join({expected, read(2 * offset)});
    }
    expected = join({expected, write(0, 0xF0), endAccess});
    EXPECT_THAT(busCalls(), ElementsAreArray(expected));
}

TEST_F(FlashChipTest, DumpCfiQueryLabelsRowsByQueryOffset) {
    // A chip that answers with half the byte address shows each query offset.
    driver.chipByte = [](std::uint32_t at) { return static_cast<std::uint8_t>(at / 2); };
    chip.dumpCfiQuery();
    EXPECT_EQ(console.str(),
              "\nCFI Query Mode\n"
              "0x00: 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F \n"
              "0x10: 10 11 12 13 14 15 16 17 18 19 1A 1B 1C 1D 1E 1F \n"
              "0x20: 20 21 22 23 24 25 26 27 28 29 2A 2B 2C 2D 2E 2F \n"
              "0x30: 30 31 32 33 34 35 36 37 38 39 3A 3B 3C 3D 3E 3F \n"
              "0x40: 40 41 42 43 44 45 46 47 48 49 4A 4B 4C 4D 4E 4F \n");
}

TEST_F(FlashChipTest, QueryBlockLocksSequence) {
    chip.queryBlockLocks();
    Calls expected = join({beginAccess, write(0, 0xF0), write(0x55, 0x98)});
    for (unsigned block = 0; block < 16; ++block) {
        expected = join({expected, read(block * 0x20000 + 4)});
    }
    expected = join({expected, write(0, 0xF0), endAccess});
    EXPECT_THAT(busCalls(), ElementsAreArray(expected));
}

TEST_F(FlashChipTest, QueryBlockLocksConsoleText) {
    // Blocks 1 and 3 (bases 0 and 0x40000) locked.
    driver.chipByte = [](std::uint32_t at) { return static_cast<std::uint8_t>(at == 4 || at == 0x40004 ? 1 : 0); };
    chip.queryBlockLocks();
    EXPECT_EQ(console.str(),
              "\nBlock Query within 16Mb (01-block locked)\n"
              "[1]  0x00: 01 \n"
              "[2]  0x20000: 00 \n"
              "[3]  0x40000: 01 \n"
              "[4]  0x60000: 00 \n"
              "[5]  0x80000: 00 \n"
              "[6]  0xA0000: 00 \n"
              "[7]  0xC0000: 00 \n"
              "[8]  0xE0000: 00 \n"
              "[9]  0x100000: 00 \n"
              "[10]  0x120000: 00 \n"
              "[11]  0x140000: 00 \n"
              "[12]  0x160000: 00 \n"
              "[13]  0x180000: 00 \n"
              "[14]  0x1A0000: 00 \n"
              "[15]  0x1C0000: 00 \n"
              "[16]  0x1E0000: 00 \n");
}

struct LockCase {
    const char* name;
    std::function<void(DialogueChip&)> run;
    unsigned confirm;
    const char* message;
};

void PrintTo(const LockCase& c, std::ostream* os) {
    *os << c.name;
}

class LockSequence : public FlashChipTest, public testing::WithParamInterface<LockCase> {};

TEST_P(LockSequence, MessageFollowsConfirmAndPrecedesTheTwoSecondWait) {
    GetParam().run(chip);
    const Calls expected = join({beginAccess,
                                 write(0, 0xF0),
                                 write(0, 0x60),
                                 {"wait 10"},
                                 write(0, GetParam().confirm),
                                 {std::string("print ") + GetParam().message + "\n", "wait 2000000"},
                                 write(0, 0xF0)});
    EXPECT_THAT(driver.record(), ElementsAreArray(expected));
}

INSTANTIATE_TEST_SUITE_P(Commands, LockSequence,
                         testing::Values(LockCase{"set", [](DialogueChip& c) { c.setBlockLockBit(); }, 0x01,
                                                  "\nSet Block Lock Bit. Please wait..."},
                                         LockCase{"clear", [](DialogueChip& c) { c.clearAllLockBits(); }, 0xD0,
                                                  "\nClear All Block Lock Bits. Please wait..."}),
                         [](const testing::TestParamInfo<LockCase>& info) { return info.param.name; });

struct AccessCase {
    const char* name;
    std::function<void(DialogueChip&)> run;
    bool opens;
    bool closes;
};

void PrintTo(const AccessCase& c, std::ostream* os) {
    *os << c.name;
}

class AccessLine : public FlashChipTest, public testing::WithParamInterface<AccessCase> {};

// Which operations raise the access line first and drop it last decides where
// the operator may be prompted; every prompt must find the line down.
TEST_P(AccessLine, OpensAndClosesAsTheProtocolRequires) {
    GetParam().run(chip);
    const Calls calls = busCalls();
    ASSERT_GE(calls.size(), 3U);
    const Calls head(calls.begin(), calls.begin() + 2);
    const Calls tail(calls.end() - 3, calls.end());
    EXPECT_EQ(head == beginAccess, GetParam().opens);
    EXPECT_EQ(tail == endAccess, GetParam().closes);
    EXPECT_EQ((driver.control & 0x04) != 0, GetParam().opens && !GetParam().closes) << "access line afterwards";
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "Control 0004"), GetParam().opens ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(
    Operations, AccessLine,
    testing::Values(AccessCase{"readDeviceId", [](DialogueChip& c) { c.readDeviceId(); }, true, false},
                    AccessCase{"dumpArray", [](DialogueChip& c) { c.dumpArray(); }, false, false},
                    AccessCase{"dumpCfiQuery", [](DialogueChip& c) { c.dumpCfiQuery(); }, false, true},
                    AccessCase{"queryBlockLocks", [](DialogueChip& c) { c.queryBlockLocks(); }, true, true},
                    AccessCase{"setBlockLockBit", [](DialogueChip& c) { c.setBlockLockBit(); }, true, false},
                    AccessCase{"clearAllLockBits", [](DialogueChip& c) { c.clearAllLockBits(); }, true, false}),
    [](const testing::TestParamInfo<AccessCase>& info) { return info.param.name; });

}  // namespace
