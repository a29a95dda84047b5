#include "flash/Identify.h"

#include "flash/amd/AmdCommandSet.h"
#include "flash/intel/IntelCommandSet.h"

namespace {

// Both sets take the query command here: an Intel-set part at any address,
// an AMD-set part in byte mode at this one; a few AMD-set parts only at the
// second. 0xF0 is the AMD set's reset, which Intel-set parts ignore.
constexpr std::uint8_t cmdQuery = 0x98;
constexpr std::uint32_t queryAddress = 0xAA;
constexpr std::uint32_t secondQueryAddress = 0xAAA;
constexpr std::uint8_t cmdReset = 0xF0;

CfiTable query(FlashChip& chip, std::uint32_t address) {
    chip.writeAt(address, cmdQuery);
    // Query data sits at even byte addresses in byte mode.
    return CfiTable::read([&chip](std::uint32_t offset) { return chip.readAt(2 * offset); });
}

}  // namespace

std::string Identification::text() const {
    if (known != nullptr) {
        const std::string codes = identity.codes();
        // "maker 0x89, device 0x16" reads "manufacturer 0x89, device 0x16" here.
        return std::string(known->name) + " (manufacturer " + codes.substr(codes.find(' ') + 1) + ")";
    }
    return "CFI part, " + identity.codes();
}

Identification identify(FlashChip& chip) {
    Identification result;
    CfiTable table = query(chip, queryAddress);
    // A chip left in some mode of its own answers after a reset; some parts
    // only take the query at the second address.
    for (const std::uint32_t address : {queryAddress, secondQueryAddress}) {
        if (table.answered()) {
            break;
        }
        chip.writeAt(0, cmdReset);
        table = query(chip, address);
    }
    if (!table.answered()) {
        chip.writeAt(0, cmdReset);
        // For the message alone, the codes as an Intel-set part gives them.
        result.identity = IntelCommandSet::readIdentity(chip);
        result.geometry = decodeGeometry(table.reader());
        return result;
    }
    result.answered = true;
    result.commandSet = table.commandSet();
    if (result.commandSet == cfiCommandSet::intelExtended || result.commandSet == cfiCommandSet::intelStandard) {
        IntelCommandSet::leaveQuery(chip);
        result.identity = IntelCommandSet::readIdentity(chip);
    } else if (result.commandSet == cfiCommandSet::amdStandard) {
        AmdCommandSet::leaveQuery(chip);
        result.identity = AmdCommandSet::readIdentity(chip);
    } else {
        // A set flashlock does not speak: nothing of either is sent.
        chip.writeAt(0, cmdReset);
        result.geometry = decodeGeometry(table.reader());
        return result;
    }
    result.known = findKnownChip(result.commandSet, result.identity);
    if (result.known != nullptr && !result.known->byteMode) {
        result.geometry.problem = std::string("the ") + result.known->name +
                                  " works only with a 16-bit bus, not in the board's byte mode; flashlock cannot "
                                  "drive it";
        return result;
    }
    result.geometry = decodeGeometry(table.reader(), layoutHints(result.known, result.identity));
    return result;
}

std::unique_ptr<CommandSet> commandSetFor(FlashChip& chip, const Geometry& geometry) {
    if (geometry.amdSet()) {
        return std::make_unique<AmdCommandSet>(chip, geometry);
    }
    return std::make_unique<IntelCommandSet>(chip, geometry);
}
