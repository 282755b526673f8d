// Start-up benchmark: the time from exec until the main window is mapped (first exposed) and
// the peak resident memory by then, for Vantorio beside the plain Qt floor program, run
// alternately in the same session; medians of several runs and their ratios.
//
//   window_startup_bench [runs]      (default 15; under $DISPLAY when set, else offscreen)
//
// Vantorio runs on a default hive of its own in a temporary XDG_DATA_HOME, created by the
// first (warm-up) run, so its loads read a real Winlogon key. It is the program's copy with
// the start-up probe linked in, which the installed program does not have.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

extern char** environ;

namespace {

struct Sample {
    double ms;
    long maxRssKb;
};

long long monotonicNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (long long)now.tv_sec * 1000000000LL + now.tv_nsec;
}

bool runOnce(const char* program, const std::vector<std::string>& environment, Sample& sample) {
    int out[2];
    if (pipe(out) != 0) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);

    std::vector<char*> envp;
    for (const std::string& e : environment) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    char* argv[] = {const_cast<char*>(program), nullptr};

    const long long start = monotonicNs();
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, program, &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (rc != 0) {
        close(out[0]);
        return false;
    }
    std::string text;
    char buffer[256];
    ssize_t n;
    while ((n = read(out[0], buffer, sizeof buffer)) > 0) text.append(buffer, size_t(n));
    close(out[0]);
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    long long mapped = 0;
    if (std::sscanf(text.c_str(), "mapped %lld", &mapped) != 1) return false;
    sample.ms = double(mapped - start) / 1e6;
    sample.maxRssKb = usage.ru_maxrss;
    return true;
}

template <class T>
T median(std::vector<T> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 15;
    const std::filesystem::path data = std::filesystem::temp_directory_path() /
                                       ("vantorio-bench-" + std::to_string(getpid()));
    std::filesystem::create_directories(data);

    std::vector<std::string> environment;
    bool haveDisplay = false;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        if (entry.rfind("VANTORIO_SOFTWARE_HIVE=", 0) == 0 || entry.rfind("XDG_DATA_HOME=", 0) == 0)
            continue;
        if (entry.rfind("DISPLAY=", 0) == 0 && entry.size() > 8) haveDisplay = true;
        environment.push_back(entry);
    }
    if (!haveDisplay && !std::getenv("QT_QPA_PLATFORM")) environment.push_back("QT_QPA_PLATFORM=offscreen");
    environment.push_back("VANTORIO_BENCH_EXIT_ON_SHOW=1");
    environment.push_back("XDG_DATA_HOME=" + data.string());

    const char* programs[2] = {VANTORIO_PROGRAM, FLOOR_PROGRAM};
    std::vector<Sample> samples[2];
    Sample warm{};
    for (const char* program : programs)  // warm-up: caches, and Vantorio's default hive
        if (!runOnce(program, environment, warm)) {
            std::fprintf(stderr, "%s did not report its window\n", program);
            return 1;
        }
    for (int i = 0; i < runs; ++i)
        for (int p = 0; p < 2; ++p) {
            Sample s{};
            if (!runOnce(programs[p], environment, s)) {
                std::fprintf(stderr, "%s did not report its window\n", programs[p]);
                return 1;
            }
            samples[p].push_back(s);
        }
    std::filesystem::remove_all(data);

    double ms[2], fastest[2];
    long kb[2];
    for (int p = 0; p < 2; ++p) {
        std::vector<double> times;
        std::vector<long> rss;
        for (const Sample& s : samples[p]) times.push_back(s.ms), rss.push_back(s.maxRssKb);
        ms[p] = median(times);
        fastest[p] = *std::min_element(times.begin(), times.end());
        kb[p] = median(rss);
    }
    std::printf("window start-up, %d runs each, %s, medians\n", runs, haveDisplay ? "X display" : "offscreen");
    std::printf("  %-10s %8.1f ms to mapped (fastest %.1f)  %7.1f MB peak RSS\n", "vantorio", ms[0],
                fastest[0], kb[0] / 1024.0);
    std::printf("  %-10s %8.1f ms to mapped (fastest %.1f)  %7.1f MB peak RSS\n", "floor", ms[1], fastest[1],
                kb[1] / 1024.0);
    std::printf("  ratio      %8.3fx time (target 1.15x; fastest %.3fx)  %.3fx memory (target 1.10x)\n",
                ms[0] / ms[1], fastest[0] / fastest[1], double(kb[0]) / double(kb[1]));
    return 0;
}
