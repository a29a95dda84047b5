#include "app/commands/WriteCommands.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <array>
#include <functional>
#include <iterator>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "app/Arguments.h"
#include "app/ImageFile.h"
#include "app/Progress.h"
#include "app/commands/JobJournal.h"
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
    JournalJob journal;
    bool verify = true;
    // An erase job: nothing to program, so nothing of it to speak of.
    bool erasing = false;
    // recover: only what a journal keeps.
    bool recovering = false;
    bool dryRun = false;
    std::optional<bool> progress;
    std::string nothingToDo;
    // About how many bytes planning will read, with the saved ones: whether
    // reading the whole chip first pays.
    std::function<std::uint64_t(const std::vector<WantedRange>& saved)> estimate = [](const auto&) { return 0; };
};

using Planner = std::function<WritePlan(const std::vector<WantedRange>& saved, const PlanCallbacks& callbacks)>;

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

// "new.bin covers blocks 1-32 of the 64 (0x000000 to 0x3FFFFF); the rest keeps its contents".
std::string coverage(const std::string& name, const std::vector<WantedRange>& ranges, const Geometry& geometry) {
    std::vector<bool> touched(geometry.blocks.size(), false);
    std::uint64_t bytes = 0;
    for (const WantedRange& range : ranges) {
        bytes += range.bytes.size();
        const std::uint32_t last = range.address + static_cast<std::uint32_t>(range.bytes.size()) - 1;
        for (std::size_t i = geometry.blockAt(range.address); i <= geometry.blockAt(last); ++i) {
            touched[i] = true;
        }
    }
    if (bytes == geometry.size) {
        return name + " covers the whole chip";
    }
    const std::vector<std::uint32_t> numbers = numbersOf(touched);
    std::string where;
    if (ranges.size() == 1) {
        where = hex(ranges.front().address, 6) + " to " +
                hex(ranges.front().address + static_cast<std::uint32_t>(ranges.front().bytes.size()) - 1, 6);
    } else {
        where = std::to_string(ranges.size()) + " ranges, " + byteCount(bytes);
    }
    return name + " covers " + blocksText(numbers) + " of the " + std::to_string(geometry.blocks.size()) + " (" +
           where + "); the rest keeps its contents";
}

void printPlan(std::ostream& out, const WritePlan& plan, const LockState& before, const LockState& clear,
               const Job& job, bool protection, const std::string& restore) {
    const auto erasing = blockNumbers(plan, [](const BlockPlan& block) { return block.erases(); });
    const auto programming = blockNumbers(plan, [](const BlockPlan& block) { return !block.spans.empty(); });
    const auto keeping = blockNumbers(plan, [](const BlockPlan& block) { return block.action == BlockAction::Keep; });
    out << "erase        " << countedBlocks(erasing) << '\n';
    if (!job.erasing && programming.empty()) {
        out << "program      nothing\n";
    } else if (!job.erasing) {
        out << "program      " << byteCount(plan.programBytes()) << " in " << blocksText(programming) << '\n';
    }
    if (!keeping.empty()) {
        out << "unchanged    " << countedBlocks(keeping) << ", which hold" << (keeping.size() == 1 ? "s" : "")
            << (job.erasing ? " nothing but 0xFF already\n" : " these bytes already\n");
    }
    out << "read         " << humanBytes(static_cast<double>(plan.bytesRead)) << " of the chip to plan this\n"
        << (protection ? "protected    " : "locked       ") << lockedSummary(before);
    const std::vector<std::uint32_t> cleared = numbersOf(clear);
    if (!cleared.empty()) {
        out << "; cleared for the job and locked again after it: " << formatBlocks(cleared, ", ");
    }
    out << '\n';
    if (!protection && !numbersOf(before).empty()) {
        out << "restore map  " << restore << '\n';
    }
    out.flush();
}

std::string operationText(const Session& session, const OperationResult& result) {
    const std::size_t block = session.geometry().blockAt(result.address);
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

void reportMismatch(Session& session, const VerifyMismatch& wrong) {
    std::string addresses;
    for (const std::uint32_t address : wrong.addresses) {
        addresses += (addresses.empty() ? "" : ", ") + hex(address, 6);
    }
    if (wrong.count > wrong.addresses.size()) {
        addresses += ", ...";
    }
    session.fail("block " + std::to_string(wrong.block + 1) + " reads back wrong in " + byteCount(wrong.count) + " (" +
                     addresses + "); the first, " + hex(wrong.firstAddress, 6) + ", holds " + hex(wrong.found, 2) +
                     " where " + hex(wrong.wanted, 2) +
                     " belongs, although the chip reported success: a block whose bytes will not hold is worn out",
                 exitStatus::chipFailed);
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
void reportLocks(Session& session, const WriteOutcome& outcome, const std::string& restore) {
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
    if (outcome.unlock && !outcome.unlock->verified()) {
        // Why the blocks could not be unlocked for the job: the chip's own answer.
        reportLockSteps(session, *outcome.unlock);
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

// Whether running the job again can help: not while a lock bit will not
// change (a fault of the chip), only once mended while the chip refuses its
// lock bits for a reason of its own.
enum class Rerun { Helps, OnceMended, Never };
Rerun rerun(const WriteOutcome& outcome) {
    if (!outcome.unlock || outcome.unlock->verified()) {
        return Rerun::Helps;
    }
    if (!outcome.unlock->stuck.empty()) {
        return Rerun::Never;
    }
    const bool refused =
        std::any_of(outcome.unlock->failures.begin(), outcome.unlock->failures.end(),
                    [](const LockStepFailure& failure) { return !failure.step.ok && !failure.step.timedOut; });
    return refused ? Rerun::OnceMended : Rerun::Helps;
}

// The saved bytes of a journal, as ranges the planner writes back.
std::vector<WantedRange> savedRanges(const std::optional<JournalState>& previous) {
    std::vector<WantedRange> ranges;
    if (previous) {
        for (const SavedBlock& block : previous->saved) {
            std::transform(block.runs.begin(), block.runs.end(), std::back_inserter(ranges), [](const SavedRun& run) {
                return WantedRange{run.address, run.bytes};
            });
        }
    }
    std::sort(ranges.begin(), ranges.end(),
              [](const WantedRange& a, const WantedRange& b) { return a.address < b.address; });
    return ranges;
}

// Reads the chip as the plan needs, with a progress line; nullopt when
// stopped. A plan that compares most of the chip reads it whole first, in
// stepping order, and then plans from memory.
std::optional<WritePlan> makePlan(Session& session, const Job& job, const std::vector<WantedRange>& saved,
                                  const Planner& planner) {
    ArrayReader& reader = session.reader();
    const bool whole = reader.willStep(static_cast<std::uint32_t>(job.estimate(saved)));
    ProgressLine line(session.err(), session.progressShown(job.progress), session.clock(),
                      whole ? session.geometry().size : 0);
    line.label("reading to plan");
    PlanCallbacks callbacks;
    callbacks.stop = [&session] { return session.interrupted() != 0; };
    std::optional<std::vector<std::uint8_t>> chip;
    if (whole) {
        chip = reader.readWhole([&line](std::uint32_t done) { line.update(done); }, callbacks.stop);
        if (!chip) {
            line.finish();
            return std::nullopt;
        }
        callbacks.read = [&chip](std::uint32_t address) { return (*chip)[address]; };
    } else {
        callbacks.read = arrayBytes(session.commands());
        callbacks.progress = [&line](std::uint64_t read, std::uint64_t expected) {
            line.setTotal(static_cast<std::uint32_t>(expected));
            line.update(static_cast<std::uint32_t>(read));
        };
    }
    WritePlan plan = planner(saved, callbacks);
    line.finish();
    if (!plan.complete) {
        return std::nullopt;
    }
    if (whole) {
        plan.bytesRead = chip->size();
    }
    return plan;
}

double secondsSince(Session& session, std::int64_t started) {
    return static_cast<double>(session.clock().now() - started) / static_cast<double>(session.clock().frequency());
}

int carryOut(Session& session, const Job& job, const Planner& planner) {
    const CommandContext& context = session.commandContext();
    JobJournal journal(session);
    int refused = exitStatus::done;
    const std::optional<std::optional<JournalState>> taken =
        journal.takeUp(job.recovering ? nullptr : &job.journal, refused);
    if (!taken) {
        return session.finish(refused);
    }
    const std::optional<JournalState>& previous = *taken;
    std::ostream& out = session.out();
    if (job.recovering && !previous) {
        out << "nothing to recover: no unfinished job is journaled for " << context.port << " (" << journal.path()
            << ")\n";
        return session.finish(exitStatus::done);
    }
    if (previous) {
        out << "journal      " << journal.path() << " keeps " << JobJournal::describe(*previous) << "; "
            << (job.recovering ? "putting back what it keeps" : "finishing it") << '\n';
    }
    LockMap map(session.commands());
    const LockState current = map.read();
    // A job taken up again leaves the map as it was before its first run,
    // not as that run left it.
    const LockState before = previous ? previous->locksBefore : current;
    const std::string restore = commandText(context, {"lock", formatBlocks(numbersOf(before))});
    const std::int64_t started = session.clock().now();
    const std::optional<WritePlan> plan = makePlan(session, job, savedRanges(previous), planner);
    if (!plan) {
        session.fail("interrupted while reading the chip to plan the job; nothing was written", exitStatus::done);
        return session.finish(exitStatus::done);
    }
    const double planning = secondsSince(session, started);
    if (plan->nothingToDo() && current == before) {
        if (previous) {
            platform::FileProblem problem;
            if (!journal.journal().remove(problem)) {
                return session.finish(session.fail(problem.text, exitStatus::fileFailed));
            }
        }
        if (job.recovering) {
            out << "recovered: every byte the journal kept is in place and the lock map is as before the job; "
                   "the journal is removed\n";
        } else {
            out << "nothing to do: " << job.nothingToDo << " (" << humanBytes(static_cast<double>(plan->bytesRead))
                << " read)\n";
        }
        return session.finish(exitStatus::done);
    }
    const LockState clear = ImageWriter::locksToClear(*plan, current);
    const bool protection = session.protectionOnly();
    if (job.recovering) {
        const auto changing = blockNumbers(*plan, [](const BlockPlan& block) { return !block.spans.empty(); });
        out << "put back     "
            << (changing.empty() ? std::string("nothing: every byte the journal keeps is in place")
                                 : byteCount(plan->programBytes()) + " in " + blocksText(changing))
            << '\n'
            << "lock map     " << (current == before ? "as before the job: " : "made again as before the job: ")
            << lockedSummary(before) << '\n';
    } else {
        printPlan(out, *plan, before, protection ? LockState(before.size(), false) : clear, job, protection, restore);
    }
    if (protection) {
        if (const std::vector<std::uint32_t> held = numbersOf(clear); !held.empty()) {
            session.fail(blocksText(held) + (held.size() == 1 ? " is" : " are") +
                             " protected: this chip's sector protection can only be removed by the chip's own means "
                             "(12 V, or its own protection commands), which flashlock does not send; nothing was "
                             "written",
                         exitStatus::chipFailed);
            return session.finish(exitStatus::chipFailed);
        }
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
        out << "not verifying: the image's bytes are not read back (--no-verify); bytes kept through an erase are "
               "read back all the same\n";
    }
    out.flush();
    JournalState state = previous ? *previous : journal.fresh(job.journal, before);
    JournalKeeper keeper(journal.journal(), state);
    for (const BlockPlan& block : plan->blocks) {
        // The planner found these saved bytes in place already.
        if (block.action == BlockAction::Keep) {
            keeper.settled(block.index);
        }
    }
    if (platform::FileProblem problem; !keeper.begin(problem)) {
        return session.finish(session.fail(journalNotWritten(problem.text), exitStatus::fileFailed));
    }
    ImageWriter writer(session.commands(), map, &session.reader());
    const auto work = static_cast<std::uint32_t>(plan->programBytes() + writer.readBackBytes(*plan, job.verify));
    ProgressLine line(session.err(), session.progressShown(job.progress), session.clock(), work);
    WriteCallbacks callbacks;
    callbacks.progress = [&line](const WriteProgress& progress) {
        static constexpr std::array<const char*, 3> phases{"erasing", "programming", "verifying"};
        line.label(std::string(phases.at(static_cast<std::size_t>(progress.phase))) + " block " +
                   std::to_string(progress.block + 1));
        line.update(static_cast<std::uint32_t>(progress.bytesProgrammed + progress.bytesVerified));
    };
    callbacks.stop = [&session] { return session.interrupted() != 0; };
    const std::int64_t writingStarted = session.clock().now();
    const WriteOutcome outcome = writer.run(*plan, before, current, job.verify, callbacks, &keeper);
    line.finish();
    const double writing = secondsSince(session, writingStarted);
    if (outcome.journalFailed) {
        session.fail("the journal could not be written before an erase: " + outcome.journalFailed->text +
                         "; that block and those after it were left as they were",
                     exitStatus::fileFailed);
    }
    if (outcome.failure) {
        reportOperation(session, *outcome.failure);
    }
    if (outcome.mismatch) {
        reportMismatch(session, *outcome.mismatch);
    }
    reportLocks(session, outcome, restore);
    // The journal goes once nothing in it is needed: every byte it kept read
    // back in place, and the lock map as it was.
    const bool settled = outcome.unsettled.empty() && outcome.locksKept() && !outcome.chipBusy;
    const bool journalKept = !settled;
    if (settled) {
        platform::FileProblem problem;
        if (!keeper.finish(problem)) {
            session.fail(
                "the journal " + journal.path() + " could not be removed: " + problem.text + "; it is no longer needed",
                exitStatus::fileFailed);
        }
    }
    const std::string again =
        commandText(context, job.recovering && previous ? previous->job.command : job.journal.command);
    const bool failed = outcome.failed();
    if (failed || outcome.stopped) {
        std::string next;
        if (!outcome.chipBusy) {
            switch (rerun(outcome)) {
            case Rerun::Helps:
                next = "; to finish the job, run the same command again: " + again;
                break;
            case Rerun::OnceMended:
                next = "; once that is mended, run " + again;
                break;
            case Rerun::Never:
                break;
            }
        }
        if (journalKept) {
            next += (next.empty() ? "; " : "; or ") + std::string("to put back only what the journal ") +
                    journal.path() + " keeps: " + commandText(context, {"recover"});
        }
        session.fail(
            (outcome.stopped && !failed ? "interrupted: " : "stopped: ") + progressText(*plan, outcome) +
                (outcome.locksKept() ? (protection ? "; protection as before" : "; lock bits as before") : "") + next,
            exitStatus::chipFailed);
        const int status =
            failed ? (outcome.journalFailed ? exitStatus::fileFailed : exitStatus::chipFailed) : exitStatus::done;
        return session.finish(status, outcome.chipBusy);
    }
    const WriteProgress& done = outcome.done;
    const std::string times = "planned in " + humanDuration(planning) + ", ";
    if (job.recovering) {
        out << "recovered: " << byteCount(done.bytesProgrammed) << " put back in place and verified, "
            << done.blocksErased << (done.blocksErased == 1 ? " block" : " blocks") << " erased, in "
            << humanDuration(planning + writing)
            << "; the journal is removed; the job itself is not finished: " << again;
    } else if (job.erasing) {
        const auto erased = blockNumbers(*plan, [](const BlockPlan& block) { return block.erases(); });
        out << "erased " << blocksText(erased) << " and read " << (erased.size() == 1 ? "it" : "them")
            << " back blank; " << times << "erased in " << humanDuration(writing);
    } else {
        out << job.what << ": " << byteCount(done.bytesProgrammed) << " programmed, " << done.blocksErased
            << (done.blocksErased == 1 ? " block" : " blocks") << " erased, "
            << (job.verify ? "every changed block verified" : "nothing of the image verified") << "; " << times
            << "written in " << rateText(static_cast<std::uint32_t>(done.bytesProgrammed), writing);
    }
    out << (session.protectionOnly() ? "; protection as before: " : "; lock bits as before: ")
        << lockedSummary(outcome.locksAfter) << '\n';
    return session.finish(exitStatus::done);
}

// Both lists in address order and apart from each other: one list in order.
std::vector<WantedRange> merged(std::vector<WantedRange> image, const std::vector<WantedRange>& saved) {
    image.insert(image.end(), saved.begin(), saved.end());
    std::sort(image.begin(), image.end(),
              [](const WantedRange& a, const WantedRange& b) { return a.address < b.address; });
    return image;
}

}  // namespace

std::vector<std::string> jobWords(const CommandContext& context) {
    std::vector<std::string> words;
    const std::vector<std::string>& given = context.arguments;
    for (std::size_t i = 0; i < given.size(); ++i) {
        const std::string& word = given[i];
        if (word == "--dry-run" || word == "--progress" || word == "--quiet" || word == "--full-shifts" ||
            word == "--sim" || word == "--reset-sim") {
            continue;
        }
        // Global options with a value, which commandText gives again.
        if (word == "--port" || word == "--journal" || word == "--chip") {
            ++i;
            continue;
        }
        if (word.rfind("--port=", 0) == 0 || word.rfind("--journal=", 0) == 0 || word.rfind("--chip=", 0) == 0) {
            continue;
        }
        words.push_back(word);
    }
    return words;
}

WriteCommands::WriteCommands(CLI::App& app, const CommandContext& context)
    : context(&context),
      writeCommand(app.add_subcommand(
          "write", "Make the chip hold FILE from ADDR on, changing only what differs, and verify every changed block")),
      eraseCommand(app.add_subcommand("erase", "Erase BLOCKS and check that they read back blank (0xFF)")),
      recoverCommand(app.add_subcommand(
          "recover",
          "Put back what an interrupted write, erase, lock or unlock left unsafe (the bytes an erase destroyed, the "
          "lock map), as its journal keeps them, and verify it")) {
    writeCommand->add_option("FILE", writeFile, "The image to write (- for standard input)")->required();
    addByteOption(writeCommand, "--offset", writeOffset, "Chip address of a raw FILE's first byte (default 0)", "ADDR");
    addFormatOption(writeCommand, format);
    writeCommand->add_flag("--no-verify", noVerify,
                           "Do not read the image's bytes back (bytes kept through an erase "
                           "are read back all the same)");
    eraseCommand->add_option("BLOCKS", eraseBlocks, "Blocks to erase")->required()->check(checkBlocks, "BLOCKS");
    for (CLI::App* command : {writeCommand, eraseCommand, recoverCommand}) {
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
    if (recoverCommand->parsed()) {
        return recover();
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
    const ImageFormat chosen = *parseImageFormat(format);
    const std::size_t largest = chosen == ImageFormat::Raw ? boardAddressSpace : largestTextImage;
    if (input.size() && *input.size() > largest) {
        return session.fail(input.name() + " is larger than any image of a chip the board reaches (16 MiB)",
                            exitStatus::usage);
    }
    std::vector<std::uint8_t> content;
    while (!input.atEnd() && content.size() <= largest) {
        const std::size_t had = content.size();
        content.resize(had + inputChunk);
        content.resize(had + input.read(&content[had], inputChunk, problem));
        if (problem.fault != platform::FileFault::None) {
            return session.fail(problem.text, exitStatus::fileFailed);
        }
        if (context->interrupted() != 0) {
            session.fail("interrupted while reading " + input.name() + "; nothing was written", exitStatus::done);
            return session.conclude(exitStatus::done);
        }
    }
    if (content.size() > largest) {
        return session.fail(input.name() + " is larger than any image of a chip the board reaches (16 MiB)",
                            exitStatus::usage);
    }
    std::string formatProblem;
    std::optional<Image> image = readImage(content, chosen, formatProblem);
    if (!image) {
        return session.fail(input.name() + ": " + formatProblem, exitStatus::usage);
    }
    if (image->format != ImageFormat::Raw && writeOffset.value()) {
        return session.fail(std::string("--offset places a raw image; ") + input.name() + " is " +
                                imageFormatName(image->format) + ", whose records give their own addresses",
                            exitStatus::usage);
    }
    if (image->byteCount() == 0) {
        return session.fail(
            input.name() + (content.empty() ? " is empty" : " holds no data") + ": there is nothing to write",
            exitStatus::usage);
    }
    if (image->format == ImageFormat::Raw && image->byteCount() > boardAddressSpace) {
        return session.fail(input.name() + " is larger than any chip the board reaches (16 MiB)", exitStatus::usage);
    }
    if (const int opened = session.open(); opened != exitStatus::done) {
        return opened;
    }
    const Geometry& geometry = session.geometry();
    std::vector<WantedRange> ranges;
    if (image->format == ImageFormat::Raw) {
        const std::uint32_t start = writeOffset.value().value_or(0);
        std::string rangeProblem;
        if (!rangeLength(geometry.size, start, static_cast<std::uint32_t>(image->byteCount()), rangeProblem,
                         writeOffset.text)) {
            session.fail(input.name() + " does not fit: " + rangeProblem, exitStatus::usage);
            return session.finish(exitStatus::usage);
        }
        ranges.push_back({start, std::move(image->chunks.front().bytes)});
    } else {
        std::string fitProblem;
        if (!imageFitsChip(*image, geometry.size, fitProblem)) {
            session.fail(input.name() + ": " + fitProblem, exitStatus::usage);
            return session.finish(exitStatus::usage);
        }
        std::transform(image->chunks.begin(), image->chunks.end(), std::back_inserter(ranges), [](ImageChunk& chunk) {
            return WantedRange{chunk.address, std::move(chunk.bytes)};
        });
    }
    std::ostream& out = session.out();
    session.printBoardAndChip(out);
    out << "image        " << coverage(input.name(), ranges, geometry) << '\n';
    Job job;
    job.what = "wrote " + input.name();
    job.journal.kind = JobKind::Write;
    job.journal.digest = imageDigest(ranges);
    job.journal.command = jobWords(*context);
    job.verify = !noVerify;
    job.dryRun = dryRun;
    job.progress = progress;
    job.nothingToDo = "the chip already holds " + input.name();
    // A sample of each block tells the blocks that need an erase, whose
    // image bytes planning skips, from those whose image bytes it reads.
    constexpr std::uint32_t sampledBytes = 16;
    job.estimate = [&session, &ranges](const std::vector<WantedRange>& saved) {
        return estimatePlanReads(session.geometry().blocks, saved.empty() ? ranges : merged(ranges, saved),
                                 arrayBytes(session.commands()), sampledBytes);
    };
    const std::uint32_t bufferSize = session.commands().programUnit();
    const std::vector<Block>& blocks = geometry.blocks;
    return carryOut(session, job, [&](const std::vector<WantedRange>& saved, const PlanCallbacks& callbacks) {
        return planWrite(blocks, saved.empty() ? ranges : merged(ranges, saved), bufferSize, callbacks);
    });
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
    session.printBoardAndChip(session.out());
    Job job;
    job.erasing = true;
    job.journal.kind = JobKind::Erase;
    job.journal.blocks = *named;
    job.journal.command = jobWords(*context);
    job.dryRun = dryRun;
    job.progress = progress;
    job.nothingToDo = blocksText(numbers) + (numbers.size() == 1 ? " is" : " are") + " erased already (all 0xFF)";

    const std::vector<Block>& blocks = session.geometry().blocks;
    const std::uint32_t bufferSize = session.commands().programUnit();
    return carryOut(session, job, [&](const std::vector<WantedRange>& saved, const PlanCallbacks& callbacks) {
        // An erase keeps nothing of its blocks, so its journal never holds bytes.
        return saved.empty() ? planErase(blocks, *named, callbacks) : planWrite(blocks, saved, bufferSize, callbacks);
    });
}

int WriteCommands::recover() {
    Session session(*context);
    if (const int opened = session.open(); opened != exitStatus::done) {
        return opened;
    }
    session.printBoardAndChip(session.out());
    Job job;
    job.recovering = true;
    job.dryRun = dryRun;
    job.progress = progress;
    const std::vector<Block>& blocks = session.geometry().blocks;
    const std::uint32_t bufferSize = session.commands().programUnit();
    return carryOut(session, job, [&](const std::vector<WantedRange>& saved, const PlanCallbacks& callbacks) {
        return planWrite(blocks, saved, bufferSize, callbacks);
    });
}
