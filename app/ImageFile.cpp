#include "app/ImageFile.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <numeric>
#include <utility>

namespace {

using Bytes = std::span<const std::uint8_t>;

constexpr std::uint64_t addressSpace = std::uint64_t{1} << 32U;
constexpr std::array<std::uint8_t, 3> byteOrderMark = {0xEF, 0xBB, 0xBF};
// What DOS tools put after a text file's last line.
constexpr std::uint8_t dosEndOfFile = 0x1A;

bool isBlank(std::uint8_t c) {
    return c == ' ' || c == '\t' || c == '\f' || c == '\v';
}

int hexValue(std::uint8_t c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    const int lower = std::tolower(c);
    return lower >= 'a' && lower <= 'f' ? lower - 'a' + 10 : -1;
}

std::string hex(std::uint64_t value) {
    constexpr std::string_view digits = "0123456789ABCDEF";
    std::string text;
    do {
        text.insert(text.begin(), digits[value & 0xFU]);
        value >>= 4U;
    } while (value != 0);
    if (text.size() < 2) {
        text.insert(text.begin(), '0');
    }
    return "0x" + text;
}

std::string at(std::size_t line) {
    return "line " + std::to_string(line) + ": ";
}

// A character as a message shows it; most stray ones are not printable.
std::string describe(std::uint8_t c) {
    if (c == ' ') {
        return "a space";
    }
    if (c == '\t') {
        return "a tab";
    }
    if (c > ' ' && c < 0x7F) {
        return std::string("'") + static_cast<char>(c) + "'";
    }
    return "the byte " + hex(c);
}

// The text of a text format: without a UTF-8 byte-order mark before it or a
// DOS end-of-file mark after it.
Bytes textOf(Bytes content) {
    if (content.size() >= byteOrderMark.size() &&
        std::equal(byteOrderMark.begin(), byteOrderMark.end(), content.begin())) {
        content = content.subspan(byteOrderMark.size());
    }
    if (!content.empty() && content.back() == dosEndOfFile) {
        content = content.first(content.size() - 1);
    }
    return content;
}

// Lines ended by LF, CR LF or a lone CR, with trailing blanks cut off.
class LineReader {
public:
    explicit LineReader(Bytes text) : rest(text) {}

    // False once the text is used up.
    bool next() {
        if (rest.empty()) {
            return false;
        }
        const auto newline =
            std::find_if(rest.begin(), rest.end(), [](std::uint8_t c) { return c == '\n' || c == '\r'; });
        const auto length = static_cast<std::size_t>(newline - rest.begin());
        current = rest.first(length);
        std::size_t after = length;
        if (after < rest.size()) {
            after += rest[after] == '\r' && after + 1 < rest.size() && rest[after + 1] == '\n' ? 2 : 1;
        }
        rest = rest.subspan(after);
        while (!current.empty() && isBlank(current.back())) {
            current = current.first(current.size() - 1);
        }
        ++lineNumber;
        return true;
    }

    [[nodiscard]] Bytes text() const { return current; }
    [[nodiscard]] std::size_t number() const { return lineNumber; }
    // Blank lines are empty, since trailing blanks are cut off.
    [[nodiscard]] bool blank() const { return current.empty(); }

private:
    Bytes rest;
    Bytes current;
    std::size_t lineNumber = 0;
};

// Pairs of hex digits, at least `minimum` of them, and nothing else.
bool hexPairs(Bytes digits, std::size_t minimum) {
    return digits.size() % 2 == 0 && digits.size() >= 2 * minimum &&
           std::all_of(digits.begin(), digits.end(), [](std::uint8_t c) { return hexValue(c) >= 0; });
}

// A record's bytes: the count, then what the count counts. Intel HEX has
// four bytes besides the data (address, type, checksum), an S-record none
// besides what the count counts.
struct Record {
    std::array<std::uint8_t, 1 + 255 + 4> bytes{};
    std::size_t size = 0;

    [[nodiscard]] Bytes all() const { return Bytes(bytes).first(size); }
    [[nodiscard]] unsigned count() const { return bytes[0]; }
};

struct Layout {
    ImageFormat format;
    // The fewest bytes a record of this kind has, count included.
    std::size_t shortest;
};

std::optional<Record> decodeRecord(Bytes line, std::size_t firstDigit, Layout layout, std::size_t lineNumber,
                                   std::string& problem) {
    const Bytes digits = line.subspan(firstDigit);
    const auto stray = std::find_if(digits.begin(), digits.end(), [](std::uint8_t c) { return hexValue(c) < 0; });
    if (stray != digits.end()) {
        const auto column = firstDigit + static_cast<std::size_t>(stray - digits.begin()) + 1;
        problem = at(lineNumber) + describe(*stray) + " at column " + std::to_string(column) + " is not a hex digit";
        return std::nullopt;
    }
    if (digits.size() % 2 != 0) {
        problem = at(lineNumber) + "the record has an odd number of hex digits (" + std::to_string(digits.size()) +
                  "), so one is missing or left over";
        return std::nullopt;
    }
    const std::size_t pairs = digits.size() / 2;
    if (pairs < layout.shortest) {
        problem = at(lineNumber) + "the record is cut short: it has " + std::to_string(digits.size()) +
                  " hex digits where the shortest has " + std::to_string(2 * layout.shortest);
        return std::nullopt;
    }
    const auto count = static_cast<unsigned>(hexValue(digits[0]) * 16 + hexValue(digits[1]));
    const bool intelHex = layout.format == ImageFormat::IntelHex;
    const std::size_t besideCount = intelHex ? 5 : 1;
    if (pairs != count + besideCount) {
        problem = at(lineNumber) + "the byte count says " + std::to_string(count) +
                  (intelHex ? " data bytes, but the record holds " : " bytes follow it, but ") +
                  std::to_string(pairs - besideCount) + (intelHex ? "" : " do");
        return std::nullopt;
    }
    Record record;
    record.size = pairs;
    unsigned sum = 0;
    for (std::size_t i = 0; i < pairs; ++i) {
        record.bytes[i] = static_cast<std::uint8_t>(hexValue(digits[2 * i]) * 16 + hexValue(digits[2 * i + 1]));
        sum += record.bytes[i];
    }
    const unsigned given = record.bytes[pairs - 1];
    sum -= given;
    const unsigned wanted = (intelHex ? 0x100U - (sum & 0xFFU) : ~sum) & 0xFFU;
    if (given != wanted) {
        problem = at(lineNumber) + "bad checksum (" + hex(given) + ", the record's bytes call for " + hex(wanted) + ")";
        return std::nullopt;
    }
    return record;
}

std::uint32_t bigEndian(Bytes bytes) {
    return std::accumulate(bytes.begin(), bytes.end(), std::uint32_t{0},
                           [](std::uint32_t value, std::uint8_t byte) { return (value << 8U) | byte; });
}

// The data records of a text file, gathered in file order and then laid out
// by address. Their bytes sit in one buffer, reserved once: the data can be
// no more than half the file's characters.
class Gatherer {
public:
    explicit Gatherer(std::size_t contentSize) { data.reserve(contentSize / 2); }

    bool add(std::uint64_t address, Bytes bytes, std::size_t line, std::string& problem) {
        if (bytes.empty()) {
            return true;
        }
        if (address + bytes.size() > addressSpace) {
            problem = at(line) + "the record's " + std::to_string(bytes.size()) + " bytes at " + hex(address) +
                      " run past the 4 GiB a 32-bit address reaches";
            return false;
        }
        pending.push_back(
            {static_cast<std::uint32_t>(address), static_cast<std::uint32_t>(bytes.size()), line, data.size()});
        data.insert(data.end(), bytes.begin(), bytes.end());
        return true;
    }

    std::optional<Image> finish(ImageFormat format, std::string& problem) {
        std::sort(pending.begin(), pending.end(), [](const Pending& a, const Pending& b) {
            return a.address != b.address ? a.address < b.address : a.line < b.line;
        });
        Image image;
        image.format = format;
        image.records.reserve(pending.size());
        for (const Pending& record : pending) {
            image.records.push_back({record.address, record.size, record.line});
        }
        for (std::size_t first = 0; first < pending.size();) {
            std::uint64_t end = endOf(pending[first]);
            std::size_t last = first + 1;
            while (last < pending.size() && pending[last].address <= end) {
                end = std::max(end, endOf(pending[last]));
                ++last;
            }
            if (!addChunk(image, first, last, end, problem)) {
                return std::nullopt;
            }
            first = last;
        }
        return image;
    }

private:
    struct Pending {
        std::uint32_t address;
        std::uint32_t size;
        std::size_t line;
        std::size_t offset;
    };

    static std::uint64_t endOf(const Pending& record) { return std::uint64_t{record.address} + record.size; }

    // Records [first, last), which overlap or touch one after the other, as
    // one chunk ending at `end`; where two give the same byte, they must agree.
    bool addChunk(Image& image, std::size_t first, std::size_t last, std::uint64_t end, std::string& problem) {
        ImageChunk chunk;
        chunk.address = pending[first].address;
        chunk.firstLine = pending[first].line;
        chunk.bytes.resize(static_cast<std::size_t>(end - chunk.address));
        std::uint64_t filled = chunk.address;
        for (std::size_t i = first; i < last; ++i) {
            const Pending& record = pending[i];
            for (std::uint64_t address = record.address; address < endOf(record); ++address) {
                const std::uint8_t byte = data[record.offset + (address - record.address)];
                std::uint8_t& target = chunk.bytes[address - chunk.address];
                if (address >= filled) {
                    target = byte;
                } else if (target != byte) {
                    problem = conflict(first, i, address, byte, target);
                    return false;
                }
            }
            filled = std::max(filled, endOf(record));
        }
        image.chunks.push_back(std::move(chunk));
        return true;
    }

    // Record `later` gives `byte` at `address`, where an earlier record of
    // the chunk, from `first` on, gave `held`.
    [[nodiscard]] std::string conflict(std::size_t first, std::size_t later, std::uint64_t address, std::uint8_t byte,
                                       std::uint8_t held) const {
        std::size_t earlier = first;
        while (!(pending[earlier].address <= address && address < endOf(pending[earlier]))) {
            ++earlier;
        }
        std::size_t lineOfByte = pending[later].line;
        std::size_t otherLine = pending[earlier].line;
        if (lineOfByte < otherLine) {
            std::swap(lineOfByte, otherLine);
            std::swap(byte, held);
        }
        return at(lineOfByte) + "the byte at " + hex(address) + " is " + hex(byte) + ", but line " +
               std::to_string(otherLine) + " gives it " + hex(held);
    }

    std::vector<std::uint8_t> data;
    std::vector<Pending> pending;
};

// A line after the one that ends the file, which only blank lines may follow.
std::string afterEnd(std::size_t line, const char* record, std::size_t endLine) {
    return at(line) + "there is more after the " + record + " on line " + std::to_string(endLine);
}

std::optional<Image> readIntelHex(Bytes content, std::string& problem) {
    enum Type : std::uint8_t { data, endOfFile, segmentBase, segmentStart, linearBase, linearStart };
    Gatherer gatherer(content.size());
    LineReader lines(textOf(content));
    std::uint64_t base = 0;
    std::size_t endLine = 0;
    while (lines.next()) {
        const std::size_t number = lines.number();
        if (lines.blank()) {
            continue;
        }
        if (endLine != 0) {
            problem = afterEnd(number, "end-of-file record", endLine);
            return std::nullopt;
        }
        const Bytes line = lines.text();
        if (line[0] != ':') {
            problem = at(number) + "an Intel HEX record starts with ':', this line with " + describe(line[0]);
            return std::nullopt;
        }
        const auto record = decodeRecord(line, 1, {ImageFormat::IntelHex, 5}, number, problem);
        if (!record) {
            return std::nullopt;
        }
        const Bytes bytes = record->all();
        const std::uint32_t offset = bigEndian(bytes.subspan(1, 2));
        const Bytes payload = bytes.subspan(4, record->count());
        const auto needs = [&](const char* name, std::size_t size) {
            if (payload.size() == size) {
                return true;
            }
            problem = at(number) + "an " + name + " record holds " + std::to_string(size) + " bytes, this one " +
                      std::to_string(payload.size());
            return false;
        };
        switch (bytes[3]) {
        case data:
            if (!gatherer.add(base + offset, payload, number, problem)) {
                return std::nullopt;
            }
            break;
        case endOfFile:
            if (!needs("end-of-file", 0)) {
                return std::nullopt;
            }
            endLine = number;
            break;
        case segmentBase:
            if (!needs("extended segment address", 2)) {
                return std::nullopt;
            }
            base = std::uint64_t{bigEndian(payload)} << 4U;
            break;
        case linearBase:
            if (!needs("extended linear address", 2)) {
                return std::nullopt;
            }
            base = std::uint64_t{bigEndian(payload)} << 16U;
            break;
        case segmentStart:
        case linearStart:
            // Where a processor would start running: nothing for a chip.
            break;
        default:
            problem = at(number) + "record type " + hex(bytes[3]) + " is not an Intel HEX type (00 to 05)";
            return std::nullopt;
        }
    }
    if (endLine == 0) {
        problem = "the file ends without an end-of-file record (type 01), so it may be cut short";
        return std::nullopt;
    }
    return gatherer.finish(ImageFormat::IntelHex, problem);
}

std::optional<Image> readSRecords(Bytes content, std::string& problem) {
    // Address bytes of S0 to S9; S4 is reserved.
    constexpr std::array<std::size_t, 10> addressBytes = {2, 2, 3, 4, 0, 2, 3, 4, 3, 2};
    Gatherer gatherer(content.size());
    LineReader lines(textOf(content));
    std::size_t dataRecords = 0;
    std::size_t endLine = 0;
    while (lines.next()) {
        const std::size_t number = lines.number();
        if (lines.blank()) {
            continue;
        }
        if (endLine != 0) {
            problem = afterEnd(number, "termination record", endLine);
            return std::nullopt;
        }
        const Bytes line = lines.text();
        if (line[0] != 'S') {
            problem = at(number) + "an S-record starts with 'S', this line with " + describe(line[0]);
            return std::nullopt;
        }
        if (line.size() < 2 || std::isdigit(line[1]) == 0) {
            problem = at(number) + "an S-record's S is followed by its type, a digit from 0 to 9";
            return std::nullopt;
        }
        const auto type = static_cast<std::size_t>(line[1] - '0');
        if (type == 4) {
            problem = at(number) + "S4 is a reserved record type, which no S-record file holds";
            return std::nullopt;
        }
        const std::size_t addressSize = addressBytes.at(type);
        const auto record = decodeRecord(line, 2, {ImageFormat::SRecord, 1 + addressSize + 1}, number, problem);
        if (!record) {
            return std::nullopt;
        }
        const Bytes bytes = record->all();
        const std::uint32_t address = bigEndian(bytes.subspan(1, addressSize));
        const Bytes payload = bytes.subspan(1 + addressSize, bytes.size() - addressSize - 2);
        if (type >= 1 && type <= 3) {
            ++dataRecords;
            if (!gatherer.add(address, payload, number, problem)) {
                return std::nullopt;
            }
        } else if ((type == 5 || type == 6) && address != dataRecords) {
            problem = at(number) + "the record count says " + std::to_string(address) + " data records, but " +
                      std::to_string(dataRecords) + " come before it";
            return std::nullopt;
        } else if (type >= 7) {
            endLine = number;
        }
    }
    if (endLine == 0) {
        problem = "the file ends without a termination record (S7, S8 or S9), so it may be cut short";
        return std::nullopt;
    }
    return gatherer.finish(ImageFormat::SRecord, problem);
}

std::optional<Image> readRaw(Bytes content, std::string& problem) {
    Image image;
    if (content.empty()) {
        return image;
    }
    if (std::cmp_greater_equal(content.size(), addressSpace)) {
        problem = "the file holds 4 GiB or more, beyond what a 32-bit address reaches";
        return std::nullopt;
    }
    const auto size = static_cast<std::uint32_t>(content.size());
    image.chunks.push_back({0, {content.begin(), content.end()}, 0});
    image.records.push_back({0, size, 0});
    return image;
}

}  // namespace

std::optional<ImageFormat> parseImageFormat(std::string_view name) {
    constexpr std::array<std::pair<std::string_view, ImageFormat>, 4> names = {{{"auto", ImageFormat::Auto},
                                                                                {"raw", ImageFormat::Raw},
                                                                                {"ihex", ImageFormat::IntelHex},
                                                                                {"srec", ImageFormat::SRecord}}};
    for (const auto& [text, format] : names) {
        if (std::equal(name.begin(), name.end(), text.begin(), text.end(),
                       [](char a, char b) { return std::tolower(static_cast<unsigned char>(a)) == b; })) {
            return format;
        }
    }
    return std::nullopt;
}

const char* imageFormatName(ImageFormat format) {
    switch (format) {
    case ImageFormat::Raw:
        return "raw binary";
    case ImageFormat::IntelHex:
        return "Intel HEX";
    case ImageFormat::SRecord:
        return "Motorola S-record";
    case ImageFormat::Auto:
        break;
    }
    return "detected format";
}

std::uint64_t Image::byteCount() const {
    return std::accumulate(chunks.begin(), chunks.end(), std::uint64_t{0},
                           [](std::uint64_t sum, const ImageChunk& chunk) { return sum + chunk.bytes.size(); });
}

std::uint64_t Image::end() const {
    if (chunks.empty()) {
        return 0;
    }
    const ImageChunk& last = chunks.back();
    return last.address + static_cast<std::uint64_t>(last.bytes.size());
}

ImageFormat detectImageFormat(std::span<const std::uint8_t> content) {
    LineReader lines(textOf(content));
    while (lines.next()) {
        if (lines.blank()) {
            continue;
        }
        const Bytes line = lines.text();
        if (line[0] == ':' && hexPairs(line.subspan(1), 1)) {
            return ImageFormat::IntelHex;
        }
        if (line.size() >= 2 && line[0] == 'S' && std::isdigit(line[1]) != 0 && hexPairs(line.subspan(2), 1)) {
            return ImageFormat::SRecord;
        }
        break;
    }
    return ImageFormat::Raw;
}

std::optional<Image> readImage(std::span<const std::uint8_t> content, ImageFormat format, std::string& problem) {
    switch (format == ImageFormat::Auto ? detectImageFormat(content) : format) {
    case ImageFormat::IntelHex:
        return readIntelHex(content, problem);
    case ImageFormat::SRecord:
        return readSRecords(content, problem);
    case ImageFormat::Raw:
    case ImageFormat::Auto:
        break;
    }
    return readRaw(content, problem);
}

bool imageFitsChip(const Image& image, std::uint32_t chipSize, std::string& problem) {
    if (image.end() <= chipSize) {
        return true;
    }
    const auto past = std::find_if(image.records.begin(), image.records.end(), [chipSize](const ImageRecord& record) {
        return std::uint64_t{record.address} + record.size > chipSize;
    });
    if (past == image.records.end() || past->line == 0) {
        problem = "the file holds " + std::to_string(image.end()) + " bytes, more than the chip's " +
                  std::to_string(chipSize);
    } else {
        problem = at(past->line) + "a record at " + hex(past->address) + " runs past the chip's end (it holds " +
                  hex(chipSize) + " bytes)";
    }
    return false;
}
