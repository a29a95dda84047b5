// The operator dialogue fed arbitrary standard input on every simulated board
// and socket. Whatever is typed, the program must send the chip nothing but
// well-formed bus cycles, act on exactly the menu words typed, and end its
// console output the way the menu promises.

#include <cctype>
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>
#include <string_view>

#include "app/Dialogue.h"
#include "fuzz/FuzzInput.h"
#include "tests/sim/SimulatedPort.h"

namespace {

constexpr std::string_view menu =
    "\nClear Block Lock Bits  - enter 'c'"
    "\nSet 1.Block Lock Bit   - enter 'b'"
    "\n                  Exit - enter 'x'\n";
constexpr std::string_view setMessage = "\nSet Block Lock Bit. Please wait...\n";
constexpr std::string_view clearMessage = "\nClear All Block Lock Bits. Please wait...\n";
constexpr std::string_view firstBlockLine = "\n[1]  0x00: ";

// What the operator asked for.
struct Requests {
    std::size_t sets = 0;
    bool clear = false;
};

// The typed text read the way the menu reads it, but written independently:
// blank-delimited words of which only the first character counts; each b sets
// a lock bit, a c clears them all and ends the run, and anything else ends it
// at once, as does a word too long to be a command.
Requests requestsIn(std::string_view typed) {
    const auto blank = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
    Requests requests;
    std::size_t at = 0;
    for (;;) {
        while (at < typed.size() && blank(typed[at])) {
            ++at;
        }
        const std::size_t start = at;
        while (at < typed.size() && !blank(typed[at])) {
            ++at;
        }
        if (at == start || at - start > longestCommandWord) {
            return requests;
        }
        const int command = std::toupper(static_cast<unsigned char>(typed[start]));
        if (command == 'C') {
            requests.clear = true;
            return requests;
        }
        if (command != 'B') {
            return requests;
        }
        ++requests.sets;
    }
}

std::size_t countOf(std::string_view text, std::string_view part) {
    std::size_t count = 0;
    for (auto at = text.find(part); at != std::string_view::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

std::string_view boardLine(const Setup& setup) {
    if (!setup.usable || setup.board == "none") {
        return "H/W check failed !\n";
    }
    if (setup.board == "willem") {
        return "Willem/pcb3b detected !\n";
    }
    return setup.board == "zantrel4v4" ? "Zantrel4v4 detected !\n" : "Zantrel4v5 detected !\n";
}

std::string hexByte(unsigned value) {
    constexpr std::string_view digits = "0123456789ABCDEF";
    return {digits.at((value >> 4U) & 0xFU), digits.at(value & 0xFU)};
}

// The driver the dialogue runs on: the program's port traffic into the
// simulator, with the lock commands the chip actually carried out counted on
// the side, so that they can be held against the messages the operator saw.
class WatchedPort final : public ProgrammerDriver {
public:
    explicit WatchedPort(flashsim::Simulator& sim) : sim(&sim), port(sim) {}

    void waitMicroseconds(std::uint32_t count) override { port.waitMicroseconds(count); }
    void changeLines(PortRegister reg, LineChange change) override {
        watch([&] { port.changeLines(reg, change); });
    }
    void shiftOutAddress(std::uint32_t address, std::uint8_t bitCount) override {
        watch([&] { port.shiftOutAddress(address, bitCount); });
    }
    std::uint8_t shiftInByte() override {
        std::uint8_t value = 0;
        watch([&] { value = port.shiftInByte(); });
        return value;
    }
    void putDataByte(std::uint8_t value) override {
        watch([&] { port.putDataByte(value); });
    }
    BoardKind detectBoard() override {
        BoardKind kind = BoardKind::NoBoard;
        watch([&] { kind = port.detectBoard(); });
        return kind;
    }

    [[nodiscard]] std::size_t setsSeen() const { return sets; }
    [[nodiscard]] std::size_t clearsSeen() const { return clears; }

private:
    // Every call, not only the write strobe's, so that a lock command carried
    // out where the program meant none is counted too.
    template <typename Call>
    void watch(const Call& call) {
        const bool wasInSetup = inLockSetup();
        call();
        // The call moves the chip on, which cppcheck cannot see.
        // cppcheck-suppress [incorrectLogicOperator,oppositeExpression]
        if (wasInSetup && !inLockSetup()) {
            // Lock commands here only ever name block 0: a set leaves it
            // locked, a clear unlocks everything.
            ++(sim->chip()->isLocked(0) ? sets : clears);
        }
    }

    [[nodiscard]] bool inLockSetup() const {
        return sim->chip() != nullptr && sim->chip()->mode() == flashsim::ChipMode::LockSetup;
    }

    flashsim::Simulator* sim;
    SimulatedPort port;
    std::size_t sets = 0;
    std::size_t clears = 0;
};

void checkKnownBoardRun(std::string_view output, const Requests& requests, const WatchedPort& port,
                        const flashsim::Chip& chip) {
    const flashsim::ChipModel& part = chip.model();
    const unsigned maker = part.present ? part.manufacturer : 0;
    const unsigned device = part.present ? part.device : 0;
    const std::string idLine = "\n8/16bit [00]=0x" + hexByte(maker) + "; [01]=0x" + hexByte(device);
    require(output.find(idLine) != std::string_view::npos, "the device ID line shows the socket's codes");

    require(countOf(output, menu) == requests.sets + 1, "the menu is shown once per command read");
    require(countOf(output, setMessage) == requests.sets, "one set message per b typed");
    require(countOf(output, clearMessage) == (requests.clear ? 1U : 0U), "a clear message only for a c typed");
    if (requests.clear) {
        require(output.ends_with("\n[16]  0x1E0000: 00 \n\n"), "a clear ends with its block report and a blank line");
    } else {
        require(output.ends_with(std::string(menu) + "\n"), "any other ending follows the menu with one newline");
    }

    const std::size_t expectedSets = part.present ? requests.sets : 0;
    const std::size_t expectedClears = part.present && requests.clear ? 1 : 0;
    require(port.setsSeen() == expectedSets, "the chip carried out one set per b typed");
    require(port.clearsSeen() == expectedClears, "the chip carried out one clear per c typed");

    const bool firstLocked = part.present && requests.sets > 0 && !requests.clear;
    for (std::uint32_t block = 0; block < part.blockCount; ++block) {
        require(chip.isLocked(block) == (block == 0 && firstLocked), "only block 0 is ever locked, and as typed");
    }
    const std::size_t report = output.rfind(firstBlockLine);
    require(report != std::string_view::npos, "a block report is shown");
    require(output.substr(report + firstBlockLine.size(), 2) == (firstLocked ? "01" : "00"),
            "the last block report shows block 1 as the chip holds it");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput input(data, size);
    const Setup setup = chooseSetup(input);
    SimUnderTest under(setup.variables);
    require(under.sim.usable() == setup.usable, "the simulator takes exactly the configurations it documents");
    WatchedPort port(under.sim);

    const std::string typed = input.rest();
    std::istringstream in(typed);
    std::ostringstream out;
    int pauses = 0;
    const int status = runDialogue(port, in, out, [&pauses] { ++pauses; });
    const std::string output = out.str();

    require(under.sim.faults().empty(), "no input makes the program send a faulty bus cycle");
    require(pauses == 1, "the dialogue pauses exactly once, before it ends");
    const std::string_view line = boardLine(setup);
    require(output.starts_with(line), "the output starts with the board line");

    const bool knownBoard = setup.usable && setup.board != "none";
    require(status == (knownBoard ? 0 : 1), "the exit status is 1 exactly when no board answered");
    if (!knownBoard) {
        require(output == line, "without a board nothing follows the board line");
        return 0;
    }
    checkKnownBoardRun(output, requestsIn(typed), port, *under.sim.chip());
    return 0;
}
