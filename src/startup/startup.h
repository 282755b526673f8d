// What the program does on POSIX systems before its window: reads the command line and the
// environment, answers --help, --version and a bad command line, checks a hive that the
// command line or the environment names and makes it the hive of the process, or else makes
// the default hive where there is none yet.
#pragma once

#include <cstdio>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace startup {

struct Start {
    // Set when the program ends here, without a window, with this status.
    std::optional<int> exitStatus;
    // The arguments for the toolkit: the program's name and the toolkit's own options.
    std::vector<std::string> toolkitArguments;
};

// The hive that the argument or else the variable names, checked and made the hive of the
// process (the root of a Windows installation names the hive below it): `named` unless neither
// names one, and an exit status when it cannot be used, with the line that says why (its path
// escaped, without the program's name).
struct HiveChoice {
    bool named = false;
    std::optional<int> exitStatus;
    std::string error;
};
HiveChoice ChooseNamedHive(const std::optional<std::string>& argument);

// Makes the default hive unless it is there: an exit status after one line on `err` when it
// cannot be made.
std::optional<int> MakeDefaultHive(std::FILE* err);

// Help and the version go to `out`; a usage error, an unusable hive or a default hive that
// cannot be made is reported on `err` (one line, then the synopsis for a usage error).
Start Prepare(std::span<const std::string_view> arguments, std::FILE* out, std::FILE* err);

} // namespace startup
