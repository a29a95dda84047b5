#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// BLOCKS as the user writes them: block numbers counted from 1, as the
// dialogue and `status` show them, separated by commas, with ranges (1,3-5),
// or "all". Only the form is checked here, and that each number fits in 32
// bits; whether the chip has that block is known once it answers.
struct BlockRange {
    std::uint32_t first;
    std::uint32_t last;
    bool operator==(const BlockRange&) const = default;
};
struct BlockSelection {
    bool all = false;
    // Sorted and merged: no two ranges overlap or touch. Kept as ranges, so
    // that a long list of long ranges costs no more than the blocks it names.
    std::vector<BlockRange> ranges;
};

// Nullopt with `problem` set when the text is not of that form.
std::optional<BlockSelection> parseBlocks(const std::string& text, std::string& problem);

// Decimal, or hexadecimal after 0x; a k, K or KiB suffix multiplies by 1024,
// an m, M or MiB suffix by 1024 * 1024. Whole numbers only, nothing past 32 bits.
std::optional<std::uint32_t> parseByteCount(const std::string& text, std::string& problem);

// Block numbers from 1 with runs folded into ranges: "2,7,9-12".
std::string formatBlocks(const std::vector<std::uint32_t>& numbers, const char* separator = ",");
