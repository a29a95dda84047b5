#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "FakeOs.h"
#include "iolib/common/PortBase.h"
#include "iolib/parport/PortLookup.h"

namespace {

using iolib::parsePortBase;
using parport::listKernelPorts;
using parport::listPortDevices;
using parport::parseBaseAddress;
using testing::ElementsAre;
using testing::FieldsAre;

struct BaseAddressCase {
    const char* contents;
    std::optional<std::uint32_t> base;
};

// The case as ctest and failures name it.
void PrintTo(const BaseAddressCase& c, std::ostream* os) {
    *os << '"' << c.contents << '"';
}

class BaseAddressFile : public testing::TestWithParam<BaseAddressCase> {};

TEST_P(BaseAddressFile, GivesTheFirstNumberOnlyWhenItIsDecimal) {
    EXPECT_EQ(parseBaseAddress(GetParam().contents), GetParam().base);
}

INSTANTIATE_TEST_SUITE_P(Contents, BaseAddressFile,
                         testing::Values(BaseAddressCase{"888\t1912\n", 888}, BaseAddressCase{"632\t1656", 632},
                                         BaseAddressCase{"956\n", 956}, BaseAddressCase{"53264", 53264},
                                         BaseAddressCase{"0x378\t1912\n", std::nullopt},
                                         BaseAddressCase{"888x", std::nullopt}, BaseAddressCase{"", std::nullopt},
                                         BaseAddressCase{"\t888", std::nullopt}, BaseAddressCase{"-888", std::nullopt},
                                         BaseAddressCase{"99999999999\t1", std::nullopt}));

TEST(KernelPortList, ListsPortsByNumberAndSkipsWhatIsNoPort) {
    FakeOs os;
    os.addPort(2, 0xD010);
    os.addPort(0, 0x378);
    os.addPort(1, 0x278);
    // The sharing engine's settings folder, a name without a number and a port
    // whose base cannot be read: none of them is a port to offer.
    auto& names = os.directories["/proc/sys/dev/parport"];
    names.insert(names.begin(), {"default", "parport", "parportx", "parport-1"});
    os.files["/proc/sys/dev/parport/default/base-addr"] = "888\t1912\n";
    os.files["/proc/sys/dev/parport/parport/base-addr"] = "888\t1912\n";
    os.files["/proc/sys/dev/parport/parportx/base-addr"] = "888\t1912\n";
    os.files["/proc/sys/dev/parport/parport-1/base-addr"] = "888\t1912\n";
    os.addPort(3, 0x3BC);
    os.files.erase("/proc/sys/dev/parport/parport3/base-addr");

    EXPECT_THAT(listKernelPorts(os.calls()),
                ElementsAre(FieldsAre(0, 0x378U), FieldsAre(1, 0x278U), FieldsAre(2, 0xD010U)));
}

TEST(KernelPortList, IsEmptyWhenTheKernelListsNothing) {
    FakeOs os;
    EXPECT_TRUE(listKernelPorts(os.calls()).empty());
    os.directories["/proc/sys/dev/parport"] = {"default"};
    EXPECT_TRUE(listKernelPorts(os.calls()).empty());
}

TEST(PortDevices, ListsTheNumbersOfTheDevicesInOrder) {
    FakeOs os;
    os.devices = {"/dev/parport10", "/dev/parport2", "/dev/null", "/dev/parport", "/dev/parport0x", "/dev/parport0"};
    EXPECT_THAT(listPortDevices(os.calls()), ElementsAre(0, 2, 10));
}

TEST(PortDevices, NoneWhenTheFolderCannotBeListed) {
    FakeOs os;
    os.addPort(0, 0x378);
    parport::OsCalls calls = os.calls();
    calls.listDirectory = [](const char*, std::vector<std::string>&) { return false; };
    EXPECT_TRUE(listPortDevices(calls).empty());
}

struct PortBaseCase {
    const char* text;
    std::optional<std::uint16_t> base;
};

// The case as ctest and failures name it.
void PrintTo(const PortBaseCase& c, std::ostream* os) {
    *os << '"' << c.text << '"';
}

class PortBaseValue : public testing::TestWithParam<PortBaseCase> {};

TEST_P(PortBaseValue, IsHexadecimalAfter0xOrDecimalWithinTheRange) {
    EXPECT_EQ(parsePortBase(GetParam().text), GetParam().base);
}

INSTANTIATE_TEST_SUITE_P(
    Values, PortBaseValue,
    testing::Values(PortBaseCase{"0xD010", 0xD010}, PortBaseCase{"0xd010", 0xD010}, PortBaseCase{"0XD010", 0xD010},
                    PortBaseCase{"53264", 0xD010}, PortBaseCase{" 0x378\t", 0x378}, PortBaseCase{"0x0100", 0x100},
                    PortBaseCase{"256", 0x100}, PortBaseCase{"0xFFF8", 0xFFF8}, PortBaseCase{"65528", 0xFFF8},
                    PortBaseCase{"0xFF", std::nullopt}, PortBaseCase{"0xFFF9", std::nullopt},
                    PortBaseCase{"0x10000", std::nullopt}, PortBaseCase{"99999999999999999999", std::nullopt},
                    PortBaseCase{"D010", std::nullopt}, PortBaseCase{"0x", std::nullopt},
                    PortBaseCase{"", std::nullopt}, PortBaseCase{"  ", std::nullopt},
                    PortBaseCase{"-888", std::nullopt}, PortBaseCase{"+888", std::nullopt},
                    PortBaseCase{"0x-378", std::nullopt}, PortBaseCase{"888h", std::nullopt},
                    PortBaseCase{"0x378 0x379", std::nullopt}, PortBaseCase{"0xD010\n", std::nullopt}));

}  // namespace
