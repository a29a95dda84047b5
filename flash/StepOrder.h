#pragma once

#include <cstdint>

// An order in which the board's serial address register visits every
// address of a 2^n-byte chip with one clocked bit between each address and
// the next: from `first()`, clocking in `bitAfter(address)` makes the next,
// ((address << 1) | bit) masked to n bits. After count() - 1 steps every
// address 0 .. 2^n - 1 has come exactly once.
//
// The bits form a de Bruijn sequence: a maximal-length n-bit linear feedback
// shift register, whose cycle holds every state but 0, with 0 let in
// between 100...0 and 000...1. Each bit follows from the address alone, so
// a walk of any length needs no memory.
class StepOrder {
public:
    static constexpr std::uint8_t smallestBits = 1;
    // The board's register; a larger chip is never read by stepping.
    static constexpr std::uint8_t largestBits = 24;

    // `bits` from smallestBits to largestBits.
    explicit StepOrder(std::uint8_t bits);

    [[nodiscard]] static std::uint32_t first() { return 0; }
    // 2^bits: the addresses in the order, the first included.
    [[nodiscard]] std::uint32_t count() const { return mask + 1; }
    // The bit to clock in at `address` (below count()) to reach the next.
    [[nodiscard]] bool bitAfter(std::uint32_t address) const;

private:
    std::uint32_t mask;
    // The register bits XORed into the feedback; always holds the top one,
    // so that no two addresses share a successor.
    std::uint32_t taps;
};
