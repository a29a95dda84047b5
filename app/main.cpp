#include <iostream>

#include "app/Commands.h"
#include "app/Dialogue.h"
#include "driver/PortIoLibrary.h"
#include "driver/Zantrel4v4.h"
#include "platform/Platform.h"

namespace {

// Deliberately never destroyed: the port keeps the levels the last chip
// operation left and the io module stays loaded until the process ends,
// rather than the destructor driving the lines on exit. Held by a static so
// that it stays reachable to the end: a leak checker then sees a driver that
// is still in use, not a lost one.
Zantrel4v4& boardDriver() {
    // NOLINTNEXTLINE(cppcoreguidelines-owning-memory,cppcoreguidelines-avoid-non-const-global-variables)
    static auto* const driver = new Zantrel4v4(888);
    return *driver;
}

// The operator dialogue on the board driver.
int dialogue() {
    Zantrel4v4& driver = boardDriver();
    if (!driver.portProblem().empty()) {
        // The dialogue's own line says only that the driver is missing; this
        // one says why and what to do.
        std::cerr << "flashlock: " << driver.portProblem() << '\n';
    }
    return runDialogue(driver, std::cin, std::cout, platform::pauseBeforeExit, platform::interruptSignal);
}

}  // namespace

int main(int argc, char** argv) {
    platform::ensureStandardStreams();
    platform::catchInterrupts();
    if (argc > 1) {
        const CommandContext context{std::cout,
                                     std::cerr,
                                     [] {
                                         Zantrel4v4& driver = boardDriver();
                                         return DriverAccess{&driver, driver.portProblem(), portIoModuleProblem};
                                     },
                                     platform::interruptSignal,
                                     platform::standardErrorIsTerminal(),
                                     platform::systemCounter(),
                                     dialogue};
        return runCommand(argc, argv, context);
    }
    return dialogue();
}
