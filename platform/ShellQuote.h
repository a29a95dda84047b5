#pragma once

#include <string>
#include <string_view>
#include <vector>

// Command lines the user can paste into the OS's own shell and get back the
// very arguments they were made of: for commands that tell the user what to
// run next.
namespace platform {

// One argument for the shell of this OS: quotePosix on POSIX, quoteWindowsCmd
// on Windows.
std::string quoteArgument(std::string_view argument);
// The program and its arguments, each quoted, joined by blanks, for the shell
// of this OS: commandLinePosix or commandLineWindowsCmd.
std::string commandLine(const std::vector<std::string>& arguments);

// For sh and its kin (bash, dash, zsh): bare when made only of letters,
// digits and _@%+=:,./- (nothing a shell expands or splits at); otherwise in
// single quotes, inside which nothing is special, with each ' written as '\''.
// The empty argument is ''.
std::string quotePosix(std::string_view argument);
// Each argument quoted; a program name with '=' in it is quoted even so, as a
// bare first word of that form would be taken as a variable assignment.
std::string commandLinePosix(const std::vector<std::string>& arguments);

// For the interactive prompt of cmd.exe and a program that splits its command
// line as the Microsoft C runtime does. Two readers see the line in turn: cmd
// expands %NAME% anywhere and takes & | < > ^ as its own outside double
// quotes; the runtime then takes "..." as one argument and \" inside as a
// quote. So an argument is:
// - bare when made only of letters, digits and _@+=:./\- ;
// - else, when it holds no %, ! or ", in double quotes, with the
//   backslashes before the closing quote doubled: inside quotes cmd leaves
//   & | < > ^ alone;
// - else the runtime's quoted form with every one of ( ) % ! ^ " < > & |
//   escaped by a caret. A quote cannot protect % from cmd, and one \" would
//   end cmd's quoted stretch where the runtime's goes on, leaving the rest
//   bare; with every quote escaped cmd sees no quoted stretch at all, so
//   each caret is taken alike. ^% works because in ^%NAME^% cmd looks up
//   "NAME^", which is never set, and removes the carets only afterwards;
//   ^! does the same for a cmd with delayed expansion on.
// Written for the prompt: a batch file wants %% instead. A line break cannot
// be given on cmd's line at all and is written as it is.
std::string quoteWindowsCmd(std::string_view argument);
// Each argument quoted; the program name, which the runtime reads without
// backslash escapes and which cannot hold a quote, is bare or in plain double
// quotes.
std::string commandLineWindowsCmd(const std::vector<std::string>& arguments);

}  // namespace platform
