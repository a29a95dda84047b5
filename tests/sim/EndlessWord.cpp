// Writes its argument's first character (b by default) to standard output
// until the reader goes away: an input that is one word without end.
#include <array>
#include <cstdio>

int main(int argc, char** argv) {
    std::array<char, 4096> block{};
    block.fill(argc > 1 ? argv[1][0] : 'b');
    while (std::fwrite(block.data(), 1, block.size(), stdout) == block.size()) {
    }
    return 0;
}
