#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <windows.h>

#include <array>
#include <cstdint>
#include <functional>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "driver/PortIoLibrary.h"
#include "tests/TempFolder.h"
#include "tests/io/EntrySlots.h"

// The bridge io.dll, loaded through the program's binding, over the fake
// InpOut that the tests build: every entry point's calls into InpOut, the
// move to FLASHLOCK_PORT_BASE, and each way InpOut can be unusable. Each test
// chooses the folder its InpOut DLL is looked for in (SetDllDirectory); the
// bridge reads its variables at its first call, after the test has set them.
namespace {

using namespace entryslots;
using testing::ElementsAre;
using testing::ElementsAreArray;

#if defined(_WIN64)
const std::string ours = "inpoutx64.dll";
const std::string other = "inpout32.dll";
const std::string ourFolder = "x64";
const std::string ourBits = "64-bit";
const std::string otherBits = "32-bit";
#else
const std::string ours = "inpout32.dll";
const std::string other = "inpoutx64.dll";
const std::string ourFolder = "Win32";
const std::string ourBits = "32-bit";
const std::string otherBits = "64-bit";
#endif

const std::string fromInpOut = ours +
                               " from InpOut32/InpOutx64 (Highrez's free port-I/O library with a signed driver; the "
                               "file is in its " +
                               ourFolder + " folder)";

// The port's mutex, when a test has "another flashlock" hold it.
HANDLE takenLock = nullptr;

void setVariable(const char* name, const std::string& value) {
    ASSERT_TRUE(SetEnvironmentVariableA(name, value.c_str()));
}

void clearVariable(const char* name) {
    SetEnvironmentVariableA(name, nullptr);
}

// PATH as the test started.
std::string originalPath;

// Where the bridge's DLL search finds InpOut, after flashlock.exe's folder.
void lookForInpOutIn(const char* folder) {
    ASSERT_TRUE(SetDllDirectoryA(folder));
}

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

// Whether a named mutex exists now.
bool exists(const char* lock) {
    HANDLE found = OpenMutexA(SYNCHRONIZE, FALSE, lock);
    if (found == nullptr) {
        return false;
    }
    CloseHandle(found);
    return true;
}

class BridgeTest : public testing::Test {
public:
    BridgeTest() {
        for (const char* name : {"FLASHLOCK_PORT_BASE", "FAKE_INPOUT_DRIVER", "FAKE_INPOUT_PORTS", "FAKE_INPOUT_BOARD",
                                 "FAKE_INPOUT_BOARD_BASE"}) {
            clearVariable(name);
        }
        setVariable("FAKE_INPOUT_LOG", log);
        lookForInpOutIn(FLASHLOCK_TEST_FAKE_INPOUT_DIR);
        std::array<char, 32768> path{};
        const DWORD length = GetEnvironmentVariableA("PATH", path.data(), static_cast<DWORD>(path.size()));
        originalPath.assign(path.data(), length < path.size() ? length : 0);
    }
    ~BridgeTest() override {
        unloadPortIoLibrary();
        SetDllDirectoryA(nullptr);
        SetEnvironmentVariableA("PATH", originalPath.c_str());
        if (takenLock != nullptr) {
            CloseHandle(takenLock);
            takenLock = nullptr;
        }
    }
    BridgeTest(const BridgeTest&) = delete;
    BridgeTest& operator=(const BridgeTest&) = delete;
    BridgeTest(BridgeTest&&) = delete;
    BridgeTest& operator=(BridgeTest&&) = delete;

protected:
    static void load() {
        ASSERT_EQ(loadPortIoLibrary(), 0);
        for (std::size_t i = 0; i < portIoEntryNames.size(); ++i) {
            ASSERT_NE(portIoLibrary.entryPoints.at(i), nullptr) << portIoEntryNames.at(i);
        }
    }

    // What the fake InpOut was asked, in order.
    [[nodiscard]] std::vector<std::string> calls() const { return linesOf(readFile(log)); }

    TempFolder scratch;
    const std::string log = scratch.file("inpout-calls.log");
};

TEST_F(BridgeTest, ForwardsEveryEntryPointToInpOut) {
    setVariable("FAKE_INPOUT_PORTS", "0x378=0x81,0x379=0x78,0x37a=0x09");
    load();
    testing::internal::CaptureStderr();
    portIoLibrary.portOut()(0x378, static_cast<std::int8_t>(0xA5));
    EXPECT_EQ(portIoLibrary.portIn()(0x379), 0x78);
    slot<WordOut>(PortIoEntry::PortWordOut)(0x37A, 0x0B5A);
    EXPECT_EQ(slot<WordIn>(PortIoEntry::PortWordIn)(0x37A), 0x0B5A);
    slot<DoubleWordOut>(PortIoEntry::PortDWordOut)(0x37C, 0x11223344);
    EXPECT_EQ(slot<DoubleWordIn>(PortIoEntry::PortDWordIn)(0x37C), 0x11223344);
    slot<BitChange>(PortIoEntry::SetPortBit)(0x378, 1);
    slot<BitChange>(PortIoEntry::ClrPortBit)(0x378, 0);
    slot<BitChange>(PortIoEntry::NotPortBit)(0x378, 7);
    EXPECT_EQ(slot<BitRead>(PortIoEntry::GetPortBit)(0x379, 6), 1);
    EXPECT_EQ(slot<BitRead>(PortIoEntry::GetPortBit)(0x379, 7), 0);
    EXPECT_EQ(slot<Shift>(PortIoEntry::RightPortShift)(0x378, 1), 0) << "bit 0 of 0x26 left";
    EXPECT_EQ(slot<Shift>(PortIoEntry::LeftPortShift)(0x378, 0), 1) << "bit 7 of 0x93 left";
    slot<BitChange>(PortIoEntry::SetPortBit)(0x378, 8);  // no such bit: no access at all
    EXPECT_EQ(slot<BitRead>(PortIoEntry::GetPortBit)(0x378, -1), 0);
    EXPECT_EQ(slot<Installed>(PortIoEntry::IsDriverInstalled)(), 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");

    EXPECT_THAT(calls(), ElementsAre("IsInpOutDriverOpen 1",  // the first call sets the bridge up
                                     "Out32 0x378 0xa5", "Inp32 0x379 0x78", "DlPortWritePortUshort 0x37a 0x0b5a",
                                     "DlPortReadPortUshort 0x37a 0x0b5a", "DlPortWritePortUlong 0x37c 0x11223344",
                                     "DlPortReadPortUlong 0x37c 0x11223344", "Inp32 0x378 0xa5", "Out32 0x378 0xa7",
                                     "Inp32 0x378 0xa7", "Out32 0x378 0xa6", "Inp32 0x378 0xa6", "Out32 0x378 0x26",
                                     "Inp32 0x379 0x78", "Inp32 0x379 0x78", "Inp32 0x378 0x26", "Out32 0x378 0x93",
                                     "Inp32 0x378 0x93", "Out32 0x378 0x26", "IsInpOutDriverOpen 1"));
}

class MovedPort : public BridgeTest, public testing::WithParamInterface<const char*> {};

TEST_P(MovedPort, EveryAccessGoesToTheGivenBase) {
    setVariable("FLASHLOCK_PORT_BASE", GetParam());
    load();
    testing::internal::CaptureStderr();
    portIoLibrary.portOut()(0x378, 0x00);
    portIoLibrary.portOut()(0x37A, 0x09);
    EXPECT_EQ(portIoLibrary.portIn()(0x379), -1);
    slot<WordOut>(PortIoEntry::PortWordOut)(0x37E, 0x0102);  // the last two of the eight addresses
    EXPECT_EQ(slot<DoubleWordIn>(PortIoEntry::PortDWordIn)(0x37C), 0x0102FFFF);
    EXPECT_EQ(slot<BitRead>(PortIoEntry::GetPortBit)(0x37F, 0), 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_THAT(calls(), ElementsAre("IsInpOutDriverOpen 1", "Out32 0xd010 0x00", "Out32 0xd012 0x09",
                                     "Inp32 0xd011 0xff", "DlPortWritePortUshort 0xd016 0x0102",
                                     "DlPortReadPortUlong 0xd014 0x0102ffff", "Inp32 0xd017 0x01"));
}

INSTANTIATE_TEST_SUITE_P(Bases, MovedPort, testing::Values("0xD010", "0xd010", "53264", " 0xD010\t"));

TEST_F(BridgeTest, ServesNoAddressOutsideTheProgramsPort) {
    load();
    portIoLibrary.portOut()(0x278, 0x01);
    portIoLibrary.portOut()(0x377, 0x01);
    portIoLibrary.portOut()(0x380, 0x01);
    EXPECT_EQ(portIoLibrary.portIn()(0x380), -1);
    EXPECT_EQ(portIoLibrary.portIn()(0x3BD), -1);
    slot<WordOut>(PortIoEntry::PortWordOut)(0x37F, 0x0102);  // would reach 0x380
    EXPECT_EQ(slot<WordIn>(PortIoEntry::PortWordIn)(0x37F), -1);
    slot<DoubleWordOut>(PortIoEntry::PortDWordOut)(0x37D, 0x01020304);
    EXPECT_EQ(slot<DoubleWordIn>(PortIoEntry::PortDWordIn)(0x37E), -1);
    slot<BitChange>(PortIoEntry::SetPortBit)(0x380, 0);
    EXPECT_EQ(slot<Shift>(PortIoEntry::LeftPortShift)(0x380, 0), 1) << "an empty address reads as all ones";
    EXPECT_THAT(calls(), ElementsAre("IsInpOutDriverOpen 1"));
}

// The named mutex lives exactly as long as the bridge is loaded and set up.
TEST_F(BridgeTest, HoldsThePortUntilItIsUnloaded) {
    const char* lock = "Global\\flashlock-port-0x378";
    load();
    EXPECT_FALSE(exists(lock)) << "nothing is taken before the first call";
    portIoLibrary.portOut()(0x37A, 0x09);
    EXPECT_TRUE(exists(lock));
    unloadPortIoLibrary();
    EXPECT_FALSE(exists(lock));

    load();
    testing::internal::CaptureStderr();
    portIoLibrary.portOut()(0x37A, 0x04);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << "the next flashlock gets the port";
    EXPECT_THAT(calls(),
                ElementsAre("IsInpOutDriverOpen 1", "Out32 0x37a 0x09", "IsInpOutDriverOpen 1", "Out32 0x37a 0x04"));
}

struct FailureCase {
    const char* name;
    std::function<void()> arrange;
    std::string message;
    std::vector<std::string> calls;  // into InpOut, from the first call on
};

void PrintTo(const FailureCase& c, std::ostream* os) {
    *os << c.name;
}

class UnusableInpOut : public BridgeTest, public testing::WithParamInterface<FailureCase> {};

// Whatever the first call is, the reason comes once, InpOut is never asked to
// write, and the port reads as an unconnected one.
TEST_P(UnusableInpOut, SaysWhatToDoOnceAndThenReadsAsUnconnected) {
    GetParam().arrange();
    load();
    testing::internal::CaptureStderr();
    portIoLibrary.portOut()(0x378, 0x00);
    EXPECT_EQ(portIoLibrary.portIn()(0x379), -1);
    portIoLibrary.portOut()(0x37A, 0x09);
    slot<WordOut>(PortIoEntry::PortWordOut)(0x378, 0x0102);
    slot<DoubleWordOut>(PortIoEntry::PortDWordOut)(0x378, 0x01020304);
    EXPECT_EQ(slot<WordIn>(PortIoEntry::PortWordIn)(0x378), -1);
    EXPECT_EQ(slot<DoubleWordIn>(PortIoEntry::PortDWordIn)(0x378), -1);
    slot<BitChange>(PortIoEntry::SetPortBit)(0x378, 1);
    slot<BitChange>(PortIoEntry::ClrPortBit)(0x378, 1);
    slot<BitChange>(PortIoEntry::NotPortBit)(0x378, 1);
    EXPECT_EQ(slot<BitRead>(PortIoEntry::GetPortBit)(0x379, 7), 1);
    EXPECT_EQ(slot<Shift>(PortIoEntry::RightPortShift)(0x378, 0), 1);
    EXPECT_EQ(slot<Installed>(PortIoEntry::IsDriverInstalled)(), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), GetParam().message + "\n");
    EXPECT_THAT(calls(), ElementsAreArray(GetParam().calls));
}

// ERROR_BAD_EXE_FORMAT: what the loader says of a DLL of the other width and
// of a file that is no DLL alike.
const std::string notOurWidth = "flashlock: " + ours + " is not a " + ourBits + " DLL (it is the " + otherBits +
                                " InpOut under this name, a damaged copy, or no DLL at all); this flashlock.exe is " +
                                ourBits + ": put " + fromInpOut + " next to flashlock.exe, or use the " + otherBits +
                                " flashlock.exe with " + other;

const std::string badBase =
    " is not a port base; set it to the card's I/O base in hexadecimal (0xD010) or decimal (53264), from 0x100 to "
    "0xFFF8 (Device Manager shows it: the card's Properties, Resources, I/O Range), or leave it unset for the port "
    "at 0x378";

INSTANTIATE_TEST_SUITE_P(
    Failures, UnusableInpOut,
    testing::Values(
        FailureCase{"NotInstalled",
                    [] { lookForInpOutIn(FLASHLOCK_TEST_EMPTY_DIR); },
                    "flashlock: " + ours + " was not found; this " + ourBits + " flashlock.exe needs it: put " +
                        fromInpOut +
                        " next to flashlock.exe, then run flashlock once as administrator so that InpOut installs "
                        "its driver",
                    {}},
        FailureCase{"OnlyTheOtherWidthsFile",
                    [] {
                        // On PATH, the last place the DLL search looks (the
                        // end-to-end test has it next to flashlock.exe).
                        lookForInpOutIn(FLASHLOCK_TEST_EMPTY_DIR);
                        setVariable("PATH", std::string(FLASHLOCK_TEST_OTHER_NAME_DIR) + ";" + originalPath);
                    },
                    "flashlock: " + ours + " was not found, only " + other + ", which is InpOut for " + otherBits +
                        " programs; this flashlock.exe is " + ourBits + ": put " + fromInpOut +
                        " next to flashlock.exe, or use the " + otherBits + " flashlock.exe",
                    {}},
        FailureCase{
            "TheOtherWidthUnderOurName", [] { lookForInpOutIn(FLASHLOCK_TEST_OTHER_WIDTH_DIR); }, notOurWidth, {}},
        FailureCase{"NoDllUnderOurName", [] { lookForInpOutIn(FLASHLOCK_TEST_NOT_A_DLL_DIR); }, notOurWidth, {}},
        FailureCase{"LacksACall",
                    [] { lookForInpOutIn(FLASHLOCK_TEST_LACKING_DIR); },
                    "flashlock: " + ours + " does not export DlPortReadPortUlong, so it is not a current InpOut; put " +
                        fromInpOut + " next to flashlock.exe",
                    {}},
        FailureCase{"DriverNotOpen",
                    [] { setVariable("FAKE_INPOUT_DRIVER", "closed"); },
                    "flashlock: InpOut's driver is not open (" + ours +
                        " loaded, but IsInpOutDriverOpen says no); run flashlock once as administrator (right-click "
                        "flashlock.exe or the console, Run as administrator) so that InpOut installs its driver; "
                        "later runs need no administrator rights",
                    {"IsInpOutDriverOpen 0"}},
        FailureCase{"BaseBelowTheRange",
                    [] { setVariable("FLASHLOCK_PORT_BASE", "0xFF"); },
                    "flashlock: FLASHLOCK_PORT_BASE=0xFF" + badBase,
                    {}},
        FailureCase{"BaseAboveTheRange",
                    [] { setVariable("FLASHLOCK_PORT_BASE", "65529"); },
                    "flashlock: FLASHLOCK_PORT_BASE=65529" + badBase,
                    {}},
        FailureCase{"BaseInHexWithoutItsPrefix",
                    [] { setVariable("FLASHLOCK_PORT_BASE", "D010"); },
                    "flashlock: FLASHLOCK_PORT_BASE=D010" + badBase,
                    {}},
        FailureCase{"RunawayBase",
                    [] { setVariable("FLASHLOCK_PORT_BASE", std::string(30000, '7')); },
                    "flashlock: FLASHLOCK_PORT_BASE=" + std::string(200, '7') + "..." + badBase,
                    {}},
        FailureCase{"AnotherFlashlockHasThePort",
                    [] {
                        setVariable("FLASHLOCK_PORT_BASE", "0xD010");
                        takenLock = CreateMutexA(nullptr, FALSE, "Global\\flashlock-port-0xd010");
                        ASSERT_NE(takenLock, nullptr);
                    },
                    "flashlock: another flashlock is using the port at 0xd010; wait until it has ended, then start "
                    "again",
                    {"IsInpOutDriverOpen 1"}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
