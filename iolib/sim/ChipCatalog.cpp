#include "iolib/sim/ChipCatalog.h"

#include <algorithm>
#include <cctype>

namespace flashsim {

namespace {

enum class Family { J3, J5, StMicro };

struct PartFacts {
    std::string_view name;
    Family family;
    std::uint8_t manufacturer;
    std::uint8_t device;
    std::uint8_t sizeExponent;  // size = 2^n bytes
};

constexpr std::uint8_t intel = 0x89;
constexpr std::uint8_t stMicro = 0x20;

constexpr std::array<PartFacts, 7> parts = {{
    {"28F320J5", Family::J5, intel, 0x14, 22},
    {"28F640J5", Family::J5, intel, 0x15, 23},
    {"28F320J3", Family::J3, intel, 0x16, 22},
    {"28F640J3", Family::J3, intel, 0x17, 23},
    {"28F128J3", Family::J3, intel, 0x18, 24},
    {"M58LW032D", Family::StMicro, stMicro, 0x16, 22},
    {"M58LW064D", Family::StMicro, stMicro, 0x17, 23},
}};

void put(QueryTable& table, std::size_t offset, std::initializer_list<std::uint8_t> bytes) {
    std::copy(bytes.begin(), bytes.end(), table.begin() + static_cast<std::ptrdiff_t>(offset));
}

// The Intel J3 query layout, specialised by family and size. Every part here
// has one region of 128 KiB blocks.
QueryTable queryTable(Family family, std::uint8_t sizeExponent) {
    const bool fiveVolt = family == Family::J5;
    QueryTable table{};
    put(table, 0x10, {'Q', 'R', 'Y'});
    put(table, 0x13, {0x01, 0x00});              // Intel/Sharp extended command set
    put(table, 0x15, {0x31, 0x00});              // primary extended table at 0x31
    put(table, 0x17, {0x00, 0x00, 0x00, 0x00});  // no alternate command set
    if (fiveVolt) {
        put(table, 0x1B, {0x45, 0x55});  // Vcc 4.5 V to 5.5 V
    } else {
        // The ST parts' supply range is taken to be the J3's 2.7 V to 3.6 V:
        // no datasheet table confirmed their query bytes.
        put(table, 0x1B, {0x27, 0x36});
    }
    put(table, 0x1D, {0x00, 0x00});  // no Vpp pin
    // Typical and maximum timeouts (2^n): not confirmed by a datasheet table;
    // these are the values the J3 family is usually reported with.
    put(table, 0x1F, {0x07, 0x07, 0x0A, 0x00, 0x04, 0x04, 0x04, 0x00});
    const auto blocksMinusOne = static_cast<std::uint8_t>((1U << sizeExponent) / ChipModel::blockSize - 1U);
    put(table, 0x27, {sizeExponent});
    put(table, 0x28, {0x02, 0x00});  // x8/x16 asynchronous
    put(table, 0x2A, {0x05, 0x00});  // 32-byte write buffer
    put(table, 0x2C, {0x01});        // one erase block region
    put(table, 0x2D, {blocksMinusOne, 0x00, 0x00, 0x02});
    put(table, 0x31, {'P', 'R', 'I', '1', '1'});
    // Optional features, unconfirmed: 0x0A (erase suspend, legacy lock and
    // unlock) is the plausible J3 value.
    put(table, 0x36, {0x0A, 0x00, 0x00, 0x00});
    put(table, 0x3A, {0x01});
    put(table, 0x3B, {0x01, 0x00});
    put(table, 0x3D, {fiveVolt ? std::uint8_t{0x50} : std::uint8_t{0x33}, 0x00});
    put(table, 0x3F, {0x01});
    put(table, 0x40, {0x80, 0x00, 0x03, 0x03});
    // Page-mode read capability, unconfirmed: 0x03 (8-byte page), then nothing.
    put(table, 0x44, {0x03});
    return table;
}

ChipModel fromFacts(const PartFacts& facts) {
    ChipModel chip;
    chip.name = std::string(facts.name);
    chip.manufacturer = facts.manufacturer;
    chip.device = facts.device;
    chip.size = 1U << facts.sizeExponent;
    chip.blockCount = chip.size / ChipModel::blockSize;
    chip.query = queryTable(facts.family, facts.sizeExponent);
    chip.masterLockBit = facts.family == Family::J5;
    return chip;
}

bool sameIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

std::optional<std::uint16_t> parseIdentifierWord(std::string_view text) {
    if (text.size() != 4) {
        return std::nullopt;
    }
    std::uint16_t word = 0;
    for (const char c : text) {
        const int digit = std::isdigit(static_cast<unsigned char>(c)) != 0 ? c - '0'
                          : std::isxdigit(static_cast<unsigned char>(c)) != 0
                              ? std::tolower(static_cast<unsigned char>(c)) - 'a' + 10
                              : -1;
        if (digit < 0) {
            return std::nullopt;
        }
        word = static_cast<std::uint16_t>((word << 4U) | static_cast<unsigned>(digit));
    }
    return word;
}

}  // namespace

std::optional<ChipModel> findChip(std::string_view text) {
    const auto* named = std::find_if(parts.begin(), parts.end(),
                                     [text](const PartFacts& facts) { return sameIgnoringCase(text, facts.name); });
    if (named != parts.end()) {
        return fromFacts(*named);
    }
    if (sameIgnoringCase(text, "empty")) {
        ChipModel socket;
        socket.name = "empty";
        socket.present = false;
        return socket;
    }
    const std::optional<std::uint16_t> word = parseIdentifierWord(text);
    if (!word) {
        return std::nullopt;
    }
    const auto manufacturer = static_cast<std::uint8_t>(*word & 0xFFU);
    const auto device = static_cast<std::uint8_t>(*word >> 8U);
    const auto* coded = std::find_if(parts.begin(), parts.end(), [manufacturer, device](const PartFacts& facts) {
        return facts.manufacturer == manufacturer && facts.device == device;
    });
    if (coded != parts.end()) {
        return fromFacts(*coded);
    }
    // Nothing is known of such a part but its codes: it is taken to be a
    // 32-Mbit part with the J3's command set and query layout, answering its
    // own codes.
    ChipModel chip = fromFacts({"", Family::J3, manufacturer, device, 22});
    std::string name(text);
    std::transform(name.begin(), name.end(), name.begin(),
                   [](char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); });
    chip.name = name;
    return chip;
}

}  // namespace flashsim
