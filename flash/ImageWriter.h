#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "flash/ArrayReader.h"
#include "flash/CommandSet.h"
#include "flash/Journal.h"
#include "flash/LockMap.h"
#include "flash/WritePlan.h"

enum class WritePhase { Erasing, Programming, Verifying };

// Where a job stands, reported after every erase, buffer and verified block.
struct WriteProgress {
    WritePhase phase = WritePhase::Erasing;
    std::size_t block = 0;  // index in Geometry::blocks
    std::size_t blocksErased = 0;
    std::uint64_t bytesProgrammed = 0;
    std::uint64_t bytesVerified = 0;
};

struct WriteCallbacks {
    std::function<void(const WriteProgress& progress)> progress;
    // Asked between erases and buffers; true ends the job at the next point
    // where no data would be lost, with the lock map restored.
    std::function<bool()> stop;
};

// A block that read back other than planned.
struct VerifyMismatch {
    // How many wrong addresses are listed; the count goes on.
    static constexpr std::size_t addressesKept = 8;
    std::size_t block = 0;
    std::uint32_t firstAddress = 0;
    std::uint8_t found = 0;
    std::uint8_t wanted = 0;
    std::uint32_t count = 0;
    std::vector<std::uint32_t> addresses;
};

struct WriteOutcome {
    WriteProgress done;
    // Changed and, unless verifying was skipped, read back as planned.
    std::vector<std::size_t> blocksDone;
    // The block the job was in when it stopped or failed.
    std::optional<std::size_t> blockStarted;
    std::optional<OperationResult> failure;
    std::optional<VerifyMismatch> mismatch;
    // The lock bits cleared for the job, and their restoring.
    std::optional<LockOutcome> unlock;
    std::optional<LockOutcome> restore;
    // The lock map before the job, and as read back at its end (empty when
    // the chip was left busy and could not be read).
    LockState locksBefore;
    LockState locksAfter;
    bool stopped = false;
    bool chipBusy = false;
    // Blocks the plan would change whose protection the bus cannot clear:
    // nothing was sent to the chip.
    std::vector<std::size_t> protectedBlocks;
    // The journal could not be written before an erase: that block and those
    // after it were left alone.
    std::optional<platform::FileProblem> journalFailed;
    // Journaled blocks whose saved bytes did not read back in place at the end
    // (or could not be read: the chip was left busy).
    std::vector<std::size_t> unsettled;

    [[nodiscard]] bool locksKept() const { return !locksAfter.empty() && locksAfter == locksBefore; }
    [[nodiscard]] bool failed() const {
        return failure.has_value() || mismatch.has_value() || (unlock && !unlock->verified()) || !locksKept() ||
               !protectedBlocks.empty() || journalFailed.has_value();
    }
};

// Carries out a write plan as one transaction: the locked blocks that must
// change are unlocked as `unlock` does, each block erased, programmed and
// read back in turn, and at the end the lock map made and verified as it was
// before, whatever happened in between (unless the chip was left busy). A
// chip whose protection the bus cannot clear is sent nothing when a
// protected block would change. Expects the access line up; leaves the chip
// in read-array mode.
class ImageWriter {
public:
    // With a reader that may step, a plan whose read-back is most of the chip
    // is read back once at the end, the whole chip in stepping order, rather
    // than block by block.
    ImageWriter(CommandSet& commands, LockMap& locks, ArrayReader* reader = nullptr);

    // The bytes reading the plan back takes from the chip: the changed
    // blocks, or the whole chip when stepping through it costs less.
    [[nodiscard]] std::uint64_t readBackBytes(const WritePlan& plan, bool verify);

    // `before`: the lock map to leave behind, as it was before the job;
    // `current`: as read now (other than `before` when a journaled job is
    // taken up again). `verify` false skips the reading back of the image's
    // bytes, never that of bytes kept through an erase or of the lock map.
    // With a journal, each block's bytes that its erase destroys are put in
    // it first, and blocks read back in place are settled.
    WriteOutcome run(const WritePlan& plan, const LockState& before, const LockState& current, bool verify,
                     const WriteCallbacks& callbacks, JournalKeeper* keeper = nullptr);
    WriteOutcome run(const WritePlan& plan, const LockState& before, bool verify, const WriteCallbacks& callbacks) {
        return run(plan, before, before, verify, callbacks);
    }

    // The blocks whose lock bits a plan needs cleared.
    [[nodiscard]] static LockState locksToClear(const WritePlan& plan, const LockState& before);

private:
    // False when the job must end here (a failure, or the chip left busy).
    enum class ReadBack { Whole, KeptBytes, Later };
    bool writeBlock(const BlockPlan& block, ReadBack readBack, const WriteCallbacks& callbacks, WriteOutcome& outcome);
    // Compares the block with the plan over `ranges` (the whole block, its
    // spans, or its kept bytes alone), reading each byte with `read`;
    // `counted` adds the bytes to the progress (not when they came from memory).
    bool verifyBlock(const BlockPlan& block, const std::vector<ProgramSpan>& ranges,
                     const std::function<std::uint8_t(std::uint32_t)>& read, bool counted,
                     const WriteCallbacks& callbacks, WriteOutcome& outcome);
    // Reads the whole chip back once and compares every changed block.
    void verifyAll(const WritePlan& plan, const WriteCallbacks& callbacks, WriteOutcome& outcome);
    [[nodiscard]] bool readsBackLater(const WritePlan& plan, bool verify);
    void restoreLocks(WriteOutcome& outcome);
    // Reads the journal's saved bytes back; those in place are settled.
    void settleJournal(WriteOutcome& outcome);

    JournalKeeper* journal = nullptr;

    CommandSet* commands;
    LockMap* locks;
    ArrayReader* reader;
};
