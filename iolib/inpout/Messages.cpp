#include "iolib/inpout/Messages.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <system_error>

namespace inpout {

namespace {

// At most this many bytes of a variable's value go into a message.
constexpr std::size_t kLongestShownValue = 200;

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

// Where InpOut comes from, for the lines that send the user to get it.
std::string fromInpOut(const Flavour& flavour) {
    return std::string(flavour.library) + " from InpOut32/InpOutx64 (Highrez's free port-I/O library with a signed " +
           "driver; the file is in its " + flavour.folder + " folder)";
}

std::string ours() {
    return kOurs.library;
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

std::string badPortBase(std::string_view value) {
    return "flashlock: FLASHLOCK_PORT_BASE=" + shown(value) +
           " is not a port base; set it to the card's I/O base in hexadecimal (0xD010) or decimal (53264), from "
           "0x100 to 0xFFF8 (Device Manager shows it: the card's Properties, Resources, I/O Range), or leave it "
           "unset for the port at 0x378";
}

std::string libraryNotFound(bool otherFound) {
    if (otherFound) {
        return "flashlock: " + ours() + " was not found, only " + kOther.library + ", which is InpOut for " +
               kOther.bits + " programs; this flashlock.exe is " + kOurs.bits + ": put " + fromInpOut(kOurs) +
               " next to flashlock.exe, or use the " + kOther.bits + " flashlock.exe";
    }
    return "flashlock: " + ours() + " was not found; this " + kOurs.bits + " flashlock.exe needs it: put " +
           fromInpOut(kOurs) +
           " next to flashlock.exe, then run flashlock once as administrator so that InpOut installs its driver";
}

std::string libraryOfTheOtherWidth() {
    return "flashlock: " + ours() + " is not a " + kOurs.bits + " DLL (it is the " + kOther.bits +
           " InpOut under this name, a damaged copy, or no DLL at all); this flashlock.exe is " + kOurs.bits +
           ": put " + fromInpOut(kOurs) + " next to flashlock.exe, or use the " + kOther.bits + " flashlock.exe with " +
           kOther.library;
}

std::string libraryNotLoaded(unsigned long error) {
    return "flashlock: " + ours() + " could not be loaded (Windows error " + std::to_string(error) +
           "); put a fresh copy of " + fromInpOut(kOurs) + " next to flashlock.exe";
}

std::string callMissing(const char* call) {
    return "flashlock: " + ours() + " does not export " + call + ", so it is not a current InpOut; put " +
           fromInpOut(kOurs) + " next to flashlock.exe";
}

std::string driverNotOpen() {
    return "flashlock: InpOut's driver is not open (" + ours() +
           " loaded, but IsInpOutDriverOpen says no); run flashlock once as administrator (right-click "
           "flashlock.exe or the console, Run as administrator) so that InpOut installs its driver; later runs "
           "need no administrator rights";
}

std::string portInUse(std::uint16_t base) {
    return "flashlock: another flashlock is using the port at " + hex(base) +
           "; wait until it has ended, then start again";
}

std::string portLockFailed(const std::string& name, unsigned long error) {
    return "flashlock: cannot make the lock " + name + " that keeps a second flashlock off the port (Windows error " +
           std::to_string(error) + ")";
}

}  // namespace inpout
