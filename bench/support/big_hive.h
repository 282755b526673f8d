// What the registry benchmarks share: a large SOFTWARE hive holding the Winlogon key, the
// floors that the file system sets (reading the file once; copying it and flushing the copy),
// and timing.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace bench {

inline constexpr const char* Winlogon = "Software\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon";
inline constexpr const char* Names[] = {"AutoAdminLogon",          "DefaultUserName",      "DefaultPassword",
                                        "DontDisplayLastUserName", "ShutdownWithoutLogon", "LegalNoticeCaption",
                                        "LegalNoticeText"};

[[noreturn]] void die(const char* what);

// A hive of about `megabytes` MB at `file`: the Winlogon key among many keys of binary values,
// made through hivex and flushed to disk.
void makeHive(const std::string& file, std::size_t megabytes);

// A copy of the hive at `file` in the folder `folder` (as SOFTWARE), as Windows leaves a hive
// after a crash: its last changes in logs beside it (SOFTWARE.LOG1 and .LOG2, new format), the
// file as it was before them, its write unfinished. The changes: what `change` does to the copy
// (at the path it is given), then about `logBytes` more of pages all over the hive written again
// as they are, in entries of 64 KB. Everything is flushed; the copy's path.
std::string makeDirtyCopy(const std::string& file, const std::string& folder, std::size_t logBytes,
                          const std::function<void(const std::string&)>& change);

// The floors. They read into one buffer made and touched beforehand (prepareFloors), so that
// they count the file system's work alone.
void prepareFloors(const std::string& file);
void readFloor(const std::string& file);
// Reading the file once into memory of its own, new, as a program that reads a file for the
// first time does (what a replay of logs must do at least to hold what they give).
void readIntoNewMemory(const std::string& file);
void copyFloor(const std::string& file, const std::string& copy);

// Flushes the file to the disk, so that its writeback falls into nothing timed after.
void flush(const std::string& file);

double median(std::vector<double> v);

template <class F>
double timeOnce(F&& f) {
    const auto start = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

void line(const char* what, double ms, const char* floorWhat, double floorMs, double target);
// How much a hive grew over some commits, from its size `from` (which `fromWhat` names) to
// `to`, beside the bound it must stay within.
void growthLine(const char* what, const char* fromWhat, std::uintmax_t from, std::uintmax_t to, std::uintmax_t bound,
                double seconds);

// A folder for the hive: the one given (not empty), kept, or a temporary one removed at the end.
struct Folder {
    Folder(int argc, char** argv, int index);
    // A temporary folder in memory (/dev/shm) where there is one, else in /tmp: for runs of
    // many commits whose figure does not depend on the disk (how much a hive grows).
    struct InMemory {};
    explicit Folder(InMemory);
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;
    ~Folder();
    std::string path;
    bool keep;
};

// What both registry benchmarks start from, given their arguments [megabytes=100] [rounds=7]
// [folder]: the large hive in the folder (made there when missing), named to the registry by
// VANTORIO_SOFTWARE_HIVE, its size said on standard output, and the floors prepared.
struct LargeHive {
    LargeHive(int argc, char** argv);
    int rounds;
    Folder folder;
    std::string file; // the hive
    std::string copy; // where the copying floor writes
};

// The two hives of the growth figures, in a folder in memory: a fresh default hive and a copy
// of the large one.
struct GrowthHives {
    explicit GrowthHives(const std::string& large);
    Folder memory;
    std::string fresh;
    std::string large;
};

} // namespace bench
