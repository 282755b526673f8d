#include "startup/startup.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/hive_file.h"
#include "startup/command_line.h"

namespace startup {

namespace {

// Writes `text` and makes sure that it left: a help that could not be written is an error.
bool emit(std::FILE* stream, const std::string& text) {
    return std::fputs(text.c_str(), stream) >= 0 && std::fflush(stream) == 0;
}

// The hive a start without an argument uses now, and where it comes from.
std::string hiveNowText() {
    namespace hive = platform::hive;
    if (const std::string named = hive::variableHivePath(); !named.empty())
        return named + " (named by " + hive::HiveVariable + ")";
    const std::string fallback = hive::defaultHivePath();
    return fallback.empty() ? std::string() : fallback + " (the default hive)";
}

// Whether the toolkit has somewhere to show the window: a display in the environment, or a
// platform or display named for it.
bool windowCanOpen(const std::vector<std::string>& toolkitArguments) {
    for (const char* variable : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        if (const char* value = std::getenv(variable); value && *value) return true;
    for (const std::string& argument : toolkitArguments) {
        const std::string_view option = std::string_view(argument).substr(argument.rfind("--", 0) == 0 ? 1 : 0);
        if (option == "-platform" || option == "-display" || option.rfind("-platform=", 0) == 0) return true;
    }
    return false;
}

} // namespace

Start Prepare(std::span<const std::string_view> arguments, std::FILE* out, std::FILE* err) {
    namespace hive = platform::hive;
    Start start;
    CommandLine line = ParseCommandLine(arguments);
    switch (line.action) {
    case CommandLine::Action::Help:
    case CommandLine::Action::Version: {
        const std::string text = line.action == CommandLine::Action::Help ? HelpText(hiveNowText()) : VersionText();
        if (emit(out, text)) {
            start.exitStatus = 0;
        } else {
            const int error = errno;
            std::fprintf(err, "vantorio: cannot write to standard output: %s\n", std::strerror(error));
            start.exitStatus = 1;
        }
        return start;
    }
    case CommandLine::Action::UsageError:
        std::fprintf(err, "vantorio: %s\n%s", line.error.c_str(), UsageText().c_str());
        start.exitStatus = ExitUsage;
        return start;
    case CommandLine::Action::Run: break;
    }

    // The argument wins over the variable; with neither, the default hive is used as it is.
    const bool fromArgument = line.hive.has_value();
    const std::string named = fromArgument ? *line.hive : hive::variableHivePath();
    if (fromArgument || !named.empty()) {
        if (const hive::HiveCheck check = hive::checkHive(named)) {
            const std::string source = fromArgument ? "" : std::string(" (named by ") + hive::HiveVariable + ")";
            std::fprintf(err, "vantorio: '%s'%s: %s\n", named.c_str(), source.c_str(), hive::describe(check).c_str());
            start.exitStatus = ExitUsage;
            return start;
        }
        hive::selectHive(named);
    }
    // Without a display the toolkit would abort; say what is missing instead.
    if (!windowCanOpen(line.toolkitArguments)) {
        std::fprintf(err, "vantorio: cannot open the window: no display (DISPLAY and WAYLAND_DISPLAY are not set)\n");
        start.exitStatus = ExitUsage;
        return start;
    }
    // With nothing named, the default hive is made now, for the window that is about to open:
    // one that cannot be made stops the start as a named hive that cannot be used does.
    if (!fromArgument && named.empty()) {
        const std::string path = hive::defaultHivePath();
        hive::DefaultHiveFailure failure;
        if (path.empty()) {
            std::fprintf(err, "vantorio: no place for the default hive: neither HOME nor XDG_DATA_HOME is set\n");
            start.exitStatus = ExitUsage;
            return start;
        }
        if (hive::ensureDefaultHive(path, &failure) != 0) {
            std::fprintf(err, "vantorio: '%s' (the default hive%s): %s\n", failure.path.c_str(),
                         failure.folder ? "'s folder" : "", failure.reason.c_str());
            start.exitStatus = ExitUsage;
            return start;
        }
    }
    start.toolkitArguments = std::move(line.toolkitArguments);
    return start;
}

} // namespace startup
