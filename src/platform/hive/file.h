// The hive file on a POSIX file system: a descriptor that closes itself, the status of an
// errno, where the file is (its folder held open), its lock, and replacing it whole.
#pragma once

#include <cerrno>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <utility>
#include <vector>

#include "platform/registry.h"

namespace platform::hive {

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

// The status code of a failed file operation's errno.
Status statusOfErrno(int err);

// Makes a new, empty file of the program's own in the folder `folder`, beside the file `name`:
// named "." and that name, what the file is for (`kind`) and six random letters; 0600, never
// through a link. Its descriptor, and its name in `made`; errno says why when there is none.
// A commit removes the files of the kinds ".new-" (a replacement) and ".probe-" (a check of
// the owner) that a killed one left behind; other kinds (".first-", the default hive's first
// file) are never taken for left over.
Fd makeOwnFile(int folder, const std::string& name, std::string_view kind, std::string& made);

// The hive file of a run, found once: the folder that holds it, open for the whole run, and the
// file's name in that folder. Every open, lock and replacement works inside that folder and
// never follows a link in the file's place, so nothing that happens to the names the user gave
// (a link re-pointed, a folder renamed) can lead a save into another file.
struct HiveLocation {
    std::string path; // the real file, every symbolic link on the way followed (for messages)
    Fd folder;        // the folder that holds it
    std::string name; // its name in that folder
};

// Whether the hive file (described by `st`) can be replaced by a new file: the file system
// writable, the file and its folder writable by this user, the file's only name, and a new
// file in its folder able to take its owner and group. On a refusal the failure's detail says
// which of them it is.
Status checkReplaceable(const HiveLocation& at, const struct stat& st);

// Opens the hive file, never through a link in its place, and takes the advisory lock on it,
// waiting a while for another holder. On success `fd` holds the lock and `st` describes the
// locked file, which is the file the location names (a lock on a file that was replaced
// meanwhile is dropped and taken again); `locked` says whether a lock is held. On a file
// system that offers no advisory locks the file is opened without one: every commit replaces
// the file whole, so a reader still never sees a torn hive.
Status lockHive(const HiveLocation& at, Fd& fd, struct stat& st, bool& locked);

// Whether the hive's name still leads to a file (the one that is locked, as far as anyone who
// keeps to the lock goes): FileNotFound, noted as HiveGone, when the file or its folder was
// removed; AccessDenied, noted as LinkInPlace, when a link stands in its place.
Status stillInPlace(const HiveLocation& at);

// Replacing the hive file with a new one: beginReplace makes an empty file in its folder, under
// a name of the program's own; readyReplace gives it the owner, extended attributes (access
// list, security label, user attributes) and mode of `old` (where the file system keeps them:
// one that gives every file the same owner and mode has given it those already), then on NTFS
// its Windows security descriptor and DOS attributes, which no listing shows, and flushes it
// (again after a rewrite); finishReplace locks it into `lockedNew` and renames it over the
// original, then flushes the folder: `confirmed` says whether the system confirmed that flush
// (the new file is in place either way). abandonReplace removes it. On failure the original is
// untouched and no new file remains.
struct PendingFile {
    std::string name; // in the hive's folder
    Fd fd;
    std::vector<std::pair<std::string, std::string>> dos; // DOS attributes to give again after the rename
};
Status beginReplace(const HiveLocation& at, PendingFile& pending);
Status readyReplace(const HiveLocation& at, int old, const struct stat& like, PendingFile& pending);
Status finishReplace(const HiveLocation& at, PendingFile& pending, Fd& lockedNew, bool& confirmed);
void abandonReplace(const HiveLocation& at, PendingFile& pending);

// Removes the new files that replacements of this hive (described by `hive`) began and never
// finished (a save that was killed): regular files of their names, owned by the hive's owner or
// by this user. The caller holds the hive's lock, so no replacement of it is under way.
void removeUnfinishedReplacements(const HiveLocation& at, const struct stat& hive);

} // namespace platform::hive
