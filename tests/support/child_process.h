// Running part of a test in a child process, or a program or a command of the system: to hold a hive open from
// another process, to act as an unprivileged user (root may write any file), or to mount a small file system.
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

// A child process forked to run `body`, which reports numbers to the parent; the child writes
// nothing else anywhere. Several may run at once; the parent waits for each.
class Child {
public:
    Child(const ChildOptions& options, const std::function<std::vector<long>()>& body);
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    ~Child();  // waits, when the parent has not

    // Waits until the body has called readyInChild(); false when the child ended without.
    bool ready();
    // Waits for the child's end: the numbers the body returned, and a trailing -1 when the
    // child crashed or exited early.
    std::vector<long> wait();

private:
    int pid_ = -1;
    int report_ = -1, ready_ = -1;
};
// In the body of a Child: tells the parent that the body got as far as this (Child::ready).
void readyInChild();

// Runs `body` in a child and waits for it: the numbers it returned (see Child::wait).
std::vector<long> inChild(const ChildOptions& options, const std::function<std::vector<long>()>& body);

// Whether this process may switch users (it runs as root).
bool isRoot();

// A program started as a user starts it, with its exit status and what it wrote.
struct Launch {
    std::string program;                              // a path, or a name looked up on the PATH
    std::vector<std::string> arguments{};
    std::map<std::string, std::string> environment{};  // over a bare one: PATH, LC_ALL=C.UTF-8
    bool unprivileged = false;                          // as user and group 65534 when run as root
    bool stdoutFull = false;                            // standard output is /dev/full
    std::string input{};                                // standard input
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
