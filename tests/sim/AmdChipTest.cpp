// The AMD-set model in byte mode: what each part answers through the
// program's own bus cycles, the status bits while an operation runs, and the
// sequences that are faults of the program's.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "ChipScript.h"
#include "SimulatedPort.h"

namespace {

using testing::HasSubstr;
using testing::IsEmpty;

struct AnswerCase {
    const char* chip;
    const char* protectedSectors;
    const char* autoselect;  // "ADDRESS=BYTE ..." read in autoselect mode
    const char* query;       // the same in CFI query mode
};

void PrintTo(const AnswerCase& c, std::ostream* os) {
    *os << c.chip;
}

// "ADDRESS=BYTE ..." read through the board; the words that read otherwise.
std::vector<std::string> misread(FlashChip& flash, const std::string& reads) {
    std::vector<std::string> wrong;
    std::istringstream words(reads);
    for (std::string word; words >> word;) {
        const std::size_t equals = word.find('=');
        const std::uint8_t got = flash.readAt(std::stoul(word.substr(0, equals), nullptr, 16));
        if (got != std::stoul(word.substr(equals + 1), nullptr, 16)) {
            wrong.push_back(word + " read " + flashsim::hexByte(got));
        }
    }
    return wrong;
}

class Answers : public testing::TestWithParam<AnswerCase> {};

// Autoselect (AAA/AA, 555/55, AAA/90) and CFI query (AA/98), each left with F0.
TEST_P(Answers, AutoselectAndQueryInByteMode) {
    const AnswerCase& c = GetParam();
    Session session{{"FLASHLOCK_SIM_CHIP", c.chip}, {"FLASHLOCK_SIM_PROTECTED", c.protectedSectors}};
    ASSERT_TRUE(session.under.sim.usable()) << session.under.messages.str();
    FlashChip& flash = session.flash;
    flash.beginAccess();
    flash.writeAt(0xAAA, 0xAA);
    flash.writeAt(0x555, 0x55);
    flash.writeAt(0xAAA, 0x90);
    EXPECT_THAT(misread(flash, c.autoselect), IsEmpty());
    flash.writeAt(0, 0xF0);
    flash.writeAt(0xAA, 0x98);
    EXPECT_THAT(misread(flash, c.query), IsEmpty());
    flash.writeAt(0, 0xF0);
    EXPECT_THAT(misread(flash, "0=FF 2=FF 20=FF"), IsEmpty()) << "read array again";
    EXPECT_THAT(session.faults(), IsEmpty());
}

// The Am29LV160D T and B parts share one CFI table listing the bottom-boot
// regions (16K, 2 x 8K, 32K, 31 x 64K); only the device code tells them
// apart. Sector 34 is the top 64 KiB on the B part, the top 16 KiB on the T.
INSTANTIATE_TEST_SUITE_P(
    Parts, Answers,
    testing::Values(AnswerCase{"Am29LV160DB", "0,34",
                               "0=01 1=01 2=49 3=49 100=01 1C=00 1E=00 4=01 5=01 4004=00 10004=00 1F0004=01 1FFF04=01",
                               "20=51 21=51 22=52 24=59 26=02 28=00 2A=40 2C=00 36=27 38=36 3E=04 42=0A 4E=15 50=02 "
                               "54=00 58=04 5A=00 5C=00 5E=40 60=00 62=01 64=00 66=20 68=00 6A=00 6C=00 6E=80 70=00 "
                               "72=1E 74=00 76=00 78=01 80=50 82=52 84=49 86=31 88=30 92=04"},
                    AnswerCase{"Am29LV160DT", "34", "0=01 2=C4 1C=00 4=00 1F0004=00 1FC004=01 1FFF04=01",
                               "20=51 26=02 4E=15 58=04 5A=00 5C=00 5E=40 60=00 62=01 66=20 6E=80 72=1E 76=00 78=01 "
                               "86=31 88=30"},
                    AnswerCase{"S29GL128P", "127", "0=01 2=7E 1C=21 1E=01 4=00 FE0004=01 FFFF05=01",
                               "20=51 26=02 2A=40 3E=06 40=09 42=09 44=10 4E=18 54=06 58=01 5A=7F 5C=00 5E=00 60=02 "
                               "80=50 86=31 88=33 92=08 9E=05 A0=01"}),
    [](const testing::TestParamInfo<AnswerCase>& info) { return std::string(info.param.chip); });

struct CycleCase {
    const char* name;
    const char* variables;
    int busyReads;
    const char* script;
    bool fault;
    const char* changed;  // every array byte that is not 0xFF afterwards; nullptr: not checked
    const char* logged;   // nullptr: not checked
};

void PrintTo(const CycleCase& c, std::ostream* os) {
    *os << c.name;
}

class Cycles : public testing::TestWithParam<CycleCase> {};

TEST_P(Cycles, ReadBackAsTheDatasheetsSay) {
    const CycleCase& c = GetParam();
    const auto chip = chipFrom(c.variables, c.busyReads);
    const ScriptRun run = runScript(*chip, c.script);
    EXPECT_THAT(run.mismatches, IsEmpty()) << run.log;
    EXPECT_EQ(run.fault, c.fault) << run.log;
    if (c.changed != nullptr) {
        std::vector<std::uint8_t> expected(chip->array().size(), 0xFF);
        std::istringstream words(c.changed);
        for (std::string word; words >> word;) {
            expected.at(std::stoul(word.substr(0, word.find(':')), nullptr, 16)) =
                static_cast<std::uint8_t>(std::stoul(word.substr(word.find(':') + 1), nullptr, 16));
        }
        EXPECT_TRUE(chip->array() == expected) << "the array holds exactly the expected changes";
    }
    if (c.logged != nullptr) {
        EXPECT_THAT(run.log, HasSubstr(c.logged));
    }
}

const auto cycleName = [](const testing::TestParamInfo<CycleCase>& info) { return std::string(info.param.name); };

// Status reads while busy: DQ7 the complement of the programmed byte's bit 7
// (0 while erasing), DQ6 toggling at any address, DQ3 once erasing, DQ2
// toggling only inside the sector being erased, DQ5 once over the limit, DQ1
// after a buffer abort. Each case is busy for 3 reads unless it says else.
INSTANTIATE_TEST_SUITE_P(
    StatusBits, Cycles,
    testing::Values(
        CycleCase{"program", "CHIP=Am29LV160DB", 3,
                  "AAA:AA 555:55 AAA:A0 1234:5A R1234=C0 R0=80 R1234=C0 R1234=5A R0=FF", false, "1234:5A", nullptr},
        CycleCase{"programBit7Set", "CHIP=Am29LV160DB", 2, "AAA:AA 555:55 AAA:A0 1234:C3 R1234=40 R1234=00 R1234=C3",
                  false, nullptr, nullptr},
        CycleCase{"bypassProgram", "CHIP=Am29LV160DB", 3,
                  "AAA:AA 555:55 AAA:20 0:A0 10:3C R10=C0 R10=80 R10=C0 R10=3C 0:A0 11:C3 R11=40 R11=00 R11=40 "
                  "R11=C3 0:90 0:00 R11=C3",
                  false, "10:3C 11:C3", nullptr},
        CycleCase{"sectorErase", "CHIP=Am29LV160DB", 3,
                  "AAA:AA 555:55 AAA:A0 10004:00 R10004=C0 R10004=80 R10004=C0 R10004=00 AAA:AA 555:55 AAA:80 AAA:AA "
                  "555:55 10000:30 R10000=4C R0=0C "
                  "R1FFFF=48 R10000=FF R10004=FF",
                  false, "", "erase sector 4 at 0x010000: done, busy for 1024000 us"},
        CycleCase{"sectorEraseTopBoot", "CHIP=Am29LV160DT", 3,
                  "AAA:AA 555:55 AAA:80 AAA:AA 555:55 1FD000:30 R1FFFFF=4C R1FB000=0C R1FC000=48 R1FC000=FF", false, "",
                  "erase sector 34 at 0x1FC000"},
        CycleCase{"buffer", "CHIP=S29GL128P", 3,
                  "AAA:AA 555:55 20000:25 20010:03 20010:11,22,33,C4 20000:29 R20013=40 R20013=00 R20013=40 "
                  "R20013=C4 R20010=11",
                  false, "20010:11 20011:22 20012:33 20013:C4", "buffer program of 4 bytes in page 0x020000: done"},
        CycleCase{"programFailsWithDQ5UntilReset", "CHIP=Am29LV160DB PROGRAM_FAIL=1234", 2,
                  "AAA:AA 555:55 AAA:A0 1234:00 R1234=C0 R1234=80 R1234=E0 R0=A0 R1234=E0 0:F0 R1234=FF", false, "",
                  "the byte is not programmed): fails with DQ5"},
        CycleCase{
            "eraseFailsWithDQ5", "CHIP=Am29LV160DB ERASE_FAIL=4", 1,
            "AAA:AA 555:55 AAA:A0 10000:00 R10000=C0 AAA:AA 555:55 AAA:80 AAA:AA 555:55 10000:30 R10000=4C R10000=28 "
            "R10000=6C 0:F0 R10000=00",
            false, "10000:00", "the sector keeps its content): fails with DQ5"},
        CycleCase{"bufferFailsLowerBytesProgrammed", "CHIP=S29GL128P PROGRAM_FAIL=20012", 1,
                  "AAA:AA 555:55 20000:25 20000:03 20010:11,22,33,44 20000:29 R20013=C0 R20013=A0 AAA:AA 555:55 "
                  "AAA:F0 R20010=11",
                  false, "20010:11 20011:22", "the bytes below it are programmed"},
        CycleCase{"bufferAbortWithDQ1", "CHIP=S29GL128P", 3,
                  "AAA:AA 555:55 20000:25 20000:01 20000:85 20040:11 R20000=C2 R0=82 AAA:AA 555:55 AAA:F0 R20000=FF",
                  true, "", nullptr},
        CycleCase{"protectedSectorShortBusyThenReadArray", "CHIP=Am29LV160DB PROTECTED=0", 1,
                  "AAA:AA 555:55 AAA:A0 10:00 R10=C0 R10=FF", true, "", "sector 0 is protected; nothing changed"},
        CycleCase{"resetIgnoredWhileBusy", "CHIP=Am29LV160DB", 2,
                  "AAA:AA 555:55 AAA:A0 10:00 0:F0 R10=C0 R10=80 R10=00", false, "10:00",
                  "reset while the chip is busy: ignored"}),
    cycleName);

// Mode changes without a fault: CFI from autoselect and back, the reset's
// three-cycle form, an unexpected cycle back to read array.
INSTANTIATE_TEST_SUITE_P(
    Modes, Cycles,
    testing::Values(
        CycleCase{"queryFromAutoselect", "CHIP=Am29LV160DB", 0,
                  "AAA:AA 555:55 AAA:90 R2=49 AA:98 R20=51 R2=00 0:F0 R2=49 0:F0 R2=FF", false, "", nullptr},
        CycleCase{"threeCycleReset", "CHIP=S29GL128P", 0, "AAA:AA 555:55 AAA:90 R0=01 AAA:AA 555:55 0:F0 R0=FF", false,
                  "", "reset (three-cycle form): read array"},
        CycleCase{"unexpectedCycle", "CHIP=S29GL128P", 0, "AAA:AA 555:55 AAA:90 R0=01 555:AA R0=FF AAA:AA 2AA:55 R0=FF",
                  false, "", "is no command here"},
        CycleCase{"upperAddressBitsAreNotDecoded", "CHIP=S29GL128P", 0,
                  "7FFAAA:AA 123555:55 FFFAAA:90 R800000=01 R800002=7E", false, "", nullptr}),
    cycleName);

// Sequences the datasheets forbid and flashlock never sends: a FAULT line,
// and the chip does what the datasheet says (here: no change).
INSTANTIATE_TEST_SUITE_P(
    Faults, Cycles,
    testing::Values(
        CycleCase{"intelReadArray", "CHIP=Am29LV160DB", 0, "AAA:AA 555:55 AAA:90 0:FF R0=FF", true, "",
                  "Intel-set command 0xFF (read array) sent to an AMD-set part, which has no such command"},
        CycleCase{"intelLockBit", "CHIP=Am29LV160DB", 0, "0:60 0:01", true, "", "0x01 (set lock bit confirm)"},
        CycleCase{"everyOtherIntelCommand", "CHIP=S29GL128P", 0, "0:70 0:20 0:D0 0:40 0:10 0:E8 0:50 R0=FF", true, "",
                  "Intel-set command 0x50 (clear status)"},
        CycleCase{"intelQueryAddress", "CHIP=Am29LV160DT", 0, "55:98 R20=FF", true, "",
                  "0x98 at 0x000055 is no command here (expected 0x98 at 0xAA, the CFI address in byte mode)"},
        CycleCase{"identifierOutsideAutoselect", "CHIP=S29GL128P", 0, "0:90 R0=FF", true, "", "(read identifier)"},
        CycleCase{"programProtected", "CHIP=Am29LV160DB PROTECTED=0-3", 0, "AAA:AA 555:55 AAA:A0 7FFF:00 R7FFF=FF",
                  true, "", "byte program of 0x00 at 0x007FFF: sector 2 is protected; nothing changed"},
        CycleCase{"eraseProtected", "CHIP=Am29LV160DT PROTECTED=34", 0, "AAA:AA 555:55 AAA:80 AAA:AA 555:55 1FFFFF:30",
                  true, "", "erase sector 34 at 0x1FC000: the sector is protected; nothing changed"},
        CycleCase{"bufferProtected", "CHIP=S29GL128P PROTECTED=1", 0,
                  "AAA:AA 555:55 20000:25 20000:00 20000:00 20000:29", true, "", "sector 1 is protected"},
        CycleCase{"bufferOutsidePage", "CHIP=S29GL128P", 0,
                  "AAA:AA 555:55 20000:25 20000:01 2003F:11 20040:22 R20000=C2", true, "",
                  "buffer byte 2 of 2 at 0x020040 lies outside the buffer's page 0x020000 to 0x02003F"},
        CycleCase{"bufferOutsideSector", "CHIP=S29GL128P", 0, "AAA:AA 555:55 20000:25 20000:01 40000:11", true, "",
                  "lies outside sector 1 of the write to buffer"},
        CycleCase{"bufferCountTooLarge", "CHIP=S29GL128P", 0, "AAA:AA 555:55 20000:25 20000:40", true, "",
                  "buffer count 0x40 asks for 65 bytes, more than the 64-byte buffer"},
        CycleCase{"bufferCountInAnotherSector", "CHIP=S29GL128P", 0, "AAA:AA 555:55 20000:25 0:00", true, "",
                  "buffer count written in sector 0, not in sector 1"},
        CycleCase{"bufferNot29", "CHIP=S29GL128P", 0,
                  "AAA:AA 555:55 20000:25 20000:00 20000:11 20000:30 0:F0 R20000=C2", true, "", "not 0x29 in sector 1"},
        CycleCase{"failedBufferNeedsTheAbortReset", "CHIP=S29GL128P PROGRAM_FAIL=20001", 0,
                  "AAA:AA 555:55 20000:25 20000:01 20000:11,22 20000:29 0:F0 R20000=E0", true, "20000:11",
                  "ignored; the chip answers with its status until the write-to-buffer-abort reset"},
        CycleCase{"zeroBitToOne", "CHIP=Am29LV160DB", 0,
                  "AAA:AA 555:55 AAA:A0 10:0F AAA:AA 555:55 AAA:A0 10:F0 R10=60 0:F0 R10=00", true, "10:00",
                  "programming cannot turn 0 bits into 1 (0x0F held there): the byte now reads 0x00"},
        CycleCase{"chipErase", "CHIP=Am29LV160DB PROTECTED=0", 0,
                  "AAA:AA 555:55 AAA:A0 4000:00 AAA:AA 555:55 AAA:80 AAA:AA 555:55 AAA:10 R4000=FF", true, "",
                  "chip erase, which flashlock never sends: every unprotected sector erased (protected, kept: "
                  "sectors 0)"},
        CycleCase{"commandWhileBusy", "CHIP=Am29LV160DB", -1, "AAA:AA 555:55 AAA:A0 10:00 AAA:AA R10=C0", true, "10:00",
                  "command while the chip is busy (DQ6 toggling): ignored"},
        CycleCase{"programInAutoselect", "CHIP=Am29LV160DB", 0, "AAA:AA 555:55 AAA:90 AAA:AA 555:55 AAA:A0 10:00", true,
                  "", "only it leaves autoselect"},
        CycleCase{"otherCommandInBypass", "CHIP=Am29LV160DB", 0, "AAA:AA 555:55 AAA:20 0:F0 0:A0 10:00", true, "10:00",
                  "0xF0 in unlock bypass mode, which takes only 0xA0 (program) and 0x90, 0x00 (reset): ignored"}),
    cycleName);

}  // namespace
