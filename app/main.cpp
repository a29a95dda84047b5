#include <iostream>

#include "app/Dialogue.h"
#include "driver/Zantrel4v4.h"
#include "platform/Platform.h"

int main() {
    // Deliberately never destroyed: the port keeps the levels the last
    // block-lock report left and the io module stays loaded until the
    // process ends, rather than the destructor driving the lines on exit.
    auto* driver = new Zantrel4v4(888);  // NOLINT(cppcoreguidelines-owning-memory)
    if (!driver->portProblem().empty()) {
        // The dialogue's own line says only that the driver is missing; this
        // one says why and what to do.
        std::cerr << "flashlock: " << driver->portProblem() << '\n';
    }
    return runDialogue(*driver, std::cin, std::cout, platform::pauseBeforeExit);
}
