#pragma once

#include <cstddef>
#include <functional>
#include <iosfwd>

class ProgrammerDriver;

// No operator types a menu word this long, nor this many blanks before one;
// only a stream that never ends does. Input that reaches it without a word
// ending ends the run as the end of input does, and nothing is done for it.
constexpr std::size_t longestCommandWord = std::size_t{1} << 20U;

// A run ended by a signal exits with this plus the signal's number.
constexpr int signalExitBase = 128;

// The whole operator dialogue on a driver that the caller built: board report,
// identification, dumps and the lock-bit menu. `pause` runs before every exit.
// `interrupted` tells whether a signal asked the program to end (its number,
// else 0): chip operations always run to their end first.
// Returns the process exit status: 1 when no usable board answered, 128 + the
// signal's number when one ended the run, else 0.
int runDialogue(
    ProgrammerDriver& driver, std::istream& in, std::ostream& out, const std::function<void()>& pause,
    const std::function<int()>& interrupted = [] { return 0; });
