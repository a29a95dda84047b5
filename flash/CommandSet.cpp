#include "flash/CommandSet.h"

#include <algorithm>

CommandSet::~CommandSet() = default;

namespace timing {

std::uint32_t deadline(std::uint8_t typical, std::uint8_t maximum, std::uint32_t unitMicroseconds,
                       std::uint32_t floor) {
    // Garbage exponents would overflow; no chip takes longer than a minute.
    constexpr std::uint64_t ceiling = 60000000;
    // Without a maximum in the table, the maximum is taken as eight times the typical time.
    constexpr std::uint64_t defaultMaximumFactor = 8;
    if (typical == 0 || typical > 31 || maximum > 31) {
        return floor;
    }
    const std::uint64_t typicalMicroseconds = (std::uint64_t{1} << typical) * unitMicroseconds;
    const std::uint64_t factor = maximum == 0 ? defaultMaximumFactor : std::uint64_t{1} << maximum;
    const std::uint64_t most = typicalMicroseconds > ceiling / factor ? ceiling : typicalMicroseconds * factor;
    return std::max(static_cast<std::uint32_t>(most), floor);
}

}  // namespace timing
