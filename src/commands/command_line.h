// The command lines of the commands for scripts:
//   vantorio show [--json] [HIVE]
//   vantorio set [--dry-run] SETTING... [HIVE]
//   vantorio help show|set
// Reading them needs no display, no hive and no locale: texts stay the bytes they were given.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace commands {

// The controls that a setting of `set` acts on, as a user would in the window.
enum class Target { AutoLogon, User, Password, HideLastUser, Shutdown, Notice, Caption, NoticeText };

struct Setting {
    Target target;
    std::string option;           // as written, without its value: "--user"
    bool on = false;              // the two option pairs and the two check boxes
    std::string text;             // the bytes of a text, or the file that holds it
    enum class Source { Argument, StandardInput, File } source = Source::Argument;
};

struct CommandLine {
    enum class Command { Show, Set };
    Command command = Command::Show;
    bool help = false;
    bool json = false;                // show
    bool dryRun = false;              // set: say what register would change, change nothing
    std::vector<Setting> settings;    // set, in the order given
    std::optional<std::string> hive;
    std::string error;                // what is wrong with it, in a few words; empty when nothing
};

// The command that the arguments (the program's name first) name, if they name one: its word
// comes first.
std::optional<CommandLine::Command> CommandOf(std::span<const std::string_view> arguments);

// Reads the arguments of the command (the program's name and the command's word first).
CommandLine ParseCommand(std::span<const std::string_view> arguments);

// The text of `--help`, and the lines after a usage error.
std::string CommandHelp(CommandLine::Command command);
std::string CommandUsage(CommandLine::Command command);

// The command's word: "show" or "set".
std::string_view CommandName(CommandLine::Command command);

} // namespace commands
