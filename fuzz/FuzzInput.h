#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>

#include "iolib/sim/ChipCatalog.h"
#include "tests/sim/SimulatedPort.h"

// A fuzz input read front to back. Past its end every read gives zeros, so a
// truncated input still decodes: the fuzzer's cuts and splices stay useful
// rather than being thrown away.
class FuzzInput {
public:
    FuzzInput(const std::uint8_t* data, std::size_t size) : bytes(data, size) {}

    [[nodiscard]] bool empty() const { return bytes.empty(); }

    std::uint8_t byte() {
        if (bytes.empty()) {
            return 0;
        }
        const std::uint8_t value = bytes.front();
        bytes = bytes.subspan(1);
        return value;
    }

    // Big-endian, as a hex dump of the input reads.
    std::uint16_t word() {
        const unsigned high = byte();
        return static_cast<std::uint16_t>((high << 8U) | byte());
    }

    std::uint32_t dword() {
        const std::uint32_t high = word();
        return (high << 16U) | word();
    }

    // Everything not read yet, NULs included.
    std::string rest() {
        std::string text(bytes.size(), '\0');
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            text[i] = static_cast<char>(bytes[i]);
        }
        bytes = {};
        return text;
    }

private:
    std::span<const std::uint8_t> bytes;
};

// The board and socket of one run, chosen by the input so that every
// combination is reachable from any seed by changing its first bytes.
struct Setup {
    Variables variables;
    // The simulator accepts the configuration.
    bool usable = true;
    // Which board answers the probe: "willem", "zantrel4v4", "zantrel4v5" or
    // "none"; meaningless when not usable.
    std::string_view board;
};

// First byte: bits 0-1 the board; bits 2-5 modulo 9 the socket (the seven
// parts, an empty socket, or a part known only by the identifier word in the
// next two bytes); bits 6-7 both set make the board name one the simulator
// refuses, so that the unusable port is fuzzed too.
inline Setup chooseSetup(FuzzInput& input) {
    constexpr std::array<std::string_view, 4> boards = {"willem", "zantrel4v4", "zantrel4v5", "none"};
    constexpr unsigned emptySocket = flashsim::namedParts.size();
    constexpr unsigned rawIdentifier = emptySocket + 1;

    const unsigned choice = input.byte();
    Setup setup;
    setup.board = boards.at(choice & 3U);
    setup.usable = (choice >> 6U) != 3U;
    setup.variables["FLASHLOCK_SIM_BOARD"] = setup.usable ? std::string(setup.board) : "zantrel4v6";

    const unsigned socket = ((choice >> 2U) & 0xFU) % (rawIdentifier + 1);
    if (socket < emptySocket) {
        setup.variables["FLASHLOCK_SIM_CHIP"] = std::string(flashsim::namedParts.at(socket));
    } else if (socket == emptySocket) {
        setup.variables["FLASHLOCK_SIM_CHIP"] = "empty";
    } else {
        constexpr std::string_view digits = "0123456789ABCDEF";
        const unsigned word = input.word();
        std::string text;
        for (unsigned shift = 16; shift > 0; shift -= 4) {
            text += digits.at((word >> (shift - 4)) & 0xFU);
        }
        setup.variables["FLASHLOCK_SIM_CHIP"] = text;
    }
    return setup;
}

// A broken invariant: says which, then stops the run so that the fuzzer keeps
// the input that broke it.
[[noreturn]] inline void invariantBroken(const char* what) {
    for (const char* part : {"invariant broken: ", what, "\n"}) {
        static_cast<void>(std::fputs(part, stderr));
    }
    std::abort();
}

inline void require(bool holds, const char* what) {
    if (!holds) {
        invariantBroken(what);
    }
}
