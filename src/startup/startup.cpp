#include "startup/startup.h"

#include <cstdlib>
#include <sys/stat.h>

#include "platform/console.h"
#include "platform/hive/choice.h"
#include "platform/utf8.h"
#include "startup/command_line.h"

namespace startup {

namespace {

// A path as the lines on standard error name it: in quotes, escaped.
std::string quotedPath(const std::string& path) { return "'" + platform::toUtf8(platform::console::escapedPath(path)) + "'"; }

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

HiveChoice ChooseNamedHive(const std::optional<std::string>& argument) {
    namespace hive = platform::hive;
    // The argument wins over the variable; with neither, the default hive is used.
    std::string named = argument ? *argument : hive::variableHivePath();
    if (named.empty() && !argument) return {};
    // The root of a Windows installation names its SOFTWARE hive.
    struct stat st {};
    if (stat(named.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        if (const std::optional<std::string> below = hive::installationHive(named)) named = *below;
    if (const hive::HiveCheck check = hive::checkHive(named)) {
        const std::string source = argument ? "" : std::string(" (named by ") + hive::HiveVariable + ")";
        return {true, ExitUsage, quotedPath(named) + source + ": " + hive::describe(check)};
    }
    hive::selectHive(named);
    return {true, std::nullopt, {}};
}

std::optional<int> MakeDefaultHive(std::FILE* err) {
    namespace hive = platform::hive;
    const std::string path = hive::defaultHivePath();
    if (path.empty()) {
        Say(err, "no place for the default hive: neither HOME nor XDG_DATA_HOME is set");
        return ExitUsage;
    }
    hive::DefaultHiveFailure failure;
    // Located now, through the folder that was checked: the run's hive from here on.
    std::shared_ptr<const hive::HiveLocation> located;
    if (hive::locateDefaultHive(path, located, &failure) != 0) {
        Say(err, quotedPath(failure.path) + " (the default hive" + (failure.folder ? "'s folder" : "") + "): " + failure.reason);
        return ExitUsage;
    }
    return std::nullopt;
}

Start Prepare(std::span<const std::string_view> arguments, std::FILE* out, std::FILE* err) {
    Start start;
    CommandLine line = ParseCommandLine(arguments);
    start.exitStatus = Answer(line, [] { return HelpText(hiveNowText()); }, out, err);
    if (start.exitStatus) return start;

    const HiveChoice choice = ChooseNamedHive(line.hive);
    if (choice.exitStatus) {
        Say(err, choice.error);
        start.exitStatus = choice.exitStatus;
        return start;
    }
    // Without a display the toolkit would abort; say what is missing instead.
    if (!windowCanOpen(line.toolkitArguments)) {
        std::fprintf(err, "vantorio: cannot open the window: no display (DISPLAY and WAYLAND_DISPLAY are not set)\n");
        start.exitStatus = ExitUsage;
        return start;
    }
    // With nothing named, the default hive is made now, for the window that is about to open.
    if (!choice.named) start.exitStatus = MakeDefaultHive(err);
    if (start.exitStatus) return start;
    start.toolkitArguments = std::move(line.toolkitArguments);
    return start;
}

} // namespace startup
