#pragma once

#include <cstdint>
#include <iosfwd>

#include "flash/FlashChip.h"

// The dialogue's own chip sequences, kept exactly as the dialogue has always
// sent them: the identifier read through the other makers' unlock cycles,
// the array and CFI dumps, the block-lock report of the first 16 blocks, and
// the two lock commands with their fixed waits. Nothing else uses them: the
// commands go through their chip's own command set.
class DialogueChip {
public:
    // Both are borrowed and must outlive this object.
    DialogueChip(FlashChip& bus, std::ostream& console);

    BoardKind detectBoard();
    // Low byte: manufacturer code; high byte: device code.
    std::uint16_t readDeviceId();
    void dumpArray();
    void dumpCfiQuery();
    void queryBlockLocks();
    void setBlockLockBit();
    void clearAllLockBits();
    // From any state the dialogue leaves: access up, read-array, access down.
    void returnToReadArray();

private:
    void lockCommand(std::uint8_t confirm, const char* message);

    FlashChip* bus;
    std::ostream* console;
};

// The dialogue names seven parts by their identifier word and no others.
const char* dialogueChipName(std::uint16_t id);
