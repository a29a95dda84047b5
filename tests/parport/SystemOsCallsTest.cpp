#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <linux/ppdev.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "iolib/parport/SystemOsCalls.h"
#include "tests/TempFolder.h"

// The real calls behind libio.so, on ordinary files only: no parallel port
// is opened here, and the direct port I/O entries are never called.
namespace {

using testing::ElementsAre;

mode_t currentUmask() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

class SystemOsCalls : public testing::Test {
protected:
    [[nodiscard]] std::string write(const std::string& name, const std::string& contents) const {
        writeFile(scratch.file(name), contents);
        return scratch.file(name);
    }

    TempFolder scratch;
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
    EXPECT_EQ(os.open((scratch.path / "absent").c_str(), O_RDWR | O_CLOEXEC), -1);
    EXPECT_EQ(errno, ENOENT);
}

// The lock file of direct port I/O: made with mode 0644, and locked by one
// open file at a time, even within one process.
TEST_F(SystemOsCalls, MakesALockFileThatOnlyOneOpenFileCanLock) {
    const std::string path = scratch.file("flashlock-port-0x378.lock");
    const int flags = O_RDONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC;
    const int first = os.open(path.c_str(), flags);
    ASSERT_GE(first, 0);
    struct stat made {};
    ASSERT_EQ(::stat(path.c_str(), &made), 0);
    EXPECT_EQ(made.st_mode & 0777U, 0644U & ~currentUmask());
    const int second = os.open(path.c_str(), flags);
    ASSERT_GE(second, 0);

    EXPECT_EQ(os.flock(first, LOCK_EX | LOCK_NB), 0);
    errno = 0;
    EXPECT_EQ(os.flock(second, LOCK_EX | LOCK_NB), -1);
    EXPECT_EQ(errno, EWOULDBLOCK);
    EXPECT_EQ(os.close(first), 0);  // closing the holder releases the lock
    EXPECT_EQ(os.flock(second, LOCK_EX | LOCK_NB), 0);
    EXPECT_EQ(os.close(second), 0);
}

TEST_F(SystemOsCalls, ListsADirectoryWithoutItsDotEntries) {
    static_cast<void>(write("parport0", ""));
    static_cast<void>(write("parport1", ""));
    std::filesystem::create_directory(scratch.path / "sub");
    std::vector<std::string> names;
    ASSERT_TRUE(os.listDirectory(scratch.path.c_str(), names));
    std::sort(names.begin(), names.end());
    EXPECT_THAT(names, ElementsAre("parport0", "parport1", "sub"));
    std::vector<std::string> none;
    EXPECT_FALSE(os.listDirectory((scratch.path / "absent").c_str(), none));
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
    EXPECT_FALSE(os.readFile((scratch.path / "absent").c_str(), contents));
    // A directory opens but cannot be read.
    EXPECT_FALSE(os.readFile(scratch.path.c_str(), contents));
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
