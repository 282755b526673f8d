// The commands for scripts on a large hive, whole processes, beside their floors measured in the
// same run: `vantorio show` beside `vantorio --version` (what starting the program costs at all)
// and beside hivexsh reading the same values; `vantorio set` of every value beside copying the
// hive and flushing the copy (what an atomic replace of the whole file must do at least).
//
//   vantorio_commands_bench [megabytes] [runs] [folder]    (default 100 MB, 11 runs, a temporary folder)
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "big_hive.h"

extern char** environ;

namespace {

struct Sample {
    double ms = 0;
    double peakMb = 0;
};

// Runs a command to its end on the standard input `input` (or this one's, when negative), its
// output to `output` (or thrown away): the time it took and its peak resident memory.
Sample spawn(const std::vector<std::string>& command, int input, int output) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (input > 0) posix_spawn_file_actions_adddup2(&actions, input, 0);
    if (output >= 0) posix_spawn_file_actions_adddup2(&actions, output, 1);
    else posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::vector<char*> argv;
    for (const std::string& c : command) argv.push_back(const_cast<char*>(c.c_str()));
    argv.push_back(nullptr);
    Sample sample;
    pid_t pid = 0;
    int status = 0;
    rusage usage{};
    sample.ms = bench::timeOnce([&] {
        if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) bench::die(argv[0]);
        wait4(pid, &status, 0, &usage);
    });
    posix_spawn_file_actions_destroy(&actions);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) bench::die(argv[0]);
    sample.peakMb = usage.ru_maxrss / 1024.0;
    return sample;
}

// The command run by a small process of its own (this program again, with --measure), so that
// its peak memory is its own: a child's peak counts the memory of the process it was forked
// from, and this one holds a large hive's floors.
Sample run(const std::vector<std::string>& command, const std::string& input = {}) {
    int in[2], out[2];
    if (pipe(in) != 0 || pipe(out) != 0) bench::die("pipe");
    std::vector<std::string> measured{"/proc/self/exe", "--measure"};
    measured.insert(measured.end(), command.begin(), command.end());
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, in[1]);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    std::vector<char*> argv;
    for (const std::string& c : measured) argv.push_back(const_cast<char*>(c.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) bench::die("spawn");
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);
    if (!input.empty() && write(in[1], input.data(), input.size()) < 0) bench::die("write");
    close(in[1]);
    char report[128] = {};
    const ssize_t n = read(out[0], report, sizeof report - 1);
    close(out[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    Sample sample;
    if (n <= 0 || std::sscanf(report, "%lf %lf", &sample.ms, &sample.peakMb) != 2) bench::die(command[0].c_str());
    return sample;
}

Sample median(const std::vector<Sample>& samples) {
    std::vector<double> ms, mb;
    for (const Sample& s : samples) ms.push_back(s.ms), mb.push_back(s.peakMb);
    return {bench::median(ms), bench::median(mb)};
}

} // namespace

int main(int argc, char** argv) {
    if (argc > 2 && std::string_view(argv[1]) == "--measure") {
        const Sample s = spawn(std::vector<std::string>(argv + 2, argv + argc), -1, -1);
        std::printf("%f %f\n", s.ms, s.peakMb);
        return 0;
    }
    const std::size_t megabytes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 100;
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 11;
    const bench::Folder folder(argc, argv, 3);
    const std::string file = folder.path + "/SOFTWARE";
    const std::string copy = folder.path + "/copy";
    if (!std::filesystem::exists(file)) bench::makeHive(file, megabytes);
    std::printf("hive: %.1f MB in %s; %d runs, medians\n", static_cast<double>(std::filesystem::file_size(file)) / 1e6,
                folder.path.c_str(), runs);
    bench::prepareFloors(file);

    const std::vector<std::string> version{VANTORIO_PROGRAM, "--version"};
    const std::vector<std::string> show{VANTORIO_PROGRAM, "show", file};
    const std::vector<std::string> hivexsh{"sh", "-c", "printf 'cd Microsoft\\\\Windows NT\\\\CurrentVersion\\\\Winlogon\\nlsval\\n' | hivexsh '" + file + "'"};
    auto set = [&](int round) {
        const std::string n = std::to_string(round);
        return std::vector<std::string>{VANTORIO_PROGRAM, "set", "--auto-logon=on", "--user=user" + n, "--password-stdin",
                                        "--notice=on", "--caption=caption " + n, "--notice-text=text " + n, file};
    };
    run(version), run(show), run(hivexsh);  // warm-up: caches
    std::vector<Sample> versions, shows, hivexshs, sets;
    std::vector<double> copies;
    for (int r = 0; r < runs; ++r) {
        versions.push_back(run(version));
        shows.push_back(run(show));
        hivexshs.push_back(run(hivexsh));
        copies.push_back(bench::timeOnce([&] { bench::copyFloor(file, copy); }));
        ::unlink(copy.c_str());
        sets.push_back(run(set(r), "password " + std::to_string(r) + "\n"));
    }
    const Sample v = median(versions), s = median(shows), h = median(hivexshs), w = median(sets);
    bench::line("show: the whole process", s.ms, "vantorio --version", v.ms, 1.2);
    std::printf("%-34s %9.1f MB   beside --version %9.1f MB   ratio %.2f; hivexsh: %.1f ms, %.1f MB\n",
                "show: peak resident memory", s.peakMb, v.peakMb, s.peakMb / v.peakMb, h.ms, h.peakMb);
    bench::line("set of every value: whole process", w.ms, "copy + fsync", bench::median(copies), 1.2);
    return 0;
}
