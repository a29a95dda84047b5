#include "app/commands/Session.h"

#include <algorithm>

#include "app/Progress.h"
#include "app/commands/Messages.h"

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
            return fail("the port module serves no board: " + problem, exitStatus::noBoard);
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
    out << "board        " << boardName(boardKind) << '\n' << "chip         " << chipText() << '\n';
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
