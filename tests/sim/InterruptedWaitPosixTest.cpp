// A run that waits for another one's state file must give up at once when a
// signal the program handles arrives, as a user who presses Ctrl-C expects,
// rather than sit out the wait's bound.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <pthread.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <string>
#include <thread>

#include "SimulatedPort.h"
#include "tests/TempFolder.h"

namespace {

void noteSignal(int /*number*/) {}

TEST(InterruptedWait, AHandledSignalEndsTheWaitForTheStateFile) {
    TempFolder folder;
    const std::string state = folder.file("state.txt");
    Session holder{{"FLASHLOCK_SIM_STATE", state}};
    ASSERT_TRUE(holder.under.sim.usable());

    // Installed as the program installs its own: no SA_RESTART.
    struct sigaction action {};
    struct sigaction before {};
    action.sa_handler = noteSignal;
    sigemptyset(&action.sa_mask);
    ASSERT_EQ(sigaction(SIGUSR1, &action, &before), 0);
    // Sent again and again until the wait ends, so that one lands inside it
    // however the threads are scheduled; those before it do no harm.
    std::atomic<bool> ended{false};
    const pthread_t waiter = pthread_self();
    std::thread signaller([&ended, waiter] {
        while (!ended) {
            pthread_kill(waiter, SIGUSR1);
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    });
    // Without the signal this bound would be reached, with another message.
    SimUnderTest waiting({{"FLASHLOCK_SIM_STATE", state}}, std::chrono::seconds(20));
    ended = true;
    signaller.join();
    sigaction(SIGUSR1, &before, nullptr);

    const std::string reason =
        "FLASHLOCK_SIM_STATE=\"" + state + "\": interrupted while waiting for another run that uses it to end";
    EXPECT_THAT(waiting.messages.str(), testing::EndsWith("flashlock simulator: " + reason +
                                                          "; the simulated port is not usable: port writes do "
                                                          "nothing and no board answers the probe\n"));
    EXPECT_FALSE(waiting.sim.usable());
    EXPECT_EQ(waiting.sim.reasonNotUsable(), reason);
}

}  // namespace
