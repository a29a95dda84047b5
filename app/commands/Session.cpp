#include "app/commands/Session.h"

#include <algorithm>
#include <cctype>
#include <span>
#include <vector>

#include "app/Progress.h"
#include "app/commands/Messages.h"

namespace {

std::string lowerCase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); });
    return text;
}

// The part numbers in a name as flashlock gives it: the words with a digit in
// them before any comma (which starts a note such as ", top boot"), and each
// part a slash offers, "S29GL128N/P" standing for S29GL128N and S29GL128P.
std::vector<std::string> partNumbers(const std::string& name) {
    std::vector<std::string> parts;
    const std::string named = name.substr(0, name.find(','));
    std::size_t start = 0;
    while (start < named.size()) {
        const std::size_t end = std::min(named.find(' ', start), named.size());
        const std::string word = named.substr(start, end - start);
        start = end + 1;
        if (std::none_of(word.begin(), word.end(),
                         [](char c) { return std::isdigit(static_cast<unsigned char>(c)); })) {
            continue;
        }
        parts.push_back(word);
        const std::size_t slash = word.find('/');
        if (slash == std::string::npos) {
            continue;
        }
        const std::string first = word.substr(0, slash);
        parts.push_back(first);
        for (std::size_t from = slash + 1; from <= word.size();) {
            const std::size_t next = std::min(word.find('/', from), word.size());
            const std::string ending = word.substr(from, next - from);
            if (!ending.empty() && ending.size() < first.size()) {
                parts.push_back(first.substr(0, first.size() - ending.size()) + ending);
            }
            from = next + 1;
        }
    }
    return parts;
}

// "0x89:0x16" as bytes; nullopt when the text is not codes of that form.
std::optional<std::vector<std::uint8_t>> codeList(const std::string& text) {
    std::vector<std::uint8_t> codes;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t colon = std::min(text.find(':', start), text.size());
        std::string code = text.substr(start, colon - start);
        start = colon + 1;
        if (code.size() > 2 && code[0] == '0' && (code[1] == 'x' || code[1] == 'X')) {
            code.erase(0, 2);
        }
        if (code.empty() || code.size() > 2 || !std::all_of(code.begin(), code.end(), [](char c) {
                return std::isxdigit(static_cast<unsigned char>(c));
            })) {
            return std::nullopt;
        }
        codes.push_back(static_cast<std::uint8_t>(std::stoul(code, nullptr, 16)));
    }
    if (codes.size() < 2) {
        return std::nullopt;
    }
    return codes;
}

constexpr std::uint8_t bankCode = 0x7F;

std::vector<std::uint8_t> codesOf(const ChipIdentity& identity) {
    std::vector<std::uint8_t> codes(identity.bank, bankCode);
    codes.push_back(identity.manufacturer);
    codes.insert(codes.end(), identity.device.begin(), identity.device.end());
    return codes;
}

bool nameForm(const std::string& wanted, const KnownChip& known) {
    if (lowerCase(known.name) == wanted) {
        return true;
    }
    const std::vector<std::string> parts = partNumbers(known.name);
    return std::any_of(parts.begin(), parts.end(),
                       [&wanted](const std::string& part) { return lowerCase(part) == wanted; });
}

}  // namespace

bool chipNamed(const std::string& name, const KnownChip* known, const ChipIdentity& identity) {
    const std::string wanted = lowerCase(name);
    if (const std::optional<std::vector<std::uint8_t>> codes = codeList(wanted)) {
        return *codes == codesOf(identity);
    }
    return known != nullptr && nameForm(wanted, *known);
}

std::string chipNameProblem(const std::string& name) {
    const std::string wanted = lowerCase(name);
    const std::span<const KnownChip> chips = knownChips();
    if (codeList(wanted) ||
        std::any_of(chips.begin(), chips.end(), [&wanted](const KnownChip& chip) { return nameForm(wanted, chip); })) {
        return {};
    }
    return "--chip " + name.substr(0, 200) +
           " names no chip flashlock knows: give a part number as flashlock chips lists it (28F320J3, "
           "Am29LV160DB), or the chip's codes as flashlock status shows them (0x89:0x16)";
}

int Session::fail(const std::string& message, int status) {
    context->err << "flashlock: " << message << '\n' << std::flush;
    return status;
}

std::optional<LockState> Session::selectBlocks(const BlockSelection& blocks) {
    LockState named(geometry().blocks.size(), blocks.all);
    for (const BlockRange& range : blocks.ranges) {
        if (range.last > named.size()) {
            fail("block " + std::to_string(std::max<std::size_t>(range.first, named.size() + 1)) +
                     " does not exist: this chip has blocks 1 to " + std::to_string(named.size()),
                 exitStatus::usage);
            return std::nullopt;
        }
        std::fill(named.begin() + range.first - 1, named.begin() + range.last, true);
    }
    return named;
}

int Session::open(bool beyondReachAllowed) {
    const DriverAccess access = context->openDriver();
    simulatedBoard = access.simulated;
    flash = std::make_unique<FlashChip>(access.driver);
    boardKind = flash->detectBoard();
    if (boardKind == BoardKind::PortNotUsable) {
        context->err << "IO driver not initialized !\n";
        if (!access.problem.empty()) {
            context->err << "flashlock: " << access.problem << '\n';
        }
        context->err.flush();
        return exitStatus::noBoard;
    }
    if (boardName(boardKind) == nullptr) {
        context->err << "H/W check failed !\n";
        if (const int signal = context->interrupted(); signal != 0) {
            // The module may have given up waiting because of it.
            context->err.flush();
            return exitStatus::signalBase + signal;
        }
        if (const std::string problem = access.moduleProblem ? access.moduleProblem() : std::string();
            !problem.empty()) {
            // The module said why on standard error as it loaded, above this
            // line: said again it would only be read twice, and no cable is
            // to blame.
            context->err.flush();
            return exitStatus::noBoard;
        }
        return fail("no programmer board answered on " + context->port +
                        "; check the cable, the board's power and the port's mode in the firmware setup",
                    exitStatus::noBoard);
    }
    flash->beginAccess();
    found = identify(*flash);
    if (!found.valid()) {
        flash->endAccess();
        const ChipIdentity& codes = found.identity;
        return fail(found.problem() + (codes.device.empty() ? std::string()
                                                            : " (identifier " + hex(codes.manufacturer, 2) + " " +
                                                                  hex(codes.firstDevice(), 2) + ")"),
                    exitStatus::chipFailed);
    }
    if (!context->chip.empty() && !chipNamed(context->chip, found.known, found.identity)) {
        // Identification leaves the chip in read-array mode: nothing else was
        // sent to it, and nothing will be.
        flash->endAccess();
        std::string codes;
        for (const std::uint8_t code : codesOf(found.identity)) {
            codes += (codes.empty() ? "" : ":") + hex(code, 2);
        }
        const std::vector<std::string> parts =
            found.known != nullptr ? partNumbers(found.known->name) : std::vector<std::string>{};
        return fail(std::string("the chip in the socket is ") + (found.known != nullptr ? "the " : "a ") + chipText() +
                        ", not " + context->chip +
                        " as --chip says; nothing was written or read beyond its identification. Check the part "
                        "in the socket, or give --chip " +
                        (parts.empty() ? codes : parts.front()) + " for this one",
                    exitStatus::chipFailed);
    }
    set = commandSetFor(*flash, geometry());
    if (!geometry().reachable() && !beyondReachAllowed) {
        set->readArray();
        flash->endAccess();
        return fail("the " + chipText() + " holds " + humanBytes(geometry().size) +
                        ", more than the board's 24 address lines reach (16 MiB): flashlock can only show its "
                        "status",
                    exitStatus::chipFailed);
    }
    return exitStatus::done;
}

void Session::printBoardAndChip(std::ostream& out) const {
    out << "board        " << boardName(boardKind) << (simulated() ? " (simulated)" : "") << '\n'
        << "chip         " << chipText() << '\n';
}

ArrayReader& Session::reader() {
    if (!arrayReader) {
        arrayReader = std::make_unique<ArrayReader>(*set, !context->fullShifts, [this] {
            fail(
                "this board's address register did not step as a plain shift register; reading with full 24-bit "
                "address shifts (about three times slower); --full-shifts skips this check",
                exitStatus::done);
        });
    }
    return *arrayReader;
}

int Session::finish(int status, bool chipBusy) {
    if (!chipBusy) {
        set->readArray();
    }
    flash->endAccess();
    return conclude(status);
}

int Session::conclude(int status) {
    context->out.flush();
    // A signal turns only success into "stopped short": a job that failed
    // says so whatever came after.
    if (const int signal = context->interrupted(); signal != 0 && status == exitStatus::done) {
        return exitStatus::signalBase + signal;
    }
    if (!context->out && status == exitStatus::done) {
        context->err << "flashlock: standard output could not be written\n" << std::flush;
        return exitStatus::fileFailed;
    }
    return status;
}
