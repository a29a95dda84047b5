#include "app/Arguments.h"

#include <algorithm>
#include <cctype>

namespace {

// More digits than any block number or 32-bit count has.
constexpr std::size_t longestNumber = 10;

std::optional<std::uint32_t> decimal(const std::string& text) {
    if (text.empty() || text.size() > longestNumber ||
        !std::all_of(text.begin(), text.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); })) {
        return std::nullopt;
    }
    const unsigned long long value = std::stoull(text);
    if (value > UINT32_MAX) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(value);
}

}  // namespace

std::optional<BlockSelection> parseBlocks(const std::string& text, std::string& problem) {
    BlockSelection selection;
    if (text == "all") {
        selection.all = true;
        return selection;
    }
    const std::string form =
        "\" is not a block list: give block numbers from 1, ranges such as 3-5, separated by "
        "commas (1,3-5), or all";
    if (text.empty()) {
        problem = "no blocks given: give block numbers from 1, ranges such as 3-5, separated by commas, or all";
        return std::nullopt;
    }
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t comma = std::min(text.find(',', start), text.size());
        const std::string item = text.substr(start, comma - start);
        const std::size_t dash = item.find('-');
        const auto first = decimal(item.substr(0, dash));
        const auto last = dash == std::string::npos ? first : decimal(item.substr(dash + 1));
        if (!first || !last) {
            problem = "\"" + text;
            problem += form;
            return std::nullopt;
        }
        if (*first == 0 || *last == 0) {
            problem = "block 0 does not exist: blocks are counted from 1, as flashlock status shows them";
            return std::nullopt;
        }
        if (*last < *first) {
            problem = "the range " + item + " runs backwards: write it " + std::to_string(*last) + "-" +
                      std::to_string(*first);
            return std::nullopt;
        }
        // No chip the board reaches has more blocks than this; a longer range is a typo.
        constexpr std::uint32_t mostBlocks = 1U << 17U;
        if (*last - *first >= mostBlocks) {
            problem = "the range " + item + " is longer than any chip";
            return std::nullopt;
        }
        for (std::uint32_t number = *first;; ++number) {
            selection.numbers.push_back(number);
            if (number == *last) {
                break;
            }
        }
        start = comma + 1;
    }
    std::sort(selection.numbers.begin(), selection.numbers.end());
    selection.numbers.erase(std::unique(selection.numbers.begin(), selection.numbers.end()), selection.numbers.end());
    return selection;
}

std::optional<std::uint32_t> parseByteCount(const std::string& text, std::string& problem) {
    problem = "\"" + text +
              "\" is not a byte count: give a decimal number or a hexadecimal one after 0x, optionally followed by "
              "k (KiB) or M (MiB)";
    std::string digits = text;
    std::uint64_t unit = 1;
    if (!digits.empty() && (digits.back() == 'k' || digits.back() == 'K')) {
        unit = 1024;
        digits.pop_back();
    } else if (!digits.empty() && digits.back() == 'M') {
        unit = std::uint64_t{1024} * 1024;
        digits.pop_back();
    }
    int base = 10;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        base = 16;
        digits = digits.substr(2);
    }
    if (digits.empty() || digits.size() > longestNumber) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (const char c : digits) {
        const auto symbol = static_cast<unsigned char>(c);
        if (base == 16 ? std::isxdigit(symbol) == 0 : std::isdigit(symbol) == 0) {
            return std::nullopt;
        }
        const int digit = std::isdigit(symbol) != 0 ? c - '0' : std::tolower(symbol) - 'a' + 10;
        value = value * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(digit);
    }
    value *= unit;
    if (value > UINT32_MAX) {
        problem = "\"" + text + "\" is larger than any chip";
        return std::nullopt;
    }
    problem.clear();
    return static_cast<std::uint32_t>(value);
}

std::string formatBlocks(const std::vector<std::uint32_t>& numbers, const char* separator) {
    std::string text;
    for (std::size_t i = 0; i < numbers.size();) {
        std::size_t end = i;
        while (end + 1 < numbers.size() && numbers[end + 1] == numbers[end] + 1) {
            ++end;
        }
        text += text.empty() ? "" : separator;
        text += std::to_string(numbers[i]);
        if (end > i) {
            text += '-';
            text += std::to_string(numbers[end]);
        }
        i = end + 1;
    }
    return text;
}
