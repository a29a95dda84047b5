// What the files' handles do alike on every OS: they move, and a file goes
// away with its owner (discard and close are each OS's own); and which names
// Windows keeps for its devices.
#include <algorithm>
#include <array>
#include <utility>

#include "platform/Platform.h"

namespace platform {

namespace {

char upper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool sameLetters(std::string_view name, std::string_view upperCase) {
    if (name.size() != upperCase.size()) {
        return false;
    }
    for (std::size_t index = 0; index < name.size(); ++index) {
        if (upper(name[index]) != upperCase[index]) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool isReservedWindowsName(std::string_view name) {
    if (const std::size_t separator = name.find_last_of("/\\"); separator != std::string_view::npos) {
        name.remove_prefix(separator + 1);
    } else if (name.size() >= 2 && name[1] == ':') {
        // A drive of its own: "C:nul" is NUL too.
        name.remove_prefix(2);
    }
    name = name.substr(0, name.find_first_of(".:"));
    while (!name.empty() && name.back() == ' ') {
        name.remove_suffix(1);
    }
    constexpr std::array<std::string_view, 6> devices = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    if (std::any_of(devices.begin(), devices.end(),
                    [name](std::string_view device) { return sameLetters(name, device); })) {
        return true;
    }
    // COM and LPT with one digit or a superscript one, two or three (in UTF-8).
    constexpr std::array<std::string_view, 3> superscripts = {"\xC2\xB9", "\xC2\xB2", "\xC2\xB3"};
    if (name.size() < 4 || !(sameLetters(name.substr(0, 3), "COM") || sameLetters(name.substr(0, 3), "LPT"))) {
        return false;
    }
    const std::string_view number = name.substr(3);
    return (number.size() == 1 && number[0] >= '0' && number[0] <= '9') ||
           std::find(superscripts.begin(), superscripts.end(), number) != superscripts.end();
}

FileProblem reservedWindowsNameProblem(std::string_view name) {
    return {FileFault::Unsuitable,
            "\"" + std::string(name) + "\" is a device name on Windows, not a file: give another name"};
}

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
