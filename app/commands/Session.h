#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <ostream>
#include <string>

#include "app/Arguments.h"
#include "app/Commands.h"
#include "flash/ArrayReader.h"
#include "flash/CommandSet.h"
#include "flash/FlashChip.h"
#include "flash/Geometry.h"
#include "flash/Identify.h"
#include "flash/LockMap.h"

// --chip NAME: whether NAME names the chip identified, compared without
// regard to letter case. NAME is the name flashlock gives the chip, as status
// and chips show it ("Intel 28F320J3"); or a part number in that name alone
// ("28F320J3", "Am29LV160DB", either of "Am29LV640MT / S29GL064N", and
// S29GL128N or S29GL128P for "S29GL128N/P"); or the chip's codes as status
// shows them, joined by colons: the manufacturer code, then the device code
// or codes ("0x89:0x16", "0x01:0x7E:0x21:0x01"; 0x may be left out), with
// 0x7F before the manufacturer code for each bank code the chip gives first
// ("0x7F:0x1C:0xC4"). A part flashlock does not name answers to its codes
// alone.
bool chipNamed(const std::string& name, const KnownChip* known, const ChipIdentity& identity);
// Empty when NAME is one of those forms for some chip flashlock names, or
// codes; otherwise why not, for the user.
std::string chipNameProblem(const std::string& name);

// One command's run: the board and chip it reached, and the way every
// command ends (read-array, access line down, the exit status it owes the
// shell).
class Session {
public:
    explicit Session(const CommandContext& context) : context(&context) {}

    // Reaches the chip: the board answered, the chip identified through its
    // CFI query and its own command set (and found to be the one --chip
    // names, if given), the access line up. 0 when it is
    // ready for commands, else the exit status to end with (the reason
    // already given). A chip larger than the board reaches is refused unless
    // `beyondReachAllowed` (status only shows it).
    int open(bool beyondReachAllowed = false);
    // Read-array and the access line down, unless the chip was left busy (a
    // write now would only be ignored or confuse it further); then conclude.
    int finish(int status, bool chipBusy = false);
    // The exit status once the chip is idle: a signal that came meanwhile
    // turns success into 128 + its number, an output that could not be
    // written into 4; a failure stays what it is.
    int conclude(int status);
    // "flashlock: <message>" on standard error; returns `status`.
    int fail(const std::string& message, int status);
    // One flag per block of the chip, set where BLOCKS names it; nullopt,
    // with the reason given, when a block is past the chip's last.
    std::optional<LockState> selectBlocks(const BlockSelection& blocks);

    [[nodiscard]] const CommandContext& commandContext() const { return *context; }
    [[nodiscard]] std::ostream& out() const { return context->out; }
    [[nodiscard]] std::ostream& err() const { return context->err; }
    // 0, or the signal that asks the program to end.
    [[nodiscard]] int interrupted() const { return context->interrupted(); }
    [[nodiscard]] platform::TickCounter& clock() const { return context->clock; }
    [[nodiscard]] bool progressShown(std::optional<bool> requested) const {
        return requested.value_or(context->errIsTerminal);
    }

    [[nodiscard]] FlashChip& chip() const { return *flash; }
    [[nodiscard]] CommandSet& commands() const { return *set; }
    // The array's reader for this run, made on first use once the chip is
    // open: one self-test of the board at most, whatever reads the command
    // makes. It steps unless --full-shifts or FLASHLOCK_FULL_SHIFTS turned
    // stepping off; a board that fails the self-test is named once on
    // standard error.
    [[nodiscard]] ArrayReader& reader();
    [[nodiscard]] BoardKind board() const { return boardKind; }
    // The board and chip are the simulator's.
    [[nodiscard]] bool simulated() const { return simulatedBoard; }
    [[nodiscard]] const Identification& identification() const { return found; }
    [[nodiscard]] const ChipIdentity& identity() const { return found.identity; }
    [[nodiscard]] const Geometry& geometry() const { return found.geometry.geometry; }
    [[nodiscard]] std::uint8_t manufacturer() const { return found.identity.manufacturer; }
    [[nodiscard]] std::uint8_t device() const { return found.identity.firstDevice(); }
    // "Intel 28F320J3 (manufacturer 0x89, device 0x16)".
    [[nodiscard]] std::string chipText() const { return found.text(); }
    // The board and chip as status names them, a line each.
    void printBoardAndChip(std::ostream& out) const;
    // Whether the chip's protection can be read but not changed by the bus
    // (AMD-set parts).
    [[nodiscard]] bool protectionOnly() const { return set->lockAbility() == LockAbility::None; }

private:
    const CommandContext* context;
    std::unique_ptr<FlashChip> flash;
    BoardKind boardKind = BoardKind::NoBoard;
    bool simulatedBoard = false;
    Identification found;
    std::unique_ptr<CommandSet> set;
    std::unique_ptr<ArrayReader> arrayReader;
};
