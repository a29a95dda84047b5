#include <termios.h>
#include <unistd.h>

#include <cstdio>

#include "platform/Platform.h"

namespace platform {

namespace {

// One key from a terminal, taken without waiting for Enter and without echo,
// as Windows' PAUSE does. The terminal's settings are restored afterwards.
void waitForKeyOnTerminal() {
    termios saved{};
    if (tcgetattr(STDIN_FILENO, &saved) != 0) {
        return;
    }
    termios raw = saved;
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    if (tcsetattr(STDIN_FILENO, TCSANOW, &raw) == 0) {
        char key = 0;
        // A failed read (hang-up, signal) ends the pause too.
        static_cast<void>(read(STDIN_FILENO, &key, 1));
        tcsetattr(STDIN_FILENO, TCSANOW, &saved);
    }
}

}  // namespace

void pauseBeforeExit() {
    std::fputs("Press any key to continue . . . ", stdout);
    std::fflush(stdout);
    if (isatty(STDIN_FILENO) != 0) {
        waitForKeyOnTerminal();
    } else {
        // Through stdio, which may already hold the rest of the input; EOF
        // returns at once, so a closed input never hangs here.
        static_cast<void>(std::getchar());
    }
    std::fputs("\n", stdout);
    std::fflush(stdout);
}

}  // namespace platform
