// Changes to the values of keys of a mapped hive, kept in memory until they are written as a
// changed copy of the hive: the original bytes copied by the kernel, one new hive bin appended
// with the new cells, and the few fields that refer to them patched in place.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/hive_reader.h"
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

// Writes into `target` (a new, empty file) the hive of `source` (whose bins `hive` maps)
// with `changes` applied, stamped `filetime`. Nothing of `source` is written.
Status writeChangedHive(const MappedHive& hive, int source, int target, const HiveChanges& changes,
                        std::uint64_t filetime);

} // namespace platform::hive
