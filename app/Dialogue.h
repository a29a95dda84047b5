#pragma once

#include <functional>
#include <iosfwd>

class ProgrammerDriver;

// The whole operator dialogue on a driver that the caller built: board report,
// identification, dumps and the lock-bit menu. `pause` runs before every exit.
// Returns the process exit status: 1 when no usable board answered, else 0.
int runDialogue(ProgrammerDriver& driver, std::istream& in, std::ostream& out, const std::function<void()>& pause);
