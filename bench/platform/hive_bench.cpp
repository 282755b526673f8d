// How long the settings store's registry work takes on a large SOFTWARE hive, beside what the
// file system needs at least for the same work:
//   reading:  open + seven queries + close, beside reading the whole file once;
//   writing:  open + five sets + close (its commit), and every value set, beside copying the
//             file and flushing the copy (read + write + fsync), which replacing a whole hive
//             must do at least; each commit walks every reference of the hive beside its copy;
//   a dirty hive: the same hive left by a crash with about 3 MB of its changes in its two logs,
//             loaded (open + seven queries + close, which replays the logs) beside a load of the
//             clean hive and one read of the logs into memory of its own (the replay holds what
//             the logs give in memory of its own too), and written (open + five sets + close,
//             which replays them first) beside copying and flushing, as above;
//   growth:   how much the hive grows over 20 commits of a new 1 MB value, beside twice that
//             value, on the default hive and on the large one (in a folder in memory: the
//             figure does not depend on the disk).
// Usage: vantorio_hive_bench [megabytes=100] [rounds=7] [folder]
// With a folder, the hive is made there once and kept for later runs; else in a temporary one.
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include "big_hive.h"
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
    const bench::LargeHive hive(argc, argv);
    const std::string& file = hive.file;

    // Warm the page cache once, as a user who opens the hive twice would find it.
    bench::readFloor(file);
    readSettings();

    std::vector<double> readFloors, reads, copyFloors, writes, writesAll;
    for (int r = 0; r < hive.rounds; ++r) {
        readFloors.push_back(timeOnce([&] { bench::readFloor(file); }));
        reads.push_back(timeOnce(readSettings));
        copyFloors.push_back(timeOnce([&] { bench::copyFloor(file, hive.copy); }));
        ::unlink(hive.copy.c_str());
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

    // The same hive left dirty, its last changes in its logs.
    const std::string dirtyFolder = hive.folder.path + "/dirty", pristine = hive.folder.path + "/pristine";
    const std::string dirty = bench::makeDirtyCopy(file, dirtyFolder, std::size_t{3} << 20, [](const std::string& copy) {
        setenv("VANTORIO_SOFTWARE_HIVE", copy.c_str(), 1);
        writeSettings(-1, 5);
    });
    std::filesystem::create_directories(pristine);
    std::filesystem::copy_file(dirty, pristine + "/SOFTWARE", std::filesystem::copy_options::overwrite_existing);
    const std::string logs[] = {dirtyFolder + "/SOFTWARE.LOG1", dirtyFolder + "/SOFTWARE.LOG2"};
    const double logMegabytes = static_cast<double>(std::filesystem::file_size(logs[0]) + std::filesystem::file_size(logs[1])) / 1e6;
    auto useDirty = [&] { setenv("VANTORIO_SOFTWARE_HIVE", dirty.c_str(), 1); };
    auto useClean = [&] { setenv("VANTORIO_SOFTWARE_HIVE", file.c_str(), 1); };
    useDirty();
    readSettings();
    std::vector<double> dirtyReads, loadFloors, dirtyWrites;
    for (int r = 0; r < hive.rounds; ++r) {
        useClean();
        const double clean = timeOnce(readSettings);
        const double logsRead = timeOnce([&] {
            for (const std::string& log : logs) bench::readIntoNewMemory(log);
        });
        loadFloors.push_back(clean + logsRead);
        // The register writes the file clean: each round begins from the dirty one again.
        std::filesystem::copy_file(pristine + "/SOFTWARE", dirty, std::filesystem::copy_options::overwrite_existing);
        bench::flush(dirty);
        bench::readFloor(dirty); // in the page cache, as the clean hive is
        useDirty();
        dirtyReads.push_back(timeOnce(readSettings));
        dirtyWrites.push_back(timeOnce([&] { writeSettings(r, 5); }));
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
    std::printf("dirty hive: %.1f MB of logs beside it\n", logMegabytes);
    bench::line("dirty: open + 7 queries + close", bench::median(dirtyReads), "clean load + read the logs",
                bench::median(loadFloors), 1.2);
    bench::line("dirty: open + 5 sets + close", bench::median(dirtyWrites), "read + write + fsync",
                bench::median(copyFloors), 1.2);
    useClean();

    const bench::GrowthHives growth(file);
    bigValueGrowth(growth.fresh, "growth: 20 x 1 MB value, default");
    bigValueGrowth(growth.large, "growth: 20 x 1 MB value, large");
    return 0;
}
