#include "flash/StepOrder.h"

#include <array>
#include <bit>
#include <stdexcept>

namespace {

// Tap positions (bit numbers from 0) of one maximal-length register for each
// width, from the usual table of primitive trinomials and pentanomials
// (Xilinx XAPP052's, whose positions count from 1). StepOrderTest walks
// every width in full: a wrong entry shows as an address missed.
constexpr std::array<std::uint32_t, StepOrder::largestBits + 1> tapTable{
    0,
    (1U << 0U),                                             // 1: x + 1
    (1U << 1U) | (1U << 0U),                                // 2
    (1U << 2U) | (1U << 1U),                                // 3
    (1U << 3U) | (1U << 2U),                                // 4
    (1U << 4U) | (1U << 2U),                                // 5
    (1U << 5U) | (1U << 4U),                                // 6
    (1U << 6U) | (1U << 5U),                                // 7
    (1U << 7U) | (1U << 5U) | (1U << 4U) | (1U << 3U),      // 8
    (1U << 8U) | (1U << 4U),                                // 9
    (1U << 9U) | (1U << 6U),                                // 10
    (1U << 10U) | (1U << 8U),                               // 11
    (1U << 11U) | (1U << 5U) | (1U << 3U) | (1U << 0U),     // 12
    (1U << 12U) | (1U << 3U) | (1U << 2U) | (1U << 0U),     // 13
    (1U << 13U) | (1U << 4U) | (1U << 2U) | (1U << 0U),     // 14
    (1U << 14U) | (1U << 13U),                              // 15
    (1U << 15U) | (1U << 14U) | (1U << 12U) | (1U << 3U),   // 16
    (1U << 16U) | (1U << 13U),                              // 17
    (1U << 17U) | (1U << 10U),                              // 18
    (1U << 18U) | (1U << 5U) | (1U << 1U) | (1U << 0U),     // 19
    (1U << 19U) | (1U << 16U),                              // 20
    (1U << 20U) | (1U << 18U),                              // 21
    (1U << 21U) | (1U << 20U),                              // 22
    (1U << 22U) | (1U << 17U),                              // 23
    (1U << 23U) | (1U << 22U) | (1U << 21U) | (1U << 16U),  // 24
};

}  // namespace

StepOrder::StepOrder(std::uint8_t bits) {
    if (bits < smallestBits || bits > largestBits) {
        throw std::invalid_argument("StepOrder takes 1 to 24 address bits");
    }
    mask = (std::uint32_t{1} << bits) - 1U;
    taps = tapTable.at(bits);
}

bool StepOrder::bitAfter(std::uint32_t address) const {
    const bool feedback = (std::popcount(address & taps) & 1) != 0;
    // Below the top bit all clear: 100...0 goes to 0 instead of 000...1, and
    // 0, which the register alone never reaches, goes on to 000...1.
    const bool lowClear = (address & (mask >> 1U)) == 0;
    return feedback != lowClear;
}
