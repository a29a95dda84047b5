// Writes a patterned array image for the simulated chip: every byte differs
// from its neighbours and from erased flash, so a byte read from the wrong
// address or lost on the way shows. Offsets after the size are flipped
// (XOR 0xFF), for images that must differ from the chip in known places.
//
//   flashlock_make_image FILE SIZE [OFFSET ...]
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fputs("usage: flashlock_make_image FILE SIZE [OFFSET ...]\n", stderr);
        return 2;
    }
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    std::vector<char> bytes(std::stoul(arguments[1], nullptr, 0));
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<char>((i * 31U + (i >> 8U) + (i >> 16U)) % 251U);
    }
    for (std::size_t i = 2; i < arguments.size(); ++i) {
        const std::size_t offset = std::stoul(arguments[i], nullptr, 0);
        bytes.at(offset) = static_cast<char>(~static_cast<unsigned char>(bytes.at(offset)));
    }
    std::ofstream out(arguments[0], std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return out.good() ? 0 : 1;
}
