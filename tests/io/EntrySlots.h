#pragma once

#include <cstdint>

#include "driver/PortIoLibrary.h"
#include "platform/PortIoAbi.h"

// The types of the eleven entry points that the program itself never calls,
// and a typed look into the binding's slot for one, so that a test can call
// every export of a loaded module.
namespace entryslots {

using WordOut = void(FLASHLOCK_IO_CALL*)(std::int16_t, std::int16_t);
using DoubleWordOut = void(FLASHLOCK_IO_CALL*)(std::int16_t, std::int32_t);
using WordIn = std::int16_t(FLASHLOCK_IO_CALL*)(std::int16_t);
using DoubleWordIn = std::int32_t(FLASHLOCK_IO_CALL*)(std::int16_t);
using BitChange = void(FLASHLOCK_IO_CALL*)(std::int16_t, std::int8_t);
using BitRead = std::int16_t(FLASHLOCK_IO_CALL*)(std::int16_t, std::int8_t);
using Shift = std::int16_t(FLASHLOCK_IO_CALL*)(std::int16_t, std::int16_t);
using Installed = std::int16_t(FLASHLOCK_IO_CALL*)();

template <typename Function>
Function slot(PortIoEntry entry) {
    // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast): the slot holds this export
    return reinterpret_cast<Function>(portIoLibrary.entry(entry));
}

}  // namespace entryslots
