#include "big_hive.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <fcntl.h>
#include <hivex.h>
#include <sys/mman.h>
#include <unistd.h>

#include "hive_logs.h"
#include "platform/bytes.h"
#include "platform/hive/choice.h"
#include "platform/hive/hive.h"
#include "platform/registry.h"

namespace bench {

namespace {

// The floors read into this one buffer, made and touched beforehand.
std::string& buffer() {
    static std::string b;
    return b;
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

std::string contents(const std::string& file) {
    std::string out(std::filesystem::file_size(file), '\0');
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) die("cannot open a file");
    for (std::size_t done = 0; done < out.size();) {
        const ssize_t n = pread(fd, out.data() + done, out.size() - done, static_cast<off_t>(done));
        if (n <= 0) die("read failed");
        done += static_cast<std::size_t>(n);
    }
    ::close(fd);
    return out;
}

// A file of these bytes, flushed.
void write(const std::string& file, const std::string& bytes) {
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) die("cannot create a file");
    writeAll(fd, bytes.data(), bytes.size());
    if (fsync(fd) != 0) die("fsync failed");
    ::close(fd);
}

} // namespace

[[noreturn]] void die(const char* what) {
    std::fprintf(stderr, "bench: %s\n", what);
    std::exit(1);
}

void makeHive(const std::string& file, std::size_t megabytes) {
    const std::string empty = platform::hive::emptyHive(platform::hive::filetimeNow());
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
    flush(file);
}

void flush(const std::string& file) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || fsync(fd) != 0) die("cannot flush a file");
    ::close(fd);
}

std::string makeDirtyCopy(const std::string& file, const std::string& folder, std::size_t logBytes,
                          const std::function<void(const std::string&)>& change) {
    namespace regf = platform::hive::regf;
    std::filesystem::create_directories(folder);
    const std::string copy = folder + "/SOFTWARE";
    std::filesystem::copy_file(file, copy, std::filesystem::copy_options::overwrite_existing);
    std::string before = contents(file);
    change(copy);
    const std::string after = contents(copy);
    const std::uint32_t first = platform::le32(before, regf::Sequence1) + 1;
    std::vector<testsupport::LogEntry> entries{testsupport::entryBetween(before, after, first)};
    constexpr std::size_t Run = 16 * 4096;
    const std::uint32_t bins = platform::le32(after, regf::BinsSize);
    const std::size_t runs = std::max<std::size_t>(logBytes / Run, 2);
    for (std::size_t i = 0; i < runs; ++i) {
        const std::size_t at = std::min<std::size_t>(bins / runs * i / 4096 * 4096, bins - Run);
        entries.push_back({first + 1 + static_cast<std::uint32_t>(i), bins,
                           {{static_cast<std::uint32_t>(at), after.substr(platform::hive::BaseBlockSize + at, Run)}}});
    }
    testsupport::leaveDirty(before, first);
    const std::size_t half = entries.size() / 2;
    write(copy, before);
    write(folder + "/SOFTWARE.LOG1", testsupport::newFormatLog(before, first, {entries.begin(), entries.begin() + half}));
    write(folder + "/SOFTWARE.LOG2", testsupport::newFormatLog(before, first + half, {entries.begin() + half, entries.end()}));
    return copy;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

void readFloor(const std::string& file) {
    if (readFile(file) < 4096) die("short hive");
}

void readIntoNewMemory(const std::string& file) {
    const std::size_t size = std::filesystem::file_size(file);
    void* into = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (into == MAP_FAILED || fd < 0) die("cannot read a file");
    for (std::size_t done = 0; done < size;) {
        const ssize_t n = pread(fd, static_cast<char*>(into) + done, size - done, static_cast<off_t>(done));
        if (n <= 0) die("read failed");
        done += static_cast<std::size_t>(n);
    }
    ::close(fd);
    munmap(into, size);
}

void copyFloor(const std::string& file, const std::string& copy) {
    const std::size_t size = readFile(file);
    const int fd = ::open(copy.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) die("cannot create the copy");
    writeAll(fd, buffer().data(), size);
    if (fsync(fd) != 0) die("fsync failed");
    ::close(fd);
}

void prepareFloors(const std::string& file) { buffer().assign(std::filesystem::file_size(file) * 2, '\1'); }

void line(const char* what, double ms, const char* floorWhat, double floorMs, double target) {
    std::printf("%-34s %9.2f ms   floor (%s) %9.2f ms   ratio %.2f (target %.2f)\n", what, ms, floorWhat, floorMs,
                ms / floorMs, target);
}

void growthLine(const char* what, const char* fromWhat, std::uintmax_t from, std::uintmax_t to, std::uintmax_t bound,
                double seconds) {
    auto size = [](std::uintmax_t bytes) {
        char text[32];
        if (bytes < 10'000'000) std::snprintf(text, sizeof text, "%.1f KB", static_cast<double>(bytes) / 1024);
        else std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / 1e6);
        return std::string(text);
    };
    const double grew = static_cast<double>(to) - static_cast<double>(from);
    std::printf("%-34s %+9.1f KB   bound %9.1f KB   ratio %.2f (target 1.00)   %s %s, at the end %s (%.0f s)\n", what,
                grew / 1024, static_cast<double>(bound) / 1024, grew / static_cast<double>(bound), fromWhat,
                size(from).c_str(), size(to).c_str(), seconds);
}

Folder::Folder(InMemory) : keep(false) {
    char memory[] = "/dev/shm/vantorio-bench-XXXXXX";
    char disk[] = "/tmp/vantorio-bench-XXXXXX";
    if (std::filesystem::is_directory("/dev/shm") && mkdtemp(memory)) path = memory;
    else if (mkdtemp(disk)) path = disk;
    else die("no temporary folder");
}

Folder::Folder(int argc, char** argv, int index) : keep(argc > index && argv[index][0] != '\0') {
    if (keep) {
        path = argv[index];
        std::filesystem::create_directories(path);
        return;
    }
    char pattern[] = "/tmp/vantorio-bench-XXXXXX";
    if (!mkdtemp(pattern)) die("no temporary folder");
    path = pattern;
}

Folder::~Folder() {
    if (!keep) std::filesystem::remove_all(path);
}

LargeHive::LargeHive(int argc, char** argv)
    : rounds(argc > 2 ? std::max(1, std::atoi(argv[2])) : 7), folder(argc, argv, 3), file(folder.path + "/SOFTWARE"),
      copy(folder.path + "/copy") {
    const std::size_t megabytes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 100;
    setenv("VANTORIO_SOFTWARE_HIVE", file.c_str(), 1);
    if (!std::filesystem::exists(file)) {
        const double made = timeOnce([&] { makeHive(file, megabytes); });
        std::printf("hive made through hivex in %.0f ms\n", made);
    }
    std::printf("hive: %.1f MB in %s; %d rounds, medians\n", static_cast<double>(std::filesystem::file_size(file)) / 1e6,
                folder.path.c_str(), rounds);
    prepareFloors(file);
}

GrowthHives::GrowthHives(const std::string& from)
    : memory(Folder::InMemory{}), fresh(memory.path + "/default/SOFTWARE"), large(memory.path + "/SOFTWARE") {
    if (platform::hive::ensureDefaultHive(fresh) != platform::status::Success) die("no default hive");
    std::filesystem::copy_file(from, large);
}

} // namespace bench
