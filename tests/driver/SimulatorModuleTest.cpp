#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "TempFolder.h"
#include "driver/SimulatorModule.h"
#include "platform/Platform.h"

// --sim's choice of module and state file, on a system the test makes up:
// where the program lies, which files exist, the environment, and whether
// there is a state folder.
namespace {

using testing::HasSubstr;

using Environment = std::map<std::string, std::string>;

std::function<std::optional<std::string>(const char*)> lookUp(const Environment& environment) {
    return [environment](const char* name) -> std::optional<std::string> {
        const auto found = environment.find(name);
        return found != environment.end() ? std::optional<std::string>(found->second) : std::nullopt;
    };
}

struct ChoiceCase {
    const char* name;
    std::optional<std::string> programFolder;
    // Files that exist; "%m" stands for the module's file name.
    std::set<std::string> files;
    Environment environment;
    // Nullopt: the system has no state folder.
    std::optional<std::string> stateFolder;
    std::string module;
    std::string stateFile;
    std::string userState;
    // Part of the problem or the note, or empty for none.
    std::string problem;
    std::string note;
};

void PrintTo(const ChoiceCase& choice, std::ostream* os) {
    *os << choice.name;
}

std::string withModule(std::string text) {
    if (const std::size_t at = text.find("%m"); at != std::string::npos) {
        text.replace(at, 2, platform::moduleFileName("io"));
    }
    return text;
}

class SimulatorChoices : public testing::TestWithParam<ChoiceCase> {};

TEST_P(SimulatorChoices, FindTheModuleBesideTheProgramAndKeepTheChip) {
    const ChoiceCase& given = GetParam();
    std::set<std::string> files;
    for (const std::string& file : given.files) {
        files.insert(withModule(file));
    }
    const SimulatorSurroundings surroundings{given.programFolder, lookUp(given.environment),
                                             [&given](std::string& problem) {
                                                 problem = "HOME is not set";
                                                 return given.stateFolder;
                                             },
                                             [&files](const std::string& path) { return files.contains(path); }};
    const SimulatorChoice choice = chooseSimulator(surroundings);
    EXPECT_EQ(choice.module, withModule(given.module));
    EXPECT_EQ(choice.stateFile, given.stateFile);
    EXPECT_EQ(choice.userState, given.userState);
    EXPECT_EQ(choice.problem.empty(), given.problem.empty()) << choice.problem;
    EXPECT_THAT(choice.problem, HasSubstr(withModule(given.problem)));
    EXPECT_EQ(choice.note.empty(), given.note.empty()) << choice.note;
    EXPECT_THAT(choice.note, HasSubstr(given.note));
}

const std::string home = "/home/u/.local/state/flashlock";

INSTANTIATE_TEST_SUITE_P(
    Systems, SimulatorChoices,
    testing::Values(ChoiceCase{"buildFolder",
                               "/src/build",
                               {"/src/build/sim/%m"},
                               {},
                               home,
                               "/src/build/sim/%m",
                               home + "/sim-zantrel4v4-28F320J3.state",
                               "",
                               "",
                               ""},
                    // Whatever the loader's path holds, and however the variables write the names.
                    ChoiceCase{"boardAndChipName",
                               "/src/build",
                               {"/src/build/sim/%m"},
                               {{"LD_LIBRARY_PATH", "/elsewhere"},
                                {"FLASHLOCK_SIM_BOARD", "Willem"},
                                {"FLASHLOCK_SIM_CHIP", "am29lv160db"}},
                               home,
                               "/src/build/sim/%m",
                               home + "/sim-willem-AM29LV160DB.state",
                               "",
                               "",
                               ""},
                    ChoiceCase{"windowsFolder",
                               "C:\\fl",
                               {"C:\\fl\\sim\\%m"},
                               {},
                               "C:\\Users\\u\\AppData\\Local\\flashlock",
                               "C:\\fl\\sim\\%m",
                               "C:\\Users\\u\\AppData\\Local\\flashlock\\sim-zantrel4v4-28F320J3.state",
                               "",
                               "",
                               ""},
                    ChoiceCase{"usersOwnState",
                               "/src/build",
                               {"/src/build/sim/%m"},
                               {{"FLASHLOCK_SIM_STATE", "/tmp/my.state"}},
                               home,
                               "/src/build/sim/%m",
                               "",
                               "/tmp/my.state",
                               "",
                               ""},
                    ChoiceCase{"emptyStateIsUnset",
                               "/src/build",
                               {"/src/build/sim/%m"},
                               {{"FLASHLOCK_SIM_STATE", ""}},
                               home,
                               "/src/build/sim/%m",
                               home + "/sim-zantrel4v4-28F320J3.state",
                               "",
                               "",
                               ""},
                    ChoiceCase{"noStateFolder",
                               "/src/build",
                               {"/src/build/sim/%m"},
                               {},
                               std::nullopt,
                               "/src/build/sim/%m",
                               "",
                               "",
                               "",
                               "HOME is not set; the simulated chip lasts this run only"},
                    ChoiceCase{"noModule",
                               "/opt/fl",
                               {"/opt/fl/%m"},
                               {},
                               home,
                               "",
                               home + "/sim-zantrel4v4-28F320J3.state",
                               "",
                               "the simulated board's module is not beside flashlock (looked for /opt/fl/sim/%m",
                               ""},
                    ChoiceCase{"noProgramFolder",
                               std::nullopt,
                               {},
                               {},
                               home,
                               "",
                               home + "/sim-zantrel4v4-28F320J3.state",
                               "",
                               "the system does not say which folder holds flashlock",
                               ""}),
    [](const testing::TestParamInfo<ChoiceCase>& info) { return info.param.name; });

// Where the packages install it: beside the program's folder, not in it.
TEST(SimulatorChoices, FindTheInstalledModule) {
    const std::vector<std::string> folders = simulatorModuleFolders();
    ASSERT_EQ(folders.front(), "sim");
    if (folders.size() == 1) {
        GTEST_SKIP() << "this system installs the simulator beside the program, as the build does";
    }
    const std::string module = "/usr/lib/flashlock/sim/" + platform::moduleFileName("io");
    ASSERT_EQ(folders.back(), "../lib/flashlock/sim");
    const SimulatorChoice choice =
        chooseSimulator({"/usr/bin", lookUp({}), [](std::string&) { return std::optional<std::string>(home); },
                         [&module](const std::string& path) { return path == module; }});
    EXPECT_EQ(choice.module, module);
}

TEST(SimulatorState, ResetRemovesTheStateAndItsCompanionsOnly) {
    TempFolder folder;
    const std::string state = "sim-zantrel4v4-28F320J3.state";
    for (const std::string& name : {state, state + ".content", state + ".lock", state + ".0A1B2C3D.tmp",
                                    std::string("sim-zantrel4v4-28F640J3.state")}) {
        writeFile(folder.file(name), "x");
    }
    std::filesystem::create_directory(folder.file(state + ".d"));
    SimulatorChoice choice;
    choice.stateFolder = folder.path.string();
    choice.stateName = state;
    choice.stateFile = folder.file(state);
    bool failed = true;
    EXPECT_EQ(resetSimulatorState(choice, failed), "the simulated chip starts afresh: removed " + state + ", " + state +
                                                       ".0A1B2C3D.tmp, " + state + ".content, " + state +
                                                       ".lock from " + choice.stateFolder);
    EXPECT_FALSE(failed);
    EXPECT_TRUE(std::filesystem::exists(folder.file("sim-zantrel4v4-28F640J3.state"))) << "another chip's state";
    EXPECT_TRUE(std::filesystem::is_directory(folder.file(state + ".d")));
    EXPECT_FALSE(std::filesystem::exists(folder.file(state)));

    EXPECT_EQ(resetSimulatorState(choice, failed),
              "the simulated chip starts afresh: it had no state yet in " + choice.stateFolder);
    EXPECT_FALSE(failed);

    choice.stateFile.clear();
    choice.userState = folder.file("sim-zantrel4v4-28F640J3.state");
    EXPECT_EQ(resetSimulatorState(choice, failed),
              "--reset-sim starts flashlock's own simulated chip afresh, but FLASHLOCK_SIM_STATE names a state file "
              "of yours (" +
                  choice.userState + "): remove that file yourself, or unset FLASHLOCK_SIM_STATE");
    EXPECT_TRUE(failed);
    EXPECT_TRUE(std::filesystem::exists(choice.userState));
}

TEST(SimulatorState, ALoadedSimulatorWithoutAStateFileSaysItsChipLastsOneRun) {
    const std::string note = oneRunNote(lookUp({}));
    EXPECT_EQ(note,
              "the simulated chip lasts this run only: set FLASHLOCK_SIM_STATE to a file to keep it, or run "
              "flashlock --sim, which keeps it for you");
    EXPECT_EQ(oneRunNote(lookUp({{"FLASHLOCK_SIM_STATE", ""}})), note);
    EXPECT_EQ(oneRunNote(lookUp({{"FLASHLOCK_SIM_STATE", "s.txt"}})), "");
}

TEST(SimulatorState, NamesStayFileNames) {
    EXPECT_EQ(simulatorStateName(lookUp({{"FLASHLOCK_SIM_BOARD", "ZANTREL4V5"}, {"FLASHLOCK_SIM_CHIP", "../a b"}})),
              "sim-zantrel4v5-.._A_B.state");
    EXPECT_EQ(simulatorStateName(lookUp({{"FLASHLOCK_SIM_CHIP", std::string(100, 'c')}})),
              "sim-zantrel4v4-" + std::string(40, 'C') + ".state");
}

}  // namespace
