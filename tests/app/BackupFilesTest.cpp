// read and verify on every kind of name a user can give them, through the
// command line on a fake chip: what is refused before the first bus cycle,
// what is never destroyed, and what each failure says.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "TempFolder.h"
#include "app/Commands.h"
#include "app/SteppingClock.h"
#include "flash/FakeChip.h"

namespace {

using testing::HasSubstr;
namespace fs = std::filesystem;

// One of the process's standard streams served by a file for a while.
class Redirected {
public:
    Redirected(int stream, const std::string& path, bool input) : stream(stream), saved(dup(stream)) {
        static_cast<void>(std::fflush(nullptr));
        // NOLINTNEXTLINE(cppcoreguidelines-pro-type-vararg)
        const int file = input ? open(path.c_str(), O_RDONLY) : open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(file, stream);
        close(file);
    }
    ~Redirected() {
        static_cast<void>(std::fflush(nullptr));
        dup2(saved, stream);
        close(saved);
    }
    Redirected(const Redirected&) = delete;
    Redirected& operator=(const Redirected&) = delete;
    Redirected(Redirected&&) = delete;
    Redirected& operator=(Redirected&&) = delete;

private:
    int stream;
    int saved;
};

// What a BackupRun's chip holds from address 0: address * 7.
std::string chipBytes(std::size_t count) {
    std::string bytes(count, '\0');
    for (std::size_t i = 0; i < count; ++i) {
        bytes[i] = static_cast<char>(i * 7U);
    }
    return bytes;
}

// The command line on a small fake chip (two 128-KiB blocks of chipBytes),
// with the process's standard input and output taken from and kept in files.
struct BackupRun {
    BackupRun() {
        const std::string bytes = chipBytes(0x40000);
        fake.array.assign(bytes.begin(), bytes.end());
    }

    FakeChip fake{2};
    bool opened = false;
    std::ostringstream out;
    std::ostringstream err;
    SteppingClock clock;
    // Bytes for standard input, if it is to be read.
    std::optional<std::string> standardInput;
    std::string standardOutput;
    // Runs each time the command asks whether to stop, before every byte.
    std::function<void()> eachByte = [] {};

    int operator()(const std::vector<std::string>& arguments, const TempFolder& folder) {
        std::vector<const char*> argv{"flashlock"};
        for (const std::string& argument : arguments) {
            argv.push_back(argument.c_str());
        }
        CommandContext context{.out = out,
                               .err = err,
                               .openDriver =
                                   [this] {
                                       opened = true;
                                       DriverAccess access;
                                       access.driver = &fake.driver;
                                       return access;
                                   },
                               .interrupted =
                                   [this] {
                                       eachByte();
                                       return 0;
                                   },
                               .errIsTerminal = false,
                               .clock = clock,
                               .dialogue = {}};
        context.journalFolder = folder.file("journal");
        writeFile(folder.file("stdin"), standardInput.value_or(""));
        int status = 0;
        {
            const Redirected output(1, folder.file("stdout"), false);
            const std::optional<Redirected> input =
                standardInput ? std::make_optional<Redirected>(0, folder.file("stdin"), true) : std::nullopt;
            status = runCommand(static_cast<int>(argv.size()), argv.data(), context);
        }
        standardOutput = readFile(folder.file("stdout"));
        fs::remove(folder.file("stdin"));
        fs::remove(folder.file("stdout"));
        return status;
    }
};

// Files whose name starts as OutputFile names its new files.
std::vector<fs::path> pendingFiles(const TempFolder& folder) {
    std::vector<fs::path> found;
    for (const auto& entry : fs::directory_iterator(folder.path)) {
        if (entry.path().filename().string().rfind(".flashlock-", 0) == 0) {
            found.push_back(entry.path());
        }
    }
    return found;
}

// Symbolic links need a privilege on Windows: cases that need one skip
// where it cannot be made.
std::string link(const TempFolder& folder, const std::string& target, const std::string& name) {
    std::error_code error;
    fs::create_symlink(target, folder.path / name, error);
    return error ? "this system makes no symbolic links here: " + error.message() : "";
}

bool onWindows() {
    return fs::path::preferred_separator == '\\';
}

// A device every system has, under the name it has there.
std::string nullDevice() {
    return onWindows() ? "NUL" : "/dev/null";
}

struct FileCase {
    const char* name;
    // "@" starts a name in the scratch folder; "@" alone is the folder.
    std::vector<std::string> arguments;
    // Makes what the case needs; a reason when it cannot be made here.
    std::function<std::string(const TempFolder&, BackupRun&)> prepare;
    int status;
    // Part of what standard error says (standard output when status is 0).
    const char* says;
    bool reachesChip;
    std::function<void(const TempFolder&, const BackupRun&)> check = [](const TempFolder&, const BackupRun&) {};
};

void PrintTo(const FileCase& file, std::ostream* os) {
    *os << file.name;
}

const auto nothing = [](const TempFolder&, BackupRun&) { return std::string(); };
const auto withFile = [](const char* name, std::string content) {
    return [name, content = std::move(content)](const TempFolder& folder, BackupRun&) {
        writeFile(folder.file(name), content);
        return std::string();
    };
};
const auto withInput = [](std::string content) {
    return [content = std::move(content)](const TempFolder&, BackupRun& run) {
        run.standardInput = content;
        return std::string();
    };
};

class BackupFiles : public testing::TestWithParam<FileCase> {};

TEST_P(BackupFiles, EndWithTheirStatusAndDestroyNothing) {
    TempFolder folder;
    BackupRun run;
    if (const std::string why = GetParam().prepare(folder, run); !why.empty()) {
        GTEST_SKIP() << why;
    }
    std::vector<std::string> arguments = GetParam().arguments;
    for (std::string& argument : arguments) {
        if (argument.rfind('@', 0) == 0) {
            argument = argument == "@" ? folder.path.string() : folder.file(argument.substr(1));
        }
    }
    EXPECT_EQ(run(arguments, folder), GetParam().status) << run.err.str();
    EXPECT_THAT(GetParam().status == 0 ? run.out.str() + run.err.str() : run.err.str(), HasSubstr(GetParam().says));
    EXPECT_EQ(run.opened, GetParam().reachesChip);
    GetParam().check(folder, run);
}

std::vector<FileCase> fileCases() {
    return {
        // read: only a regular file, new or existing, or standard output.
        {"readThroughALinkToADevice",
         {"read", "@cnull", "--length", "16", "--force"},
         [](const TempFolder& folder, BackupRun&) { return link(folder, nullDevice(), "cnull"); },
         2,
         "cnull is a symbolic link to a character device, not a regular file; read writes to a regular file",
         false,
         [](const TempFolder& folder, const BackupRun&) { EXPECT_TRUE(fs::is_symlink(folder.path / "cnull")); }},
        {"readIntoAFolder", {"read", "@", "--force"}, nothing, 2, "is a folder, not a regular file", false},
        {"readThroughALinkToAFolder",
         {"read", "@dir", "--force"},
         [](const TempFolder& folder, BackupRun&) { return link(folder, folder.path.string(), "dir"); },
         2,
         "dir is a symbolic link to a folder",
         false},
        {"readThroughALinkToNothing",
         {"read", "@dangling", "--force"},
         [](const TempFolder& folder, BackupRun&) { return link(folder, folder.file("gone"), "dangling"); },
         2,
         "dangling is a symbolic link to nothing",
         false,
         [](const TempFolder& folder, const BackupRun&) { EXPECT_FALSE(fs::exists(folder.path / "gone")); }},
        {"readWithAnEmptyName", {"read", ""}, nothing, 2, "\"\" names no file", false},
        {"readIntoAMissingFolder", {"read", "@none/image.bin"}, nothing, 4, "cannot create a file in ", false},
        {"readIntoAReadOnlyFolder",
         {"read", "@locked/image.bin"},
         [](const TempFolder& folder, BackupRun&) {
             fs::create_directory(folder.path / "locked");
             fs::permissions(folder.path / "locked", fs::perms::owner_read | fs::perms::owner_exec);
             std::ofstream probe(folder.file("locked/probe"));
             if (probe) {
                 return std::string(
                     "this user writes into read-only folders (root, or a system without folder "
                     "permissions): nothing to refuse");
             }
             return std::string();
         },
         4,
         "Permission denied",
         false},
        {"readAName250Long",
         {"read", "@" + std::string(250, 'n'), "--length", "4"},
         [](const TempFolder&, BackupRun&) {
             return onWindows() ? std::string(
                                      "Windows limits a whole path to 260 characters, which the scratch "
                                      "folder's and 250 more exceed")
                                : std::string();
         },
         0,
         "read 4 bytes",
         true,
         [](const TempFolder& folder, const BackupRun&) {
             EXPECT_EQ(readFile(folder.file(std::string(250, 'n'))), chipBytes(4));
         }},
        {"readKeepsTheReplacedFilesPermissions",
         {"read", "@own.bin", "--length", "4", "--force"},
         [](const TempFolder& folder, BackupRun&) {
             writeFile(folder.file("own.bin"), "old content");
             fs::permissions(folder.path / "own.bin", fs::perms::owner_read | fs::perms::owner_write);
             return std::string();
         },
         0,
         "own.bin in ",
         true,
         [](const TempFolder& folder, const BackupRun&) {
             EXPECT_EQ(readFile(folder.file("own.bin")), chipBytes(4));
             // What the system makes of owner-only (Windows knows read-only alone).
             writeFile(folder.file("same"), "");
             fs::permissions(folder.path / "same", fs::perms::owner_read | fs::perms::owner_write);
             EXPECT_EQ(fs::status(folder.path / "own.bin").permissions(),
                       fs::status(folder.path / "same").permissions());
         }},
        {"readThroughALinkToAFile",
         {"read", "@link.bin", "--length", "4", "--force"},
         [](const TempFolder& folder, BackupRun&) {
             writeFile(folder.file("real.bin"), "old content");
             return link(folder, "real.bin", "link.bin");
         },
         0,
         "link.bin in ",
         true,
         [](const TempFolder& folder, const BackupRun&) {
             EXPECT_TRUE(fs::is_symlink(folder.path / "link.bin"));
             EXPECT_EQ(readFile(folder.file("real.bin")), chipBytes(4));
         }},
        {"readIntoAFileMadeMeanwhile",
         {"read", "@race.bin", "--length", "8k"},
         [](const TempFolder& folder, BackupRun& run) {
             run.eachByte = [path = folder.file("race.bin"), bytes = 0]() mutable {
                 if (++bytes == 100) {
                     writeFile(path, "theirs");
                 }
             };
             return std::string();
         },
         4,
         "race.bin was created by another program meanwhile and is left as it is; the data is in ",
         true,
         [](const TempFolder& folder, const BackupRun& run) {
             EXPECT_EQ(readFile(folder.file("race.bin")), "theirs");
             const std::vector<fs::path> kept = pendingFiles(folder);
             ASSERT_EQ(kept.size(), 1U);
             EXPECT_THAT(run.err.str(), HasSubstr(kept[0].filename().string()));
             EXPECT_EQ(readFile(kept[0].string()), chipBytes(8192));
         }},
        {"readToStandardOutput",
         {"read", "-", "--length", "16"},
         nothing,
         0,
         "read 16 bytes (0x000000 to 0x00000F) of the Intel 28F320J3",
         true,
         [](const TempFolder& folder, const BackupRun& run) {
             EXPECT_EQ(run.standardOutput, chipBytes(16));
             EXPECT_EQ(run.out.str(), "");
             EXPECT_THAT(run.err.str(), HasSubstr(" into standard output in "));
             EXPECT_FALSE(fs::exists(folder.path / "-"));
         }},
        // The whole chip, read by stepping, held and then written in order.
        {"readTheWholeChipToStandardOutput",
         {"read", "-"},
         nothing,
         0,
         "read 262144 bytes (0x000000 to 0x03FFFF) of the Intel 28F320J3",
         true,
         [](const TempFolder& /*folder*/, const BackupRun& run) {
             EXPECT_TRUE(run.standardOutput == chipBytes(0x40000)) << "standard output differs";
         }},
        // verify: a regular file, read as it is compared, or standard input.
        {"verifyAFolder", {"verify", "@"}, nothing, 4, ": Is a directory", false},
        // Windows' device names are refused by name, before anything is opened.
        {"verifyADevice",
         {"verify", nullDevice()},
         nothing,
         4,
         onWindows() ? "\"NUL\" is a device name on Windows, not a file"
                     : "it is a character device, not a regular file",
         false},
        {"verifyAMissingFile", {"verify", "@none.bin"}, nothing, 4, "cannot read", false},
        {"verifyAFileLargerThanAnyChip",
         {"verify", "@huge.bin"},
         [](const TempFolder& folder, BackupRun&) {
             writeFile(folder.file("huge.bin"), "");
             fs::resize_file(folder.path / "huge.bin", (16U << 20U) + 1);
             return std::string();
         },
         2,
         "huge.bin is larger than any chip the board reaches (16 MiB)",
         false},
        {"verifyTheStartOfAFile",
         {"verify", "@long.bin", "--length", "16"},
         withFile("long.bin", chipBytes(16) + "more that the chip does not hold"),
         0,
         "long.bin matches the chip: 16 bytes from 0x000000",
         true},
        {"verifyMoreThanTheFileHolds",
         {"verify", "@short.bin", "--length", "16"},
         withFile("short.bin", chipBytes(10)),
         2,
         "short.bin holds 10 bytes, fewer than the 16 that --length asks for",
         false},
        {"verifyStandardInput",
         {"verify", "-"},
         withInput(chipBytes(300)),
         0,
         "standard input matches the chip: 300 bytes from 0x000000",
         true},
        // Read ahead whole, then compared with the chip read by stepping.
        {"verifyStandardInputOfTheWholeChip",
         {"verify", "-"},
         withInput(chipBytes(0x40000)),
         0,
         "standard input matches the chip: 262144 bytes from 0x000000",
         true},
        {"verifyStandardInputPastTheChip",
         {"verify", "-", "--offset", "0x3FF00"},
         withInput(chipBytes(0x101)),
         2,
         "standard input runs past the chip's end: it holds more than the 256 bytes from 0x03FF00 to the end",
         true},
        {"verifyStandardInputShorterThanAsked",
         {"verify", "-", "--length", "64"},
         withInput(chipBytes(10)),
         2,
         "standard input ended after 10 of the 64 bytes to compare",
         true},
        {"verifyEmptyStandardInput", {"verify", "-"}, withInput(""), 2, "standard input is empty", false},
    };
}

INSTANTIATE_TEST_SUITE_P(Names, BackupFiles, testing::ValuesIn(fileCases()),
                         [](const testing::TestParamInfo<FileCase>& info) { return info.param.name; });

// The kernel's own files show no size and may fail to read: said before the
// chip is touched, never thrown.
TEST(BackupKernelFiles, AnUnreadableOneIsReportedWithTheSystemsReason) {
    if (onWindows() || !fs::exists("/proc/self/mem")) {
        GTEST_SKIP() << "no /proc on this system";
    }
    TempFolder folder;
    BackupRun run;
    EXPECT_EQ(run({"verify", "/proc/self/mem"}, folder), 4);
    EXPECT_EQ(run.err.str(), "flashlock: cannot read /proc/self/mem: Input/output error\n");
    EXPECT_FALSE(run.opened);
}

}  // namespace
