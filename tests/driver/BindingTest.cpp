#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstddef>
#include <memory>
#include <string>

#include "driver/PortIoLibrary.h"
#include "driver/Zantrel4v4.h"
#include "tests/driver/RecordingModule.h"

// Each suite here runs in its own process with a different "io" module (or
// none) on the loader's path; the test registration pairs them up.
namespace {

using testing::HasSubstr;

// What a driver does when the module is not usable: no port traffic at all,
// not from the constructor, the probe or the destructor.
void expectUnusableDriver(RecordingModule* io, const std::string& problemPart) {
    if (io != nullptr) {
        io->answerStatus({});
    }
    auto driver = std::make_unique<Zantrel4v4>(888);
    EXPECT_THAT(driver->portProblem(), HasSubstr(problemPart));
    EXPECT_EQ(driver->detectBoard(), BoardKind::PortNotUsable);
    driver.reset();
    if (io != nullptr) {
        EXPECT_TRUE(io->record().empty());
    }
}

TEST(BindingRecording, ResolvesAllThirteenNamesIntoTheirSlots) {
    RecordingModule io;
    ASSERT_TRUE(io.loaded());
    ASSERT_EQ(loadPortIoLibrary(), 0);
    EXPECT_EQ(portIoLibrary.module, io.module) << "the loader hands out the one loaded instance";
    for (std::size_t i = 0; i < portIoEntryNames.size(); ++i) {
        EXPECT_NE(portIoLibrary.entryPoints.at(i), nullptr) << portIoEntryNames.at(i);
        EXPECT_EQ(portIoLibrary.entryPoints.at(i), platform::findSymbol(io.module, portIoEntryNames.at(i)))
            << portIoEntryNames.at(i);
    }
    unloadPortIoLibrary();
}

TEST(BindingRecording, ADriverOnACompleteModuleIsUsable) {
    RecordingModule io;
    const Zantrel4v4 driver(888);
    EXPECT_EQ(driver.portProblem(), "");
}

TEST(BindingNoModule, LoadFailsAndNoSlotIsFilled) {
    EXPECT_EQ(loadPortIoLibrary(), 1);
    for (const platform::ModuleSymbol slot : portIoLibrary.entryPoints) {
        EXPECT_EQ(slot, nullptr);
    }
    unloadPortIoLibrary();  // a release after a failed load is harmless
}

#ifdef RECORDING_MODULE
// By its path a module loads whatever the loader's path holds (here nothing),
// and a module that is not the simulator does not pass for one.
TEST(BindingNoModule, AModuleNamedByItsPathLoadsAllTheSame) {
    std::string problem;
    ASSERT_EQ(loadPortIoLibraryFile(RECORDING_MODULE, problem), 0) << problem;
    for (std::size_t i = 0; i < portIoEntryNames.size(); ++i) {
        EXPECT_NE(portIoLibrary.entryPoints.at(i), nullptr) << portIoEntryNames.at(i);
    }
    EXPECT_FALSE(portIoModuleSimulated());
    unloadPortIoLibrary();
    const Zantrel4v4 driver(888, platform::systemCounter(), RECORDING_MODULE);
    EXPECT_EQ(driver.portProblem(), "");
    const Zantrel4v4 missing(888, platform::systemCounter(), std::string(RECORDING_MODULE) + ".missing");
    EXPECT_THAT(missing.portProblem(),
                HasSubstr(std::string("the port-I/O module ") + RECORDING_MODULE + ".missing could not be loaded ("));
}
#endif

TEST(BindingNoModule, DriverIsNotUsableAndSaysWhatToDo) {
    expectUnusableDriver(nullptr, "could not be loaded");
}

TEST(BindingNoIsDriverInstalled, LoadsButTheDriverRefusesThePort) {
    RecordingModule io;
    ASSERT_TRUE(io.loaded());
    ASSERT_EQ(loadPortIoLibrary(), 0) << "loaded is loaded, however many names are found";
    EXPECT_EQ(portIoLibrary.entry(PortIoEntry::IsDriverInstalled), nullptr);
    EXPECT_NE(portIoLibrary.portOut(), nullptr);
    unloadPortIoLibrary();
    expectUnusableDriver(&io, "does not export IsDriverInstalled, so it is not a port-I/O library");
}

TEST(BindingNoPortOut, TheDriverRefusesThePortRatherThanCallAnEmptySlot) {
    RecordingModule io;
    ASSERT_TRUE(io.loaded());
    ASSERT_EQ(loadPortIoLibrary(), 0);
    EXPECT_EQ(portIoLibrary.portOut(), nullptr);
    EXPECT_NE(portIoLibrary.entry(PortIoEntry::IsDriverInstalled), nullptr);
    unloadPortIoLibrary();
    expectUnusableDriver(&io, " lacks PortOut; put a complete port-I/O library in its place.");
}

TEST(BindingNoPortIn, TheDriverRefusesThePortAndNamesTheMissingEntry) {
    RecordingModule io;
    ASSERT_TRUE(io.loaded());
    ASSERT_EQ(loadPortIoLibrary(), 0);
    EXPECT_EQ(portIoLibrary.portIn(), nullptr);
    EXPECT_NE(portIoLibrary.portOut(), nullptr);
    unloadPortIoLibrary();
    expectUnusableDriver(&io, " lacks PortIn; put a complete port-I/O library in its place.");
}

TEST(BindingExportsNothing, LoadsWithEverySlotEmptyAndIsNotUsable) {
    ASSERT_EQ(loadPortIoLibrary(), 0);
    for (const platform::ModuleSymbol slot : portIoLibrary.entryPoints) {
        EXPECT_EQ(slot, nullptr);
    }
    unloadPortIoLibrary();
    expectUnusableDriver(nullptr, platform::moduleFileName("io") + " does not export IsDriverInstalled");
}

TEST(BindingNotALibrary, AFileThatIsNoLibraryIsRefusedByTheLoader) {
    EXPECT_EQ(loadPortIoLibrary(), 1);
    EXPECT_EQ(portIoLibrary.module, nullptr);
    unloadPortIoLibrary();
    expectUnusableDriver(nullptr, platform::moduleFileName("io") + " could not be loaded (");
}

}  // namespace
