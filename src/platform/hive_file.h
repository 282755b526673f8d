// The hive file on a POSIX file system: which file, its lock, and replacing it whole.
#pragma once

#include <cerrno>
#include <memory>
#include <optional>
#include <string>
#include <sys/stat.h>

#include "platform/registry.h"

namespace platform::hive {

// The environment variable that names the SOFTWARE hive to work on.
inline constexpr const char* HiveVariable = "VANTORIO_SOFTWARE_HIVE";

// A file descriptor that closes itself.
class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    Fd(Fd&& other) noexcept : fd_(other.release()) {}
    Fd& operator=(Fd&& other) noexcept;
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd();
    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    int release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }

private:
    int fd_ = -1;
};

// The detail of the failure that the running registry operation is about to return; each
// operation begins with none (see LastFailureDetail).
void noteFailure(FailureReason reason, std::string path = {});
void clearFailure();

// The status code of a failed file operation's errno.
Status statusOfErrno(int err);

// The hive the next open works on: the file that the program selected for itself (from its
// command line), else the file that the environment variable names, else the default hive
// ($XDG_DATA_HOME/vantorio/SOFTWARE, ~/.local/share/vantorio/SOFTWARE). A relative name is
// made absolute against the working folder of the moment it was selected or first seen, so
// it names the same file afterwards.
struct ChosenHive {
    std::string path; // empty when there is no home to put the default hive in
    bool named = false; // selected or named by the variable, so never created
};
ChosenHive chosenHive();
std::string defaultHivePath();
// The file the variable names, or empty when it is unset or empty.
std::string variableHivePath();

// Makes `path` the hive of this process, ahead of the variable; an empty path undoes it.
void selectHive(std::string path);

// Why a named hive cannot be used.
enum class HiveProblem {
    None,
    Missing,         // nothing at the path (or a symbolic link that leads nowhere)
    NotRegularFile,  // a folder, a device, a pipe, ... once links are followed
    Unreadable,      // it cannot be opened or read; `error` says why
    NotAHive,        // its first bytes are not a sound hive: the engine would refuse it
};
struct HiveCheck {
    HiveProblem problem = HiveProblem::None;
    int error = 0;   // the errno behind Missing or Unreadable, when there was one
    mode_t type = 0; // the file type (S_IFMT bits) behind NotRegularFile
    bool danglingLink = false; // Missing: the path is a symbolic link to nothing
    explicit operator bool() const { return problem != HiveProblem::None; }
};
// Checks the file at `path` as the engine's open will take it: followed through symbolic
// links, a regular file that can be opened and read, whose base block, first bin and root
// key the engine accepts. Nothing is created or changed; no lock is taken.
HiveCheck checkHive(const std::string& path);
// The problem in a few words (English), for a message that names the path before it.
std::string describe(const HiveCheck& check);

// The SOFTWARE hive of the Windows installation whose root is the folder `root`:
// Windows/System32/config/SOFTWARE below it, each name matched without regard to case (as a
// volume that ntfs-3g mounts keeps them); nothing when there is none.
std::optional<std::string> installationHive(const std::string& root);

// The hive file of a run, found once: the folder that holds it, open for the whole run, and the
// file's name in that folder. Every open, lock and replacement works inside that folder and
// never follows a link in the file's place, so nothing that happens to the names the user gave
// (a link re-pointed, a folder renamed) can lead a save into another file.
struct HiveLocation {
    std::string path; // the real file, every symbolic link on the way followed (for messages)
    Fd folder;        // the folder that holds it
    std::string name; // its name in that folder
};

// The location of the hive that `named` leads to, followed through its links the first time
// that name is asked for and kept from then on: later calls with the same name get the same
// location, whatever became of the links meanwhile. Not kept when the name leads nowhere.
Status locateHive(const std::string& named, std::shared_ptr<const HiveLocation>& out);

// Whether the hive file (described by `st`) can be replaced by a new file: the file system
// writable, the file and its folder writable by this user, the file's only name, and a new
// file in its folder able to take its owner and group. On a refusal the failure's detail says
// which of them it is.
Status checkReplaceable(const HiveLocation& at, const struct stat& st);

// Why the default hive cannot be made: the file or folder concerned and what is wrong with it,
// in a few words (English), for a message that names the path before them.
struct DefaultHiveFailure {
    std::string path;
    bool folder = false; // the path is the hive's folder, not the hive
    std::string reason;
};

// Creates the default hive at `path` when no file is there: the folders 0700, the file 0600,
// holding the Winlogon key with the values of a fresh workstation. The file appears whole
// or not at all, also when another process creates it at the same moment. The hive's own
// folder must be a folder (not a link) of this user's that no one else may write, whether the
// hive is there already or not: another's is refused (AccessDenied, FolderNotPrivate) and
// nothing is made. On a failure the detail is noted, and `failure` says what it was.
Status ensureDefaultHive(const std::string& path, DefaultHiveFailure* failure = nullptr);

// Opens the hive file, never through a link in its place, and takes the advisory lock on it,
// waiting a while for another holder. On success `fd` holds the lock and `st` describes the
// locked file, which is the file the location names (a lock on a file that was replaced
// meanwhile is dropped and taken again); `locked` says whether a lock is held. On a file
// system that offers no advisory locks the file is opened without one: every commit replaces
// the file whole, so a reader still never sees a torn hive.
Status lockHive(const HiveLocation& at, Fd& fd, struct stat& st, bool& locked);

// Replacing the hive file with a new one: beginReplace makes an empty file in its folder, under
// a name of the program's own; finishReplace gives it the owner, extended attributes (access
// list, security label, user attributes) and mode of `old` (where the file system keeps them:
// one that gives every file the same owner and mode has given it those already), flushes it,
// locks it into `lockedNew` and renames it over the original, then flushes the folder;
// abandonReplace removes it. On failure the original is untouched and no new file remains.
struct PendingFile {
    std::string name; // in the hive's folder
    Fd fd;
};
Status beginReplace(const HiveLocation& at, PendingFile& pending);
Status finishReplace(const HiveLocation& at, int old, const struct stat& like, PendingFile& pending, Fd& lockedNew);
void abandonReplace(const HiveLocation& at, PendingFile& pending);

// Removes the new files that replacements of this hive began and never finished (a save that
// was killed). The caller holds the hive's lock, so no replacement of it is under way.
void removeUnfinishedReplacements(const HiveLocation& at);

} // namespace platform::hive
