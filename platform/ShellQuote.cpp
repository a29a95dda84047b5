// Both shells' rules on every OS, so that each is tested wherever the tests
// run; quoteArgument and commandLine, which choose one, are each OS's own.
#include "platform/ShellQuote.h"

#include <cstddef>
#include <utility>

namespace platform {

namespace {

bool isAlphanumeric(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

bool madeOnlyOf(std::string_view argument, std::string_view punctuation) {
    for (const char c : argument) {
        if (!isAlphanumeric(c) && punctuation.find(c) == std::string_view::npos) {
            return false;
        }
    }
    return !argument.empty();
}

constexpr std::string_view posixSafe = "_@%+=:,./-";
// A comma splits arguments only for cmd's own commands and batch files, never
// for a program's command line, which block lists (2,7-9) use.
constexpr std::string_view windowsSafe = "_@+=:,./\\-";

// The argument as the C runtime's parser reads it back: in double quotes,
// each run of backslashes that ends at a quote (its own or the closing one)
// doubled, and its own quotes escaped.
std::string runtimeQuoted(std::string_view argument) {
    std::string quoted = "\"";
    std::size_t backslashes = 0;
    for (const char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        if (c == '"') {
            quoted.append(2 * backslashes + 1, '\\');
        } else {
            quoted.append(backslashes, '\\');
        }
        backslashes = 0;
        quoted += c;
    }
    quoted.append(2 * backslashes, '\\');
    return quoted + '"';
}

template <typename Quote>
std::string joined(const std::vector<std::string>& arguments, std::string first, Quote quote) {
    std::string line = std::move(first);
    for (std::size_t index = 1; index < arguments.size(); ++index) {
        line += ' ';
        line += quote(arguments[index]);
    }
    return line;
}

}  // namespace

std::string quotePosix(std::string_view argument) {
    if (madeOnlyOf(argument, posixSafe)) {
        return std::string(argument);
    }
    std::string quoted = "'";
    for (const char c : argument) {
        if (c == '\'') {
            quoted += "'\\''";
        } else {
            quoted += c;
        }
    }
    return quoted + "'";
}

std::string commandLinePosix(const std::vector<std::string>& arguments) {
    if (arguments.empty()) {
        return {};
    }
    std::string program = quotePosix(arguments.front());
    if (program == arguments.front() && program.find('=') != std::string::npos) {
        program = "'" + program + "'";
    }
    return joined(arguments, std::move(program), quotePosix);
}

std::string quoteWindowsCmd(std::string_view argument) {
    if (madeOnlyOf(argument, windowsSafe)) {
        return std::string(argument);
    }
    std::string quoted = runtimeQuoted(argument);
    if (argument.find_first_of("%!\"") == std::string_view::npos) {
        return quoted;
    }
    std::string escaped;
    for (const char c : quoted) {
        if (std::string_view("()%!^\"<>&|").find(c) != std::string_view::npos) {
            escaped += '^';
        }
        escaped += c;
    }
    return escaped;
}

std::string commandLineWindowsCmd(const std::vector<std::string>& arguments) {
    if (arguments.empty()) {
        return {};
    }
    const std::string& program = arguments.front();
    return joined(arguments, madeOnlyOf(program, windowsSafe) ? program : "\"" + program + "\"", quoteWindowsCmd);
}

}  // namespace platform
