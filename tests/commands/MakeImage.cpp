// Writes a patterned array image for the simulated chip: every byte differs
// from its neighbours and from erased flash, so a byte read from the wrong
// address or lost on the way shows. Offsets after the size are flipped
// (XOR 0xFF), for images that must differ from the chip in known places;
// a range FIRST-LAST reads as erased flash (0xFF), as a sector whose
// programming stopped part of the way.
// With --at, the file holds the chip's pattern from START on (a part of the
// chip, to be written with --offset START), and the offsets to flip are chip
// addresses.
//
//   flashlock_make_image [--at START] FILE SIZE [OFFSET | FIRST-LAST ...]
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    std::vector<std::string> arguments(argv + 1, argv + argc);
    std::size_t start = 0;
    if (arguments.size() >= 2 && arguments[0] == "--at") {
        start = std::stoul(arguments[1], nullptr, 0);
        arguments.erase(arguments.begin(), arguments.begin() + 2);
    }
    if (arguments.size() < 2) {
        std::fputs("usage: flashlock_make_image [--at START] FILE SIZE [OFFSET | FIRST-LAST ...]\n", stderr);
        return 2;
    }
    std::vector<char> bytes(std::stoul(arguments[1], nullptr, 0));
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const std::size_t at = start + i;
        bytes[i] = static_cast<char>((at * 31U + (at >> 8U) + (at >> 16U)) % 251U);
    }
    for (std::size_t i = 2; i < arguments.size(); ++i) {
        const std::string& place = arguments[i];
        const std::size_t dash = place.find('-');
        const std::size_t first = std::stoul(place.substr(0, dash), nullptr, 0) - start;
        if (dash != std::string::npos) {
            const std::size_t last = std::stoul(place.substr(dash + 1), nullptr, 0) - start;
            for (std::size_t at = first; at <= last; ++at) {
                bytes.at(at) = static_cast<char>(0xFF);
            }
        } else {
            bytes.at(first) = static_cast<char>(~static_cast<unsigned char>(bytes.at(first)));
        }
    }
    std::ofstream out(arguments[0], std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return out.good() ? 0 : 1;
}
