#include <windows.h>

#include <cstdlib>

#include "iolib/sim/PowerCut.h"

namespace flashsim {

namespace {

// What a POSIX shell reports for a process killed by SIGKILL (128 + 9), so
// that scripts read a power cut alike on both systems.
constexpr UINT killedStatus = 137;

}  // namespace

void cutPower() {
    static_cast<void>(TerminateProcess(GetCurrentProcess(), killedStatus));
    // TerminateProcess on the calling process does not return.
    std::_Exit(static_cast<int>(killedStatus));
}

}  // namespace flashsim
