#include "flash/Digest.h"

namespace {

constexpr std::array<std::uint32_t, 64> rounds{
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

constexpr std::uint32_t rotate(std::uint32_t value, unsigned count) {
    return (value >> count) | (value << (32U - count));
}

}  // namespace

Digest::Digest()
    : state{0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a, 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19} {}

void Digest::add(const std::uint8_t* data, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) {
        // NOLINTNEXTLINE(cppcoreguidelines-pro-bounds-pointer-arithmetic)
        pending.at(filled++) = data[i];
        if (filled == pending.size()) {
            block();
            filled = 0;
        }
    }
    length += size;
}

void Digest::add(std::uint32_t value) {
    const std::array<std::uint8_t, 4> bytes{static_cast<std::uint8_t>(value >> 24U),
                                            static_cast<std::uint8_t>(value >> 16U),
                                            static_cast<std::uint8_t>(value >> 8U), static_cast<std::uint8_t>(value)};
    add(bytes.data(), bytes.size());
}

void Digest::block() {
    std::array<std::uint32_t, 64> words{};
    for (std::size_t i = 0; i < 16; ++i) {
        words.at(i) = (std::uint32_t{pending.at(4 * i)} << 24U) | (std::uint32_t{pending.at(4 * i + 1)} << 16U) |
                      (std::uint32_t{pending.at(4 * i + 2)} << 8U) | std::uint32_t{pending.at(4 * i + 3)};
    }
    for (std::size_t i = 16; i < 64; ++i) {
        const std::uint32_t w15 = words.at(i - 15);
        const std::uint32_t w2 = words.at(i - 2);
        const std::uint32_t s0 = rotate(w15, 7) ^ rotate(w15, 18) ^ (w15 >> 3U);
        const std::uint32_t s1 = rotate(w2, 17) ^ rotate(w2, 19) ^ (w2 >> 10U);
        words.at(i) = words.at(i - 16) + s0 + words.at(i - 7) + s1;
    }
    std::array<std::uint32_t, 8> v = state;
    for (std::size_t i = 0; i < 64; ++i) {
        const std::uint32_t s1 = rotate(v[4], 6) ^ rotate(v[4], 11) ^ rotate(v[4], 25);
        const std::uint32_t choice = (v[4] & v[5]) ^ (~v[4] & v[6]);
        const std::uint32_t first = v[7] + s1 + choice + rounds.at(i) + words.at(i);
        const std::uint32_t s0 = rotate(v[0], 2) ^ rotate(v[0], 13) ^ rotate(v[0], 22);
        const std::uint32_t majority = (v[0] & v[1]) ^ (v[0] & v[2]) ^ (v[1] & v[2]);
        const std::uint32_t second = s0 + majority;
        v[7] = v[6];
        v[6] = v[5];
        v[5] = v[4];
        v[4] = v[3] + first;
        v[3] = v[2];
        v[2] = v[1];
        v[1] = v[0];
        v[0] = first + second;
    }
    for (std::size_t i = 0; i < state.size(); ++i) {
        state.at(i) += v.at(i);
    }
}

std::array<std::uint8_t, 32> Digest::finish() {
    const std::uint64_t bits = length * 8;
    const std::uint8_t marker = 0x80;
    add(&marker, 1);
    const std::uint8_t zero = 0;
    while (filled != 56) {
        add(&zero, 1);
    }
    for (int shift = 56; shift >= 0; shift -= 8) {
        const auto byte = static_cast<std::uint8_t>(bits >> static_cast<unsigned>(shift));
        add(&byte, 1);
    }
    std::array<std::uint8_t, 32> digest{};
    for (std::size_t i = 0; i < state.size(); ++i) {
        for (std::size_t j = 0; j < 4; ++j) {
            digest.at(4 * i + j) = static_cast<std::uint8_t>(state.at(i) >> (24U - 8U * j));
        }
    }
    return digest;
}

std::string Digest::shortText(const std::array<std::uint8_t, 32>& digest) {
    constexpr const char* digits = "0123456789abcdef";
    std::string text;
    for (std::size_t i = 0; i < 8; ++i) {
        text += digits[digest.at(i) >> 4U];
        text += digits[digest.at(i) & 0xFU];
    }
    return text;
}
