// The default hive: made on first use, so that the program runs with nothing configured. It
// lives in a folder of the user's own that nobody else may write, so that nobody else can put
// a file or a link in the way of the one that is made. The file is made whole in memory and
// written through the descriptor that created it; nothing is opened again by its name.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "platform/bytes.h"
#include "platform/hive/choice.h"
#include "platform/hive/failure.h"
#include "platform/hive/format.h"
#include "platform/hive/paths.h"

namespace platform::hive {
namespace {

// The values of the Winlogon key of a freshly installed workstation, as REG_SZ.
struct DefaultValue {
    std::string_view name;
    std::u16string_view text;
};
constexpr DefaultValue WinlogonDefaults[] = {
    {"AutoAdminLogon", u"0"},
    {"DefaultUserName", u"Administrator"},
    {"DontDisplayLastUserName", u"0"},
    {"ShutdownWithoutLogon", u"1"},
    {"LegalNoticeCaption", u""},
    {"LegalNoticeText", u""},
};
constexpr std::string_view WinlogonPath[] = {"Microsoft", "Windows NT", "CurrentVersion", "Winlogon"};

// The whole default hive, stamped now.
std::string defaultHive() {
    std::vector<std::string> data;
    std::vector<NewValue> values;
    data.reserve(std::size(WinlogonDefaults));
    for (const DefaultValue& v : WinlogonDefaults) {
        // UTF-16LE with its terminating NUL.
        data.push_back(utf16le(v.text) + std::string(2, '\0'));
        values.push_back({v.name, RegSz, data.back()});
    }
    return hiveWithKey(filetimeNow(), WinlogonPath, values);
}

// Makes every missing folder of `folder`, each 0700.
int makeFolders(const std::string& folder) {
    struct stat st {};
    if (stat(folder.c_str(), &st) == 0) return S_ISDIR(st.st_mode) ? 0 : (errno = ENOTDIR, -1);
    if (errno != ENOENT) return -1;
    if (makeFolders(folderOf(folder)) != 0) return -1;
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return -1;
    return 0;
}

// Writes all of `bytes`; false with errno set, or 0 when the file took no more.
bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

// Ends ensureDefaultHive with a failure: its reason noted for the registry's caller, naming
// `concerned`, and `said` handed to the start-up's.
Status failed(DefaultHiveFailure* out, Status code, FailureReason reason, const std::string& concerned,
              DefaultHiveFailure said) {
    if (reason != FailureReason::None) noteFailure(reason, concerned);
    if (out) *out = std::move(said);
    return code;
}

// A file operation in the hive's folder `folder` failed with `err`, doing what `doing` says
// to `path` (the hive, or the folder itself).
Status failedWith(DefaultHiveFailure* out, int err, const std::string& folder, std::string path, const char* doing) {
    const bool isFolder = path == folder;
    const FailureReason reason = err == EROFS                                  ? FailureReason::ReadOnlyFileSystem
                                 : (err == EACCES || err == EPERM) && !isFolder ? FailureReason::FolderNotWritable
                                                                                : FailureReason::None;
    return failed(out, statusOfErrno(err), reason, folder,
                  {std::move(path), isFolder, std::string(doing) + ": " + std::strerror(err)});
}

} // namespace

Status checkDefaultFolder(int dir, const std::string& folder, DefaultHiveFailure* failure) {
    auto notPrivate = [&](std::string words) {
        return failed(failure, status::AccessDenied, FailureReason::FolderNotPrivate, folder,
                      {folder, true, std::move(words)});
    };
    struct stat st {};
    if (fstat(dir, &st) != 0) return failedWith(failure, errno, folder, folder, "cannot be opened");
    if (st.st_uid != geteuid())
        return notPrivate("belongs to another user (uid " + std::to_string(st.st_uid) + "), not to you");
    if (st.st_mode & (S_IWGRP | S_IWOTH)) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
        return notPrivate(std::string("may be written by other users (mode ") + mode + "), not by you alone");
    }
    return status::Success;
}

Status openDefaultHive(const std::string& path, Fd& folderOut, DefaultHiveFailure* failure) {
    const std::string folder = folderOf(path);
    const std::string name = nameOf(path);
    if (makeFolders(folder) != 0) return failedWith(failure, errno, folder, folder, "cannot be created");

    // The folder must be the user's own and closed to everyone else. It is judged by a
    // descriptor, and the file made through that descriptor: a folder swapped for a link
    // after the check cannot lead the new file elsewhere.
    Fd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat st {};
    // A link fails as a link (ELOOP), or as no folder (ENOTDIR) where a folder is asked for.
    if (!dir && (errno == ELOOP || errno == ENOTDIR) && lstat(folder.c_str(), &st) == 0 && S_ISLNK(st.st_mode))
        return failed(failure, status::AccessDenied, FailureReason::FolderNotPrivate, folder,
                      {folder, true, "is a symbolic link, not a folder of your own"});
    if (!dir) return failedWith(failure, errno, folder, folder, "cannot be opened");
    if (const Status s = checkDefaultFolder(dir.get(), folder, failure)) return s;
    auto found = [&] {
        folderOut = std::move(dir);
        return status::Success;
    };

    if (fstatat(dir.get(), name.c_str(), &st, 0) == 0) return found();
    if (errno != ENOENT) return failedWith(failure, errno, folder, path, "cannot be read");

    const std::string hive = defaultHive();
    std::string temporary;
    // A kind of its own: a commit beside it never takes it for one that a killed save left.
    const Fd fd = makeOwnFile(dir.get(), name, ".first-", temporary);
    if (!fd) return failedWith(failure, errno, folder, path, "cannot be created");
    auto abandon = [&](int err, const char* doing) {
        ::unlinkat(dir.get(), temporary.c_str(), 0);
        return failedWith(failure, err, folder, path, doing);
    };
    // Exactly 0600, whatever the umask.
    if (fchmod(fd.get(), 0600) != 0) return abandon(errno, "cannot be created");
    errno = 0;
    if (!writeAll(fd.get(), hive) || fsync(fd.get()) != 0)
        return abandon(errno ? errno : EIO, "cannot be written");

    // Put it in place unless another process was quicker; then its hive is the one.
    if (renameat2(dir.get(), temporary.c_str(), dir.get(), name.c_str(), RENAME_NOREPLACE) != 0) {
        if (errno == EEXIST) {
            ::unlinkat(dir.get(), temporary.c_str(), 0);
            return found();
        }
        if (errno != EINVAL && errno != ENOSYS) return abandon(errno, "cannot be put in place");
        // A file system without the no-replace rename: a hard link fails the same way.
        if (linkat(dir.get(), temporary.c_str(), dir.get(), name.c_str(), 0) != 0 && errno != EEXIST)
            return abandon(errno, "cannot be put in place");
        ::unlinkat(dir.get(), temporary.c_str(), 0);
    }
    fsync(dir.get());
    return found();
}

Status ensureDefaultHive(const std::string& path, DefaultHiveFailure* failure) {
    Fd folder;
    return openDefaultHive(path, folder, failure);
}

} // namespace platform::hive
