#include "app/commands/WriteCommands.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <array>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "app/Arguments.h"
#include "app/Progress.h"
#include "app/commands/LockCommands.h"
#include "app/commands/Messages.h"
#include "app/commands/Session.h"
#include "flash/ArrayReader.h"
#include "flash/ImageWriter.h"
#include "flash/LockMap.h"
#include "flash/WritePlan.h"
#include "platform/Platform.h"

namespace {

// Read from a file in pieces of this size.
constexpr std::size_t inputChunk = 65536;

// What a job is, in the words its messages use.
struct Job {
    // "wrote image.bin", for the closing line.
    std::string what;
    // The command line that runs it again.
    std::string again;
    bool verify = true;
    // An erase job: nothing to program, so nothing of it to speak of.
    bool erasing = false;
    bool dryRun = false;
    std::optional<bool> progress;
};

std::vector<std::uint32_t> blockNumbers(const WritePlan& plan, const std::function<bool(const BlockPlan&)>& which) {
    std::vector<std::uint32_t> numbers;
    for (const BlockPlan& block : plan.blocks) {
        if (which(block)) {
            numbers.push_back(static_cast<std::uint32_t>(block.index + 1));
        }
    }
    return numbers;
}

std::string countedBlocks(const std::vector<std::uint32_t>& numbers) {
    if (numbers.empty()) {
        return "none";
    }
    return blocksText(numbers) + (numbers.size() > 1 ? " (" + std::to_string(numbers.size()) + " blocks)" : "");
}

void printPlan(std::ostream& out, const WritePlan& plan, const LockState& before, const LockState& clear,
               bool erasingJob, bool protection) {
    const auto erasing = blockNumbers(plan, [](const BlockPlan& block) { return block.erases(); });
    const auto programming = blockNumbers(plan, [](const BlockPlan& block) { return !block.spans.empty(); });
    const auto keeping = blockNumbers(plan, [](const BlockPlan& block) { return block.action == BlockAction::Keep; });
    out << "erase        " << countedBlocks(erasing) << '\n';
    if (!erasingJob && programming.empty()) {
        out << "program      nothing\n";
    } else if (!erasingJob) {
        out << "program      " << byteCount(plan.programBytes()) << " in " << blocksText(programming) << '\n';
    }
    out << "unchanged    " << countedBlocks(keeping) << '\n'
        << "read         " << humanBytes(static_cast<double>(plan.bytesRead)) << " of the chip to plan this\n"
        << (protection ? "protected    " : "locked       ") << lockedSummary(before);
    const std::vector<std::uint32_t> cleared = numbersOf(clear);
    if (!cleared.empty()) {
        out << "; cleared for the job and locked again after it: " << formatBlocks(cleared, ", ");
    }
    out << '\n';
    if (!protection && !numbersOf(before).empty()) {
        out << "restore map  flashlock lock " << formatBlocks(numbersOf(before)) << '\n';
    }
    out.flush();
}

std::string operationText(const Session& session, const OperationResult& result) {
    const Geometry& geometry = session.geometry();
    std::size_t block = 0;
    while (block + 1 < geometry.blocks.size() && geometry.blocks[block + 1].base <= result.address) {
        ++block;
    }
    switch (result.kind) {
    case OperationResult::Kind::Erase:
        return "erasing block " + std::to_string(block + 1) + " (" + hex(result.address, 6) + ")";
    case OperationResult::Kind::BufferProgram:
        return "programming the write buffer at " + hex(result.address, 6) + " in block " + std::to_string(block + 1);
    case OperationResult::Kind::ByteProgram:
        break;
    }
    return "programming the byte at " + hex(result.address, 6) + " in block " + std::to_string(block + 1);
}

void reportOperation(Session& session, const OperationResult& result) {
    const std::string what = operationText(session, result);
    if (result.bufferRefused) {
        session.fail(what + ": the chip offered no write buffer within " + deadlineText(result.deadlineMicroseconds) +
                         " (extended status " + hex(result.status, 2) +
                         "), so nothing was sent to it; it may still be busy: switch the board off and on, then run "
                         "flashlock status",
                     exitStatus::chipFailed);
    } else if (result.timedOut) {
        session.fail(what + ": the chip did not finish within " + deadlineText(result.deadlineMicroseconds) +
                         " (status " + hex(result.status, 2) +
                         "); it may still be busy: switch the board off and on, then run flashlock status",
                     exitStatus::chipFailed);
    } else {
        session.fail(
            what + ": the chip refused (status " + hex(result.status, 2) + "): " + session.commands().explain(result),
            exitStatus::chipFailed);
    }
}

// How far the job got, in blocks: "blocks 2-4 done; block 5 unfinished;
// not started: 6, 32".
std::string progressText(const WritePlan& plan, const WriteOutcome& outcome) {
    std::vector<std::uint32_t> done;
    std::vector<std::uint32_t> waiting;
    for (const BlockPlan& block : plan.blocks) {
        if (block.action == BlockAction::Keep) {
            continue;
        }
        const auto number = static_cast<std::uint32_t>(block.index + 1);
        if (std::find(outcome.blocksDone.begin(), outcome.blocksDone.end(), block.index) != outcome.blocksDone.end()) {
            done.push_back(number);
        } else if (outcome.blockStarted != block.index) {
            waiting.push_back(number);
        }
    }
    std::string text = done.empty() ? std::string("no block done") : blocksText(done) + " done";
    if (outcome.blockStarted) {
        text += "; block " + std::to_string(*outcome.blockStarted + 1) + " unfinished";
    }
    if (!waiting.empty()) {
        text += "; not started: " + formatBlocks(waiting, ", ");
    }
    return text;
}

// The locks after the job: as before, or what is wrong and how to mend it.
void reportLocks(Session& session, const WriteOutcome& outcome) {
    const std::string restore = "flashlock lock " + formatBlocks(numbersOf(outcome.locksBefore));
    if (outcome.locksAfter.empty()) {
        session.fail(
            "the lock map is unknown: the chip was left busy; switch the board off and on, then run flashlock "
            "status",
            exitStatus::chipFailed);
        if (!numbersOf(outcome.locksBefore).empty()) {
            session.fail("to restore the lock map afterwards: " + restore, exitStatus::chipFailed);
        }
        return;
    }
    if (outcome.locksKept()) {
        return;
    }
    if (outcome.restore) {
        reportLockFailure(session, *outcome.restore);
    } else if (outcome.unlock) {
        reportLockFailure(session, *outcome.unlock);
    }
}

// Reads the chip as the plan needs, with a progress line; nullopt when stopped.
std::optional<WritePlan> makePlan(Session& session, const Job& job, std::uint32_t total,
                                  const std::function<WritePlan(const PlanCallbacks&)>& planner) {
    ProgressLine line(session.err(), session.progressShown(job.progress), session.clock(), total);
    line.label("reading");
    PlanCallbacks callbacks;
    callbacks.read = arrayBytes(session.commands());
    callbacks.progress = [&line](std::uint64_t decided) { line.update(static_cast<std::uint32_t>(decided)); };
    callbacks.stop = [&session] { return session.interrupted() != 0; };
    WritePlan plan = planner(callbacks);
    line.finish();
    if (!plan.complete) {
        return std::nullopt;
    }
    return plan;
}

int carryOut(Session& session, const Job& job, std::uint32_t total,
             const std::function<WritePlan(const PlanCallbacks&)>& planner, const std::string& nothingToDo) {
    LockMap map(session.commands());
    const LockState before = map.read();
    const std::int64_t started = session.clock().now();
    const std::optional<WritePlan> plan = makePlan(session, job, total, planner);
    if (!plan) {
        session.fail("interrupted while reading the chip to plan the job; nothing was written", exitStatus::done);
        return session.finish(exitStatus::done);
    }
    std::ostream& out = session.out();
    if (plan->nothingToDo()) {
        out << "nothing to do: " << nothingToDo << " (" << humanBytes(static_cast<double>(plan->bytesRead))
            << " read)\n";
        return session.finish(exitStatus::done);
    }
    const LockState clear = ImageWriter::locksToClear(*plan, before);
    if (session.protectionOnly()) {
        printPlan(out, *plan, before, LockState(before.size(), false), job.erasing, true);
        if (const std::vector<std::uint32_t> held = numbersOf(clear); !held.empty()) {
            session.fail(blocksText(held) + (held.size() == 1 ? " is" : " are") +
                             " protected: this chip's sector protection can only be removed by the chip's own means "
                             "(12 V, or its own protection commands), which flashlock does not send; nothing was "
                             "written",
                         exitStatus::chipFailed);
            return session.finish(exitStatus::chipFailed);
        }
    } else {
        printPlan(out, *plan, before, clear, job.erasing, false);
    }
    if (!numbersOf(clear).empty() && map.masterLockSet()) {
        session.fail(blocksText(numbersOf(clear)) + (numbersOf(clear).size() == 1 ? " is" : " are") +
                         " locked and the master lock bit is set: their lock bits can only change with 12 V on RP#, "
                         "which the board does not give; nothing was written",
                     exitStatus::chipFailed);
        return session.finish(exitStatus::chipFailed);
    }
    if (job.dryRun) {
        out << "dry run: nothing was written to the chip\n";
        return session.finish(exitStatus::done);
    }
    if (session.interrupted() != 0) {
        session.fail("interrupted before anything was written; nothing was changed", exitStatus::done);
        return session.finish(exitStatus::done);
    }
    if (!job.verify) {
        out << "not verifying: the bytes written are not read back (--no-verify)\n";
    }
    out.flush();
    const auto work = static_cast<std::uint32_t>(plan->programBytes() + (job.verify ? plan->verifyBytes() : 0));
    ProgressLine line(session.err(), session.progressShown(job.progress), session.clock(), work);
    WriteCallbacks callbacks;
    callbacks.progress = [&line](const WriteProgress& progress) {
        static constexpr std::array<const char*, 3> phases{"erasing", "programming", "verifying"};
        line.label(std::string(phases.at(static_cast<std::size_t>(progress.phase))) + " block " +
                   std::to_string(progress.block + 1));
        line.update(static_cast<std::uint32_t>(progress.bytesProgrammed + progress.bytesVerified));
    };
    callbacks.stop = [&session] { return session.interrupted() != 0; };
    ImageWriter writer(session.commands(), map);
    const WriteOutcome outcome = writer.run(*plan, before, job.verify, callbacks);
    line.finish();
    const double seconds =
        static_cast<double>(session.clock().now() - started) / static_cast<double>(session.clock().frequency());
    if (outcome.failure) {
        reportOperation(session, *outcome.failure);
    }
    if (outcome.mismatch) {
        const VerifyMismatch& wrong = *outcome.mismatch;
        session.fail("block " + std::to_string(wrong.block + 1) + " reads back wrong in " + byteCount(wrong.count) +
                         ", the first at " + hex(wrong.firstAddress, 6) + " (chip " + hex(wrong.found, 2) +
                         ", wanted " + hex(wrong.wanted, 2) +
                         ") although the chip reported success; run the same command again; a block that keeps "
                         "failing is worn out",
                     exitStatus::chipFailed);
    }
    reportLocks(session, outcome);
    const bool failed = outcome.failed();
    if (failed || outcome.stopped) {
        session.fail((outcome.stopped && !failed ? "interrupted: " : "stopped: ") + progressText(*plan, outcome) +
                         (outcome.locksKept() ? "; lock bits as before" : "") +
                         (outcome.chipBusy ? "" : "; to finish the job, run the same command again: " + job.again),
                     exitStatus::chipFailed);
        return session.finish(failed ? exitStatus::chipFailed : exitStatus::done, outcome.chipBusy);
    }
    const WriteProgress& done = outcome.done;
    if (job.erasing) {
        out << "erased " << blocksText(blockNumbers(*plan, [](const BlockPlan& block) { return block.erases(); }))
            << " and read them back blank in " << humanDuration(seconds);
    } else {
        out << job.what << ": " << byteCount(done.bytesProgrammed) << " programmed, " << done.blocksErased
            << (done.blocksErased == 1 ? " block" : " blocks") << " erased, "
            << (job.verify ? "every changed block verified" : "nothing verified") << ", in "
            << rateText(static_cast<std::uint32_t>(done.bytesProgrammed), seconds);
    }
    out << (session.protectionOnly() ? "; protection as before: " : "; lock bits as before: ")
        << lockedSummary(outcome.locksAfter) << '\n';
    return session.finish(exitStatus::done);
}

}  // namespace

WriteCommands::WriteCommands(CLI::App& app, const CommandContext& context)
    : context(&context),
      writeCommand(app.add_subcommand(
          "write", "Make the chip hold FILE from ADDR on, changing only what differs, and verify every changed block")),
      eraseCommand(app.add_subcommand("erase", "Erase BLOCKS and check that they read back blank (0xFF)")) {
    writeCommand->add_option("FILE", writeFile, "The image to write (- for standard input)")->required();
    addByteOption(writeCommand, "--offset", writeOffset, "Chip address of FILE's first byte (default 0)", "ADDR");
    writeCommand->add_flag("--no-verify", noVerify, "Do not read the written blocks back");
    eraseCommand->add_option("BLOCKS", eraseBlocks, "Blocks to erase")->required()->check(checkBlocks, "BLOCKS");
    for (CLI::App* command : {writeCommand, eraseCommand}) {
        command->add_flag("--dry-run", dryRun, "Print the plan and write nothing to the chip");
        addProgressOptions(command, progress);
    }
}

std::optional<int> WriteCommands::run() {
    if (writeCommand->parsed()) {
        return write();
    }
    if (eraseCommand->parsed()) {
        return erase();
    }
    return std::nullopt;
}

int WriteCommands::write() {
    Session session(*context);
    platform::FileProblem problem;
    platform::InputFile input = platform::InputFile::open(writeFile, problem);
    if (!input.isOpen()) {
        return session.fail(problem.text, exitStatus::fileFailed);
    }
    if (input.size() && *input.size() > boardAddressSpace) {
        return session.fail(input.name() + " is larger than any chip the board reaches (16 MiB)", exitStatus::usage);
    }
    std::vector<std::uint8_t> wanted;
    while (!input.atEnd() && wanted.size() <= boardAddressSpace) {
        const std::size_t had = wanted.size();
        wanted.resize(had + inputChunk);
        wanted.resize(had + input.read(&wanted[had], inputChunk, problem));
        if (problem.fault != platform::FileFault::None) {
            return session.fail(problem.text, exitStatus::fileFailed);
        }
        if (context->interrupted() != 0) {
            session.fail("interrupted while reading " + input.name() + "; nothing was written", exitStatus::done);
            return session.conclude(exitStatus::done);
        }
    }
    if (wanted.size() > boardAddressSpace) {
        return session.fail(input.name() + " is larger than any chip the board reaches (16 MiB)", exitStatus::usage);
    }
    if (wanted.empty()) {
        return session.fail(input.name() + " is empty: there is nothing to write", exitStatus::usage);
    }
    if (const int opened = session.open(); opened != exitStatus::done) {
        return opened;
    }
    const std::uint32_t start = writeOffset.value().value_or(0);
    std::string rangeProblem;
    if (!rangeLength(session.geometry().size, start, static_cast<std::uint32_t>(wanted.size()), rangeProblem,
                     writeOffset.text)) {
        session.fail(input.name() + " does not fit: " + rangeProblem, exitStatus::usage);
        return session.finish(exitStatus::usage);
    }
    Job job;
    job.what = "wrote " + input.name();
    job.again = "flashlock write " + writeFile + (writeOffset.value() ? " --offset " + writeOffset.text : "");
    job.verify = !noVerify;
    job.dryRun = dryRun;
    job.progress = progress;
    const std::uint32_t bufferSize = session.geometry().writeBufferSize;
    const std::vector<Block>& blocks = session.geometry().blocks;
    return carryOut(
        session, job, static_cast<std::uint32_t>(wanted.size()),
        [&](const PlanCallbacks& callbacks) { return planWrite(blocks, start, wanted, bufferSize, callbacks); },
        "the chip already holds " + input.name() + " at " + hex(start, 6) + " to " +
            hex(start + static_cast<std::uint32_t>(wanted.size()) - 1, 6));
}

int WriteCommands::erase() {
    Session session(*context);
    if (const int opened = session.open(); opened != exitStatus::done) {
        return opened;
    }
    std::string problem;
    const std::optional<LockState> named = session.selectBlocks(*parseBlocks(eraseBlocks, problem));
    if (!named) {
        return session.finish(exitStatus::usage);
    }
    const std::vector<std::uint32_t> numbers = numbersOf(*named);
    std::uint32_t total = 0;
    for (std::size_t i = 0; i < named->size(); ++i) {
        total += (*named)[i] ? session.geometry().blocks[i].size : 0;
    }
    Job job;
    job.erasing = true;
    job.again = "flashlock erase " + formatBlocks(numbers);
    job.dryRun = dryRun;
    job.progress = progress;
    const std::vector<Block>& blocks = session.geometry().blocks;
    return carryOut(
        session, job, total, [&](const PlanCallbacks& callbacks) { return planErase(blocks, *named, callbacks); },
        blocksText(numbers) + (numbers.size() == 1 ? " is" : " are") + " erased already (all 0xFF)");
}
