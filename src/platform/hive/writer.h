// Changes to the values of keys of a mapped hive, kept in memory until they are written as a
// changed copy of the hive: the original bytes copied by the kernel, the new cells put into
// free space of the bins (a bin added at the end only for what fits nowhere), and the few
// fields that refer to them patched in place.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "platform/hive/reader.h"
#include "platform/hive/space.h"
#include "platform/registry.h"

namespace platform::hive {

// A value of a changed key: the value cell of the file as it is, or a new value.
struct ValueSlot {
    std::uint32_t cell = NoCell; // the unchanged value's cell; NoCell for a new value
    StoredName name;             // a new value's name, as it will be stored
    std::uint32_t type = 0;
    std::string data;
};

// The values a key will hold, in their order, and the value cells the file holds for it now.
struct KeyChanges {
    std::vector<ValueSlot> values;
    std::vector<std::uint32_t> stored;
    std::uint32_t storedList = NoCell;
};

// Changed keys by their cell.
using HiveChanges = std::map<std::uint32_t, KeyChanges>;

// The most data one value may hold: what a big-data cell can name.
inline constexpr std::uint64_t MaxValueData = std::uint64_t{0xFFFF} * BigDataSegment;

// A commit worked out in memory, before anything is written: the bytes that differ from the
// hive as it is, and how long its bins become.
struct PreparedCommit {
    struct Edit {
        std::uint32_t offset; // in the bins
        std::string bytes;
    };
    std::uint32_t oldBins = 0;
    std::uint32_t newBins = 0;
    std::vector<Edit> edits; // inside the old bins, applied in their order
    std::string addedBins;   // the bins added after the old ones, whole
    std::string baseBlock;   // its first 512 bytes
    // The stretches of the old bins that the commit frees, wipes or reuses: the cells it gives
    // up, the new cells it puts there, the free runs whose size changes.
    std::vector<FreeSpace::Range> claimed;
};

// Works out the hive of `hive` with `changes` applied, stamped `filetime`. DiskFull when its
// bins would reach BinsLimit; RegistryCorrupt when they would have to grow where a damaged bin
// claims pages past their end; NotEnoughMemory for a value larger than a hive can hold. With
// `used` (what the hive refers to once the changes are written: references.h), nothing it
// covers is given up or reused; without, the cells are given up by the references of the
// changed keys alone, and sparesAll tells afterwards whether that was sound.
Status prepareCommit(const MappedHive& hive, const HiveChanges& changes, std::uint64_t filetime, PreparedCommit& out,
                     const Coverage* used = nullptr);

// Whether the prepared commit frees, wipes and reuses nothing that `used` covers.
bool sparesAll(const PreparedCommit& prepared, const Coverage& used);

// Bytes of a hive that its file does not hold as the session sees it: a replay of its logs put
// them over the file in memory (writes of the logged pages, and bins past the file's end).
struct PagesFromMemory {
    struct Range {
        std::uint32_t offset; // in the bins
        std::uint32_t size;
    };
    std::uint64_t fileBins = 0; // the bytes of bins that the file holds, up to the hive's end
    std::vector<Range> ranges;  // ascending and apart
};

// Writes into `target` (a new, empty file) the prepared hive: the bins of `source` (whose
// hive `prepared` was worked out from) copied by the kernel, then the pages that the hive
// holds in memory over them, taken from its bins `bins`, then the edits. Nothing of `source`
// is written.
Status writeCommit(const PreparedCommit& prepared, int source, int target, const PagesFromMemory& pages = {},
                   std::string_view bins = {});

} // namespace platform::hive
