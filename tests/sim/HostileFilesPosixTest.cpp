// What only POSIX systems let a user name so easily: FIFOs, devices and
// symbolic links, as the simulator's files.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "SimulatedPort.h"
#include "tests/TempFolder.h"

namespace {

using testing::HasSubstr;

constexpr const char* notUsable =
    "; the simulated port is not usable: port writes do nothing and no board answers the probe\n";

struct SpecialCase {
    const char* variable;
    const char* target;  // nullptr: a FIFO nobody reads or writes
    bool viaLink;
    const char* problem;
};

void PrintTo(const SpecialCase& c, std::ostream* os) {
    *os << c.variable << (c.target != nullptr ? c.target : " FIFO") << (c.viaLink ? " via a link" : "");
}

class SpecialFile : public testing::TestWithParam<SpecialCase> {};

// Reading /dev/zero never ends and opening a FIFO nobody reads never
// returns: both must be refused before they are opened.
TEST_P(SpecialFile, IsRefusedBeforeItIsOpened) {
    const SpecialCase& c = GetParam();
    TempFolder folder;
    std::string path = c.target != nullptr ? c.target : folder.file("fifo");
    if (c.target == nullptr) {
        ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    }
    if (c.viaLink) {
        std::filesystem::create_symlink(path, folder.path / "link");
        path = folder.file("link");
    }
    SimUnderTest under({{c.variable, path}});
    EXPECT_EQ(under.messages.str(),
              "flashlock simulator: " + std::string(c.variable) + "=\"" + path + "\"" + c.problem + notUsable);
    EXPECT_FALSE(under.sim.usable());
}

constexpr const char* stateDevice = ": is a device, not a state file; name a regular file";
constexpr const char* stateFifo = ": is a FIFO, not a state file; name a regular file";

INSTANTIATE_TEST_SUITE_P(
    Posix, SpecialFile,
    testing::Values(SpecialCase{"FLASHLOCK_SIM_STATE", "/dev/zero", false, stateDevice},
                    SpecialCase{"FLASHLOCK_SIM_STATE", "/dev/full", false, stateDevice},
                    SpecialCase{"FLASHLOCK_SIM_STATE", "/dev/zero", true, stateDevice},
                    SpecialCase{"FLASHLOCK_SIM_STATE", nullptr, false, stateFifo},
                    SpecialCase{"FLASHLOCK_SIM_STATE", nullptr, true, stateFifo},
                    SpecialCase{"FLASHLOCK_SIM_LOG", nullptr, false, " is a FIFO, not a regular file; name a file"},
                    SpecialCase{"FLASHLOCK_SIM_TRACE", nullptr, true, " is a FIFO, not a regular file; name a file"},
                    SpecialCase{"FLASHLOCK_SIM_LOG", "/dev/full", false,
                                " is a device, not a regular file; name a file"}));

// Saving replaces the link's target, not the link, and keeps the target's
// permissions; the lock file sits beside the target, where every link to it
// leads.
TEST(StateFileLink, StaysALinkAndTheTargetKeepsItsPermissions) {
    TempFolder folder;
    std::filesystem::create_directory(folder.path / "real");
    const std::string target = folder.file("real/state.txt");
    writeFile(target, "flashlock-sim-state 1\nchip 28F320J3\n");
    std::filesystem::permissions(target, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
                                             std::filesystem::perms::group_read);
    std::filesystem::create_symlink("real/state.txt", folder.path / "state.txt");
    {
        Session session{{"FLASHLOCK_SIM_STATE", folder.file("state.txt")}};
        session.dialogue.setBlockLockBit();
        EXPECT_THAT(session.faults(), testing::IsEmpty());
    }
    EXPECT_TRUE(std::filesystem::is_symlink(folder.path / "state.txt"));
    EXPECT_THAT(readFile(target), HasSubstr("\nlocked 0\n"));
    EXPECT_EQ(std::filesystem::status(target).permissions(), std::filesystem::perms::owner_read |
                                                                 std::filesystem::perms::owner_write |
                                                                 std::filesystem::perms::group_read);
    EXPECT_TRUE(std::filesystem::exists(folder.path / "real" / "state.txt.lock"));
}

TEST(StateFileLink, ALogThatIsALinkToTheStateIsRefused) {
    TempFolder folder;
    writeFile(folder.file("state.txt"), "flashlock-sim-state 1\nchip 28F320J3\nlocked 3\n");
    std::filesystem::create_symlink(folder.file("state.txt"), folder.path / "log");
    SimUnderTest under({{"FLASHLOCK_SIM_STATE", folder.file("state.txt")}, {"FLASHLOCK_SIM_LOG", folder.file("log")}});
    EXPECT_THAT(under.messages.str(), HasSubstr("names the same file as FLASHLOCK_SIM_STATE"));
    EXPECT_EQ(readFile(folder.file("state.txt")), "flashlock-sim-state 1\nchip 28F320J3\nlocked 3\n");
}

}  // namespace
