// The five registry operations that the settings store calls, with the arguments and
// return codes of the Win32 "A" functions of the same names. On Windows they are those
// functions; elsewhere they work on the SOFTWARE hive file of a Windows installation.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// A key handle as the operations hand it out. 0 is never a valid handle.
using Key = std::uintptr_t;
// A Win32 status code: 0 is success, anything else a failure.
using Status = std::int32_t;

inline constexpr Key LocalMachine = 0x80000002;        // HKEY_LOCAL_MACHINE
inline constexpr std::uint32_t KeyAllAccess = 0xF003F; // KEY_ALL_ACCESS
inline constexpr std::uint32_t KeyRead = 0x20019;      // KEY_READ

// Value types.
inline constexpr std::uint32_t RegNone = 0;
inline constexpr std::uint32_t RegSz = 1;
inline constexpr std::uint32_t RegExpandSz = 2;
inline constexpr std::uint32_t RegBinary = 3;
inline constexpr std::uint32_t RegDword = 4;
inline constexpr std::uint32_t RegMultiSz = 7;

// The status codes that this program meets, named once.
namespace status {
inline constexpr Status Success = 0;
inline constexpr Status FileNotFound = 2;        // absent key or value
inline constexpr Status AccessDenied = 5;        // write access asked for a hive that cannot be written
inline constexpr Status InvalidHandle = 6;       // 0, unknown or already closed
inline constexpr Status NotEnoughMemory = 8;
inline constexpr Status WriteFault = 29;
inline constexpr Status SharingViolation = 32;
inline constexpr Status DiskFull = 112;
inline constexpr Status InvalidParameter = 87;
inline constexpr Status MoreData = 234;          // the buffer is too small; the size says what is needed
inline constexpr Status BadDatabase = 1009;      // ERROR_BADDB
inline constexpr Status RegistryCorrupt = 1015;  // ERROR_REGISTRY_CORRUPT
inline constexpr Status RegistryIoFailed = 1016; // ERROR_REGISTRY_IO_FAILED
} // namespace status

Status RegOpenKeyExA(Key key, const char* subKey, std::uint32_t options, std::uint32_t samDesired,
                     Key* result);
Status RegQueryValueExA(Key key, const char* valueName, std::uint32_t* reserved, std::uint32_t* type,
                        std::uint8_t* data, std::uint32_t* dataSize);
Status RegSetValueExA(Key key, const char* valueName, std::uint32_t reserved, std::uint32_t type,
                      const std::uint8_t* data, std::uint32_t dataSize);
Status RegDeleteValueA(Key key, const char* valueName);
Status RegCloseKey(Key key);

// Whether RegQueryValueExA hands out the value's data exactly as it is stored, so that writing
// back what it returned would store the same value. Data of other types passes unconverted and
// is always exact. Text is stored as UTF-16 and handed out in the A form: it is exact only when
// every character survives the conversion and back (not a "?" or a best-fit letter in place of
// one) and no odd byte is left out. Not one of the five operations: it changes nothing that
// they do or return. FileNotFound for an absent value, InvalidHandle as they give it.
Status QueryValueExactA(Key key, const char* valueName, bool* exact);

// The value's type and its data whole, as stored (text as UTF-16LE, which the A form would
// convert): for showing a value that the window cannot show as it is. Not one of the five
// operations either. FileNotFound for an absent value, InvalidHandle as they give it.
Status QueryValueStored(Key key, const char* valueName, std::uint32_t* type, std::string* data);

// The system's reason for a status code, in Japanese, for a message to the user.
std::u16string StatusText(Status code);
// What the user can do about a failure with that code, in Japanese.
std::u16string StatusRemedy(Status code);

// The changes of one register. From BeginChanges to EndChanges, closing a key that changed
// something keeps its changes waiting; EndChanges then writes all of them (`write`) or drops
// them. On the hive they land in one replace of the file, or none does; the registry of
// Windows has no such transaction, so there each change lands when it is made.
void BeginChanges();
Status EndChanges(bool write);
// Whether the changes that the last commit wrote (EndChanges, or the close of a key outside a
// register) are in place without the system confirming that they reached the disk: the file
// was replaced, but the flush of its folder failed. They are saved all the same; a crash of the
// system before it writes them could lose them. Never on Windows, whose registry says nothing
// of the kind.
bool ChangesUnconfirmed();
#ifdef _WIN32
inline constexpr bool ChangesLandTogether = false;
#else
inline constexpr bool ChangesLandTogether = true;
#endif

// A rehearsal of registers: from BeginRehearsal to EndRehearsal, a set or a delete is checked
// as it would be (the handle, its rights, the name, a delete's value there) and returns what it
// would, but changes nothing: neither the hive nor the system's registry, where each change
// would land as it is made. What it would have changed is noted by the value's name.
struct StoredValue {
    std::uint32_t type = 0;
    std::string data;  // as stored: text as UTF-16LE
    friend bool operator==(const StoredValue&, const StoredValue&) = default;
};
struct ValueChange {
    std::u16string name;
    std::optional<StoredValue> before, after;  // nothing: the value is absent
};
void BeginRehearsal();
// The values that the rehearsed changes would leave otherwise than they are stored, in the
// order they were first changed; the rehearsal ends.
std::vector<ValueChange> EndRehearsal();

// What the registry knows, beyond its status code, about why the last operation of this thread
// failed. Only the hive realisation tells these apart; on Windows there is never a detail.
enum class FailureReason {
    None,
    LogsMissing,         // Windows left changes in transaction logs that are not beside the hive
    LogsUnusable,        // the hive's transaction logs cannot be replayed: damaged, or another hive's
    HardLinks,           // the hive file has other names, which a replacement would split off
    FileNotWritable,     // this user may not write the hive file
    FolderNotWritable,   // this user may not create and rename files in the hive's folder
    OwnerNotReproducible,// the new file could not be given the hive's owner or group
    ReadOnlyFileSystem,  // the hive's file system is mounted read-only
    SizeLimit,           // the hive's bins would reach 2 GiB, beyond the format's offsets
    LinkInPlace,         // a symbolic link stands where the hive file was when the program started
    AttributesNotCarried,// the new file could not be given the hive's access list, security label, or Windows
                         // security descriptor and DOS attributes (NTFS)
    FolderNotPrivate,    // the default hive's folder is a link, another user's, or others may write it
    HiveGone,            // the hive file was deleted, or its folder removed, after the program started
};
struct FailureDetail {
    FailureReason reason = FailureReason::None;
    std::string path;    // the file or folder concerned, as the file system names it
};
FailureDetail LastFailureDetail();
// The detail in words for the user, in Japanese, with what they can do; empty for None.
std::u16string FailureDetailText(const FailureDetail& detail);

// What loading found of the hive that the registry works on. Clean: its last write completed.
// Recovered: Windows left changes in its transaction logs, and they were replayed in memory as
// Windows replays them at boot, so that everything sees them and register writes them.
// Dirty: the logs that hold such changes are missing or cannot be used; the hive is seen as its
// file holds it and is never written (`reason`: LogsMissing or LogsUnusable). Windows replays
// its own logs: there the registry is always clean.
enum class HiveState { Clean, Recovered, Dirty };
struct HiveCondition {
    HiveState state = HiveState::Clean;
    std::uint32_t replayed = 0; // Recovered: the log entries replayed (an old-format log is one)
    FailureReason reason = FailureReason::None;
};
HiveCondition CurrentHiveCondition();

} // namespace platform
