#include "platform/hive_session.h"

#include <cerrno>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "platform/hive_format.h"

namespace platform::hive {
namespace {

// The sessions open now, found again by the file they hold.
std::vector<std::weak_ptr<Session>>& openSessions() {
    static std::vector<std::weak_ptr<Session>> sessions;
    return sessions;
}

// Lets go of a file that a commit replaced. Its last reference takes its blocks and cached
// pages with it, which costs the file system about as much as reading it; nobody needs to
// wait for that, so it is done beside the caller (or here when no thread can be had).
void releaseReplaced(Fd lock, MappedHive mapped) {
    try {
        std::thread([lock = std::move(lock), mapped = std::move(mapped)]() mutable {
            mapped = MappedHive();
            lock = Fd();
        }).detach();
    } catch (const std::system_error&) {
    }
}

} // namespace

Status openSession(const std::string& named, std::shared_ptr<Session>& out) {
    std::string path;
    if (const Status s = resolveHive(named, path)) return s;
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return statusOfErrno(errno);
    auto& sessions = openSessions();
    std::erase_if(sessions, [](const auto& w) { return w.expired(); });
    for (const auto& w : sessions) {
        auto s = w.lock();
        if (s->file.st_dev == st.st_dev && s->file.st_ino == st.st_ino) {
            out = std::move(s);
            return status::Success;
        }
    }

    auto s = std::make_shared<Session>();
    s->path = path;
    if (const Status locked = lockHive(path, s->lock, s->file)) return locked;
    if (const Status mapped = s->hive.map(s->lock.get(), static_cast<std::uint64_t>(s->file.st_size))) return mapped;
    sessions.push_back(s);
    out = std::move(s);
    return status::Success;
}

Status writeAccess(const Session& s) {
    if (s.hive.base().dirty()) {
        noteFailure(FailureReason::PendingLogChanges, s.path);
        return status::AccessDenied;
    }
    return checkReplaceable(s.path, s.file);
}

Status commit(Session& s) {
    // Worked out in memory first: a commit that cannot fit the hive's size limit writes nothing.
    PreparedCommit prepared;
    if (const Status st = prepareCommit(s.hive, s.changes, filetimeNow(), prepared)) {
        if (st == status::DiskFull) noteFailure(FailureReason::SizeLimit, s.path);
        return st;
    }
    PendingFile pending;
    if (const Status st = beginReplace(s.path, pending)) return st;
    if (const Status st = writeCommit(prepared, s.lock.get(), pending.fd.get())) {
        abandonReplace(pending);
        return st;
    }
    Fd lockedNew;
    const Status st = finishReplace(s.path, s.file, pending, lockedNew);
    if (!lockedNew) return st;
    // The new file is in place (even when its folder could not be flushed): hold its lock.
    Fd replaced = std::exchange(s.lock, std::move(lockedNew));
    fstat(s.lock.get(), &s.file);
    s.changes.clear();
    MappedHive remapped;
    const Status mapped = remapped.map(s.lock.get(), static_cast<std::uint64_t>(s.file.st_size));
    if (mapped == status::Success) std::swap(s.hive, remapped);
    releaseReplaced(std::move(replaced), std::move(remapped));
    return mapped ? mapped : st;
}

} // namespace platform::hive
