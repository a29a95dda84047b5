#include "flash/KnownChips.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace {

using cfiCommandSet::amdStandard;
using cfiCommandSet::intelExtended;
constexpr BootSectors uniform = BootSectors::None;
constexpr BootSectors bottom = BootSectors::Bottom;
constexpr BootSectors top = BootSectors::Top;

constexpr std::uint8_t intel = 0x89;
constexpr std::uint8_t st = 0x20;
constexpr std::uint8_t amd = 0x01;
constexpr std::uint8_t fujitsu = 0x04;
constexpr std::uint8_t macronix = 0xC2;
// Eon answers 0x7F, then its code in the next JEDEC bank.
constexpr std::uint8_t eon = 0x1C;

constexpr const char* lv160Top = "31 x 64 KiB, 32 KiB, 2 x 8 KiB, 16 KiB";
constexpr const char* lv160Bottom = "16 KiB, 2 x 8 KiB, 32 KiB, 31 x 64 KiB";
constexpr const char* lv320Top = "63 x 64 KiB, 8 x 8 KiB";
constexpr const char* lv320Bottom = "8 x 8 KiB, 63 x 64 KiB";
constexpr const char* lv640Top = "127 x 64 KiB, 8 x 8 KiB";
constexpr const char* lv640Bottom = "8 x 8 KiB, 127 x 64 KiB";

// Identifier codes from the parts' datasheets, or, where only flashrom's
// table gives them (MX29LV640E, MX29GL128E/F, M29W640F/G), taken from there
// unconfirmed: a wrong code here could only cost a part its name, since its
// layout comes from its own table, except for where an old part's boot
// sectors are. M29W320DT/DB are 0x22CA/0x22CB in their datasheet, whatever
// flashrom's table says.
constexpr auto table = std::to_array<KnownChip>({
    {intelExtended, intel, 0, {0x14}, 1, "Intel 28F320J5", 22, uniform, "32 x 128 KiB", 0, 0},
    {intelExtended, intel, 0, {0x15}, 1, "Intel 28F640J5", 23, uniform, "64 x 128 KiB", 0, 0},
    {intelExtended, intel, 0, {0x16}, 1, "Intel 28F320J3", 22, uniform, "32 x 128 KiB", 0, 0},
    {intelExtended, intel, 0, {0x17}, 1, "Intel 28F640J3", 23, uniform, "64 x 128 KiB", 0, 0},
    {intelExtended, intel, 0, {0x18}, 1, "Intel 28F128J3", 24, uniform, "128 x 128 KiB", 0, 0},
    {intelExtended, st, 0, {0x16}, 1, "ST Micro M58LW032D", 22, uniform, "32 x 128 KiB", 0, 0},
    {intelExtended, st, 0, {0x17}, 1, "ST Micro M58LW064D", 23, uniform, "64 x 128 KiB", 0, 0},

    {amdStandard, amd, 0, {0xC4}, 1, "AMD Am29LV160DT", 21, top, lv160Top, 0, 0},
    {amdStandard, amd, 0, {0x49}, 1, "AMD Am29LV160DB", 21, bottom, lv160Bottom, 0, 0},
    {amdStandard, amd, 0, {0xF6}, 1, "AMD Am29LV320DT", 22, top, lv320Top, 0, 0},
    {amdStandard, amd, 0, {0xF9}, 1, "AMD Am29LV320DB", 22, bottom, lv320Bottom, 0, 0},
    {amdStandard, amd, 0, {0x7E, 0x10, 0x01}, 3, "AMD Am29LV640MT / S29GL064N, top boot", 23, top, lv640Top, 0, 0},
    {amdStandard,
     amd,
     0,
     {0x7E, 0x10, 0x00},
     3,
     "AMD Am29LV640MB / S29GL064N, bottom boot",
     23,
     bottom,
     lv640Bottom,
     0,
     0},
    // These report 64 sectors in their table instead of 128.
    {amdStandard,
     amd,
     0,
     {0x7E, 0x0C, 0x01},
     3,
     "AMD Am29LV640MH/ML / S29GL064N, uniform",
     23,
     uniform,
     "128 x 64 KiB",
     128,
     0x10000},
    {amdStandard,
     amd,
     0,
     {0x7E, 0x13, 0x01},
     3,
     "Spansion S29GL064N, x16 only",
     23,
     uniform,
     "128 x 64 KiB",
     0,
     0,
     false},
    {amdStandard, amd, 0, {0x7E, 0x21, 0x01}, 3, "Spansion S29GL128N/P", 24, uniform, "128 x 128 KiB", 0, 0},
    {amdStandard, amd, 0, {0x7E, 0x22, 0x01}, 3, "Spansion S29GL256N/P", 25, uniform, "256 x 128 KiB", 0, 0},
    {amdStandard, amd, 0, {0x7E, 0x23, 0x01}, 3, "Spansion S29GL512N/P", 26, uniform, "512 x 128 KiB", 0, 0},
    {amdStandard, amd, 0, {0x7E, 0x28, 0x01}, 3, "Spansion S29GL01GP", 27, uniform, "1024 x 128 KiB", 0, 0},

    {amdStandard, macronix, 0, {0xC4}, 1, "Macronix MX29LV160DT", 21, top, lv160Top, 0, 0},
    {amdStandard, macronix, 0, {0x49}, 1, "Macronix MX29LV160DB", 21, bottom, lv160Bottom, 0, 0},
    {amdStandard, macronix, 0, {0xA7}, 1, "Macronix MX29LV320DT", 22, top, lv320Top, 0, 0},
    {amdStandard, macronix, 0, {0xA8}, 1, "Macronix MX29LV320DB", 22, bottom, lv320Bottom, 0, 0},
    {amdStandard, macronix, 0, {0xC9}, 1, "Macronix MX29LV640ET", 23, top, lv640Top, 0, 0},
    {amdStandard, macronix, 0, {0xCB}, 1, "Macronix MX29LV640EB", 23, bottom, lv640Bottom, 0, 0},
    {amdStandard, macronix, 0, {0x7E, 0x21, 0x01}, 3, "Macronix MX29GL128E/F", 24, uniform, "128 x 128 KiB", 0, 0},
    {amdStandard, macronix, 0, {0x7E, 0x22, 0x01}, 3, "Macronix MX29GL256", 25, uniform, "256 x 128 KiB", 0, 0},
    {amdStandard, macronix, 0, {0x7E, 0x23, 0x01}, 3, "Macronix MX29GL512", 26, uniform, "512 x 128 KiB", 0, 0},

    {amdStandard, st, 0, {0xC4}, 1, "ST M29W160ET", 21, top, lv160Top, 0, 0},
    {amdStandard, st, 0, {0x49}, 1, "ST M29W160EB", 21, bottom, lv160Bottom, 0, 0},
    {amdStandard, st, 0, {0xCA}, 1, "ST M29W320DT", 22, top, "63 x 64 KiB, 32 KiB, 2 x 8 KiB, 16 KiB", 0, 0},
    {amdStandard, st, 0, {0xCB}, 1, "ST M29W320DB", 22, bottom, "16 KiB, 2 x 8 KiB, 32 KiB, 63 x 64 KiB", 0, 0},
    {amdStandard, st, 0, {0x56}, 1, "ST M29W320ET", 22, top, lv320Top, 0, 0},
    {amdStandard, st, 0, {0x57}, 1, "ST M29W320EB", 22, bottom, lv320Bottom, 0, 0},
    {amdStandard, st, 0, {0xED}, 1, "ST M29W640FT", 23, top, lv640Top, 0, 0},
    {amdStandard, st, 0, {0xFD}, 1, "ST M29W640FB", 23, bottom, lv640Bottom, 0, 0},
    {amdStandard, st, 0, {0x7E, 0x10, 0x01}, 3, "ST M29W640GT", 23, top, lv640Top, 0, 0},
    {amdStandard, st, 0, {0x7E, 0x10, 0x00}, 3, "ST M29W640GB", 23, bottom, lv640Bottom, 0, 0},
    {amdStandard, st, 0, {0x7E, 0x0C, 0x01}, 3, "ST M29W640GH", 23, uniform, "128 x 64 KiB", 0, 0},
    {amdStandard, st, 0, {0x7E, 0x0C, 0x00}, 3, "ST M29W640GL", 23, uniform, "128 x 64 KiB", 0, 0},

    {amdStandard, fujitsu, 0, {0xC4}, 1, "Fujitsu MBM29LV160TE", 21, top, lv160Top, 0, 0},
    {amdStandard, fujitsu, 0, {0x49}, 1, "Fujitsu MBM29LV160BE", 21, bottom, lv160Bottom, 0, 0},
    {amdStandard, fujitsu, 0, {0xF6}, 1, "Fujitsu MBM29LV320TE", 22, top, lv320Top, 0, 0},
    {amdStandard, fujitsu, 0, {0xF9}, 1, "Fujitsu MBM29LV320BE", 22, bottom, lv320Bottom, 0, 0},

    {amdStandard, eon, 1, {0xC4}, 1, "Eon EN29LV160T", 21, top, lv160Top, 0, 0},
    {amdStandard, eon, 1, {0x49}, 1, "Eon EN29LV160B", 21, bottom, lv160Bottom, 0, 0},
});

}  // namespace

std::string ChipIdentity::codes() const {
    const auto hex = [](std::uint8_t value) {
        constexpr std::string_view digits = "0123456789ABCDEF";
        return std::string("0x") + digits[value >> 4U] + digits[value & 0xFU];
    };
    std::string text = "maker " + hex(manufacturer);
    if (bank > 0) {
        text += " (bank " + std::to_string(bank + 1) + ")";
    }
    text += ", device";
    for (const std::uint8_t byte : device) {
        text += " " + hex(byte);
    }
    return text;
}

bool KnownChip::matches(std::uint16_t set, const ChipIdentity& identity) const {
    return name != nullptr && set == commandSet && identity.manufacturer == manufacturer && identity.bank == bank &&
           identity.device.size() == deviceLength &&
           std::equal(identity.device.begin(), identity.device.end(), device.begin());
}

ChipIdentity KnownChip::identity() const {
    return {manufacturer, bank, std::vector<std::uint8_t>(device.begin(), device.begin() + deviceLength)};
}

std::span<const KnownChip> knownChips() {
    return table;
}

const KnownChip* findKnownChip(std::uint16_t commandSet, const ChipIdentity& identity) {
    const auto* found = std::find_if(table.begin(), table.end(),
                                     [&](const KnownChip& chip) { return chip.matches(commandSet, identity); });
    return found != table.end() ? found : nullptr;
}

LayoutHints layoutHints(const KnownChip* known, const ChipIdentity& identity) {
    LayoutHints hints;
    hints.deviceTopBit = identity.device.size() == 1 && (identity.firstDevice() & 0x80U) != 0;
    if (known != nullptr) {
        hints.boot = known->boot;
        if (known->fixedCount != 0) {
            hints.knownLayout.push_back({known->fixedCount, known->fixedSize});
        }
    }
    return hints;
}
