#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "RecordingDriver.h"
#include "flash/CommandSet.h"
#include "flash/FlashChip.h"
#include "flash/Identify.h"

// An Intel-style chip behind the recording driver: it reads the writes the
// driver recorded and answers reads by the mode they left, so a command's
// whole bus sequence can be asserted, and its outcome steered (refusals, a
// lock bit that will not clear, a chip that stays busy).
class FakeChip {
public:
    explicit FakeChip(std::size_t blocks = 32, std::uint32_t blockSize = 0x20000, std::uint32_t features = 0x0A)
        : locks(blocks, false), blockSize(blockSize), features(features) {
        driver.chipByte = [this](std::uint32_t address) { return answer(address); };
    }
    // The driver's chip answers through `this`.
    FakeChip(const FakeChip&) = delete;
    FakeChip& operator=(const FakeChip&) = delete;
    FakeChip(FakeChip&&) = delete;
    FakeChip& operator=(FakeChip&&) = delete;
    ~FakeChip() = default;

    RecordingDriver driver;
    std::vector<bool> locks;
    std::uint32_t blockSize;
    std::uint32_t features;
    std::uint8_t manufacturer = 0x89;
    std::uint8_t device = 0x16;
    bool answersQuery = true;
    // Status bits a lock command ends with instead of success (SR.3, ...).
    std::uint8_t refusal = 0;
    // Reads of SR.7 = 0 after each lock command; -1: busy for ever.
    int busyReads = 0;
    int stuckBlock = -1;
    bool masterLock = false;
    std::vector<std::uint8_t> array;
    // The write buffer, 2^n bytes (0: none), and whether the chip offers it.
    std::uint8_t bufferExponent = 5;
    bool bufferFree = true;

    // Drops what the driver recorded so far, once the chip has taken it in.
    void forget() {
        catchUp();
        driver.calls.clear();
        seen = 0;
    }

    // The bus cycles, one line each: "W 000000 50", "R 000004", "R again"
    // (no address shifted), "step 1" (one bit clocked in), "wait 10",
    // "access up", "access down". Strobe and direction lines are left out:
    // the write cycle itself is asserted elsewhere.
    [[nodiscard]] std::vector<std::string> cycles() {
        std::vector<std::string> out;
        const std::vector<std::string>& calls = driver.record();
        for (std::size_t i = 0; i < calls.size(); ++i) {
            const std::string& call = calls[i];
            unsigned address = 0;
            if (call.size() > 2 && call.compare(call.size() - 2, 2, "/1") == 0) {
                // One bit clocked into the board's register.
                out.push_back(text("step %X", static_cast<unsigned>(call[call.size() - 3] - '0')));
            } else if (hexAfter(call, "address ", address) && i + 1 < calls.size()) {
                const std::string& next = calls[i + 1];
                out.push_back(next == "read" ? text("R %06X", address)
                                             : text("W %06X ", address) + next.substr(next.size() - 2));
                ++i;
            } else if (call == "read") {
                // Read again at the address the board's register holds.
                out.emplace_back("R again");
            } else if (call == "Control 0004") {
                out.emplace_back("access up");
            } else if (call == "Control 0400") {
                out.emplace_back("access down");
            } else if (call.rfind("wait ", 0) == 0 && call != "wait 1" && (i == 0 || calls[i - 1] != "Control 0209") &&
                       (i == 0 || calls[i - 1] != "Control 0004")) {
                out.push_back(call);
            }
        }
        return out;
    }

private:
    enum class Mode { Array, Identifier, Query, Status, Setup };

    // The hexadecimal number after `prefix` in a recorded call that starts so.
    static bool hexAfter(const std::string& call, const char* prefix, unsigned& value) {
        const std::size_t length = std::strlen(prefix);
        if (call.compare(0, length, prefix) != 0) {
            return false;
        }
        char* end = nullptr;
        value = static_cast<unsigned>(std::strtoul(call.c_str() + length, &end, 16));
        return end != call.c_str() + length;
    }

    static std::string text(const char* pattern, unsigned value) {
        char buffer[32];
        std::snprintf(buffer, sizeof buffer, pattern, value);
        return buffer;
    }

    void catchUp() {
        const std::vector<std::string>& calls = driver.calls;
        for (; seen < calls.size(); ++seen) {
            unsigned value = 0;
            if (hexAfter(calls[seen], "address ", value)) {
                lastAddress = value;
            } else if (hexAfter(calls[seen], "data ", value)) {
                command(lastAddress, static_cast<std::uint8_t>(value));
            }
        }
    }

    // Erase and program, as far as the chip layer's sequences need them: the
    // array changes as a chip's would, and the status answers as after a lock
    // command (refusal, busy reads).
    bool program(std::uint32_t address, std::uint8_t value) {
        switch (pending) {
        case Pending::None:
            return false;
        case Pending::Erase:
            if (value == 0xD0) {
                const std::uint32_t base = address / blockSize * blockSize;
                for (std::uint32_t i = base; i < base + blockSize && i < array.size(); ++i) {
                    array[i] = 0xFF;
                }
            }
            break;
        case Pending::Byte:
            programByte(address, value);
            break;
        case Pending::Count:
            bufferLeft = value + 1;
            pending = Pending::Data;
            return true;
        case Pending::Data:
            programByte(address, value);
            if (--bufferLeft > 0) {
                return true;
            }
            pending = Pending::Confirm;
            return true;
        case Pending::Confirm:
            break;
        }
        pending = Pending::None;
        mode = Mode::Status;
        busyLeft = busyReads;
        status = static_cast<std::uint8_t>(0x80 | refusal);
        return true;
    }

    void programByte(std::uint32_t address, std::uint8_t value) {
        if (refusal == 0 && address < array.size()) {
            array[address] &= value;
        }
    }

    void command(std::uint32_t address, std::uint8_t value) {
        if (program(address, value)) {
            return;
        }
        if (mode == Mode::Setup) {
            mode = Mode::Status;
            busyLeft = busyReads;
            status = static_cast<std::uint8_t>(0x80 | refusal);
            if (refusal != 0) {
                return;
            }
            const std::size_t block = address / blockSize;
            if (value == 0x01 && block < locks.size()) {
                locks[block] = true;
            } else if (value == 0xD0 && (features & 0x20U) != 0 && block < locks.size()) {
                locks[block] = false;
            } else if (value == 0xD0) {
                for (std::size_t i = 0; i < locks.size(); ++i) {
                    locks[i] = static_cast<int>(i) == stuckBlock && locks[i];
                }
            }
            return;
        }
        switch (value) {
        case 0xFF:
            mode = Mode::Array;
            break;
        case 0x90:
            mode = Mode::Identifier;
            break;
        case 0x98:
            mode = Mode::Query;
            break;
        case 0x70:
            mode = Mode::Status;
            break;
        case 0x50:
            status = 0x80;
            break;
        case 0x60:
            mode = Mode::Setup;
            break;
        case 0x20:
            pending = Pending::Erase;
            break;
        case 0x10:
        case 0x40:
            pending = Pending::Byte;
            break;
        case 0xE8:
            // The extended status: XSR.7 once a buffer is free.
            mode = Mode::Status;
            status = bufferFree ? 0x80 : 0x00;
            pending = bufferFree ? Pending::Count : Pending::None;
            break;
        default:
            break;
        }
    }

    [[nodiscard]] std::uint8_t queryByte(std::uint32_t offset) const {
        const std::uint32_t blocks = static_cast<std::uint32_t>(locks.size()) - 1;
        const std::uint32_t units = blockSize / 256;
        std::uint32_t size = 0;
        while ((std::uint32_t{1} << size) < locks.size() * blockSize) {
            ++size;
        }
        switch (offset) {
        case 0x10:
            return 'Q';
        case 0x11:
            return 'R';
        case 0x12:
            return 'Y';
        case 0x13:
            return 0x01;
        case 0x15:
            return 0x31;
        case 0x27:
            return static_cast<std::uint8_t>(size);
        case 0x1F:
            return 0x07;  // byte program 128 us typical
        case 0x20:
            return bufferExponent == 0 ? 0x00 : 0x07;
        case 0x21:
            return 0x0A;  // block erase 1 s typical
        case 0x23:
        case 0x24:
        case 0x25:
            return 0x04;
        case 0x2A:
            return bufferExponent;
        case 0x2C:
            return 0x01;
        case 0x2D:
            return static_cast<std::uint8_t>(blocks & 0xFFU);
        case 0x2E:
            return static_cast<std::uint8_t>(blocks >> 8U);
        case 0x2F:
            return static_cast<std::uint8_t>(units & 0xFFU);
        case 0x30:
            return static_cast<std::uint8_t>(units >> 8U);
        case 0x31:
            return 'P';
        case 0x32:
            return 'R';
        case 0x33:
            return 'I';
        case 0x34:
        case 0x35:
            return '1';
        case 0x36:
        case 0x37:
        case 0x38:
        case 0x39:
            return static_cast<std::uint8_t>(features >> (8U * (offset - 0x36)));
        default:
            return 0x00;
        }
    }

    std::uint8_t answer(std::uint32_t address) {
        catchUp();
        // The chip has address lines for its own size only: the register's
        // bits above them, which steps leave set, reach nothing.
        std::uint32_t lines = 1;
        while (lines < locks.size() * blockSize) {
            lines <<= 1U;
        }
        address &= lines - 1;
        switch (mode) {
        case Mode::Array:
            return address < array.size() ? array[address] : static_cast<std::uint8_t>(address * 7U);
        case Mode::Identifier:
            if (address % blockSize == 4) {
                return address / blockSize < locks.size() && locks[address / blockSize] ? 0x01 : 0x00;
            }
            if (address == 6) {
                return masterLock ? 0x01 : 0x00;
            }
            return address == 0 ? manufacturer : address == 2 ? device : 0x00;
        case Mode::Query:
            return answersQuery ? queryByte(address / 2) : 0x00;
        case Mode::Status:
        case Mode::Setup:
            if (busyLeft != 0) {
                busyLeft -= busyLeft > 0 ? 1 : 0;
                return static_cast<std::uint8_t>(status & 0x7FU);
            }
            return status;
        }
        return 0x00;
    }

    enum class Pending { None, Erase, Byte, Count, Data, Confirm };

    Mode mode = Mode::Array;
    Pending pending = Pending::None;
    int bufferLeft = 0;
    std::uint8_t status = 0x80;
    int busyLeft = 0;
    std::size_t seen = 0;
    std::uint32_t lastAddress = 0;
};

// The chip layer on a fake chip: identified as the commands identify it,
// with its command set ready; what that cost on the bus is forgotten.
struct FakeSession {
    explicit FakeSession(FakeChip& fake) : fake(&fake), chip(&fake.driver), found(identify(chip)) {
        if (found.valid()) {
            commands = commandSetFor(chip, found.geometry.geometry);
        }
        fake.forget();
    }

    FakeChip* fake;
    FlashChip chip;
    Identification found;
    std::unique_ptr<CommandSet> commands;
};
