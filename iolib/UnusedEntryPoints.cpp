// The ten entry points of the port-I/O libraries that flashlock resolves but
// never calls, doing nothing: for the small modules that only need to answer
// PortOut and PortIn (the test and benchmark modules).
#include <cstdint>

#include "iolib/PortIoExports.h"

void FLASHLOCK_IO_CALL PortWordOut(std::int16_t /*port*/, std::int16_t /*value*/) {}
void FLASHLOCK_IO_CALL PortDWordOut(std::int16_t /*port*/, std::int32_t /*value*/) {}
std::int16_t FLASHLOCK_IO_CALL PortWordIn(std::int16_t /*port*/) {
    return 0;
}
std::int32_t FLASHLOCK_IO_CALL PortDWordIn(std::int16_t /*port*/) {
    return 0;
}
void FLASHLOCK_IO_CALL SetPortBit(std::int16_t /*port*/, std::int8_t /*bit*/) {}
void FLASHLOCK_IO_CALL ClrPortBit(std::int16_t /*port*/, std::int8_t /*bit*/) {}
void FLASHLOCK_IO_CALL NotPortBit(std::int16_t /*port*/, std::int8_t /*bit*/) {}
std::int16_t FLASHLOCK_IO_CALL GetPortBit(std::int16_t /*port*/, std::int8_t /*bit*/) {
    return 0;
}
std::int16_t FLASHLOCK_IO_CALL RightPortShift(std::int16_t /*port*/, std::int16_t /*value*/) {
    return 0;
}
std::int16_t FLASHLOCK_IO_CALL LeftPortShift(std::int16_t /*port*/, std::int16_t /*value*/) {
    return 0;
}
