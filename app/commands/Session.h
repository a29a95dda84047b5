#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <ostream>
#include <string>

#include "app/Arguments.h"
#include "app/Commands.h"
#include "flash/FlashChip.h"
#include "flash/Geometry.h"
#include "flash/LockMap.h"

// One command's run: the board and chip it reached, and the way every
// command ends (read-array, access line down, the exit status it owes the
// shell).
class Session {
public:
    explicit Session(const CommandContext& context) : context(&context) {}

    // Reaches the chip: the board answered, the identifier codes and the CFI
    // geometry read, the access line up. 0 when it is ready for commands,
    // else the exit status to end with (the reason already given).
    int open();
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

    [[nodiscard]] std::ostream& out() const { return context->out; }
    [[nodiscard]] std::ostream& err() const { return context->err; }
    // 0, or the signal that asks the program to end.
    [[nodiscard]] int interrupted() const { return context->interrupted(); }
    [[nodiscard]] platform::TickCounter& clock() const { return context->clock; }
    [[nodiscard]] bool progressShown(std::optional<bool> requested) const {
        return requested.value_or(context->errIsTerminal);
    }

    [[nodiscard]] FlashChip& chip() const { return *flash; }
    [[nodiscard]] BoardKind board() const { return boardKind; }
    [[nodiscard]] std::uint16_t id() const { return identifier; }
    [[nodiscard]] const Geometry& geometry() const { return layout; }
    [[nodiscard]] std::uint8_t manufacturer() const { return static_cast<std::uint8_t>(identifier & 0xFFU); }
    [[nodiscard]] std::uint8_t device() const { return static_cast<std::uint8_t>(identifier >> 8U); }
    // "Intel 28F320J3 (manufacturer 0x89, device 0x16)".
    [[nodiscard]] std::string chipText() const;

private:
    const CommandContext* context;
    std::unique_ptr<FlashChip> flash;
    BoardKind boardKind = BoardKind::NoBoard;
    std::uint16_t identifier = 0;
    Geometry layout;
};
