// Running part of a test in a child process, or a command of the system: to hold a hive open from another process, to
// act as an unprivileged user (root may write any file), or to mount a small file system.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace platformtest {

// The user and group an unprivileged child runs as when the test runs as root.
inline constexpr unsigned Nobody = 65534;

struct ChildOptions {
    // Run as user and group 65534 when the test runs as root; `handOver` (a folder) is
    // given to that user first, with all it holds.
    bool unprivileged = false;
    std::string handOver;
};

// Runs `body` in a forked child and returns the numbers it reported; the child writes
// nothing else anywhere. A child that crashes or exits early reports a trailing -1.
std::vector<long> inChild(const ChildOptions& options, const std::function<std::vector<long>()>& body);

// Whether this process may switch users (it runs as root).
bool isRoot();

// A program started as a user starts it, with its exit status and what it wrote.
struct Launch {
    std::string program;
    std::vector<std::string> arguments;
    std::map<std::string, std::string> environment;  // on top of a bare one: PATH, LC_ALL=C.UTF-8
    bool unprivileged = false;                        // as user and group 65534 when run as root
    bool stdoutFull = false;                          // standard output is /dev/full
    std::string input;                                // standard input
};
struct Outcome {
    int status = -1;  // the exit status, or 128 + the signal
    std::string out, err;
};
// Exit status of a child that could not start the program (as the unprivileged user).
inline constexpr int CannotExec = 127;
Outcome launch(const Launch& launch);

// Whether a program of that name is on the PATH.
bool have(const std::string& program);
// What a shell command writes to its standard output.
std::string outputOf(const std::string& command);

} // namespace platformtest
