#include "flash/StatusRegister.h"

#include <array>

namespace status {

namespace {

struct Meaning {
    std::uint8_t bits;  // all of these set
    bool masterLockPart;
    bool anyPart;
    const char* words;
};

// Causes first, then what failed; of the rows with the same bits, only the
// first that applies is used. A row's bits are taken off once it is used, so
// SR.4 + SR.5 (a sequence error) is not also read as two failures.
constexpr std::array<Meaning, 6> meanings{{
    {supplyLow, false, true, "VPEN/VPP low: check the programmer's supply or jumper"},
    {protectedDevice, true, false,
     "the master lock bit is set: block lock bits can only change with 12 V on RP#, which the board does not "
     "give"},
    {protectedDevice, false, false, "the device reports a locked block"},
    {clearLocksError | setLockError, false, true,
     "command sequence error: the chip did not take the lock command as sent; check the board's cable and "
     "power"},
    {clearLocksError, false, true, "clearing the lock bits failed"},
    {setLockError, false, true, "setting the lock bit failed"},
}};

}  // namespace

std::string describe(std::uint8_t value, bool masterLockPart) {
    std::uint8_t left = value & errorBits;
    std::string text;
    for (const Meaning& meaning : meanings) {
        if ((left & meaning.bits) != meaning.bits) {
            continue;
        }
        if (!meaning.anyPart && meaning.masterLockPart != masterLockPart) {
            continue;
        }
        // The cause (supply, master lock) is what the user acts on; the
        // failure bits it set say nothing more.
        if (!text.empty() && (meaning.bits & (clearLocksError | setLockError)) != 0) {
            break;
        }
        text += text.empty() ? "" : "; ";
        text += meaning.words;
        left = static_cast<std::uint8_t>(left & ~meaning.bits);
    }
    return text;
}

}  // namespace status
