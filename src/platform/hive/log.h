// The transaction logs of a hive file, a part of the engine of its own between the file and
// the reader: the hive as the reader sees it is the file with the logged pages over it.
//
// Windows writes a hive's newest changes to its logs (NAME.LOG1 and NAME.LOG2 since Vista, NAME.LOG
// before) and into the file later. A file whose last write did not finish (its two sequence
// numbers differ, or its base block's checksum is wrong) is dirty: the changes that Windows
// would replay at boot wait in the logs. Loading replays them in memory, never writing the file
// or its logs: the file mapped privately, so that only the pages the logs give are copied.
//
// Each log begins with a copy of the hive's base block that says its format:
// - new (file type 6, Windows 8.1 on): entries ("HvLE") one after another at 512-byte
//   boundaries, each a set of runs of 4096-byte pages of the bins with the sequence number of
//   its write and the size the bins had then, checked by two Marvin32 sums. The entries from
//   the file's sequence number on are applied in their order, from the log that holds the
//   earlier ones (the two are written by turns) then the other; the first that fails a check
//   ends the replay, and what came before it stands.
// - old (file type 1, up to Windows 8): a bitmap ("DIRT") of the 512-byte pages of the bins
//   that the log holds, then those pages. One log is used: one whose copy is complete (its
//   sequence numbers equal) and whose write was the file's (the same timestamp).
// A file whose base block is broken takes the log's copy.
#pragma once

#include <cstdint>
#include <string>

#include "platform/hive/hive.h"
#include "platform/hive/reader.h"
#include "platform/hive/writer.h"

namespace platform::hive {

// What a session keeps of the replay of its hive's logs: what loading found, and the bytes of
// the hive that its file does not hold as the session sees it, which a commit writes from memory.
struct Replayed {
    HiveCondition condition;
    PagesFromMemory pages;
};

// Maps the hive in the file behind `fd` (`fileSize` bytes), whose logs lie beside it in the
// folder `folder` (NAME.LOG, NAME.LOG1 and NAME.LOG2 for the file `name`, in any case): as the
// file holds it when its last write completed or its logs cannot be used, else with the logs
// replayed over it. `replayed` says which. The codes of MappedHive::map.
Status mapHive(int folder, const std::string& name, int fd, std::uint64_t fileSize, MappedHive& hive,
               Replayed& replayed);

} // namespace platform::hive
