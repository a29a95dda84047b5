#include "app/Arguments.h"

#include <algorithm>
#include <cctype>
#include <utility>

namespace {

// More digits than any block number or 32-bit count has.
constexpr std::size_t longestNumber = 10;
// Of a number too large for any chip, as much as a message shows.
constexpr std::size_t shownDigits = 40;

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

namespace {

// Sorts the ranges and folds those that overlap or touch into one.
void merge(std::vector<BlockRange>& ranges) {
    std::sort(ranges.begin(), ranges.end(), [](const BlockRange& a, const BlockRange& b) { return a.first < b.first; });
    std::size_t kept = 0;
    for (std::size_t i = 1; i < ranges.size(); ++i) {
        if (ranges[i].first <= ranges[kept].last + 1) {
            ranges[kept].last = std::max(ranges[kept].last, ranges[i].last);
        } else {
            ranges[++kept] = ranges[i];
        }
    }
    ranges.resize(ranges.empty() ? 0 : kept + 1);
}

}  // namespace

std::optional<BlockSelection> parseBlocks(const std::string& text, std::string& problem) {
    BlockSelection selection;
    if (text == "all") {
        selection.all = true;
        return selection;
    }
    if (text.empty()) {
        problem = "no blocks given: give block numbers from 1, ranges such as 3-5, separated by commas, or all";
        return std::nullopt;
    }
    // Folded whenever the list has doubled since the last fold, so that
    // memory follows the blocks named, not the length of the text.
    std::size_t foldAt = 1024;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t comma = std::min(text.find(',', start), text.size());
        const std::string item = text.substr(start, comma - start);
        const std::size_t dash = item.find('-');
        const std::string firstText = item.substr(0, dash);
        const std::string lastText = dash == std::string::npos ? firstText : item.substr(dash + 1);
        const auto first = decimal(firstText);
        const auto last = decimal(lastText);
        if (!first || !last) {
            // A number alone, only too large for one: no chip has that block.
            for (const std::string& number : {firstText, lastText}) {
                if (!number.empty() && !decimal(number) && std::all_of(number.begin(), number.end(), [](char c) {
                        return std::isdigit(static_cast<unsigned char>(c));
                    })) {
                    problem = "block " + number.substr(0, shownDigits) + (number.size() > shownDigits ? "..." : "") +
                              " does not exist on any chip flashlock drives";
                    return std::nullopt;
                }
            }
            problem = "\"" + text.substr(0, 200) + (text.size() > 200 ? "..." : "") +
                      "\" is not a block list: give block numbers from 1, ranges such as 3-5, separated by commas "
                      "(1,3-5), or all";
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
        selection.ranges.push_back({*first, *last});
        if (selection.ranges.size() >= foldAt) {
            merge(selection.ranges);
            foldAt = std::max(foldAt, 2 * selection.ranges.size());
        }
        start = comma + 1;
    }
    merge(selection.ranges);
    return selection;
}

std::optional<std::uint32_t> parseByteCount(const std::string& text, std::string& problem) {
    problem = "\"" + text +
              "\" is not a byte count: give a decimal number or a hexadecimal one after 0x, optionally followed by "
              "k or KiB (times 1024) or M or MiB (times 1048576)";
    if (text.find_first_of(".,") != std::string::npos) {
        problem = "\"" + text + "\" is not a whole number of bytes: give whole bytes, such as 1536k for 1.5M";
        return std::nullopt;
    }
    std::string digits = text;
    std::uint64_t unit = 1;
    const auto endsWith = [&digits](const char* suffix) {
        const std::string tail(suffix);
        return digits.size() > tail.size() && digits.compare(digits.size() - tail.size(), tail.size(), tail) == 0;
    };
    for (const auto& [suffix, factor] :
         {std::pair{"KiB", 1024U}, std::pair{"MiB", 1024U * 1024U}, std::pair{"k", 1024U}, std::pair{"K", 1024U},
          std::pair{"m", 1024U * 1024U}, std::pair{"M", 1024U * 1024U}}) {
        if (endsWith(suffix)) {
            unit = factor;
            digits.resize(digits.size() - std::string(suffix).size());
            break;
        }
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
