#include "driver/SimulatorModule.h"

#include <algorithm>
#include <cctype>

#include "platform/Durable.h"
#include "platform/Environment.h"
#include "platform/Platform.h"

namespace {

constexpr const char* stateVariable = "FLASHLOCK_SIM_STATE";
// What the simulator takes when its variables are not set.
constexpr const char* defaultBoard = "zantrel4v4";
constexpr const char* defaultChip = "28F320J3";
// Longer than any board or chip name; a longer value is refused by the
// simulator anyway, and must not make a name the file system refuses.
constexpr std::size_t longestPart = 40;

std::optional<std::string> setValue(const std::function<std::optional<std::string>(const char*)>& environment,
                                    const char* name) {
    std::optional<std::string> value = environment(name);
    // The simulator takes an empty value for an unset one.
    return value && !value->empty() ? value : std::nullopt;
}

// A value as it may appear in a file name, in one letter case so that the
// names the simulator takes alike make one file.
std::string namePart(const std::string& value, bool upper) {
    std::string part = value.substr(0, longestPart);
    for (char& c : part) {
        const auto symbol = static_cast<unsigned char>(c);
        if (std::isalnum(symbol) == 0 && c != '-' && c != '_' && c != '.') {
            c = '_';
        } else {
            c = static_cast<char>(upper ? std::toupper(symbol) : std::tolower(symbol));
        }
    }
    return part;
}

// `relative` under `folder`, with a leading "../" taken off the folder
// itself, so that messages name the file as a user would.
std::string joined(std::string folder, std::string relative) {
    const char separator = folder.find('\\') != std::string::npos ? '\\' : '/';
    std::replace(relative.begin(), relative.end(), '/', separator);
    const std::string up = std::string("..") + separator;
    while (relative.starts_with(up)) {
        const std::size_t last = folder.find_last_of(separator);
        if (last == std::string::npos || last == 0 || folder.substr(last + 1) == "..") {
            break;
        }
        folder.resize(last);
        relative.erase(0, up.size());
    }
    return folder + (folder.ends_with(separator) ? "" : std::string(1, separator)) + relative;
}

}  // namespace

SimulatorSurroundings systemSurroundings() {
    return {platform::programFolder(), platform::environmentValue, platform::stateFolder, platform::fileExists};
}

std::vector<std::string> simulatorModuleFolders() {
    std::vector<std::string> folders{"sim"};
    if (const std::string installed = FLASHLOCK_INSTALLED_SIM_DIR; installed != folders.front()) {
        folders.push_back(installed);
    }
    return folders;
}

std::string simulatorStateName(const std::function<std::optional<std::string>(const char*)>& environment) {
    return "sim-" + namePart(setValue(environment, "FLASHLOCK_SIM_BOARD").value_or(defaultBoard), false) + "-" +
           namePart(setValue(environment, "FLASHLOCK_SIM_CHIP").value_or(defaultChip), true) + ".state";
}

SimulatorChoice chooseSimulator(const SimulatorSurroundings& surroundings) {
    SimulatorChoice choice;
    const std::string file = platform::moduleFileName("io");
    if (!surroundings.programFolder) {
        choice.problem = "the system does not say which folder holds flashlock, so the simulated board's " + file +
                         " cannot be found beside it: start flashlock by its full path";
    } else {
        std::string looked;
        for (const std::string& folder : simulatorModuleFolders()) {
            std::string relative = folder;
            relative += '/';
            relative += file;
            const std::string path = joined(*surroundings.programFolder, relative);
            if (surroundings.exists(path)) {
                choice.module = path;
                break;
            }
            looked += (looked.empty() ? "" : " and ") + path;
        }
        if (choice.module.empty()) {
            choice.problem = "the simulated board's module is not beside flashlock (looked for " + looked +
                             "): build it with the program (cmake --build --preset default), or install or "
                             "unpack flashlock's package again";
        }
    }
    if (const std::optional<std::string> named = setValue(surroundings.environment, stateVariable)) {
        choice.userState = *named;
        return choice;
    }
    choice.stateName = simulatorStateName(surroundings.environment);
    std::string why;
    if (const std::optional<std::string> folder = surroundings.stateFolder(why)) {
        choice.stateFolder = *folder;
        choice.stateFile = joined(*folder, choice.stateName);
    } else {
        choice.note = why + "; the simulated chip lasts this run only";
    }
    return choice;
}

std::string resetSimulatorState(const SimulatorChoice& choice, bool& failed) {
    failed = false;
    if (!choice.userState.empty()) {
        failed = true;
        return "--reset-sim starts flashlock's own simulated chip afresh, but FLASHLOCK_SIM_STATE names a state "
               "file of yours (" +
               choice.userState + "): remove that file yourself, or unset FLASHLOCK_SIM_STATE";
    }
    if (choice.stateFile.empty()) {
        return "the simulated chip starts afresh: there is no folder to keep it in";
    }
    std::string removed;
    std::string problems;
    for (const std::string& path : platform::listFiles(choice.stateFolder, choice.stateName)) {
        platform::FileProblem problem;
        if (platform::removeDurably(path, problem)) {
            // The name alone: the folder is said once, at the end.
            removed += (removed.empty() ? "" : ", ") + path.substr(path.find_last_of("/\\") + 1);
        } else {
            failed = true;
            problems += (problems.empty() ? "" : "; ") + problem.text;
        }
    }
    if (failed) {
        return "the simulated chip cannot start afresh: " + problems +
               (removed.empty() ? std::string() : " (removed " + removed + ")") +
               "; remove the files of that name in " + choice.stateFolder + " yourself";
    }
    if (removed.empty()) {
        return "the simulated chip starts afresh: it had no state yet in " + choice.stateFolder;
    }
    return "the simulated chip starts afresh: removed " + removed + " from " + choice.stateFolder;
}

std::string oneRunNote(const std::function<std::optional<std::string>(const char*)>& environment) {
    if (setValue(environment, stateVariable)) {
        return {};
    }
    return "the simulated chip lasts this run only: set FLASHLOCK_SIM_STATE to a file to keep it, or run "
           "flashlock --sim, which keeps it for you";
}
