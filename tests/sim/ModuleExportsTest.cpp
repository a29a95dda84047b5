#include <gtest/gtest.h>

#include <cstdint>

#include "driver/PortIoLibrary.h"
#include "tests/io/EntrySlots.h"

// The simulator's io module as the program meets it: loaded by the binding,
// each of its 13 exports reached through its own slot. The model behind them
// is tested in-process elsewhere; this checks that every name forwards to the
// operation it stands for.
namespace {

using namespace entryslots;

constexpr std::int16_t dataPort = 0x378;
constexpr std::int16_t controlPort = 0x37A;

using ModuleProblem = const char*(FLASHLOCK_IO_CALL*)();

// Looked up by name, as the program looks for it: not one of the 13.
ModuleProblem moduleProblem() {
    // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast)
    return reinterpret_cast<ModuleProblem>(platform::findSymbol(portIoLibrary.module, "FlashlockModuleProblem"));
}

TEST(SimulatorModule, EveryExportForwardsToItsOwnOperation) {
    ASSERT_EQ(loadPortIoLibrary(), 0);
    for (const platform::ModuleSymbol entry : portIoLibrary.entryPoints) {
        ASSERT_NE(entry, nullptr);
    }
    const auto portOut = portIoLibrary.portOut();
    const auto portIn = portIoLibrary.portIn();
    const auto data = [&] { return static_cast<std::uint8_t>(portIn(dataPort)); };

    EXPECT_EQ(slot<Installed>(PortIoEntry::IsDriverInstalled)(), 1);
    ASSERT_NE(moduleProblem(), nullptr);
    EXPECT_EQ(moduleProblem()(), nullptr) << "a usable simulator has no problem to tell";
    EXPECT_TRUE(portIoModuleSimulated()) << "the program names its board \"(simulated)\"";

    portOut(dataPort, 0x00);
    slot<BitChange>(PortIoEntry::SetPortBit)(dataPort, 3);
    EXPECT_EQ(data(), 0x08);
    slot<BitChange>(PortIoEntry::NotPortBit)(dataPort, 0);
    EXPECT_EQ(data(), 0x09);
    slot<BitChange>(PortIoEntry::ClrPortBit)(dataPort, 3);
    EXPECT_EQ(data(), 0x01);
    EXPECT_EQ(slot<BitRead>(PortIoEntry::GetPortBit)(dataPort, 0), 1);
    EXPECT_EQ(slot<BitRead>(PortIoEntry::GetPortBit)(dataPort, 1), 0);
    EXPECT_EQ(slot<Shift>(PortIoEntry::RightPortShift)(dataPort, 1), 1);
    EXPECT_EQ(data(), 0x80);
    EXPECT_EQ(slot<Shift>(PortIoEntry::LeftPortShift)(dataPort, 0), 1);
    EXPECT_EQ(data(), 0x00);
    slot<BitChange>(PortIoEntry::SetPortBit)(dataPort, 0);

    slot<WordOut>(PortIoEntry::PortWordOut)(dataPort, 0x0D5A);
    EXPECT_EQ(data(), 0x5A);
    EXPECT_EQ(slot<WordIn>(PortIoEntry::PortWordIn)(dataPort) & 0xFF, 0x5A);
    slot<DoubleWordOut>(PortIoEntry::PortDWordOut)(dataPort, 0x00090042);
    EXPECT_EQ(data(), 0x42);
    EXPECT_EQ(slot<BitRead>(PortIoEntry::GetPortBit)(controlPort, 3), 1);
    EXPECT_EQ(slot<BitRead>(PortIoEntry::GetPortBit)(controlPort, 2), 0);
    const auto both = static_cast<std::uint32_t>(slot<DoubleWordIn>(PortIoEntry::PortDWordIn)(dataPort));
    EXPECT_EQ(both & 0xFFU, 0x42U);
    EXPECT_EQ((both >> 16U) & 0xFFU, 0x09U) << "the third byte is the Control register";
    unloadPortIoLibrary();
}

// Run with FLASHLOCK_SIM_BOARD=zantrel4v6: what the module printed while it
// loaded, for the program to repeat in its own words.
TEST(SimulatorModuleRefused, SaysWhatIsWrongWithItsConfiguration) {
    ASSERT_EQ(loadPortIoLibrary(), 0);
    EXPECT_EQ(slot<Installed>(PortIoEntry::IsDriverInstalled)(), 0);
    ASSERT_NE(moduleProblem(), nullptr);
    ASSERT_NE(moduleProblem()(), nullptr);
    EXPECT_STREQ(moduleProblem()(),
                 "FLASHLOCK_SIM_BOARD=\"zantrel4v6\" is not accepted; use willem, zantrel4v4, zantrel4v5 or none");
    unloadPortIoLibrary();
}

}  // namespace
