// The state folder, folders the user names, and the files a journal is kept
// in: made, grown, read back, listed and removed, with whatever may stand
// under their names.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "TempFolder.h"
#include "platform/Durable.h"
#include "platform/Environment.h"

namespace {

using platform::DurableFile;
using platform::FileFault;
using platform::FileProblem;
using testing::HasSubstr;
namespace fs = std::filesystem;

bool appendText(DurableFile& file, const std::string& text, FileProblem& problem) {
    // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast): the bytes of a string
    return file.append(reinterpret_cast<const std::uint8_t*>(text.data()), text.size(), problem);
}

std::string asText(const std::vector<std::uint8_t>& bytes) {
    return {bytes.begin(), bytes.end()};
}

unsigned modeOf(const std::string& path) {
    struct stat status {};
    stat(path.c_str(), &status);
    return status.st_mode & 0777U;
}

unsigned withoutUmask(unsigned mode) {
    const mode_t mask = umask(0);
    umask(mask);
    return mode & ~mask;
}

// HOME and XDG_STATE_HOME as a case sets them, as they were afterwards.
class StateFolder : public testing::Test {
protected:
    void SetUp() override {
        home = platform::environmentValue("HOME");
        xdg = platform::environmentValue("XDG_STATE_HOME");
    }
    void TearDown() override {
        set("HOME", home);
        set("XDG_STATE_HOME", xdg);
    }

    static void set(const char* name, const std::optional<std::string>& value) {
        if (value) {
            platform::setEnvironmentValue(name, *value);
        } else {
            unsetenv(name);  // NOLINT(concurrency-mt-unsafe): one thread
        }
    }

    TempFolder folder;

private:
    std::optional<std::string> home;
    std::optional<std::string> xdg;
};

TEST_F(StateFolder, FollowsXdgThenHome) {
    struct Case {
        const char* name;
        std::optional<std::string> xdg;
        std::optional<std::string> home;
        // Relative to the test's folder, or the whole problem.
        std::string folderOrProblem;
        bool found;
    };
    const std::string root = folder.path.string();
    writeFile(folder.file("file"), "");
    const std::vector<Case> cases = {
        {"xdgAbsolute", root + "/xdg/", root + "/home", "/xdg/flashlock", true},
        {"xdgUnset", std::nullopt, root + "/home", "/home/.local/state/flashlock", true},
        {"xdgRelative", "xdg", root + "/home", "/home/.local/state/flashlock", true},
        {"xdgEmpty", "", root + "/home/", "/home/.local/state/flashlock", true},
        {"noHome", std::nullopt, std::nullopt,
         "HOME is not set, so there is no folder for flashlock's state: set HOME or XDG_STATE_HOME to an absolute "
         "path",
         false},
        {"relativeHome", "state", "home",
         "HOME (\"home\") is no absolute path, so there is no folder for flashlock's state: set HOME or "
         "XDG_STATE_HOME to an absolute path",
         false},
        {"fileInTheWay", root + "/file/state", root + "/home",
         "no folder for flashlock's state: cannot create the folder " + root + "/file/state: Not a directory", false},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        set("XDG_STATE_HOME", test.xdg);
        set("HOME", test.home);
        std::string problem;
        const std::optional<std::string> found = platform::stateFolder(problem);
        ASSERT_EQ(found.has_value(), test.found) << problem;
        if (!test.found) {
            EXPECT_EQ(problem, test.folderOrProblem);
            continue;
        }
        EXPECT_EQ(*found, root + test.folderOrProblem);
        EXPECT_TRUE(fs::is_directory(*found));
        // Every folder it made is its user's alone.
        for (fs::path made = *found; made != folder.path; made = made.parent_path()) {
            EXPECT_EQ(modeOf(made), withoutUmask(0700)) << made;
        }
        fs::remove_all(folder.path / "xdg");
        fs::remove_all(folder.path / "home");
    }
}

TEST(EnsureFolder, MakesOrTakesAFolderAndRefusesTheRest) {
    struct Case {
        const char* name;
        std::function<std::string(const TempFolder&)> make;
        // Empty when the folder serves.
        std::string problem;
    };
    const std::vector<Case> cases = {
        {"new", [](const TempFolder& folder) { return folder.file("a/b/c"); }, ""},
        {"existing", [](const TempFolder& folder) { return folder.path.string() + "/"; }, ""},
        {"linkToFolder",
         [](const TempFolder& folder) {
             fs::create_directory_symlink(folder.path, folder.path / "link");
             return folder.file("link");
         },
         ""},
        {"file",
         [](const TempFolder& folder) {
             writeFile(folder.file("f"), "");
             return folder.file("f");
         },
         "f is a file, not a folder: give another name"},
        {"underAFile",
         [](const TempFolder& folder) {
             writeFile(folder.file("f"), "");
             return folder.file("f/sub");
         },
         "cannot create the folder "},
        {"empty", [](const TempFolder&) { return std::string(); }, "\"\" names no folder"},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        const TempFolder folder;
        const std::string path = test.make(folder);
        std::string problem;
        EXPECT_EQ(platform::ensureFolder(path, problem), test.problem.empty()) << problem;
        if (test.problem.empty()) {
            EXPECT_TRUE(fs::is_directory(path));
            EXPECT_EQ(problem, "");
        } else {
            EXPECT_THAT(problem, HasSubstr(test.problem));
        }
    }
}

TEST(DurableFileLife, GrowsAndIsReadBackListedAndRemoved) {
    const TempFolder folder;
    const std::string path = folder.file("journal-1");
    FileProblem problem;
    DurableFile file = DurableFile::create(path, problem);
    ASSERT_TRUE(file.isOpen()) << problem.text;
    EXPECT_EQ(modeOf(path), 0600U);
    ASSERT_TRUE(appendText(file, "abc", problem));
    ASSERT_TRUE(file.sync(problem)) << problem.text;
    ASSERT_TRUE(appendText(file, "def", problem));
    ASSERT_TRUE(file.sync(problem)) << problem.text;
    DurableFile moved = std::move(file);
    EXPECT_FALSE(file.isOpen());  // NOLINT(bugprone-use-after-move): what a move leaves is part of the contract
    EXPECT_FALSE(appendText(file, "x", problem));
    EXPECT_EQ(problem.text, "cannot write: no file is open");
    moved = {};

    file = DurableFile::openForAppend(path, problem);
    ASSERT_TRUE(file.isOpen()) << problem.text;
    ASSERT_TRUE(appendText(file, "g", problem));
    ASSERT_TRUE(file.sync(problem));
    file = {};
    EXPECT_EQ(asText(platform::readWholeFile(path, 7, problem).value()), "abcdefg");
    EXPECT_FALSE(platform::readWholeFile(path, 6, problem).has_value());
    EXPECT_EQ(problem.fault, FileFault::Unsuitable);
    EXPECT_EQ(problem.text, path + " is larger than 6 bytes, more than it can be: remove it");

    writeFile(folder.file("journal-0"), "");
    writeFile(folder.file("other"), "");
    fs::create_directory(folder.path / "journal-folder");
    fs::create_symlink(path, folder.path / "journal-link");
    EXPECT_EQ(platform::listFiles(folder.path.string(), "journal-"),
              (std::vector<std::string>{folder.file("journal-0"), path}));
    EXPECT_EQ(platform::listFiles(folder.file("none"), ""), std::vector<std::string>{});

    problem = {};
    EXPECT_TRUE(platform::removeDurably(path, problem)) << problem.text;
    EXPECT_FALSE(platform::fileExists(path));
    EXPECT_TRUE(platform::removeDurably(path, problem)) << "a missing file is as wanted";
    EXPECT_FALSE(platform::removeDurably(folder.file("journal-folder"), problem));
    EXPECT_EQ(problem.text, "cannot remove " + folder.file("journal-folder") + ": Is a directory");
    EXPECT_EQ(problem.fault, FileFault::Unsuitable);
}

// Whatever stands under the name: what create, openForAppend and
// readWholeFile make of it, and what becomes of the thing itself.
struct InTheWay {
    const char* name;
    // Makes it in the folder and returns the name to use.
    std::function<std::string(const TempFolder&)> make;
    FileFault creating;
    FileFault appending;
    // Part of the problem's text, when there is one.
    const char* words;
};

void PrintTo(const InTheWay& way, std::ostream* os) {
    *os << way.name;
}

std::string oldFile(const TempFolder& folder) {
    writeFile(folder.file("old"), "old");
    return folder.file("old");
}

std::string linkTo(const TempFolder& folder, const std::string& target) {
    fs::create_symlink(target, folder.path / "link");
    return folder.file("link");
}

const std::vector<InTheWay> inTheWay = {
    {"nothing", [](const TempFolder& folder) { return folder.file("new"); }, FileFault::None, FileFault::System,
     "cannot open "},
    {"regular", oldFile, FileFault::Exists, FileFault::None, "old exists"},
    {"linkToRegular", [](const TempFolder& folder) { return linkTo(folder, oldFile(folder)); }, FileFault::Exists,
     FileFault::Unsuitable, "link is a symbolic link, not a regular file"},
    {"linkToNothing", [](const TempFolder& folder) { return linkTo(folder, folder.file("target")); }, FileFault::Exists,
     FileFault::Unsuitable, "link is a symbolic link, not a regular file"},
    {"folder", [](const TempFolder& folder) { return folder.path.string(); }, FileFault::Exists, FileFault::Unsuitable,
     "is a folder, not a regular file"},
    {"fifo",
     [](const TempFolder& folder) {
         mkfifo(folder.file("fifo").c_str(), 0600);
         return folder.file("fifo");
     },
     FileFault::Exists, FileFault::Unsuitable, "fifo is a FIFO, not a regular file"},
    {"device", [](const TempFolder&) { return std::string("/dev/null"); }, FileFault::Exists, FileFault::Unsuitable,
     "/dev/null is a device, not a regular file"},
    {"missingFolder", [](const TempFolder& folder) { return folder.file("none/new"); }, FileFault::System,
     FileFault::System, "No such file or directory"},
};

class DurableFileOver : public testing::TestWithParam<InTheWay> {};

TEST_P(DurableFileOver, CreateLeavesItAlone) {
    const TempFolder folder;
    const std::string name = GetParam().make(folder);
    FileProblem problem;
    const DurableFile file = DurableFile::create(name, problem);
    EXPECT_EQ(problem.fault, GetParam().creating) << problem.text;
    EXPECT_EQ(file.isOpen(), problem.fault == FileFault::None);
    if (problem.fault == FileFault::Exists) {
        EXPECT_EQ(problem.text, name + " exists");
    } else if (problem.fault == FileFault::System) {
        EXPECT_EQ(problem.text, "cannot create " + name + ": No such file or directory");
    }
    // Neither the old file nor a link's target was touched or made.
    EXPECT_EQ(readFile(folder.file("old")), fs::exists(folder.path / "old") ? "old" : "");
    EXPECT_FALSE(fs::exists(folder.path / "target"));
}

TEST_P(DurableFileOver, OpenForAppendAndReadTakeOnlyARegularFile) {
    const TempFolder folder;
    const std::string name = GetParam().make(folder);
    FileProblem appending;
    const DurableFile file = DurableFile::openForAppend(name, appending);
    EXPECT_EQ(appending.fault, GetParam().appending) << appending.text;
    EXPECT_EQ(file.isOpen(), appending.fault == FileFault::None);
    FileProblem reading;
    const auto data = platform::readWholeFile(name, 1024, reading);
    EXPECT_EQ(reading.fault, GetParam().appending) << reading.text;
    if (appending.fault == FileFault::None) {
        EXPECT_EQ(asText(data.value()), "old");
    } else {
        EXPECT_FALSE(data.has_value());
        EXPECT_THAT(appending.text, HasSubstr(GetParam().words));
        EXPECT_THAT(reading.text, HasSubstr(GetParam().words));
    }
}

INSTANTIATE_TEST_SUITE_P(Names, DurableFileOver, testing::ValuesIn(inTheWay),
                         [](const testing::TestParamInfo<InTheWay>& info) { return info.param.name; });

}  // namespace
