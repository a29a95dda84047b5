#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

// SHA-256, for telling whether a rerun writes the very image a journaled job
// was writing: a file renamed or touched is the same job, a file with one
// byte changed is another.
class Digest {
public:
    Digest();
    void add(const std::uint8_t* data, std::size_t size);
    void add(std::uint32_t value);
    [[nodiscard]] std::array<std::uint8_t, 32> finish();

    // The first bytes in hexadecimal, as a person compares them.
    [[nodiscard]] static std::string shortText(const std::array<std::uint8_t, 32>& digest);

private:
    void block();

    std::array<std::uint32_t, 8> state;
    std::array<std::uint8_t, 64> pending{};
    std::size_t filled = 0;
    std::uint64_t length = 0;
};
