#include "commands/commands.h"

#include <optional>
#include <string>

#include "commands/run.h"
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
    const startup::HiveChoice choice = startup::ChooseNamedHive(line.hive, io.err);
    if (choice.exitStatus) return choice.exitStatus;
    if (!choice.named) return startup::MakeDefaultHive(io.err);
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
    const std::string where = "'" + platform::hive::chosenHive().path + "'";
#endif
    // The hive itself may say why (gone since the start, a link in its place, ...).
    if (const std::string why = FailureDetailWords(detail); !why.empty())
        return io.fail(ExitUsage, "cannot read " + where + ": " + StatusWords(opened) + ": " + why);
    if (opened == platform::status::FileNotFound)
        return io.fail(ExitUsage, where + " has no key " + WinlogonKey + ": name the SOFTWARE hive of a Windows installation");
    return io.fail(ExitUsage, "cannot read " + where + ": " + StatusWords(opened));
}

} // namespace

int Io::fail(int status, const std::string& line) const {
    platform::console::write(err, platform::fromUtf8Lenient("vantorio: " + std::string(command) + ": " + line + "\n"));
    return status;
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
