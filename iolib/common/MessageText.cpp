#include "iolib/common/MessageText.h"

#include <algorithm>
#include <array>
#include <charconv>

namespace iolib {

namespace {

constexpr std::size_t kLongestShownValue = 200;

}  // namespace

std::string hex(std::uint32_t value) {
    std::array<char, 16> digits{};
    const auto [end, error] = std::to_chars(digits.data(), digits.data() + digits.size(), value, 16);
    static_cast<void>(error);  // a 32-bit number always fits
    return "0x" + std::string(digits.data(), end);
}

std::string shown(std::string_view value) {
    std::size_t length = value.size();
    if (length > kLongestShownValue) {
        length = kLongestShownValue;
        while (length > 0 && (static_cast<unsigned char>(value[length]) & 0xC0U) == 0x80U) {
            --length;
        }
    }
    std::string text(value.substr(0, length));
    std::ranges::replace_if(
        text, [](char c) { return static_cast<unsigned char>(c) < 0x20U || c == '\x7F'; }, '?');
    return length < value.size() ? text + "..." : text;
}

}  // namespace iolib
