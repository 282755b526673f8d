// Hives for tests: a fresh hive file with the Winlogon key and given values, written and read
// back through libhivex itself, so that a test checks the program against an independent
// reader. Everything lives in a temporary folder of the test's own.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "hive_image.h"

namespace testsupport {

// A value as the hive stores it: its name (UTF-8), type and raw bytes.
struct HiveValue {
    std::string name;
    std::uint32_t type = 1;
    std::string bytes;
    bool operator==(const HiveValue&) const = default;
};
// A value as a failed expectation shows it: its name, type and bytes.
void PrintTo(const HiveValue& value, std::ostream* os);

// The key that holds the Winlogon values, as a path inside the SOFTWARE hive and as a subkey
// of HKEY_LOCAL_MACHINE.
inline constexpr const char* WinlogonInHive = "Microsoft\\Windows NT\\CurrentVersion\\Winlogon";
inline constexpr const char* WinlogonKey = "Software\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon";

// What a REG_SZ holds: UTF-16LE, with its terminating NUL unless asked otherwise.
std::string utf16le(std::u16string_view text, bool terminated = true);

// A REG_SZ value of the given text.
HiveValue textValue(std::string name, std::u16string_view text);

// A temporary folder, removed with all it holds when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(std::string_view name) const { return path_ + "/" + std::string(name); }

private:
    std::string path_;
};

// Writes a new hive file at `file` that holds the key `keyPath` (backslash-separated, created
// with its parents; none when empty) with `values` in this order. Throws on failure.
void makeHive(const std::string& file, const std::vector<HiveValue>& values,
              std::string_view keyPath = WinlogonInHive);

// The values of a key, in the hive's order, read through libhivex; nothing when the file
// does not open or the key is missing.
std::optional<std::vector<HiveValue>> readValues(const std::string& file, std::string_view keyPath = WinlogonInHive);
// A key and its values, for a hive with more than the Winlogon key.
struct HiveKey {
    std::string path; // backslash-separated, inside the hive
    std::vector<HiveValue> values;
};
// Writes a new hive file at `file` holding these keys (and their parents).
void makeHive(const std::string& file, const std::vector<HiveKey>& keys);

// Sets one value of an existing key of the hive at `file` (replacing one of the same name),
// through libhivex. Throws on failure.
void putValue(const std::string& file, const HiveValue& value, std::string_view keyPath = WinlogonInHive);

// One value (the name matched as hivex matches it); nothing when absent.
std::optional<HiveValue> readValue(const std::string& file, std::string_view name,
                                   std::string_view keyPath = WinlogonInHive);

// Where libhivex finds a key's cell and a value's cell of the hive at `file`: file offsets,
// of the cell's size field. Throws when there is none.
std::size_t keyCellOf(const std::string& file, std::string_view keyPath);
std::size_t valueCellOf(const std::string& file, std::string_view keyPath, std::string_view name);

// The data of a value as reglookup reads it (its escapes undone), a reader that misreads big
// data whose segments lie out of their order in the file; nothing when it lists no such value.
std::optional<std::string> reglookupData(const std::string& file, std::string_view keyPath, std::string_view name);

// Makes the hive at `file` reach the format's 2 GiB limit: after its bins, one bin up to the
// limit holding one cell in use whose inside is a hole of the file, then `more` (whole bins
// beyond the limit, for a hive that is already damaged). The file stays sparse: nothing near
// 2 GiB is written. With `fillFreeSpace`, every free cell of the hive's own bins is taken too
// (in use, by nothing), so that any cell a commit adds needs room beyond the limit. Throws on
// failure.
void growToTheLimit(const std::string& file, const std::string& more = {}, bool fillFreeSpace = false);

// The whole content of a file (empty when it cannot be read).
std::string fileBytes(const std::string& path);
void writeFile(const std::string& path, std::string_view bytes);

// Leaves the hive file at `file` as Windows leaves a hive whose last change waits in its log:
// `change` changes the file, the pages it changed become one new-format entry of a new log at
// `log`, and the file gets its bytes from before back, its write unfinished. The bytes of the
// hive with the change.
std::string logChange(const std::string& file, const std::string& log, const std::function<void()>& change);

// Points the registry operations at `file` (VANTORIO_SOFTWARE_HIVE) for the life of the
// object, then puts the variable back as it was.
class ScopedHive {
public:
    explicit ScopedHive(const std::string& file);
    ~ScopedHive();
    ScopedHive(const ScopedHive&) = delete;
    ScopedHive& operator=(const ScopedHive&) = delete;

private:
    std::optional<std::string> previous_;
};

// A hive file of a test's own: a temporary folder, the file SOFTWARE in it (or in a folder of
// it), made with given values, the registry pointed at it while the object lives, and its
// bytes read back and written. A test fixture takes it as a base beside testing::Test.
class HiveFile {
public:
    // `folder`, when given, is made inside the temporary folder to hold the file.
    explicit HiveFile(std::string_view folder = {});

    TempDir dir;
    const std::string folder;  // where the file is
    const std::string file;

    // Writes the hive file with the Winlogon key holding `values` (or with these keys), in
    // format 1.`minor`, and points the registry at it.
    void make(const std::vector<HiveValue>& values, std::uint32_t minor = 3);
    void make(const std::vector<HiveKey>& keys, std::uint32_t minor = 3);
    // Makes the file one of format 1.`minor`.
    void format(std::uint32_t minor) const;
    // Points the registry at the file, made or not, or at another one.
    void point() { point(file); }
    void point(const std::string& path);

    // The file's bytes, and the file rewritten with others.
    std::string contents() const { return fileBytes(file); }
    HiveImage image() const { return HiveImage(contents()); }
    void overwrite(std::string_view bytes) const { writeFile(file, bytes); }
    void overwrite(const HiveImage& image) const { writeFile(file, image.bytes()); }

private:
    std::optional<ScopedHive> scope_;
};

} // namespace testsupport
