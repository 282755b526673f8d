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
    if (option == SettingOptions.end()) return "unknown option '" + std::string(arg) + "'";
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

std::optional<Command> CommandOf(std::span<const std::string_view> arguments) {
    if (arguments.size() < 2) return std::nullopt;
    if (arguments[1] == "show") return Command::Show;
    if (arguments[1] == "set") return Command::Set;
    return std::nullopt;
}

CommandLine ParseCommand(std::span<const std::string_view> arguments) {
    CommandLine line;
    line.command = CommandOf(arguments).value_or(Command::Show);
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
        } else if (line.command == Command::Show) {
            if (arg == "--json") line.json = true;
            else line.error = "unknown option '" + std::string(arg) + "'";
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

std::string CommandUsage(Command command) {
    const std::string name(CommandName(command));
    return "Usage: vantorio " + name + (command == Command::Show ? " [--json] [HIVE]\n" : " [SETTING]... [HIVE]\n") +
           "Try 'vantorio " + name + " --help' for more information.\n";
}

std::string CommandHelp(Command command) {
    if (command == Command::Show)
        return "Usage: vantorio show [--json] [HIVE]\n"
               "Print the logon settings of HIVE as the window would show them: automatic logon,\n"
               "the user name, whether a password is set (never the password), hiding the last\n"
               "user name, shutdown without logon, and the notice with its caption and text.\n"
               "A value that the window cannot show as stored is marked with the reason it is\n"
               "kept as stored, and its stored form follows.\n"
               "\n"
               "HIVE is chosen as for the window (see 'vantorio --help'); the root folder of a\n"
               "Windows installation stands for Windows/System32/config/SOFTWARE below it.\n"
               "\n"
               "Options:\n"
               "      --json     one JSON object, for scripts (its keys: vantorio(1))\n"
               "  -h, --help     show this help and exit\n"
               "\n"
               "Exit status: 0 shown; 2 a bad command line or a hive that cannot be used.\n";
    return "Usage: vantorio set [SETTING]... [HIVE]\n"
           "Change the logon settings of HIVE as a user would in the window, then register:\n"
           "each setting acts on its control, a control not named is left as it is, and the\n"
           "values are written by the window's own rules, all of them in one commit or none.\n"
           "Nothing is written when a setting is refused or register cannot save.\n"
           "\n"
           "Settings:\n"
           "      --auto-logon=on|off              automatic logon\n"
           "      --user=NAME                      its user name (automatic logon on)\n"
           "      --password-stdin                 its password: one line of standard input\n"
           "      --no-password                    remove the password\n"
           "      --hide-last-user=on|off          hide the last user name (automatic logon off)\n"
           "      --shutdown-without-logon=on|off  shutdown from the logon screen (automatic logon off)\n"
           "      --notice=on|off                  the notice shown before logon\n"
           "      --caption=TEXT                   its caption (notice on)\n"
           "      --notice-text=TEXT               its text (notice on)\n"
           "      --notice-text-file=FILE          its text, from a UTF-8 file (one line)\n"
           "  -h, --help                           show this help and exit\n"
           "A setting needs its control usable, as in the window: the user name and password\n"
           "while automatic logon is on, the two logon screen settings while it is off, the\n"
           "caption and text while the notice is on, before or after the on|off settings.\n"
           "A password is never taken from the command line.\n"
           "\n"
           "HIVE is chosen as for the window (see 'vantorio --help'); the root folder of a\n"
           "Windows installation stands for Windows/System32/config/SOFTWARE below it.\n"
           "\n"
           "Exit status: 0 registered; 1 register refused (the reason on standard error, the\n"
           "hive as it was); 2 a bad command line, a setting the window would refuse, or a\n"
           "hive that cannot be used.\n"
           "\n"
           "Example: log on as kiosk automatically on a Windows disk mounted at /mnt/windows:\n"
           "  printf '%s\\n' \"$PASSWORD\" | vantorio set --auto-logon=on --user=kiosk \\\n"
           "      --password-stdin /mnt/windows\n";
}

} // namespace commands
