#include "iolib/parport/PortLookup.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <string>
#include <system_error>

namespace parport {

namespace {

bool isDigit(char c) {
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
}

// The N of a folder named parportN; the list also holds "default", which is
// the sharing engine's settings and no port.
std::optional<int> portNumber(std::string_view name) {
    constexpr std::string_view prefix = "parport";
    if (!name.starts_with(prefix)) {
        return std::nullopt;
    }
    name.remove_prefix(prefix.size());
    int number = 0;
    const auto [end, error] = std::from_chars(name.data(), name.data() + name.size(), number);
    if (error != std::errc{} || end != name.data() + name.size() || !isDigit(name.front())) {
        return std::nullopt;
    }
    return number;
}

}  // namespace

std::optional<std::uint32_t> parseBaseAddress(std::string_view contents) {
    if (contents.empty() || !isDigit(contents.front())) {
        return std::nullopt;
    }
    std::uint32_t base = 0;
    const auto [end, error] = std::from_chars(contents.data(), contents.data() + contents.size(), base);
    if (error != std::errc{}) {
        return std::nullopt;
    }
    // "0x378" would otherwise read as 0: the number must end at a blank.
    if (end != contents.data() + contents.size() && std::isspace(static_cast<unsigned char>(*end)) == 0) {
        return std::nullopt;
    }
    return base;
}

std::vector<KernelPort> listKernelPorts(const OsCalls& os) {
    std::vector<std::string> names;
    std::vector<KernelPort> ports;
    if (!os.listDirectory(kPortListDirectory, names)) {
        return ports;
    }
    for (const std::string& name : names) {
        const std::optional<int> number = portNumber(name);
        if (!number) {
            continue;
        }
        const std::string file = std::string(kPortListDirectory) + "/" + name + "/base-addr";
        std::string contents;
        if (!os.readFile(file.c_str(), contents)) {
            continue;
        }
        if (const std::optional<std::uint32_t> base = parseBaseAddress(contents)) {
            ports.push_back(KernelPort{*number, *base});
        }
    }
    std::ranges::sort(ports, {}, &KernelPort::number);
    return ports;
}

std::vector<int> listPortDevices(const OsCalls& os) {
    std::vector<std::string> names;
    std::vector<int> numbers;
    if (!os.listDirectory(kDeviceDirectory, names)) {
        return numbers;
    }
    for (const std::string& name : names) {
        if (const std::optional<int> number = portNumber(name)) {
            numbers.push_back(*number);
        }
    }
    std::ranges::sort(numbers);
    return numbers;
}

}  // namespace parport
