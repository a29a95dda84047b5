// Image files as users hand them over: each format's valid forms with the
// exact chunks they give, broken files with the exact sentence the user
// reads, how Auto tells the formats apart, and the check against the chip.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "app/ImageFile.h"

// Found by argument-dependent lookup, so in the chunk's own namespace.
void PrintTo(const ImageChunk& chunk, std::ostream* out) {
    *out << "{0x" << std::hex << chunk.address << ", {" << testing::PrintToString(chunk.bytes) << "}, line " << std::dec
         << chunk.firstLine << "}";
}

namespace {

using namespace std::string_literals;

std::vector<std::uint8_t> bytesOf(std::string_view text) {
    return {text.begin(), text.end()};
}

struct ValidCase {
    const char* name;
    std::string content;
    ImageFormat asked;
    ImageFormat read;
    std::vector<ImageChunk> chunks;
};

void PrintTo(const ValidCase& c, std::ostream* out) {
    *out << c.name;
}

class ValidImage : public testing::TestWithParam<ValidCase> {};

TEST_P(ValidImage, GivesTheseChunks) {
    const ValidCase& c = GetParam();
    std::string problem;
    const std::optional<Image> image = readImage(bytesOf(c.content), c.asked, problem);
    ASSERT_TRUE(image.has_value()) << problem;
    EXPECT_EQ(image->format, c.read);
    EXPECT_EQ(image->chunks, c.chunks);
    std::uint64_t count = 0;
    std::uint64_t end = 0;
    for (const ImageChunk& chunk : c.chunks) {
        count += chunk.bytes.size();
        end = chunk.address + std::uint64_t{chunk.bytes.size()};
    }
    EXPECT_EQ(image->byteCount(), count);
    EXPECT_EQ(image->end(), end);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, ValidImage,
    testing::Values(ValidCase{"IntelHexNeighboursMerge",
                              ":040100000011223395\n:02010400445560\n:00000001FF\n",
                              ImageFormat::Auto,
                              ImageFormat::IntelHex,
                              {{0x100, {0x00, 0x11, 0x22, 0x33, 0x44, 0x55}, 1}}},
                    // Ten bytes from 0xFFF8 run on past 64 KiB, and the next record,
                    // behind an extended linear address, carries on where they stop.
                    ValidCase{"IntelHexLinearAddressAcrossRecords",
                              ":0AFFF8000102030405060708090AC8\n:020000040001F9\n:020002000B0CE5\n:00000001FF\n",
                              ImageFormat::Auto,
                              ImageFormat::IntelHex,
                              {{0xFFF8, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}, 1}}},
                    ValidCase{"IntelHexSegmentAddressLeavesAHole",
                              ":01020000AA53\n:020000021000EC\n:02001000CAFE26\n:00000001FF\n",
                              ImageFormat::IntelHex,
                              ImageFormat::IntelHex,
                              {{0x200, {0xAA}, 1}, {0x10010, {0xCA, 0xFE}, 3}}},
                    ValidCase{"IntelHexOutOfOrderRepeatingTheSameBytes",
                              ":020101001122C9\n:040100000011223395\n:040100000011223395\n:00000001FF\n",
                              ImageFormat::Auto,
                              ImageFormat::IntelHex,
                              {{0x100, {0x00, 0x11, 0x22, 0x33}, 2}}},
                    ValidCase{"IntelHexCrLfLowerCaseByteOrderMarkBlanksStartAddressesDosEnd",
                              "\xEF\xBB\xBF:0400000312345678e5 \r\n\r\n:040100000011223395\t\r\n:0400000500000100f6\r\n"
                              ":00000001ff\r\n  \r\n\x1A",
                              ImageFormat::Auto,
                              ImageFormat::IntelHex,
                              {{0x100, {0x00, 0x11, 0x22, 0x33}, 3}}},
                    ValidCase{"IntelHexEndOfFileAlone", ":00000001FF", ImageFormat::Auto, ImageFormat::IntelHex, {}},
                    ValidCase{"SRecordS1HeaderAndCount",
                              "S007000048444452D6\nS107100001020304DE\nS104100405E2\nS5030002FA\nS9030000FC\n",
                              ImageFormat::Auto,
                              ImageFormat::SRecord,
                              {{0x1000, {1, 2, 3, 4, 5}, 2}}},
                    ValidCase{"SRecordS2S3CrEndingsUpToTheLastAddress",
                              "S206123456aabbf8\rS306800000005524\rS309FFFFFFFC01020304F3\rS804000000FB\r",
                              ImageFormat::SRecord,
                              ImageFormat::SRecord,
                              {{0x123456, {0xAA, 0xBB}, 1}, {0x80000000, {0x55}, 2}, {0xFFFFFFFC, {1, 2, 3, 4}, 3}}},
                    ValidCase{"RawKeepsEveryByte",
                              "\0\x01:\xFF"s,
                              ImageFormat::Auto,
                              ImageFormat::Raw,
                              {{0, {0x00, 0x01, ':', 0xFF}, 0}}},
                    ValidCase{"RawWhenForcedOnText",
                              ":00000001FF\n",
                              ImageFormat::Raw,
                              ImageFormat::Raw,
                              {{0, bytesOf(":00000001FF\n"), 0}}},
                    ValidCase{"EmptyFileIsRawWithoutBytes", "", ImageFormat::Auto, ImageFormat::Raw, {}}),
    [](const testing::TestParamInfo<ValidCase>& info) { return info.param.name; });

struct BadCase {
    const char* name;
    std::string content;
    ImageFormat asked;
    const char* problem;
};

void PrintTo(const BadCase& c, std::ostream* out) {
    *out << c.name;
}

class BadImage : public testing::TestWithParam<BadCase> {};

TEST_P(BadImage, IsRefusedWithThisSentence) {
    const BadCase& c = GetParam();
    std::string problem;
    EXPECT_FALSE(readImage(bytesOf(c.content), c.asked, problem).has_value());
    EXPECT_EQ(problem, c.problem);
}

constexpr ImageFormat detected = ImageFormat::Auto;

INSTANTIATE_TEST_SUITE_P(
    Formats, BadImage,
    testing::Values(BadCase{"HexOddDigits", ":0401000000112233949\n", ImageFormat::IntelHex,
                            "line 1: the record has an odd number of hex digits (19), so one is missing or left over"},
                    BadCase{"HexChecksumWrong", ":040100000011223394\n:00000001FF\n", detected,
                            "line 1: bad checksum (0x94, the record's bytes call for 0x95)"},
                    BadCase{"HexStrayLetter", ":020101001122C9\n:04010000001122G395\n", detected,
                            "line 2: 'G' at column 16 is not a hex digit"},
                    BadCase{"HexInnerSpace", ":020101001122C9\n:04 0100000011223395\n", detected,
                            "line 2: a space at column 4 is not a hex digit"},
                    BadCase{"HexCutShort", ":00000001\n", ImageFormat::IntelHex,
                            "line 1: the record is cut short: it has 8 hex digits where the shortest has 10"},
                    BadCase{"HexByteCount", ":050100000011223395\n", detected,
                            "line 1: the byte count says 5 data bytes, but the record holds 4"},
                    BadCase{"HexUnknownType", ":00000006FA\n", detected,
                            "line 1: record type 0x06 is not an Intel HEX type (00 to 05)"},
                    BadCase{"HexSegmentOfThreeBytes", ":03000002100000EB\n:00000001FF\n", detected,
                            "line 1: an extended segment address record holds 2 bytes, this one 3"},
                    BadCase{"HexEndOfFileWithData", ":0100000100FE\n", detected,
                            "line 1: an end-of-file record holds 0 bytes, this one 1"},
                    BadCase{"HexWithoutEndOfFile", ":040100000011223395\n", detected,
                            "the file ends without an end-of-file record (type 01), so it may be cut short"},
                    BadCase{"HexMoreAfterEndOfFile", ":00000001FF\n\n:040100000011223395\n", detected,
                            "line 3: there is more after the end-of-file record on line 1"},
                    BadCase{"HexTextLineLater", ":040100000011223395\nhello\n", detected,
                            "line 2: an Intel HEX record starts with ':', this line with 'h'"},
                    BadCase{"HexForcedOnBinary", "\0\x01"s, ImageFormat::IntelHex,
                            "line 1: an Intel HEX record starts with ':', this line with the byte 0x00"},
                    BadCase{"HexConflict", ":040100000011223395\n:02010200224495\n:00000001FF\n", detected,
                            "line 2: the byte at 0x103 is 0x44, but line 1 gives it 0x33"},
                    BadCase{"HexConflictLaterLineLowerAddress", ":02010200224495\n:040100000011223395\n:00000001FF\n",
                            detected, "line 2: the byte at 0x103 is 0x33, but line 1 gives it 0x44"},
                    BadCase{"HexPastFourGiB",
                            ":02000004FFFFFC\n:10FFF80000000000000000000000000000000000F9\n:00000001FF\n", detected,
                            "line 2: the record's 16 bytes at 0xFFFFFFF8 run past the 4 GiB a 32-bit address reaches"},
                    BadCase{"SRecordChecksum", "S104100405E3\nS9030000FC\n", detected,
                            "line 1: bad checksum (0xE3, the record's bytes call for 0xE2)"},
                    BadCase{"SRecordByteCount", "S105100405E2\n", detected,
                            "line 1: the byte count says 5 bytes follow it, but 4 do"},
                    BadCase{"SRecordShorterThanItsAddress", "S1021000\n", detected,
                            "line 1: the record is cut short: it has 6 hex digits where the shortest has 8"},
                    BadCase{"SRecordReservedType", "S4030000FC\n", detected,
                            "line 1: S4 is a reserved record type, which no S-record file holds"},
                    BadCase{"SRecordTypeNotADigit", "S104100405E2\nSX00\n", detected,
                            "line 2: an S-record's S is followed by its type, a digit from 0 to 9"},
                    BadCase{"SRecordIntelHexLine", "S104100405E2\n:00000001FF\n", detected,
                            "line 2: an S-record starts with 'S', this line with ':'"},
                    BadCase{"SRecordCount", "S104100405E2\nS5030002FA\nS9030000FC\n", detected,
                            "line 2: the record count says 2 data records, but 1 come before it"},
                    BadCase{"SRecordWithoutTermination", "S104100405E2\n", detected,
                            "the file ends without a termination record (S7, S8 or S9), so it may be cut short"},
                    BadCase{"SRecordMoreAfterTermination", "S9030000FC\nS104100405E2\n", detected,
                            "line 2: there is more after the termination record on line 1"}),
    [](const testing::TestParamInfo<BadCase>& info) { return info.param.name; });

TEST(ImageDetection, ReadsTheFirstNonBlankLine) {
    const struct {
        std::string content;
        ImageFormat format;
    } cases[] = {
        {":00000001FF\n", ImageFormat::IntelHex},
        {"\xEF\xBB\xBF\r\n  \n:0a\r\n", ImageFormat::IntelHex},
        {"\nS9030000fc", ImageFormat::SRecord},
        {"S0", ImageFormat::Raw},
        {"S9030000F", ImageFormat::Raw},
        {"SA030000FC\n", ImageFormat::Raw},
        {":00000001FG\n", ImageFormat::Raw},
        {"\0:00000001FF\n"s, ImageFormat::Raw},
        {"Hello\n:00000001FF\n", ImageFormat::Raw},
        {"", ImageFormat::Raw},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(detectImageFormat(bytesOf(c.content)), c.format) << c.content;
    }
}

TEST(ImageFormatNames, ReadInAnyCaseAndNamedForMessages) {
    EXPECT_EQ(parseImageFormat("AUTO"), ImageFormat::Auto);
    EXPECT_EQ(parseImageFormat("raw"), ImageFormat::Raw);
    EXPECT_EQ(parseImageFormat("iHex"), ImageFormat::IntelHex);
    EXPECT_EQ(parseImageFormat("srec"), ImageFormat::SRecord);
    EXPECT_EQ(parseImageFormat("hex"), std::nullopt);
    EXPECT_EQ(parseImageFormat("srecs"), std::nullopt);
    EXPECT_STREQ(imageFormatName(ImageFormat::Raw), "raw binary");
    EXPECT_STREQ(imageFormatName(ImageFormat::IntelHex), "Intel HEX");
    EXPECT_STREQ(imageFormatName(ImageFormat::SRecord), "Motorola S-record");
}

TEST(ImageFitsChip, NamesTheLowestRecordPastTheEnd) {
    // A record that ends exactly at 4 MiB, then one that starts there: one chunk, two lines.
    const std::string touching = "S104001000EB\nS30D003FFFF80000000000000000BC\nS3060040000000B9\nS70500000000FA\n";
    const struct {
        std::string content;
        std::uint32_t chipSize;
        const char* problem;
    } cases[] = {
        {touching, 0x400000, "line 3: a record at 0x400000 runs past the chip's end (it holds 0x400000 bytes)"},
        {touching, 0x3FFFFC, "line 2: a record at 0x3FFFF8 runs past the chip's end (it holds 0x3FFFFC bytes)"},
        {touching, 0x400001, ""},
        {"\x01\x02\x03\x04\x05", 4, "the file holds 5 bytes, more than the chip's 4"},
        {"\x01\x02\x03\x04", 4, ""},
    };
    for (const auto& c : cases) {
        std::string problem;
        const std::optional<Image> image = readImage(bytesOf(c.content), ImageFormat::Auto, problem);
        ASSERT_TRUE(image.has_value()) << problem;
        EXPECT_EQ(imageFitsChip(*image, c.chipSize, problem), *c.problem == '\0') << c.content;
        EXPECT_EQ(problem, c.problem);
    }
}

}  // namespace
