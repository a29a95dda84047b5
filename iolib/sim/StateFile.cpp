#include "iolib/sim/StateFile.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <system_error>
#include <vector>

namespace flashsim {

namespace {

constexpr const char* header = "flashlock-sim-state 1";
constexpr std::string_view byteOrderMark = "\xEF\xBB\xBF";
constexpr std::size_t imageChunk = std::size_t{1} << 16U;
// More links than this in a row are taken to be a loop.
constexpr int linkLimit = 40;

std::string hex(unsigned value, int digits) {
    std::array<char, 16> text{};
    // NOLINTNEXTLINE(cppcoreguidelines-pro-type-vararg,hicpp-vararg)
    const int length = std::snprintf(text.data(), text.size(), "%0*X", digits, value);
    return {text.data(), static_cast<std::size_t>(length)};
}

std::optional<std::uint32_t> parseNumber(const std::string& word, int base, std::uint32_t limit) {
    if (word.empty() || word.size() > 8) {
        return std::nullopt;
    }
    std::uint32_t value = 0;
    for (const char c : word) {
        int digit = -1;
        if (c >= '0' && c <= '9') {
            digit = c - '0';
        } else if (base == 16 && c >= 'a' && c <= 'f') {
            digit = c - 'a' + 10;
        } else if (base == 16 && c >= 'A' && c <= 'F') {
            digit = c - 'A' + 10;
        }
        if (digit < 0 || digit >= base) {
            return std::nullopt;
        }
        value = value * static_cast<std::uint32_t>(base) + static_cast<std::uint32_t>(digit);
    }
    if (value >= limit) {
        return std::nullopt;
    }
    return value;
}

std::string lineError(int number, const std::string& what) {
    return "line " + std::to_string(number) + ": " + what;
}

std::string systemMessage(int error) {
    return std::generic_category().message(error);
}

// A line of at most stateLineLimit characters; a longer one is an error, not
// a reason to keep reading without end.
enum class LineRead { Line, End, TooLong };

LineRead readLine(std::istream& in, std::string& line) {
    line.clear();
    std::streambuf* buffer = in.rdbuf();
    for (;;) {
        const int c = buffer->sbumpc();
        if (c == std::char_traits<char>::eof()) {
            return line.empty() ? LineRead::End : LineRead::Line;
        }
        if (c == '\n') {
            return LineRead::Line;
        }
        if (line.size() == stateLineLimit) {
            return LineRead::TooLong;
        }
        line.push_back(static_cast<char>(c));
    }
}

// Raw bytes from address 0 on; `whole` tells whether they filled the chip.
std::optional<std::string> loadImage(const std::filesystem::path& path, Chip& chip, bool* whole = nullptr) {
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(path, error);
    if (!std::filesystem::exists(status)) {
        return "\"" + path.string() + "\" does not exist";
    }
    if (!std::filesystem::is_regular_file(status)) {
        return "\"" + path.string() + "\" is " + fileKind(status) + ", not a file of raw bytes";
    }
    const std::uintmax_t size = std::filesystem::file_size(path, error);
    if (error) {
        return "\"" + path.string() + "\" cannot be read: " + error.message();
    }
    if (size > chip.array().size()) {
        return "\"" + path.string() + "\" holds " + std::to_string(size) + " bytes, more than the chip's " +
               std::to_string(chip.array().size());
    }
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return "\"" + path.string() + "\" cannot be read: " + systemMessage(errno);
    }
    std::vector<char> chunk(imageChunk);
    std::uint32_t address = 0;
    while (address < size) {
        const auto wanted = static_cast<std::streamsize>(std::min<std::uintmax_t>(chunk.size(), size - address));
        file.read(chunk.data(), wanted);
        if (file.gcount() != wanted) {
            return "\"" + path.string() + "\" ended early while it was read";
        }
        chip.loadImage(address, chunk.data(), static_cast<std::size_t>(wanted));
        address += static_cast<std::uint32_t>(wanted);
    }
    if (whole != nullptr) {
        *whole = size == chip.array().size();
    }
    return std::nullopt;
}

// The rest of the line after its keyword, without blanks around it.
std::string fileName(std::istringstream& words) {
    std::string name;
    std::getline(words >> std::ws, name);
    while (!name.empty() && (name.back() == ' ' || name.back() == '\t')) {
        name.pop_back();
    }
    return name;
}

std::filesystem::path within(const std::filesystem::path& folder, const std::string& name) {
    const std::filesystem::path relative(name);
    return relative.is_absolute() ? relative : folder / relative;
}

std::filesystem::path uniqueTemporary(const std::filesystem::path& target) {
    // Several runs, even in several processes, may save beside one target:
    // each takes a name of its own.
    std::random_device entropy;
    const auto ticks = static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    std::mt19937_64 generator(entropy() ^ ticks);
    std::filesystem::path candidate;
    std::error_code error;
    do {
        candidate = target;
        candidate += "." + hex(static_cast<unsigned>(generator() & 0xFFFFFFFFU), 8) + ".tmp";
    } while (std::filesystem::exists(std::filesystem::symlink_status(candidate, error)));
    return candidate;
}

}  // namespace

bool samePlace(const std::filesystem::path& a, const std::filesystem::path& b) {
    std::error_code first;
    std::error_code second;
    if (std::filesystem::equivalent(a, b, first)) {
        return true;
    }
    const std::filesystem::path left = std::filesystem::weakly_canonical(a, first);
    const std::filesystem::path right = std::filesystem::weakly_canonical(b, second);
    return !first && !second && left == right;
}

std::string fileKind(const std::filesystem::file_status& status) {
    switch (status.type()) {
    case std::filesystem::file_type::directory:
        return "a folder";
    case std::filesystem::file_type::fifo:
        return "a FIFO";
    case std::filesystem::file_type::character:
    case std::filesystem::file_type::block:
        return "a device";
    case std::filesystem::file_type::socket:
        return "a socket";
    default:
        return "no regular file";
    }
}

bool writeState(std::ostream& out, const Chip& chip, const ArraySource& source) {
    out << header << "\n# The simulated chip's lock bits and array content; rewritten after every change.\n";
    out << "chip " << chip.model().name << '\n';
    if (!source.content.empty()) {
        out << "content " << source.content << '\n';
    } else if (!source.image.empty()) {
        out << "image " << source.image << '\n';
    }
    const bool underlaid = !source.content.empty() || !source.image.empty();
    std::string locked;
    // An AMD-set part's protection comes from the configuration, not from
    // its state: no bus command changes it.
    const std::uint32_t lockBits = chip.model().commandSet == CommandSet::Intel ? chip.model().blockCount : 0;
    for (std::uint32_t block = 0; block < lockBits; ++block) {
        if (chip.isLocked(block)) {
            locked += ' ' + std::to_string(block);
        }
    }
    if (!locked.empty()) {
        out << "locked" << locked << '\n';
    }
    const std::vector<std::uint8_t>& array = chip.array();
    std::string line;
    // Only rows that array lines gave can hold anything but erased flash (an
    // image or content file is kept by its own line): the rest is never
    // looked at, which keeps a save of a 16 MiB chip cheap enough to make
    // after every lock change.
    for (const std::uint32_t given : chip.givenRowNumbers()) {
        if (!out) {
            break;
        }
        const std::size_t row = std::size_t{given} * Chip::rowLength;
        const auto begin = array.begin() + static_cast<std::ptrdiff_t>(row);
        const auto end =
            begin + static_cast<std::ptrdiff_t>(std::min<std::size_t>(Chip::rowLength, array.size() - row));
        if (!underlaid && std::all_of(begin, end, [](std::uint8_t byte) { return byte == 0xFF; })) {
            continue;
        }
        line = "array " + hex(static_cast<unsigned>(row), 6);
        for (auto at = begin; at != end; ++at) {
            line += ' ';
            line += hex(*at, 2);
        }
        line += '\n';
        out << line;
    }
    return static_cast<bool>(out);
}

std::string formatState(const Chip& chip, const ArraySource& source) {
    std::ostringstream out;
    writeState(out, chip, source);
    return out.str();
}

std::optional<std::string> parseState(std::istream& text, Chip& chip, const std::filesystem::path& folder,
                                      ArraySource* source, const std::filesystem::path& contentFolder) {
    const ChipModel& model = chip.model();
    std::string line;
    int number = 0;
    bool sawHeader = false;
    bool sawChip = false;
    bool sawImage = false;
    bool sawArray = false;
    for (LineRead read = readLine(text, line); read != LineRead::End; read = readLine(text, line)) {
        ++number;
        if (read == LineRead::TooLong) {
            return lineError(number,
                             "longer than " + std::to_string(stateLineLimit) + " characters; is this a state file?");
        }
        if (number == 1 && line.starts_with(byteOrderMark)) {
            line.erase(0, byteOrderMark.size());
        }
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        std::istringstream words(line);
        std::string keyword;
        if (!(words >> keyword) || keyword[0] == '#') {
            continue;
        }
        if (!sawHeader) {
            if (line != header) {
                return lineError(number, "expected \"" + std::string(header) + "\"");
            }
            sawHeader = true;
            continue;
        }
        if (keyword == "chip") {
            std::string name;
            words >> name;
            const std::optional<ChipModel> named = findChip(name);
            if (!named || named->name != model.name) {
                return lineError(number, "the file holds the state of chip \"" + name + "\", not of " + model.name +
                                             "; give each chip its own state file");
            }
            sawChip = true;
        } else if (!sawChip) {
            return lineError(number, "expected \"chip NAME\" first");
        } else if (keyword == "locked") {
            if (model.commandSet != CommandSet::Intel) {
                return lineError(number, "the " + model.name +
                                             " is an AMD-set part, which has no lock bits; protect its sectors with "
                                             "FLASHLOCK_SIM_PROTECTED instead");
            }
            for (std::string word; words >> word;) {
                const auto block = parseNumber(word, 10, model.blockCount);
                if (!block) {
                    return lineError(number, "\"" + word + "\" is no block number of this chip (0 to " +
                                                 std::to_string(model.blockCount) + " - 1)");
                }
                chip.setLocked(*block, true);
            }
        } else if (keyword == "image" || keyword == "content") {
            const std::string name = fileName(words);
            if (sawImage || sawArray) {
                return lineError(number, "one image or content line only, and before the array lines");
            }
            if (name.empty()) {
                return lineError(number, "expected \"" + keyword + " FILE\"");
            }
            const bool content = keyword == "content";
            bool whole = false;
            const std::filesystem::path& base = content && !contentFolder.empty() ? contentFolder : folder;
            if (auto problem = loadImage(within(base, name), chip, &whole)) {
                return lineError(number, keyword + " " + *problem);
            }
            if (source != nullptr) {
                (content ? source->content : source->image) = name;
                source->contentWhole = content && whole;
            }
            sawImage = true;
        } else if (keyword == "array") {
            std::string word;
            words >> word;
            const auto address = parseNumber(word, 16, model.size);
            if (!address) {
                return lineError(number, "\"" + word + "\" is no array address of this chip");
            }
            std::vector<std::uint8_t> bytes;
            while (words >> word) {
                const auto byte = parseNumber(word, 16, 0x100);
                if (!byte || word.size() != 2 || bytes.size() == Chip::rowLength) {
                    return lineError(number, "expected up to 16 bytes of two hexadecimal digits each");
                }
                bytes.push_back(static_cast<std::uint8_t>(*byte));
            }
            if (*address + bytes.size() > model.size) {
                return lineError(number, "the bytes run past the end of the array");
            }
            chip.loadArray(*address, bytes);
            sawArray = true;
            if (source != nullptr) {
                // Rows on top of the content file: a change folds them in first.
                source->contentWhole = false;
            }
        } else {
            return lineError(number, "unknown entry \"" + keyword + "\"");
        }
    }
    if (text.bad()) {
        return std::string("cannot be read to its end");
    }
    if (sawHeader && !sawChip) {
        return std::string("no \"chip NAME\" line");
    }
    // Nothing at all (a file made with touch): no state yet.
    return std::nullopt;
}

std::optional<std::string> loadStateFile(const std::filesystem::path& path, Chip& chip, ArraySource* source) {
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(path, error);
    if (!std::filesystem::exists(status)) {
        const std::filesystem::path folder = stateTarget(path).parent_path();
        if (!folder.empty() && !std::filesystem::is_directory(folder, error)) {
            return std::string("its folder does not exist");
        }
        return std::nullopt;
    }
    if (std::filesystem::is_directory(status)) {
        return std::string("is a folder; name a file, new or one this simulator wrote");
    }
    if (!std::filesystem::is_regular_file(status)) {
        return "is " + fileKind(status) + ", not a state file; name a regular file";
    }
    const std::uintmax_t size = std::filesystem::file_size(path, error);
    if (error || size > stateFileLimit) {
        return "is larger than a state file can be (" + std::to_string(stateFileLimit >> 20U) +
               " MiB); is it the right file?";
    }
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return "cannot be read: " + systemMessage(errno);
    }
    return parseState(file, chip, path.parent_path(), source, stateTarget(path).parent_path());
}

std::filesystem::path stateTarget(const std::filesystem::path& path) {
    std::filesystem::path target = path;
    std::error_code error;
    for (int hop = 0; hop < linkLimit && std::filesystem::is_symlink(target, error); ++hop) {
        const std::filesystem::path link = std::filesystem::read_symlink(target, error);
        if (error) {
            break;
        }
        target = link.is_absolute() ? link : target.parent_path() / link;
    }
    return target;
}

namespace {

// Writes a temporary file of a unique name beside the target and renames it
// over the target: a crash leaves either the old file or the new one.
std::optional<std::string> replaceFile(const std::filesystem::path& target,
                                       const std::function<bool(std::ostream&)>& write) {
    std::error_code error;
    std::filesystem::path temporary;
    try {
        temporary = uniqueTemporary(target);
        std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
        if (!file) {
            return "cannot write " + temporary.string() + ": " + systemMessage(errno);
        }
        const bool written = write(file);
        file.close();
        if (!written || !file) {
            std::filesystem::remove(temporary, error);
            return "cannot write " + temporary.string() + " to its end (is the disk full?)";
        }
    } catch (const std::exception& failure) {
        if (!temporary.empty()) {
            std::filesystem::remove(temporary, error);
        }
        return std::string("cannot write the new file: ") + failure.what();
    }
    const std::filesystem::file_status old = std::filesystem::status(target, error);
    if (std::filesystem::exists(old)) {
        std::filesystem::permissions(temporary, old.permissions(), error);
    }
    std::filesystem::rename(temporary, target, error);
    if (error) {
        std::string reason = "cannot replace it: " + error.message();
        std::filesystem::remove(temporary, error);
        return reason;
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::string> saveStateFile(const std::filesystem::path& path, const Chip& chip,
                                         const ArraySource& source) {
    return replaceFile(stateTarget(path), [&](std::ostream& out) { return writeState(out, chip, source); });
}

std::filesystem::path imagePath(const std::filesystem::path& path, const ArraySource& source) {
    return source.image.empty() ? std::filesystem::path() : within(path.parent_path(), source.image);
}

std::string contentName(const std::filesystem::path& path, const ArraySource& source) {
    if (!source.content.empty()) {
        return source.content;
    }
    const std::filesystem::path target = stateTarget(path);
    std::string name = target.filename().string() + ".content";
    // The image is only ever read: an image named like the content file
    // must not become it.
    const std::filesystem::path image = imagePath(path, source);
    if (!image.empty() && samePlace(target.parent_path() / name, image)) {
        name += "-own";
    }
    return name;
}

std::filesystem::path contentPath(const std::filesystem::path& path, const ArraySource& source) {
    return within(stateTarget(path).parent_path(), contentName(path, source));
}

std::optional<std::string> writeContentFile(const std::filesystem::path& path, const Chip& chip) {
    return replaceFile(path, [&chip](std::ostream& out) {
        const std::vector<std::uint8_t>& array = chip.array();
        // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast)
        out.write(reinterpret_cast<const char*>(array.data()), static_cast<std::streamsize>(array.size()));
        return static_cast<bool>(out);
    });
}

}  // namespace flashsim
