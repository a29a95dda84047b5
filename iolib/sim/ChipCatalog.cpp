#include "iolib/sim/ChipCatalog.h"

#include <algorithm>
#include <cctype>
#include <numeric>
#include <stdexcept>

namespace flashsim {

namespace {

enum class Family { J3, J5, StMicro };

struct PartFacts {
    std::string_view name;
    Family family;
    std::uint8_t manufacturer;
    std::uint8_t device;
    std::uint8_t sizeExponent;  // size = 2^n bytes
    std::uint32_t blockSize;
};

constexpr std::uint8_t intel = 0x89;
constexpr std::uint8_t stMicro = 0x20;
constexpr std::uint8_t amd = 0x01;
constexpr std::uint32_t kib = 1024;
constexpr std::uint32_t largeBlock = 128 * kib;

// This stands for any Intel-set part with 64 KiB blocks (such as the older
// FlashFile parts of 16 Mbit): no datasheet table at hand confirmed such a
// part's codes, so it has a generic name and a device code of our choosing.
constexpr PartFacts intel64k = {"intel-64k", Family::J3, intel, 0x64, 21, 64 * kib};

constexpr std::array<PartFacts, 8> intelParts = {{
    {"28F320J5", Family::J5, intel, 0x14, 22, largeBlock},
    {"28F640J5", Family::J5, intel, 0x15, 23, largeBlock},
    {"28F320J3", Family::J3, intel, 0x16, 22, largeBlock},
    {"28F640J3", Family::J3, intel, 0x17, 23, largeBlock},
    {"28F128J3", Family::J3, intel, 0x18, 24, largeBlock},
    {"M58LW032D", Family::StMicro, stMicro, 0x16, 22, largeBlock},
    {"M58LW064D", Family::StMicro, stMicro, 0x17, 23, largeBlock},
    intel64k,
}};
// Only the seven parts the program names answer to an identifier word.
constexpr std::size_t partsByIdentifier = namedParts.size();

using Table = std::vector<std::uint8_t>;

void put(Table& table, std::size_t offset, std::initializer_list<std::uint8_t> bytes) {
    if (table.size() < offset + bytes.size()) {
        table.resize(offset + bytes.size(), 0x00);
    }
    std::copy(bytes.begin(), bytes.end(), table.begin() + static_cast<std::ptrdiff_t>(offset));
}

std::uint8_t low(std::uint32_t value) {
    return static_cast<std::uint8_t>(value & 0xFFU);
}

std::uint8_t high(std::uint32_t value) {
    return static_cast<std::uint8_t>((value >> 8U) & 0xFFU);
}

// One erase region entry: (blocks - 1) and size / 256, both 16-bit LE.
void putRegion(Table& table, std::size_t offset, const EraseRegion& region) {
    const std::uint32_t units = region.size / 256U;
    put(table, offset, {low(region.count - 1U), high(region.count - 1U), low(units), high(units)});
}

std::uint8_t exponentOf(std::uint32_t size) {
    std::uint8_t exponent = 0;
    while ((std::uint32_t{1} << exponent) < size) {
        ++exponent;
    }
    return exponent;
}

// Up to 32 MiB: a part may hold more than the board's 24 address lines
// reach, and a test may put one in the socket.
std::uint32_t sizeOf(const std::vector<EraseRegion>& layout) {
    const std::uint64_t total = std::accumulate(
        layout.begin(), layout.end(), std::uint64_t{0},
        [](std::uint64_t sum, const EraseRegion& region) { return sum + std::uint64_t{region.count} * region.size; });
    if (total == 0 || total > (std::uint64_t{1} << 25U) || (total & (total - 1U)) != 0) {
        throw std::invalid_argument("the erase regions must add up to a power of two of at most 32 MiB");
    }
    return static_cast<std::uint32_t>(total);
}

// The Intel J3 query layout, specialised by family, size and blocks. Every
// part here has one region of equal blocks.
Table intelQueryTable(Family family, std::uint8_t sizeExponent, const EraseRegion& blocks) {
    const bool fiveVolt = family == Family::J5;
    Table table(queryTableLength, 0x00);
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
    put(table, 0x27, {sizeExponent});
    put(table, 0x28, {0x02, 0x00});  // x8/x16 asynchronous
    put(table, 0x2A, {0x05, 0x00});  // 32-byte write buffer
    put(table, 0x2C, {0x01});        // one erase block region
    putRegion(table, 0x2D, blocks);
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

void setLayoutFromQuery(ChipModel& chip, bool reversed) {
    chip.layout = regionsOf(chip.query, reversed);
    chip.blockCount = 0;
    for (const EraseRegion& region : chip.layout) {
        chip.blockCount += region.count;
    }
}

ChipModel fromFacts(const PartFacts& facts) {
    ChipModel chip;
    chip.name = std::string(facts.name);
    chip.manufacturer = facts.manufacturer;
    chip.device = facts.device;
    chip.size = 1U << facts.sizeExponent;
    chip.query = intelQueryTable(facts.family, facts.sizeExponent, {chip.size / facts.blockSize, facts.blockSize});
    chip.masterLockBit = facts.family == Family::J5;
    setLayoutFromQuery(chip, false);
    return chip;
}

// The AMD-set query table in byte mode: the CFI header, the system interface
// and geometry, and the primary extended table at 0x40 ("PRI" 1.x).
struct AmdTableFacts {
    std::vector<EraseRegion> regions;  // in the order the table lists them
    std::uint8_t sizeExponent;
    std::uint8_t bufferExponent;
    // Typical byte program (2^n us), buffer program (2^n us), sector erase
    // (2^n ms) and chip erase (2^n ms, 0: not given), then each maximum as
    // 2^n times the typical.
    std::array<std::uint8_t, 8> times;
    char priMinor;
    std::uint8_t process;        // PRI+5: address-sensitive unlock and process
    std::uint8_t protectScheme;  // PRI+9: 04 legacy, 08 advanced
    std::uint8_t temporaryUnprotect;
    std::uint8_t pageMode;            // PRI+0xC
    std::array<std::uint8_t, 2> acc;  // PRI+0xD, 0xE: ACC min/max, 0 without
    std::uint8_t bootFlag;            // PRI+0xF, from version 1.1 on
    std::uint8_t programSuspend;      // PRI+0x10, from version 1.3 on
};

Table amdQueryTable(const AmdTableFacts& facts) {
    Table table(queryTableLength, 0x00);
    put(table, 0x10, {'Q', 'R', 'Y'});
    put(table, 0x13, {0x02, 0x00});              // AMD/Fujitsu standard command set
    put(table, 0x15, {0x40, 0x00});              // primary extended table at 0x40
    put(table, 0x17, {0x00, 0x00, 0x00, 0x00});  // no alternate command set
    put(table, 0x1B, {0x27, 0x36, 0x00, 0x00});  // Vcc 2.7 V to 3.6 V, no Vpp
    put(table, 0x1F,
        {facts.times[0], facts.times[1], facts.times[2], facts.times[3], facts.times[4], facts.times[5], facts.times[6],
         facts.times[7]});
    put(table, 0x27, {facts.sizeExponent});
    put(table, 0x28, {0x02, 0x00});  // x8/x16
    put(table, 0x2A, {facts.bufferExponent, 0x00});
    put(table, 0x2C, {static_cast<std::uint8_t>(facts.regions.size())});
    for (std::size_t index = 0; index < facts.regions.size(); ++index) {
        putRegion(table, 0x2D + 4 * index, facts.regions[index]);
    }
    constexpr std::size_t pri = 0x40;
    put(table, pri, {'P', 'R', 'I', '1', static_cast<std::uint8_t>(facts.priMinor)});
    put(table, pri + 5,
        {facts.process,
         0x02,  // erase suspend: read and program
         0x01,  // sector protection one sector at a time
         facts.temporaryUnprotect, facts.protectScheme,
         0x00,  // no simultaneous operation
         0x00,  // no burst mode
         facts.pageMode, facts.acc[0], facts.acc[1]});
    if (facts.priMinor >= '1') {
        put(table, pri + 0xF, {facts.bootFlag});
    }
    if (facts.priMinor >= '3') {
        put(table, pri + 0x10, {facts.programSuspend});
    }
    return table;
}

ChipModel amdModel(std::string name, std::uint8_t manufacturer, const std::vector<std::uint8_t>& device,
                   const AmdTableFacts& facts, bool regionsReversed) {
    if (device.size() != 1 && device.size() != 3) {
        throw std::invalid_argument("an AMD-set device code is one byte, or 0x7E and two more");
    }
    ChipModel chip;
    chip.name = std::move(name);
    chip.commandSet = CommandSet::Amd;
    chip.manufacturer = manufacturer;
    chip.device = device.front();
    chip.moreDeviceBytes.assign(device.begin() + 1, device.end());
    chip.query = amdQueryTable(facts);
    setLayoutFromQuery(chip, regionsReversed);
    chip.size = sizeOf(chip.layout);
    return chip;
}

// Am29LV160D: one CFI table for the T and B parts, listing the bottom-boot
// order (believed identical to the M29FxxxFT/FB table that a datasheet
// prints). Its times are unverified: 2^4 = 16 us typical byte program (9 us
// in the datasheet's text), 2^10 ms = 1 s typical sector erase (0.7 s), each
// maximum within the datasheet's 300 us and 15 s; no chip erase time given.
AmdTableFacts lv160dTable() {
    return {{{1, 16 * kib}, {2, 8 * kib}, {1, 32 * kib}, {31, 64 * kib}},
            21,
            0x00,  // no write buffer
            {0x04, 0x00, 0x0A, 0x00, 0x05, 0x00, 0x04, 0x00},
            '0',
            0x00,  // unlock cycles required
            0x04,  // legacy high-voltage protection
            0x01,  // temporary unprotect through RESET#
            0x00,
            {0x00, 0x00},
            0x00,
            0x00};
}

// S29GL128P: 128 sectors of 128 KiB, a 64-byte write buffer, PRI 1.3. The
// times (64 us byte program, 512 us full buffer, 0.5 s sector erase, 64 s
// chip erase) and the process field are unverified, plausible values; the
// boot flag says uniform with WP# guarding the top sector, the model that
// keeps its highest sector under WP#, which this simulator holds high.
AmdTableFacts gl128pTable() {
    return {{{128, 128 * kib}},
            24,
            0x06,  // 64-byte write buffer
            {0x06, 0x09, 0x09, 0x10, 0x03, 0x05, 0x03, 0x02},
            '3',
            0x14,  // unlock cycles required; a 90 nm process
            0x08,  // advanced sector protection
            0x00,  // no temporary unprotect
            0x02,  // 8-word page
            {0xB5, 0xC5},
            0x05,  // uniform, WP# at the top sector
            0x01};
}

ChipModel fromAmdName(std::string_view name) {
    if (name == "S29GL128P") {
        ChipModel chip = amdModel(std::string(name), amd, {0x7E, 0x21, 0x01}, gl128pTable(), false);
        chip.unlockBypass = true;
        chip.bypassErase = true;
        return chip;
    }
    const bool top = name == "Am29LV160DT";
    // The T part answers the same bottom-up table: its own layout is that
    // list reversed, which only its device code tells.
    ChipModel chip =
        amdModel(std::string(name), amd, {top ? std::uint8_t{0xC4} : std::uint8_t{0x49}}, lv160dTable(), top);
    chip.unlockBypass = true;
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

std::uint32_t ChipModel::blockOf(std::uint32_t address) const {
    std::uint32_t first = 0;
    std::uint32_t base = 0;
    for (const EraseRegion& region : layout) {
        const std::uint32_t length = region.count * region.size;
        if (address - base < length) {
            return first + (address - base) / region.size;
        }
        first += region.count;
        base += length;
    }
    return blockCount;
}

std::uint32_t ChipModel::blockBase(std::uint32_t block) const {
    std::uint32_t base = 0;
    for (const EraseRegion& region : layout) {
        if (block < region.count) {
            return base + block * region.size;
        }
        block -= region.count;
        base += region.count * region.size;
    }
    return base;
}

std::uint32_t ChipModel::blockLength(std::uint32_t block) const {
    for (const EraseRegion& region : layout) {
        if (block < region.count) {
            return region.size;
        }
        block -= region.count;
    }
    return 0;
}

std::vector<EraseRegion> regionsOf(const std::vector<std::uint8_t>& query, bool reversed) {
    std::vector<EraseRegion> regions;
    const std::size_t count = query.size() > 0x2C ? query[0x2C] : 0;
    for (std::size_t index = 0; index < count && 0x30 + 4 * index < query.size(); ++index) {
        const std::size_t at = 0x2D + 4 * index;
        const std::uint32_t blocks = (query[at] | (std::uint32_t{query[at + 1]} << 8U)) + 1U;
        const std::uint32_t units = query[at + 2] | (std::uint32_t{query[at + 3]} << 8U);
        // A size field of 0 means 128 bytes.
        regions.push_back({blocks, units == 0 ? 128U : units * 256U});
    }
    if (reversed) {
        std::reverse(regions.begin(), regions.end());
    }
    return regions;
}

ChipModel intelPart(const IntelPartDesign& design) {
    ChipModel chip;
    chip.name = design.name;
    chip.manufacturer = design.manufacturer;
    chip.device = design.device;
    chip.size = sizeOf({{design.blockCount, design.blockSize}});
    chip.query = intelQueryTable(design.masterLockBit ? Family::J5 : Family::J3, exponentOf(chip.size),
                                 {design.blockCount, design.blockSize});
    put(chip.query, 0x36,
        {low(design.features), high(design.features), low(design.features >> 16U), high(design.features >> 16U)});
    if (design.bufferExponent == 0) {
        put(chip.query, 0x20, {0x00});
        put(chip.query, 0x24, {0x00});
    }
    put(chip.query, 0x2A, {design.bufferExponent});
    chip.masterLockBit = design.masterLockBit;
    chip.answersQuery = design.answersQuery;
    setLayoutFromQuery(chip, false);
    return chip;
}

ChipModel amdPart(const AmdPartDesign& design) {
    std::vector<EraseRegion> listed = design.layout;
    if (design.regionsReversed) {
        std::reverse(listed.begin(), listed.end());
    }
    const std::uint32_t size = sizeOf(design.layout);
    const bool buffered = design.bufferExponent != 0;
    AmdTableFacts facts{listed,
                        exponentOf(size),
                        design.bufferExponent,
                        {0x04, buffered ? std::uint8_t{0x08} : std::uint8_t{0x00}, 0x09, 0x00, 0x05,
                         buffered ? std::uint8_t{0x05} : std::uint8_t{0x00}, 0x04, 0x00},
                        design.priMinor,
                        0x00,
                        0x04,
                        0x01,
                        0x00,
                        {0x00, 0x00},
                        design.bootFlag,
                        0x00};
    ChipModel chip = amdModel(design.name, design.manufacturer, design.device, facts, design.regionsReversed);
    chip.unlockBypass = design.unlockBypass;
    chip.bypassErase = design.bypassErase;
    chip.answersQuery = design.answersQuery;
    return chip;
}

std::optional<ChipModel> findChip(std::string_view text) {
    const auto* named = std::find_if(intelParts.begin(), intelParts.end(),
                                     [text](const PartFacts& facts) { return sameIgnoringCase(text, facts.name); });
    if (named != intelParts.end()) {
        return fromFacts(*named);
    }
    const auto* other = std::find_if(moreParts.begin(), moreParts.end(), [text](std::string_view part) {
        return sameIgnoringCase(text, part) && part != intel64k.name;
    });
    if (other != moreParts.end()) {
        return fromAmdName(*other);
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
    const auto* const identified = intelParts.begin() + partsByIdentifier;
    const auto* coded = std::find_if(intelParts.begin(), identified, [manufacturer, device](const PartFacts& facts) {
        return facts.manufacturer == manufacturer && facts.device == device;
    });
    if (coded != identified) {
        return fromFacts(*coded);
    }
    // Nothing is known of such a part but its codes: it is taken to be a
    // 32-Mbit part with the J3's command set and query layout, answering its
    // own codes (whatever maker they name).
    ChipModel chip = fromFacts({"", Family::J3, manufacturer, device, 22, largeBlock});
    std::string name(text);
    std::transform(name.begin(), name.end(), name.begin(),
                   [](char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); });
    chip.name = name;
    return chip;
}

}  // namespace flashsim
