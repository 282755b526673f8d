#include "child_process.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <signal.h>
#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

namespace platformtest {

bool isRoot() { return geteuid() == 0; }

bool have(const std::string& program) {
    return std::system(("command -v '" + program + "' >/dev/null 2>&1").c_str()) == 0;
}

std::string outputOf(const std::string& command) {
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return out;
    char buffer[4096];
    for (std::size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
    pclose(pipe);
    return out;
}

Outcome launch(const Launch& launch) {
    std::map<std::string, std::string> variables = {{"PATH", "/usr/bin:/bin"}, {"LC_ALL", "C.UTF-8"}};
    for (const auto& [name, value] : launch.environment) variables[name] = value;
    std::vector<std::string> env;
    for (const auto& [name, value] : variables) env.push_back(name + "=" + value);
    std::vector<std::string> args = launch.arguments;
    std::vector<char*> envp, argv{const_cast<char*>(launch.program.c_str())};
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    int in[2], out[2], err[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) return {};
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(in[0], 0);
        dup2(launch.stdoutFull ? open("/dev/full", O_WRONLY) : out[1], 1);
        dup2(err[1], 2);
        if (launch.unprivileged && isRoot() && (setgroups(0, nullptr) != 0 || setgid(Nobody) != 0 || setuid(Nobody) != 0))
            _exit(CannotExec);
        execvpe(launch.program.c_str(), argv.data(), envp.data());
        _exit(CannotExec);
    }
    close(in[0]);
    close(out[1]);
    close(err[1]);
    // Standard input is written while the output is read, so that neither side waits for the other.
    Outcome outcome;
    std::string_view input = launch.input;
    if (input.empty()) close(in[1]);
    pollfd fds[3] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}, {input.empty() ? -1 : in[1], POLLOUT, 0}};
    std::string* sinks[2] = {&outcome.out, &outcome.err};
    int open = 2;
    while (open > 0 && poll(fds, 3, 60000) > 0) {
        if (fds[2].fd >= 0 && (fds[2].revents & (POLLOUT | POLLERR | POLLHUP))) {
            const ssize_t n = write(fds[2].fd, input.data(), input.size());
            if (n > 0) input.remove_prefix(std::size_t(n));
            if (n <= 0 || input.empty()) {
                close(fds[2].fd);
                fds[2].fd = -1;
            }
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            char buffer[4096];
            const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                sinks[i]->append(buffer, std::size_t(n));
            } else {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    for (const pollfd& f : fds)
        if (f.fd >= 0) close(f.fd);
    if (open > 0) kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return outcome;
}

namespace {
// The write end of the pipe a Child's body tells the parent through that it is ready.
int readyPipe = -1;
} // namespace

Child::Child(const ChildOptions& options, const std::function<std::vector<long>()>& body) {
    int report[2], ready[2];
    if (pipe2(report, O_CLOEXEC) != 0) return;
    if (pipe2(ready, O_CLOEXEC) != 0) {
        close(report[0]);
        close(report[1]);
        return;
    }
    pid_ = fork();
    if (pid_ == 0) {
        close(report[0]);
        close(ready[0]);
        readyPipe = ready[1];
        if (options.unprivileged && isRoot()) {
            namespace fs = std::filesystem;
            std::error_code ec;
            if (!options.handOver.empty()) {
                if (lchown(options.handOver.c_str(), Nobody, Nobody) != 0) _exit(3);
                for (auto it = fs::recursive_directory_iterator(options.handOver, ec);
                     !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
                    if (lchown(it->path().c_str(), Nobody, Nobody) != 0) _exit(3);
            }
            if (setgroups(0, nullptr) != 0 || setgid(Nobody) != 0 || setuid(Nobody) != 0) _exit(4);
        }
        const std::vector<long> numbers = body();
        const auto bytes = static_cast<ssize_t>(numbers.size() * sizeof(long));
        const bool whole = write(report[1], numbers.data(), static_cast<std::size_t>(bytes)) == bytes;
        _exit(whole ? 0 : 5);
    }
    close(report[1]);
    close(ready[1]);
    if (pid_ < 0) {
        close(report[0]);
        close(ready[0]);
        return;
    }
    report_ = report[0];
    ready_ = ready[0];
}

Child::~Child() {
    if (pid_ > 0) wait();
}

bool Child::ready() {
    char c = 0;
    return ready_ >= 0 && read(ready_, &c, 1) == 1;
}

std::vector<long> Child::wait() {
    if (pid_ <= 0) return {-1};
    std::vector<long> numbers;
    long value = 0;
    while (read(report_, &value, sizeof value) == sizeof value) numbers.push_back(value);
    close(report_);
    close(ready_);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = report_ = ready_ = -1;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) numbers.push_back(-1);
    return numbers;
}

void readyInChild() {
    if (readyPipe >= 0 && write(readyPipe, "r", 1) == 1) {
        close(readyPipe);
        readyPipe = -1;
    }
}

std::vector<long> inChild(const ChildOptions& options, const std::function<std::vector<long>()>& body) {
    return Child(options, body).wait();
}

} // namespace platformtest
