#include "platform/hive/choice.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <string_view>
#include <unistd.h>

#include "platform/hive/log.h"
#include "platform/hive/paths.h"
#include "platform/hive/reader.h"

namespace platform::hive {
namespace {

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

void selectHive(std::string path) {
    selectedHive = path.empty() ? path : absoluteOf(path);
    // The hive of the run is found now, once: what becomes of its name later changes nothing.
    std::shared_ptr<const HiveLocation> located;
    if (!selectedHive.empty()) locateHive(selectedHive, located);
}

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

namespace {

// The location of the name asked for last; a run asks for one name only.
struct Located {
    std::string named;
    std::shared_ptr<const HiveLocation> at;
};
Located& lastLocated() {
    static Located last;
    return last;
}

// The folder that the descriptor is open on, by its path now; `named` when it cannot be told.
std::string folderPath(int folder, const std::string& named) {
    std::string link(4096, '\0');
    const ssize_t n = readlink(("/proc/self/fd/" + std::to_string(folder)).c_str(), link.data(), link.size());
    if (n <= 0 || static_cast<std::size_t>(n) >= link.size() || link[0] != '/') return named;
    link.resize(static_cast<std::size_t>(n));
    return link;
}

} // namespace

Status locateHive(const std::string& named, std::shared_ptr<const HiveLocation>& out) {
    Located& last = lastLocated();
    if (last.at && named == last.named) {
        out = last.at;
        return status::Success;
    }
    char* real = realpath(named.c_str(), nullptr);
    if (!real) return statusOfErrno(errno);
    auto at = std::make_shared<HiveLocation>();
    at->path = real;
    std::free(real);
    at->name = nameOf(at->path);
    at->folder = Fd(::open(folderOf(at->path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!at->folder) return statusOfErrno(errno);
    last = {named, at};
    out = std::move(at);
    return status::Success;
}

Status locateDefaultHive(const std::string& path, std::shared_ptr<const HiveLocation>& out, DefaultHiveFailure* failure) {
    Located& last = lastLocated();
    if (last.at && path == last.named) {
        if (const Status s = checkDefaultFolder(last.at->folder.get(), folderOf(path), failure)) return s;
        out = last.at;
        return status::Success;
    }
    Fd folder;
    if (const Status s = openDefaultHive(path, folder, failure)) return s;
    const std::string name = nameOf(path);
    struct stat st {};
    if (fstatat(folder.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode))
        return locateHive(path, out);
    auto at = std::make_shared<HiveLocation>();
    at->path = folderPath(folder.get(), folderOf(path)) + "/" + name;
    at->name = name;
    at->folder = std::move(folder);
    last = {path, at};
    out = std::move(at);
    return status::Success;
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
    // The engine's own test of a hive, so that what passes here is what an open accepts: a file
    // whose base block is broken passes when its logs give it one.
    char* real = realpath(path.c_str(), nullptr);
    const std::string file = real ? real : path;
    std::free(real);
    const Fd folder(::open(folderOf(file).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    MappedHive hive;
    Replayed replayed;
    errno = 0;
    const Status mapped = mapHive(folder.get(), nameOf(file), fd.get(), static_cast<std::uint64_t>(st.st_size), hive, replayed);
    if (mapped == status::BadDatabase) {
        check.problem = HiveProblem::NotAHive;
    } else if (mapped != status::Success) {
        check.problem = HiveProblem::Unreadable;
        check.error = errno ? errno : EIO;
    }
    return check;
}

std::optional<std::string> installationHive(const std::string& root) {
    static constexpr std::string_view Path[] = {"Windows", "System32", "config", "SOFTWARE"};
    std::string at = root;
    for (std::string_view wanted : Path) {
        DIR* dir = opendir(at.c_str());
        if (!dir) return std::nullopt;
        std::optional<std::string> found;
        while (const dirent* entry = readdir(dir))
            if (sameLettersAnyCase(entry->d_name, wanted) && (!found || entry->d_name == wanted)) found = entry->d_name;
        closedir(dir);
        if (!found) return std::nullopt;
        at += (at.ends_with('/') ? "" : "/") + *found;
    }
    return at;
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
        case S_IFDIR: return "is a folder, not a hive file nor a Windows installation with Windows/System32/config/SOFTWARE";
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

} // namespace platform::hive
