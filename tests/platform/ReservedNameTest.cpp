// The names Windows takes for its devices, decided on every OS.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/Platform.h"

namespace {

struct NameCase {
    const char* name;
    std::string path;
    bool reserved;
};

void PrintTo(const NameCase& name, std::ostream* os) {
    *os << name.name;
}

const std::vector<NameCase> nameCases = {
    {"printer", "LPT1", true},
    {"printerWithExtension", "lpt1.bin", true},
    {"blanksBeforeExtension", "com9 .txt", true},
    {"dotsAndBlanks", "PRN. .x", true},
    {"mixedCase", "Nul", true},
    {"twoExtensions", "con.tar.gz", true},
    {"stream", "aux:data", true},
    {"inFolder", "a/nul", true},
    {"inWindowsFolder", R"(C:\dir\Com1.log)", true},
    {"onDrive", "C:nul", true},
    {"consoleInput", "CONIN$", true},
    {"consoleOutput", "conout$.txt", true},
    {"superscriptDigit", "COM\xC2\xB9", true},
    {"digitZero", "lpt0.bin", true},
    {"twoDigits", "COM10", false},
    {"longerWord", "NULL", false},
    {"prefixOnly", "LPT", false},
    {"letterForDigit", "COMA", false},
    {"deviceAsFolder", "nul/file", false},
    {"otherSuperscript", "COM\xC2\xB4", false},
    {"wordInside", "xcon.bin", false},
    {"standardStream", "-", false},
    {"empty", "", false},
};

class ReservedName : public testing::TestWithParam<NameCase> {};

TEST_P(ReservedName, IsTold) {
    EXPECT_EQ(platform::isReservedWindowsName(GetParam().path), GetParam().reserved);
}

INSTANTIATE_TEST_SUITE_P(Names, ReservedName, testing::ValuesIn(nameCases),
                         [](const testing::TestParamInfo<NameCase>& info) { return info.param.name; });

TEST(ReservedNameProblem, SaysWhatToDo) {
    const platform::FileProblem problem = platform::reservedWindowsNameProblem("LPT1");
    EXPECT_EQ(problem.fault, platform::FileFault::Unsuitable);
    EXPECT_EQ(problem.text, "\"LPT1\" is a device name on Windows, not a file: give another name");
}

}  // namespace
