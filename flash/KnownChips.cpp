#include "flash/KnownChips.h"

#include <algorithm>

namespace {

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
