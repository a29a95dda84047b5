#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "flash/Digest.h"
#include "flash/Journal.h"

namespace {

JournalState sample() {
    JournalState state;
    state.port = "0xD010";
    state.board = 2;
    state.identity = {0x01, 0, {0x7E, 0x21, 0x01}};
    state.commandSet = 2;
    state.size = 0x1000000;
    state.blockCount = 10;
    state.locksBefore = {false, true, false, false, false, false, false, true, false, false};
    state.job.kind = JobKind::Write;
    state.job.digest.fill(0xA5);
    state.job.command = {"write", "my image.bin", "--offset", "0x3C000"};
    state.saved = {{1, {{0x20000, {0x11, 0x22}}, {0x3D000, std::vector<std::uint8_t>(300, 0x5A)}}}, {7, {}}};
    return state;
}

TEST(Journal, ReadsBackWhatItWrote) {
    std::string problem;
    const std::optional<JournalState> back = decodeJournal(encodeJournal(sample()), problem);
    ASSERT_TRUE(back) << problem;
    EXPECT_EQ(*back, sample());
}

struct DamageCase {
    const char* name;
    std::function<void(std::vector<std::uint8_t>&)> damage;
    const char* problem;
};

void PrintTo(const DamageCase& c, std::ostream* os) {
    *os << c.name;
}

class DamagedJournal : public testing::TestWithParam<DamageCase> {};

// A journal that is not whole is never applied, however it was cut or changed.
TEST_P(DamagedJournal, IsRefusedWithItsReason) {
    std::vector<std::uint8_t> data = encodeJournal(sample());
    GetParam().damage(data);
    std::string problem;
    EXPECT_FALSE(decodeJournal(data, problem));
    EXPECT_EQ(problem, GetParam().problem);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DamagedJournal,
    testing::Values(
        DamageCase{"empty", [](auto& d) { d.clear(); }, "it does not start as a flashlock journal"},
        DamageCase{"otherFile", [](auto& d) { d[0] = 'F'; }, "it does not start as a flashlock journal"},
        DamageCase{"cutInItsRecords", [](auto& d) { d.resize(d.size() / 2); }, "it ends before its last record"},
        DamageCase{"cutBeforeItsChecksum", [](auto& d) { d.resize(d.size() - 1); }, "it ends before its last record"},
        DamageCase{"savedByteChanged", [](auto& d) { d[d.size() - 40] ^= 0x01U; },
                   "its checksum does not match its content"},
        DamageCase{"checksumChanged", [](auto& d) { d.back() ^= 0x80U; }, "its checksum does not match its content"},
        DamageCase{"somethingAfter", [](auto& d) { d.push_back(0); }, "it holds more than its records"}),
    [](const testing::TestParamInfo<DamageCase>& info) { return info.param.name; });

TEST(Journal, TellsImagesApartByTheirBytesAndPlaces) {
    const std::vector<WantedRange> image{{0x100, {1, 2, 3}}};
    const auto digest = imageDigest(image);
    EXPECT_EQ(imageDigest({{0x100, {1, 2, 3}}}), digest);
    EXPECT_NE(imageDigest({{0x101, {1, 2, 3}}}), digest);
    EXPECT_NE(imageDigest({{0x100, {1, 2, 4}}}), digest);
    EXPECT_NE(imageDigest({{0x100, {1, 2}}, {0x102, {3}}}), digest);
}

TEST(Journal, IsNamedAfterItsPort) {
    EXPECT_EQ(journalFileName("0x378"), "journal-0x378");
    EXPECT_EQ(journalFileName("/dev/parport1"), "journal-dev-parport1");
}

// The published test vectors of SHA-256.
TEST(Digest, GivesTheStandardValues) {
    const auto text = [](const std::string& input) {
        Digest digest;
        // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast)
        digest.add(reinterpret_cast<const std::uint8_t*>(input.data()), input.size());
        const auto value = digest.finish();
        std::string hex;
        for (const std::uint8_t byte : value) {
            constexpr const char* digits = "0123456789abcdef";
            hex += digits[byte >> 4U];
            hex += digits[byte & 0xFU];
        }
        return hex;
    };
    EXPECT_EQ(text(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(text("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(text("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
}

}  // namespace
