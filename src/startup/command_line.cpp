#include "startup/command_line.h"

#include <array>
#include <cerrno>
#include <cstring>

#include "platform/console.h"
#include "platform/utf8.h"

namespace startup {

namespace {

// The options that the toolkit reads from the command line itself (the application, the
// widgets and the X11 platform), each written with one dash or two. The window's program on
// Windows reads none.
struct ToolkitOption {
    std::string_view name;
    bool takesValue;   // the next argument is its value
    bool joinedValue;  // also written as -name=value
};
#ifdef _WIN32
constexpr std::array<ToolkitOption, 0> ToolkitOptions{};
#else
constexpr std::array<ToolkitOption, 21> ToolkitOptions{{
    {"platform", true, false},
    {"platformpluginpath", true, false},
    {"platformtheme", true, false},
    {"plugin", true, false},
    {"qwindowgeometry", true, false},
    {"qwindowicon", true, false},
    {"qwindowtitle", true, false},
    {"geometry", true, false},
    {"icon", true, false},
    {"title", true, false},
    {"session", true, false},
    {"reverse", false, false},
    {"testability", false, false},
    {"style", true, true},
    {"stylesheet", true, true},
    {"widgetcount", false, false},
    {"display", true, false},
    {"name", true, false},
    {"visual", true, false},
    {"nograb", false, false},
    {"dograb", false, false},
}};
#endif

const ToolkitOption* toolkitOption(std::string_view name, bool& joined) {
    for (const ToolkitOption& option : ToolkitOptions) {
        if (name == option.name) {
            joined = false;
            return &option;
        }
        if (option.joinedValue && name.size() > option.name.size() && name.starts_with(option.name) &&
            name[option.name.size()] == '=') {
            joined = true;
            return &option;
        }
    }
    return nullptr;
}

CommandLine usageError(CommandLine line, std::string error) {
    line.action = CommandLine::Action::UsageError;
    line.error = std::move(error);
    return line;
}

} // namespace

CommandLine ParseCommandLine(std::span<const std::string_view> arguments) {
    CommandLine line;
    line.toolkitArguments.emplace_back(arguments.empty() ? std::string_view("vantorio") : arguments[0]);
    // "vantorio help" is "vantorio --help".
    if (arguments.size() > 1 && arguments[1] == "help") {
        line.action = CommandLine::Action::Help;
        return line;
    }
    std::vector<std::string_view> operands;
    bool optionsEnd = false;
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        const std::string_view arg = arguments[i];
#ifdef _WIN32
        if (!optionsEnd && arg == "/?") {
            line.action = CommandLine::Action::Help;
            return line;
        }
#endif
        if (optionsEnd || arg.size() < 2 || arg[0] != '-') {
            operands.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnd = true;
        } else if (arg == "-h" || arg == "--help") {
            line.action = CommandLine::Action::Help;
            return line;
        } else if (arg == "--version") {
            line.action = CommandLine::Action::Version;
            return line;
        } else {
            const std::string_view name = arg.substr(arg.starts_with("--") ? 2 : 1);
            bool joined = false;
            const ToolkitOption* option = toolkitOption(name, joined);
            if (!option) {
                // Named without its value, which may be a secret given to the wrong option.
                const std::string_view bare = arg.substr(0, arg.find('='));
                const ToolkitOption* known = toolkitOption(bare.substr(bare.starts_with("--") ? 2 : 1), joined);
                if (known && bare.size() < arg.size())
                    return usageError(std::move(line), "option '" + std::string(bare) + "' " +
                                                           (known->takesValue ? "takes its value as the next argument" : "takes no value"));
                return usageError(std::move(line), "unknown option '" + std::string(bare) + "'");
            }
            line.toolkitArguments.emplace_back(arg);
            if (option->takesValue && !joined) {
                if (i + 1 >= arguments.size())
                    return usageError(std::move(line), "option '" + std::string(arg) + "' needs a value");
                line.toolkitArguments.emplace_back(arguments[++i]);
            }
        }
    }
#ifdef _WIN32
    // No hive here: a word is a command, and one that is none is misspelt. It is named up to an
    // "=", for what follows may be a secret.
    for (const std::string_view operand : operands)
        if (!operand.empty())
            return usageError(std::move(line), "unknown command '" + std::string(operand.substr(0, operand.find('='))) + "'");
    line.toolkitArguments.assign(arguments.begin(), arguments.end());
#else
    if (operands.size() > 1)
        return usageError(std::move(line), "one hive at most, not also '" + std::string(operands[1]) + "'");
    if (!operands.empty()) line.hive = std::string(operands[0]);
#endif
    return line;
}

void Say(std::FILE* err, const std::string& line) {
    platform::console::write(err, platform::console::escaped(platform::fromUtf8Lenient("vantorio: " + line), false) + u"\n");
}

std::optional<int> Answer(const CommandLine& line, const std::function<std::string()>& help, std::FILE* out, std::FILE* err) {
    switch (line.action) {
    case CommandLine::Action::Help:
    case CommandLine::Action::Version: {
        // A help that could not be written is an error.
        const std::string text = line.action == CommandLine::Action::Help ? help() : VersionText();
        if (std::fputs(text.c_str(), out) >= 0 && std::fflush(out) == 0) return 0;
        const int error = errno;
        std::fprintf(err, "vantorio: cannot write to standard output: %s\n", std::strerror(error));
        return 1;
    }
    case CommandLine::Action::UsageError:
        Say(err, line.error);
        std::fputs(UsageText().c_str(), err);
        return ExitUsage;
    case CommandLine::Action::Run: break;
    }
    return std::nullopt;
}

#ifdef _WIN32
std::string UsageText() {
    return "Usage: vantorio [COMMAND] [OPTION]...\n"
           "Try 'vantorio --help' for more information.\n";
}

std::string HelpText() {
    return "Usage: vantorio [OPTION]...\n"
           "  or:  vantorio show [--json]\n"
           "  or:  vantorio set [--dry-run] SETTING...\n"
           "Show and change the logon settings of this computer: automatic logon with its user\n"
           "name and password, hiding the last user name, shutdown from the logon screen and\n"
           "the notice shown before logon. They are the values of the registry key\n"
           "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon.\n"
           "Without a command, the window opens (vantorio.exe, which asks for elevation); this\n"
           "console program does not wait for it.\n"
           "\n"
           "Commands, for scripts ('vantorio help COMMAND'); they run with the rights of the\n"
           "console, so set needs one run as administrator:\n"
           "  show           print the settings as the window would show them\n"
           "  set            change settings as a user would in the window, then register\n"
           "\n"
           "Options:\n"
           "  -h, --help, /?  show this help and exit (also 'vantorio help')\n"
           "      --version   show the name and version and exit\n"
           "\n"
           "Exit status (of show and set: in their help):\n"
           "  0  the window was started\n"
           "  1  the window could not be started (elevation refused, or vantorio.exe missing)\n"
           "  2  a bad command line\n";
}
#else
std::string UsageText() {
    return "Usage: vantorio [OPTION]... [HIVE]\n"
           "Try 'vantorio --help' for more information.\n";
}

std::string HelpText(std::string_view hiveNow) {
    std::string text =
        "Usage: vantorio [OPTION]... [HIVE]\n"
        "  or:  vantorio show [--json] [HIVE]\n"
        "  or:  vantorio set [--dry-run] SETTING... [HIVE]\n"
        "Show and change the logon settings of a Windows installation, offline: automatic\n"
        "logon with its user name and password, hiding the last user name, shutdown from the\n"
        "logon screen and the notice shown before logon. They are the values of the key\n"
        "Microsoft\\Windows NT\\CurrentVersion\\Winlogon in HIVE, the SOFTWARE registry hive of\n"
        "that installation (Windows\\System32\\config\\SOFTWARE on its disk). HIVE may also be\n"
        "the root folder of the installation, a mounted Windows volume.\n"
        "\n"
        "Which hive: HIVE when it is given; else the file that VANTORIO_SOFTWARE_HIVE names;\n"
        "else the program's own default hive, $XDG_DATA_HOME/vantorio/SOFTWARE\n"
        "(~/.local/share/vantorio/SOFTWARE when XDG_DATA_HOME is unset), created on first use\n"
        "with the settings of a fresh workstation, in a folder that must be yours and that\n"
        "no one else may write. A named hive must exist and is never created; it is followed\n"
        "through symbolic links.\n";
    text += "Without HIVE, this start would use:\n  ";
    text += hiveNow.empty() ? std::string_view("no hive: neither HOME nor XDG_DATA_HOME is set") : hiveNow;
    text +=
        "\n"
        "\n"
        "Commands, for scripts; they need no display ('vantorio help COMMAND'), and work\n"
        "only on a hive that HIVE or VANTORIO_SOFTWARE_HIVE names, never the default one:\n"
        "  show           print the settings as the window would show them\n"
        "  set            change settings as a user would in the window, then register\n"
        "\n"
        "Options:\n"
        "  -h, --help     show this help and exit (also 'vantorio help')\n"
        "      --version  show the name and version and exit\n"
        "The toolkit's own options (-platform NAME, -display NAME, -style NAME, ...) are\n"
        "passed on to it.\n"
        "\n"
        "Environment:\n"
        "  VANTORIO_SOFTWARE_HIVE  the hive to use when no HIVE is given\n"
        "  XDG_DATA_HOME           where the default hive lives (vantorio/SOFTWARE in it)\n"
        "\n"
        "Exit status:\n"
        "  0  the window was closed: registered, cancelled or closed\n"
        "  1  an unexpected error was reported in the window, or set could not register\n"
        "  2  a bad command line, a named hive that cannot be used, a default hive that\n"
        "     cannot be made, or no display\n"
        "\n"
        "Example, for a Windows disk mounted at /mnt/windows:\n"
        "  vantorio /mnt/windows/Windows/System32/config/SOFTWARE\n";
    return text;
}
#endif

std::string VersionText() {
    return "vantorio " VANTORIO_VERSION "\n"
           "Copyright (c) 2026 The Vantorio developers.\n"
           "Licensed under the MIT licence: free to use, change and share, without warranty.\n";
}

} // namespace startup
