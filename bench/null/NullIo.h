#pragma once

#include <cstdint>

#include "platform/PortIoAbi.h"

// How many PortOut and PortIn calls the null module has taken so far.
FLASHLOCK_IO_EXPORT void NullIoCounts(std::uint64_t* outs, std::uint64_t* ins);
using NullIoCountsFunction = void (*)(std::uint64_t*, std::uint64_t*);
