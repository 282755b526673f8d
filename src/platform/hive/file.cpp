#include "platform/hive/file.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <optional>
#include <pwd.h>
#include <random>
#include <string_view>
#include <sys/file.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "platform/hive/failure.h"
#include "platform/hive/paths.h"

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

// The files the program makes beside a hive: "." and the hive's name, what the file is for
// (".new-", ".probe-", ".first-"), and six random letters. A commit and the check before it
// make the first two under the hive's lock, and only those are ever taken for left over.
constexpr std::size_t RandomLetters = 6;
constexpr std::string_view LeftOverKinds[] = {".new-", ".probe-"};

bool isLeftOverName(std::string_view hive, std::string_view file) {
    if (!file.starts_with('.') || file.substr(1, hive.size()) != hive) return false;
    file.remove_prefix(1 + hive.size());
    for (std::string_view kind : LeftOverKinds) {
        if (!file.starts_with(kind) || file.size() != kind.size() + RandomLetters) continue;
        file.remove_prefix(kind.size());
        return std::all_of(file.begin(), file.end(), [](char c) { return std::isalnum(static_cast<unsigned char>(c)); });
    }
    return false;
}

// Whether a new file made in the hive's folder ends with the owner and group of `like`: made
// so by the file system, or given them. Tried on a file of its own, removed at once.
bool newFileTakesOwner(const HiveLocation& at, const struct stat& like) {
    std::string probe;
    Fd fd = makeOwnFile(at.folder.get(), at.name, ".probe-", probe);
    if (!fd) return false;
    struct stat made {};
    const bool taken = fstat(fd.get(), &made) == 0 &&
                       ((made.st_uid == like.st_uid && made.st_gid == like.st_gid) ||
                        fchown(fd.get(), like.st_uid, like.st_gid) == 0);
    ::unlinkat(at.folder.get(), probe.c_str(), 0);
    return taken;
}

// The names of a file's extended attributes; none where the file system keeps none.
std::vector<std::string> attributeNames(int fd) {
    for (;;) {
        const ssize_t size = flistxattr(fd, nullptr, 0);
        if (size <= 0) return {};
        std::string list(static_cast<std::size_t>(size), '\0');
        const ssize_t got = flistxattr(fd, list.data(), list.size());
        if (got < 0 && errno == ERANGE) continue;  // one was added meanwhile
        if (got < 0) return {};
        std::vector<std::string> names;
        for (std::size_t at = 0; at < static_cast<std::size_t>(got);) {
            const std::size_t end = list.find('\0', at);
            names.push_back(list.substr(at, end - at));
            at = end + 1;
        }
        return names;
    }
}

// An attribute's value, or nothing when it cannot be read.
std::optional<std::string> attribute(int fd, const std::string& name) {
    for (;;) {
        const ssize_t size = fgetxattr(fd, name.c_str(), nullptr, 0);
        if (size < 0) return std::nullopt;
        std::string value(static_cast<std::size_t>(size), '\0');
        const ssize_t got = fgetxattr(fd, name.c_str(), value.data(), value.size());
        if (got < 0 && errno == ERANGE) continue;
        if (got < 0) return std::nullopt;
        value.resize(static_cast<std::size_t>(got));
        return value;
    }
}

// Attributes that decide who may read the file: its access lists and its security labels.
bool limitsAccess(std::string_view name) {
    return name == "system.posix_acl_access" || name == "system.nfs4_acl" || name == "system.richacl" ||
           name.starts_with("security.");
}

// Gives the new file `to` the extended attributes of `from`, as a copy that keeps everything
// keeps them: each attribute `from` has, and none that `to` was given by itself (the access
// list that a folder's default list gives a new file). An attribute that limits access and
// cannot be carried over refuses the replacement, which would otherwise let more users read
// the hive; any other is carried where the file system lets it be.
Status carryAttributes(int from, int to, const std::string& path) {
    const std::vector<std::string> had = attributeNames(from);
    auto refuse = [&] {
        noteFailure(FailureReason::AttributesNotCarried, path);
        return status::AccessDenied;
    };
    for (const std::string& name : attributeNames(to))
        if (std::find(had.begin(), had.end(), name) == had.end() && !name.starts_with("security.") &&
            fremovexattr(to, name.c_str()) != 0 && limitsAccess(name))
            return refuse();
    for (const std::string& name : had) {
        const std::optional<std::string> value = attribute(from, name);
        if (!value) {
            if (limitsAccess(name)) return refuse();
            continue;
        }
        if (attribute(to, name) == value) continue;
        if (fsetxattr(to, name.c_str(), value->data(), value->size(), 0) != 0 && limitsAccess(name)) return refuse();
    }
    return status::Success;
}

// What NTFS keeps of a file's Windows security that no listing shows: ntfs-3g's security
// descriptor and DOS attributes (hidden, system, archive), and those of the kernel's ntfs3.
constexpr const char* WindowsAttributes[] = {"system.ntfs_acl", "system.ntfs_security", "system.ntfs_attrib",
                                             "system.dos_attrib"};

// Whether the file system keeps no such attribute at all, or this file has none.
bool noAttribute(int err) { return err == ENODATA || err == ENOTSUP || err == EOPNOTSUPP || err == ENOSYS; }

// Gives `to` the Windows security and DOS attributes that `from` has on NTFS, byte for byte.
// After the owner and mode: a volume mounted with permissions makes the descriptor anew from
// each chmod and chown. One that cannot be given refuses the replacement: the file would
// otherwise be open to every user of that Windows, or lose its hidden and system marks. The
// DOS attributes given are kept in `dos`: ntfs-3g marks a renamed file for archiving, which
// they are given again after the rename.
Status carryWindowsAttributes(int from, int to, const std::string& path,
                              std::vector<std::pair<std::string, std::string>>& dos) {
    for (const char* name : WindowsAttributes) {
        errno = 0;
        const std::optional<std::string> value = attribute(from, name);
        if (!value && noAttribute(errno)) continue;
        if (!value || (attribute(to, name) != value &&
                       (fsetxattr(to, name, value->data(), value->size(), 0) != 0 || attribute(to, name) != value))) {
            noteFailure(FailureReason::AttributesNotCarried, path);
            return status::AccessDenied;
        }
        if (std::string_view(name).ends_with("_attrib")) dos.emplace_back(name, *value);
    }
    return status::Success;
}

} // namespace

Fd makeOwnFile(int folder, const std::string& name, std::string_view kind, std::string& made) {
    static constexpr std::string_view Letters = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        made = "." + name + std::string(kind);
        for (std::size_t i = 0; i < RandomLetters; ++i) made += Letters[random() % Letters.size()];
        Fd fd(::openat(folder, made.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (fd || errno != EEXIST) return fd;
    }
    return Fd();
}

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

Status checkReplaceable(const HiveLocation& at, const struct stat& st) {
    const std::string folder = folderOf(at.path);
    const int dir = at.folder.get();
    auto refuse = [](FailureReason reason, const std::string& concerned) {
        noteFailure(reason, concerned);
        return status::AccessDenied;
    };
    struct statvfs volume {};
    if (fstatvfs(dir, &volume) == 0 && (volume.f_flag & ST_RDONLY))
        return refuse(FailureReason::ReadOnlyFileSystem, folder);
    if (st.st_nlink > 1) return refuse(FailureReason::HardLinks, at.path);
    if (faccessat(dir, at.name.c_str(), W_OK, AT_EACCESS | AT_SYMLINK_NOFOLLOW) != 0)
        return refuse(errno == EROFS ? FailureReason::ReadOnlyFileSystem : FailureReason::FileNotWritable, at.path);
    if (faccessat(dir, ".", W_OK | X_OK, AT_EACCESS) != 0)
        return refuse(errno == EROFS ? FailureReason::ReadOnlyFileSystem : FailureReason::FolderNotWritable, folder);
    // Root gives any file any owner. Anyone else gives a new file their own user and a group
    // of theirs (or the folder's, in a folder that passes its group on), unless the file
    // system decides owners itself: then a new file shows what it makes of it.
    if (geteuid() == 0) return status::Success;
    struct stat place {};
    const bool inherits = fstat(dir, &place) == 0 && (place.st_mode & S_ISGID) && place.st_gid == st.st_gid;
    if (st.st_uid == geteuid() && (inherits || inGroup(st.st_gid))) return status::Success;
    if (newFileTakesOwner(at, st)) return status::Success;
    return refuse(FailureReason::OwnerNotReproducible, at.path);
}

Status lockHive(const HiveLocation& at, Fd& fd, struct stat& st, bool& locked) {
    const auto deadline = std::chrono::steady_clock::now() + LockPatience;
    for (;;) {
        Fd candidate(::openat(at.folder.get(), at.name.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW));
        if (!candidate) {
            // Something put a link where the hive was: it is not followed.
            if (errno == ELOOP) {
                noteFailure(FailureReason::LinkInPlace, at.path);
                return status::AccessDenied;
            }
            if (errno == ENOENT) noteFailure(FailureReason::HiveGone, at.path);
            return statusOfErrno(errno);
        }
        if (fstat(candidate.get(), &st) != 0) return statusOfErrno(errno);
        if (!S_ISREG(st.st_mode)) return status::BadDatabase;
        locked = true;
        while (flock(candidate.get(), LOCK_EX | LOCK_NB) != 0) {
            if (locksUnsupported(errno)) {
                locked = false;
                break;
            }
            if (errno != EWOULDBLOCK && errno != EINTR) return statusOfErrno(errno);
            if (std::chrono::steady_clock::now() >= deadline) return status::SharingViolation;
            std::this_thread::sleep_for(LockPoll);
        }
        // The holder may have replaced the file before letting go: then lock the new one.
        struct stat now {};
        if (fstatat(at.folder.get(), at.name.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0) return statusOfErrno(errno);
        if (sameFile(now, st)) {
            fd = std::move(candidate);
            return status::Success;
        }
    }
}

Status stillInPlace(const HiveLocation& at) {
    struct stat now {};
    if (fstatat(at.folder.get(), at.name.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno == ENOENT) noteFailure(FailureReason::HiveGone, at.path);
        return statusOfErrno(errno);
    }
    if (S_ISLNK(now.st_mode)) {
        noteFailure(FailureReason::LinkInPlace, at.path);
        return status::AccessDenied;
    }
    return status::Success;
}

Status beginReplace(const HiveLocation& at, PendingFile& pending) {
    pending.fd = makeOwnFile(at.folder.get(), at.name, ".new-", pending.name);
    if (!pending.fd) {
        pending.name.clear();
        return statusOfErrno(errno);
    }
    return status::Success;
}

void abandonReplace(const HiveLocation& at, PendingFile& pending) {
    if (!pending.name.empty()) ::unlinkat(at.folder.get(), pending.name.c_str(), 0);
    pending.name.clear();
    pending.fd = Fd();
}

Status readyReplace(const HiveLocation& at, int old, const struct stat& like, PendingFile& pending) {
    auto fail = [&](int err) {
        const Status s = statusOfErrno(err);
        abandonReplace(at, pending);
        return s;
    };
    const int fd = pending.fd.get();
    struct stat mine {};
    struct stat named {};
    if (fstat(fd, &mine) != 0) return fail(errno);
    // Make sure the name still leads to the file made for it.
    if (fstatat(at.folder.get(), pending.name.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0) return fail(errno);
    if (!sameFile(mine, named)) return fail(EACCES);
    // The owner first: a change of owner clears what the mode and the attributes then set.
    if ((mine.st_uid != like.st_uid || mine.st_gid != like.st_gid) && fchown(fd, like.st_uid, like.st_gid) != 0)
        return fail(errno);
    if (const Status s = carryAttributes(old, fd, at.path)) {
        abandonReplace(at, pending);
        return s;
    }
    // An access list carried over set the group bits to its mask, which the old mode has too.
    if (fstat(fd, &mine) != 0) return fail(errno);
    if ((mine.st_mode & 07777) != (like.st_mode & 07777) && fchmod(fd, like.st_mode & 07777) != 0) return fail(errno);
    pending.dos.clear();
    if (const Status s = carryWindowsAttributes(old, fd, at.path, pending.dos)) {
        abandonReplace(at, pending);
        return s;
    }
    if (fsync(fd) != 0) return fail(errno);
    return status::Success;
}

Status finishReplace(const HiveLocation& at, PendingFile& pending, Fd& lockedNew, bool& confirmed) {
    auto fail = [&](int err) {
        const Status s = statusOfErrno(err);
        abandonReplace(at, pending);
        return s;
    };
    const int fd = pending.fd.get();
    // Nobody else knows the new file yet, so its lock is free.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0 && !locksUnsupported(errno)) return fail(errno);
    if (renameat(at.folder.get(), pending.name.c_str(), at.folder.get(), at.name.c_str()) != 0) return fail(errno);
    pending.name.clear();
    lockedNew = std::move(pending.fd);
    // What the rename itself changed of the DOS attributes (the archive mark) is undone.
    bool again = false;
    for (const auto& [name, value] : pending.dos)
        if (attribute(fd, name) != value) again = fsetxattr(fd, name.c_str(), value.data(), value.size(), 0) == 0 || again;
    if (again) fsync(fd);
    // The rename is durable once the folder is flushed. When that fails, the new file is in
    // place all the same: only its durability is in doubt.
    confirmed = !(fsync(at.folder.get()) != 0 && errno == EIO);
    return status::Success;
}

void removeUnfinishedReplacements(const HiveLocation& at, const struct stat& hive) {
    const int listing = ::openat(at.folder.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (listing < 0) return;
    DIR* dir = fdopendir(listing);
    if (!dir) {
        ::close(listing);
        return;
    }
    std::vector<std::string> stale;
    while (const dirent* entry = readdir(dir))
        if (isLeftOverName(at.name, entry->d_name)) stale.emplace_back(entry->d_name);
    closedir(dir);
    // Only what a killed save of this hive could have left: a regular file of one name, made by
    // this user and maybe given the hive's owner already. Another user's file is never touched,
    // whatever its name.
    for (const std::string& name : stale) {
        struct stat st {};
        if (fstatat(at.folder.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) &&
            st.st_nlink == 1 && (st.st_uid == hive.st_uid || st.st_uid == geteuid()))
            ::unlinkat(at.folder.get(), name.c_str(), 0);
    }
}

} // namespace platform::hive
