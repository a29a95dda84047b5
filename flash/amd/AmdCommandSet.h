#pragma once

#include <cstdint>

#include "flash/ChipIdentity.h"
#include "flash/CommandSet.h"

// The AMD/Fujitsu command set (CFI 0x0002) in byte mode: unlock cycles at
// 0xAAA and 0x555, autoselect, 0xA0 byte program, 0x25...0x29 write to
// buffer, 0x80...0x30 sector erase, and completion by data polling (DQ7)
// with DQ5 and DQ1 for failures. Sector protection needs high voltage or
// commands flashlock does not send, so it is only ever read.
class AmdCommandSet final : public CommandSet {
public:
    AmdCommandSet(FlashChip& chip, const Geometry& geometry);

    // Autoselect: the maker (after any 0x7F continuation codes), the device
    // byte and, after 0x7E, the two more at 0x1C and 0x1E; then reset.
    static ChipIdentity readIdentity(FlashChip& chip);
    // Leaves query mode: reset twice, since a query entered from autoselect
    // returns there on the first.
    static void leaveQuery(FlashChip& chip);

    [[nodiscard]] std::string name() const override;
    void readArray() override;
    void enterQuery() override;
    LockState readProtection() override;
    [[nodiscard]] LockAbility lockAbility() const override { return LockAbility::None; }
    bool masterLockSet() override { return false; }
    LockStep setLock(const Block& block) override;
    LockStep clearLock(const Block& block) override;
    LockStep clearAllLocks() override;
    OperationResult erase(const Block& block) override;
    OperationResult program(std::uint32_t address, const std::uint8_t* data, std::uint32_t count) override;
    [[nodiscard]] std::uint32_t programUnit() const override;
    [[nodiscard]] std::string explain(const OperationResult& result) const override;
    [[nodiscard]] std::string explainLock(const LockStep& step, bool clearing) const override;
    [[nodiscard]] std::uint32_t eraseDeadline() const override { return eraseMicroseconds; }

private:
    OperationResult programBuffer(std::uint32_t address, const std::uint8_t* data, std::uint32_t count);
    OperationResult programByte(std::uint32_t address, std::uint8_t value);
    void unlockCycles();
    // Data polling: DQ7 until it shows `expected`'s bit 7, against the
    // result's deadline. The first read goes to `address` unless the board's
    // register holds it already. On DQ5 or DQ1, the reset that the state
    // needs, and the result marked failed.
    void poll(std::uint32_t address, bool shifted, std::uint8_t expected, std::uint32_t interval, bool buffer,
              OperationResult& result);

    std::uint32_t bufferSize;
    std::uint32_t eraseMicroseconds;
    std::uint32_t bufferMicroseconds;
    std::uint32_t byteMicroseconds;
};
