#include "commands/commands.h"

#include <optional>
#include <string>

#include "commands/run.h"
#include "commands/values.h"
#include "commands/words.h"
#include "platform/console.h"
#include "platform/registry.h"
#include "platform/utf8.h"

#ifndef _WIN32
#include "platform/hive/choice.h"
#include "startup/startup.h"
#endif

namespace commands {

namespace {

constexpr const char* WinlogonKey = "Software\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon";

// Chooses the hive as the window's start does: an exit status when it cannot be used.
std::optional<int> chooseHive(const CommandLine& line, const Io& io) {
#ifdef _WIN32
    if (line.hive) return io.fail(ExitUsage, "a hive file can be named on Linux only; here the commands work on this machine's registry");
    return std::nullopt;
#else
    // A script names the hive it means: an unset variable in its command line must not lead
    // it to the window's default hive.
    if (line.hive && line.hive->empty())
        return io.fail(ExitUsage, "the hive named is empty: name the SOFTWARE hive (HIVE, or VANTORIO_SOFTWARE_HIVE)");
    if (!line.hive && platform::hive::variableHivePath().empty())
        return io.fail(ExitUsage, "no hive named: name the SOFTWARE hive (HIVE, or VANTORIO_SOFTWARE_HIVE); the commands never use the window's default hive");
    const startup::HiveChoice choice = startup::ChooseNamedHive(line.hive);
    if (choice.exitStatus) return io.fail(*choice.exitStatus, choice.error);
    return std::nullopt;
#endif
}

// Whether the Winlogon key can be read: an exit status when it cannot, for a hive without it
// is no SOFTWARE hive, and a window on it would only show defaults.
std::optional<int> checkKey(const Io& io) {
    platform::Key key = 0;
    const platform::Status opened = platform::RegOpenKeyExA(platform::LocalMachine, WinlogonKey, 0, platform::KeyRead, &key);
    const platform::FailureDetail detail = platform::LastFailureDetail();
    platform::RegCloseKey(key);
    if (opened == platform::status::Success) return std::nullopt;
#ifdef _WIN32
    const std::string where = "the registry";
#else
    const std::string where = Quoted(platform::hive::chosenHive().path);
#endif
    // The hive itself may say why (gone since the start, a link in its place, ...).
    if (const std::string why = FailureDetailWords(detail); !why.empty())
        return io.fail(ExitUsage, "cannot read " + where + ": " + StatusWords(opened) + ": " + why);
    if (opened == platform::status::FileNotFound)
        return io.fail(ExitUsage, where + " has no key " + WinlogonKey + ": name the SOFTWARE hive of a Windows installation");
    return io.fail(ExitUsage, "cannot read " + where + ": " + StatusWords(opened));
}

} // namespace

void Io::say(const std::string& line) const {
    // What came from outside is escaped already; nothing else may act on the terminal either.
    platform::console::write(err, platform::console::escaped(platform::fromUtf8Lenient("vantorio: " + std::string(command) + ": " + line), false) + u"\n");
}

bool IsCommand(std::span<const std::string_view> arguments) { return CommandOf(arguments).has_value(); }

int Run(std::span<const std::string_view> arguments, std::FILE* out, std::FILE* err) {
    const CommandLine line = ParseCommand(arguments);
    const Io io{out, err, CommandName(line.command)};
    if (line.help) {
        const std::string help = CommandHelp(line.command);
        if (std::fputs(help.c_str(), out) < 0 || std::fflush(out) != 0) return io.fail(ExitRefused, "cannot write to standard output");
        return 0;
    }
    if (!line.error.empty()) {
        io.fail(ExitUsage, line.error);
        std::fputs(CommandUsage(line.command).c_str(), err);
        return ExitUsage;
    }
    if (const std::optional<int> status = chooseHive(line, io)) return *status;
    if (const std::optional<int> status = checkKey(io)) return *status;
    return line.command == CommandLine::Command::Show ? Show(line, io) : Set(line, io);
}

} // namespace commands
