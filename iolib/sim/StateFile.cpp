#include "iolib/sim/StateFile.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <system_error>
#include <vector>

namespace flashsim {

namespace {

constexpr const char* header = "flashlock-sim-state 1";
constexpr std::size_t rowLength = 16;

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

}  // namespace

std::string formatState(const Chip& chip) {
    std::ostringstream out;
    out << header << "\n# The simulated chip's lock bits and array content; rewritten after every change.\n";
    out << "chip " << chip.model().name << '\n';
    std::string locked;
    for (std::uint32_t block = 0; block < chip.model().blockCount; ++block) {
        if (chip.isLocked(block)) {
            locked += ' ' + std::to_string(block);
        }
    }
    if (!locked.empty()) {
        out << "locked" << locked << '\n';
    }
    const std::vector<std::uint8_t>& array = chip.array();
    for (std::size_t row = 0; row < array.size(); row += rowLength) {
        const auto begin = array.begin() + static_cast<std::ptrdiff_t>(row);
        const auto end = begin + static_cast<std::ptrdiff_t>(std::min(rowLength, array.size() - row));
        if (std::all_of(begin, end, [](std::uint8_t byte) { return byte == 0xFF; })) {
            continue;
        }
        out << "array " << hex(static_cast<unsigned>(row), 6);
        for (auto at = begin; at != end; ++at) {
            out << ' ' << hex(*at, 2);
        }
        out << '\n';
    }
    return out.str();
}

std::optional<std::string> parseState(std::istream& text, Chip& chip) {
    const ChipModel& model = chip.model();
    std::string line;
    int number = 0;
    bool sawHeader = false;
    bool sawChip = false;
    while (std::getline(text, line)) {
        ++number;
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
            for (std::string word; words >> word;) {
                const auto block = parseNumber(word, 10, model.blockCount);
                if (!block) {
                    return lineError(number, "\"" + word + "\" is no block number of this chip (0 to " +
                                                 std::to_string(model.blockCount) + " - 1)");
                }
                chip.setLocked(*block, true);
            }
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
                if (!byte || word.size() != 2 || bytes.size() == rowLength) {
                    return lineError(number, "expected up to 16 bytes of two hexadecimal digits each");
                }
                bytes.push_back(static_cast<std::uint8_t>(*byte));
            }
            if (*address + bytes.size() > model.size) {
                return lineError(number, "the bytes run past the end of the array");
            }
            chip.loadArray(*address, bytes);
        } else {
            return lineError(number, "unknown entry \"" + keyword + "\"");
        }
    }
    if (!sawChip) {
        return std::string(sawHeader ? "no \"chip NAME\" line" : "empty file");
    }
    return std::nullopt;
}

std::optional<std::string> loadStateFile(const std::filesystem::path& path, Chip& chip) {
    std::error_code error;
    if (!std::filesystem::exists(path, error)) {
        const std::filesystem::path folder = path.parent_path();
        if (!folder.empty() && !std::filesystem::is_directory(folder, error)) {
            return std::string("its folder does not exist");
        }
        return std::nullopt;
    }
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return std::string("cannot be read");
    }
    return parseState(file, chip);
}

std::optional<std::string> saveStateFile(const std::filesystem::path& path, const Chip& chip) {
    std::filesystem::path temporary = path;
    temporary += ".tmp";
    {
        std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
        file << formatState(chip);
        file.close();
        if (!file) {
            return "cannot write " + temporary.string();
        }
    }
    std::error_code error;
    std::filesystem::rename(temporary, path, error);
    if (error) {
        std::string reason = "cannot replace it: " + error.message();
        std::filesystem::remove(temporary, error);
        return reason;
    }
    return std::nullopt;
}

}  // namespace flashsim
