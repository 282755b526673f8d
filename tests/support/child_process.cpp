#include "child_process.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
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

std::vector<long> inChild(const ChildOptions& options, const std::function<std::vector<long>()>& body) {
    int fds[2];
    if (pipe(fds) != 0) return {-1};
    const pid_t pid = fork();
    if (pid < 0) return {-1};
    if (pid == 0) {
        close(fds[0]);
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
        const std::vector<long> report = body();
        const auto bytes = static_cast<ssize_t>(report.size() * sizeof(long));
        const bool whole = write(fds[1], report.data(), static_cast<std::size_t>(bytes)) == bytes;
        _exit(whole ? 0 : 5);
    }
    close(fds[1]);
    std::vector<long> report;
    long value = 0;
    while (read(fds[0], &value, sizeof value) == sizeof value) report.push_back(value);
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) report.push_back(-1);
    return report;
}

} // namespace platformtest
