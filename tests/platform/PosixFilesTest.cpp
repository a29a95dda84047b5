// Files that are written whole or not at all and files read in pieces, on
// every kind of thing a name can stand for; and which signals the program
// takes over.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <array>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "TempFolder.h"
#include "platform/Platform.h"

namespace {

using platform::FileFault;
using platform::FileProblem;
using platform::InputFile;
using platform::OutputFile;
using testing::HasSubstr;
namespace fs = std::filesystem;

const std::string fresh = "fresh data";

bool writeFresh(OutputFile& file, FileProblem& problem) {
    // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast): the bytes of a string
    return file.write(reinterpret_cast<const std::uint8_t*>(fresh.data()), fresh.size(), problem);
}

// Unix sockets take paths of about a hundred bytes at most, so the socket is
// made from inside its folder.
void makeSocket(const std::string& folder, const std::string& name) {
    const fs::path previous = fs::current_path();
    fs::current_path(folder);
    const int listening = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, name.c_str(), sizeof(address.sun_path) - 1);
    // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast)
    const int bound = bind(listening, reinterpret_cast<const sockaddr*>(&address), sizeof(address));
    close(listening);
    ASSERT_EQ(bound, 0);
    fs::current_path(previous);
}

bool runningAsRoot() {
    return geteuid() == 0;
}

// What a name stands for, how it is made, and what becomes of it as the
// target of an OutputFile (with and without replacing) and as an InputFile.
struct KindCase {
    const char* name;
    // Makes the thing in `folder` and returns the name to use.
    std::function<std::string(const TempFolder& folder)> make;
    FileFault replacing;
    FileFault creating;
    FileFault reading;
    // Part of the text of every problem met.
    const char* words;
    // Why the case cannot run here, if it cannot.
    std::function<const char*()> unavailable = [] { return nullptr; };
};

void PrintTo(const KindCase& kind, std::ostream* os) {
    *os << kind.name;
}

std::string regular(const TempFolder& folder) {
    writeFile(folder.file("old.bin"), "old data, longer than the new");
    chmod(folder.file("old.bin").c_str(), 0640);
    return folder.file("old.bin");
}

std::string linkTo(const TempFolder& folder, const std::string& target) {
    fs::create_symlink(target, folder.path / "link");
    return folder.file("link");
}

const std::vector<KindCase> kinds = {
    {"regular", regular, FileFault::None, FileFault::Exists, FileFault::None, "old.bin exists"},
    {"missing", [](const TempFolder& folder) { return folder.file("new.bin"); }, FileFault::None, FileFault::None,
     FileFault::System, "new.bin: No such file or directory"},
    {"folder", [](const TempFolder& folder) { return folder.path.string(); }, FileFault::Unsuitable,
     FileFault::Unsuitable, FileFault::Unsuitable, "folder"},
    {"folderWithSlash",
     [](const TempFolder& folder) {
         fs::create_directory(folder.path / "sub");
         return folder.file("sub") + "/";
     },
     FileFault::Unsuitable, FileFault::Unsuitable, FileFault::Unsuitable, "sub/"},
    {"fifo",
     [](const TempFolder& folder) {
         mkfifo(folder.file("fifo").c_str(), 0600);
         return folder.file("fifo");
     },
     FileFault::Unsuitable, FileFault::Unsuitable, FileFault::Unsuitable, "a FIFO, not a regular file"},
    {"device", [](const TempFolder&) { return std::string("/dev/null"); }, FileFault::Unsuitable, FileFault::Unsuitable,
     FileFault::Unsuitable, "a character device, not a regular file"},
    {"socket",
     [](const TempFolder& folder) {
         makeSocket(folder.path.string(), "sock");
         return folder.file("sock");
     },
     FileFault::Unsuitable, FileFault::Unsuitable, FileFault::Unsuitable, "a socket, not a regular file"},
    {"linkToRegular", [](const TempFolder& folder) { return linkTo(folder, regular(folder)); }, FileFault::None,
     FileFault::Exists, FileFault::None, "link exists"},
    {"linkToFolder", [](const TempFolder& folder) { return linkTo(folder, folder.path.string()); },
     FileFault::Unsuitable, FileFault::Unsuitable, FileFault::Unsuitable, "link"},
    {"linkToDevice", [](const TempFolder& folder) { return linkTo(folder, "/dev/null"); }, FileFault::Unsuitable,
     FileFault::Unsuitable, FileFault::Unsuitable, "character device"},
    {"danglingLink", [](const TempFolder& folder) { return linkTo(folder, folder.file("gone")); },
     FileFault::Unsuitable, FileFault::Unsuitable, FileFault::System, "link"},
    {"missingFolder", [](const TempFolder& folder) { return folder.file("none/new.bin"); }, FileFault::System,
     FileFault::System, FileFault::System, "No such file or directory"},
    {"fileAsFolder", [](const TempFolder& folder) { return regular(folder) + "/new.bin"; }, FileFault::System,
     FileFault::System, FileFault::System, "Not a directory"},
    {"readOnlyFolder",
     [](const TempFolder& folder) {
         fs::create_directory(folder.path / "ro");
         chmod(folder.file("ro").c_str(), 0500);
         return folder.file("ro/new.bin");
     },
     FileFault::System, FileFault::System, FileFault::System, "Permission denied",
     [] { return runningAsRoot() ? "root writes into a read-only folder; run the tests as another user" : nullptr; }},
    // Refused even to root, which the folder above is not.
    {"systemFolder", [](const TempFolder&) { return std::string("/sys/flashlock-test.bin"); }, FileFault::System,
     FileFault::System, FileFault::System, "cannot create a file in /sys: "},
    {"longestName", [](const TempFolder& folder) { return folder.file(std::string(255, 'n')); }, FileFault::None,
     FileFault::None, FileFault::System, "No such file or directory"},
    {"nameTooLong", [](const TempFolder& folder) { return folder.file(std::string(256, 'n')); }, FileFault::System,
     FileFault::System, FileFault::System, "File name too long"},
    {"empty", [](const TempFolder&) { return std::string(); }, FileFault::Unsuitable, FileFault::Unsuitable,
     FileFault::Unsuitable, "\"\""},
};

// The folder holds no leftover of a new file.
void expectNoPendingFile(const fs::path& folder) {
    for (const auto& entry : fs::directory_iterator(folder)) {
        EXPECT_EQ(entry.path().filename().string().rfind(".flashlock-", 0), std::string::npos) << entry.path();
    }
}

class FileKinds : public testing::TestWithParam<KindCase> {
protected:
    void SetUp() override {
        if (const char* why = GetParam().unavailable(); why != nullptr) {
            GTEST_SKIP() << why;
        }
    }
};

TEST_P(FileKinds, AsOutputReplacing) {
    TempFolder folder;
    const std::string name = GetParam().make(folder);
    struct stat before {};
    const bool existed = stat(name.c_str(), &before) == 0;
    std::error_code ignored;
    const bool wasLink = fs::is_symlink(fs::symlink_status(name, ignored));
    FileProblem problem;
    OutputFile file = OutputFile::create(name, true, problem);
    EXPECT_EQ(problem.fault, GetParam().replacing) << problem.text;
    if (problem.fault != FileFault::None) {
        EXPECT_FALSE(file.isOpen());
        EXPECT_THAT(problem.text, HasSubstr(GetParam().words));
        expectNoPendingFile(folder.path);
        return;
    }
    ASSERT_TRUE(file.isOpen());
    // Nothing shows under the target's name before the commit.
    EXPECT_EQ(existed, fs::exists(name, ignored));
    ASSERT_TRUE(writeFresh(file, problem));
    ASSERT_TRUE(file.commit(problem)) << problem.text;
    EXPECT_EQ(readFile(name), fresh);
    EXPECT_EQ(wasLink, fs::is_symlink(fs::symlink_status(name)));
    struct stat after {};
    ASSERT_EQ(stat(name.c_str(), &after), 0);
    if (existed) {
        EXPECT_EQ(after.st_mode & 07777U, before.st_mode & 07777U);
    } else {
        const mode_t mask = umask(0);
        umask(mask);
        EXPECT_EQ(after.st_mode & 07777U, 0666U & ~mask);
    }
    expectNoPendingFile(folder.path);
}

TEST_P(FileKinds, AsNewOutput) {
    TempFolder folder;
    const std::string name = GetParam().make(folder);
    FileProblem problem;
    const OutputFile file = OutputFile::create(name, false, problem);
    EXPECT_EQ(problem.fault, GetParam().creating) << problem.text;
    EXPECT_EQ(file.isOpen(), problem.fault == FileFault::None);
    EXPECT_THAT(problem.text, HasSubstr(problem.fault == FileFault::None ? "" : GetParam().words));
}

TEST_P(FileKinds, AsInput) {
    TempFolder folder;
    const std::string name = GetParam().make(folder);
    FileProblem problem;
    InputFile file = InputFile::open(name, problem);
    EXPECT_EQ(problem.fault, GetParam().reading) << problem.text;
    if (problem.fault != FileFault::None) {
        EXPECT_FALSE(file.isOpen());
        EXPECT_THAT(problem.text, HasSubstr("cannot read"));
        return;
    }
    const std::string expected = readFile(name);
    EXPECT_EQ(file.size(), expected.size());
    std::array<std::uint8_t, 64> buffer{};
    const std::size_t count = file.read(buffer.data(), buffer.size(), problem);
    EXPECT_EQ(std::string(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(count)), expected);
    EXPECT_TRUE(file.atEnd());
}

INSTANTIATE_TEST_SUITE_P(Names, FileKinds, testing::ValuesIn(kinds),
                         [](const testing::TestParamInfo<KindCase>& info) { return info.param.name; });

// Another program creates the target while the data is being written: it is
// kept, and so is the data, under a name that the problem gives.
TEST(OutputFileRace, ANewTargetIsNeverReplaced) {
    for (const bool replace : {false, true}) {
        TempFolder folder;
        const std::string name = folder.file("backup.bin");
        FileProblem problem;
        OutputFile file = OutputFile::create(name, replace, problem);
        ASSERT_TRUE(file.isOpen()) << problem.text;
        ASSERT_TRUE(writeFresh(file, problem));
        writeFile(name, "theirs");
        EXPECT_FALSE(file.commit(problem));
        EXPECT_EQ(problem.fault, FileFault::Exists);
        EXPECT_EQ(readFile(name), "theirs");
        ASSERT_FALSE(file.keptPath().empty());
        EXPECT_EQ(readFile(file.keptPath()), fresh);
        EXPECT_THAT(problem.text, HasSubstr("backup.bin was created by another program meanwhile and is left as it "
                                            "is; the data is in " +
                                            file.keptPath()));
    }
}

TEST(OutputFileRace, AnUncommittedFileLeavesNothingBehind) {
    TempFolder folder;
    writeFile(folder.file("old.bin"), "old");
    {
        FileProblem problem;
        OutputFile file = OutputFile::create(folder.file("old.bin"), true, problem);
        ASSERT_TRUE(writeFresh(file, problem));
        const OutputFile moved = std::move(file);
        EXPECT_TRUE(moved.isOpen());
        EXPECT_FALSE(file.isOpen());  // NOLINT(bugprone-use-after-move): what a move leaves is part of the contract
    }
    EXPECT_EQ(readFile(folder.file("old.bin")), "old");
    expectNoPendingFile(folder.path);
}

// The case's checks run in a child process with its own standard streams;
// the child's exit status is 0 or the number of the check that failed.
[[noreturn]] void finish(int status) {
    std::exit(status);  // NOLINT(concurrency-mt-unsafe): the child's one remaining thread
}

[[noreturn]] void standardOutputReportsAFullDisk() {
    const int full = open("/dev/full", O_WRONLY);  // NOLINT(cppcoreguidelines-pro-type-vararg)
    if (full < 0 || dup2(full, STDOUT_FILENO) != STDOUT_FILENO) {
        finish(1);
    }
    FileProblem problem;
    OutputFile file = OutputFile::create("-", false, problem);
    if (!file.isStandardOutput() || file.name() != "standard output") {
        finish(2);
    }
    const std::array<std::uint8_t, 3> bytes{1, 2, 3};
    if (file.write(bytes.data(), bytes.size(), problem) ||
        problem.text != "cannot write standard output: No space left on device") {
        finish(3);
    }
    finish(0);
}

[[noreturn]] void standardInputIsReadInPieces() {
    std::array<int, 2> ends{};
    if (pipe(ends.data()) != 0 || write(ends[1], "abcdefg", 7) != 7 || dup2(ends[0], STDIN_FILENO) != STDIN_FILENO) {
        finish(1);
    }
    close(ends[1]);
    FileProblem problem;
    InputFile file = InputFile::open("-", problem);
    if (!file.isStandardInput() || file.size().has_value() || file.name() != "standard input") {
        finish(2);
    }
    std::array<std::uint8_t, 4> buffer{};
    if (file.read(buffer.data(), buffer.size(), problem) != 4 || file.atEnd() || buffer[3] != 'd') {
        finish(3);
    }
    if (file.read(buffer.data(), buffer.size(), problem) != 3 || !file.atEnd() || buffer[2] != 'g') {
        finish(4);
    }
    finish(problem.fault == FileFault::None ? 0 : 5);
}

TEST(StandardStreams, AFullDiskIsSaidInTheSystemsWords) {
    EXPECT_EXIT(standardOutputReportsAFullDisk(), testing::ExitedWithCode(0), "");
}

TEST(StandardStreams, InputComesInPiecesOfUnknownSize) {
    EXPECT_EXIT(standardInputIsReadInPieces(), testing::ExitedWithCode(0), "");
}

// The kernel's own files report no size, and some refuse to be read.
TEST(InputFileKernel, AFileWithoutSizeIsReadAsAStreamAndItsErrorReported) {
    FileProblem problem;
    InputFile memory = InputFile::open("/proc/self/mem", problem);
    ASSERT_TRUE(memory.isOpen()) << problem.text;
    EXPECT_FALSE(memory.size().has_value());
    std::array<std::uint8_t, 16> buffer{};
    EXPECT_EQ(memory.read(buffer.data(), buffer.size(), problem), 0U);
    EXPECT_EQ(problem.text, "cannot read /proc/self/mem: Input/output error");

    problem = {};
    InputFile status = InputFile::open("/proc/self/status", problem);
    EXPECT_FALSE(status.size().has_value());
    EXPECT_EQ(status.read(buffer.data(), buffer.size(), problem), buffer.size());
    EXPECT_EQ(std::string(buffer.begin(), buffer.begin() + 5), "Name:");
}

TEST(InputFileKernel, AnEmptyFileEndsAtOnce) {
    TempFolder folder;
    writeFile(folder.file("empty"), "");
    FileProblem problem;
    InputFile file = InputFile::open(folder.file("empty"), problem);
    std::array<std::uint8_t, 4> buffer{};
    EXPECT_EQ(file.read(buffer.data(), buffer.size(), problem), 0U);
    EXPECT_TRUE(file.atEnd());
    EXPECT_EQ(problem.fault, FileFault::None);
}

// A signal ignored when the program starts stays ignored; one at its default
// is caught and recorded instead of ending the program.
[[noreturn]] void ignoredSignalsStayIgnored(int ignored) {
    std::signal(ignored, SIG_IGN);  // NOLINT(cppcoreguidelines-pro-type-cstyle-cast)
    platform::catchInterrupts();
    kill(getpid(), ignored);
    if (platform::interruptSignal() != 0) {
        finish(1);
    }
    for (const int other : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
        if (other != ignored) {
            kill(getpid(), other);
            finish(platform::interruptSignal() == other ? 0 : 2);
        }
    }
    finish(3);
}

class IgnoredSignal : public testing::TestWithParam<int> {};

TEST_P(IgnoredSignal, StaysIgnoredWhileTheOthersAreCaught) {
    EXPECT_EXIT(ignoredSignalsStayIgnored(GetParam()), testing::ExitedWithCode(0), "");
}

INSTANTIATE_TEST_SUITE_P(Signals, IgnoredSignal, testing::Values(SIGINT, SIGTERM, SIGHUP, SIGQUIT),
                         [](const testing::TestParamInfo<int>& info) {
                             switch (info.param) {
                             case SIGINT:
                                 return "interrupt";
                             case SIGTERM:
                                 return "terminate";
                             case SIGHUP:
                                 return "hangUp";
                             default:
                                 return "quit";
                             }
                         });

// A moved file has one owner: assigning over an output that was never
// committed discards it, and an input goes on reading where it was.
TEST(MovedFiles, KeepOneOwner) {
    TempFolder folder;
    FileProblem problem;
    OutputFile first = OutputFile::create(folder.file("first.bin"), false, problem);
    OutputFile second = OutputFile::create(folder.file("second.bin"), false, problem);
    ASSERT_TRUE(writeFresh(first, problem) && writeFresh(second, problem)) << problem.text;
    first = std::move(second);
    EXPECT_TRUE(first.isOpen());
    ASSERT_TRUE(first.commit(problem)) << problem.text;
    EXPECT_EQ(readFile(folder.file("second.bin")), fresh);
    EXPECT_FALSE(fs::exists(folder.file("first.bin")));
    expectNoPendingFile(folder.path);

    InputFile input = InputFile::open(folder.file("second.bin"), problem);
    std::array<std::uint8_t, 4> head{};
    ASSERT_EQ(input.read(head.data(), head.size(), problem), head.size());
    InputFile other;
    other = std::move(input);
    EXPECT_FALSE(input.isOpen());  // NOLINT(bugprone-use-after-move): the moved-from state is what is tested
    std::array<std::uint8_t, 16> rest{};
    EXPECT_EQ(other.read(rest.data(), rest.size(), problem), fresh.size() - head.size());
}

}  // namespace
