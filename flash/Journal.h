#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "flash/ChipIdentity.h"
#include "flash/CommandSet.h"
#include "flash/WritePlan.h"
#include "platform/Platform.h"

// What a job that changes the chip must not lose, kept on the disk as a
// database keeps its write-ahead log: written and flushed before the change
// it protects, removed once the change is verified. A kill or a power cut at
// any point leaves either no journal (nothing was changed yet, or everything
// was verified) or one from which the chip's old content and lock map can be
// made again.

// Bytes the erase of a block destroys that the image does not give: what the
// block held there, run by run.
struct SavedRun {
    std::uint32_t address = 0;
    std::vector<std::uint8_t> bytes;
    bool operator==(const SavedRun&) const = default;
};
struct SavedBlock {
    std::size_t index = 0;
    std::vector<SavedRun> runs;
    bool operator==(const SavedBlock&) const = default;
};

enum class JobKind : std::uint8_t { Write = 1, Erase = 2, Lock = 3, Unlock = 4 };

struct JournalJob {
    JobKind kind = JobKind::Write;
    // Write: the image's bytes and where they go; else zero.
    std::array<std::uint8_t, 32> digest{};
    // Erase, lock, unlock: the blocks named; write: none.
    LockState blocks;
    // The command line as it finishes the job, for the messages.
    std::vector<std::string> command;

    // Whether a rerun is this job: the same kind on the same bytes or blocks.
    [[nodiscard]] bool sameAs(const JournalJob& other) const {
        return kind == other.kind && digest == other.digest && blocks == other.blocks;
    }
    bool operator==(const JournalJob&) const = default;
};

struct JournalState {
    // The port as the user names it (0x378, /dev/parport1), and the board.
    std::string port;
    std::int32_t board = 0;
    ChipIdentity identity;
    std::uint16_t commandSet = 0;
    std::uint32_t size = 0;
    std::uint32_t blockCount = 0;
    // The map as it was before the job: what it is made again at the end.
    LockState locksBefore;
    JournalJob job;
    std::vector<SavedBlock> saved;

    // Whether the chip in the socket is the one the job was on.
    [[nodiscard]] bool sameChip(const ChipIdentity& chip, const Geometry& geometry) const {
        return identity == chip && commandSet == geometry.commandSet && size == geometry.size &&
               blockCount == geometry.blocks.size();
    }
    bool operator==(const JournalState&) const = default;
};

std::vector<std::uint8_t> encodeJournal(const JournalState& state);
// Nullopt, with `problem` saying what is wrong, for anything but a whole
// journal whose checksum holds: such a file is never applied.
std::optional<JournalState> decodeJournal(const std::vector<std::uint8_t>& data, std::string& problem);

// The digest that tells one image from another: its ranges and bytes.
std::array<std::uint8_t, 32> imageDigest(const std::vector<WantedRange>& ranges);

// The journal file of one port.
class Journal {
public:
    enum class Found { None, Valid, Damaged };

    explicit Journal(std::string path) : file(std::move(path)) {}

    // Reads it; Damaged with `problem` set for a file that is there but is no
    // whole journal.
    Found load(JournalState& state, std::string& problem) const;
    // Replaces the file whole, durably: afterwards it holds `state` even if
    // the power fails right after.
    bool write(const JournalState& state, platform::FileProblem& problem) const;
    bool remove(platform::FileProblem& problem) const;
    [[nodiscard]] const std::string& path() const { return file; }

private:
    std::string file;
};

// The name of a port's journal in its folder: "journal-0x378".
std::string journalFileName(const std::string& port);

// Keeps a job's journal as it goes: the state written before the first
// change, each block's destroyed bytes added before its erase, and blocks
// read back in place dropped the next time the file is written (so the
// journal costs one flush at the start, one per block whose bytes it keeps,
// and one at the end).
class JournalKeeper {
public:
    JournalKeeper(const Journal& journal, JournalState state) : journal(&journal), current(std::move(state)) {}

    bool begin(platform::FileProblem& problem);
    // Before `block`'s erase: its bytes that the image does not give.
    bool protect(const BlockPlan& block, platform::FileProblem& problem);
    // `index`'s saved bytes read back in place: no longer needed.
    void settled(std::size_t index);
    [[nodiscard]] bool isSettled(std::size_t index) const;
    // Everything verified: the journal goes.
    bool finish(platform::FileProblem& problem);

    [[nodiscard]] const JournalState& state() const { return current; }
    [[nodiscard]] const std::string& path() const { return journal->path(); }

private:
    const Journal* journal;
    JournalState current;
    std::vector<std::size_t> settledBlocks;
};
