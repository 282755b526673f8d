#include "hive_guard.h"

#include <gtest/gtest.h>

#include <map>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <type_traits>

#include "hive_check.h"
#include "platform/hive_file.h"
#include "platform/registry.h"

// The real operations, as the linker names them to the guard. The names are those of the
// operations' C++ symbols, which encode their argument types.
static_assert(std::is_same_v<platform::Key, unsigned long>, "the symbols below name a Key as unsigned long");
extern "C" platform::Status __real__ZN8platform13RegOpenKeyExAEmPKcjjPm(platform::Key, const char*, std::uint32_t,
                                                                          std::uint32_t, platform::Key*);
extern "C" platform::Status __real__ZN8platform11RegCloseKeyEm(platform::Key);

namespace testsupport {
namespace {

// A hive file as the guard last saw it: which file the path named, and its check.
struct Seen {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified{};
    HiveCheck check;
};

struct Guard {
    std::mutex mutex;
    std::map<std::string, Seen> files; // by the path the registry was pointed at
    std::size_t commits = 0;
};

Guard& guard() {
    static Guard g;
    return g;
}

bool sameFile(const Seen& seen, const struct stat& st) { return seen.device == st.st_dev && seen.inode == st.st_ino; }
bool sameContent(const Seen& seen, const struct stat& st) {
    return sameFile(seen, st) && seen.size == st.st_size && seen.modified.tv_sec == st.st_mtim.tv_sec &&
           seen.modified.tv_nsec == st.st_mtim.tv_nsec;
}

Seen seen(const std::string& path, const struct stat& st) {
    return Seen{st.st_dev, st.st_ino, st.st_size, st.st_mtim, checkHiveFile(path)};
}

// The file the registry works on now, as it is before any change of ours: the source of the
// next commit. A file the test itself rewrote in place becomes the new source.
void watch(const std::string& path) {
    struct stat st {};
    if (path.empty() || stat(path.c_str(), &st) != 0) return;
    Guard& g = guard();
    const auto it = g.files.find(path);
    if (it == g.files.end() || !sameContent(it->second, st)) g.files[path] = seen(path, st);
}

// After a close: every watched file that a commit replaced meets the check.
void checkReplaced() {
    Guard& g = guard();
    for (auto it = g.files.begin(); it != g.files.end();) {
        struct stat st {};
        if (stat(it->first.c_str(), &st) != 0) {
            it = g.files.erase(it);
            continue;
        }
        if (!sameFile(it->second, st)) {
            Seen now = seen(it->first, st);
            ++g.commits;
            const auto faults = commitFaults(it->second.check, now.check);
            if (!faults.empty())
                ADD_FAILURE() << "a commit wrote " << it->first << " with faults that the file it replaced did not have:\n"
                              << describe(faults);
            it->second = std::move(now);
        }
        ++it;
    }
}

} // namespace

std::size_t guardedCommits() {
    std::lock_guard lock(guard().mutex);
    return guard().commits;
}

} // namespace testsupport

extern "C" platform::Status __wrap__ZN8platform13RegOpenKeyExAEmPKcjjPm(platform::Key key, const char* subKey,
                                                                          std::uint32_t options, std::uint32_t sam,
                                                                          platform::Key* result) {
    const platform::Status status = __real__ZN8platform13RegOpenKeyExAEmPKcjjPm(key, subKey, options, sam, result);
    // Only an open from the predefined key names a hive file; the default hive may be made by it.
    if (key == platform::LocalMachine) {
        std::lock_guard lock(testsupport::guard().mutex);
        testsupport::watch(platform::hive::chosenHive().path);
    }
    return status;
}

extern "C" platform::Status __wrap__ZN8platform11RegCloseKeyEm(platform::Key key) {
    const platform::Status status = __real__ZN8platform11RegCloseKeyEm(key);
    std::lock_guard lock(testsupport::guard().mutex);
    testsupport::checkReplaced();
    return status;
}
