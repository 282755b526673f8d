// How long the settings store's registry work takes on a large SOFTWARE hive, beside what the
// file system needs at least for the same work:
//   reading:  open + seven queries + close, beside reading the whole file once;
//   writing:  open + five sets + close (its commit), and every value set, beside copying the
//             file and flushing the copy (read + write + fsync), which replacing a whole hive
//             must do at least; each commit walks every reference of the hive beside its copy;
//   growth:   how much the hive grows over 20 commits of a new 1 MB value, beside twice that
//             value, on the default hive and on the large one (in a folder in memory: the
//             figure does not depend on the disk).
// Usage: vantorio_hive_bench [megabytes=100] [rounds=7] [folder]
// With a folder, the hive is made there once and kept for later runs; else in a temporary one.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include "big_hive.h"
#include "platform/hive/choice.h"
#include "platform/registry.h"

namespace {

using namespace platform;
using bench::die;
using bench::Names;
using bench::timeOnce;
using bench::Winlogon;

void readSettings() {
    Key key = 0;
    if (RegOpenKeyExA(LocalMachine, Winlogon, 0, KeyAllAccess, &key) != 0) die("open failed");
    for (const char* name : Names) {
        std::uint8_t buffer[1024];
        std::uint32_t size = sizeof buffer;
        std::uint32_t type = RegSz;
        if (RegQueryValueExA(key, name, nullptr, &type, buffer, &size) != 0) die("query failed");
    }
    if (RegCloseKey(key) != 0) die("close failed");
}

void writeSettings(int round, int count) {
    Key key = 0;
    if (RegOpenKeyExA(LocalMachine, Winlogon, 0, KeyAllAccess, &key) != 0) die("open failed");
    const std::string text = "value " + std::to_string(round);
    for (int i = 0; i < count; ++i)
        if (RegSetValueExA(key, Names[i], 0, RegSz, reinterpret_cast<const std::uint8_t*>(text.c_str()),
                           static_cast<std::uint32_t>(text.size() + 1)) != 0)
            die("set failed");
    if (RegCloseKey(key) != 0) die("close (commit) failed");
}

// The hive at `file` over 20 commits, each of a new 1 MB value: how much it grew.
void bigValueGrowth(const std::string& file, const char* what) {
    constexpr std::size_t Megabyte = std::size_t{1} << 20;
    setenv("VANTORIO_SOFTWARE_HIVE", file.c_str(), 1);
    const std::uintmax_t before = std::filesystem::file_size(file);
    std::string data(Megabyte, '\0');
    const double ms = timeOnce([&] {
        for (int round = 0; round < 20; ++round) {
            for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7 + static_cast<std::size_t>(round));
            Key key = 0;
            if (RegOpenKeyExA(LocalMachine, Winlogon, 0, KeyAllAccess, &key) != 0) die("open failed");
            if (RegSetValueExA(key, "Large", 0, RegBinary, reinterpret_cast<const std::uint8_t*>(data.data()),
                               static_cast<std::uint32_t>(data.size())) != 0)
                die("set failed");
            if (RegCloseKey(key) != 0) die("close (commit) failed");
        }
    });
    bench::growthLine(what, "before", before, std::filesystem::file_size(file), 2 * Megabyte, ms / 1000);
}

} // namespace

int main(int argc, char** argv) {
    const std::size_t megabytes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 100;
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 7;
    const bench::Folder folder(argc, argv, 3);
    const std::string file = folder.path + "/SOFTWARE";
    const std::string copy = folder.path + "/copy";
    setenv("VANTORIO_SOFTWARE_HIVE", file.c_str(), 1);

    if (!std::filesystem::exists(file)) {
        const double made = timeOnce([&] { bench::makeHive(file, megabytes); });
        std::printf("hive made through hivex in %.0f ms\n", made);
    }
    std::printf("hive: %.1f MB in %s; %d rounds, medians\n",
                static_cast<double>(std::filesystem::file_size(file)) / 1e6, folder.path.c_str(), rounds);
    bench::prepareFloors(file);

    // Warm the page cache once, as a user who opens the hive twice would find it.
    bench::readFloor(file);
    readSettings();

    std::vector<double> readFloors, reads, copyFloors, writes, writesAll;
    for (int r = 0; r < rounds; ++r) {
        readFloors.push_back(timeOnce([&] { bench::readFloor(file); }));
        reads.push_back(timeOnce(readSettings));
        copyFloors.push_back(timeOnce([&] { bench::copyFloor(file, copy); }));
        ::unlink(copy.c_str());
        writes.push_back(timeOnce([&] { writeSettings(r, 5); }));
        // The commit lets go of the replaced file beside the caller; let the file system
        // finish that before the next floor is timed, so that it does not slow the floor.
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        writesAll.push_back(timeOnce([&] { writeSettings(r, static_cast<int>(std::size(Names))); }));
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
    bench::line("open + 7 queries + close", bench::median(reads), "read the file once", bench::median(readFloors), 1.2);
    bench::line("open + 5 sets + close (commit)", bench::median(writes), "read + write + fsync",
                bench::median(copyFloors), 1.2);
    bench::line("every value set + close (commit)", bench::median(writesAll), "read + write + fsync",
                bench::median(copyFloors), 1.2);

    const bench::Folder memory{bench::Folder::InMemory{}};
    const std::string fresh = memory.path + "/default/SOFTWARE";
    if (hive::ensureDefaultHive(fresh) != status::Success) die("no default hive");
    const std::string large = memory.path + "/SOFTWARE";
    std::filesystem::copy_file(file, large);
    bigValueGrowth(fresh, "growth: 20 x 1 MB value, default");
    bigValueGrowth(large, "growth: 20 x 1 MB value, large");
    return 0;
}
