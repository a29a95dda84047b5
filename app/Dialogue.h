#pragma once

#include <cstddef>
#include <functional>
#include <iosfwd>

class ProgrammerDriver;

// No operator types a menu word this long; only a stream that never ends
// does. A word that reaches it ends the run as the end of input does, and
// nothing is done for it.
constexpr std::size_t longestCommandWord = std::size_t{1} << 20U;

// The whole operator dialogue on a driver that the caller built: board report,
// identification, dumps and the lock-bit menu. `pause` runs before every exit.
// Returns the process exit status: 1 when no usable board answered, else 0.
int runDialogue(ProgrammerDriver& driver, std::istream& in, std::ostream& out, const std::function<void()>& pause);
