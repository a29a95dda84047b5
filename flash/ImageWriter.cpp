#include "flash/ImageWriter.h"

#include <algorithm>

namespace {

// Bytes read back between two progress reports.
constexpr std::uint32_t verifyChunk = 4096;

bool stopAsked(const WriteCallbacks& callbacks) {
    return callbacks.stop && callbacks.stop();
}

void report(const WriteCallbacks& callbacks, WriteOutcome& outcome, WritePhase phase, std::size_t block) {
    outcome.done.phase = phase;
    outcome.done.block = block;
    if (callbacks.progress) {
        callbacks.progress(outcome.done);
    }
}

}  // namespace

ImageWriter::ImageWriter(CommandSet& commands, LockMap& locks, ArrayReader* reader)
    : commands(&commands), locks(&locks), reader(reader) {}

bool ImageWriter::readsBackLater(const WritePlan& plan, bool verify) {
    return verify && reader != nullptr && reader->willStep(static_cast<std::uint32_t>(plan.verifyBytes()));
}

std::uint64_t ImageWriter::readBackBytes(const WritePlan& plan, bool verify) {
    if (readsBackLater(plan, verify)) {
        return commands->geometry().size;
    }
    return verify ? plan.verifyBytes() : 0;
}

LockState ImageWriter::locksToClear(const WritePlan& plan, const LockState& before) {
    LockState clear(before.size(), false);
    for (const BlockPlan& block : plan.blocks) {
        if (block.action != BlockAction::Keep && block.index < before.size()) {
            clear[block.index] = before[block.index];
        }
    }
    return clear;
}

WriteOutcome ImageWriter::run(const WritePlan& plan, const LockState& before, const LockState& current, bool verify,
                              const WriteCallbacks& callbacks, JournalKeeper* keeper) {
    journal = keeper;
    WriteOutcome outcome;
    outcome.locksBefore = before;
    const LockState clear = locksToClear(plan, current);
    if (commands->lockAbility() == LockAbility::None) {
        for (std::size_t i = 0; i < clear.size(); ++i) {
            if (clear[i]) {
                outcome.protectedBlocks.push_back(i);
            }
        }
        if (!outcome.protectedBlocks.empty()) {
            outcome.locksAfter = current;
            return outcome;
        }
    }
    if (std::find(clear.begin(), clear.end(), true) != clear.end()) {
        outcome.unlock = locks->unlock(current, clear);
        if (!outcome.unlock->verified()) {
            outcome.chipBusy = locks->chipBusy();
            settleJournal(outcome);
            restoreLocks(outcome);
            return outcome;
        }
    }
    const bool later = readsBackLater(plan, verify);
    const ReadBack readBack = later ? ReadBack::Later : verify ? ReadBack::Whole : ReadBack::KeptBytes;
    for (const BlockPlan& block : plan.blocks) {
        if (block.action == BlockAction::Keep) {
            continue;
        }
        if (stopAsked(callbacks)) {
            outcome.stopped = true;
            break;
        }
        outcome.blockStarted = block.index;
        if (!writeBlock(block, readBack, callbacks, outcome)) {
            break;
        }
        if (outcome.stopped) {
            break;
        }
        outcome.blocksDone.push_back(block.index);
        outcome.blockStarted.reset();
    }
    if (later && !outcome.stopped && !outcome.failure && !outcome.mismatch && !outcome.journalFailed) {
        verifyAll(plan, callbacks, outcome);
    }
    outcome.chipBusy = commands->busy();
    settleJournal(outcome);
    restoreLocks(outcome);
    return outcome;
}

bool ImageWriter::writeBlock(const BlockPlan& block, ReadBack readBack, const WriteCallbacks& callbacks,
                             WriteOutcome& outcome) {
    if (block.erases()) {
        if (journal != nullptr && !block.preserved.empty()) {
            platform::FileProblem problem;
            if (!journal->protect(block, problem)) {
                outcome.journalFailed = problem;
                return false;
            }
        }
        const OperationResult erased = commands->erase({block.base, block.size});
        if (!erased.ok) {
            outcome.failure = erased;
            return false;
        }
        ++outcome.done.blocksErased;
        report(callbacks, outcome, WritePhase::Erasing, block.index);
    }
    for (std::size_t i = 0; i < block.spans.size(); ++i) {
        // Bytes from outside the range live only in the plan once the block
        // is erased: they are written back before the job may stop.
        if (i >= block.preservedSpans && stopAsked(callbacks)) {
            outcome.stopped = true;
            return true;
        }
        const ProgramSpan& span = block.spans[i];
        const OperationResult programmed =
            commands->program(span.address, &block.content[span.address - block.base], span.length);
        if (!programmed.ok) {
            outcome.failure = programmed;
            return false;
        }
        outcome.done.bytesProgrammed += span.length;
        report(callbacks, outcome, WritePhase::Programming, block.index);
    }
    const auto chip = [this](std::uint32_t address) { return commands->readByte(address); };
    switch (readBack) {
    case ReadBack::Later:
        return true;
    case ReadBack::Whole: {
        // Everything the erase touched, which checks the erase itself too.
        const std::vector<ProgramSpan> whole{{block.base, block.size}};
        return verifyBlock(block, block.erases() ? whole : block.spans, chip, true, callbacks, outcome);
    }
    case ReadBack::KeptBytes:
        break;
    }
    // Bytes kept through the erase exist nowhere else: they are read back
    // even when the image's own bytes are not.
    return verifyBlock(block, block.preserved, chip, true, callbacks, outcome);
}

void ImageWriter::verifyAll(const WritePlan& plan, const WriteCallbacks& callbacks, WriteOutcome& outcome) {
    const std::uint64_t before = outcome.done.bytesVerified;
    const auto changed = std::find_if(plan.blocks.rbegin(), plan.blocks.rend(),
                                      [](const BlockPlan& block) { return block.action != BlockAction::Keep; });
    const std::size_t last = changed != plan.blocks.rend() ? changed->index : 0;
    const std::optional<std::vector<std::uint8_t>> chip = reader->readWhole(
        [&](std::uint32_t done) {
            outcome.done.bytesVerified = before + done;
            report(callbacks, outcome, WritePhase::Verifying, last);
        },
        [&callbacks] { return stopAsked(callbacks); });
    if (!chip) {
        outcome.stopped = true;
        return;
    }
    const auto memory = [&chip](std::uint32_t address) { return (*chip)[address]; };
    for (const BlockPlan& block : plan.blocks) {
        if (block.action == BlockAction::Keep) {
            continue;
        }
        const std::vector<ProgramSpan> whole{{block.base, block.size}};
        if (!verifyBlock(block, block.erases() ? whole : block.spans, memory, false, callbacks, outcome)) {
            return;
        }
    }
}

bool ImageWriter::verifyBlock(const BlockPlan& block, const std::vector<ProgramSpan>& ranges,
                              const std::function<std::uint8_t(std::uint32_t)>& read, bool counted,
                              const WriteCallbacks& callbacks, WriteOutcome& outcome) {
    if (counted) {
        commands->readArray();
    }
    VerifyMismatch mismatch;
    mismatch.block = block.index;
    const auto compare = [&](std::uint32_t from, std::uint32_t length) {
        for (std::uint32_t done = 0; done < length;) {
            const std::uint32_t chunk = std::min(length - done, verifyChunk);
            for (std::uint32_t address = from + done; address < from + done + chunk; ++address) {
                if (counted && stopAsked(callbacks)) {
                    outcome.stopped = true;
                    return false;
                }
                const std::uint8_t found = read(address);
                const std::uint8_t wanted = block.content[address - block.base];
                if (found != wanted) {
                    if (mismatch.count++ == 0) {
                        mismatch.firstAddress = address;
                        mismatch.found = found;
                        mismatch.wanted = wanted;
                    }
                    if (mismatch.addresses.size() < VerifyMismatch::addressesKept) {
                        mismatch.addresses.push_back(address);
                    }
                }
            }
            done += chunk;
            if (counted) {
                outcome.done.bytesVerified += chunk;
                report(callbacks, outcome, WritePhase::Verifying, block.index);
            }
        }
        return true;
    };
    for (const ProgramSpan& range : ranges) {
        if (!compare(range.address, range.length)) {
            break;
        }
    }
    if (mismatch.count > 0) {
        outcome.mismatch = mismatch;
        return false;
    }
    // A stop while reading leaves the block unproven, not wrong.
    if (journal != nullptr && !outcome.stopped) {
        journal->settled(block.index);
    }
    return true;
}

void ImageWriter::settleJournal(WriteOutcome& outcome) {
    if (journal == nullptr) {
        return;
    }
    for (const SavedBlock& saved : journal->state().saved) {
        if (journal->isSettled(saved.index)) {
            continue;
        }
        if (outcome.chipBusy) {
            outcome.unsettled.push_back(saved.index);
            continue;
        }
        commands->readArray();
        bool inPlace = true;
        for (const SavedRun& kept : saved.runs) {
            for (std::size_t i = 0; i < kept.bytes.size() && inPlace; ++i) {
                inPlace = commands->readByte(kept.address + static_cast<std::uint32_t>(i)) == kept.bytes[i];
            }
        }
        if (inPlace) {
            journal->settled(saved.index);
        } else {
            outcome.unsettled.push_back(saved.index);
        }
    }
}

void ImageWriter::restoreLocks(WriteOutcome& outcome) {
    if (outcome.chipBusy) {
        return;
    }
    commands->readArray();
    const LockState now = locks->read();
    if (now == outcome.locksBefore) {
        outcome.locksAfter = now;
        return;
    }
    outcome.restore = locks->change(now, outcome.locksBefore);
    outcome.chipBusy = locks->chipBusy();
    outcome.locksAfter = outcome.restore->after;
}
