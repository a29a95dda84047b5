#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace flashsim {

// Query offsets 0x00 to 0x4F: everything the program's CFI dump can show.
constexpr std::size_t queryTableLength = 0x50;
using QueryTable = std::array<std::uint8_t, queryTableLength>;

// What sits in the socket: one of the named parts, a part known only by its
// identifier word, or nothing at all.
struct ChipModel {
    std::string name;  // canonical name as the configuration accepts it
    bool present = true;
    std::uint8_t manufacturer = 0;
    std::uint8_t device = 0;
    std::uint32_t size = 0;  // bytes, a power of two
    std::uint32_t blockCount = 0;
    // Only the J5 parts carry a master lock bit, which blocks every lock
    // command once set.
    bool masterLockBit = false;
    // Offsets 0x00 to 0x02 hold placeholders: the chip answers its codes and
    // the addressed block's lock status there itself.
    QueryTable query{};

    static constexpr std::uint32_t blockSize = 0x20000;
    // The identifier word as the program prints it: device code high, maker low.
    [[nodiscard]] std::uint16_t identifier() const { return static_cast<std::uint16_t>((device << 8U) | manufacturer); }
};

// The seven part names in the order the program names them.
constexpr std::array<std::string_view, 7> namedParts = {"28F320J5", "28F640J5",  "28F320J3", "28F640J3",
                                                        "28F128J3", "M58LW032D", "M58LW064D"};

// A part name (any letter case), "empty", or a four-digit hexadecimal
// identifier word (device code high byte, manufacturer low byte); nothing else.
std::optional<ChipModel> findChip(std::string_view text);

}  // namespace flashsim
