// Hives for tests: a fresh hive file with the Winlogon key and given values, written and read
// back through libhivex itself, so that a test checks the program against an independent
// reader. Everything lives in a temporary folder of the test's own.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

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

// The data of a value as reglookup reads it (its escapes undone), a reader that misreads big
// data whose segments lie out of their order in the file; nothing when it lists no such value.
std::optional<std::string> reglookupData(const std::string& file, std::string_view keyPath, std::string_view name);
// Whether reglookup is installed.
bool haveReglookup();

// Makes the hive at `file` reach the format's 2 GiB limit: after its bins, one bin up to the
// limit holding one cell in use whose inside is a hole of the file, then `more` (whole bins
// beyond the limit, for a hive that is already damaged). The file stays sparse: nothing near
// 2 GiB is written. With `fillFreeSpace`, every free cell of the hive's own bins is taken too
// (in use, by nothing), so that any cell a commit adds needs room beyond the limit. Throws on
// failure.
void growToTheLimit(const std::string& file, const std::string& more = {}, bool fillFreeSpace = false);

// Makes the hive in `bytes` one whose last write did not finish, as Windows leaves a hive
// whose changes wait in its log: the second sequence number behind the first, the checksum
// to match.
void leaveWriteUnfinished(std::string& bytes);

// The whole content of a file (empty when it cannot be read).
std::string fileBytes(const std::string& path);
void writeFile(const std::string& path, std::string_view bytes);

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

} // namespace testsupport
