// The program's command line on POSIX systems: `vantorio [OPTION]... [HIVE]`. Its own options
// are --help (-h) and --version; the toolkit's options (-platform NAME, -display NAME,
// -style NAME, ...) are set apart with their values and handed to the toolkit alone, so that
// a hive's path never reaches it and the toolkit's options keep working. Reading the command
// line needs no display: help, the version and usage errors are answered before any window.
// On Windows the console twin, vantorio.com, reads its own command line here: the same
// options (and /?), no hive and no toolkit; any other word is a misspelt command.
#pragma once

#include <cstdio>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace startup {

struct CommandLine {
    enum class Action { Run, Help, Version, UsageError };
    Action action = Action::Run;
    // The hive the argument names, when there is one.
    std::optional<std::string> hive;
    // The program's name and the toolkit's options with their values, in their order; on
    // Windows every argument, for the window's program.
    std::vector<std::string> toolkitArguments;
    // What is wrong with the command line (UsageError), in a few words.
    std::string error;
};

// Reads the arguments (the program's name first). The first of --help, --version or a bad
// option decides, as each is met; a second operand (on Windows, any word but an empty one) is
// an error once the options are read. After "--" every argument is an operand.
CommandLine ParseCommandLine(std::span<const std::string_view> arguments);

#ifdef _WIN32
// The text of --help: usage, what the program changes, the commands, the options and the
// exit statuses.
std::string HelpText();
#else
// The text of --help: usage, what the program edits, which hive it uses and how it chooses
// (`hiveNow`: the hive a start without an argument would use now), the options, the
// environment and the exit statuses.
std::string HelpText(std::string_view hiveNow);
#endif
// The text of --version: the name and version, and the licence.
std::string VersionText();
// The lines after a usage error: the synopsis and where to find more.
std::string UsageText();

// One line on standard error, "vantorio: ...", escaped, in the terminal's encoding.
void Say(std::FILE* err, const std::string& line);

// Answers a command line that ends without a window: help (its text from `help`) and the
// version on `out`, a usage error as one line and the synopsis on `err`. The exit status, or
// nothing when the window is to start.
std::optional<int> Answer(const CommandLine& line, const std::function<std::string()>& help, std::FILE* out, std::FILE* err);

// The exit statuses.
inline constexpr int ExitUsage = 2;   // a bad command line, or a hive that cannot be used or made

} // namespace startup
