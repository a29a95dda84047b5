#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <istream>
#include <ostream>
#include <sstream>
#include <streambuf>
#include <string>
#include <vector>

#include "RecordingDriver.h"
#include "app/Dialogue.h"

namespace {

using testing::EndsWith;
using testing::StartsWith;

const std::string menu =
    "\nClear Block Lock Bits  - enter 'c'"
    "\nSet 1.Block Lock Bit   - enter 'b'"
    "\n                  Exit - enter 'x'\n";

std::string zeroRow(const char* label) {
    std::string row = label;
    for (int i = 0; i < 16; ++i) {
        row += "00 ";
    }
    return row + "\n";
}

std::string blockQuery(bool firstLocked) {
    std::string text = "\nBlock Query within 16Mb (01-block locked)\n";
    const char* bases[] = {"0x00",     "0x20000",  "0x40000",  "0x60000",  "0x80000",  "0xA0000",
                           "0xC0000",  "0xE0000",  "0x100000", "0x120000", "0x140000", "0x160000",
                           "0x180000", "0x1A0000", "0x1C0000", "0x1E0000"};
    for (int block = 0; block < 16; ++block) {
        text += "[" + std::to_string(block + 1) + "]  " + bases[block] + ": " +
                (block == 0 && firstLocked ? "01" : "00") + " \n";
    }
    return text;
}

std::size_t countOf(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

struct DialogueRun {
    int status = -1;
    std::string output;
    std::vector<std::string> calls;
    int pauses = 0;
};

// Runs the whole dialogue on a fake whose chip answers `id` at addresses 0
// and 2, zeros elsewhere, and whose block 0 lock status is `locked`.
DialogueRun runOn(std::istream& in, BoardKind board = BoardKind::Zantrel4v4, std::uint16_t id = 0x1689,
                  bool locked = false) {
    RecordingDriver driver;
    driver.board = board;
    driver.chipByte = [id, locked](std::uint32_t at) -> std::uint8_t {
        switch (at) {
        case 0:
            return static_cast<std::uint8_t>(id & 0xFF);
        case 2:
            return static_cast<std::uint8_t>(id >> 8);
        case 4:
            return locked ? 1 : 0;
        default:
            return 0;
        }
    };
    std::ostringstream out;
    DialogueRun run;
    run.status = runDialogue(driver, in, out, [&] {
        out << "<PAUSE>";
        ++run.pauses;
    });
    run.output = out.str();
    run.calls = driver.calls;
    return run;
}

DialogueRun runWith(const std::string& input, BoardKind board = BoardKind::Zantrel4v4, std::uint16_t id = 0x1689,
                    bool locked = false) {
    std::istringstream in(input);
    return runOn(in, board, id, locked);
}

// Text between the board line and the array dump: the identifier report.
std::string identification(const DialogueRun& run) {
    const auto from = run.output.find("\nDevice ID\n");
    const auto to = run.output.find("\nRead Array Mode");
    if (from == std::string::npos || to == std::string::npos) {
        return "<missing>";
    }
    return run.output.substr(from, to - from);
}

TEST(Dialogue, WholeTranscriptForANamedChipAndExit) {
    const DialogueRun run = runWith("x\n");
    std::string expected =
        "Zantrel4v4 detected !\n"
        "\nDevice ID\n"
        "8/16bit [00]=0x89; [01]=0x16 Intel 28F320J3\n"
        "\nRead Array Mode (first 1kb)\n"
        "0x00: 89 00 16 00 00 00 00 00 00 00 00 00 00 00 00 00 \n";
    for (const char* label : {"0x10: ", "0x20: ", "0x30: ", "0x40: ", "0x50: ", "0x60: ", "0x70: "}) {
        expected += zeroRow(label);
    }
    expected +=
        "\nCFI Query Mode\n"
        "0x00: 89 16 00 00 00 00 00 00 00 00 00 00 00 00 00 00 \n";
    for (const char* label : {"0x10: ", "0x20: ", "0x30: ", "0x40: "}) {
        expected += zeroRow(label);
    }
    expected += blockQuery(false) + menu + "\n<PAUSE>";
    EXPECT_EQ(run.output, expected);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.pauses, 1);
    // No port traffic after the menu: the last call drops the access line.
    EXPECT_EQ(run.calls.back(), "Control 0400");
}

struct BoardCase {
    BoardKind board;
    const char* line;
    int status;
};

void PrintTo(const BoardCase& c, std::ostream* os) {
    *os << c.line;
}

class BoardReport : public testing::TestWithParam<BoardCase> {};

TEST_P(BoardReport, PrintsItsLineAndStopsOnlyWithoutABoard) {
    const DialogueRun run = runWith("x\n", GetParam().board);
    EXPECT_THAT(run.output, StartsWith(std::string(GetParam().line) + "\n"));
    EXPECT_EQ(run.status, GetParam().status);
    EXPECT_EQ(run.pauses, 1);
    if (GetParam().status == 1) {
        EXPECT_EQ(run.output, std::string(GetParam().line) + "\n<PAUSE>");
        EXPECT_EQ(run.calls, std::vector<std::string>{"detect"}) << "no identifier read, dump or menu";
    } else {
        EXPECT_THAT(run.output, testing::HasSubstr("\nDevice ID\n"));
        EXPECT_THAT(run.output, EndsWith(menu + "\n<PAUSE>"));
    }
}

INSTANTIATE_TEST_SUITE_P(Boards, BoardReport,
                         testing::Values(BoardCase{BoardKind::PortNotUsable, "IO driver not initialized !", 1},
                                         BoardCase{BoardKind::NoBoard, "H/W check failed !", 1},
                                         BoardCase{BoardKind::Willem, "Willem/pcb3b detected !", 0},
                                         BoardCase{BoardKind::Zantrel4v4, "Zantrel4v4 detected !", 0},
                                         BoardCase{BoardKind::Zantrel4v5, "Zantrel4v5 detected !", 0}));

struct ChipCase {
    std::uint16_t id;
    const char* report;
};

void PrintTo(const ChipCase& c, std::ostream* os) {
    *os << "id " << std::hex << c.id;
}

class ChipReport : public testing::TestWithParam<ChipCase> {};

TEST_P(ChipReport, NamesTheChipOrSaysItIsNotSupported) {
    const DialogueRun run = runWith("x\n", BoardKind::Zantrel4v4, GetParam().id);
    EXPECT_EQ(identification(run), std::string("\nDevice ID\n") + GetParam().report);
    EXPECT_EQ(run.status, 0);
    EXPECT_THAT(run.output, EndsWith(menu + "\n<PAUSE>")) << "an unknown chip never stops the run";
}

INSTANTIATE_TEST_SUITE_P(Chips, ChipReport,
                         testing::Values(ChipCase{0x1489, "8/16bit [00]=0x89; [01]=0x14 Intel 28F320J5\n"},
                                         ChipCase{0x1589, "8/16bit [00]=0x89; [01]=0x15 Intel 28F640J5\n"},
                                         ChipCase{0x1689, "8/16bit [00]=0x89; [01]=0x16 Intel 28F320J3\n"},
                                         ChipCase{0x1789, "8/16bit [00]=0x89; [01]=0x17 Intel 28F640J3\n"},
                                         ChipCase{0x1889, "8/16bit [00]=0x89; [01]=0x18 Intel 28F128J3\n"},
                                         ChipCase{0x1620, "8/16bit [00]=0x20; [01]=0x16 ST Micro M58LW032D\n"},
                                         ChipCase{0x1720, "8/16bit [00]=0x20; [01]=0x17 ST Micro M58LW064D\n"},
                                         // Empty socket.
                                         ChipCase{0x0000, "8/16bit [00]=0x00; [01]=0x00\nChip not supported !\n"},
                                         // A known maker or a known device code alone: neither name nor message.
                                         ChipCase{0x2089, "8/16bit [00]=0x89; [01]=0x20"},
                                         ChipCase{0x1820, "8/16bit [00]=0x20; [01]=0x18"},
                                         ChipCase{0x16C2, "8/16bit [00]=0xC2; [01]=0x16"},
                                         ChipCase{0x14C2, "8/16bit [00]=0xC2; [01]=0x14"},
                                         ChipCase{0x18C2, "8/16bit [00]=0xC2; [01]=0x18"},
                                         // Neither: device codes just outside the known range.
                                         ChipCase{0x13C2, "8/16bit [00]=0xC2; [01]=0x13\nChip not supported !\n"},
                                         ChipCase{0x19C2, "8/16bit [00]=0xC2; [01]=0x19\nChip not supported !\n"},
                                         ChipCase{0xFFFF, "8/16bit [00]=0xFF; [01]=0xFF\nChip not supported !\n"}));

struct MenuCase {
    const char* name;
    std::string input;
    int sets;
    int clears;
    int menus;
};

void PrintTo(const MenuCase& c, std::ostream* os) {
    *os << c.name;
}

class Menu : public testing::TestWithParam<MenuCase> {};

TEST_P(Menu, RunsEachCommandOnceAndEndsWithNewlineAndPause) {
    const MenuCase& c = GetParam();
    const DialogueRun run = runWith(c.input);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.pauses, 1);
    EXPECT_EQ(countOf(run.output, "\nSet Block Lock Bit. Please wait...\n"), c.sets);
    EXPECT_EQ(countOf(run.output, "\nClear All Block Lock Bits. Please wait...\n"), c.clears);
    EXPECT_EQ(countOf(run.output, menu), c.menus);
    EXPECT_EQ(countOf(run.output, "\nBlock Query within 16Mb"), 1 + c.sets + c.clears);
    // The confirm bytes on the bus match the messages on the console.
    EXPECT_EQ(std::count(run.calls.begin(), run.calls.end(), "data 01"), c.sets);
    EXPECT_EQ(std::count(run.calls.begin(), run.calls.end(), "data D0"), c.clears);
    const std::string tail = c.clears > 0
                                 ? "\nClear All Block Lock Bits. Please wait...\n" + blockQuery(false) + "\n<PAUSE>"
                                 : menu + "\n<PAUSE>";
    EXPECT_THAT(run.output, EndsWith(tail));
    EXPECT_EQ(run.calls.back(), "Control 0400");
}

INSTANTIATE_TEST_SUITE_P(
    Words, Menu,
    testing::Values(
        MenuCase{"x", "x\n", 0, 0, 1}, MenuCase{"X", "X\n", 0, 0, 1}, MenuCase{"otherWord", "quit\n", 0, 0, 1},
        MenuCase{"digit", "1\n", 0, 0, 1}, MenuCase{"c", "c\n", 0, 1, 1}, MenuCase{"C", "C\n", 0, 1, 1},
        MenuCase{"wordStartingWithC", "clear\n", 0, 1, 1}, MenuCase{"clearEndsTheMenu", "c\nb\nb\n", 0, 1, 1},
        MenuCase{"bThenX", "b\nx\n", 1, 0, 2}, MenuCase{"BbBThenX", "B b\nB\nx\n", 3, 0, 4},
        MenuCase{"wordStartingWithB", "bogus\nx\n", 1, 0, 2}, MenuCase{"bThenC", "b\nc\n", 1, 1, 2},
        MenuCase{"blanksBeforeTheWord", " \t\n\n  x\n", 0, 0, 1}, MenuCase{"noNewlineAtEnd", "b", 1, 0, 2},
        // Closed input ends the run as 'x' does, also right after a 'b'.
        MenuCase{"endOfInput", "", 0, 0, 1}, MenuCase{"onlyBlanks", "  \n\n", 0, 0, 1},
        MenuCase{"endOfInputAfterB", "b\n", 1, 0, 2},
        // Over-long words: read in full and dropped past the buffer, so
        // their tails cannot act as further commands.
        MenuCase{"longBThenX", std::string(300, 'b') + "\nx\n", 1, 0, 2},
        MenuCase{"longXWithBTail", std::string(255, 'x') + std::string(300, 'b') + "\n", 0, 0, 1},
        MenuCase{"veryLongC", "c" + std::string(100000, 'b'), 0, 1, 1},
        MenuCase{"wordJustUnderTheLimitActs", "b" + std::string(longestCommandWord - 2, 'x') + "\nx\n", 1, 0, 2},
        // A word that reaches the limit is not acted on, and nothing after it.
        MenuCase{"wordAtTheLimitEndsTheRun", "b" + std::string(longestCommandWord - 1, 'x') + "\nb\n", 0, 0, 1},
        MenuCase{"wordPastTheLimitEndsTheRun", std::string(longestCommandWord + 1, 'b') + "\nb\n", 0, 0, 1},
        // Nor is a word after as many blanks.
        MenuCase{"blanksWithoutEndEndTheRun", std::string(longestCommandWord, ' ') + "b\nb\n", 0, 0, 1},
        MenuCase{"blanksJustUnderTheLimit", std::string(longestCommandWord - 1, '\n') + "b\nx\n", 1, 0, 2},
        // Bytes no keyboard sends: only the first one decides.
        MenuCase{"binaryWord", std::string("\0\xFF\x80\x01", 4) + "\nb\n", 0, 0, 1},
        MenuCase{"binaryTailAfterB", std::string("b\0\xFE\n\x7F\x9B\n", 7), 1, 0, 2},
        MenuCase{"highByteIsNoCommand", "\xE2\n", 0, 0, 1}),
    [](const testing::TestParamInfo<MenuCase>& info) { return info.param.name; });

TEST(Dialogue, SetThenClearReprintsTheLockStatusEachTime) {
    const DialogueRun run = runWith("b\nc\n", BoardKind::Zantrel4v4, 0x1689, true);
    const std::string afterSet = "\nSet Block Lock Bit. Please wait...\n" + blockQuery(true) + menu;
    const std::string afterClear = "\nClear All Block Lock Bits. Please wait...\n" + blockQuery(true) + "\n<PAUSE>";
    EXPECT_THAT(run.output, EndsWith(menu + afterSet + afterClear));
}

// An input that never ends and never has a blank: a word with no end.
class EndlessWord : public std::streambuf {
public:
    static constexpr std::size_t chunk = 4096;
    explicit EndlessWord(char fill) { block.fill(fill); }
    std::size_t served = 0;

protected:
    int_type underflow() override {
        served += chunk;
        setg(block.data(), block.data(), block.data() + chunk);
        return traits_type::to_int_type(block[0]);
    }

private:
    std::array<char, chunk> block{};
};

TEST(Dialogue, AnEndlessWordEndsTheRunWithoutActingOnIt) {
    for (const char fill : {'b', 'c'}) {
        EndlessWord source(fill);
        std::istream in(&source);
        const DialogueRun run = runOn(in);
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.pauses, 1);
        EXPECT_EQ(countOf(run.output, "Please wait"), 0) << fill;
        EXPECT_THAT(run.output, EndsWith(menu + "\n<PAUSE>"));
        EXPECT_LE(source.served, longestCommandWord + EndlessWord::chunk) << "read on past the limit";
    }
}

}  // namespace
