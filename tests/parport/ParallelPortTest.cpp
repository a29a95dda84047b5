#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "FakeOs.h"
#include "iolib/common/PortBits.h"
#include "iolib/parport/OtherEntryPoints.h"
#include "iolib/parport/ParallelPort.h"

namespace {

using parport::ParallelPort;
using testing::ElementsAre;
using testing::ElementsAreArray;
using testing::IsEmpty;

// The calls that open and claim a listed port, as fd 3.
std::vector<std::string> claimOf(const std::string& device) {
    return {"open " + device + " " + FakeOs::hex(O_RDWR | O_CLOEXEC), "ioctl 3 PPEXCL", "ioctl 3 PPCLAIM"};
}

// The calls that take the lock file of direct port I/O in `folder`, as fd 3.
std::vector<std::string> lockOf(const std::string& base, const std::string& folder = "/run/lock") {
    return {"open " + folder + "/flashlock-port-" + base + ".lock " +
                FakeOs::hex(O_RDONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC),
            "flock 3 LOCK_EX|LOCK_NB"};
}

std::vector<std::string> operator+(std::vector<std::string> lines, const std::vector<std::string>& more) {
    lines.insert(lines.end(), more.begin(), more.end());
    return lines;
}

// A machine whose parport0 sits at 0x378 and answers register reads with
// bytes that tell the three registers apart.
class PortTest : public testing::Test {
protected:
    PortTest() {
        os.addPort(0, 0x378);
        os.readBytes = {{PPRDATA, 0x5A}, {PPRSTATUS, 0x87}, {PPRCONTROL, 0x0C}};
    }
    FakeOs os;
};

struct RegisterCase {
    const char* name;
    std::uint16_t address;
    bool isWrite;
    std::uint8_t value;   // written, or expected from a read
    const char* request;  // the call it must become, or "" for none
};

void PrintTo(const RegisterCase& c, std::ostream* os) {
    *os << c.name;
}

class RegisterAccess : public PortTest, public testing::WithParamInterface<RegisterCase> {};

TEST_P(RegisterAccess, BecomesItsOwnRequestWithTheByte) {
    const RegisterCase& c = GetParam();
    ParallelPort port(os.calls());
    if (c.isWrite) {
        port.write(c.address, c.value);
    } else {
        EXPECT_EQ(port.read(c.address), c.value);
    }
    std::vector<std::string> expected = claimOf("/dev/parport0");
    if (*c.request != '\0') {
        expected.emplace_back(c.request);
    }
    EXPECT_THAT(os.log, ElementsAreArray(expected));
    EXPECT_THAT(os.errors, IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(Registers, RegisterAccess,
                         testing::Values(RegisterCase{"DataWrite", 0x378, true, 0xA5, "ioctl 3 PPWDATA 0xa5"},
                                         RegisterCase{"DataWriteZero", 0x378, true, 0x00, "ioctl 3 PPWDATA 0x00"},
                                         RegisterCase{"ControlWrite", 0x37A, true, 0x09, "ioctl 3 PPWCONTROL 0x09"},
                                         RegisterCase{"ControlKeepsBits0To3", 0x37A, true, 0xF6,
                                                      "ioctl 3 PPWCONTROL 0x06"},
                                         RegisterCase{"StatusWriteHasNoEffect", 0x379, true, 0x00, ""},
                                         RegisterCase{"FourthAddressIsNoRegister", 0x37B, true, 0xFF, ""},
                                         RegisterCase{"DataRead", 0x378, false, 0x5A, "ioctl 3 PPRDATA"},
                                         RegisterCase{"StatusRead", 0x379, false, 0x87, "ioctl 3 PPRSTATUS"},
                                         RegisterCase{"ControlRead", 0x37A, false, 0x0C, "ioctl 3 PPRCONTROL"},
                                         RegisterCase{"FourthAddressReadsUnconnected", 0x37B, false, 0xFF, ""}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(PortTest, ClaimsOnceAndReleasesWhenUnloaded) {
    {
        ParallelPort port(os.calls());
        EXPECT_THAT(os.log, IsEmpty());  // nothing is opened before the first access
        port.write(0x378, 0x00);
        port.write(0x379, 0x00);
        port.write(0x37A, 0x09);
        EXPECT_EQ(port.read(0x379), 0x87);
    }
    EXPECT_THAT(os.log,
                ElementsAreArray(claimOf("/dev/parport0") +
                                 std::vector<std::string>{"ioctl 3 PPWDATA 0x00", "ioctl 3 PPWCONTROL 0x09",
                                                          "ioctl 3 PPRSTATUS", "ioctl 3 PPRELEASE", "close 3"}));
}

TEST_F(PortTest, UnusedPortIsNeitherOpenedNorReleased) {
    { ParallelPort port(os.calls()); }
    EXPECT_THAT(os.log, IsEmpty());
}

TEST_F(PortTest, KernelWithoutExclusiveRegistrationStillGetsAClaim) {
    os.ioctlErrors[PPEXCL] = EINVAL;
    ParallelPort port(os.calls());
    port.write(0x378, 0x01);
    EXPECT_THAT(os.log, ElementsAreArray(claimOf("/dev/parport0") + std::vector<std::string>{"ioctl 3 PPWDATA 0x01"}));
    EXPECT_THAT(os.errors, IsEmpty());
}

TEST_F(PortTest, ServesOnlyThePortOfTheFirstAccess) {
    os.addPort(1, 0x278);
    ParallelPort port(os.calls());
    port.write(0x37A, 0x09);
    port.write(0x278, 0x55);
    EXPECT_EQ(port.read(0x27A), 0xFF);
    EXPECT_THAT(os.log,
                ElementsAreArray(claimOf("/dev/parport0") + std::vector<std::string>{"ioctl 3 PPWCONTROL 0x09"}));
}

TEST_F(PortTest, FindsAPortAtAnyFourAlignedBase) {
    os.addPort(1, 0x3BC);
    ParallelPort port(os.calls());
    port.write(0x3BE, 0x09);
    EXPECT_EQ(port.read(0x3BD), 0x87);
    EXPECT_THAT(os.log, ElementsAreArray(claimOf("/dev/parport1") +
                                         std::vector<std::string>{"ioctl 3 PPWCONTROL 0x09", "ioctl 3 PPRSTATUS"}));
}

TEST_F(PortTest, NamedDeviceServesTheProgramsPortWithoutTheKernelList) {
    os.directories.clear();
    os.devices.insert("/dev/parport2");
    os.environment["FLASHLOCK_PARPORT"] = "/dev/parport2";
    ParallelPort port(os.calls());
    port.write(0x378, 0x3C);
    EXPECT_THAT(os.log, ElementsAreArray(claimOf("/dev/parport2") + std::vector<std::string>{"ioctl 3 PPWDATA 0x3c"}));
}

TEST_F(PortTest, EmptyDeviceNameFallsBackToTheKernelList) {
    os.environment["FLASHLOCK_PARPORT"] = "";
    ParallelPort port(os.calls());
    port.write(0x378, 0x00);
    EXPECT_THAT(os.log, ElementsAreArray(claimOf("/dev/parport0") + std::vector<std::string>{"ioctl 3 PPWDATA 0x00"}));
}

TEST_F(PortTest, DirectAccessGoesStraightToTheAddressesOnlyWhenAskedFor) {
    os.environment["FLASHLOCK_IO"] = "direct";
    os.environment["FLASHLOCK_PARPORT"] = "/dev/parport0";  // no device in direct mode
    os.inputBytes[0x379] = 0x7F;
    {
        ParallelPort port(os.calls());
        port.write(0x378, 0xA5);
        port.write(0x379, 0x00);
        port.write(0x37A, 0xF6);  // raw, as the hardware takes it
        EXPECT_EQ(port.read(0x379), 0x7F);
        EXPECT_EQ(port.read(0x37B), 0xFF);
    }
    EXPECT_THAT(os.log, ElementsAreArray(std::vector<std::string>{"ioperm 0x378 3 1"} + lockOf("0x378") +
                                         std::vector<std::string>{"outb 0xa5 0x378", "outb 0xf6 0x37a", "inb 0x379",
                                                                  "ioperm 0x378 3 0", "close 3"}));
    EXPECT_THAT(os.errors, IsEmpty());
}

TEST_F(PortTest, DirectAccessMovesTheProgramsPortToTheGivenBase) {
    os.environment["FLASHLOCK_IO"] = "direct";
    os.environment["FLASHLOCK_PORT_BASE"] = "0xD010";
    os.inputBytes[0xD011] = 0x7F;
    {
        ParallelPort port(os.calls());
        port.write(0x378, 0xA5);
        port.write(0x37A, 0x09);
        EXPECT_EQ(port.read(0x379), 0x7F);
    }
    EXPECT_THAT(os.log, ElementsAreArray(std::vector<std::string>{"ioperm 0xd010 3 1"} + lockOf("0xd010") +
                                         std::vector<std::string>{"outb 0xa5 0xd010", "outb 0x09 0xd012", "inb 0xd011",
                                                                  "ioperm 0xd010 3 0", "close 3"}));
    EXPECT_THAT(os.errors, IsEmpty());
}

TEST_F(PortTest, DirectAccessTakesTheLockFileWhereTheSystemKeepsThem) {
    os.environment["FLASHLOCK_IO"] = "direct";
    os.environment["FLASHLOCK_PORT_BASE"] = " 53264 ";  // decimal, blanks as a shell script may leave them
    os.folders = {"/var/lock", "/tmp"};
    ParallelPort port(os.calls());
    port.write(0x378, 0x00);
    EXPECT_THAT(os.log, ElementsAreArray(
                            std::vector<std::string>{"ioperm 0xd010 3 1",
                                                     "open /run/lock/flashlock-port-0xd010.lock " +
                                                         FakeOs::hex(O_RDONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC)} +
                            lockOf("0xd010", "/var/lock") + std::vector<std::string>{"outb 0x00 0xd010"}));
    EXPECT_THAT(os.errors, IsEmpty());
}

TEST_F(PortTest, PortBaseChoosesTheKernelsPortThere) {
    os.addPort(1, 0xD010);
    os.environment["FLASHLOCK_PORT_BASE"] = "0xd010";
    ParallelPort port(os.calls());
    port.write(0x378, 0x3C);
    EXPECT_EQ(port.read(0x379), 0x87);
    EXPECT_THAT(os.log, ElementsAreArray(claimOf("/dev/parport1") +
                                         std::vector<std::string>{"ioctl 3 PPWDATA 0x3c", "ioctl 3 PPRSTATUS"}));
    EXPECT_THAT(os.errors, IsEmpty());
}

TEST_F(PortTest, PortBaseMovesOnlyTheProgramsPort) {
    os.addPort(1, 0x278);
    os.environment["FLASHLOCK_PORT_BASE"] = "0xD010";
    ParallelPort port(os.calls());
    port.write(0x278, 0x01);
    EXPECT_THAT(os.log, ElementsAreArray(claimOf("/dev/parport1") + std::vector<std::string>{"ioctl 3 PPWDATA 0x01"}));
}

TEST_F(PortTest, EmptyPortBaseCountsAsUnset) {
    os.environment["FLASHLOCK_PORT_BASE"] = "";
    ParallelPort port(os.calls());
    port.write(0x378, 0x00);
    EXPECT_THAT(os.log, ElementsAreArray(claimOf("/dev/parport0") + std::vector<std::string>{"ioctl 3 PPWDATA 0x00"}));
    EXPECT_THAT(os.errors, IsEmpty());
}

// A variable's value is quoted on one line, and at most 200 bytes of it.
TEST_F(PortTest, ARunawayValueIsCutInTheMessage) {
    const std::string runaway(std::size_t{100} * 1024, 'x');
    os.environment["FLASHLOCK_IO"] = runaway;
    ParallelPort port(os.calls());
    port.write(0x378, 0x00);
    EXPECT_THAT(os.errors, ElementsAre("flashlock: FLASHLOCK_IO=" + runaway.substr(0, 200) +
                                       "... is not understood; set it to direct or leave it unset"));
}

TEST_F(PortTest, AQuotedValueIsCutAtACharactersStartAndKeptOnOneLine) {
    // 199 bytes, then a two-byte character across the 200th: it is left out whole.
    os.environment["FLASHLOCK_PARPORT"] = "/dev/\n" + std::string(193, 'p') + "\xC3\xA9" + std::string(500, 'q');
    ParallelPort port(os.calls());
    port.write(0x378, 0x00);
    EXPECT_THAT(os.errors,
                ElementsAre("flashlock: no such device: /dev/?" + std::string(193, 'p') +
                            "... (named by FLASHLOCK_PARPORT); the parallel port devices here are /dev/parport0"));
}

struct FailureCase {
    const char* name;
    void (*arrange)(FakeOs&);
    std::string message;
    std::vector<std::string> log;  // every call, from the first access to unloading
};

void PrintTo(const FailureCase& c, std::ostream* os) {
    *os << c.name;
}

class UnreachablePort : public PortTest, public testing::WithParamInterface<FailureCase> {};

TEST_P(UnreachablePort, SaysWhyOnceAndThenReadsAsUnconnected) {
    const FailureCase& c = GetParam();
    c.arrange(os);
    {
        ParallelPort port(os.calls());
        port.write(0x378, 0x00);
        EXPECT_EQ(port.read(0x379), 0xFF);
        port.write(0x37A, 0x09);
        EXPECT_EQ(port.read(0x37A), 0xFF);
        EXPECT_FALSE(port.reachable());
    }
    EXPECT_THAT(os.errors, ElementsAre(c.message));
    EXPECT_THAT(os.log, ElementsAreArray(c.log));
}

std::string openCall() {
    return "open /dev/parport0 " + FakeOs::hex(O_RDWR | O_CLOEXEC);
}

INSTANTIATE_TEST_SUITE_P(
    Failures, UnreachablePort,
    testing::Values(
        FailureCase{"NoKernelList",
                    [](FakeOs& os) { os.directories.clear(); },
                    "flashlock: no parallel port at 0x378: none is listed in /proc/sys/dev/parport; load the kernel "
                    "modules parport_pc and ppdev (sudo modprobe parport_pc ppdev)",
                    {}},
        FailureCase{"BaseUnreadable",
                    [](FakeOs& os) { os.files.clear(); },
                    "flashlock: no parallel port at 0x378: none is listed in /proc/sys/dev/parport; load the kernel "
                    "modules parport_pc and ppdev (sudo modprobe parport_pc ppdev)",
                    {}},
        FailureCase{"NoneAtTheBase",
                    [](FakeOs& os) {
                        os.directories.clear();
                        os.addPort(0, 0x278);
                        os.addPort(1, 0xD010);
                    },
                    "flashlock: no parallel port at 0x378 (the kernel has parport0 at 0x278, parport1 at 0xd010); "
                    "set FLASHLOCK_PARPORT=/dev/parportN to use another port",
                    {}},
        FailureCase{"NoDevice",
                    [](FakeOs& os) { os.devices.clear(); },
                    "flashlock: cannot open /dev/parport0 (No such file or directory); load the kernel module ppdev "
                    "(sudo modprobe ppdev)",
                    {openCall()}},
        FailureCase{"PermissionDenied",
                    [](FakeOs& os) { os.openErrors["/dev/parport0"] = EACCES; },
                    "flashlock: permission denied on /dev/parport0; add your user to group lp (sudo usermod -aG lp "
                    "$USER, then log in again) or give the device a udev rule",
                    {openCall()}},
        FailureCase{"NamedDeviceDenied",
                    [](FakeOs& os) {
                        os.environment["FLASHLOCK_PARPORT"] = "/dev/parport7";
                        os.openErrors["/dev/parport7"] = EACCES;
                    },
                    "flashlock: permission denied on /dev/parport7; add your user to group lp (sudo usermod -aG lp "
                    "$USER, then log in again) or give the device a udev rule",
                    {"open /dev/parport7 " + FakeOs::hex(O_RDWR | O_CLOEXEC)}},
        FailureCase{"NamedDeviceMissing",
                    [](FakeOs& os) {
                        os.environment["FLASHLOCK_PARPORT"] = "/dev/parprot0";
                        os.devices = {"/dev/parport10", "/dev/null", "/dev/parport2"};
                    },
                    "flashlock: no such device: /dev/parprot0 (named by FLASHLOCK_PARPORT); the parallel port "
                    "devices here are /dev/parport2, /dev/parport10",
                    {"open /dev/parprot0 " + FakeOs::hex(O_RDWR | O_CLOEXEC)}},
        FailureCase{"NamedDeviceMissingAndNoneThere",
                    [](FakeOs& os) {
                        os.environment["FLASHLOCK_PARPORT"] = "/dev/parport0";
                        os.devices.clear();
                    },
                    "flashlock: no such device: /dev/parport0 (named by FLASHLOCK_PARPORT); there is no "
                    "/dev/parportN here: load the kernel modules parport_pc and ppdev (sudo modprobe parport_pc "
                    "ppdev)",
                    {openCall()}},
        FailureCase{"OpenError",
                    [](FakeOs& os) { os.openErrors["/dev/parport0"] = EIO; },
                    "flashlock: cannot open /dev/parport0 (Input/output error)",
                    {openCall()}},
        FailureCase{"PrinterDriverHoldsPort", [](FakeOs& os) { os.ioctlErrors[PPCLAIM] = ENXIO; },
                    "flashlock: cannot claim /dev/parport0 for itself: another program holds the port (another "
                    "flashlock, or the printer driver lp); close that program, or unload lp with sudo rmmod lp (and "
                    "keep it from loading at boot)",
                    claimOf("/dev/parport0") + std::vector<std::string>{"close 3"}},
        FailureCase{"ClaimInterrupted", [](FakeOs& os) { os.ioctlErrors[PPCLAIM] = EINTR; },
                    "flashlock: cannot claim /dev/parport0 (Interrupted system call)",
                    claimOf("/dev/parport0") + std::vector<std::string>{"close 3"}},
        FailureCase{"NotAPortDevice",
                    [](FakeOs& os) {
                        os.environment["FLASHLOCK_PARPORT"] = "/home/user/notes.txt";
                        os.devices.insert("/home/user/notes.txt");
                        os.ioctlErrors[PPEXCL] = ENOTTY;
                        os.ioctlErrors[PPCLAIM] = ENOTTY;
                    },
                    "flashlock: /home/user/notes.txt is not a parallel port device; set "
                    "FLASHLOCK_PARPORT=/dev/parportN, or leave it unset to use the port at 0x378",
                    claimOf("/home/user/notes.txt") + std::vector<std::string>{"close 3"}},
        FailureCase{"PortLostAfterClaim", [](FakeOs& os) { os.ioctlErrors[PPWDATA] = EIO; },
                    "flashlock: PPWDATA on /dev/parport0 failed (Input/output error); the port is no longer used",
                    claimOf("/dev/parport0") +
                        std::vector<std::string>{"ioctl 3 PPWDATA 0x00", "ioctl 3 PPRELEASE", "close 3"}},
        FailureCase{"UnknownAccessMethod",
                    [](FakeOs& os) { os.environment["FLASHLOCK_IO"] = "ppdev"; },
                    "flashlock: FLASHLOCK_IO=ppdev is not understood; set it to direct or leave it unset",
                    {}},
        FailureCase{"DirectWithoutPortIo",
                    [](FakeOs& os) {
                        os.environment["FLASHLOCK_IO"] = "direct";
                        os.directIo = false;
                    },
                    "flashlock: FLASHLOCK_IO=direct needs an x86 processor; unset it to use the kernel's parport "
                    "driver",
                    {}},
        FailureCase{"DirectNotPermitted",
                    [](FakeOs& os) {
                        os.environment["FLASHLOCK_IO"] = "direct";
                        os.iopermError = EPERM;
                    },
                    "flashlock: direct port I/O at 0x378 is not permitted; run as root or with CAP_SYS_RAWIO, or "
                    "unset FLASHLOCK_IO to use the kernel's parport driver",
                    {"ioperm 0x378 3 1"}},
        FailureCase{"PortBaseBelowTheRange",
                    [](FakeOs& os) { os.environment["FLASHLOCK_PORT_BASE"] = "0x80"; },
                    "flashlock: FLASHLOCK_PORT_BASE=0x80 is not a port base; set it to the card's I/O base in "
                    "hexadecimal (0xD010) or decimal (53264), from 0x100 to 0xFFF8, or leave it unset for the port "
                    "at 0x378",
                    {}},
        FailureCase{"PortBaseHexWithoutPrefix",
                    [](FakeOs& os) {
                        os.environment["FLASHLOCK_IO"] = "direct";
                        os.environment["FLASHLOCK_PORT_BASE"] = "D010";
                    },
                    "flashlock: FLASHLOCK_PORT_BASE=D010 is not a port base; set it to the card's I/O base in "
                    "hexadecimal (0xD010) or decimal (53264), from 0x100 to 0xFFF8, or leave it unset for the port "
                    "at 0x378",
                    {}},
        FailureCase{"PortBaseRunaway",
                    [](FakeOs& os) { os.environment["FLASHLOCK_PORT_BASE"] = std::string(std::size_t{100} * 1024, '9'); },
                    "flashlock: FLASHLOCK_PORT_BASE=" + std::string(200, '9') +
                        "... is not a port base; set it to the card's I/O base in hexadecimal (0xD010) or decimal "
                        "(53264), from 0x100 to 0xFFF8, or leave it unset for the port at 0x378",
                    {}},
        FailureCase{"PortBaseWithADeviceToo",
                    [](FakeOs& os) {
                        os.environment["FLASHLOCK_PORT_BASE"] = "0xD010";
                        os.environment["FLASHLOCK_PARPORT"] = "/dev/parport1";
                    },
                    "flashlock: FLASHLOCK_PARPORT and FLASHLOCK_PORT_BASE both choose the port; set only one of them",
                    {}},
        FailureCase{"PortBaseWhereTheKernelHasNoPort",
                    [](FakeOs& os) { os.environment["FLASHLOCK_PORT_BASE"] = "0xE800"; },
                    "flashlock: no parallel port at 0xe800 (the kernel has parport0 at 0x378); set "
                    "FLASHLOCK_PORT_BASE to one of those bases, or leave it unset",
                    {}},
        FailureCase{"AnotherFlashlockDrivesThePortDirectly",
                    [](FakeOs& os) {
                        os.environment["FLASHLOCK_IO"] = "direct";
                        os.flockError = EWOULDBLOCK;
                    },
                    "flashlock: another flashlock is using the port at 0x378 (it holds "
                    "/run/lock/flashlock-port-0x378.lock); wait until it has ended, then start again",
                    std::vector<std::string>{"ioperm 0x378 3 1"} + lockOf("0x378") +
                        std::vector<std::string>{"close 3", "ioperm 0x378 3 0"}},
        FailureCase{"LockFileCannotBeLocked",
                    [](FakeOs& os) {
                        os.environment["FLASHLOCK_IO"] = "direct";
                        os.flockError = ENOLCK;
                    },
                    "flashlock: cannot lock /run/lock/flashlock-port-0x378.lock (No locks available)",
                    std::vector<std::string>{"ioperm 0x378 3 1"} + lockOf("0x378") +
                        std::vector<std::string>{"close 3", "ioperm 0x378 3 0"}},
        FailureCase{"LockFileCannotBeMade",
                    [](FakeOs& os) {
                        os.environment["FLASHLOCK_IO"] = "direct";
                        os.openErrors["/run/lock/flashlock-port-0x378.lock"] = EACCES;
                    },
                    "flashlock: cannot make the lock file /run/lock/flashlock-port-0x378.lock for the port at 0x378 "
                    "(Permission denied); direct port I/O needs it to keep a second flashlock off the port",
                    std::vector<std::string>{"ioperm 0x378 3 1", lockOf("0x378")[0], "ioperm 0x378 3 0"}},
        FailureCase{"NoFolderForTheLockFile",
                    [](FakeOs& os) {
                        os.environment["FLASHLOCK_IO"] = "direct";
                        os.folders.clear();
                    },
                    "flashlock: no folder for the lock file of the port at 0x378: none of /run/lock, /var/lock and "
                    "/tmp exists",
                    std::vector<std::string>{"ioperm 0x378 3 1", lockOf("0x378")[0], lockOf("0x378", "/var/lock")[0],
                                             lockOf("0x378", "/tmp")[0], "ioperm 0x378 3 0"}},
        FailureCase{"DirectRefused",
                    [](FakeOs& os) {
                        os.environment["FLASHLOCK_IO"] = "direct";
                        os.iopermError = EINVAL;
                    },
                    "flashlock: direct port I/O at 0x378 refused (Invalid argument)",
                    {"ioperm 0x378 3 1"}}),
    [](const auto& info) { return std::string(info.param.name); });

struct OtherEntryCase {
    const char* name;
    int (*call)(ParallelPort&);
    int result;
    std::vector<std::string> calls;  // after the claim
};

void PrintTo(const OtherEntryCase& c, std::ostream* os) {
    *os << c.name;
}

class OtherEntryPoint : public PortTest, public testing::WithParamInterface<OtherEntryCase> {};

TEST_P(OtherEntryPoint, IsBuiltFromByteAccesses) {
    const OtherEntryCase& c = GetParam();
    os.readBytes = {{PPRDATA, 0x81}, {PPRSTATUS, 0x78}, {PPRCONTROL, 0x09}};
    ParallelPort port(os.calls());
    EXPECT_EQ(c.call(port), c.result);
    EXPECT_THAT(os.log, ElementsAreArray(claimOf("/dev/parport0") + c.calls));
}

INSTANTIATE_TEST_SUITE_P(
    EntryPoints, OtherEntryPoint,
    testing::Values(
        OtherEntryCase{"WordLowByteFirst",
                       [](ParallelPort& p) {
                           parport::writeWord(p, 0x378, 0x0B5A);
                           return 0;
                       },
                       0,
                       {"ioctl 3 PPWDATA 0x5a"}},
        OtherEntryCase{"DoubleWord",
                       [](ParallelPort& p) {
                           parport::writeDoubleWord(p, 0x378, 0x11223344);
                           return 0;
                       },
                       0,
                       {"ioctl 3 PPWDATA 0x44", "ioctl 3 PPWCONTROL 0x02"}},
        OtherEntryCase{"ReadWord",
                       [](ParallelPort& p) { return int{parport::readWord(p, 0x379)}; },
                       0x0978,
                       {"ioctl 3 PPRSTATUS", "ioctl 3 PPRCONTROL"}},
        OtherEntryCase{"ReadDoubleWordPastThePort",
                       [](ParallelPort& p) { return static_cast<int>(parport::readDoubleWord(p, 0x378)); },
                       static_cast<int>(0xFF097881U),
                       {"ioctl 3 PPRDATA", "ioctl 3 PPRSTATUS", "ioctl 3 PPRCONTROL"}},
        OtherEntryCase{"SetBit",
                       [](ParallelPort& p) {
                           iolib::setBit(p, 0x37A, 2);
                           return 0;
                       },
                       0,
                       {"ioctl 3 PPRCONTROL", "ioctl 3 PPWCONTROL 0x0d"}},
        OtherEntryCase{"ClearBit",
                       [](ParallelPort& p) {
                           iolib::clearBit(p, 0x37A, 0);
                           return 0;
                       },
                       0,
                       {"ioctl 3 PPRCONTROL", "ioctl 3 PPWCONTROL 0x08"}},
        OtherEntryCase{"ToggleBit",
                       [](ParallelPort& p) {
                           iolib::toggleBit(p, 0x37A, 3);
                           return 0;
                       },
                       0,
                       {"ioctl 3 PPRCONTROL", "ioctl 3 PPWCONTROL 0x01"}},
        OtherEntryCase{"NoSuchBit",
                       [](ParallelPort& p) {
                           p.write(0x37A, 0x09);
                           iolib::setBit(p, 0x37A, 8);
                           return iolib::readBit(p, 0x37A, -1);
                       },
                       0,
                       {"ioctl 3 PPWCONTROL 0x09"}},
        OtherEntryCase{
            "ReadSetBit", [](ParallelPort& p) { return iolib::readBit(p, 0x379, 6); }, 1, {"ioctl 3 PPRSTATUS"}},
        OtherEntryCase{
            "ReadClearBit", [](ParallelPort& p) { return iolib::readBit(p, 0x379, 7); }, 0, {"ioctl 3 PPRSTATUS"}},
        OtherEntryCase{"ShiftRight",
                       [](ParallelPort& p) { return iolib::shiftRight(p, 0x378, 1); },
                       1,
                       {"ioctl 3 PPRDATA", "ioctl 3 PPWDATA 0xc0"}},
        OtherEntryCase{"ShiftLeft",
                       [](ParallelPort& p) { return iolib::shiftLeft(p, 0x378, 0); },
                       1,
                       {"ioctl 3 PPRDATA", "ioctl 3 PPWDATA 0x02"}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
