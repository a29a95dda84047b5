#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace flashsim {

// The CFI primary command set a part speaks; each has its own chip model.
enum class CommandSet {
    Intel,  // 0x0001: status register, lock bits, 0xE8 write to buffer
    Amd,    // 0x0002 (AMD/Fujitsu): unlock cycles, autoselect, data polling
};

// Equal erase blocks side by side: `count` of `size` bytes each.
struct EraseRegion {
    std::uint32_t count = 0;
    std::uint32_t size = 0;
    bool operator==(const EraseRegion&) const = default;
};

// Query offsets 0x00 to 0x4F: everything the program's CFI dump can show.
// The AMD-set parts' tables run on past it (their primary extended table
// sits at 0x40).
constexpr std::size_t queryTableLength = 0x50;

// What sits in the socket: one of the named parts, a part known only by its
// identifier word, a part a test built, or nothing at all.
struct ChipModel {
    std::string name;  // canonical name as the configuration accepts it
    bool present = true;
    CommandSet commandSet = CommandSet::Intel;
    std::uint8_t manufacturer = 0;
    // 0x7E on AMD-set parts whose identifier goes on in two more bytes.
    std::uint8_t device = 0;
    // Those two bytes (autoselect addresses 0x1C and 0x1E), or none.
    std::vector<std::uint8_t> moreDeviceBytes;
    std::uint32_t size = 0;  // bytes, a power of two
    // The erase blocks (the AMD set's sectors) in address order, as the part
    // is built: a top-boot part has its small sectors at the top, whatever
    // order its CFI table lists them in.
    std::vector<EraseRegion> layout;
    std::uint32_t blockCount = 0;
    // Only the J5 parts carry a master lock bit, which blocks every lock
    // command once set.
    bool masterLockBit = false;
    // False for a part older than CFI: 0x98 is no command to it.
    bool answersQuery = true;
    // AMD set: unlock bypass (AAA/20) with its short program cycle, and on
    // some parts its sector and chip erase.
    bool unlockBypass = false;
    bool bypassErase = false;
    // The query table from offset 0. On the Intel set offsets 0x00 to 0x02
    // hold placeholders: the chip answers its codes and the addressed block's
    // lock status there itself.
    std::vector<std::uint8_t> query = std::vector<std::uint8_t>(queryTableLength);

    // The identifier word as the program prints it: device code high, maker low.
    [[nodiscard]] std::uint16_t identifier() const { return static_cast<std::uint16_t>((device << 8U) | manufacturer); }
    [[nodiscard]] std::uint8_t queryAt(std::size_t offset) const { return offset < query.size() ? query[offset] : 0; }
    // Blocks by their chip address (below `size`) and by their number.
    [[nodiscard]] std::uint32_t blockOf(std::uint32_t address) const;
    [[nodiscard]] std::uint32_t blockBase(std::uint32_t block) const;
    [[nodiscard]] std::uint32_t blockLength(std::uint32_t block) const;
    // "block" on the Intel set, "sector" on the AMD set, as the datasheets say.
    [[nodiscard]] const char* blockWord() const { return commandSet == CommandSet::Amd ? "sector" : "block"; }
};

// The seven Intel-set parts the program's dialogue names, in its order.
constexpr std::array<std::string_view, 7> namedParts = {"28F320J5", "28F640J5",  "28F320J3", "28F640J3",
                                                        "28F128J3", "M58LW032D", "M58LW064D"};
// The other parts of the catalogue: an Intel-set part with 64 KiB blocks and
// AMD-set parts in byte mode.
constexpr std::array<std::string_view, 4> moreParts = {"intel-64k", "Am29LV160DB", "Am29LV160DT", "S29GL128P"};

// A part name (any letter case), "empty", or a four-digit hexadecimal
// identifier word (device code high byte, manufacturer low byte); nothing else.
// An identifier word names one of the seven parts above, or else an Intel-set
// part of the J3 layout answering those codes.
std::optional<ChipModel> findChip(std::string_view text);

// An Intel-set part as a test wants it: the J3 command set and query layout
// with one region of equal blocks.
struct IntelPartDesign {
    std::string name = "custom-intel";
    std::uint8_t manufacturer = 0x89;
    std::uint8_t device = 0x16;
    std::uint32_t blockCount = 32;
    std::uint32_t blockSize = 0x20000;  // blockCount * blockSize must be a power of two
    // The primary table's optional features (query 0x36 on): 0x0A is the J3's
    // (erase suspend, legacy lock and unlock); with bit 5 (0x2A) 0x60/0xD0
    // clears the addressed block's lock bit alone.
    std::uint32_t features = 0x0A;
    std::uint8_t bufferExponent = 5;  // a write buffer of 2^n bytes; 0: none
    bool masterLockBit = false;       // J5-style
    bool answersQuery = true;
};
// Throws std::invalid_argument when the blocks do not add up to a power of two.
ChipModel intelPart(const IntelPartDesign& design);

// An AMD-set part in byte mode as a test wants it.
struct AmdPartDesign {
    std::string name = "custom-amd";
    std::uint8_t manufacturer = 0x01;
    // One device code, or 0x7E and the two bytes that follow it.
    std::vector<std::uint8_t> device = {0x49};
    // Address order; the sizes must add up to a power of two.
    std::vector<EraseRegion> layout = {{32, 0x10000}};
    // The CFI table lists the regions in the reverse of address order: a
    // top-boot part sharing its bottom-boot twin's table.
    bool regionsReversed = false;
    std::uint8_t bufferExponent = 0;  // a write buffer of 2^n bytes; 0: none
    // Primary extended table version 1.x; from 1.1 on it carries the boot flag.
    char priMinor = '0';
    std::uint8_t bootFlag = 0;  // 2 bottom, 3 top, 4/5 uniform with WP# at the bottom/top sector
    bool unlockBypass = true;
    bool bypassErase = false;
    bool answersQuery = true;
};
// Throws std::invalid_argument when the layout does not add up to a power of
// two or the device code is neither one byte nor three.
ChipModel amdPart(const AmdPartDesign& design);

// The layout a CFI table gives: its erase regions in the order listed,
// reversed when `reversed`.
std::vector<EraseRegion> regionsOf(const std::vector<std::uint8_t>& query, bool reversed);

}  // namespace flashsim
