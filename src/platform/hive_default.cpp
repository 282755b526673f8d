// The default hive: made on first use, so that the program runs with nothing configured.
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <hivex.h>
#include <memory>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "platform/bytes.h"
#include "platform/hive_file.h"
#include "platform/hive_format.h"
#include "platform/paths.h"

namespace platform::hive {
namespace {

struct HiveCloser {
    void operator()(hive_h* h) const { hivex_close(h); }
};

// The values of the Winlogon key of a freshly installed workstation, as REG_SZ.
struct DefaultValue {
    const char* name;
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
constexpr const char* WinlogonPath[] = {"Microsoft", "Windows NT", "CurrentVersion", "Winlogon"};

// UTF-16LE with its terminating NUL.
std::string storedText(std::u16string_view text) { return utf16le(text) + std::string(2, '\0'); }

// Makes every missing folder of `folder`, each 0700.
int makeFolders(const std::string& folder) {
    struct stat st {};
    if (stat(folder.c_str(), &st) == 0) return S_ISDIR(st.st_mode) ? 0 : (errno = ENOTDIR, -1);
    if (errno != ENOENT) return -1;
    if (makeFolders(folderOf(folder)) != 0) return -1;
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return -1;
    return 0;
}

// Writes the default hive into the file `path` (already created, empty, and ours).
int writeDefaultHive(int fd, const char* path) {
    const std::string empty = emptyHive(filetimeNow());
    for (std::size_t done = 0; done < empty.size();) {
        const ssize_t n = ::write(fd, empty.data() + done, empty.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        done += static_cast<std::size_t>(n);
    }
    std::unique_ptr<hive_h, HiveCloser> h(hivex_open(path, HIVEX_OPEN_WRITE));
    if (!h) return -1;
    hive_node_h node = hivex_root(h.get());
    for (const char* name : WinlogonPath) {
        node = hivex_node_add_child(h.get(), node, name);
        if (node == 0) return -1;
    }
    std::vector<std::string> data;
    std::vector<hive_set_value> values;
    data.reserve(std::size(WinlogonDefaults));
    for (const DefaultValue& v : WinlogonDefaults) {
        data.push_back(storedText(v.text));
        values.push_back({const_cast<char*>(v.name), hive_t_REG_SZ, data.back().size(), data.back().data()});
    }
    if (hivex_node_set_values(h.get(), node, values.size(), values.data(), 0) != 0) return -1;
    // The file is new and nobody else sees it yet: hivex may write it in place.
    if (hivex_commit(h.get(), nullptr, 0) != 0) return -1;
    return 0;
}

} // namespace

Status ensureDefaultHive(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) == 0) return status::Success;
    if (errno != ENOENT) return statusOfErrno(errno);

    const std::string folder = folderOf(path);
    if (makeFolders(folder) != 0) return statusOfErrno(errno);

    struct {
        std::string tempPath;
        Fd fd;
    } pending{folderOf(path) + "/." + nameOf(path) + ".new-XXXXXX", Fd()};
    pending.fd = Fd(mkostemp(pending.tempPath.data(), O_CLOEXEC));
    if (!pending.fd) return statusOfErrno(errno);
    auto abandonReplace = [](auto& p) { ::unlink(p.tempPath.c_str()); };
    auto fail = [&](int err) {
        abandonReplace(pending);
        return statusOfErrno(err);
    };
    if (fchmod(pending.fd.get(), 0600) != 0) return fail(errno);
    if (writeDefaultHive(pending.fd.get(), pending.tempPath.c_str()) != 0) return fail(errno ? errno : EIO);
    if (fsync(pending.fd.get()) != 0) return fail(errno);
    // Put it in place unless another process was quicker; then its hive is the one.
    if (renameat2(AT_FDCWD, pending.tempPath.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE) != 0) {
        if (errno == EEXIST) {
            abandonReplace(pending);
            return status::Success;
        }
        if (errno != EINVAL && errno != ENOSYS) return fail(errno);
        // A file system without the no-replace rename: a hard link fails the same way.
        if (link(pending.tempPath.c_str(), path.c_str()) != 0 && errno != EEXIST) return fail(errno);
        abandonReplace(pending);
        return status::Success;
    }
    pending.tempPath.clear();
    Fd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir) fsync(dir.get());
    return status::Success;
}

} // namespace platform::hive
