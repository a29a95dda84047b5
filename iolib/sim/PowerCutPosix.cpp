#include <csignal>
#include <cstdlib>

#include "iolib/sim/PowerCut.h"

namespace flashsim {

void cutPower() {
    static_cast<void>(std::raise(SIGKILL));
    // SIGKILL cannot be caught or ignored; this line is for the compiler.
    std::_Exit(128 + SIGKILL);
}

}  // namespace flashsim
