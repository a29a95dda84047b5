// The image reader fed arbitrary file content as each format. Whatever the
// content, an accepted image must be laid out as its users rely on (sorted,
// no overlaps, counts that add up, no more bytes than the file holds), and a
// refused one must say why.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>

#include "app/ImageFile.h"

namespace {

constexpr std::uint64_t addressSpace = std::uint64_t{1} << 32U;

// A broken invariant: says which, then stops the run so that the fuzzer keeps
// the input that broke it.
void require(bool holds, const char* what) {
    if (!holds) {
        for (const char* part : {"invariant broken: ", what, "\n"}) {
            static_cast<void>(std::fputs(part, stderr));
        }
        std::abort();
    }
}

void checkLayout(const Image& image, std::span<const std::uint8_t> content) {
    std::uint64_t end = 0;
    std::uint64_t count = 0;
    for (std::size_t i = 0; i < image.chunks.size(); ++i) {
        const ImageChunk& chunk = image.chunks[i];
        require(!chunk.bytes.empty(), "no chunk is empty");
        require(i == 0 || chunk.address > end, "chunks are sorted, and neither overlap nor touch");
        const std::uint64_t chunkEnd = std::uint64_t{chunk.address} + chunk.bytes.size();
        require(chunkEnd <= addressSpace, "every chunk ends within 32-bit addresses");
        end = chunkEnd;
        count += chunk.bytes.size();
    }
    require(image.byteCount() == count, "byteCount is the sum of the chunks' sizes");
    require(image.end() == end, "end is one past the last chunk's last byte");
    const std::uint64_t most = image.format == ImageFormat::Raw ? content.size() : content.size() / 2;
    require(count <= most, "an image holds no more bytes than the file's data");

    std::uint64_t recorded = 0;
    auto chunk = image.chunks.begin();
    for (std::size_t i = 0; i < image.records.size(); ++i) {
        const ImageRecord& record = image.records[i];
        require(record.size > 0, "every record gives bytes");
        require(i == 0 || record.address >= image.records[i - 1].address, "records are sorted by address");
        while (chunk != image.chunks.end() && std::uint64_t{chunk->address} + chunk->bytes.size() <= record.address) {
            ++chunk;
        }
        require(chunk != image.chunks.end() && chunk->address <= record.address &&
                    std::uint64_t{record.address} + record.size <= std::uint64_t{chunk->address} + chunk->bytes.size(),
                "every record lies within one chunk");
        require(record.address != chunk->address || record.line >= chunk->firstLine,
                "a chunk's first line is that of its lowest record");
        recorded += record.size;
    }
    require(recorded >= count, "the records give every byte of the chunks");
}

void checkChipFit(const Image& image) {
    for (const std::uint32_t chipSize : {0x400000U, 0x1000000U, static_cast<std::uint32_t>(image.end() / 2)}) {
        std::string problem;
        const bool fits = imageFitsChip(image, chipSize, problem);
        require(fits == (image.end() <= chipSize), "an image fits a chip exactly when it ends within it");
        require(fits == problem.empty(), "a misfit is explained, a fit is not");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> content(data, size);
    const ImageFormat detected = detectImageFormat(content);
    require(detected != ImageFormat::Auto, "detection settles on a format");

    constexpr std::array<ImageFormat, 4> formats = {ImageFormat::Auto, ImageFormat::Raw, ImageFormat::IntelHex,
                                                    ImageFormat::SRecord};
    std::array<std::optional<Image>, formats.size()> images;
    std::array<std::string, formats.size()> problems;
    for (std::size_t i = 0; i < formats.size(); ++i) {
        images.at(i) = readImage(content, formats.at(i), problems.at(i));
        const std::optional<Image>& image = images.at(i);
        if (!image) {
            require(!problems.at(i).empty(), "a refused file is explained");
            require(problems.at(i).find('\n') == std::string::npos, "an explanation is one line");
            continue;
        }
        const ImageFormat expected = formats.at(i) == ImageFormat::Auto ? detected : formats.at(i);
        require(image->format == expected, "an image is read in the format asked for, or the one detected");
        checkLayout(*image, content);
        checkChipFit(*image);
    }

    const std::optional<Image>& raw = images.at(1);
    require(raw.has_value(), "any file can be read raw");
    require(size == 0 ||
                (raw->chunks.size() == 1 && raw->chunks[0].address == 0 &&
                 std::equal(content.begin(), content.end(), raw->chunks[0].bytes.begin(), raw->chunks[0].bytes.end())),
            "raw is every byte of the file, from address 0");

    const auto same = static_cast<std::size_t>(detected == ImageFormat::Raw        ? 1
                                               : detected == ImageFormat::IntelHex ? 2
                                                                                   : 3);
    require(images.at(0).has_value() == images.at(same).has_value() && problems.at(0) == problems.at(same),
            "auto reads a file as its detected format does");
    require(!images.at(0) || images.at(0)->chunks == images.at(same)->chunks,
            "auto gives the chunks its detected format gives");
    return 0;
}
