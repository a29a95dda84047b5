#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// The files `write` and `verify` take: raw binaries, Intel HEX and Motorola
// S-records. Text formats give their own addresses and may leave holes; the
// chip keeps whatever it holds in a hole.
enum class ImageFormat { Auto, Raw, IntelHex, SRecord };

// A text image of a 16 MiB chip, with its addresses and checksums, is about
// three times the bytes it gives: no larger file is taken.
inline constexpr std::size_t largestTextImage = std::size_t{64} << 20U;

// "auto", "raw", "ihex", "srec" in any case; nullopt for anything else.
std::optional<ImageFormat> parseImageFormat(std::string_view name);
// "raw binary", "Intel HEX", "Motorola S-record" (and "detected format" for Auto), for messages.
const char* imageFormatName(ImageFormat format);

// A run of bytes at consecutive chip addresses.
struct ImageChunk {
    std::uint32_t address = 0;
    std::vector<std::uint8_t> bytes;
    // The line of the chunk's first record; 0 for a raw file.
    std::size_t firstLine = 0;
    bool operator==(const ImageChunk&) const = default;
};

// Where one data record put its bytes, so that a message can name its line.
struct ImageRecord {
    std::uint32_t address = 0;
    std::uint32_t size = 0;
    // 0 for a raw file, which is one record.
    std::size_t line = 0;
    bool operator==(const ImageRecord&) const = default;
};

struct Image {
    ImageFormat format = ImageFormat::Raw;
    // Sorted by address, adjacent and overlapping records merged: no two
    // chunks overlap or touch, and none is empty.
    std::vector<ImageChunk> chunks;
    // Every record that gave bytes, sorted by address, then by line.
    std::vector<ImageRecord> records;

    [[nodiscard]] std::uint64_t byteCount() const;
    // One past the highest address; 0 when the image holds no bytes.
    [[nodiscard]] std::uint64_t end() const;
};

// What Auto reads the content as: Intel HEX when its first non-blank line
// (after a UTF-8 byte-order mark) is a well-formed record, ':' and pairs of
// hex digits; S-record when that line is S0 to S9 and pairs of hex digits;
// raw otherwise. Never Auto.
ImageFormat detectImageFormat(std::span<const std::uint8_t> content);

// The whole content of a file, read as `format` (Auto: as detected). Raw is
// one chunk at address 0 holding every byte (none for an empty file). A text
// file that is not valid in its format gives nullopt, with `problem` set to
// one sentence, starting "line N: " when a line is at fault. Memory taken is
// bounded by the content's size, whatever addresses or counts it states.
std::optional<Image> readImage(std::span<const std::uint8_t> content, ImageFormat format, std::string& problem);

// Whether every byte lies below `chipSize`; if not, `problem` names the line
// of the lowest record that runs past the chip's end.
bool imageFitsChip(const Image& image, std::uint32_t chipSize, std::string& problem);
