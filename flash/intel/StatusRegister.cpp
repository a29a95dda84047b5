#include "flash/intel/StatusRegister.h"

#include <array>

namespace status {

namespace {

constexpr unsigned lock = 1U << static_cast<unsigned>(Operation::Lock);
constexpr unsigned erase = 1U << static_cast<unsigned>(Operation::Erase);
constexpr unsigned program = 1U << static_cast<unsigned>(Operation::Program);
constexpr unsigned any = lock | erase | program;

enum class Parts { Any, MasterLock, Others };

struct Meaning {
    std::uint8_t bits;  // all of these set
    unsigned operations;
    Parts parts;
    const char* words;
};

// Causes first, then what failed; of the rows with the same bits, only the
// first that applies is used. A row's bits are taken off once it is used, so
// SR.4 + SR.5 (a sequence error) is not also read as two failures.
constexpr std::array<Meaning, 11> meanings{{
    {supplyLow, any, Parts::Any, "VPEN/VPP low: check the programmer's supply or jumper"},
    {protectedDevice, lock, Parts::MasterLock,
     "the master lock bit is set: block lock bits can only change with 12 V on RP#, which the board does not "
     "give"},
    {protectedDevice, lock, Parts::Others, "the device reports a locked block"},
    {protectedDevice, erase | program, Parts::Any, "the block is locked"},
    {clearLocksError | setLockError, lock, Parts::Any,
     "command sequence error: the chip did not take the lock command as sent; check the board's cable and "
     "power"},
    {clearLocksError | setLockError, erase | program, Parts::Any,
     "command sequence error: the chip did not take the command as sent; check the board's cable and power"},
    {clearLocksError, lock, Parts::Any, "clearing the lock bits failed"},
    {setLockError, lock, Parts::Any, "setting the lock bit failed"},
    {eraseError, erase, Parts::Any,
     "the block did not erase: run the command again; a block that keeps failing is worn out"},
    {programError, program, Parts::Any,
     "the bytes did not program: run the command again; a block that keeps failing is worn out"},
    {programError, erase, Parts::Any, "the chip reported a program failure during an erase"},
}};

bool applies(const Meaning& meaning, bool masterLocked, Operation operation) {
    if ((meaning.operations & (1U << static_cast<unsigned>(operation))) == 0) {
        return false;
    }
    return meaning.parts == Parts::Any || (meaning.parts == Parts::MasterLock) == masterLocked;
}

}  // namespace

std::string describe(std::uint8_t value, bool masterLocked, Operation operation) {
    std::uint8_t left = value & errorBits;
    std::string text;
    for (const Meaning& meaning : meanings) {
        if ((left & meaning.bits) != meaning.bits || !applies(meaning, masterLocked, operation)) {
            continue;
        }
        // The cause (supply, master lock, a locked block) is what the user
        // acts on; the failure bits it set say nothing more.
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
