#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "iolib/sim/Chip.h"

namespace flashsim {

// A part of the AMD/Fujitsu command set (CFI 0x0002) in byte mode: unlock
// cycles decoded on the low 12 address bits, autoselect, CFI query, byte
// program, write to buffer, sector and chip erase, unlock bypass, and the
// data-polling status (DQ7, DQ6, DQ5, DQ3, DQ2, DQ1) while an embedded
// operation runs. Sector protection comes from the settings only: on these
// parts it takes high voltage, which no bus command gives.
class AmdChip final : public Chip {
public:
    explicit AmdChip(ChipModel model, ChipSettings settings = {});

    [[nodiscard]] ChipMode mode() const override;
    std::uint8_t read(std::uint32_t address) override;
    CommandOutcome write(std::uint32_t address, std::uint8_t value) override;

private:
    // What a read gives when no operation is running.
    enum class Base { Read, Autoselect, Query, Bypass };
    // Where a command sequence stands.
    enum class Stage {
        Idle,
        Unlock1,
        Unlock2,
        ProgramSetup,
        EraseSetup,
        EraseUnlock1,
        EraseUnlock2,
        BufferCount,
        BufferData,
        BypassErase,
        BypassExit
    };
    // An embedded operation, or the abort state a write to buffer can end in.
    enum class Operation { None, Program, Buffer, SectorErase, ChipErase, ProtectedProgram, ProtectedErase, Abort };
    enum class Phase { Ready, Busy, Exceeded, Aborted };

    [[nodiscard]] Phase phase() const;
    [[nodiscard]] bool erasing() const;
    // Clears an operation that ended without a fault.
    void settle();
    // The status byte for a read at `address`; each read toggles DQ6 (and
    // DQ2 inside the sectors being erased).
    std::uint8_t status(std::uint32_t address);
    [[nodiscard]] std::uint8_t autoselectByte(std::uint32_t address) const;
    [[nodiscard]] std::uint8_t queryByte(std::uint32_t address) const;

    CommandOutcome firstCycle(std::uint32_t address, std::uint8_t value);
    CommandOutcome thirdCycle(std::uint32_t address, std::uint8_t value);
    CommandOutcome bypassCycle(std::uint32_t address, std::uint8_t value);
    CommandOutcome reset(const std::string& what);
    // A cycle with no meaning where it came: back to read mode. A fault when
    // it is an Intel-set command (`fault` forces one).
    CommandOutcome unknown(std::uint32_t address, std::uint8_t value, const std::string& expected, bool fault = false);
    CommandOutcome whileBusy(std::uint8_t value);
    CommandOutcome whileStuck(std::uint32_t address, std::uint8_t value);
    CommandOutcome programByte(std::uint32_t address, std::uint8_t value);
    CommandOutcome eraseSector(std::uint32_t address);
    CommandOutcome eraseChip();
    CommandOutcome bufferCount(std::uint32_t address, std::uint8_t value);
    CommandOutcome bufferLoad(std::uint32_t address, std::uint8_t value);
    CommandOutcome programBuffer();
    CommandOutcome abortBuffer(const std::string& what, std::uint8_t lastData);
    // Starts an embedded operation; `fails` ends it with DQ5 = 1.
    void begin(Operation started, std::chrono::microseconds duration, bool failing);
    [[nodiscard]] std::chrono::microseconds protectedTime(std::chrono::microseconds datasheet) const;

    Base base = Base::Read;
    // Where F0 returns from CFI query: read mode, or autoselect.
    Base queryReturn = Base::Read;
    // Where a program or erase returns when done: read mode, or unlock bypass.
    Base afterOperation = Base::Read;
    Stage stage = Stage::Idle;
    Operation operation = Operation::None;
    bool fails = false;
    // The byte whose bit 7 DQ7 reads inverted while programming.
    std::uint8_t polled = 0xFF;
    // The addresses whose reads toggle DQ2.
    std::uint32_t eraseFirst = 0;
    std::uint32_t eraseEnd = 0;
    bool toggle6 = false;
    bool toggle2 = false;
    // Cycles of the AA, 55, F0 reset seen while stuck in DQ5 or DQ1.
    int resetCycles = 0;
    // Write to buffer: its sector, page, length and loads.
    std::uint32_t bufferSector = 0;
    std::uint32_t bufferPage = 0;
    std::uint32_t bufferLength = 0;
    std::vector<std::pair<std::uint32_t, std::uint8_t>> buffered;
};

}  // namespace flashsim
