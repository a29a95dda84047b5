#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <string>

#include "SimulatedPort.h"
#include "tests/TempFolder.h"

namespace {

using flashsim::ChipMode;
using testing::HasSubstr;

class SerialAddress : public testing::TestWithParam<std::uint32_t> {};

TEST_P(SerialAddress, TheRegisterHoldsTheLow24BitsShiftedOut) {
    Session session;
    session.port.shiftOutAddress(GetParam(), 24);
    EXPECT_EQ(session.under.sim.board()->address(), GetParam() & 0xFFFFFFU);
}

INSTANTIATE_TEST_SUITE_P(Addresses, SerialAddress,
                         testing::Values(0x000000U, 0x000555U, 0x0002AAU, 0x000AAAU, 0x1E0004U, 0xFFFFFFU, 0x800001U,
                                         0x12345678U));

TEST(SerialAddress, ShortShiftsPushOlderBitsUpAndDataBytesAreNoClock) {
    Session session;
    session.port.shiftOutAddress(0x00ABCD, 24);
    session.port.shiftOutAddress(0x5, 4);
    EXPECT_EQ(session.under.sim.board()->address(), 0x0ABCD5U);
    // putDataByte raises Control bit 1 first: Data bit 0 going up is no clock then.
    session.port.putDataByte(0x00);
    session.port.putDataByte(0x03);
    EXPECT_EQ(session.under.sim.board()->address(), 0x0ABCD5U);
}

struct RegisterCase {
    const char* kind;  // FLASHLOCK_SIM_ADDRESS_REGISTER
    bool stepsReachTheChip;
};

void PrintTo(const RegisterCase& c, std::ostream* os) {
    *os << c.kind;
}

class AddressRegister : public testing::TestWithParam<RegisterCase> {};

// One clocked bit moves the address one place left with the new bit lowest:
// the chip sees it at once on a plain shift register, while a latched one
// passes on only whole 24-bit addresses. Full shifts work on both.
TEST_P(AddressRegister, FullShiftsReachTheChipAndOneBitStepsOnlyWithoutALatch) {
    TempFolder folder;
    std::string state = "flashlock-sim-state 1\nchip 28F320J3\n";
    for (unsigned row = 0; row < 4; ++row) {
        state += "array 0000" + std::to_string(row) + "0";
        for (unsigned column = 0; column < 16; ++column) {
            const unsigned byte = row * 16 + column;
            state += ' ' + std::string(1, "0123456789ABCDEF"[byte >> 4U]) + "0123456789ABCDEF"[byte & 0xFU];
        }
        state += '\n';
    }
    writeFile(folder.file("state.txt"), state);
    Session session{{"FLASHLOCK_SIM_STATE", folder.file("state.txt")},
                    {"FLASHLOCK_SIM_ADDRESS_REGISTER", GetParam().kind}};
    ASSERT_TRUE(session.under.sim.usable()) << session.under.messages.str();
    FlashChip& flash = session.flash;
    flash.beginAccess();
    ASSERT_EQ(flash.readAt(0x01), 0x01);
    std::uint32_t address = 0x01;
    for (const bool bit : {false, true, true, false, true}) {
        flash.stepAddress(bit);
        address = (address << 1U) | (bit ? 1U : 0U);
        EXPECT_EQ(session.under.sim.board()->address(), address) << "the register shifts on either board";
        EXPECT_EQ(flash.readAgain(), GetParam().stepsReachTheChip ? address : 0x01U) << "at step to " << address;
    }
    EXPECT_EQ(flash.readAt(0x2A), 0x2A);
    EXPECT_EQ(flash.readAgain(), 0x2A);
    EXPECT_THAT(session.faults(), testing::IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(Kinds, AddressRegister,
                         testing::Values(RegisterCase{"shift", true}, RegisterCase{"Latched", false}),
                         [](const testing::TestParamInfo<RegisterCase>& info) { return std::string(info.param.kind); });

// Bytes the array holds, and each read back through the serial register,
// also right after data bytes that leave Data bit 2 high (0xFF, 0x55).
TEST(SerialRead, EveryByteComesBackWhateverTheDataLinesHeld) {
    TempFolder folder;
    const std::string state = folder.file("state.txt");
    writeFile(state, "flashlock-sim-state 1\nchip 28F320J3\narray 000000 00 FF A5 5A 80 01 7F FE\n");
    Session session({{"FLASHLOCK_SIM_STATE", state}});
    session.flash.beginAccess();
    const std::uint8_t expected[] = {0x00, 0xFF, 0xA5, 0x5A, 0x80, 0x01, 0x7F, 0xFE};
    for (const std::uint8_t leftOver : {0xFF, 0x55, 0xF0}) {
        for (std::uint32_t at = 0; at < 8; ++at) {
            session.flash.writeAt(0, 0xFF);
            session.port.putDataByte(leftOver);
            EXPECT_EQ(session.flash.readAt(at), expected[at]) << "at " << at << " after data byte " << int{leftOver};
        }
    }
    EXPECT_THAT(session.faults(), testing::IsEmpty());
}

// Control bit 3 is high from the idle levels at the first write of a
// sequence, and low at the next: either way the write happens as it falls.
TEST(WriteStrobe, TakesEffectOnTheFallingEdgeOnly) {
    Session session;
    session.flash.beginAccess();
    for (const std::uint8_t command : {0x90, 0x98}) {
        session.port.shiftOutAddress(0, 24);
        session.port.putDataByte(command);
        session.port.changeLines(PortRegister::Control, 0x0008);
        EXPECT_EQ(session.chip().mode(), command == 0x90 ? ChipMode::ReadArray : ChipMode::ReadIdentifier);
        session.port.changeLines(PortRegister::Control, 0x0800);
        EXPECT_EQ(session.chip().mode(), command == 0x90 ? ChipMode::ReadIdentifier : ChipMode::Query);
        session.port.changeLines(PortRegister::Control, 0x0200);
    }
    EXPECT_THAT(session.faults(), testing::IsEmpty());
}

TEST(AccessLine, BusCyclesWhileItIsLowNeverReachTheChipAndAreFaults) {
    Session session;
    session.flash.writeAt(0, 0x90);
    EXPECT_EQ(session.chip().mode(), ChipMode::ReadArray);
    EXPECT_EQ(session.flash.readAt(0x10), 0xFF) << "the idle bus, not the chip";
    ASSERT_EQ(session.faults().size(), 2U);
    EXPECT_THAT(session.faults()[0], HasSubstr("write of 0x90 at 0x000000 with the access line (Control bit 2) low"));
    EXPECT_THAT(session.faults()[1], HasSubstr("read at 0x000010 with the access line (Control bit 2) low"));

    session.flash.beginAccess();
    session.flash.writeAt(0, 0x90);
    EXPECT_EQ(session.flash.readAt(0), 0x89);
    session.flash.endAccess();
    session.flash.readAt(2);
    EXPECT_EQ(session.faults().size(), 3U) << "access closes again with endAccess";
}

TEST(WriteStrobe, WithoutTheDataByteDrivenIsAFault) {
    Session session;
    session.flash.beginAccess();
    session.port.shiftOutAddress(0x40, 24);
    session.port.changeLines(PortRegister::Control, 0x0008);
    session.port.changeLines(PortRegister::Control, 0x0800);
    ASSERT_EQ(session.faults().size(), 1U);
    EXPECT_THAT(session.faults()[0], HasSubstr("while the data byte is not driven"));
}

struct ProbeCase {
    const char* board;
    const char* samples;
    BoardKind kind;
};

void PrintTo(const ProbeCase& c, std::ostream* os) {
    *os << c.board;
}

class Probe : public testing::TestWithParam<ProbeCase> {};

TEST_P(Probe, EachBoardAnswersItsSamplesEveryTime) {
    Session session({{"FLASHLOCK_SIM_BOARD", GetParam().board}});
    for (int run = 0; run < 2; ++run) {
        EXPECT_EQ(session.port.detectBoard(), GetParam().kind);
        EXPECT_EQ(session.port.samples, GetParam().samples);
        EXPECT_EQ(session.under.sim.board()->control(), 0x0B);
        EXPECT_EQ(session.under.sim.board()->data(), 0x00);
        // A whole identifier read between probes must not change the answer.
        session.dialogue.readDeviceId();
        session.dialogue.dumpCfiQuery();
    }
    EXPECT_THAT(session.faults(), testing::IsEmpty()) << "the probe's fall of Control bit 3 is no write cycle";
}

INSTANTIATE_TEST_SUITE_P(Boards, Probe,
                         testing::Values(ProbeCase{"willem", "1101", BoardKind::Willem},
                                         ProbeCase{"zantrel4v4", "1001", BoardKind::Zantrel4v4},
                                         ProbeCase{"zantrel4v5", "1000", BoardKind::Zantrel4v5},
                                         ProbeCase{"none", "0000", BoardKind::NoBoard}));

}  // namespace
