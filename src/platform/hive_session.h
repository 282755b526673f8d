// One open hive file and everything the key handles on it share: its lock, its mapping and
// the changes that wait in memory until a commit writes them as a new file.
#pragma once

#include <memory>
#include <string>
#include <sys/stat.h>

#include "platform/hive_file.h"
#include "platform/hive_reader.h"
#include "platform/hive_writer.h"
#include "platform/registry.h"

namespace platform::hive {

struct Session {
    std::shared_ptr<const HiveLocation> at; // the file and its folder
    Fd lock;             // the hive file, locked (where the file system offers locks)
    bool locked = false;
    struct stat file {}; // what `lock` is
    MappedHive hive;
    HiveChanges changes; // not yet on disk
};

// The session of the hive file at `at`, shared with the handles already open on it. The caller
// serialises the calls.
Status openSession(const std::shared_ptr<const HiveLocation>& at, std::shared_ptr<Session>& out);

// Whether the hive may be changed and written back: its last write complete, and the file
// replaceable by this user.
Status writeAccess(const Session& s);

// Writes the session's changes to disk: a changed copy of the file replaces it, and the
// session goes on with the new file. Key cells stay where they were, so open handles stay valid.
Status commit(Session& s);

} // namespace platform::hive
