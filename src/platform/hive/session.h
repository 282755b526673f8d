// One open hive file and everything the key handles on it share: its lock, its mapping (with
// its logs replayed over it when Windows left it dirty) and
// the changes that wait in memory until a commit writes them as a new file. Private to the
// engine; its face is hive.h.
#pragma once

#include <memory>
#include <string>
#include <sys/stat.h>

#include "platform/hive/file.h"
#include "platform/hive/hive.h"
#include "platform/hive/log.h"
#include "platform/hive/reader.h"
#include "platform/hive/writer.h"

namespace platform::hive {

struct Session {
    std::shared_ptr<const HiveLocation> at; // the file and its folder
    Fd lock;             // the hive file, locked (where the file system offers locks)
    bool locked = false;
    struct stat file {}; // what `lock` is
    MappedHive hive;     // the file, or the file with its logs replayed over it
    Replayed replayed;   // what the logs made of it
    HiveChanges changes; // not yet on disk
    bool unconfirmed = false; // the last commit's file is in place, the flush of its folder failed
};

} // namespace platform::hive
