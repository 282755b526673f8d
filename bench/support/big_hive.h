// What the registry benchmarks share: a large SOFTWARE hive holding the Winlogon key, the
// floors that the file system sets (reading the file once; copying it and flushing the copy),
// and timing.
#pragma once

#include <chrono>
#include <cstddef>
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

// The floors. They read into one buffer made and touched beforehand (prepareFloors), so that
// they count the file system's work alone.
void prepareFloors(const std::string& file);
void readFloor(const std::string& file);
void copyFloor(const std::string& file, const std::string& copy);

double median(std::vector<double> v);

template <class F>
double timeOnce(F&& f) {
    const auto start = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

void line(const char* what, double ms, const char* floorWhat, double floorMs, double target);

// A folder for the hive: the one given, kept, or a temporary one removed at the end.
struct Folder {
    Folder(int argc, char** argv, int index);
    ~Folder();
    std::string path;
    bool keep;
};

} // namespace bench
