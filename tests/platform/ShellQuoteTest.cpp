// Quoting for both shells, on every OS: the exact text for a table of nasty
// arguments, and that each shell gives the argument back. sh is run for real;
// cmd.exe and the C runtime's splitting are modelled, as far as an argument
// goes, since Linux has neither.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "platform/ShellQuote.h"

namespace {

using platform::commandLinePosix;
using platform::commandLineWindowsCmd;
using platform::quotePosix;
using platform::quoteWindowsCmd;

struct QuoteCase {
    const char* name;
    std::string argument;
    std::string posix;
    std::string windows;
};

void PrintTo(const QuoteCase& quote, std::ostream* os) {
    *os << quote.name;
}

const std::vector<QuoteCase> quoteCases = {
    {"plain", "write", "write", "write"},
    {"option", "--sim=28F640J3", "--sim=28F640J3", "--sim=28F640J3"},
    {"posixPath", "dir/image.bin", "dir/image.bin", "dir/image.bin"},
    {"blockList", "2,7-9", "2,7-9", "2,7-9"},
    {"windowsPath", R"(C:\dir\image.bin)", R"('C:\dir\image.bin')", R"(C:\dir\image.bin)"},
    {"empty", "", "''", R"("")"},
    {"blank", "my file.bin", "'my file.bin'", R"("my file.bin")"},
    {"singleQuote", "it's", R"('it'\''s')", R"("it's")"},
    {"onlySingleQuotes", "''", R"(''\'''\''')", R"("''")"},
    {"doubleQuotes", R"(say "hi")", R"('say "hi"')", R"(^"say \^"hi\^"^")"},
    {"backslashBeforeQuote", R"(a\"b)", R"('a\"b')", R"(^"a\\\^"b^")"},
    {"trailingBackslashes", R"(my dir\\)", R"('my dir\\')", R"("my dir\\\\")"},
    {"dollar", "$HOME", "'$HOME'", R"("$HOME")"},
    {"backtick", "`id`", "'`id`'", R"("`id`")"},
    {"glob", "*.bin", "'*.bin'", R"("*.bin")"},
    {"tilde", "~/x", "'~/x'", R"("~/x")"},
    {"percent", "50%", "50%", R"(^"50^%^")"},
    {"variable", "%PATH%", "%PATH%", R"(^"^%PATH^%^")"},
    {"cmdOperators", "a&b|c<d>e^f(g)", "'a&b|c<d>e^f(g)'", R"-("a&b|c<d>e^f(g)")-"},
    {"everything", R"(%x% & "y" ^ !)", R"('%x% & "y" ^ !')", R"(^"^%x^% ^& \^"y\^" ^^ ^!^")"},
    {"bang", "wow!", "'wow!'", R"(^"wow^!^")"},
    {"newline", "two\nlines", "'two\nlines'", "\"two\nlines\""},
    {"unicode", "flash-\xC3\xBC-\xE2\x82\xAC.bin", "'flash-\xC3\xBC-\xE2\x82\xAC.bin'",
     "\"flash-\xC3\xBC-\xE2\x82\xAC.bin\""},
};

class Quoting : public testing::TestWithParam<QuoteCase> {};

TEST_P(Quoting, Posix) {
    EXPECT_EQ(quotePosix(GetParam().argument), GetParam().posix);
}

TEST_P(Quoting, WindowsCmd) {
    EXPECT_EQ(quoteWindowsCmd(GetParam().argument), GetParam().windows);
}

INSTANTIATE_TEST_SUITE_P(Arguments, Quoting, testing::ValuesIn(quoteCases),
                         [](const testing::TestParamInfo<QuoteCase>& info) { return info.param.name; });

// sh reads the line and hands printf each argument back.
TEST(QuotingRoundTrip, ShGivesEveryArgumentBack) {
    std::vector<std::string> line = {"printf", "<%s>\\n"};
    std::string expected;
    for (const QuoteCase& quote : quoteCases) {
        line.push_back(quote.argument);
        expected += "<" + quote.argument + ">\n";
    }
    // NOLINTNEXTLINE(cert-env33-c): the shell is what is tested
    std::FILE* shell = popen(commandLinePosix(line).c_str(), "r");
    ASSERT_NE(shell, nullptr);
    std::string output;
    std::array<char, 4096> buffer{};
    for (std::size_t count = 0; (count = std::fread(buffer.data(), 1, buffer.size(), shell)) > 0;) {
        output.append(buffer.data(), count);
    }
    EXPECT_EQ(pclose(shell), 0);
    EXPECT_EQ(output, expected);
}

// What cmd hands on of an interactive line: nothing when it would expand a
// variable (any %NAME% whose name holds no caret) or take an operator as its
// own; else the line with its carets taken out where no quote protects them.
std::optional<std::string> cmdReads(const std::string& line) {
    for (std::size_t open = line.find('%'); open != std::string::npos; open = line.find('%', open + 1)) {
        const std::size_t close = line.find('%', open + 1);
        if (close != std::string::npos && close > open + 1 && line.find('^', open) > close) {
            return std::nullopt;
        }
    }
    std::string passed;
    bool quoted = false;
    for (std::size_t index = 0; index < line.size(); ++index) {
        const char c = line[index];
        if (!quoted && c == '^' && index + 1 < line.size()) {
            passed += line[++index];
            continue;
        }
        if (!quoted && std::string_view("&|<>").find(c) != std::string_view::npos) {
            return std::nullopt;
        }
        quoted = c == '"' ? !quoted : quoted;
        passed += c;
    }
    return passed;
}

// The Microsoft C runtime's split of a command line's arguments.
std::vector<std::string> runtimeSplits(const std::string& line) {
    std::vector<std::string> arguments;
    std::string current;
    bool quoted = false;
    bool started = false;
    for (std::size_t index = 0; index < line.size(); ++index) {
        std::size_t backslashes = 0;
        while (line[index] == '\\' && index + 1 < line.size()) {
            ++backslashes;
            ++index;
        }
        const char c = line[index];
        if (c != '"') {
            current.append(backslashes, '\\');
        } else {
            current.append(backslashes / 2, '\\');
        }
        if (c == '"' && backslashes % 2 == 1) {
            current += '"';
        } else if (c == '"') {
            quoted = !quoted;
            started = true;
        } else if (c == ' ' && !quoted) {
            if (started || !current.empty()) {
                arguments.push_back(current);
            }
            current.clear();
            started = false;
        } else {
            current += c;
        }
    }
    if (started || !current.empty()) {
        arguments.push_back(current);
    }
    return arguments;
}

TEST(QuotingRoundTrip, CmdAndTheRuntimeGiveEveryArgumentBack) {
    for (const QuoteCase& quote : quoteCases) {
        if (quote.argument.find('\n') != std::string::npos) {
            continue;  // cmd's line cannot hold one at all
        }
        const std::optional<std::string> passed = cmdReads(quoteWindowsCmd(quote.argument));
        ASSERT_TRUE(passed.has_value()) << quote.name;
        EXPECT_EQ(runtimeSplits(*passed), std::vector<std::string>{quote.argument}) << quote.name;
    }
}

TEST(CommandLines, ProgramNamesAreQuotedForTheirPlaceInTheLine) {
    struct Case {
        std::vector<std::string> arguments;
        std::string posix;
        std::string windows;
    };
    const std::vector<Case> cases = {
        {{}, "", ""},
        {{"flashlock", "write", "a b.bin"}, "flashlock write 'a b.bin'", R"(flashlock write "a b.bin")"},
        // A bare first word with '=' would be an assignment to sh.
        {{"/opt/x=y/flashlock", "status"}, "'/opt/x=y/flashlock' status", R"(/opt/x=y/flashlock status)"},
        // The runtime reads the program name without backslash escapes.
        {{R"(C:\Program Files\flashlock\flashlock.exe)", R"(C:\my dir\)"},
         R"('C:\Program Files\flashlock\flashlock.exe' 'C:\my dir\')",
         R"("C:\Program Files\flashlock\flashlock.exe" "C:\my dir\\")"},
    };
    for (const Case& line : cases) {
        EXPECT_EQ(commandLinePosix(line.arguments), line.posix);
        EXPECT_EQ(commandLineWindowsCmd(line.arguments), line.windows);
    }
    // This OS's own.
    EXPECT_EQ(platform::commandLine(cases[1].arguments), cases[1].posix);
    EXPECT_EQ(platform::quoteArgument("a b"), "'a b'");
}

}  // namespace
