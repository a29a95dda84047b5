#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "driver/PortIoLibrary.h"
#include "tests/io/EntrySlots.h"

// The built libio.so, loaded by the program's binding and pointed at a text
// file instead of a port device: every entry point must then read as an
// unconnected port and the reason must come exactly once, whichever entry
// came first.
namespace {

using namespace entryslots;

constexpr std::int16_t dataPort = 0x378;
constexpr std::int16_t statusPort = 0x379;

TEST(UnreachablePortModule, EveryEntryReadsAsUnconnectedAndTheReasonComesOnce) {
    // Never a real port, whatever the environment held: the module reads
    // these at its first access.
    ASSERT_EQ(setenv("FLASHLOCK_PARPORT", FLASHLOCK_TEST_NOT_A_PORT, 1), 0);  // NOLINT(concurrency-mt-unsafe)
    ASSERT_EQ(unsetenv("FLASHLOCK_IO"), 0);                                   // NOLINT(concurrency-mt-unsafe)
    ASSERT_EQ(loadPortIoLibrary(), 0);
    const auto installed = slot<Installed>(PortIoEntry::IsDriverInstalled);
    ASSERT_NE(installed, nullptr);
    EXPECT_EQ(installed(), 1) << "nothing is opened before the first access";

    testing::internal::CaptureStderr();
    portIoLibrary.portOut()(dataPort, 0x55);
    EXPECT_EQ(portIoLibrary.portIn()(statusPort), -1);
    slot<WordOut>(PortIoEntry::PortWordOut)(dataPort, 0x0102);
    slot<DoubleWordOut>(PortIoEntry::PortDWordOut)(dataPort, 0x01020304);
    EXPECT_EQ(slot<WordIn>(PortIoEntry::PortWordIn)(dataPort), -1);
    EXPECT_EQ(slot<DoubleWordIn>(PortIoEntry::PortDWordIn)(dataPort), -1);
    slot<BitChange>(PortIoEntry::SetPortBit)(dataPort, 1);
    slot<BitChange>(PortIoEntry::ClrPortBit)(dataPort, 1);
    slot<BitChange>(PortIoEntry::NotPortBit)(dataPort, 1);
    EXPECT_EQ(slot<BitRead>(PortIoEntry::GetPortBit)(statusPort, 7), 1);
    EXPECT_EQ(slot<Shift>(PortIoEntry::RightPortShift)(dataPort, 0), 1) << "the bit that left an all-ones byte";
    EXPECT_EQ(slot<Shift>(PortIoEntry::LeftPortShift)(dataPort, 0), 1);
    const std::string errors = testing::internal::GetCapturedStderr();

    EXPECT_EQ(installed(), 0) << "known unreachable now";
    EXPECT_EQ(errors, std::string("flashlock: ") + FLASHLOCK_TEST_NOT_A_PORT +
                          " is not a parallel port device; set FLASHLOCK_PARPORT=/dev/parportN, or leave it unset to "
                          "use the port at 0x378\n");
    unloadPortIoLibrary();
}

}  // namespace
