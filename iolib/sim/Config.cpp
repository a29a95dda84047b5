#include "iolib/sim/Config.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <utility>

namespace flashsim {

namespace {

constexpr std::array<BoardType, 4> boards = {BoardType::Willem, BoardType::Zantrel4v4, BoardType::Zantrel4v5,
                                             BoardType::None};

std::string lowerCase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); });
    return text;
}

std::string rejected(const char* name, const std::string& value, const std::string& accepted) {
    return std::string(name) + "=\"" + value + "\" is not accepted; use " + accepted;
}

std::string boardList() {
    std::string list;
    for (const BoardType board : boards) {
        list += list.empty() ? "" : (board == boards.back() ? " or " : ", ");
        list += boardName(board);
    }
    return list;
}

std::string chipList() {
    std::string list;
    for (const std::string_view part : namedParts) {
        list += std::string(part) + ", ";
    }
    return list + "empty, or a 4-digit hexadecimal identifier word (device code then maker code, e.g. 1689)";
}

std::optional<std::string> valueOf(const Environment& environment, const char* name) {
    std::optional<std::string> value = environment(name);
    if (value && value->empty()) {
        return std::nullopt;
    }
    return value;
}

}  // namespace

ConfigResult readConfig(const Environment& environment) {
    ConfigResult result;
    Config& config = result.config;
    config.chip = *findChip("28F320J3");

    if (const auto board = valueOf(environment, "FLASHLOCK_SIM_BOARD")) {
        const std::string wanted = lowerCase(*board);
        bool known = false;
        for (const BoardType type : boards) {
            if (boardName(type) == wanted) {
                config.board = type;
                known = true;
            }
        }
        if (!known) {
            result.errors.push_back(rejected("FLASHLOCK_SIM_BOARD", *board, boardList()));
        }
    }
    if (const auto chip = valueOf(environment, "FLASHLOCK_SIM_CHIP")) {
        if (std::optional<ChipModel> model = findChip(*chip)) {
            config.chip = std::move(*model);
        } else {
            result.errors.push_back(rejected("FLASHLOCK_SIM_CHIP", *chip, chipList()));
        }
    }
    // Whether the files can be read and written is only known once they are
    // opened (Simulator).
    config.statePath = valueOf(environment, "FLASHLOCK_SIM_STATE").value_or("");
    config.tracePath = valueOf(environment, "FLASHLOCK_SIM_TRACE").value_or("");
    config.logPath = valueOf(environment, "FLASHLOCK_SIM_LOG").value_or("");
    return result;
}

}  // namespace flashsim
