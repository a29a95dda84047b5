#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>

#include "FakeOs.h"
#include "iolib/parport/PortLookup.h"

namespace {

using parport::listKernelPorts;
using parport::parseBaseAddress;
using testing::ElementsAre;
using testing::FieldsAre;

struct BaseAddressCase {
    const char* contents;
    std::optional<std::uint32_t> base;
};

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

}  // namespace
