#include <iostream>

#include "app/Commands.h"
#include "app/Dialogue.h"
#include "driver/PortIoLibrary.h"
#include "driver/SimulatorModule.h"
#include "driver/Zantrel4v4.h"
#include "platform/Environment.h"
#include "platform/Platform.h"

namespace {

// Which module the board driver loads: "io" as the loader finds it, or,
// after --sim, the simulated board by its own path.
struct ModuleChoice {
    std::string simulatorPath;
};

// Deliberately never destroyed: the port keeps the levels the last chip
// operation left and the io module stays loaded until the process ends,
// rather than the destructor driving the lines on exit. Held by a static so
// that it stays reachable to the end: a leak checker then sees a driver that
// is still in use, not a lost one. Built on first use, with the module the
// choice names by then.
Zantrel4v4& boardDriver(const ModuleChoice& choice) {
    // NOLINTNEXTLINE(cppcoreguidelines-avoid-non-const-global-variables)
    static auto* const driver = [&choice] {
        // NOLINTNEXTLINE(cppcoreguidelines-owning-memory)
        auto* made = new Zantrel4v4(888, platform::systemCounter(), choice.simulatorPath);
        // The simulator met through the loader's search keeps its chip for
        // this run alone unless told where to keep it; --sim tells it.
        if (choice.simulatorPath.empty() && portIoModuleSimulated() && portIoModuleProblem().empty()) {
            if (const std::string note = oneRunNote(platform::environmentValue); !note.empty()) {
                std::cerr << "flashlock: " << note << '\n' << std::flush;
            }
        }
        return made;
    }();
    return *driver;
}

// The operator dialogue on the board driver.
int dialogue(const ModuleChoice& choice) {
    Zantrel4v4& driver = boardDriver(choice);
    if (!driver.portProblem().empty()) {
        // The dialogue's own line says only that the driver is missing; this
        // one says why and what to do.
        std::cerr << "flashlock: " << driver.portProblem() << '\n';
    }
    return runDialogue(driver, std::cin, std::cout, platform::pauseBeforeExit, platform::interruptSignal);
}

// --sim: the simulated board's module found beside the program, and its
// chip kept in flashlock's state folder unless FLASHLOCK_SIM_STATE names a
// file; all set before the module loads, since it reads its settings then.
int useSimulator(ModuleChoice& choice, bool reset) {
    const SimulatorChoice simulator = chooseSimulator(systemSurroundings());
    if (!simulator.problem.empty()) {
        std::cerr << "flashlock: " << simulator.problem << '\n' << std::flush;
        return exitStatus::noBoard;
    }
    if (!simulator.note.empty()) {
        std::cerr << "flashlock: " << simulator.note << '\n';
    }
    if (reset) {
        bool failed = false;
        const std::string said = resetSimulatorState(simulator, failed);
        std::cerr << "flashlock: " << said << '\n' << std::flush;
        if (failed) {
            return simulator.userState.empty() ? exitStatus::fileFailed : exitStatus::usage;
        }
    }
    if (!simulator.stateFile.empty() && !platform::setEnvironmentValue("FLASHLOCK_SIM_STATE", simulator.stateFile)) {
        std::cerr << "flashlock: cannot set FLASHLOCK_SIM_STATE for the simulated board; the simulated chip lasts "
                     "this run only\n";
    }
    choice.simulatorPath = simulator.module;
    return exitStatus::done;
}

}  // namespace

int main(int argc, char** argv) {
    platform::ensureStandardStreams();
    platform::catchInterrupts();
    ModuleChoice choice;
    if (argc > 1) {
        CommandContext context{
            std::cout,
            std::cerr,
            [&choice] {
                Zantrel4v4& driver = boardDriver(choice);
                return DriverAccess{&driver, driver.portProblem(), portIoModuleProblem, portIoModuleSimulated()};
            },
            platform::interruptSignal,
            platform::standardErrorIsTerminal(),
            platform::systemCounter(),
            [&choice] { return dialogue(choice); }};
        context.useSimulator = [&choice](bool reset) { return useSimulator(choice, reset); };
        return runCommand(argc, argv, context);
    }
    return dialogue(choice);
}
