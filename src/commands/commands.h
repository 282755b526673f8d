// The commands for scripts: `vantorio show` prints the logon settings as the window would show
// them, `vantorio set` changes them as a user would in the window, then registers. Both run
// the window's own procedures (Form1, Module1) on its controls held in memory: one set of
// rules, no display and no toolkit.
#pragma once

#include <cstdio>
#include <span>
#include <string_view>

namespace commands {

// Whether the arguments (the program's name first) name a command rather than the window.
bool IsCommand(std::span<const std::string_view> arguments);

// Runs the command that the arguments name. Its exit status: 0 done; 1 register refused; 2 a
// bad command line, a setting the window would refuse, or a hive that cannot be used.
int Run(std::span<const std::string_view> arguments, std::FILE* out, std::FILE* err);

inline constexpr int ExitRefused = 1;
inline constexpr int ExitUsage = 2;

} // namespace commands
