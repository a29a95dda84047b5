#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Who made the chip and which part it is, as its command set's own
// identifier read gives them.
struct ChipIdentity {
    std::uint8_t manufacturer = 0;
    // Continuation codes (0x7F) before the manufacturer code: its JEDEC bank
    // less one. Eon's parts answer 0x7F, then 0x1C in the next bank.
    std::uint8_t bank = 0;
    // One byte; three for the AMD-set parts whose first device byte is 0x7E.
    std::vector<std::uint8_t> device;

    // "maker 0x01, device 0x7E 0x21 0x01"
    [[nodiscard]] std::string codes() const;
    [[nodiscard]] std::uint8_t firstDevice() const { return device.empty() ? 0 : device.front(); }
    bool operator==(const ChipIdentity&) const = default;
};
