#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>

namespace flashsim {

// None: nothing on the port; the lines go nowhere and the inputs float.
enum class BoardType { Willem, Zantrel4v4, Zantrel4v5, None };

std::string_view boardName(BoardType type);

// How the chip sees the serial address register. Shift: its outputs go
// straight to the chip, so every clock moves the address the chip sees.
// Latched: the chip sees a new address only at a bus cycle that comes at
// least 24 clocks after the one before; with fewer it keeps the old one, as
// a board that latches only whole addresses does.
enum class AddressRegister { Shift, Latched };

std::string_view addressRegisterName(AddressRegister kind);

// Port line roles, as the program drives them.
namespace line {
constexpr std::uint8_t addressClock = 0x01;  // Data bit 0
constexpr std::uint8_t addressBit = 0x02;    // Data bit 1; also "load" during a read pulse
constexpr std::uint8_t readClock = 0x04;     // Data bit 2
constexpr std::uint8_t busMode = 0x01;       // Control bit 0: clear only while the board is probed
constexpr std::uint8_t dataDrive = 0x02;     // Control bit 1: the data byte is driven to the chip
constexpr std::uint8_t access = 0x04;        // Control bit 2: bus cycles reach the chip
constexpr std::uint8_t writeStrobe = 0x08;   // Control bit 3
constexpr std::uint8_t serialOut = 0x40;     // Status bit 6, the complement of the current bit
constexpr std::uint8_t probeAnswer = 0x80;   // Status bit 7
}  // namespace line

// A bus cycle that the board's lines started.
struct BusCycle {
    enum class Kind {
        Read,           // load pulse: the chip's byte was latched for the serial read
        Write,          // write strobe ended: the data byte goes to the chip
        BlockedRead,    // load pulse with the access line low: the chip never saw it
        BlockedWrite,   // write strobe with the access line low: the chip never saw it
        UndrivenWrite,  // write strobe while the data byte was not driven
    };
    Kind kind;
    std::uint32_t address;
    std::uint8_t value;  // byte latched (reads) or driven (writes)
};

[[nodiscard]] inline bool isFault(BusCycle::Kind kind) {
    return kind != BusCycle::Kind::Read && kind != BusCycle::Kind::Write;
}

// The programmer board between the port and the socket: a 24-bit serial
// address register, a parallel-in serial-out read register, the data byte and
// its write strobe, the access line, and the board's answer to the detection
// probe. Everything follows from line levels and edges, never from time: the
// program times its own waits, and the model must answer the same however
// fast or slow the host runs.
class Board {
public:
    using ChipRead = std::function<std::uint8_t(std::uint32_t)>;

    explicit Board(BoardType type, AddressRegister latching = AddressRegister::Shift)
        : type(type), latching(latching) {}

    [[nodiscard]] BoardType boardType() const { return type; }
    [[nodiscard]] AddressRegister addressRegister() const { return latching; }
    [[nodiscard]] std::uint8_t data() const { return dataLines; }
    [[nodiscard]] std::uint8_t control() const { return controlLines; }
    [[nodiscard]] std::uint32_t address() const { return shiftRegister; }
    // The address the chip saw at the last bus cycle.
    [[nodiscard]] std::uint32_t chipAddress() const { return latched; }
    [[nodiscard]] bool probing() const { return (controlLines & line::busMode) == 0; }
    [[nodiscard]] bool accessOpen() const { return (controlLines & line::access) != 0; }

    // A new level on the data lines; a load pulse reads the chip through readChip.
    std::optional<BusCycle> writeData(std::uint8_t value, const ChipRead& readChip);
    // A new level on the control lines; a write cycle is handed back for the chip.
    std::optional<BusCycle> writeControl(std::uint8_t value);
    // What the port's status inputs read now. Reading can change what the
    // next read gives (the Willem board's probe answer).
    std::uint8_t readStatus();
    // The status inputs as they stand, without reading them.
    [[nodiscard]] std::uint8_t peekStatus() const;

private:
    [[nodiscard]] bool serialLogicEnabled() const { return !probing() && (controlLines & line::dataDrive) == 0; }
    [[nodiscard]] bool probeAnswerBit() const;
    // The address a bus cycle starting now reaches the chip with.
    std::uint32_t cycleAddress();

    BoardType type;
    AddressRegister latching;
    std::uint8_t dataLines = 0x00;
    // Until the program writes the control lines the board counts as out of
    // its probe, so that the program's first write starts nothing.
    std::uint8_t controlLines = line::busMode;
    std::uint32_t shiftRegister = 0;
    std::uint32_t latched = 0;
    // Address clocks since the last bus cycle, counted up to 24.
    unsigned clocksSinceCycle = 0;
    std::uint8_t readRegister = 0x00;
    // Status reads since Data bit 0 last rose while probing.
    unsigned readsSinceProbeClock = 0;
};

}  // namespace flashsim
