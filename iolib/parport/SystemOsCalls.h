#pragma once

#include "iolib/parport/OsCalls.h"

namespace parport {

// The real operating system, for libio.so.
OsCalls systemOsCalls() noexcept;

}  // namespace parport
