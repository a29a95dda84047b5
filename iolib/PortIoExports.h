#pragma once

#include <cstdint>

#include "platform/PortIoAbi.h"

// The signatures every "io" module of ours exports, in the binding's order.
// Only PortOut and PortIn are ever called by flashlock; IsDriverInstalled is
// only looked up. Declared here so each module's definitions are checked
// against one list.
FLASHLOCK_IO_EXPORT void FLASHLOCK_IO_CALL PortOut(std::int16_t port, std::int8_t value);
FLASHLOCK_IO_EXPORT void FLASHLOCK_IO_CALL PortWordOut(std::int16_t port, std::int16_t value);
FLASHLOCK_IO_EXPORT void FLASHLOCK_IO_CALL PortDWordOut(std::int16_t port, std::int32_t value);
FLASHLOCK_IO_EXPORT std::int8_t FLASHLOCK_IO_CALL PortIn(std::int16_t port);
FLASHLOCK_IO_EXPORT std::int16_t FLASHLOCK_IO_CALL PortWordIn(std::int16_t port);
FLASHLOCK_IO_EXPORT std::int32_t FLASHLOCK_IO_CALL PortDWordIn(std::int16_t port);
FLASHLOCK_IO_EXPORT void FLASHLOCK_IO_CALL SetPortBit(std::int16_t port, std::int8_t bit);
FLASHLOCK_IO_EXPORT void FLASHLOCK_IO_CALL ClrPortBit(std::int16_t port, std::int8_t bit);
FLASHLOCK_IO_EXPORT void FLASHLOCK_IO_CALL NotPortBit(std::int16_t port, std::int8_t bit);
FLASHLOCK_IO_EXPORT std::int16_t FLASHLOCK_IO_CALL GetPortBit(std::int16_t port, std::int8_t bit);
FLASHLOCK_IO_EXPORT std::int16_t FLASHLOCK_IO_CALL RightPortShift(std::int16_t port, std::int16_t value);
FLASHLOCK_IO_EXPORT std::int16_t FLASHLOCK_IO_CALL LeftPortShift(std::int16_t port, std::int16_t value);
FLASHLOCK_IO_EXPORT std::int16_t FLASHLOCK_IO_CALL IsDriverInstalled();
