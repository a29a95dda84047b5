// Files that are not what the variables should name, or state files that are
// odd but valid: each is refused at once with a line that names the variable,
// or taken as it is meant.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <streambuf>
#include <string>

#include "SimulatedPort.h"
#include "iolib/sim/StateFile.h"
#include "tests/TempFolder.h"

namespace {

constexpr const char* notUsable =
    "; the simulated port is not usable: port writes do nothing and no board answers the probe\n";
const std::string header = "flashlock-sim-state 1\nchip 28F320J3\n";

struct HostileCase {
    const char* name;
    const char* variable;
    // Prepares the folder and gives the variables, `variable` among them.
    Variables (*make)(const TempFolder& folder);
    const char* problem;  // what follows the quoted variable; {}/ stands for the folder
};

void PrintTo(const HostileCase& c, std::ostream* os) {
    *os << c.name;
}

class HostileFile : public testing::TestWithParam<HostileCase> {};

TEST_P(HostileFile, IsRefusedAtOnceWithTheVariableNamed) {
    const HostileCase& c = GetParam();
    TempFolder folder;
    const Variables variables = c.make(folder);
    const std::string value = variables.at(c.variable);
    SimUnderTest under(variables);
    std::string problem = c.problem;
    if (const auto at = problem.find("{}/"); at != std::string::npos) {
        problem.replace(at, 3, (folder.path / "").string());
    }
    EXPECT_EQ(under.messages.str(),
              "flashlock simulator: " + std::string(c.variable) + "=\"" + value + "\"" + problem + notUsable);
    EXPECT_FALSE(under.sim.usable());
}

INSTANTIATE_TEST_SUITE_P(
    Files, HostileFile,
    testing::Values(HostileCase{"stateFolder", "FLASHLOCK_SIM_STATE",
                                [](const TempFolder& folder) {
                                    return Variables{{"FLASHLOCK_SIM_STATE", folder.path.string()}};
                                },
                                ": is a folder; name a file, new or one this simulator wrote"},
                    HostileCase{"logFolder", "FLASHLOCK_SIM_LOG",
                                [](const TempFolder& folder) {
                                    return Variables{{"FLASHLOCK_SIM_LOG", folder.path.string()}};
                                },
                                " is a folder, not a regular file; name a file"},
                    HostileCase{"traceFolder", "FLASHLOCK_SIM_TRACE",
                                [](const TempFolder& folder) {
                                    return Variables{{"FLASHLOCK_SIM_TRACE", folder.path.string()}};
                                },
                                " is a folder, not a regular file; name a file"},
                    HostileCase{"stateTooLarge", "FLASHLOCK_SIM_STATE",
                                [](const TempFolder& folder) {
                                    const std::string path = folder.file("huge.txt");
                                    writeFile(path, header);
                                    std::filesystem::resize_file(path, flashsim::stateFileLimit + 1);
                                    return Variables{{"FLASHLOCK_SIM_STATE", path}};
                                },
                                ": is larger than a state file can be (96 MiB); is it the right file?"},
                    HostileCase{"stateEndlessLine", "FLASHLOCK_SIM_STATE",
                                [](const TempFolder& folder) {
                                    const std::string path = folder.file("state.txt");
                                    writeFile(path, header + "# " + std::string(flashsim::stateLineLimit, '-') + "\n");
                                    return Variables{{"FLASHLOCK_SIM_STATE", path}};
                                },
                                ": line 3: longer than 4096 characters; is this a state file?"},
                    HostileCase{"imageFolder", "FLASHLOCK_SIM_STATE",
                                [](const TempFolder& folder) {
                                    std::filesystem::create_directory(folder.path / "image");
                                    writeFile(folder.file("state.txt"), header + "image image\n");
                                    return Variables{{"FLASHLOCK_SIM_STATE", folder.file("state.txt")}};
                                },
                                ": line 3: image \"{}/image\" is a folder, not a file of raw bytes"},
                    HostileCase{"imageTooLarge", "FLASHLOCK_SIM_STATE",
                                [](const TempFolder& folder) {
                                    writeFile(folder.file("big.bin"), std::string((4U << 20U) + 1, '\0'));
                                    writeFile(folder.file("state.txt"), header + "image big.bin\n");
                                    return Variables{{"FLASHLOCK_SIM_STATE", folder.file("state.txt")}};
                                },
                                ": line 3: image \"{}/big.bin\" holds 4194305 bytes, more than the chip's 4194304"},
                    HostileCase{"imageAfterArray", "FLASHLOCK_SIM_STATE",
                                [](const TempFolder& folder) {
                                    writeFile(folder.file("a.bin"), "x");
                                    writeFile(folder.file("state.txt"), header + "array 000000 00\nimage a.bin\n");
                                    return Variables{{"FLASHLOCK_SIM_STATE", folder.file("state.txt")}};
                                },
                                ": line 4: one image or content line only, and before the array lines"},
                    HostileCase{"logIsTheState", "FLASHLOCK_SIM_LOG",
                                [](const TempFolder& folder) {
                                    // The log would have emptied the state file before it was read.
                                    std::filesystem::create_directory(folder.path / "sub");
                                    return Variables{
                                        {"FLASHLOCK_SIM_STATE", folder.file("state.txt")},
                                        {"FLASHLOCK_SIM_LOG", (folder.path / "sub" / ".." / "state.txt").string()}};
                                },
                                " names the same file as FLASHLOCK_SIM_STATE; give each its own file"},
                    HostileCase{"logIsTheImage", "FLASHLOCK_SIM_LOG",
                                [](const TempFolder& folder) {
                                    writeFile(folder.file("a.bin"), "x");
                                    writeFile(folder.file("state.txt"), header + "image a.bin\n");
                                    return Variables{{"FLASHLOCK_SIM_STATE", folder.file("state.txt")},
                                                     {"FLASHLOCK_SIM_LOG", folder.file("a.bin")}};
                                },
                                " names the image of the state file; give it a file of its own"},
                    HostileCase{"traceIsTheContentFile", "FLASHLOCK_SIM_TRACE",
                                [](const TempFolder& folder) {
                                    // The file a first program or erase would make.
                                    return Variables{{"FLASHLOCK_SIM_STATE", folder.file("state.txt")},
                                                     {"FLASHLOCK_SIM_TRACE", folder.file("state.txt.content")}};
                                },
                                " names the content file of the state file; give it a file of its own"}),
    [](const testing::TestParamInfo<HostileCase>& info) { return info.param.name; });

TEST(StateFileText, AByteOrderMarkBeforeTheHeaderIsAccepted) {
    TempFolder folder;
    writeFile(folder.file("state.txt"), "\xEF\xBB\xBF" + header + "locked 4\r\n");
    Session session{{"FLASHLOCK_SIM_STATE", folder.file("state.txt")}};
    EXPECT_EQ(session.under.messages.str(), "");
    EXPECT_TRUE(session.chip().isLocked(4));
}

// A stream that takes `room` bytes and then fails, as a full disk does.
class FullDisk : public std::streambuf {
public:
    explicit FullDisk(std::size_t room) : room(room) {}
    std::string written;

protected:
    int_type overflow(int_type c) override {
        if (traits_type::eq_int_type(c, traits_type::eof()) || written.size() == room) {
            return traits_type::eof();
        }
        written.push_back(traits_type::to_char_type(c));
        return c;
    }

private:
    std::size_t room;
};

TEST(StateFileText, AWriteThatFailsIsReportedNotTakenForAWholeState) {
    flashsim::IntelChip chip(*flashsim::findChip("28F128J3"));
    chip.loadImage(0, std::string(1U << 20U, '\x5A').data(), 1U << 20U);
    const std::string whole = flashsim::formatState(chip);
    for (const std::size_t room : {std::size_t{0}, std::size_t{100}, whole.size() - 1}) {
        FullDisk disk(room);
        std::ostream out(&disk);
        EXPECT_FALSE(flashsim::writeState(out, chip, {})) << "room for " << room << " bytes";
    }
    FullDisk disk(whole.size());
    std::ostream out(&disk);
    EXPECT_TRUE(flashsim::writeState(out, chip, {}));
    EXPECT_EQ(disk.written, whole);
}

}  // namespace
