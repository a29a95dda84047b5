#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// BLOCKS as the user writes them: block numbers counted from 1, as the
// dialogue and `status` show them, separated by commas, with ranges (1,3-5),
// or "all". Only the form is checked here; whether the chip has that many
// blocks is known once it answers.
struct BlockSelection {
    bool all = false;
    // Sorted, without repeats.
    std::vector<std::uint32_t> numbers;
};

// Nullopt with `problem` set when the text is not of that form.
std::optional<BlockSelection> parseBlocks(const std::string& text, std::string& problem);

// Decimal, or hexadecimal after 0x; a k or M suffix multiplies by 1024 or
// 1024 * 1024. Nothing past 32 bits.
std::optional<std::uint32_t> parseByteCount(const std::string& text, std::string& problem);

// Block numbers from 1 with runs folded into ranges: "2,7,9-12".
std::string formatBlocks(const std::vector<std::uint32_t>& numbers, const char* separator = ",");
