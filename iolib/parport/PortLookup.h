#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "iolib/parport/OsCalls.h"

namespace parport {

// A parallel port as the kernel's parport driver lists it: parportN serves the
// I/O addresses from base on and is opened as /dev/parportN.
struct KernelPort {
    int number;
    std::uint32_t base;
};

// The kernel's list of ports; the directory holds one folder per port.
inline constexpr const char* kPortListDirectory = "/proc/sys/dev/parport";

// The base address in a port's base-addr file: two decimal numbers, the base
// and the ECP base ("888\t1912" for 0x378). Only the first counts.
std::optional<std::uint32_t> parseBaseAddress(std::string_view contents);

// The ports the kernel lists, by number. A port whose base-addr cannot be read
// or understood is left out; an unreadable list gives no ports at all.
std::vector<KernelPort> listKernelPorts(const OsCalls& os);

// The devices ppdev offers: the N of each /dev/parportN, in order.
inline constexpr const char* kDeviceDirectory = "/dev";
std::vector<int> listPortDevices(const OsCalls& os);

}  // namespace parport
