#include "app/commands/BackupCommands.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

#include "app/Progress.h"
#include "app/commands/Messages.h"
#include "app/commands/Session.h"
#include "flash/ArrayReader.h"
#include "platform/Platform.h"

namespace {

constexpr std::size_t differencesShown = 10;

}  // namespace

BackupCommands::BackupCommands(CLI::App& app, const CommandContext& context)
    : context(&context),
      readCommand(app.add_subcommand("read", "Save the chip's array to FILE")),
      verifyCommand(app.add_subcommand("verify", "Compare the chip's array with FILE, byte for byte")) {
    readCommand->add_option("FILE", readFile, "Where to save it (written whole or not at all)")->required();
    addByteOption(readCommand, "--offset", readOffset, "First byte (default 0; 0x for hex, k and M suffixes)", "ADDR");
    addByteOption(readCommand, "--length", readLength, "Bytes to read (default: to the chip's end)", "BYTES");
    readCommand->add_flag("--force", force, "Replace FILE if it exists");
    verifyCommand->add_option("FILE", verifyFile, "The image to compare with")->required();
    addByteOption(verifyCommand, "--offset", verifyOffset, "Chip address of FILE's first byte (default 0)", "ADDR");
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
    const std::string& file = readFile;
    const std::optional<std::uint32_t> offset = readOffset.value();
    const std::optional<std::uint32_t> length = readLength.value();
    if (!force && platform::fileExists(file)) {
        return session.fail(file + " exists; give --force to replace it", exitStatus::usage);
    }
    if (const int opened = session.open(); opened != exitStatus::done) {
        return opened;
    }
    const std::uint32_t start = offset.value_or(0);
    std::string problem;
    const std::optional<std::uint32_t> count = rangeLength(session.geometry().size, start, length, problem);
    if (!count) {
        session.fail(problem, exitStatus::usage);
        return session.finish(exitStatus::usage);
    }
    platform::PendingFile pending = platform::createFileBeside(file, problem);
    if (pending.stream == nullptr) {
        session.fail(problem, exitStatus::fileFailed);
        return session.finish(exitStatus::fileFailed);
    }
    ProgressLine line(session.err(), session.progressShown(progress), session.clock(), *count);
    bool writeFailed = false;
    ArrayReadCallbacks callbacks;
    callbacks.chunk = [&](const std::uint8_t* bytes, std::size_t size) {
        writeFailed = writeFailed || std::fwrite(bytes, 1, size, pending.stream) != size;
    };
    callbacks.progress = [&line](std::uint32_t done) { line.update(done); };
    callbacks.stop = [&] { return writeFailed || session.interrupted() != 0; };
    const std::uint32_t done = readArray(session.chip(), start, *count, callbacks);
    line.finish();
    const double seconds = line.elapsed();
    session.chip().endInReadArray();
    if (done < *count) {
        platform::discardFile(pending);
        if (writeFailed) {
            return session.conclude(
                session.fail("cannot write " + file + "; nothing was saved", exitStatus::fileFailed));
        }
        session.fail("interrupted after " + std::to_string(done) + " of " + std::to_string(*count) + " bytes; " + file +
                         " was not written",
                     exitStatus::done);
        return session.conclude(exitStatus::done);
    }
    if (!platform::commitFile(pending, file, problem)) {
        return session.conclude(session.fail(problem + "; nothing was saved", exitStatus::fileFailed));
    }
    session.out() << "read " << *count << " bytes (" << hex(start, 6) << " to " << hex(start + *count - 1, 6)
                  << ") of the " << session.chipText() << " into " << file << " in " << rateText(*count, seconds)
                  << '\n';
    return session.conclude(exitStatus::done);
}

int BackupCommands::verify() {
    Session session(*context);
    const std::string& file = verifyFile;
    const std::optional<std::uint32_t> offset = verifyOffset.value();
    std::ifstream input(file, std::ios::binary);
    if (!input) {
        return session.fail("cannot read " + file, exitStatus::usage);
    }
    std::vector<std::uint8_t> expected;
    std::copy(std::istreambuf_iterator<char>(input), std::istreambuf_iterator<char>(), std::back_inserter(expected));
    if (input.bad()) {
        return session.fail("cannot read " + file, exitStatus::fileFailed);
    }
    if (expected.empty()) {
        return session.fail(file + " is empty: there is nothing to compare", exitStatus::usage);
    }
    if (expected.size() > boardAddressSpace) {
        return session.fail(file + " is larger than any chip the board reaches (16 MiB)", exitStatus::usage);
    }
    if (const int opened = session.open(); opened != exitStatus::done) {
        return opened;
    }
    const std::uint32_t start = offset.value_or(0);
    std::string problem;
    const auto count =
        rangeLength(session.geometry().size, start, static_cast<std::uint32_t>(expected.size()), problem);
    if (!count) {
        session.fail(file + " does not fit: " + problem, exitStatus::usage);
        return session.finish(exitStatus::usage);
    }
    ProgressLine line(session.err(), session.progressShown(progress), session.clock(), *count);
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
    callbacks.stop = [&session] { return session.interrupted() != 0; };
    const std::uint32_t done = readArray(session.chip(), start, *count, callbacks);
    line.finish();
    const double seconds = line.elapsed();
    if (done < *count) {
        session.fail("interrupted after " + std::to_string(done) + " of " + std::to_string(*count) + " bytes",
                     exitStatus::done);
        return session.finish(exitStatus::done);
    }
    if (differing == 0) {
        session.out() << file << " matches the chip: " << *count << " bytes from " << hex(start, 6) << " compared in "
                      << rateText(*count, seconds) << '\n';
        return session.finish(exitStatus::done);
    }
    session.out() << differing << " of " << *count << " bytes differ; the first " << shown.size() << ":\n";
    for (const std::string& difference : shown) {
        session.out() << "  " << difference << '\n';
    }
    session.fail("the chip differs from " + file + " in " + std::to_string(differing) + " bytes",
                 exitStatus::chipFailed);
    return session.finish(exitStatus::chipFailed);
}
