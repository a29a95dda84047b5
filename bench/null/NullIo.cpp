// An "io" module whose port accesses do nothing but count, so that a benchmark
// measures flashlock's own software and can replay the same number of calls as
// its floor.
#include "bench/null/NullIo.h"

#include <cstdint>

#include "iolib/PortIoExports.h"

namespace {

struct Counts {
    std::uint64_t outs = 0;
    std::uint64_t ins = 0;
};

Counts& counts() {
    static Counts instance;
    return instance;
}

}  // namespace

void FLASHLOCK_IO_CALL PortOut(std::int16_t /*port*/, std::int8_t /*value*/) {
    ++counts().outs;
}
std::int8_t FLASHLOCK_IO_CALL PortIn(std::int16_t /*port*/) {
    ++counts().ins;
    return 0;
}
std::int16_t FLASHLOCK_IO_CALL IsDriverInstalled() {
    return 1;
}

void NullIoCounts(std::uint64_t* outs, std::uint64_t* ins) {
    *outs = counts().outs;
    *ins = counts().ins;
}
