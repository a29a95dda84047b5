#include "iolib/common/PortBase.h"

#include <cctype>
#include <charconv>
#include <system_error>

namespace iolib {

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

}  // namespace

std::optional<std::uint16_t> parsePortBase(std::string_view text) {
    while (!text.empty() && isBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && isBlank(text.back())) {
        text.remove_suffix(1);
    }
    int radix = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        radix = 16;
        text.remove_prefix(2);
    }
    // from_chars would take a sign; a port base has none.
    if (text.empty() || std::isxdigit(static_cast<unsigned char>(text.front())) == 0) {
        return std::nullopt;
    }
    std::uint32_t number = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number, radix);
    if (error != std::errc{} || end != text.data() + text.size() || number < kLowestPortBase ||
        number > kHighestPortBase) {
        return std::nullopt;
    }
    return static_cast<std::uint16_t>(number);
}

}  // namespace iolib
