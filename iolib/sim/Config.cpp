#include "iolib/sim/Config.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>
#include <limits>
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

constexpr std::size_t shownLength = 200;
// Longer than any delay a command could plausibly need, and far below what a
// steady_clock duration holds.
constexpr std::uint64_t longestBusyMicroseconds = 600'000'000;

std::string rejected(const char* name, const std::string& value, const std::string& accepted) {
    return std::string(name) + "=\"" + shownValue(value) + "\" is not accepted; use " + accepted;
}

std::optional<std::uint64_t> decimal(const std::string& text, std::uint64_t limit) {
    if (text.empty() || text.size() > 12) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10U + static_cast<std::uint64_t>(c - '0');
    }
    return value <= limit ? std::optional(value) : std::nullopt;
}

// Hexadecimal digits, with or without 0x before them.
std::optional<std::uint64_t> hexadecimal(const std::string& text) {
    const std::string digits =
        text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X') ? text.substr(2) : text;
    if (digits.empty() || digits.size() > 8) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (const char c : digits) {
        if (std::isxdigit(static_cast<unsigned char>(c)) == 0) {
            return std::nullopt;
        }
        const int digit = std::isdigit(static_cast<unsigned char>(c)) != 0
                              ? c - '0'
                              : std::tolower(static_cast<unsigned char>(c)) - 'a' + 10;
        value = value * 16U + static_cast<std::uint64_t>(digit);
    }
    return value;
}

std::string hexText(std::uint32_t value) {
    constexpr const char* symbols = "0123456789ABCDEF";
    std::string text;
    do {
        text.insert(text.begin(), symbols[value & 0xFU]);
        value >>= 4U;
    } while (value != 0);
    return text;
}

bool isJ5(const ChipModel& chip) {
    return chip.masterLockBit;
}

void readChipSettings(const Environment& environment, ConfigResult& result);
void readFaults(const Environment& environment, ConfigResult& result);
void readPowerCut(const Environment& environment, ConfigResult& result);

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
    for (const std::string_view part : moreParts) {
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

// A variable that names one block of the chip, from 0.
std::optional<std::uint32_t> blockNumber(const Environment& environment, const char* name, ConfigResult& result) {
    const ChipModel& chip = result.config.chip;
    const auto text = valueOf(environment, name);
    if (!text) {
        return std::nullopt;
    }
    const auto block = decimal(*text, std::numeric_limits<std::uint32_t>::max());
    if (block && *block < chip.blockCount) {
        return static_cast<std::uint32_t>(*block);
    }
    if (chip.blockCount == 0) {
        result.errors.push_back(rejected(name, *text, "it with a chip in the socket only (FLASHLOCK_SIM_CHIP)"));
    } else {
        result.errors.push_back(rejected(name, *text,
                                         std::string("a ") + chip.blockWord() + " number of the " + chip.name +
                                             ", 0 to " + std::to_string(chip.blockCount - 1)));
    }
    return std::nullopt;
}

// Numbers from 0 to count - 1, separated by commas, with ranges a-b; sorted
// and each once.
std::optional<std::vector<std::uint32_t>> numberList(const std::string& text, std::uint32_t count) {
    if (count == 0) {
        return std::nullopt;
    }
    std::vector<bool> listed(count, false);
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = text.find(',', start);
        const std::string item = text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        const std::size_t dash = item.find('-');
        const auto first = decimal(item.substr(0, dash), count - 1U);
        const auto last = dash == std::string::npos ? first : decimal(item.substr(dash + 1), count - 1U);
        if (!first || !last || *last < *first) {
            return std::nullopt;
        }
        for (std::uint64_t number = *first; number <= *last; ++number) {
            listed[number] = true;
        }
        if (comma == std::string::npos) {
            break;
        }
        start = comma + 1;
    }
    std::vector<std::uint32_t> numbers;
    for (std::uint32_t number = 0; number < count; ++number) {
        if (listed[number]) {
            numbers.push_back(number);
        }
    }
    return numbers;
}

std::string amdPartList() {
    std::string list;
    for (const std::string_view part : moreParts) {
        const std::optional<ChipModel> model = findChip(part);
        if (model && model->commandSet == CommandSet::Amd) {
            list += (list.empty() ? "" : ", ") + std::string(part);
        }
    }
    return list;
}

// A lock-bit variable given for an AMD-set part, which has no lock bits.
bool refusedWithoutLockBits(const char* name, const std::string& value, ConfigResult& result) {
    const ChipModel& chip = result.config.chip;
    if (chip.commandSet != CommandSet::Amd) {
        return false;
    }
    result.errors.push_back(std::string(name) + "=\"" + shownValue(value) + "\" is not accepted for the " + chip.name +
                            ": it is an AMD-set part, which has no lock bits (FLASHLOCK_SIM_PROTECTED protects its "
                            "sectors); leave this variable unset or choose an Intel-set part with FLASHLOCK_SIM_CHIP");
    return true;
}

void readProtected(const Environment& environment, ConfigResult& result) {
    const ChipModel& chip = result.config.chip;
    const auto text = valueOf(environment, "FLASHLOCK_SIM_PROTECTED");
    if (!text) {
        return;
    }
    if (!chip.present) {
        result.errors.push_back(
            rejected("FLASHLOCK_SIM_PROTECTED", *text, "it with a chip in the socket only (FLASHLOCK_SIM_CHIP)"));
    } else if (chip.commandSet != CommandSet::Amd) {
        result.errors.push_back("FLASHLOCK_SIM_PROTECTED=\"" + shownValue(*text) + "\" is not accepted for the " +
                                chip.name +
                                ": it is an Intel-set part, whose blocks are locked by lock bits (flashlock lock, "
                                "or the state file's locked line); leave this variable unset or choose an AMD-set "
                                "part (" +
                                amdPartList() + ") with FLASHLOCK_SIM_CHIP");
    } else if (auto sectors = numberList(*text, chip.blockCount)) {
        result.config.chipSettings.protectedSectors = std::move(*sectors);
    } else {
        result.errors.push_back(rejected("FLASHLOCK_SIM_PROTECTED", *text,
                                         "sector numbers of the " + chip.name + " from 0 to " +
                                             std::to_string(chip.blockCount - 1) +
                                             ", separated by commas, with ranges such as 0-3"));
    }
}

}  // namespace

std::string shownValue(const std::string& value) {
    if (value.size() <= shownLength) {
        return value;
    }
    return value.substr(0, shownLength) + "... (" + std::to_string(value.size()) + " characters)";
}

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
    if (const auto latching = valueOf(environment, "FLASHLOCK_SIM_ADDRESS_REGISTER")) {
        const std::string wanted = lowerCase(*latching);
        if (wanted == addressRegisterName(AddressRegister::Shift)) {
            config.addressRegister = AddressRegister::Shift;
        } else if (wanted == addressRegisterName(AddressRegister::Latched)) {
            config.addressRegister = AddressRegister::Latched;
        } else {
            result.errors.push_back(rejected("FLASHLOCK_SIM_ADDRESS_REGISTER", *latching,
                                             "shift (the chip sees every clock of the address register) or latched "
                                             "(it sees a new address only after 24 clocks)"));
        }
    }
    if (const auto chip = valueOf(environment, "FLASHLOCK_SIM_CHIP")) {
        if (std::optional<ChipModel> model = findChip(*chip)) {
            config.chip = std::move(*model);
        } else {
            result.errors.push_back(rejected("FLASHLOCK_SIM_CHIP", *chip, chipList()));
        }
    }
    readChipSettings(environment, result);
    readPowerCut(environment, result);
    // Whether the files can be read and written is only known once they are
    // opened (Simulator).
    config.statePath = valueOf(environment, "FLASHLOCK_SIM_STATE").value_or("");
    config.tracePath = valueOf(environment, "FLASHLOCK_SIM_TRACE").value_or("");
    config.logPath = valueOf(environment, "FLASHLOCK_SIM_LOG").value_or("");
    return result;
}

}  // namespace flashsim

namespace flashsim {

namespace {

void readChipSettings(const Environment& environment, ConfigResult& result) {
    ChipSettings& settings = result.config.chipSettings;
    const ChipModel& chip = result.config.chip;
    if (const auto busy = valueOf(environment, "FLASHLOCK_SIM_BUSY")) {
        const std::string wanted = lowerCase(*busy);
        std::optional<std::chrono::microseconds> every;
        if (wanted == "none") {
            every = std::chrono::microseconds(0);
        } else if (const auto micro = decimal(wanted, longestBusyMicroseconds)) {
            every = std::chrono::microseconds(*micro);
        } else if (wanted != "typical") {
            result.errors.push_back(rejected("FLASHLOCK_SIM_BUSY", *busy,
                                             "typical (the datasheet's lock times and the CFI table's typical "
                                             "program and erase times), none, or a number of microseconds from 0 to "
                                             "600000000 for every lock, program and erase command"));
        }
        if (every) {
            settings.setLockBitTime = settings.clearLockBitsTime = *every;
            settings.programEraseTime = every;
        }
    }
    if (const auto vpen = valueOf(environment, "FLASHLOCK_SIM_VPEN")) {
        const std::string wanted = lowerCase(*vpen);
        if (refusedWithoutLockBits("FLASHLOCK_SIM_VPEN", *vpen, result)) {
            // No VPEN pin to speak of.
        } else if (wanted == "low" || wanted == "high") {
            settings.vpenLow = wanted == "low";
        } else {
            result.errors.push_back(
                rejected("FLASHLOCK_SIM_VPEN", *vpen, "low (lock, program and erase commands fail) or high"));
        }
    }
    if (const auto stuck = valueOf(environment, "FLASHLOCK_SIM_STUCK_BLOCK");
        !stuck || !refusedWithoutLockBits("FLASHLOCK_SIM_STUCK_BLOCK", *stuck, result)) {
        settings.stuckBlock = blockNumber(environment, "FLASHLOCK_SIM_STUCK_BLOCK", result);
    }
    if (const auto master = valueOf(environment, "FLASHLOCK_SIM_MASTER_LOCK")) {
        const std::string wanted = lowerCase(*master);
        if (refusedWithoutLockBits("FLASHLOCK_SIM_MASTER_LOCK", *master, result)) {
            // No master lock bit either.
        } else if (wanted != "set" && wanted != "clear") {
            result.errors.push_back(rejected("FLASHLOCK_SIM_MASTER_LOCK", *master, "set or clear"));
        } else if (wanted == "set" && !isJ5(chip)) {
            result.errors.push_back("FLASHLOCK_SIM_MASTER_LOCK=\"" + shownValue(*master) +
                                    "\" is not accepted for the " + chip.name +
                                    ": only the J5 parts (28F320J5, 28F640J5) have a master lock bit; choose one of "
                                    "them with FLASHLOCK_SIM_CHIP or leave this variable unset");
        } else {
            settings.masterLocked = wanted == "set";
        }
    }
    readProtected(environment, result);
    readFaults(environment, result);
}

void readPowerCut(const Environment& environment, ConfigResult& result) {
    const auto text = valueOf(environment, "FLASHLOCK_SIM_KILL");
    if (!text) {
        return;
    }
    const std::string wanted = lowerCase(*text);
    const std::size_t colon = wanted.find(':');
    if (colon != std::string::npos) {
        const std::string moment = wanted.substr(0, colon);
        const std::uint64_t command =
            decimal(wanted.substr(colon + 1), std::numeric_limits<std::uint64_t>::max()).value_or(0);
        if ((moment == "before" || moment == "after") && command > 0) {
            result.config.powerCut =
                PowerCut{moment == "before" ? PowerCut::Moment::Before : PowerCut::Moment::After, command};
            return;
        }
    }
    result.errors.push_back(rejected("FLASHLOCK_SIM_KILL", *text,
                                     "before:N or after:N, N from 1: the process ends as in a power cut just before "
                                     "or just after the N-th command that changes the chip (a lock bit set or "
                                     "cleared, an erase, a byte or buffer program)"));
}

void readFaults(const Environment& environment, ConfigResult& result) {
    ChipSettings& settings = result.config.chipSettings;
    const ChipModel& chip = result.config.chip;
    settings.eraseFailBlock = blockNumber(environment, "FLASHLOCK_SIM_ERASE_FAIL", result);
    settings.weakBlock = blockNumber(environment, "FLASHLOCK_SIM_WEAK_BLOCK", result);
    if (const auto address = valueOf(environment, "FLASHLOCK_SIM_PROGRAM_FAIL")) {
        const std::optional<std::uint64_t> value = hexadecimal(*address);
        if (value && *value < chip.size) {
            settings.programFailAddress = static_cast<std::uint32_t>(*value);
        } else if (!chip.present) {
            result.errors.push_back(rejected("FLASHLOCK_SIM_PROGRAM_FAIL", *address,
                                             "it with a chip in the socket only (FLASHLOCK_SIM_CHIP)"));
        } else {
            result.errors.push_back(rejected("FLASHLOCK_SIM_PROGRAM_FAIL", *address,
                                             "a hexadecimal byte address of the " + chip.name + ", 0 to " +
                                                 hexText(chip.size - 1U) + " (0x optional)"));
        }
    }
}

}  // namespace

}  // namespace flashsim
