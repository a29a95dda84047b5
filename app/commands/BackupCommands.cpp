#include "app/commands/BackupCommands.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <utility>
#include <vector>

#include "app/ImageFile.h"
#include "app/Progress.h"
#include "app/commands/JobJournal.h"
#include "app/commands/Messages.h"
#include "app/commands/Session.h"
#include "flash/ArrayReader.h"
#include "platform/Platform.h"

namespace {

constexpr std::size_t differencesShown = 10;

// The line above the differences listed.
std::string differencesHeading(std::size_t differing, std::uint64_t compared, std::size_t shown) {
    const std::string of = std::to_string(differing) + " of " + byteCount(compared);
    return differing == 1 ? of + " differs:" : of + " differ; the first " + std::to_string(shown) + ":";
}

// What an output that cannot be used costs: a name that cannot serve is the
// command line's fault, a system that refuses is not.
int statusFor(const platform::FileProblem& problem) {
    return problem.fault == platform::FileFault::System ? exitStatus::fileFailed : exitStatus::usage;
}

// The file's side of a comparison, fetched ahead of the chip's so that the
// chip is never read past the file's end, and dropped as it is compared:
// memory stays within two chunks, whatever a sized file's size. An input of
// unknown size is held whole instead, 16 MiB at most.
class ComparedFile {
public:
    ComparedFile(platform::InputFile& input, std::uint32_t start) : input(&input), start(start) {}

    // Bytes read before the chip was touched: empty files and unreadable ones
    // end the command before any bus cycle.
    void fetch(std::size_t capacity) {
        const std::size_t held = ahead.size();
        ahead.resize(held + capacity);
        ahead.resize(held + input->read(ahead.data() + held, capacity, trouble));
    }
    // Asked before each chip byte: false when the file has no byte for it.
    bool hasNext() {
        if (asked == ahead.size()) {
            if (input->atEnd() || trouble.fault != platform::FileFault::None) {
                return false;
            }
            fetch(arrayChunkSize);
            if (asked == ahead.size()) {
                return false;
            }
        }
        ++asked;
        return true;
    }
    void compare(const std::uint8_t* chip, std::size_t size) {
        for (std::size_t i = 0; i < size; ++i, ++compared) {
            if (chip[i] != ahead[i]) {
                ++differing;
                if (shown.size() < differencesShown) {
                    shown.push_back(hex(start + static_cast<std::uint32_t>(compared), 6) + "  chip " + hex(chip[i], 2) +
                                    "  file " + hex(ahead[i], 2));
                }
            }
        }
        ahead.erase(ahead.begin(), ahead.begin() + static_cast<std::ptrdiff_t>(size));
        asked = 0;
    }
    // Reads on until `limit` bytes are held, the input ends or fails, or a
    // signal stops the wait: an input of unknown size is taken whole before
    // the chip is read, so that its size chooses how the chip is read.
    void fetchAhead(std::size_t limit) {
        while (ahead.size() < limit && !input->atEnd() && trouble.fault == platform::FileFault::None) {
            const std::size_t held = ahead.size();
            fetch(std::min(limit - held, arrayChunkSize));
            if (ahead.size() == held) {
                return;
            }
        }
    }
    [[nodiscard]] std::size_t heldBytes() const { return ahead.size(); }
    // What is held and not compared yet, given up to whoever reads on, and
    // given back when it is to be compared after all.
    std::vector<std::uint8_t> takeHeld() { return std::exchange(ahead, {}); }
    void giveBack(std::vector<std::uint8_t> bytes) { ahead = std::move(bytes); }

    [[nodiscard]] bool empty() const { return ahead.empty() && input->atEnd(); }
    // Nothing came, yet the input neither ended nor failed: a signal.
    [[nodiscard]] bool cutShort() const {
        return ahead.empty() && !input->atEnd() && trouble.fault == platform::FileFault::None;
    }
    [[nodiscard]] const platform::FileProblem& problem() const { return trouble; }
    [[nodiscard]] std::size_t differences() const { return differing; }
    [[nodiscard]] const std::vector<std::string>& firstDifferences() const { return shown; }

private:
    platform::InputFile* input;
    std::uint32_t start;
    platform::FileProblem trouble;
    std::vector<std::uint8_t> ahead;
    // Bytes of `ahead` promised to the chip's current chunk.
    std::size_t asked = 0;
    std::size_t compared = 0;
    std::size_t differing = 0;
    std::vector<std::string> shown;
};

}  // namespace

BackupCommands::BackupCommands(CLI::App& app, const CommandContext& context)
    : context(&context),
      readCommand(app.add_subcommand("read", "Save the chip's array to FILE")),
      verifyCommand(app.add_subcommand("verify", "Compare the chip's array with FILE, byte for byte")) {
    readCommand
        ->add_option("FILE", readFile,
                     "Where to save it: a regular file, written whole or not at all, or - for standard output")
        ->required();
    addByteOption(readCommand, "--offset", readOffset, "First byte (default 0; 0x for hex, k and M suffixes)", "ADDR");
    addByteOption(readCommand, "--length", readLength, "Bytes to read (default: to the chip's end)", "BYTES");
    readCommand->add_flag("--force", force, "Replace FILE if it exists");
    verifyCommand->add_option("FILE", verifyFile, "The image to compare with: a regular file, or - for standard input")
        ->required();
    addByteOption(verifyCommand, "--offset", verifyOffset, "Chip address of FILE's first byte (default 0)", "ADDR");
    addByteOption(verifyCommand, "--length", verifyLength, "Bytes to compare (default: all of FILE)", "BYTES");
    addFormatOption(verifyCommand, verifyFormat);
    for (CLI::App* command : {readCommand, verifyCommand}) {
        addProgressOptions(command, progress);
    }
}

std::optional<int> BackupCommands::run() {
    if (readCommand->parsed()) {
        return read();
    }
    if (verifyCommand->parsed()) {
        return verify();
    }
    return std::nullopt;
}

int BackupCommands::read() {
    Session session(*context);
    const std::optional<std::uint32_t> offset = readOffset.value();
    const std::optional<std::uint32_t> length = readLength.value();
    // Before the first bus cycle: a backup takes minutes on a real board, and
    // only then would it find that it cannot be saved.
    platform::FileProblem problem;
    platform::OutputFile output = platform::OutputFile::create(readFile, force, problem);
    if (!output.isOpen()) {
        switch (problem.fault) {
        case platform::FileFault::Exists:
            return session.fail(problem.text + "; give --force to replace it", exitStatus::usage);
        case platform::FileFault::Unsuitable:
            return session.fail(problem.text +
                                    "; read writes to a regular file, new or existing, or to - for "
                                    "standard output",
                                exitStatus::usage);
        default:
            return session.fail(problem.text + "; nothing was read", statusFor(problem));
        }
    }
    if (const int opened = session.open(); opened != exitStatus::done) {
        return opened;
    }
    JobJournal(session).notice();
    const std::uint32_t start = offset.value_or(0);
    std::string rangeProblem;
    const std::optional<std::uint32_t> count =
        rangeLength(session.geometry().size, start, length, rangeProblem, readOffset.text, readLength.text);
    if (!count) {
        session.fail(rangeProblem, exitStatus::usage);
        return session.finish(exitStatus::usage);
    }
    ArrayReader& reader = session.reader();
    // Before the progress line: the self-test may have a word to say.
    const bool stepping = reader.willStep(*count);
    ProgressLine line(session.err(), session.progressShown(progress), session.clock(),
                      stepping ? session.geometry().size : *count);
    bool writeFailed = false;
    ArrayReadCallbacks callbacks;
    callbacks.chunk = [&](const std::uint8_t* bytes, std::size_t size) {
        writeFailed = writeFailed || !output.write(bytes, size, problem);
    };
    callbacks.progress = [&line](std::uint32_t done) { line.update(done); };
    callbacks.stop = [&] { return writeFailed || session.interrupted() != 0; };
    const ArrayReadResult result = reader.read(start, *count, callbacks);
    const std::uint32_t done = result.handedOn;
    line.finish();
    const double seconds = line.elapsed();
    session.commands().readArray();
    session.chip().endAccess();
    const bool toStandardOutput = output.isStandardOutput();
    if (writeFailed || done < *count) {
        output.discard();
        // A write cut short by a signal is the signal's doing.
        if (writeFailed && session.interrupted() == 0) {
            return session.conclude(
                session.fail(problem.text + (toStandardOutput ? "" : "; nothing was saved"), exitStatus::fileFailed));
        }
        // A stepping read hands nothing on before the whole chip is in.
        const std::string got = done == 0 && result.stepped ? "standard output got nothing"
                                                            : "standard output got the first " + std::to_string(done);
        session.fail("interrupted after " + std::to_string(result.read) + " of " + byteCount(result.total) + "; " +
                         (toStandardOutput ? got : readFile + " was not written"),
                     exitStatus::done);
        return session.conclude(exitStatus::done);
    }
    if (!output.commit(problem)) {
        return session.conclude(session.fail(problem.text + (output.keptPath().empty() ? "; nothing was saved" : ""),
                                             exitStatus::fileFailed));
    }
    // Standard output holds the data: the summary goes where messages go.
    std::ostream& summary = toStandardOutput ? session.err() : session.out();
    summary << "read " << byteCount(*count) << " (" << hex(start, 6) << " to " << hex(start + *count - 1, 6)
            << ") of the " << session.chipText() << " into " << output.name() << " in " << rateText(*count, seconds)
            << '\n'
            << std::flush;
    return session.conclude(exitStatus::done);
}

int BackupCommands::verify() {
    Session session(*context);
    const std::optional<std::uint32_t> offset = verifyOffset.value();
    const std::optional<std::uint32_t> length = verifyLength.value();
    platform::FileProblem problem;
    platform::InputFile input = platform::InputFile::open(verifyFile, problem);
    if (!input.isOpen()) {
        return session.fail(problem.text, exitStatus::fileFailed);
    }
    const std::string& name = input.name();
    // Whatever a file's size, it is known before a byte of it is read.
    const std::optional<std::uint64_t> size = input.size();
    if (size && length && *length > *size) {
        return session.fail(name + " holds " + byteCount(*size) + ", fewer than the " + std::to_string(*length) +
                                " that --length asks for",
                            exitStatus::usage);
    }
    if (size && !length && *size > boardAddressSpace) {
        return session.fail(name + " is larger than any chip the board reaches (16 MiB)", exitStatus::usage);
    }
    const std::uint32_t start = offset.value_or(0);
    ComparedFile file(input, start);
    file.fetch(arrayChunkSize);
    if (file.problem().fault != platform::FileFault::None) {
        return session.fail(file.problem().text, exitStatus::fileFailed);
    }
    if (file.cutShort()) {
        // A signal ended the wait for the first bytes: end before the chip.
        return session.conclude(exitStatus::done);
    }
    if (file.empty()) {
        return session.fail(name + " is empty: there is nothing to compare", exitStatus::usage);
    }
    const ImageFormat chosen = *parseImageFormat(verifyFormat);
    std::vector<std::uint8_t> head = file.takeHeld();
    const ImageFormat format = chosen == ImageFormat::Auto ? detectImageFormat(head) : chosen;
    if (format != ImageFormat::Raw) {
        if (offset || length) {
            return session.fail(std::string(offset ? "--offset" : "--length") + " applies to a raw image; " + name +
                                    " is " + imageFormatName(format) + ", whose records give their own addresses",
                                exitStatus::usage);
        }
        return verifyImage(session, input, std::move(head));
    }
    file.giveBack(std::move(head));
    // Of a file of unknown size (standard input), as much as comes, up to
    // the chip's end: at most one byte more than the largest chip holds.
    const bool sized = size || length;
    if (!sized) {
        file.fetchAhead(start < boardAddressSpace ? boardAddressSpace - start + 1 : 1);
        if (file.problem().fault != platform::FileFault::None) {
            return session.fail(file.problem().text, exitStatus::fileFailed);
        }
        if (session.interrupted() != 0) {
            return session.conclude(exitStatus::done);
        }
    }
    if (const int opened = session.open(); opened != exitStatus::done) {
        return opened;
    }
    JobJournal(session).notice();
    const std::optional<std::uint32_t> wanted =
        length ? length : (size ? std::optional<std::uint32_t>(static_cast<std::uint32_t>(*size)) : std::nullopt);
    std::string rangeProblem;
    std::optional<std::uint32_t> count =
        rangeLength(session.geometry().size, start, wanted, rangeProblem, verifyOffset.text, verifyLength.text);
    if (!count) {
        session.fail(name + " does not fit: " + rangeProblem, exitStatus::usage);
        return session.finish(exitStatus::usage);
    }
    if (!sized) {
        if (file.heldBytes() > *count) {
            session.fail(name + " runs past the chip's end: it holds more than the " + std::to_string(*count) +
                             " bytes from " + hex(start, 6) + " to the end; give --length to compare only the start",
                         exitStatus::usage);
            return session.finish(exitStatus::usage);
        }
        count = static_cast<std::uint32_t>(file.heldBytes());
    }
    ArrayReader& reader = session.reader();
    // Before the progress line: the self-test may have a word to say.
    const bool stepping = reader.willStep(*count);
    ProgressLine line(session.err(), session.progressShown(progress), session.clock(),
                      stepping ? session.geometry().size : *count);
    ArrayReadCallbacks callbacks;
    callbacks.chunk = [&file](const std::uint8_t* bytes, std::size_t size) { file.compare(bytes, size); };
    callbacks.progress = [&line](std::uint32_t done) { line.update(done); };
    callbacks.stop = [&] { return session.interrupted() != 0 || !file.hasNext(); };
    callbacks.cancel = [&session] { return session.interrupted() != 0; };
    const ArrayReadResult result = reader.read(start, *count, callbacks);
    const std::uint32_t done = result.handedOn;
    line.finish();
    const double seconds = line.elapsed();
    if (session.interrupted() != 0) {
        session.fail("interrupted after " + std::to_string(result.read) + " of " + byteCount(result.total),
                     exitStatus::done);
        return session.finish(exitStatus::done);
    }
    if (file.problem().fault != platform::FileFault::None) {
        session.fail(file.problem().text, exitStatus::fileFailed);
        return session.finish(exitStatus::fileFailed);
    }
    if (done < *count && sized) {
        session.fail(name + " ended after " + std::to_string(done) + " of the " + byteCount(*count) + " to compare",
                     length ? exitStatus::usage : exitStatus::fileFailed);
        return session.finish(length ? exitStatus::usage : exitStatus::fileFailed);
    }
    if (file.differences() == 0) {
        session.out() << name << " matches the chip: " << byteCount(done) << " from " << hex(start, 6)
                      << " compared in " << rateText(done, seconds) << '\n';
        return session.finish(exitStatus::done);
    }
    session.out() << differencesHeading(file.differences(), done, file.firstDifferences().size()) << '\n';
    for (const std::string& difference : file.firstDifferences()) {
        session.out() << "  " << difference << '\n';
    }
    session.fail("the chip differs from " + name + " in " + byteCount(file.differences()), exitStatus::chipFailed);
    return session.finish(exitStatus::chipFailed);
}

int BackupCommands::verifyImage(Session& session, platform::InputFile& input, std::vector<std::uint8_t> content) {
    const std::string& name = input.name();
    platform::FileProblem problem;
    while (!input.atEnd() && content.size() <= largestTextImage) {
        const std::size_t had = content.size();
        content.resize(had + arrayChunkSize);
        content.resize(had + input.read(&content[had], arrayChunkSize, problem));
        if (problem.fault != platform::FileFault::None) {
            return session.fail(problem.text, exitStatus::fileFailed);
        }
        if (session.interrupted() != 0) {
            return session.conclude(exitStatus::done);
        }
    }
    if (content.size() > largestTextImage) {
        return session.fail(name + " is larger than any image of a chip the board reaches (16 MiB)", exitStatus::usage);
    }
    std::string formatProblem;
    const std::optional<Image> image = readImage(content, *parseImageFormat(verifyFormat), formatProblem);
    if (!image) {
        return session.fail(name + ": " + formatProblem, exitStatus::usage);
    }
    if (image->byteCount() == 0) {
        return session.fail(name + " holds no data: there is nothing to compare", exitStatus::usage);
    }
    if (const int opened = session.open(); opened != exitStatus::done) {
        return opened;
    }
    JobJournal(session).notice();
    if (std::string fitProblem; !imageFitsChip(*image, session.geometry().size, fitProblem)) {
        session.fail(name + ": " + fitProblem, exitStatus::usage);
        return session.finish(exitStatus::usage);
    }
    const auto total = static_cast<std::uint32_t>(image->byteCount());
    ArrayReader& reader = session.reader();
    const bool stepping = reader.willStep(total);
    ProgressLine line(session.err(), session.progressShown(progress), session.clock(),
                      stepping ? session.geometry().size : total);
    std::size_t differing = 0;
    std::vector<std::string> shown;
    const auto compare = [&](std::uint32_t address, std::uint8_t chip, std::uint8_t wanted) {
        if (chip != wanted && differing++ < differencesShown) {
            shown.push_back(hex(address, 6) + "  chip " + hex(chip, 2) + "  file " + hex(wanted, 2));
        }
    };
    const auto stop = [&session] { return session.interrupted() != 0; };
    std::uint32_t done = 0;
    if (stepping) {
        const std::optional<std::vector<std::uint8_t>> chip =
            reader.readWhole([&line](std::uint32_t read) { line.update(read); }, stop);
        if (chip) {
            for (const ImageChunk& chunk : image->chunks) {
                for (std::size_t i = 0; i < chunk.bytes.size(); ++i) {
                    compare(chunk.address + static_cast<std::uint32_t>(i), (*chip)[chunk.address + i], chunk.bytes[i]);
                }
                done += static_cast<std::uint32_t>(chunk.bytes.size());
            }
        }
    } else {
        for (const ImageChunk& chunk : image->chunks) {
            std::uint32_t at = chunk.address;
            ArrayReadCallbacks callbacks;
            callbacks.chunk = [&](const std::uint8_t* bytes, std::size_t size) {
                for (std::size_t i = 0; i < size; ++i, ++at) {
                    // NOLINTNEXTLINE(cppcoreguidelines-pro-bounds-pointer-arithmetic)
                    compare(at, bytes[i], chunk.bytes[at - chunk.address]);
                }
            };
            callbacks.progress = [&line, &done](std::uint32_t read) { line.update(done + read); };
            callbacks.stop = stop;
            done +=
                readArray(session.commands(), chunk.address, static_cast<std::uint32_t>(chunk.bytes.size()), callbacks);
            if (stop()) {
                break;
            }
        }
    }
    line.finish();
    const double seconds = line.elapsed();
    if (session.interrupted() != 0) {
        session.fail("interrupted after " + std::to_string(done) + " of " + byteCount(total), exitStatus::done);
        return session.finish(exitStatus::done);
    }
    const std::string where = image->chunks.size() == 1 ? "from " + hex(image->chunks.front().address, 6)
                                                        : "in " + std::to_string(image->chunks.size()) + " ranges";
    if (differing == 0) {
        session.out() << name << " matches the chip: " << byteCount(total) << " " << where << " compared in "
                      << rateText(total, seconds) << '\n';
        return session.finish(exitStatus::done);
    }
    session.out() << differencesHeading(differing, total, shown.size()) << '\n';
    for (const std::string& difference : shown) {
        session.out() << "  " << difference << '\n';
    }
    session.fail("the chip differs from " + name + " in " + byteCount(differing), exitStatus::chipFailed);
    return session.finish(exitStatus::chipFailed);
}
