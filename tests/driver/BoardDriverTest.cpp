#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "driver/Zantrel4v4.h"
#include "tests/driver/RecordingModule.h"

namespace {

using testing::ElementsAre;
using testing::ElementsAreArray;
using Record = std::vector<std::string>;

std::string write(int port, unsigned value) {
    char text[24];
    std::snprintf(text, sizeof text, "W %d %02X", port, value);
    return text;
}

constexpr int data = 888;

// Runs with the recording module on the loader's path (set by the test
// registration). Each test starts from a fresh record after construction.
class PortTraffic : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(io.loaded()) << "the recording io module must be on the library path";
        io.answerStatus({});
        driver = std::make_unique<Zantrel4v4>(888);
        ASSERT_TRUE(driver->portProblem().empty()) << driver->portProblem();
        constructed = io.record();
        io.answerStatus({});
    }

    RecordingModule io;
    std::unique_ptr<Zantrel4v4> driver;
    Record constructed;
};

TEST_F(PortTraffic, ConstructorSetsTheIdleLevelsInFourWrites) {
    EXPECT_THAT(constructed, ElementsAre("W 888 00", "W 889 00", "W 890 09", "W 890 09"));
}

TEST_F(PortTraffic, DestructorReturnsControlToIdle) {
    driver->changeLines(PortRegister::Control, 0xFF06);  // bits 1 and 2 up, 0 and 3 down
    driver.reset();
    EXPECT_THAT(io.record(), ElementsAre("W 890 06", "W 890 0D", "W 890 09"));
}

TEST_F(PortTraffic, EveryLineChangeWritesTheWholeShadowOnce) {
    driver->changeLines(PortRegister::Control, 0x0000);
    driver->changeLines(PortRegister::Data, 0xFFA5);
    driver->changeLines(PortRegister::Data, 0x0300);
    driver->changeLines(PortRegister::Status, 0x0010);
    driver->changeLines(PortRegister::Control, 0x0404);
    EXPECT_THAT(io.record(), ElementsAre("W 890 09", "W 888 A5", "W 888 A4", "W 889 10", "W 890 0D"));
    // Bytes from 0x80 up reach the module as negative signed bytes.
    EXPECT_EQ(io.writtenValues().at(1), -91);
}

TEST_F(PortTraffic, ShiftOutAddress555) {
    driver->shiftOutAddress(0x555, 24);
    const Record record = io.record();
    ASSERT_EQ(record.size(), 74U);
    EXPECT_EQ(record.front(), "W 890 09");  // Control bit 1 cleared (was clear)
    std::vector<int> addressBits;
    for (std::size_t i = 1; i + 1 < record.size(); i += 3) {
        // Data bit 1 placed, clock low, clock high; bit 1 is held across the clock.
        const unsigned placed = std::stoul(record[i].substr(6), nullptr, 16);
        EXPECT_EQ(record[i + 1], write(data, placed & ~1U));
        EXPECT_EQ(record[i + 2], write(data, (placed & ~1U) | 1U));
        addressBits.push_back(static_cast<int>((placed >> 1U) & 1U));
    }
    EXPECT_THAT(addressBits, ElementsAre(0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1));
    EXPECT_EQ(record.back(), "W 888 00");
}

TEST_F(PortTraffic, ShiftOutAddressKeepsDataBits2To7AndClearsControlBit1) {
    driver->putDataByte(0xA5);
    driver->shiftOutAddress(0xFFFFFF, 24);
    const Record record = io.record();
    EXPECT_THAT(Record(record.begin(), record.begin() + 3), ElementsAre("W 890 0B", "W 888 A5", "W 890 09"));
    EXPECT_EQ(record.at(3), "W 888 A7");  // bit 1 set for a 1 bit
    EXPECT_EQ(record.at(4), "W 888 A6");  // clock low
    EXPECT_EQ(record.at(5), "W 888 A7");  // clock high
    EXPECT_EQ(record.back(), "W 888 A4");
}

struct BitCountCase {
    unsigned bitCount;
    unsigned bitsSent;
};

void PrintTo(const BitCountCase& c, std::ostream* os) {
    *os << c.bitCount << " bits";
}

class ShiftOutBitCount : public PortTraffic, public testing::WithParamInterface<BitCountCase> {};

TEST_P(ShiftOutBitCount, SendsTheLowBitsMostSignificantFirst) {
    const std::uint32_t address = 0xC0000003;  // top two and bottom two bits set
    driver->shiftOutAddress(address, static_cast<std::uint8_t>(GetParam().bitCount));
    const Record record = io.record();
    ASSERT_EQ(record.size(), 2 + 3 * GetParam().bitsSent);
    std::vector<int> sent;
    for (std::size_t i = 1; i + 1 < record.size(); i += 3) {
        sent.push_back(static_cast<int>((std::stoul(record[i].substr(6), nullptr, 16) >> 1) & 1U));
    }
    std::vector<int> expected;
    for (unsigned bit = GetParam().bitsSent; bit-- > 0;) {
        expected.push_back(static_cast<int>((address >> bit) & 1U));
    }
    EXPECT_EQ(sent, expected);
}

INSTANTIATE_TEST_SUITE_P(Counts, ShiftOutBitCount,
                         testing::Values(BitCountCase{24, 24}, BitCountCase{1, 1}, BitCountCase{2, 2},
                                         BitCountCase{32, 32}, BitCountCase{0, 32}, BitCountCase{33, 1},
                                         BitCountCase{255, 31}));

struct ShiftInCase {
    std::vector<std::uint8_t> statusReads;
    unsigned expected;
};

void PrintTo(const ShiftInCase& c, std::ostream* os) {
    *os << "byte " << c.expected;
}

class ShiftIn : public PortTraffic, public testing::WithParamInterface<ShiftInCase> {};

TEST_P(ShiftIn, TakesEightInvertedBitsFromStatusBit6MostSignificantFirst) {
    io.answerStatus(GetParam().statusReads);
    EXPECT_EQ(driver->shiftInByte(), GetParam().expected);
    Record expected = {"W 890 09", "W 888 02", "W 888 06", "W 888 02", "W 888 00"};
    for (int bit = 0; bit < 8; ++bit) {
        expected.emplace_back("R 889 " + io.record().at(5 + 3 * bit).substr(6));
        expected.insert(expected.end(), {"W 888 04", "W 888 00"});
    }
    EXPECT_THAT(io.record(), ElementsAreArray(expected));
}

INSTANTIATE_TEST_SUITE_P(Bytes, ShiftIn,
                         testing::Values(ShiftInCase{std::vector<std::uint8_t>(8, 0x40), 0x00},
                                         ShiftInCase{std::vector<std::uint8_t>(8, 0x00), 0xFF},
                                         // Only bit 6 counts: the other Status bits are noise.
                                         ShiftInCase{std::vector<std::uint8_t>(8, 0xFF), 0x00},
                                         ShiftInCase{std::vector<std::uint8_t>(8, 0xBF), 0xFF},
                                         ShiftInCase{{0x00, 0x40, 0x40, 0x40, 0x40, 0x40, 0x40, 0x00}, 0x81},
                                         ShiftInCase{{0x40, 0x00, 0x40, 0x00, 0x00, 0x40, 0x00, 0x40}, 0x5A}));

TEST_F(PortTraffic, ShiftInByteLeavesDataBits0And3To7) {
    driver->changeLines(PortRegister::Data, 0xFFF9);
    io.answerStatus({});
    driver->shiftInByte();
    const Record record = io.record();
    ASSERT_EQ(record.size(), 21U + 8U);
    EXPECT_EQ(record.back(), "W 888 F9");
    EXPECT_EQ(std::count_if(record.begin(), record.end(), [](const std::string& e) { return e[0] == 'R'; }), 8);
}

TEST_F(PortTraffic, PutDataByteRaisesControlBit1ThenDrivesTheByte) {
    driver->changeLines(PortRegister::Data, 0xFF5A);
    io.answerStatus({});
    driver->putDataByte(0xA5);
    EXPECT_THAT(io.record(), ElementsAre("W 890 0B", "W 888 A5"));
}

struct DetectionCase {
    std::vector<std::uint8_t> samples;
    BoardKind result;
};

void PrintTo(const DetectionCase& c, std::ostream* os) {
    for (const std::uint8_t s : c.samples) {
        *os << ((s & 0x80) != 0 ? '1' : '0');
    }
    *os << " -> " << static_cast<int>(c.result);
}

class Detection : public PortTraffic, public testing::WithParamInterface<DetectionCase> {};

TEST_P(Detection, DecidesFromFourStatusBit7SamplesAndAlwaysCloses) {
    // Start from non-idle levels: the probe must not depend on them.
    driver->changeLines(PortRegister::Control, 0xFF0F);
    driver->changeLines(PortRegister::Data, 0xFF3C);
    io.answerStatus(GetParam().samples);
    EXPECT_EQ(driver->detectBoard(), GetParam().result);
    EXPECT_THAT(io.record(), ElementsAre("W 890 02", "W 890 06", "R 889 " + io.record().at(2).substr(6), "W 888 01",
                                         "R 889 " + io.record().at(4).substr(6), "R 889 " + io.record().at(5).substr(6),
                                         "W 890 04", "W 888 00", "R 889 " + io.record().at(8).substr(6), "W 890 0D",
                                         "W 888 00", "W 890 09", "W 890 0B"));
    // The samples were taken in order, one per read.
    for (std::size_t i = 0; i < 4; ++i) {
        const std::size_t at[] = {2, 4, 5, 8};
        char expected[12];
        std::snprintf(expected, sizeof expected, "R 889 %02X", GetParam().samples[i]);
        EXPECT_EQ(io.record().at(at[i]), expected);
    }
}

// Other Status bits ride along (0x7F noise) and must not matter.
INSTANTIATE_TEST_SUITE_P(Table, Detection,
                         testing::Values(DetectionCase{{0x80, 0x80, 0x00, 0x80}, BoardKind::Willem},
                                         DetectionCase{{0xFF, 0xFF, 0x7F, 0x7F}, BoardKind::Willem},
                                         DetectionCase{{0x80, 0x80, 0x80, 0x80}, BoardKind::NoBoard},
                                         DetectionCase{{0x80, 0x80, 0x80, 0x00}, BoardKind::NoBoard},
                                         DetectionCase{{0x80, 0x00, 0x00, 0x80}, BoardKind::Zantrel4v4},
                                         DetectionCase{{0x80, 0x00, 0x80, 0x80}, BoardKind::Zantrel4v4},
                                         DetectionCase{{0x80, 0x00, 0x00, 0x00}, BoardKind::Zantrel4v5},
                                         DetectionCase{{0xFF, 0x7F, 0xFF, 0x7F}, BoardKind::Zantrel4v5},
                                         DetectionCase{{0x00, 0x80, 0x00, 0x80}, BoardKind::NoBoard},
                                         DetectionCase{{0x7F, 0x00, 0x00, 0x00}, BoardKind::NoBoard},
                                         DetectionCase{{0x00, 0x00, 0x80, 0x80}, BoardKind::NoBoard}));

}  // namespace
