#include "commands/command_line.h"

#include <algorithm>
#include <array>

namespace commands {

namespace {

using Command = CommandLine::Command;
using Source = Setting::Source;

// The settings of `set`: the option, the control it acts on, and what it takes.
enum class Takes { OnOff, Text, Nothing };
struct SettingOption {
    std::string_view name;
    Target target;
    Takes takes;
    Source source = Source::Argument;
};
constexpr std::array<SettingOption, 10> SettingOptions{{
    {"--auto-logon", Target::AutoLogon, Takes::OnOff},
    {"--user", Target::User, Takes::Text},
    {"--password-stdin", Target::Password, Takes::Nothing, Source::StandardInput},
    {"--no-password", Target::Password, Takes::Nothing},
    {"--hide-last-user", Target::HideLastUser, Takes::OnOff},
    {"--shutdown-without-logon", Target::Shutdown, Takes::OnOff},
    {"--notice", Target::Notice, Takes::OnOff},
    {"--caption", Target::Caption, Takes::Text},
    {"--notice-text", Target::NoticeText, Takes::Text},
    {"--notice-text-file", Target::NoticeText, Takes::Text, Source::File},
}};

// Reads one setting: an error in a few words, or nothing.
std::string readSetting(std::string_view arg, std::vector<Setting>& settings) {
    const std::size_t equals = arg.find('=');
    const std::string_view name = arg.substr(0, equals);
    const bool hasValue = equals != std::string_view::npos;
    const std::string_view value = hasValue ? arg.substr(equals + 1) : std::string_view();
    if (name == "--password")
        return "a password is never taken from the command line, where other users can read it: use --password-stdin";
    const auto option = std::find_if(SettingOptions.begin(), SettingOptions.end(),
                                     [&](const SettingOption& o) { return o.name == name; });
    // Named without its value, which may be a secret given to the wrong option.
    if (option == SettingOptions.end()) return "unknown option '" + std::string(name) + "'";
    if (option->takes == Takes::Nothing && hasValue) return "option '" + std::string(name) + "' takes no value";
    if (option->takes != Takes::Nothing && !hasValue) return "option '" + std::string(name) + "' needs a value (" + std::string(name) + "=...)";
    if (option->takes == Takes::OnOff && value != "on" && value != "off")
        return "option '" + std::string(name) + "' takes on or off, not '" + std::string(value) + "'";
    for (const Setting& earlier : settings)
        if (earlier.target == option->target)
            return earlier.option == name ? "option '" + std::string(name) + "' given twice"
                                          : "options '" + earlier.option + "' and '" + std::string(name) +
                                                "' both set the same thing";
    settings.push_back({option->target, std::string(name), value == "on", std::string(value), option->source});
    return {};
}

} // namespace

std::string_view CommandName(Command command) { return command == Command::Show ? "show" : "set"; }

namespace {
std::optional<Command> commandNamed(std::string_view word) {
    if (word == "show") return Command::Show;
    if (word == "set") return Command::Set;
    return std::nullopt;
}
} // namespace

std::optional<Command> CommandOf(std::span<const std::string_view> arguments) {
    if (arguments.size() < 2) return std::nullopt;
    // "help show" asks for the command's help.
    if (arguments[1] == "help") return arguments.size() > 2 ? commandNamed(arguments[2]) : std::nullopt;
    return commandNamed(arguments[1]);
}

CommandLine ParseCommand(std::span<const std::string_view> arguments) {
    CommandLine line;
    line.command = CommandOf(arguments).value_or(Command::Show);
    if (arguments.size() > 1 && arguments[1] == "help") {
        line.help = true;
        return line;
    }
    std::vector<std::string_view> operands;
    bool optionsEnd = false;
    for (std::size_t i = 2; i < arguments.size() && line.error.empty(); ++i) {
        const std::string_view arg = arguments[i];
        if (optionsEnd || arg.size() < 2 || arg[0] != '-') {
            operands.push_back(arg);
        } else if (arg == "--") {
            optionsEnd = true;
        } else if (arg == "-h" || arg == "--help") {
            line.help = true;
            return line;
        } else if (const std::string_view flag = line.command == Command::Show ? "--json" : "--dry-run";
                   arg.substr(0, arg.find('=')) == flag) {
            bool& on = line.command == Command::Show ? line.json : line.dryRun;
            if (arg != flag) line.error = "option '" + std::string(flag) + "' takes no value";
            on = true;
        } else if (line.command == Command::Show) {
            // Named without its value, which may be a secret given to the wrong option.
            line.error = "unknown option '" + std::string(arg.substr(0, arg.find('='))) + "'";
        } else {
            line.error = readSetting(arg, line.settings);
        }
    }
    if (!line.error.empty()) return line;
    if (operands.size() > 1) {
        line.error = "one hive at most, not also '" + std::string(operands[1]) + "'";
        return line;
    }
    if (!operands.empty()) line.hive = std::string(operands[0]);
    if (line.command == Command::Set && line.settings.empty()) line.error = "nothing to set: give at least one setting";
    return line;
}

// What the help says of where the settings live and how a script names them: on Linux a hive
// file, on Windows the machine's registry. The rest of the help is the same on both.
struct HelpPlace {
    std::string_view operand;     // after the settings in the synopsis
    std::string_view where;       // the paragraph on the hive
    std::string_view unusable;    // the last of what ends with status 2
    std::string_view setExample;  // the example of set
};
#ifdef _WIN32
constexpr HelpPlace HelpPlaceHere{
    "",
    "The settings are this computer's: the values of the registry key\n"
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon. The\n"
    "commands run with the rights of the console: set needs one run as administrator.\n",
    "or a Winlogon\nkey that cannot be read",
    "Example: log on as kiosk automatically, from a console run as administrator (the\n"
    "password is asked for, and not shown as it is typed):\n"
    "  vantorio set --auto-logon=on --user=kiosk --password-stdin\n",
};
#else
constexpr HelpPlace HelpPlaceHere{
    " [HIVE]",
    "HIVE: the SOFTWARE hive file of a Windows installation, or the root folder of the\n"
    "installation (Windows/System32/config/SOFTWARE below it, in any case). Without\n"
    "HIVE, the file that VANTORIO_SOFTWARE_HIVE names; one of the two must name it, for\n"
    "the commands never use the window's default hive.\n",
    "no hive named, or\na hive that cannot be used",
    "Example: log on as kiosk automatically on a Windows disk mounted at /mnt/windows:\n"
    "  printf '%s\\n' \"$PASSWORD\" | vantorio set --auto-logon=on --user=kiosk \\\n"
    "      --password-stdin /mnt/windows\n",
};
#endif
const HelpPlace& helpPlace() { return HelpPlaceHere; }

std::string CommandUsage(Command command) {
    const std::string name(CommandName(command));
    const std::string operand(helpPlace().operand);
    return "Usage: vantorio " + name + (command == Command::Show ? " [--json]" + operand : " [--dry-run] SETTING..." + operand) +
           "\nTry 'vantorio " + name + " --help' for more information.\n";
}

std::string CommandHelp(Command command) {
    const HelpPlace& place = helpPlace();
    const std::string operand(place.operand);
    if (command == Command::Show)
        return "Usage: vantorio show [--json]" + operand + "\n" +
               "Print the logon settings as the window would show them: automatic logon, the\n"
               "user name, whether a password is set (never the password), hiding the last user\n"
               "name, shutdown without logon, and the notice with its caption and text.\n"
               "A value that the window cannot show as stored is marked with the reason it is\n"
               "kept as stored, and its stored form follows.\n"
               "Text is written in the terminal's encoding; the backslash, control characters,\n"
               "characters that turn the direction of text and characters the encoding lacks\n"
               "are written as escapes (\\\\, \\n, \\x1b, \\u202e, \\u3042).\n"
               "\n" +
               std::string(place.where) +
               "\n"
               "Options:\n"
               "      --json     one JSON object, for scripts (its keys: vantorio(1))\n"
               "  -h, --help     show this help and exit\n"
               "\n"
               "Exit status: 0 shown; 2 a bad command line, " +
               std::string(place.unusable) + ".\n";
    return "Usage: vantorio set [--dry-run] SETTING..." + operand + "\n" +
           "Change the logon settings as a user would in the window, then register: each\n"
           "setting acts on its control, a control not named is left as it is, and the\n"
           "values are written by the window's own rules, all of them or none. A register\n"
           "that would store what is stored already writes nothing.\n"
           "\n"
           "Settings:\n"
           "      --auto-logon=on|off              automatic logon\n"
           "      --user=NAME                      its user name\n"
           "      --password-stdin                 its password: one line of standard input\n"
           "      --no-password                    remove the password\n"
           "      --hide-last-user=on|off          hide the last user name (automatic logon off)\n"
           "      --shutdown-without-logon=on|off  shutdown from the logon screen (automatic logon off)\n"
           "      --notice=on|off                  the notice shown before logon (on: with a text)\n"
           "      --caption=TEXT                   its caption (notice on)\n"
           "      --notice-text=TEXT               its text (notice on)\n"
           "      --notice-text-file=FILE          its text, from a UTF-8 file (one line)\n"
           "Options:\n"
           "      --dry-run    print what register would change, one line a value, and\n"
           "                   change nothing\n"
           "  -h, --help       show this help and exit\n"
           "\n"
           "Each setting is judged by the state the window is in when register is pressed:\n"
           "the two logon screen settings need automatic logon off then, the caption and\n"
           "the text need the notice on, and the notice needs a text to be on. The user\n"
           "name and the password change in any state, as in the window (automatic logon\n"
           "turned on, the box edited, turned off again), unless that would rewrite a value\n"
           "kept as stored that no setting names. --auto-logon=off leaves the password\n"
           "stored: add --no-password to remove it. A password is never taken from the\n"
           "command line. Nothing is written when a setting is refused.\n"
           "\n" +
           std::string(place.where) +
           "\n"
           "Exit status: 0 registered (or, with --dry-run, what it would change printed);\n"
           "1 register refused (the reason on standard error, nothing changed); 2 a bad\n"
           "command line, a setting the window would refuse or not store, " +
           std::string(place.unusable) + ".\n"
           "\n" +
           std::string(place.setExample);
}

} // namespace commands
