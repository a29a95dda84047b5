#pragma once

#include <cstdint>

namespace flashsim {

// FLASHLOCK_SIM_KILL: the whole process ends at once, as a power cut would,
// at the N-th command that changes the chip (each lock bit set or cleared,
// each erase, each byte or buffer program, counted as its final cycle
// arrives, whether the chip then carries it out or refuses it). Before: the
// command never takes effect. After: it took effect and the state file holds
// it. For tests of what a run leaves behind when it dies mid-job.
struct PowerCut {
    enum class Moment { Before, After };
    Moment moment = Moment::Before;
    std::uint64_t command = 1;  // N, from 1
};

// Ends this process at once: no handler, no destructor, no buffer flushed,
// nothing the program could clean up. SIGKILL on POSIX; on Windows the
// process is terminated with exit code 137, what a POSIX shell reports for
// SIGKILL. One file per OS, so that the chip model knows nothing of either.
[[noreturn]] void cutPower();

}  // namespace flashsim
