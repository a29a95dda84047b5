#include "app/Commands.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <array>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <ostream>
#include <vector>

#include "app/Arguments.h"
#include "app/Progress.h"
#include "flash/ArrayReader.h"
#include "flash/FlashChip.h"
#include "flash/Geometry.h"
#include "flash/KnownChips.h"
#include "flash/LockMap.h"
#include "flash/StatusRegister.h"

namespace {

// Blocks per line of the lock map, in groups of eight: 128 blocks stay four lines.
constexpr std::size_t mapRowBlocks = 32;
constexpr std::size_t mapGroupBlocks = 8;
constexpr std::size_t differencesShown = 10;

std::string hex(std::uint32_t value, int digits) {
    constexpr std::array<char, 16> symbols{'0', '1', '2', '3', '4', '5', '6', '7',
                                           '8', '9', 'A', 'B', 'C', 'D', 'E', 'F'};
    std::string text = "0x";
    for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4) {
        text += symbols.at((value >> static_cast<unsigned>(shift)) & 0xFU);
    }
    return text;
}

const char* boardName(BoardKind board) {
    switch (board) {
    case BoardKind::Willem:
        return "Willem/pcb3b";
    case BoardKind::Zantrel4v4:
        return "Zantrel4v4";
    case BoardKind::Zantrel4v5:
        return "Zantrel4v5";
    case BoardKind::PortNotUsable:
    case BoardKind::NoBoard:
        break;
    }
    return nullptr;
}

std::vector<std::uint32_t> numbersOf(const LockState& state, bool locked = true) {
    std::vector<std::uint32_t> numbers;
    for (std::size_t i = 0; i < state.size(); ++i) {
        if (state[i] == locked) {
            numbers.push_back(static_cast<std::uint32_t>(i + 1));
        }
    }
    return numbers;
}

// "block 2", "blocks 2, 7-9".
std::string blocksText(const std::vector<std::uint32_t>& numbers) {
    return (numbers.size() == 1 ? "block " : "blocks ") + formatBlocks(numbers, ", ");
}

std::string lockedSummary(const LockState& state) {
    const std::vector<std::uint32_t> locked = numbersOf(state);
    if (locked.empty()) {
        return "none of " + std::to_string(state.size()) + " blocks";
    }
    return formatBlocks(locked, ", ") + " (" + std::to_string(locked.size()) + " of " + std::to_string(state.size()) +
           " blocks)";
}

// Everything a command learns of the board and chip before it acts.
struct Session {
    std::unique_ptr<FlashChip> chip;
    BoardKind board = BoardKind::NoBoard;
    std::uint16_t id = 0;
    Geometry geometry;

    [[nodiscard]] std::uint8_t manufacturer() const { return static_cast<std::uint8_t>(id & 0xFFU); }
    [[nodiscard]] std::uint8_t device() const { return static_cast<std::uint8_t>(id >> 8U); }
    [[nodiscard]] std::string chipText() const {
        const char* name = knownChipName(id);
        return std::string(name != nullptr ? name : "unnamed part") + " (manufacturer " + hex(manufacturer(), 2) +
               ", device " + hex(device(), 2) + ")";
    }
};

class Runner {
public:
    explicit Runner(const CommandContext& context) : context(&context) {}

    int status(bool json);
    // lock and unlock: the whole map read, the change made and verified.
    int changeLocks(const BlockSelection& blocks, bool unlocking);
    int read(const std::string& file, const std::optional<std::uint32_t>& offset,
             const std::optional<std::uint32_t>& length, bool force, std::optional<bool> progress);
    int verify(const std::string& file, const std::optional<std::uint32_t>& offset, std::optional<bool> progress);

private:
    // Reaches the chip; 0 when it is ready for commands, else the exit status
    // to end with (the reason already given).
    int open(Session& session);
    int finish(Session& session, int status, bool chipBusy = false);
    // The exit status once the chip is idle: a signal that came meanwhile, or
    // an output that could not be written, overrides success.
    int conclude(int status);
    int fail(const std::string& message, int status);
    // The block numbers named, or nullopt (with the reason given) when one is
    // past the chip's last.
    std::optional<LockState> select(const Session& session, const BlockSelection& blocks);
    void printMap(const LockState& state);
    void reportFailure(const Session& session, const LockOutcome& outcome);
    [[nodiscard]] bool progressShown(std::optional<bool> requested) const {
        return requested.value_or(context->errIsTerminal);
    }

    const CommandContext* context;
};

int Runner::fail(const std::string& message, int status) {
    context->err << "flashlock: " << message << '\n' << std::flush;
    return status;
}

int Runner::open(Session& session) {
    const DriverAccess access = context->openDriver();
    session.chip = std::make_unique<FlashChip>(access.driver, context->out);
    session.board = session.chip->detectBoard();
    if (session.board == BoardKind::PortNotUsable) {
        context->err << "IO driver not initialized !\n";
        if (!access.problem.empty()) {
            context->err << "flashlock: " << access.problem << '\n';
        }
        context->err.flush();
        return exitStatus::noBoard;
    }
    if (boardName(session.board) == nullptr) {
        context->err << "H/W check failed !\n";
        return fail(
            "no programmer board answered on the parallel port at 0x378; check the cable, the board's power "
            "and the port's mode in the firmware setup",
            exitStatus::noBoard);
    }
    session.chip->beginAccess();
    session.id = session.chip->readIdentifierCodes();
    GeometryResult query = queryGeometry(*session.chip);
    if (!query.valid) {
        session.chip->endInReadArray();
        return fail(
            query.problem + " (identifier " + hex(session.manufacturer(), 2) + " " + hex(session.device(), 2) + ")",
            exitStatus::chipFailed);
    }
    session.geometry = std::move(query.geometry);
    return exitStatus::done;
}

int Runner::finish(Session& session, int status, bool chipBusy) {
    if (chipBusy) {
        // A write now would only be ignored or confuse it further.
        session.chip->endAccess();
    } else {
        session.chip->endInReadArray();
    }
    return conclude(status);
}

int Runner::conclude(int status) {
    context->out.flush();
    if (const int signal = context->interrupted(); signal != 0) {
        return exitStatus::signalBase + signal;
    }
    if (!context->out && status == exitStatus::done) {
        context->err << "flashlock: standard output could not be written\n" << std::flush;
        return exitStatus::fileFailed;
    }
    return status;
}

std::optional<LockState> Runner::select(const Session& session, const BlockSelection& blocks) {
    LockState named(session.geometry.blocks.size(), blocks.all);
    for (const std::uint32_t number : blocks.numbers) {
        if (number > named.size()) {
            fail("block " + std::to_string(number) + " does not exist: this chip has blocks 1 to " +
                     std::to_string(named.size()),
                 exitStatus::usage);
            return std::nullopt;
        }
        named[number - 1] = true;
    }
    return named;
}

void Runner::printMap(const LockState& state) {
    std::ostream& out = context->out;
    out << "lock map (L locked, . unlocked)\n";
    for (std::size_t row = 0; row < state.size(); row += mapRowBlocks) {
        const std::size_t end = std::min(state.size(), row + mapRowBlocks);
        const std::string label = std::to_string(row + 1) + "-" + std::to_string(end);
        out << "  " << label << std::string(label.size() < 9 ? 9 - label.size() : 1, ' ');
        for (std::size_t i = row; i < end; ++i) {
            if (i > row && (i - row) % mapGroupBlocks == 0) {
                out << ' ';
            }
            out << (state[i] ? 'L' : '.');
        }
        out << '\n';
    }
    out << "locked       " << lockedSummary(state) << '\n';
}

int Runner::status(bool json) {
    Session session;
    if (const int opened = open(session); opened != exitStatus::done) {
        return opened;
    }
    LockMap map(*session.chip, session.geometry, hasMasterLockBit(session.id));
    const LockState state = map.read();
    const bool masterLockPart = hasMasterLockBit(session.id);
    const bool masterLock = map.masterLockSet();
    const Geometry& geometry = session.geometry;
    const std::uint32_t blockSize = geometry.uniformBlockSize();
    std::ostream& out = context->out;
    if (json) {
        const char* name = knownChipName(session.id);
        out << R"({"board": ")" << boardName(session.board) << R"(", "manufacturer": )"
            << unsigned{session.manufacturer()} << ", \"device\": " << unsigned{session.device()}
            << ", \"chip\": " << (name != nullptr ? '"' + std::string(name) + '"' : std::string("null"))
            << ", \"size\": " << geometry.size
            << ", \"blockSize\": " << (blockSize != 0 ? std::to_string(blockSize) : std::string("null"))
            << ", \"blocks\": " << geometry.blocks.size() << ", \"commandSet\": " << geometry.commandSet
            << ", \"featureBits\": " << geometry.featureBits
            << ", \"instantIndividualLocking\": " << (geometry.instantIndividualLocking() ? "true" : "false")
            << ", \"masterLock\": " << (masterLockPart ? (masterLock ? "true" : "false") : "null") << ", \"locked\": [";
        const std::vector<std::uint32_t> locked = numbersOf(state);
        for (std::size_t i = 0; i < locked.size(); ++i) {
            out << (i > 0 ? ", " : "") << locked[i];
        }
        out << "]}\n";
        return finish(session, exitStatus::done);
    }
    out << "board        " << boardName(session.board) << '\n'
        << "chip         " << session.chipText() << '\n'
        << "size         " << humanBytes(geometry.size) << " (" << geometry.size << " bytes)\n"
        << "blocks       " << geometry.blocks.size();
    if (blockSize != 0) {
        out << " of " << humanBytes(blockSize);
    }
    out << "\ncommand set  " << hex(geometry.commandSet, 4)
        << (geometry.commandSet == 1 ? " Intel/Sharp extended" : " Intel standard");
    if (geometry.extendedQuery) {
        out << ", extended query " << geometry.extendedMajor << '.' << geometry.extendedMinor;
    }
    out << "\nlocking      "
        << (geometry.instantIndividualLocking()
                ? "each block locks and unlocks on its own"
                : "blocks lock one by one but unlock all at once; unlock re-locks the others")
        << " (features " << hex(geometry.featureBits, 8) << ")\n"
        << "master lock  "
        << (masterLockPart ? (masterLock ? "set: block lock bits cannot change without 12 V on RP#" : "clear")
                           : "none on this part")
        << "\n\n";
    printMap(state);
    return finish(session, exitStatus::done);
}

void Runner::reportFailure(const Session& session, const LockOutcome& outcome) {
    const bool masterLockPart = hasMasterLockBit(session.id);
    for (const LockStepFailure& failure : outcome.failures) {
        const std::string what =
            failure.clear ? (failure.block < 0 ? "clearing all lock bits"
                                               : "clearing the lock bit of block " + std::to_string(failure.block + 1))
                          : "setting the lock bit of block " + std::to_string(failure.block + 1);
        if (failure.timedOut) {
            const std::uint32_t deadline =
                failure.clear ? lockTiming::clearDeadlineMicroseconds : lockTiming::setDeadlineMicroseconds;
            fail(what + ": the chip did not finish within " + humanDuration(deadline / 1e6) + " (status " +
                     hex(failure.status, 2) +
                     "); its lock bits are unknown: switch the board off and on, then run flashlock status",
                 exitStatus::chipFailed);
        } else {
            fail(what + ": the chip refused (status " + hex(failure.status, 2) +
                     "): " + status::describe(failure.status, masterLockPart),
                 exitStatus::chipFailed);
        }
    }
    if (outcome.after.empty()) {
        return;
    }
    std::vector<std::uint32_t> stillLocked;
    std::vector<std::uint32_t> notLocked;
    for (std::size_t i = 0; i < outcome.after.size(); ++i) {
        if (outcome.after[i] && !outcome.intended[i]) {
            stillLocked.push_back(static_cast<std::uint32_t>(i + 1));
        } else if (!outcome.after[i] && outcome.intended[i]) {
            notLocked.push_back(static_cast<std::uint32_t>(i + 1));
        }
    }
    if (!stillLocked.empty()) {
        fail("still locked, should be unlocked: " + blocksText(stillLocked), exitStatus::chipFailed);
    }
    if (!notLocked.empty()) {
        fail("unlocked, should be locked: " + blocksText(notLocked), exitStatus::chipFailed);
        fail("to finish the job: flashlock lock " + formatBlocks(notLocked), exitStatus::chipFailed);
    }
    if (!stillLocked.empty()) {
        fail("to finish the job: flashlock unlock " + formatBlocks(stillLocked), exitStatus::chipFailed);
    }
}

int Runner::changeLocks(const BlockSelection& blocks, bool unlocking) {
    Session session;
    if (const int opened = open(session); opened != exitStatus::done) {
        return opened;
    }
    const std::optional<LockState> named = select(session, blocks);
    if (!named) {
        return finish(session, exitStatus::usage);
    }
    LockMap map(*session.chip, session.geometry, hasMasterLockBit(session.id));
    if (map.masterLockSet()) {
        fail(
            "the master lock bit is set: this chip's block lock bits can only change with 12 V on RP#, which the "
            "board does not give; nothing was written",
            exitStatus::chipFailed);
        return finish(session, exitStatus::chipFailed);
    }
    const LockState before = map.read();
    // Blocks named that are locked, and the others that are.
    std::vector<std::uint32_t> namedLocked;
    std::vector<std::uint32_t> othersLocked;
    for (std::size_t i = 0; i < before.size(); ++i) {
        if (before[i] && (*named)[i]) {
            namedLocked.push_back(static_cast<std::uint32_t>(i + 1));
        } else if (before[i]) {
            othersLocked.push_back(static_cast<std::uint32_t>(i + 1));
        }
    }
    std::ostream& out = context->out;
    if (unlocking && namedLocked.empty()) {
        out << "nothing to do: none of the blocks named is locked; locked: " << lockedSummary(before) << '\n';
        return finish(session, exitStatus::done);
    }
    if (unlocking) {
        printMap(before);
        out << "to restore this map: flashlock lock " << formatBlocks(numbersOf(before)) << '\n';
        if (!session.geometry.instantIndividualLocking() && !othersLocked.empty()) {
            out << "this chip clears all lock bits at once: clearing all, then re-locking " << blocksText(othersLocked)
                << '\n';
        }
        out.flush();
    } else if (!namedLocked.empty()) {
        out << "already locked: " << blocksText(namedLocked) << '\n';
    }
    // A signal that came before anything was written ends the run here.
    if (context->interrupted() != 0) {
        return finish(session, exitStatus::done);
    }
    const LockOutcome outcome = unlocking ? map.unlock(before, *named) : map.lock(before, *named);
    if (outcome.nothingToDo) {
        out << "nothing to do; locked: " << lockedSummary(before) << '\n';
        return finish(session, exitStatus::done);
    }
    if (!outcome.verified()) {
        reportFailure(session, outcome);
        return finish(session, exitStatus::chipFailed, map.chipBusy());
    }
    std::vector<std::uint32_t> changed;
    for (std::size_t i = 0; i < before.size(); ++i) {
        if (outcome.intended[i] != before[i]) {
            changed.push_back(static_cast<std::uint32_t>(i + 1));
        }
    }
    out << (unlocking ? "unlocked " : "locked ") << blocksText(changed)
        << "; verified, locked now: " << lockedSummary(outcome.after) << '\n';
    return finish(session, exitStatus::done);
}

// Where a range of the array starts and how long it is, checked against the
// chip; nullopt with the reason given when it does not fit.
std::optional<std::uint32_t> rangeLength(std::uint32_t size, std::uint32_t offset,
                                         const std::optional<std::uint32_t>& length, std::string& problem) {
    if (offset >= size) {
        problem = "the offset " + hex(offset, 6) + " is past the chip's end (it holds " + hex(size, 6) + " bytes)";
        return std::nullopt;
    }
    const std::uint32_t count = length.value_or(size - offset);
    if (count == 0) {
        problem = "a length of 0 reads nothing";
        return std::nullopt;
    }
    if (count > size - offset) {
        problem = "the range " + hex(offset, 6) + " + " + hex(count, 6) + " runs past the chip's end (it holds " +
                  hex(size, 6) + " bytes)";
        return std::nullopt;
    }
    return count;
}

std::string rateText(std::uint32_t bytes, double seconds) {
    return humanDuration(seconds) + (seconds > 0 ? ", " + humanBytes(bytes / seconds) + "/s" : std::string());
}

int Runner::read(const std::string& file, const std::optional<std::uint32_t>& offset,
                 const std::optional<std::uint32_t>& length, bool force, std::optional<bool> progress) {
    if (!force && platform::fileExists(file)) {
        return fail(file + " exists; give --force to replace it", exitStatus::usage);
    }
    Session session;
    if (const int opened = open(session); opened != exitStatus::done) {
        return opened;
    }
    const std::uint32_t start = offset.value_or(0);
    std::string problem;
    const std::optional<std::uint32_t> count = rangeLength(session.geometry.size, start, length, problem);
    if (!count) {
        fail(problem, exitStatus::usage);
        return finish(session, exitStatus::usage);
    }
    platform::PendingFile pending = platform::createFileBeside(file, problem);
    if (pending.stream == nullptr) {
        fail(problem, exitStatus::fileFailed);
        return finish(session, exitStatus::fileFailed);
    }
    ProgressLine line(context->err, progressShown(progress), context->clock, *count);
    bool writeFailed = false;
    ArrayReadCallbacks callbacks;
    callbacks.chunk = [&](const std::uint8_t* bytes, std::size_t size) {
        writeFailed = writeFailed || std::fwrite(bytes, 1, size, pending.stream) != size;
    };
    callbacks.progress = [&line](std::uint32_t done) { line.update(done); };
    callbacks.stop = [&] { return writeFailed || context->interrupted() != 0; };
    const std::uint32_t done = readArray(*session.chip, start, *count, callbacks);
    line.finish();
    const double seconds = line.elapsed();
    session.chip->endInReadArray();
    if (done < *count) {
        platform::discardFile(pending);
        if (writeFailed) {
            return conclude(fail("cannot write " + file + "; nothing was saved", exitStatus::fileFailed));
        }
        fail("interrupted after " + std::to_string(done) + " of " + std::to_string(*count) + " bytes; " + file +
                 " was not written",
             exitStatus::done);
        return conclude(exitStatus::done);
    }
    if (!platform::commitFile(pending, file, problem)) {
        return conclude(fail(problem + "; nothing was saved", exitStatus::fileFailed));
    }
    context->out << "read " << *count << " bytes (" << hex(start, 6) << " to " << hex(start + *count - 1, 6)
                 << ") of the " << session.chipText() << " into " << file << " in " << rateText(*count, seconds)
                 << '\n';
    return conclude(exitStatus::done);
}

int Runner::verify(const std::string& file, const std::optional<std::uint32_t>& offset, std::optional<bool> progress) {
    std::ifstream input(file, std::ios::binary);
    if (!input) {
        return fail("cannot read " + file, exitStatus::usage);
    }
    std::vector<std::uint8_t> expected;
    std::copy(std::istreambuf_iterator<char>(input), std::istreambuf_iterator<char>(), std::back_inserter(expected));
    if (input.bad()) {
        return fail("cannot read " + file, exitStatus::fileFailed);
    }
    if (expected.empty()) {
        return fail(file + " is empty: there is nothing to compare", exitStatus::usage);
    }
    if (expected.size() > boardAddressSpace) {
        return fail(file + " is larger than any chip the board reaches (16 MiB)", exitStatus::usage);
    }
    Session session;
    if (const int opened = open(session); opened != exitStatus::done) {
        return opened;
    }
    const std::uint32_t start = offset.value_or(0);
    std::string problem;
    const auto count = rangeLength(session.geometry.size, start, static_cast<std::uint32_t>(expected.size()), problem);
    if (!count) {
        fail(file + " does not fit: " + problem, exitStatus::usage);
        return finish(session, exitStatus::usage);
    }
    ProgressLine line(context->err, progressShown(progress), context->clock, *count);
    std::size_t compared = 0;
    std::size_t differing = 0;
    std::vector<std::string> shown;
    ArrayReadCallbacks callbacks;
    callbacks.chunk = [&](const std::uint8_t* bytes, std::size_t size) {
        for (std::size_t i = 0; i < size; ++i, ++compared) {
            if (bytes[i] != expected[compared]) {
                ++differing;
                if (shown.size() < differencesShown) {
                    shown.push_back(hex(start + static_cast<std::uint32_t>(compared), 6) + "  chip " +
                                    hex(bytes[i], 2) + "  file " + hex(expected[compared], 2));
                }
            }
        }
    };
    callbacks.progress = [&line](std::uint32_t done) { line.update(done); };
    callbacks.stop = [this] { return context->interrupted() != 0; };
    const std::uint32_t done = readArray(*session.chip, start, *count, callbacks);
    line.finish();
    const double seconds = line.elapsed();
    if (done < *count) {
        fail("interrupted after " + std::to_string(done) + " of " + std::to_string(*count) + " bytes",
             exitStatus::done);
        return finish(session, exitStatus::done);
    }
    if (differing == 0) {
        context->out << file << " matches the chip: " << *count << " bytes from " << hex(start, 6) << " compared in "
                     << rateText(*count, seconds) << '\n';
        return finish(session, exitStatus::done);
    }
    context->out << differing << " of " << *count << " bytes differ; the first " << shown.size() << ":\n";
    for (const std::string& difference : shown) {
        context->out << "  " << difference << '\n';
    }
    fail("the chip differs from " + file + " in " + std::to_string(differing) + " bytes", exitStatus::chipFailed);
    return finish(session, exitStatus::chipFailed);
}

// CLI11's option value to our byte count, as a validated string option.
std::optional<std::uint32_t> byteCountOption(const CLI::Option* option, const std::string& text) {
    if (option->count() == 0) {
        return std::nullopt;
    }
    std::string problem;
    return parseByteCount(text, problem);
}

std::string checkByteCount(const std::string& text) {
    std::string problem;
    return parseByteCount(text, problem) ? std::string() : problem;
}

std::string checkBlocks(const std::string& text) {
    std::string problem;
    return parseBlocks(text, problem) ? std::string() : problem;
}

}  // namespace

int runCommand(int argc, const char* const* argv, const CommandContext& context) {
    CLI::App app{
        "flashlock: the lock bits and contents of Intel and ST NOR flash chips on a parallel-port "
        "programmer board.\nWithout a command, flashlock runs its interactive dialogue.",
        "flashlock"};
    app.set_version_flag("--version", std::string("flashlock ") + FLASHLOCK_VERSION);
    app.require_subcommand(1);
    app.footer(
        "BLOCKS: block numbers from 1 as status shows them, comma-separated, with ranges (1,3-5), or all.\n"
        "Exit status: 0 done and verified, 1 no usable port module or no board, 2 usage error, 3 the chip refused,\n"
        "did not finish, failed verification or is no CFI chip of the Intel/ST command set, 4 a file could not be\n"
        "written or read, 128 + N ended by signal N (130 for Ctrl-C).");

    bool json = false;
    CLI::App* statusCommand =
        app.add_subcommand("status", "Show the board, the chip, its CFI geometry and the lock bit of every block");
    statusCommand->add_flag("--json", json, "One JSON object instead of text");

    std::string lockBlocks;
    CLI::App* lockCommand = app.add_subcommand("lock", "Set the lock bits of BLOCKS and verify the whole lock map");
    lockCommand->add_option("BLOCKS", lockBlocks, "Blocks to lock")->required()->check(checkBlocks, "BLOCKS");

    std::string unlockBlocks;
    CLI::App* unlockCommand = app.add_subcommand(
        "unlock", "Clear the lock bits of BLOCKS, keep every other block as it was, and verify the whole lock map");
    unlockCommand->add_option("BLOCKS", unlockBlocks, "Blocks to unlock")->required()->check(checkBlocks, "BLOCKS");

    std::string readFile;
    std::string readOffset;
    std::string readLength;
    bool force = false;
    CLI::App* readCommand = app.add_subcommand("read", "Save the chip's array to FILE");
    readCommand->add_option("FILE", readFile, "Where to save it (written whole or not at all)")->required();
    CLI::Option* readOffsetOption =
        readCommand->add_option("--offset", readOffset, "First byte (default 0; 0x for hex, k and M suffixes)")
            ->check(checkByteCount, "ADDR");
    CLI::Option* readLengthOption =
        readCommand->add_option("--length", readLength, "Bytes to read (default: to the chip's end)")
            ->check(checkByteCount, "BYTES");
    readCommand->add_flag("--force", force, "Replace FILE if it exists");

    std::string verifyFile;
    std::string verifyOffset;
    CLI::App* verifyCommand = app.add_subcommand("verify", "Compare the chip's array with FILE, byte for byte");
    verifyCommand->add_option("FILE", verifyFile, "The image to compare with")->required();
    CLI::Option* verifyOffsetOption =
        verifyCommand->add_option("--offset", verifyOffset, "Chip address of FILE's first byte (default 0)")
            ->check(checkByteCount, "ADDR");

    std::optional<bool> progress;
    for (CLI::App* command : {readCommand, verifyCommand}) {
        CLI::Option* on = command->add_flag_callback(
            "--progress", [&progress] { progress = true; }, "Show progress even when standard error is no terminal");
        CLI::Option* off = command->add_flag_callback(
            "--quiet", [&progress] { progress = false; }, "Show no progress line");
        on->excludes(off);
    }

    const auto known = [&app](const std::string& name) {
        const std::vector<CLI::App*> commands =
            app.get_subcommands([&name](CLI::App* command) { return command->get_name() == name; });
        return !commands.empty();
    };
    if (argc > 1 && argv[1][0] != '-' && !known(argv[1])) {
        context.err << "flashlock: unknown command \"" << argv[1]
                    << "\"; the commands are status, lock, unlock, read and verify (flashlock --help)\n"
                    << std::flush;
        return exitStatus::usage;
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        context.out << app.help() << std::flush;
        return context.out ? exitStatus::done : exitStatus::fileFailed;
    } catch (const CLI::ParseError& error) {
        if (error.get_exit_code() == 0) {
            // --version, or help on a command.
            app.exit(error, context.out, context.err);
            context.out.flush();
            return context.out ? exitStatus::done : exitStatus::fileFailed;
        }
        context.err << "flashlock: " << error.what() << "\nRun flashlock --help for the commands and their options.\n"
                    << std::flush;
        return exitStatus::usage;
    }

    Runner runner(context);
    std::string problem;
    if (statusCommand->parsed()) {
        return runner.status(json);
    }
    if (lockCommand->parsed()) {
        return runner.changeLocks(*parseBlocks(lockBlocks, problem), false);
    }
    if (unlockCommand->parsed()) {
        return runner.changeLocks(*parseBlocks(unlockBlocks, problem), true);
    }
    if (readCommand->parsed()) {
        return runner.read(readFile, byteCountOption(readOffsetOption, readOffset),
                           byteCountOption(readLengthOption, readLength), force, progress);
    }
    return runner.verify(verifyFile, byteCountOption(verifyOffsetOption, verifyOffset), progress);
}
