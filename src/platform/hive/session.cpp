#include "platform/hive/session.h"

#include <cerrno>
#include <fcntl.h>
#include <string>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

#include "platform/hive/format.h"
#include "platform/hive/references.h"

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

// Whether the waiting changes would store exactly what the file holds: every changed key with
// the same values in the same order, each with the same name, type and data bytes. Such a
// commit writes nothing, so the file keeps its inode and its times.
bool changesNothing(const Session& s) {
    for (const auto& [key, change] : s.changes) {
        if (change.values.size() != change.stored.size()) return false;
        for (std::size_t i = 0; i < change.values.size(); ++i) {
            const ValueSlot& slot = change.values[i];
            if (slot.cell == change.stored[i]) continue;
            if (slot.cell != NoCell) return false;
            ValueHead head;
            std::string data;
            if (s.hive.valueHead(change.stored[i], head) != status::Success ||
                s.hive.valueData(change.stored[i], data) != status::Success)
                return false;
            if (head.name.bytes != slot.name.bytes || head.name.compressed != slot.name.compressed ||
                head.type != slot.type || data != slot.data)
                return false;
        }
    }
    return true;
}

// Runs a piece of work beside the caller, on a thread of its own where one can be had, and
// waits for it at the end of its scope.
class Beside {
public:
    template <class F>
    explicit Beside(F&& work) {
        try {
            thread_ = std::thread(std::forward<F>(work));
        } catch (const std::system_error&) {
            work();
        }
    }
    ~Beside() { wait(); }
    // Waits for the work to end.
    void wait() {
        if (thread_.joinable()) thread_.join();
    }
    Beside(const Beside&) = delete;
    Beside& operator=(const Beside&) = delete;

private:
    std::thread thread_;
};

// The observer of commits, when a test has one.
CommitObserver*& commitObserver() {
    static CommitObserver* observer = nullptr;
    return observer;
}

} // namespace

Status openSession(const std::shared_ptr<const HiveLocation>& at, std::shared_ptr<Session>& out) {
    // Two names of one file share its session: a second lock of the file would wait for the first.
    struct stat st {};
    const bool found = fstatat(at->folder.get(), at->name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
    auto& sessions = openSessions();
    std::erase_if(sessions, [](const auto& w) { return w.expired(); });
    for (const auto& w : sessions) {
        auto s = w.lock();
        if (s->at == at || (found && s->file.st_dev == st.st_dev && s->file.st_ino == st.st_ino)) {
            out = std::move(s);
            return status::Success;
        }
    }

    auto s = std::make_shared<Session>();
    s->at = at;
    if (const Status locked = lockHive(*at, s->lock, s->file, s->locked)) return locked;
    if (const Status mapped = mapHive(at->folder.get(), at->name, s->lock.get(),
                                      static_cast<std::uint64_t>(s->file.st_size), s->hive, s->replayed))
        return mapped;
    sessions.push_back(s);
    out = std::move(s);
    return status::Success;
}

Status writeAccess(const Session& s) {
    // A hive whose logs could not be replayed is seen as its file holds it, not as Windows
    // left it: writing that would lose Windows' last changes.
    if (s.replayed.condition.state == HiveState::Dirty) {
        noteFailure(s.replayed.condition.reason, s.at->path);
        return status::AccessDenied;
    }
    return checkReplaceable(*s.at, s.file);
}

std::uint32_t rootKey(const Session& s) { return s.hive.root(); }

Status subkey(const Session& s, std::uint32_t key, std::u16string_view name, std::uint32_t& out) {
    return s.hive.subkey(key, name, out);
}

bool hasChanges(const Session& s) { return !s.changes.empty(); }

bool lastCommitUnconfirmed(const Session& s) { return s.unconfirmed; }

void dropChanges(Session& s) { s.changes.clear(); }

void observeCommits(CommitObserver* observer) { commitObserver() = observer; }

Status commit(Session& s) {
    if (changesNothing(s)) {
        s.changes.clear();
        return status::Success;
    }
    // Every reference the hive holds is walked beside the rest of the commit (working it out,
    // the copy, its flush): what the commit gives up or reuses must be something nothing else
    // leads to, known before the rename.
    Coverage used;
    Status walked = status::Success;
    Beside walk([&] { walked = referencesAfter(s.hive, s.changes, used); });

    // Worked out in memory first: a commit that cannot fit the hive's size limit writes nothing.
    const std::uint64_t filetime = filetimeNow();
    PreparedCommit prepared;
    auto prepare = [&](const Coverage* used) {
        const Status st = prepareCommit(s.hive, s.changes, filetime, prepared, used);
        if (st == status::DiskFull) noteFailure(FailureReason::SizeLimit, s.at->path);
        return st;
    };
    if (const Status st = prepare(nullptr)) return st;
    // A hive deleted while open, or its folder removed, or a link put in its place: nothing is
    // made anew where it was.
    if (const Status st = stillInPlace(*s.at)) return st;
    // Only the holder of the lock knows that no other replacement is under way.
    if (s.locked) removeUnfinishedReplacements(*s.at, s.file);
    if (CommitObserver* observer = commitObserver()) {
        if (s.replayed.condition.state == HiveState::Recovered) observer->startsFrom(s.at->path, s);
        observer->replacing(s.at->path);
    }
    PendingFile pending;
    if (const Status st = beginReplace(*s.at, pending)) return st;
    auto abandon = [&](Status st) {
        abandonReplace(*s.at, pending);
        return st;
    };
    Status written = writeCommit(prepared, s.lock.get(), pending.fd.get(), s.replayed.pages, s.hive.bins());
    if (!written) written = readyReplace(*s.at, s.lock.get(), s.file, pending);
    walk.wait();
    if (written) return abandon(written);
    if (walked) return abandon(walked);
    if (!sparesAll(prepared, used)) {
        // A damaged hive in which something else leads to a cell the changed keys let go of (or
        // into free space): worked out again around all that the hive refers to, and rewritten.
        if (const Status st = prepare(&used)) return abandon(st);
        if (ftruncate(pending.fd.get(), 0) != 0) return abandon(statusOfErrno(errno));
        if (const Status st = writeCommit(prepared, s.lock.get(), pending.fd.get(), s.replayed.pages, s.hive.bins())) return abandon(st);
        if (const Status st = readyReplace(*s.at, s.lock.get(), s.file, pending)) return abandon(st);
    }
    Fd lockedNew;
    bool confirmed = false;
    const Status st = finishReplace(*s.at, pending, lockedNew, confirmed);
    if (!lockedNew) return st;
    s.unconfirmed = !confirmed;
    if (CommitObserver* observer = commitObserver()) observer->replaced(s.at->path);
    // The new file is in place (even when its folder could not be flushed): hold its lock.
    Fd replaced = std::exchange(s.lock, std::move(lockedNew));
    fstat(s.lock.get(), &s.file);
    s.changes.clear();
    MappedHive remapped;
    const Status mapped = remapped.map(s.lock.get(), static_cast<std::uint64_t>(s.file.st_size));
    if (mapped == status::Success) {
        // The new file holds what the logs gave: it is clean.
        std::swap(s.hive, remapped);
        s.replayed = {};
    }
    releaseReplaced(std::move(replaced), std::move(remapped));
    return mapped ? mapped : st;
}

} // namespace platform::hive
