// What the files' handles do alike on every OS: they move, and a file goes
// away with its owner (discard and close are each OS's own).
#include <utility>

#include "platform/Platform.h"

namespace platform {

OutputFile::~OutputFile() {
    discard();
}

OutputFile::OutputFile(OutputFile&& other) noexcept
    : handle(std::exchange(other.handle, closed)),
      standardOutput(std::exchange(other.standardOutput, false)),
      replaceExisting(other.replaceExisting),
      shownName(std::move(other.shownName)),
      finalPath(std::move(other.finalPath)),
      pendingPath(std::exchange(other.pendingPath, {})),
      kept(std::move(other.kept)) {}

OutputFile& OutputFile::operator=(OutputFile&& other) noexcept {
    if (this != &other) {
        discard();
        handle = std::exchange(other.handle, closed);
        standardOutput = std::exchange(other.standardOutput, false);
        replaceExisting = other.replaceExisting;
        shownName = std::move(other.shownName);
        finalPath = std::move(other.finalPath);
        pendingPath = std::exchange(other.pendingPath, {});
        kept = std::move(other.kept);
    }
    return *this;
}

InputFile::~InputFile() {
    close();
}

InputFile::InputFile(InputFile&& other) noexcept
    : handle(std::exchange(other.handle, closed)),
      standardInput(std::exchange(other.standardInput, false)),
      ended(other.ended),
      shownName(std::move(other.shownName)),
      knownSize(other.knownSize) {}

InputFile& InputFile::operator=(InputFile&& other) noexcept {
    if (this != &other) {
        close();
        handle = std::exchange(other.handle, closed);
        standardInput = std::exchange(other.standardInput, false);
        ended = other.ended;
        shownName = std::move(other.shownName);
        knownSize = other.knownSize;
    }
    return *this;
}

}  // namespace platform
