#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "driver/ProgrammerDriver.h"

// A driver that performs nothing and records every call as one line of text,
// interleaved with whatever the code under test printed in between, so a test
// can assert the exact order of bus traffic and console output. Waits return
// at once.
class RecordingDriver final : public ProgrammerDriver {
public:
    std::vector<std::string> calls;
    BoardKind board = BoardKind::Zantrel4v4;
    // The byte the chip presents at a 24-bit address; unless a chip model
    // answers, the address's low byte in every mode.
    std::function<std::uint8_t(std::uint32_t)> chipByte = [](std::uint32_t address) {
        return static_cast<std::uint8_t>(address);
    };
    // A write cycle reaching the chip: the data byte as the strobe ends.
    std::function<void(std::uint32_t, std::uint8_t)> chipWrite = [](std::uint32_t /*address*/, std::uint8_t /*value*/) {
    };
    std::uint8_t control = 0x09;
    // A board whose chip sees a new address only after 24 clocks since its
    // last bus cycle: a step of one bit reaches it no more.
    bool latched = false;

    void watchConsole(const std::ostringstream* stream) { console = stream; }

    void waitMicroseconds(std::uint32_t count) override { note("wait " + std::to_string(count)); }

    void changeLines(PortRegister reg, LineChange change) override {
        if (reg == PortRegister::Control) {
            const std::uint8_t before = control;
            control = applyLineChange(control, change);
            if ((before & ~control & writeStrobe) != 0) {
                clocks = 0;
                chipWrite(chipAddress, dataByte);
            }
        }
        note(std::string(name(reg)) + format(" %04X", change));
    }

    void shiftOutAddress(std::uint32_t address, std::uint8_t bitCount) override {
        // The board's register is a 24-bit shift register: fewer bits move
        // what it holds up by as many places.
        const std::uint32_t mask = bitCount >= 32 ? 0xFFFFFFFFU : (1U << bitCount) - 1U;
        const std::uint64_t shifted = bitCount >= 32 ? 0 : std::uint64_t{boardAddress} << bitCount;
        boardAddress = static_cast<std::uint32_t>((shifted | (address & mask)) & 0xFFFFFFU);
        clocks += bitCount;
        if (!latched || clocks >= 24) {
            chipAddress = boardAddress;
        }
        note(format("address %X/%u", address, bitCount));
    }

    std::uint8_t shiftInByte() override {
        note("read");
        clocks = 0;
        return chipByte(chipAddress);
    }

    void putDataByte(std::uint8_t value) override {
        dataByte = value;
        note(format("data %02X", value));
    }

    BoardKind detectBoard() override {
        note("detect");
        return board;
    }

    // Flushes console text printed after the last call into the record.
    const std::vector<std::string>& record() {
        note({});
        return calls;
    }

private:
    // Control bit 3: the chip takes the data byte as it falls.
    static constexpr std::uint8_t writeStrobe = 0x08;

    static const char* name(PortRegister reg) {
        switch (reg) {
        case PortRegister::Data:
            return "Data";
        case PortRegister::Status:
            return "Status";
        case PortRegister::Control:
            return "Control";
        }
        return "?";
    }

    template <typename... Args>
    static std::string format(const char* pattern, Args... args) {
        char text[64];
        std::snprintf(text, sizeof text, pattern, static_cast<unsigned>(args)...);
        return text;
    }

    void note(const std::string& call) {
        if (console != nullptr) {
            const std::string text = console->str();
            if (text.size() > consoleSeen) {
                calls.push_back("print " + text.substr(consoleSeen));
                consoleSeen = text.size();
            }
        }
        if (!call.empty()) {
            calls.push_back(call);
        }
    }

    const std::ostringstream* console = nullptr;
    std::size_t consoleSeen = 0;
    std::uint32_t boardAddress = 0;
    // What the chip's address lines hold, the clocks since the last bus cycle,
    // and the byte driven for the next write.
    std::uint32_t chipAddress = 0;
    unsigned clocks = 0;
    std::uint8_t dataByte = 0;
};
