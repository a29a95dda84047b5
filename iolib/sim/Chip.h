#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "iolib/sim/ChipCatalog.h"

namespace flashsim {

// What a read cycle returns, as chosen by the last command.
enum class ChipMode { ReadArray, ReadIdentifier, Query, ReadStatus, LockSetup };

const char* modeName(ChipMode mode);

// What one write cycle did, told back for the log.
struct CommandOutcome {
    std::string action;
    // A command that this model refuses to carry out (program, erase) or a
    // sequence that the real program never sends.
    bool fault = false;
    // The lock bits changed, so the persistent state must be written.
    bool locksChanged = false;
};

// The flash chip in the socket, in byte mode, with the Intel-style command
// interface that all seven parts share. Program and erase commands are
// recognised but never carried out: the simulator is there to show what the
// program does, and the program sends none of them.
class Chip {
public:
    explicit Chip(ChipModel model);

    [[nodiscard]] const ChipModel& model() const { return part; }
    [[nodiscard]] ChipMode mode() const { return current; }
    [[nodiscard]] std::uint8_t statusRegister() const { return status; }

    [[nodiscard]] std::uint8_t read(std::uint32_t address) const;
    CommandOutcome write(std::uint32_t address, std::uint8_t value);

    [[nodiscard]] bool isLocked(std::uint32_t block) const;
    void setLocked(std::uint32_t block, bool locked);
    // The array as erased flash (0xFF) except where content was loaded.
    [[nodiscard]] const std::vector<std::uint8_t>& array() const { return content; }
    void loadArray(std::uint32_t address, const std::vector<std::uint8_t>& bytes);

private:
    [[nodiscard]] std::uint32_t chipAddress(std::uint32_t address) const { return address & (part.size - 1U); }
    [[nodiscard]] std::uint8_t lockStatus(std::uint32_t address) const;
    [[nodiscard]] std::uint8_t identifierByte(std::uint32_t address) const;
    [[nodiscard]] std::uint8_t queryByte(std::uint32_t address) const;
    CommandOutcome confirmLock(std::uint32_t address, std::uint8_t value);
    CommandOutcome refuse(const char* what, std::uint8_t errorBits);

    ChipModel part;
    ChipMode current = ChipMode::ReadArray;
    std::uint8_t status = 0x80;
    std::vector<bool> locks;
    std::vector<std::uint8_t> content;
};

}  // namespace flashsim
