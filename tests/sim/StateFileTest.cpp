#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <iomanip>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "SimulatedPort.h"
#include "iolib/sim/StateFile.h"
#include "tests/TempFolder.h"

namespace {

using flashsim::findChip;
using flashsim::IntelChip;

std::string formatRow(std::size_t row, const std::vector<std::uint8_t>& bytes) {
    std::ostringstream line;
    line << "array " << std::hex << std::uppercase << std::setfill('0') << std::setw(6) << row;
    for (std::size_t at = row; at < row + 16; ++at) {
        line << ' ' << std::setw(2) << unsigned{bytes[at]};
    }
    line << '\n';
    return line.str();
}

TEST(StateFile, TextRoundTripKeepsLocksAndContent) {
    IntelChip chip(*findChip("28F128J3"));
    for (const std::uint32_t block : {0U, 5U, 127U}) {
        chip.setLocked(block, true);
    }
    chip.loadArray(0x10, {0x48, 0x69, 0x00});
    chip.loadArray(0xFFFFFE, {0x12, 0x34});
    const std::string text = formatState(chip);
    EXPECT_EQ(text,
              "flashlock-sim-state 1\n"
              "# The simulated chip's lock bits and array content; rewritten after every change.\n"
              "chip 28F128J3\n"
              "locked 0 5 127\n"
              "array 000010 48 69 00 FF FF FF FF FF FF FF FF FF FF FF FF FF\n"
              "array FFFFF0 FF FF FF FF FF FF FF FF FF FF FF FF FF FF 12 34\n");

    IntelChip copy(*findChip("1889"));
    std::istringstream in(text);
    EXPECT_EQ(parseState(in, copy), std::nullopt);
    EXPECT_EQ(copy.array(), chip.array());
    EXPECT_EQ(formatState(copy), text);
}

// The lock status as the program reads it, blocks [1] to [16] as 0 and 1.
std::string lockColumn(Session& session) {
    session.console.str("");
    session.dialogue.queryBlockLocks();
    std::string column;
    std::istringstream in(session.console.str());
    for (std::string line; std::getline(in, line);) {
        if (line.rfind('[', 0) == 0) {
            column += line.substr(line.size() - 3, 2) == "01" ? '1' : '0';
        }
    }
    return column;
}

// Each process of the program is one simulator: a lock set in one shows in the
// next, a clear in the next shows in the one after.
TEST(StateFile, LocksOutliveTheProcessAndTheFileIsRewrittenAfterEachChange) {
    TempFolder folder;
    const std::string state = folder.file("state.txt");
    {
        Session first{{"FLASHLOCK_SIM_STATE", state}};
        EXPECT_FALSE(std::filesystem::exists(state)) << "nothing changed yet";
        first.dialogue.setBlockLockBit();
        EXPECT_THAT(readFile(state), testing::HasSubstr("\nlocked 0\n"));
    }
    {
        Session second{{"FLASHLOCK_SIM_STATE", state}};
        EXPECT_EQ(lockColumn(second), "1000000000000000");
        second.dialogue.clearAllLockBits();
        EXPECT_THAT(readFile(state), testing::Not(testing::HasSubstr("locked")));
    }
    Session third{{"FLASHLOCK_SIM_STATE", state}};
    EXPECT_EQ(lockColumn(third), "0000000000000000");
    EXPECT_THAT(third.faults(), testing::IsEmpty());
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder.path)) {
        names.insert(entry.path().filename().string());
    }
    EXPECT_EQ(names, (std::set<std::string>{"state.txt", "state.txt.lock"})) << "no temporary file is left";
}

// The new text goes to a temporary file that is then renamed: when that file
// cannot be written (here the state's folder went away during the run), the
// old state stays whole.
TEST(StateFile, AFailedSaveLeavesTheOldFileWhole) {
    TempFolder folder;
    std::filesystem::create_directory(folder.path / "sub");
    const std::string state = folder.file("sub/state.txt");
    const std::string before = "flashlock-sim-state 1\nchip 28F320J3\nlocked 7\n";
    writeFile(state, before);

    Session session{{"FLASHLOCK_SIM_STATE", state}};
    ASSERT_TRUE(session.under.sim.usable());
    std::error_code moved;
    std::filesystem::rename(folder.path / "sub", folder.path / "moved", moved);
    if (moved) {
        GTEST_SKIP() << "this system keeps a folder in place while a file in it is open: " << moved.message();
    }
    session.dialogue.setBlockLockBit();
    EXPECT_EQ(readFile(folder.file("moved/state.txt")), before);
    ASSERT_EQ(session.faults().size(), 1U);
    EXPECT_THAT(session.faults()[0], testing::HasSubstr("the change is kept for this run only"));
    EXPECT_THAT(session.under.messages.str(),
                testing::StartsWith("flashlock simulator: FLASHLOCK_SIM_STATE=\"" + state));
    EXPECT_EQ(lockColumn(session), "1000000100000000") << "the chip itself did lock";
}

// A file made with touch, or one with nothing but blanks and comments, is a
// chip with no state yet, which the first change writes.
TEST(StateFile, AnEmptyFileIsAChipWithNoStateYet) {
    TempFolder folder;
    const std::string state = folder.file("state.txt");
    for (const char* text : {"", "\n\n", "# to be written\n"}) {
        writeFile(state, text);
        {
            Session session{{"FLASHLOCK_SIM_STATE", state}};
            EXPECT_EQ(session.under.messages.str(), "");
            ASSERT_TRUE(session.under.sim.usable());
            session.dialogue.setBlockLockBit();
        }
        EXPECT_THAT(readFile(state), testing::HasSubstr("\nlocked 0\n"));
    }
}

// An AMD-set part's protection is configuration, not state: no save writes
// it, and a locked line is refused.
TEST(StateFile, AnAmdPartHasNoLockedLine) {
    TempFolder folder;
    const std::string state = folder.file("state.txt");
    {
        Session session{
            {"FLASHLOCK_SIM_CHIP", "Am29LV160DB"}, {"FLASHLOCK_SIM_PROTECTED", "3"}, {"FLASHLOCK_SIM_STATE", state}};
        session.flash.beginAccess();
        for (const auto& [address, value] : {std::pair{0xAAAU, 0xAA}, {0x555U, 0x55}, {0xAAAU, 0xA0}, {0x10U, 0x5A}}) {
            session.flash.writeAt(address, static_cast<std::uint8_t>(value));
        }
    }
    EXPECT_EQ(readFile(state),
              "flashlock-sim-state 1\n"
              "# The simulated chip's lock bits and array content; rewritten after every change.\n"
              "chip Am29LV160DB\ncontent state.txt.content\n");
    EXPECT_EQ(readFile(folder.file("state.txt.content")).substr(0x10, 1), "\x5A");
    writeFile(state, "flashlock-sim-state 1\nchip Am29LV160DB\nlocked 3\n");
    SimUnderTest again{{"FLASHLOCK_SIM_CHIP", "Am29LV160DB"}, {"FLASHLOCK_SIM_STATE", state}};
    EXPECT_THAT(again.messages.str(),
                testing::HasSubstr(": line 3: the Am29LV160DB is an AMD-set part, which has no lock bits; protect its "
                                   "sectors with FLASHLOCK_SIM_PROTECTED instead"));
}

TEST(StateFile, SaveReplacesAnExistingFile) {
    TempFolder folder;
    const std::string state = folder.file("state.txt");
    writeFile(state, "old");
    IntelChip chip(*findChip("empty"));
    EXPECT_EQ(flashsim::saveStateFile(state, chip), std::nullopt);
    EXPECT_EQ(readFile(state),
              "flashlock-sim-state 1\n"
              "# The simulated chip's lock bits and array content; rewritten after every change.\n"
              "chip empty\n");
    EXPECT_FALSE(std::filesystem::exists(state + ".tmp"));
}

// A 16-Mbyte part's content from an image, array lines on top: every byte
// reads back as the state gives it, and a save writes the image line and the
// array lines, never the image's bytes.
TEST(StateFileImage, GivesTheWholeArrayAndSurvivesASave) {
    TempFolder folder;
    constexpr std::size_t imageSize = (16U << 20U) - 5;  // shorter than the chip: the rest stays erased
    std::string image(imageSize, '\0');
    for (std::size_t at = 0; at < image.size(); ++at) {
        image[at] = static_cast<char>((at * 7U + (at >> 16U)) & 0xFFU);
    }
    std::filesystem::create_directory(folder.path / "images");
    writeFile(folder.file("images/part.bin"), image);
    const std::string state = folder.file("state.txt");
    const std::string text =
        "flashlock-sim-state 1\nchip 28F128J3\nimage images/part.bin\nlocked 2\n"
        "array 000100 48 69 FF\narray FFFFFC 01 02 03 04\n";
    writeFile(state, text);

    std::vector<std::uint8_t> expected(image.begin(), image.end());
    expected.resize(16U << 20U, 0xFF);
    std::copy_n(std::vector<std::uint8_t>{0x48, 0x69, 0xFF}.begin(), 3, expected.begin() + 0x100);
    std::copy_n(std::vector<std::uint8_t>{1, 2, 3, 4}.begin(), 4, expected.begin() + 0xFFFFFC);
    {
        Session session{{"FLASHLOCK_SIM_CHIP", "28F128J3"}, {"FLASHLOCK_SIM_STATE", state}};
        ASSERT_TRUE(session.under.sim.usable()) << session.under.messages.str();
        EXPECT_TRUE(session.chip().array() == expected);
        // Through the board too, where the image, the array lines and the
        // erased tail meet.
        session.flash.beginAccess();
        session.flash.writeAt(0, 0xFF);
        for (const std::uint32_t address : {0x0U, 0xFFU, 0x100U, 0x102U, 0x7FFFFFU, 0xFFFFFAU, 0xFFFFFBU, 0xFFFFFFU}) {
            EXPECT_EQ(session.flash.readAt(address), expected[address]) << "at " << address;
        }
        session.dialogue.setBlockLockBit();
    }
    EXPECT_EQ(readFile(state),
              "flashlock-sim-state 1\n"
              "# The simulated chip's lock bits and array content; rewritten after every change.\n"
              "chip 28F128J3\n"
              "image images/part.bin\n"
              "locked 0 2\n" +
                  formatRow(0x100, expected) + formatRow(0xFFFFF0, expected));
    Session again{{"FLASHLOCK_SIM_CHIP", "28F128J3"}, {"FLASHLOCK_SIM_STATE", state}};
    EXPECT_EQ(again.chip().array(), expected);
}

}  // namespace

namespace {

// The array's own file: made whole at the first change, from the image and
// the array lines, and named by the state in their place; then changed in
// place only where bytes changed; never written by a run that changes
// nothing. The image is only ever read.
TEST(StateFileContent, ChangesOutliveTheRunAndOnlyChangedBytesAreWritten) {
    TempFolder folder;
    const std::string image(0x100, '\x5A');
    writeFile(folder.file("image.bin"), image);
    const std::string state = folder.file("state.txt");
    const std::string content = folder.file("state.txt.content");
    writeFile(state, "flashlock-sim-state 1\nchip 28F320J3\nimage image.bin\nlocked 3\narray 000200 00 01\n");
    // Whole seconds, which every file system (and Wine's) keeps exactly.
    const std::filesystem::file_time_type old =
        std::chrono::floor<std::chrono::seconds>(std::filesystem::file_time_type::clock::now() - std::chrono::hours(1));
    std::filesystem::last_write_time(folder.file("image.bin"), old);
    std::string array = image + std::string((4U << 20U) - image.size(), '\xFF');
    array.replace(0x200, 2, std::string("\x00\x01", 2));
    // One run: it finds the array as the last run left it and makes these
    // bus cycles, all of them correct.
    const auto run = [&](std::initializer_list<std::pair<std::uint32_t, std::uint8_t>> writes) {
        Session session{{"FLASHLOCK_SIM_STATE", state}};
        EXPECT_TRUE(std::string(session.chip().array().begin(), session.chip().array().end()) == array);
        session.flash.beginAccess();
        for (const auto& [address, value] : writes) {
            session.flash.writeAt(address, value);
        }
        EXPECT_THAT(session.faults(), testing::IsEmpty());
    };

    run({{0x40, 0xE8}, {0x40, 0x01}, {0x40, 0x50}, {0x41, 0x0A}, {0x40, 0xD0}});
    array.replace(0x40, 2, "\x50\x0A");
    EXPECT_EQ(readFile(state),
              "flashlock-sim-state 1\n"
              "# The simulated chip's lock bits and array content; rewritten after every change.\n"
              "chip 28F320J3\ncontent state.txt.content\nlocked 3\n");
    EXPECT_TRUE(readFile(content) == array);
    EXPECT_EQ(readFile(folder.file("image.bin")), image);
    EXPECT_EQ(std::filesystem::last_write_time(folder.file("image.bin")), old);

    // A second name for the content file sees the next change only if the
    // file is changed in place rather than replaced.
    std::filesystem::create_hard_link(content, folder.file("second-name"));
    run({{0x0, 0x40}, {0x300, 0x00}});
    array[0x300] = '\0';
    EXPECT_TRUE(readFile(folder.file("second-name")) == array);

    // Erasing erased flash and programming 0xFF change no byte.
    std::filesystem::last_write_time(state, old);
    std::filesystem::last_write_time(content, old);
    run({{0xA0000, 0x20}, {0xA0000, 0xD0}, {0x0, 0x40}, {0x400, 0xFF}});
    run({});
    EXPECT_EQ(std::filesystem::last_write_time(state), old);
    EXPECT_EQ(std::filesystem::last_write_time(content), old);
}

}  // namespace
