#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "iolib/parport/SystemOsCalls.h"

// The real calls behind libio.so, on ordinary files only: no parallel port
// is opened here, and the direct port I/O entries are never called.
namespace {

namespace fs = std::filesystem;
using testing::ElementsAre;

fs::path scratchFolder() {
    return fs::temp_directory_path() / ("flashlock-oscalls-" + std::to_string(getpid()) + "-" +
                                        testing::UnitTest::GetInstance()->current_test_info()->name());
}

class SystemOsCalls : public testing::Test {
public:
    SystemOsCalls() : folder(scratchFolder()) {
        fs::remove_all(folder);
        fs::create_directories(folder);
    }
    ~SystemOsCalls() override { fs::remove_all(folder); }
    SystemOsCalls(const SystemOsCalls&) = delete;
    SystemOsCalls& operator=(const SystemOsCalls&) = delete;
    SystemOsCalls(SystemOsCalls&&) = delete;
    SystemOsCalls& operator=(SystemOsCalls&&) = delete;

protected:
    [[nodiscard]] std::string write(const std::string& name, const std::string& contents) const {
        const fs::path path = folder / name;
        std::ofstream(path, std::ios::binary) << contents;
        return path.string();
    }

    fs::path folder;
    const parport::OsCalls os = parport::systemOsCalls();
};

TEST_F(SystemOsCalls, AFileThatIsNoPortOpensButRefusesThePortRequests) {
    const std::string path = write("not-a-port", "text\n");
    const int fd = os.open(path.c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    errno = 0;
    EXPECT_EQ(os.ioctl(fd, PPCLAIM, nullptr), -1);
    EXPECT_EQ(errno, ENOTTY);
    EXPECT_EQ(os.close(fd), 0);
}

TEST_F(SystemOsCalls, AMissingFileFailsToOpenWithItsReason) {
    errno = 0;
    EXPECT_EQ(os.open((folder / "absent").c_str(), O_RDWR | O_CLOEXEC), -1);
    EXPECT_EQ(errno, ENOENT);
}

TEST_F(SystemOsCalls, ListsADirectoryWithoutItsDotEntries) {
    static_cast<void>(write("parport0", ""));
    static_cast<void>(write("parport1", ""));
    fs::create_directory(folder / "sub");
    std::vector<std::string> names;
    ASSERT_TRUE(os.listDirectory(folder.c_str(), names));
    std::sort(names.begin(), names.end());
    EXPECT_THAT(names, ElementsAre("parport0", "parport1", "sub"));
    std::vector<std::string> none;
    EXPECT_FALSE(os.listDirectory((folder / "absent").c_str(), none));
    EXPECT_TRUE(none.empty());
}

TEST_F(SystemOsCalls, ReadsAWholeFileOfAnySize) {
    const std::string small = "888\t0x378\n";
    const std::string large(1000, 'x');
    std::string contents;
    ASSERT_TRUE(os.readFile(write("small", small).c_str(), contents));
    EXPECT_EQ(contents, small);
    contents.clear();
    ASSERT_TRUE(os.readFile(write("large", large).c_str(), contents));
    EXPECT_EQ(contents, large);
    EXPECT_FALSE(os.readFile((folder / "absent").c_str(), contents));
    // A directory opens but cannot be read.
    EXPECT_FALSE(os.readFile(folder.c_str(), contents));
}

TEST_F(SystemOsCalls, ReadsTheEnvironmentAndWritesOneLineToStandardError) {
    ASSERT_EQ(setenv("FLASHLOCK_OSCALLS_TEST", "direct", 1), 0);  // NOLINT(concurrency-mt-unsafe): one thread
    ASSERT_NE(os.getEnv("FLASHLOCK_OSCALLS_TEST"), nullptr);
    EXPECT_STREQ(os.getEnv("FLASHLOCK_OSCALLS_TEST"), "direct");
    unsetenv("FLASHLOCK_OSCALLS_TEST");  // NOLINT(concurrency-mt-unsafe): one thread
    EXPECT_EQ(os.getEnv("FLASHLOCK_OSCALLS_TEST"), nullptr);

    testing::internal::CaptureStderr();
    os.printError("flashlock: a line");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "flashlock: a line\n");
}

}  // namespace
