// The hive file on a POSIX file system: which file, its lock, and replacing it whole.
#pragma once

#include <cerrno>
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

// The file that `path` names, with every symbolic link on the way followed: the file that is
// read, locked and replaced, in the folder where its replacement is made.
Status resolveHive(const std::string& path, std::string& resolved);

// Whether the hive file at `path` (a resolved path, described by `st`) can be replaced by a
// new file: the file system writable, the file and its folder writable by this user, the
// file's only name, and a new file in its folder able to take its owner and group. On a
// refusal the failure's detail says which of them it is.
Status checkReplaceable(const std::string& path, const struct stat& st);

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

// Opens `path` and takes the advisory lock on it, waiting a while for another holder. On
// success `fd` holds the lock and `st` describes the locked file, which is the file the path
// names (a lock on a file that was replaced meanwhile is dropped and taken again). On a file
// system that offers no advisory locks the file is opened without one: every commit replaces
// the file whole, so a reader still never sees a torn hive.
Status lockHive(const std::string& path, Fd& fd, struct stat& st);

// Replacing the file at `path` with a new one: beginReplace makes an empty file in the same
// folder; finishReplace gives it the mode and owner of `like` (where the file system keeps
// them: one that gives every file the same owner and mode has given it those already), flushes
// it, locks it into `lockedNew` and renames it over the original, then flushes the folder;
// abandonReplace removes it. On failure the original is untouched and no new file remains.
struct PendingFile {
    std::string tempPath;
    Fd fd;
};
Status beginReplace(const std::string& path, PendingFile& pending);
Status finishReplace(const std::string& path, const struct stat& like, PendingFile& pending, Fd& lockedNew);
void abandonReplace(PendingFile& pending);

} // namespace platform::hive
