#include "platform/hive_file.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/statvfs.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "platform/hive_reader.h"
#include "platform/paths.h"

namespace platform::hive {
namespace {

// How long an open waits for another process that holds the hive.
constexpr auto LockPatience = std::chrono::seconds(10);
constexpr auto LockPoll = std::chrono::milliseconds(5);

bool sameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// A file system that offers no advisory locks (some network and FUSE mounts) says so thus.
bool locksUnsupported(int err) { return err == ENOLCK || err == EOPNOTSUPP || err == ENOSYS || err == EINVAL; }

// Whether this process is in the group, as its own or as a supplementary one.
bool inGroup(gid_t group) {
    if (group == getegid()) return true;
    const int count = getgroups(0, nullptr);
    if (count <= 0) return false;
    std::vector<gid_t> groups(static_cast<std::size_t>(count));
    const int got = getgroups(count, groups.data());
    return got > 0 && std::find(groups.begin(), groups.begin() + got, group) != groups.begin() + got;
}

// Whether a new file made in `folder` ends with the owner and group of `like`: made so by the
// file system, or given them. Tried on a file of its own, removed at once.
bool newFileTakesOwner(const std::string& folder, const std::string& name, const struct stat& like) {
    std::string probe = folder + "/." + name + ".probe-XXXXXX";
    Fd fd(mkostemp(probe.data(), O_CLOEXEC));
    if (!fd) return false;
    struct stat made {};
    const bool taken = fstat(fd.get(), &made) == 0 &&
                       ((made.st_uid == like.st_uid && made.st_gid == like.st_gid) ||
                        fchown(fd.get(), like.st_uid, like.st_gid) == 0);
    ::unlink(probe.c_str());
    return taken;
}

thread_local FailureDetail lastFailure;

// A path made absolute against the working folder of this moment.
std::string absoluteOf(const std::string& path) {
    if (path.empty() || path[0] == '/') return path;
    std::string here(4096, '\0');
    if (!getcwd(here.data(), here.size())) return path;
    return std::string(here.c_str()) + "/" + path;
}

// The hive the program selected for itself, ahead of the variable.
std::string selectedHive;

} // namespace

void noteFailure(FailureReason reason, std::string path) { lastFailure = {reason, std::move(path)}; }
void clearFailure() { lastFailure = {}; }

Fd& Fd::operator=(Fd&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = other.release();
    }
    return *this;
}

Fd::~Fd() {
    if (fd_ >= 0) ::close(fd_);
}

Status statusOfErrno(int err) {
    switch (err) {
    case 0: return status::Success;
    case ENOENT: case ENOTDIR: case ENAMETOOLONG: case ELOOP: return status::FileNotFound;
    case EACCES: case EPERM: case EROFS: case ETXTBSY: return status::AccessDenied;
    case ENOSPC: case EDQUOT: case EFBIG: return status::DiskFull;
    case ENOMEM: return status::NotEnoughMemory;
    case EWOULDBLOCK: return status::SharingViolation;
    default: return status::RegistryIoFailed;
    }
}

std::string defaultHivePath() {
    // XDG_DATA_HOME counts only when absolute.
    if (const char* data = std::getenv("XDG_DATA_HOME"); data && data[0] == '/')
        return std::string(data) + "/vantorio/SOFTWARE";
    std::string home;
    if (const char* h = std::getenv("HOME"); h && h[0] == '/') {
        home = h;
    } else if (const passwd* pw = getpwuid(geteuid()); pw && pw->pw_dir && pw->pw_dir[0] == '/') {
        home = pw->pw_dir;
    }
    if (home.empty()) return {};
    return home + "/.local/share/vantorio/SOFTWARE";
}

std::string variableHivePath() {
    const char* named = std::getenv(HiveVariable);
    return named ? named : "";
}

void selectHive(std::string path) { selectedHive = path.empty() ? path : absoluteOf(path); }

ChosenHive chosenHive() {
    if (!selectedHive.empty()) return {selectedHive, true};
    const std::string named = variableHivePath();
    if (named.empty()) return {defaultHivePath(), false};
    // The name made absolute once, against the working folder of the moment it was first seen.
    static std::string lastNamed, lastAbsolute;
    if (named != lastNamed) {
        lastNamed = named;
        lastAbsolute = absoluteOf(named);
    }
    return {lastAbsolute, true};
}

Status resolveHive(const std::string& path, std::string& resolved) {
    char* real = realpath(path.c_str(), nullptr);
    if (!real) return statusOfErrno(errno);
    resolved = real;
    std::free(real);
    return status::Success;
}

Status checkReplaceable(const std::string& path, const struct stat& st) {
    const std::string folder = folderOf(path);
    auto refuse = [](FailureReason reason, const std::string& concerned) {
        noteFailure(reason, concerned);
        return status::AccessDenied;
    };
    struct statvfs volume {};
    if (statvfs(folder.c_str(), &volume) == 0 && (volume.f_flag & ST_RDONLY))
        return refuse(FailureReason::ReadOnlyFileSystem, folder);
    if (st.st_nlink > 1) return refuse(FailureReason::HardLinks, path);
    if (faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0)
        return refuse(errno == EROFS ? FailureReason::ReadOnlyFileSystem : FailureReason::FileNotWritable, path);
    if (faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) != 0)
        return refuse(errno == EROFS ? FailureReason::ReadOnlyFileSystem : FailureReason::FolderNotWritable, folder);
    // Root gives any file any owner. Anyone else gives a new file their own user and a group
    // of theirs (or the folder's, in a folder that passes its group on), unless the file
    // system decides owners itself: then a new file shows what it makes of it.
    if (geteuid() == 0) return status::Success;
    struct stat place {};
    const bool inherits = stat(folder.c_str(), &place) == 0 && (place.st_mode & S_ISGID) && place.st_gid == st.st_gid;
    if (st.st_uid == geteuid() && (inherits || inGroup(st.st_gid))) return status::Success;
    if (newFileTakesOwner(folder, nameOf(path), st)) return status::Success;
    return refuse(FailureReason::OwnerNotReproducible, path);
}

HiveCheck checkHive(const std::string& path) {
    HiveCheck check;
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) {
        check.error = errno;
        if (errno == ENOENT || errno == ENOTDIR) {
            struct stat link {};
            check.problem = HiveProblem::Missing;
            check.danglingLink = errno == ENOENT && lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode);
        } else {
            check.problem = HiveProblem::Unreadable;
        }
        return check;
    }
    // Never open anything but a regular file: a device or a pipe may act on an open.
    if (!S_ISREG(st.st_mode)) {
        check.problem = HiveProblem::NotRegularFile;
        check.type = st.st_mode & S_IFMT;
        return check;
    }
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (!fd || fstat(fd.get(), &st) != 0) {
        check.problem = HiveProblem::Unreadable;
        check.error = errno;
        return check;
    }
    if (!S_ISREG(st.st_mode)) {
        check.problem = HiveProblem::NotRegularFile;
        check.type = st.st_mode & S_IFMT;
        return check;
    }
    // The engine's own test of a hive, so that what passes here is what an open accepts.
    MappedHive hive;
    errno = 0;
    const Status mapped = hive.map(fd.get(), static_cast<std::uint64_t>(st.st_size));
    if (mapped == status::BadDatabase) {
        check.problem = HiveProblem::NotAHive;
    } else if (mapped != status::Success) {
        check.problem = HiveProblem::Unreadable;
        check.error = errno ? errno : EIO;
    }
    return check;
}

std::string describe(const HiveCheck& check) {
    switch (check.problem) {
    case HiveProblem::None: return {};
    case HiveProblem::Missing:
        if (check.danglingLink) return "does not exist (a symbolic link to a missing file)";
        if (check.error == ENOTDIR) return "does not exist (a part of the path is not a folder)";
        return "does not exist";
    case HiveProblem::NotRegularFile:
        switch (check.type) {
        case S_IFDIR: return "is a folder, not a hive file";
        case S_IFCHR: case S_IFBLK: return "is a device, not a hive file";
        case S_IFIFO: return "is a pipe, not a hive file";
        case S_IFSOCK: return "is a socket, not a hive file";
        default: return "is not a regular file";
        }
    case HiveProblem::Unreadable: return std::string("cannot be read: ") + std::strerror(check.error);
    case HiveProblem::NotAHive: return "is not a registry hive file, or a damaged one";
    }
    return {};
}

Status lockHive(const std::string& path, Fd& fd, struct stat& st) {
    const auto deadline = std::chrono::steady_clock::now() + LockPatience;
    for (;;) {
        Fd candidate(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
        if (!candidate) return statusOfErrno(errno);
        if (fstat(candidate.get(), &st) != 0) return statusOfErrno(errno);
        if (!S_ISREG(st.st_mode)) return status::BadDatabase;
        while (flock(candidate.get(), LOCK_EX | LOCK_NB) != 0) {
            if (locksUnsupported(errno)) break;
            if (errno != EWOULDBLOCK && errno != EINTR) return statusOfErrno(errno);
            if (std::chrono::steady_clock::now() >= deadline) return status::SharingViolation;
            std::this_thread::sleep_for(LockPoll);
        }
        // The holder may have replaced the file before letting go: then lock the new one.
        struct stat now {};
        if (stat(path.c_str(), &now) != 0) return statusOfErrno(errno);
        if (sameFile(now, st)) {
            fd = std::move(candidate);
            return status::Success;
        }
    }
}

Status beginReplace(const std::string& path, PendingFile& pending) {
    pending.tempPath = folderOf(path) + "/." + nameOf(path) + ".new-XXXXXX";
    pending.fd = Fd(mkostemp(pending.tempPath.data(), O_CLOEXEC));
    if (!pending.fd) {
        const Status s = statusOfErrno(errno);
        pending.tempPath.clear();
        return s;
    }
    return status::Success;
}

void abandonReplace(PendingFile& pending) {
    if (!pending.tempPath.empty()) ::unlink(pending.tempPath.c_str());
    pending.tempPath.clear();
    pending.fd = Fd();
}

Status finishReplace(const std::string& path, const struct stat& like, PendingFile& pending, Fd& lockedNew) {
    auto fail = [&](int err) {
        const Status s = statusOfErrno(err);
        abandonReplace(pending);
        return s;
    };
    const int fd = pending.fd.get();
    struct stat mine {};
    struct stat named {};
    if (fstat(fd, &mine) != 0) return fail(errno);
    // Make sure the name still leads to the file made for it.
    if (stat(pending.tempPath.c_str(), &named) != 0) return fail(errno);
    if (!sameFile(mine, named)) return fail(EACCES);
    if ((mine.st_uid != like.st_uid || mine.st_gid != like.st_gid) && fchown(fd, like.st_uid, like.st_gid) != 0)
        return fail(errno);
    if ((mine.st_mode & 07777) != (like.st_mode & 07777) && fchmod(fd, like.st_mode & 07777) != 0) return fail(errno);
    if (fsync(fd) != 0) return fail(errno);
    // Nobody else knows the new file yet, so its lock is free.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0 && !locksUnsupported(errno)) return fail(errno);
    if (rename(pending.tempPath.c_str(), path.c_str()) != 0) return fail(errno);
    pending.tempPath.clear();
    lockedNew = std::move(pending.fd);
    // The rename is durable once the folder is flushed.
    Fd folder(::open(folderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder && fsync(folder.get()) != 0 && errno == EIO) {
        // The new file is in place; only its durability is in doubt.
        return status::RegistryIoFailed;
    }
    return status::Success;
}

} // namespace platform::hive

namespace platform {
FailureDetail LastFailureDetail() { return hive::lastFailure; }
} // namespace platform
