#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>

#include "SimulatedPort.h"

namespace {

using namespace flashsim::entry;

constexpr std::int16_t dataPort = 0x378;
constexpr std::int16_t controlPort = 0x37A;

// The program hands bytes 0x80 to 0xFF over as negative values.
TEST(EntryPoints, SignedBytesReachTheLinesAsUnsigned) {
    SimUnderTest under;
    portOut(under.sim, dataPort, static_cast<std::int8_t>(-1));
    EXPECT_EQ(under.sim.board()->data(), 0xFF);
    portOut(under.sim, dataPort, static_cast<std::int8_t>(-91));
    EXPECT_EQ(under.sim.board()->data(), 0xA5);
    EXPECT_EQ(portIn(under.sim, dataPort), static_cast<std::int8_t>(-91));
    EXPECT_EQ(portIn(under.sim, 0x379), static_cast<std::int8_t>(0x7F)) << "serial out high, no probe answer";
}

TEST(EntryPoints, BitAndShiftOperationsActOnTheRegisterLevels) {
    SimUnderTest under;
    portOut(under.sim, controlPort, 0x09);
    setPortBit(under.sim, controlPort, 2);
    EXPECT_EQ(under.sim.board()->control(), 0x0D);
    clrPortBit(under.sim, controlPort, 0);
    EXPECT_EQ(under.sim.board()->control(), 0x0C);
    notPortBit(under.sim, controlPort, 9);  // bit 1
    EXPECT_EQ(under.sim.board()->control(), 0x0E);
    EXPECT_EQ(getPortBit(under.sim, controlPort, 3), 1);
    EXPECT_EQ(getPortBit(under.sim, controlPort, 0), 0);

    // Each shift gives back the bit that left the register.
    portOut(under.sim, dataPort, static_cast<std::int8_t>(0x81));
    EXPECT_EQ(rightPortShift(under.sim, dataPort, 1), 1);
    EXPECT_EQ(under.sim.board()->data(), 0xC0);
    EXPECT_EQ(leftPortShift(under.sim, dataPort, 0), 1);
    EXPECT_EQ(under.sim.board()->data(), 0x80);
    EXPECT_EQ(rightPortShift(under.sim, dataPort, 0), 0);
    EXPECT_EQ(under.sim.board()->data(), 0x40);
    EXPECT_EQ(leftPortShift(under.sim, dataPort, 1), 0);
    EXPECT_EQ(under.sim.board()->data(), 0x81);
}

TEST(EntryPoints, WordsAndDoubleWordsSplitLowByteFirst) {
    SimUnderTest under;
    portWordOut(under.sim, dataPort, 0x0D5A);
    EXPECT_EQ(under.sim.board()->data(), 0x5A);
    EXPECT_EQ(under.sim.board()->control(), 0x01) << "untouched: the high byte went to the status port";
    portDWordOut(under.sim, dataPort, 0x00090042);
    EXPECT_EQ(under.sim.board()->data(), 0x42);
    EXPECT_EQ(under.sim.board()->control(), 0x09);
    EXPECT_EQ(portWordIn(under.sim, dataPort), 0x7F42);
    EXPECT_EQ(portDWordIn(under.sim, dataPort), static_cast<std::int32_t>(0xFF097F42))
        << "0x37B is no port of ours: it reads 0xFF";
    ASSERT_EQ(under.sim.faults().size(), 2U);
    EXPECT_EQ(under.sim.faults()[0], "PortOut(0x037B, 0x00): the simulated port has only 0x378 to 0x37A");
    EXPECT_EQ(under.sim.faults()[1], "PortIn(0x037B): the simulated port has only 0x378 to 0x37A");
}

}  // namespace
