// Transaction logs of a hive made as Windows makes them, for the tests and the benchmarks: the
// new format's entries of 4096-byte pages of the bins, each sealed by its two Marvin32 sums,
// and the old format's bitmap of 512-byte pages followed by those pages. Each log begins with
// its copy of the hive's base block (one sector of 512 bytes).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace testsupport {

// Pages of the bins that a log holds: where in the bins, and their bytes (whole pages).
struct LoggedPages {
    std::uint32_t offset;
    std::string bytes;
};

// One entry of a new-format log: the sequence number of its write, the size of the bins then,
// and its pages.
struct LogEntry {
    std::uint32_t sequence = 0;
    std::uint32_t binsSize = 0;
    std::vector<LoggedPages> pages;
};

// The entry that takes the hive `before` (a hive file's bytes) to the hive `after`: the
// 4096-byte pages of `after`'s bins that differ from `before` or lie beyond its bins, in runs
// of pages that follow each other, and `after`'s size of the bins.
LogEntry entryBetween(std::string_view before, std::string_view after, std::uint32_t sequence);

// An entry as a log holds it: its header and page references, its pages, up to a whole number
// of 512-byte sectors, its two sums right.
std::string entryBytes(const LogEntry& entry);

// A new-format log of the hive whose file begins with `base`: a copy of its base block whose
// sequence numbers are both `sequence`, then the entries.
std::string newFormatLog(std::string_view base, std::uint32_t sequence, const std::vector<LogEntry>& entries);

// An old-format log of that hive: the copy, the bitmap ("DIRT") of the 512-byte pages that
// `pages` cover in bins of `binsSize` bytes (which the copy gives), then those pages in the order
// of the bins. The pages lie apart, at multiples of 512 bytes.
std::string oldFormatLog(std::string_view base, std::uint32_t sequence, std::uint32_t binsSize,
                         const std::vector<LoggedPages>& pages);

// The two sums of each entry of a new-format log made right again, after a change to an entry
// (one whose size field does not lead to a whole entry ends the log).
void sealEntries(std::string& log);

// The hive's base block as a write that did not finish leaves it: `sequence` its first sequence
// number, one less its second, its checksum right.
void leaveDirty(std::string& hive, std::uint32_t sequence);

} // namespace testsupport
