// The hive engine's face: a hive file open in a session that its key handles share, its keys
// and values as they are and as they will be, the one commit that writes the changes, and an
// observer of those commits for tests. The engine's own parts (reader, writer, free space,
// file) stand behind it. Which file a run opens is its second face (choice.h); why a call
// failed, beyond its code, its failure notes (failure.h).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/hive/failure.h"
#include "platform/hive/file.h"
#include "platform/hive/format.h"
#include "platform/hive/names.h"
#include "platform/registry.h"

namespace platform::hive {

// One open hive file: its lock, its mapping and the changes that wait for a commit.
struct Session;

// The session of the hive file at `at`, shared with the handles already open on it (also
// under another name of the same file). The caller serialises every call of this face.
Status openSession(const std::shared_ptr<const HiveLocation>& at, std::shared_ptr<Session>& out);

// The root key, and the key named `name` (in any case) right below `key`: FileNotFound when
// there is none.
std::uint32_t rootKey(const Session& s);
Status subkey(const Session& s, std::uint32_t key, std::u16string_view name, std::uint32_t& out);

// Whether the hive may be changed and written back: its last write complete (or completed from
// its logs), and the file replaceable by this user. The reason of a refusal is noted.
Status writeAccess(const Session& s);

// What opening found of the hive's last write: complete, completed in memory from its logs, or
// not complete with logs that are missing or cannot be used (log.h).
HiveCondition condition(const Session& s);

// The values of a key as every handle sees them: the file's, overlaid by the changes that wait.
// A key's values keep their order. Stored bytes: text as UTF-16LE.
Status readValue(const Session& s, std::uint32_t key, std::u16string_view name, std::uint32_t& type, std::string& data);
// A value that exists keeps its name; only its type and data change. NotEnoughMemory for data
// larger than one value may hold.
Status setValue(Session& s, std::uint32_t key, std::u16string_view name, std::uint32_t type, std::string data);
// FileNotFound, changing nothing, when the value is absent.
Status deleteValue(Session& s, std::uint32_t key, std::u16string_view name);

// Whether changes wait; dropping them leaves the hive as its file holds it.
bool hasChanges(const Session& s);
void dropChanges(Session& s);

// Writes the waiting changes: a changed copy of the file replaces it whole, and the session
// goes on with the new file. Key cells stay where they were, so open handles stay valid. On
// a failure the file is as it was. A hive whose file is gone (deleted, its folder removed:
// FileNotFound) or stands behind a link (AccessDenied) is not made anew: the reason is noted.
Status commit(Session& s);

// Writes the hive as the session sees it into `target` (a new, empty file) as a commit with no
// change would write it: the file's bytes, the pages its logs gave, a base block of a complete
// write. The hive's file is not written. For comparing a replay of the logs with other readers.
Status writeUnchanged(const Session& s, int target);

// Whether the last commit put its new file in place without the system confirming that it
// reached the disk (the flush of the folder failed after the rename). The commit succeeded:
// the changes are saved, as far as the system's own writing goes.
bool lastCommitUnconfirmed(const Session& s);

// Sees every commit that replaces a hive file: the file as it is just before, and the new file
// just after. For tests, which check what each commit wrote.
class CommitObserver {
public:
    virtual ~CommitObserver() = default;
    // Just before `replacing`, when the hive that the commit starts from is not what its file
    // holds (its logs were replayed over it in memory): that hive, which writeUnchanged writes.
    virtual void startsFrom(const std::string& path, const Session& hive) {
        (void)path;
        (void)hive;
    }
    virtual void replacing(const std::string& path) = 0;
    virtual void replaced(const std::string& path) = 0;
};
// The one observer from now on; null for none.
void observeCommits(CommitObserver* observer);

} // namespace platform::hive
