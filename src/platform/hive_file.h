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

// The status code of a failed file operation's errno.
Status statusOfErrno(int err);

// The hive the next open works on: the file the environment variable names, or else the
// default hive ($XDG_DATA_HOME/vantorio/SOFTWARE, ~/.local/share/vantorio/SOFTWARE). Empty
// when there is no home to put the default hive in.
std::string hivePath();
std::string defaultHivePath();

// Creates the default hive at `path` when no file is there: the folders 0700, the file 0600,
// holding the Winlogon key with the values of a fresh workstation. The file appears whole
// or not at all, also when another process creates it at the same moment.
Status ensureDefaultHive(const std::string& path);

// Opens `path` and takes the advisory lock on it, waiting a while for another holder. On
// success `fd` holds the lock and `st` describes the locked file, which is the file the path
// names (a lock on a file that was replaced meanwhile is dropped and taken again).
Status lockHive(const std::string& path, Fd& fd, struct stat& st);

// Replaces the file at `path` with a new one written by `write(tempPath)` (which returns 0 or
// sets errno): the new file is made in the same folder with the mode and owner of `like`,
// written, flushed, locked into `lockedNew`, and renamed over the original; then the folder is
// flushed. On failure the original is untouched and no new file remains.
template <class Write>
Status replaceFile(const std::string& path, const struct stat& like, Write&& write, Fd& lockedNew);

// The parts of replaceFile that do not depend on the writer.
struct PendingFile {
    std::string tempPath;
    Fd fd;
};
Status beginReplace(const std::string& path, PendingFile& pending);
Status finishReplace(const std::string& path, const struct stat& like, PendingFile& pending, Fd& lockedNew);
void abandonReplace(PendingFile& pending);

template <class Write>
Status replaceFile(const std::string& path, const struct stat& like, Write&& write, Fd& lockedNew) {
    PendingFile pending;
    if (const Status s = beginReplace(path, pending)) return s;
    if (write(pending.tempPath.c_str()) != 0) {
        const Status s = statusOfErrno(errno);
        abandonReplace(pending);
        return s;
    }
    return finishReplace(path, like, pending, lockedNew);
}

// The path hivex should open to read the file behind `fd`: /proc/self/fd/N where /proc is
// mounted (so the file read is surely the locked one), else `path`.
std::string pathOfFd(int fd, const std::string& path);

} // namespace platform::hive
