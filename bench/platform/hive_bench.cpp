// How long the settings store's registry work takes on a large SOFTWARE hive, beside what the
// file system needs at least for the same work:
//   reading:  open + seven queries + close, beside reading the whole file once;
//   writing:  open + five sets + close (its commit), beside copying the file and flushing the
//             copy (read + write + fsync), which replacing a whole hive must do at least.
// Usage: vantorio_hive_bench [megabytes=100] [rounds=7] [folder]
// With a folder, the hive is made there once and kept for later runs; else in a temporary one.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <hivex.h>
#include <memory>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "platform/hive_format.h"
#include "platform/registry.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace platform;

constexpr const char* Winlogon = "Software\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon";
constexpr const char* Names[] = {"AutoAdminLogon",      "DefaultUserName",   "DefaultPassword",
                                 "DontDisplayLastUserName", "ShutdownWithoutLogon", "LegalNoticeCaption",
                                 "LegalNoticeText"};

[[noreturn]] void die(const char* what) {
    std::fprintf(stderr, "hive_bench: %s\n", what);
    std::exit(1);
}

std::string utf16(const std::string& ascii) {
    std::string out;
    for (char c : ascii) out += {c, '\0'};
    return out + std::string(2, '\0');
}

void writeAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n <= 0) die("write failed");
        data += n;
        size -= static_cast<std::size_t>(n);
    }
}

// A hive of about `megabytes` MB: the Winlogon key among many keys of binary values.
void makeHive(const std::string& file, std::size_t megabytes) {
    const std::string empty = hive::emptyHive(hive::filetimeNow());
    {
        const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (fd < 0) die("cannot create the hive");
        writeAll(fd, empty.data(), empty.size());
        ::close(fd);
    }
    hive_h* h = hivex_open(file.c_str(), HIVEX_OPEN_WRITE);
    if (!h) die("hivex cannot open the empty hive");
    const hive_node_h microsoft = hivex_node_add_child(h, hivex_root(h), "Microsoft");
    hive_node_h node = hivex_node_add_child(h, microsoft, "Windows NT");
    node = hivex_node_add_child(h, node, "CurrentVersion");
    node = hivex_node_add_child(h, node, "Winlogon");
    std::vector<std::string> data;
    for (const char* name : Names) data.push_back(utf16(std::string(name) == "LegalNoticeText" ? std::string(600, 'n') : "1"));
    std::vector<hive_set_value> values;
    for (std::size_t i = 0; i < std::size(Names); ++i)
        values.push_back({const_cast<char*>(Names[i]), hive_t_REG_SZ, data[i].size(), data[i].data()});
    if (!node || hivex_node_set_values(h, node, values.size(), values.data(), 0) != 0) die("cannot fill Winlogon");

    // Filler: groups of keys of ten 1000-byte values each.
    std::string blob(1000, '\0');
    for (std::size_t i = 0; i < blob.size(); ++i) blob[i] = static_cast<char>(i * 31);
    char names[10][8];
    std::vector<hive_set_value> filler;
    for (int i = 0; i < 10; ++i) {
        std::snprintf(names[i], sizeof names[i], "Value%d", i);
        filler.push_back({names[i], hive_t_REG_BINARY, blob.size(), blob.data()});
    }
    // A value costs its data cell, its value cell and its slot in the list: about 1380 bytes.
    const std::size_t keys = megabytes * 1000 * 1000 / (10 * 1380);
    for (std::size_t g = 0; g * 100 < keys; ++g) {
        char groupName[32];
        std::snprintf(groupName, sizeof groupName, "Group%03zu", g);
        const hive_node_h group = hivex_node_add_child(h, microsoft, groupName);
        for (std::size_t k = 0; k < 100 && g * 100 + k < keys; ++k) {
            char keyName[32];
            std::snprintf(keyName, sizeof keyName, "Key%03zu", k);
            const hive_node_h key = hivex_node_add_child(h, group, keyName);
            if (!key || hivex_node_set_values(h, key, filler.size(), filler.data(), 0) != 0) die("cannot fill");
        }
    }
    if (hivex_commit(h, nullptr, 0) != 0) die("cannot write the hive");
    hivex_close(h);
    // On the disk before anything is timed: its writeback would otherwise fall into some
    // rounds of either side at random.
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || fsync(fd) != 0) die("cannot flush the hive");
    ::close(fd);
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

template <class F>
double timeOnce(F&& f) {
    const auto start = Clock::now();
    f();
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// The floors read into one buffer made and touched beforehand, so that they count the file
// system's work alone.
std::string& buffer() {
    static std::string b;
    return b;
}

std::size_t readFile(const std::string& file) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) die("cannot open the hive");
    const auto size = static_cast<std::size_t>(lseek(fd, 0, SEEK_END));
    if (buffer().size() < size) die("buffer too small");
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = pread(fd, buffer().data() + done, size - done, static_cast<off_t>(done));
        if (n <= 0) die("read failed");
        done += static_cast<std::size_t>(n);
    }
    ::close(fd);
    return size;
}

void readFloor(const std::string& file) {
    if (readFile(file) < 4096) die("short hive");
}

void copyFloor(const std::string& file, const std::string& copy) {
    const std::size_t size = readFile(file);
    const int fd = ::open(copy.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) die("cannot create the copy");
    writeAll(fd, buffer().data(), size);
    if (fsync(fd) != 0) die("fsync failed");
    ::close(fd);
}

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

void writeSettings(int round) {
    Key key = 0;
    if (RegOpenKeyExA(LocalMachine, Winlogon, 0, KeyAllAccess, &key) != 0) die("open failed");
    const std::string text = "value " + std::to_string(round);
    for (int i = 0; i < 5; ++i)
        if (RegSetValueExA(key, Names[i], 0, RegSz, reinterpret_cast<const std::uint8_t*>(text.c_str()),
                           static_cast<std::uint32_t>(text.size() + 1)) != 0)
            die("set failed");
    if (RegCloseKey(key) != 0) die("close (commit) failed");
}

void line(const char* what, double ms, const char* floorWhat, double floorMs) {
    std::printf("%-34s %9.2f ms   floor (%s) %9.2f ms   ratio %.2f (target 1.20)\n", what, ms, floorWhat, floorMs,
                ms / floorMs);
}

} // namespace

int main(int argc, char** argv) {
    const std::size_t megabytes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 100;
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 7;

    char pattern[] = "/tmp/vantorio-bench-XXXXXX";
    const bool keep = argc > 3;
    if (!keep && !mkdtemp(pattern)) die("no temporary folder");
    const std::string folder = keep ? argv[3] : pattern;
    const std::string file = folder + "/SOFTWARE";
    const std::string copy = folder + "/copy";
    setenv("VANTORIO_SOFTWARE_HIVE", file.c_str(), 1);

    if (!keep || !std::filesystem::exists(file)) {
        std::filesystem::create_directories(folder);
        const double made = timeOnce([&] { makeHive(file, megabytes); });
        std::printf("hive made through hivex in %.0f ms\n", made);
    }
    std::printf("hive: %.1f MB in %s; %d rounds, medians\n",
                static_cast<double>(std::filesystem::file_size(file)) / 1e6, folder.c_str(), rounds);
    buffer().assign(std::filesystem::file_size(file) * 2, '\1');

    // Warm the page cache once, as a user who opens the hive twice would find it.
    readFloor(file);
    readSettings();

    std::vector<double> readFloors, reads, copyFloors, writes;
    for (int r = 0; r < rounds; ++r) {
        readFloors.push_back(timeOnce([&] { readFloor(file); }));
        reads.push_back(timeOnce(readSettings));
        copyFloors.push_back(timeOnce([&] { copyFloor(file, copy); }));
        ::unlink(copy.c_str());
        writes.push_back(timeOnce([&] { writeSettings(r); }));
        // The commit lets go of the replaced file beside the caller; let the file system
        // finish that before the next floor is timed, so that it does not slow the floor.
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
    line("open + 7 queries + close", median(reads), "read the file once", median(readFloors));
    line("open + 5 sets + close (commit)", median(writes), "read + write + fsync", median(copyFloors));

    if (!keep) std::filesystem::remove_all(folder);
    return 0;
}
