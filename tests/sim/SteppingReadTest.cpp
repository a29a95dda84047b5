// Whole-chip reads that step the simulated board's address register a bit a
// byte: the program's own driver traffic, chip layer and reader, against
// random content loaded from an image, for the 4-, 8- and 16-MiB parts; and
// on a board whose register latches, where the reader falls back to full
// shifts once and still reads every byte right.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "SimulatedPort.h"
#include "flash/ArrayReader.h"
#include "flash/Identify.h"
#include "tests/TempFolder.h"

namespace {

struct Part {
    const char* name;
    std::uint32_t size;
    bool latched = false;  // FLASHLOCK_SIM_ADDRESS_REGISTER=latched
};

std::string partName(const Part& part) {
    return std::string(part.name) + (part.latched ? "_latched" : "");
}

void PrintTo(const Part& part, std::ostream* os) {
    *os << partName(part);
}

// The simulator with `content` as its array, identified and ready for reads.
struct SteppedChip {
    SteppedChip(const TempFolder& folder, const Part& part, const std::vector<std::uint8_t>& content)
        : session(withImage(folder, part, content)) {
        session.port.detectBoard();
        session.flash.beginAccess();
        found = identify(session.flash);
        if (found.valid()) {
            commands = commandSetFor(session.flash, found.geometry.geometry);
            reader = std::make_unique<ArrayReader>(*commands, true, [this] { ++fellBack; });
        }
    }

    static Variables withImage(const TempFolder& folder, const Part& part, const std::vector<std::uint8_t>& content) {
        std::ofstream(folder.file("image.bin"), std::ios::binary)
            .write(
                reinterpret_cast<const char*>(content.data()),  // NOLINT(cppcoreguidelines-pro-type-reinterpret-cast)
                static_cast<std::streamsize>(content.size()));
        std::ofstream(folder.file("state.txt")) << "flashlock-sim-state 1\nchip " << part.name << "\nimage image.bin\n";
        return {{"FLASHLOCK_SIM_CHIP", part.name},
                {"FLASHLOCK_SIM_STATE", folder.file("state.txt")},
                {"FLASHLOCK_SIM_ADDRESS_REGISTER", part.latched ? "latched" : "shift"}};
    }

    Session session;
    Identification found;
    std::unique_ptr<CommandSet> commands;
    std::unique_ptr<ArrayReader> reader;
    int fellBack = 0;
};

std::vector<std::uint8_t> randomBytes(std::uint32_t size, std::uint32_t seed) {
    std::mt19937 generator(seed);
    std::vector<std::uint8_t> bytes(size);
    for (std::uint8_t& byte : bytes) {
        byte = static_cast<std::uint8_t>(generator());
    }
    return bytes;
}

#ifdef FLASHLOCK_SANITIZED
constexpr bool sanitized = true;
#else
constexpr bool sanitized = false;
#endif

class SteppingRead : public testing::TestWithParam<Part> {};

TEST_P(SteppingRead, GivesTheWholeChipByteForByte) {
    if (sanitized && GetParam().size > (4U << 20U)) {
        GTEST_SKIP() << "minutes under the sanitizers; the 4-MiB part runs the same code";
    }
    if (sanitized && GetParam().latched) {
        // Full shifts for every byte, ten minutes under the sanitizers; the
        // fallback itself is tested on the recording driver.
        GTEST_SKIP() << "ten minutes under the sanitizers; the fallback is tested without them and on small fakes";
    }
    TempFolder folder;
    const std::vector<std::uint8_t> content = randomBytes(GetParam().size, GetParam().size);
    SteppedChip chip(folder, GetParam(), content);
    ASSERT_TRUE(chip.reader) << chip.found.problem();
    ASSERT_EQ(chip.found.geometry.geometry.size, GetParam().size);
    const std::optional<std::vector<std::uint8_t>> image = chip.reader->readWhole({}, {});
    ASSERT_TRUE(image);
    EXPECT_EQ(chip.reader->steppingUsed(), !GetParam().latched);
    EXPECT_EQ(chip.fellBack, GetParam().latched ? 1 : 0);
    // Not EXPECT_EQ: a failure would print megabytes.
    EXPECT_TRUE(*image == content) << "the chip's bytes came back otherwise";
    EXPECT_EQ(chip.session.chip().mode(), flashsim::ChipMode::ReadArray);
    EXPECT_TRUE(chip.session.faults().empty()) << chip.session.faults().front();
}

INSTANTIATE_TEST_SUITE_P(Parts, SteppingRead,
                         testing::Values(Part{"28F320J3", 4U << 20U}, Part{"28F640J3", 8U << 20U},
                                         Part{"28F128J3", 16U << 20U}, Part{"28F320J3", 4U << 20U, true}),
                         [](const testing::TestParamInfo<Part>& info) { return partName(info.param); });

}  // namespace
