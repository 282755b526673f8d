// The program's command line on POSIX systems: `vantorio [OPTION]... [HIVE]`. Its own options
// are --help (-h) and --version; the toolkit's options (-platform NAME, -display NAME,
// -style NAME, ...) are set apart with their values and handed to the toolkit alone, so that
// a hive's path never reaches it and the toolkit's options keep working. Reading the command
// line needs no display: help, the version and usage errors are answered before any window.
#pragma once

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
    // The program's name and the toolkit's options with their values, in their order.
    std::vector<std::string> toolkitArguments;
    // What is wrong with the command line (UsageError), in a few words.
    std::string error;
};

// Reads the arguments (the program's name first). The first of --help, --version or a bad
// option decides, as each is met; a second operand is an error once the options are read.
// After "--" every argument is an operand.
CommandLine ParseCommandLine(std::span<const std::string_view> arguments);

// The text of --help: usage, what the program edits, which hive it uses and how it chooses
// (`hiveNow`: the hive a start without an argument would use now), the options, the
// environment and the exit statuses.
std::string HelpText(std::string_view hiveNow);
// The text of --version: the name and version, and the licence.
std::string VersionText();
// The lines after a usage error: the synopsis and where to find more.
std::string UsageText();

// The exit statuses.
inline constexpr int ExitUsage = 2;   // a bad command line, or a hive that cannot be used or made

} // namespace startup
