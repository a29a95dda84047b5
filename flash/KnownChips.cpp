#include "flash/KnownChips.h"

#include <algorithm>
#include <array>

namespace {

struct KnownChip {
    std::uint16_t id;
    const char* name;
    bool masterLock;
};

// Tested in this order.
constexpr std::array<KnownChip, 7> knownChips{{
    {0x1489, "Intel 28F320J5", true},
    {0x1589, "Intel 28F640J5", true},
    {0x1689, "Intel 28F320J3", false},
    {0x1789, "Intel 28F640J3", false},
    {0x1889, "Intel 28F128J3", false},
    {0x1620, "ST Micro M58LW032D", false},
    {0x1720, "ST Micro M58LW064D", false},
}};

const KnownChip* find(std::uint16_t id) {
    const auto* found =
        std::find_if(knownChips.begin(), knownChips.end(), [id](const KnownChip& chip) { return chip.id == id; });
    return found != knownChips.end() ? found : nullptr;
}

}  // namespace

const char* knownChipName(std::uint16_t id) {
    const KnownChip* chip = find(id);
    return chip != nullptr ? chip->name : nullptr;
}

bool hasMasterLockBit(std::uint16_t id) {
    const KnownChip* chip = find(id);
    return chip != nullptr && chip->masterLock;
}
