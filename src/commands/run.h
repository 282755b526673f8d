// What the two commands share: where they write, and how they say what went wrong. Private to
// the commands.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

#include "commands/command_line.h"
#include "commands/commands.h"

namespace commands {

struct Io {
    std::FILE* out;
    std::FILE* err;
    std::string_view command; // "show" or "set"

    // One line on standard error, "vantorio: COMMAND: ...", in the terminal's encoding.
    void say(const std::string& line) const;
    // The same, for a failure: the status.
    int fail(int status, const std::string& line) const {
        say(line);
        return status;
    }
};

// The commands, once the hive is chosen and its Winlogon key found readable.
int Show(const CommandLine& line, const Io& io);
int Set(const CommandLine& line, const Io& io);

} // namespace commands
