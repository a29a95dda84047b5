#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "platform/Platform.h"

// Each case runs in a child process of its own (a death test), since it
// closes or replaces the process's standard streams. The child reports by its
// exit status: 0 when everything held, else the number of the first check
// that failed.
namespace {

using testing::ExitedWithCode;

// Ends the death test's child with its verdict, flushing what gcov counted.
[[noreturn]] void finish(int status) {
    std::exit(status);  // NOLINT(concurrency-mt-unsafe): the child's one remaining thread
}

bool isNullDevice(int fd) {
    struct stat opened {};
    struct stat null {};
    return fstat(fd, &opened) == 0 && stat("/dev/null", &null) == 0 && S_ISCHR(opened.st_mode) &&
           opened.st_rdev == null.st_rdev;
}

int accessMode(int fd) {
    return fcntl(fd, F_GETFL) & O_ACCMODE;  // NOLINT(cppcoreguidelines-pro-type-vararg)
}

[[noreturn]] void closedStreamsAreReopenedOnTheNullDevice() {
    close(STDIN_FILENO);
    close(STDOUT_FILENO);
    platform::ensureStandardStreams();
    if (!isNullDevice(STDIN_FILENO) || accessMode(STDIN_FILENO) != O_RDONLY) {
        finish(1);
    }
    if (!isNullDevice(STDOUT_FILENO) || accessMode(STDOUT_FILENO) != O_WRONLY) {
        finish(2);
    }
    // The next file opened no longer takes a standard stream's number.
    const int next = open("/dev/null", O_RDONLY);  // NOLINT(cppcoreguidelines-pro-type-vararg)
    finish(next > STDERR_FILENO ? 0 : 3);
}

[[noreturn]] void openStreamsAreLeftAlone() {
    std::array<int, 2> ends{};
    if (pipe(ends.data()) != 0 || dup2(ends[0], STDIN_FILENO) != STDIN_FILENO) {
        finish(1);
    }
    struct stat before {};
    fstat(STDIN_FILENO, &before);
    platform::ensureStandardStreams();
    struct stat after {};
    fstat(STDIN_FILENO, &after);
    finish(before.st_ino == after.st_ino && S_ISFIFO(after.st_mode) ? 0 : 2);
}

// Input from a pipe holding "kq": the pause takes one byte, leaves the rest,
// and writes its prompt and a newline.
[[noreturn]] void pauseTakesOneByteFromAPipe() {
    std::array<int, 2> input{};
    std::FILE* capture = std::tmpfile();
    if (pipe(input.data()) != 0 || capture == nullptr || write(input[1], "kq", 2) != 2) {
        finish(1);
    }
    const int output = fileno(capture);
    close(input[1]);
    dup2(input[0], STDIN_FILENO);
    dup2(output, STDOUT_FILENO);
    platform::pauseBeforeExit();
    if (std::getchar() != 'q' || std::getchar() != EOF) {
        finish(2);
    }
    std::array<char, 64> written{};
    const auto length = pread(output, written.data(), written.size(), 0);
    const std::string text(written.data(), length > 0 ? static_cast<std::size_t>(length) : 0);
    finish(text == "Press any key to continue . . . \n" ? 0 : 3);
}

// A new pseudo-terminal whose other side becomes standard input; returns its
// controlling side, where the test types and reads the echo.
int terminalOnStandardInput() {
    const int terminal = posix_openpt(O_RDWR | O_NOCTTY);
    std::array<char, 128> name{};
    if (terminal < 0 || grantpt(terminal) != 0 || unlockpt(terminal) != 0 ||
        ptsname_r(terminal, name.data(), name.size()) != 0) {
        finish(1);
    }
    const int keyboard = open(name.data(), O_RDWR | O_NOCTTY);  // NOLINT(cppcoreguidelines-pro-type-vararg)
    if (keyboard < 0 || dup2(keyboard, STDIN_FILENO) != STDIN_FILENO) {
        finish(2);
    }
    return terminal;
}

// Returns once the pause has taken the terminal out of line mode.
void awaitKeyMode(int terminal) {
    termios now{};
    while (tcgetattr(terminal, &now) == 0 && (now.c_lflag & ICANON) != 0) {
        std::this_thread::yield();
    }
}

// On a terminal: one key, without Enter and without echo, and the
// terminal's own settings back afterwards. The key is typed once the pause
// has left line mode, as a person would type it, so an echo would show. The
// alarm ends a pause that would wait for Enter instead, failing the case
// rather than hanging it.
[[noreturn]] void pauseTakesOneKeyFromATerminal() {
    alarm(10);
    const int terminal = terminalOnStandardInput();
    termios before{};
    tcgetattr(STDIN_FILENO, &before);
    if ((before.c_lflag & ICANON) == 0 || (before.c_lflag & ECHO) == 0) {
        finish(3);
    }
    std::thread typist([terminal] {
        awaitKeyMode(terminal);
        static_cast<void>(write(terminal, "k", 1));
    });
    platform::pauseBeforeExit();
    typist.join();
    termios after{};
    tcgetattr(STDIN_FILENO, &after);
    if (after.c_lflag != before.c_lflag) {
        finish(4);
    }
    fcntl(terminal, F_SETFL, O_NONBLOCK);  // NOLINT(cppcoreguidelines-pro-type-vararg)
    char echoed = 0;
    finish(read(terminal, &echoed, 1) < 0 && errno == EAGAIN ? 0 : 5);
}

// A signal at the pause (Ctrl-C, a closed terminal) ends the wait, and the
// terminal gets its settings back all the same.
[[noreturn]] void pauseEndsOnASignalWithTheTerminalRestored() {
    platform::catchInterrupts();
    const int terminal = terminalOnStandardInput();
    termios before{};
    tcgetattr(STDIN_FILENO, &before);
    const pthread_t waiting = pthread_self();
    std::thread interrupter([terminal, waiting] {
        awaitKeyMode(terminal);
        pthread_kill(waiting, SIGINT);
    });
    platform::pauseBeforeExit();
    interrupter.join();
    termios after{};
    tcgetattr(STDIN_FILENO, &after);
    if (after.c_lflag != before.c_lflag) {
        finish(3);
    }
    finish(platform::interruptSignal() == SIGINT ? 0 : 4);
}

[[noreturn]] void pauseReturnsOnClosedInput() {
    close(STDIN_FILENO);
    platform::pauseBeforeExit();
    finish(0);
}

TEST(PosixPlatform, ClosedStandardStreamsAreReopenedOnTheNullDevice) {
    EXPECT_EXIT(closedStreamsAreReopenedOnTheNullDevice(), ExitedWithCode(0), "");
}

TEST(PosixPlatform, OpenStandardStreamsAreLeftAlone) {
    EXPECT_EXIT(openStreamsAreLeftAlone(), ExitedWithCode(0), "");
}

TEST(PosixPlatform, PauseTakesOneByteOfPipedInput) {
    EXPECT_EXIT(pauseTakesOneByteFromAPipe(), ExitedWithCode(0), "");
}

TEST(PosixPlatform, PauseTakesOneKeyFromATerminalWithoutEcho) {
    const int terminal = posix_openpt(O_RDWR | O_NOCTTY);
    if (terminal < 0) {
        GTEST_SKIP() << "this machine offers no pseudo-terminal";
    }
    close(terminal);
    EXPECT_EXIT(pauseTakesOneKeyFromATerminal(), ExitedWithCode(0), "");
}

TEST(PosixPlatform, PauseEndsOnASignalWithTheTerminalRestored) {
    const int terminal = posix_openpt(O_RDWR | O_NOCTTY);
    if (terminal < 0) {
        GTEST_SKIP() << "this machine offers no pseudo-terminal";
    }
    close(terminal);
    EXPECT_EXIT(pauseEndsOnASignalWithTheTerminalRestored(), ExitedWithCode(0), "");
}

TEST(PosixPlatform, PauseReturnsAtOnceOnClosedInput) {
    EXPECT_EXIT(pauseReturnsOnClosedInput(), ExitedWithCode(0), "");
}

TEST(PosixPlatform, TheModuleFileAndTheLoadProblemNameIt) {
    EXPECT_EQ(platform::moduleFileName("io"), "libio.so");
    EXPECT_EQ(platform::loadModule("flashlock-no-such-module"), nullptr);
    EXPECT_EQ(platform::moduleLoadProblem("flashlock-no-such-module"),
              "the port-I/O module libflashlock-no-such-module.so could not be loaded "
              "(libflashlock-no-such-module.so: cannot open shared object file: No such file or directory). "
              "Put it next to flashlock or in a directory on LD_LIBRARY_PATH.");
}

}  // namespace
