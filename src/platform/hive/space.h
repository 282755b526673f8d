// The free space of a hive's bins, as one commit sees and changes it.
//
// It is read from the bins as the file holds them (found by the chain of their headers, never
// by what a page looks like), one bin at a time and only as far as a commit needs: the bins of
// the cells it gives up, then bins in the order of the file until one has room for a cell that
// fits nowhere known yet. Reading a bin finds its free cells,
// each merged with the free cells right beside it into one run; a bin whose cells do not tile
// it exactly is damaged somewhere, and offers nothing and takes nothing back. The cells a
// commit gives up join the free space, merged in turn with their free neighbours. A new cell
// takes the smallest known run that holds it, from the run's start, and the rest of the run
// stays free. When no run of the whole file holds it, the bins grow at the end: the last bin,
// when it ends with free space, grows by what that space lacks (so a value that outgrows the
// space it gave up there does not leave it behind), else a bin sized for the cell is added.
// Runs never cross a bin's edge: two runs can only touch inside one bin, since every bin
// begins with its header.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/hive/format.h"

namespace platform::hive {

// Stretches of a hive's bins that something uses, to the byte's cell alignment: one bit for
// each 8 bytes, so that marking and asking cost no more than the stretches' length.
class Coverage {
public:
    // Marks `size` bytes at `offset` (cut at `binsSize`, the bins' length).
    void cover(std::uint32_t offset, std::uint32_t size, std::uint32_t binsSize);
    // Whether any byte of the `size` bytes at `offset` is marked.
    bool covers(std::uint32_t offset, std::uint32_t size) const;
    bool empty() const { return words_.empty(); }
    // Marks what `other` marks too.
    void merge(const Coverage& other);

private:
    std::vector<std::uint64_t> words_;
};

class FreeSpace {
public:
    // A stretch of the bins: its offset from the start of the first bin, and its length.
    struct Range {
        std::uint32_t offset = 0;
        std::uint32_t size = 0;
        bool operator==(const Range&) const = default;
    };

    // The free space of `bins` (the hive's bins, the first at offset 0, which must outlive
    // this). No bin that would reach beyond `limit` is used or added.
    explicit FreeSpace(std::string_view bins, std::uint32_t limit = BinsLimit);

    // Marks a stretch that something goes on using, as far as its owner's offsets say: no run
    // that overlaps it is handed out, changed or merged, and no cell that overlaps it is taken
    // back. A damaged offset may lead into the middle of a cell, free or in use; whatever a
    // kept value or key reaches stays as it is. Called before anything is released.
    void keep(Range used);
    // Marks every stretch of `used` so.
    void keep(const Coverage& used);

    // Adds the cell of `size` bytes at `offset` to the free space. False, with nothing changed,
    // when it does not lie inside a sound bin, overlaps space that is free already or a kept
    // stretch. Cells are given up before any is allocated: what allocate hands out is not kept
    // track of.
    bool release(std::uint32_t offset, std::uint32_t size);

    // Room for a cell of `size` bytes (a multiple of 8, at least 8): its offset. With `from`
    // (an offset inside a cell handed out before), room beyond that cell. Nothing when no run
    // holds it and the bins cannot grow for it without passing the limit.
    std::optional<std::uint32_t> allocate(std::uint32_t size, std::uint32_t from = 0);

    // Reads every bin not read yet (allocate does so only when nothing read so far fits).
    void readAll();

    // Whether a bin header of the file claims pages beyond the end of its bins. Then the bins
    // cannot grow: whatever is added would lie inside that bin, as a reader walks it.
    bool endClaimed() const { return chain_.endClaimed(); }

    // Where the bins end: the bins of the file and those added.
    std::uint32_t end() const { return end_; }
    // The bins added at the end, in their order, each with its size.
    const std::vector<Range>& addedBins() const { return added_; }
    // The bins of the file that grew at the end, each with its new size.
    const std::vector<Range>& grownBins() const { return grown_; }
    // The free runs of the bins read so far, in the order of the bins.
    std::vector<Range> runs() const;
    // The runs that are not one free cell of the file as it is: each must be written as one
    // free cell (its size field) for the bins to tile again.
    std::vector<Range> changedRuns() const;

private:
    struct Run {
        std::uint32_t size = 0;
        bool asInFile = false; // one free cell of the file, unchanged
    };
    using Runs = std::map<std::uint32_t, Run>;

    bool readNext();
    void read(Range bin);
    void dropKept();
    void add(std::uint32_t offset, Run run);
    void remove(Runs::iterator run);
    bool inSoundBin(std::uint32_t offset, std::uint32_t size) const;
    bool overlapsKept(std::uint32_t offset, std::uint32_t size) const;
    bool grow(std::uint32_t cellSize);
    std::set<std::pair<std::uint32_t, std::uint32_t>>::const_iterator fitting(std::uint32_t size, std::uint32_t from) const;

    std::string_view bins_;
    BinChain chain_;
    Runs runs_;                                                 // by offset
    std::set<std::pair<std::uint32_t, std::uint32_t>> bySize_;  // (size, offset) of each run
    std::map<std::uint32_t, std::uint32_t> read_;               // bins read, sound or not: offset -> size
    std::map<std::uint32_t, std::uint32_t> soundBins_;          // those that offer their space
    Coverage kept_;                                             // stretches in use, left alone
    std::size_t next_ = 0;                                      // the next bin of the chain to read
    std::vector<Range> added_;
    std::vector<Range> grown_;
    std::uint32_t end_ = 0;
    std::uint32_t limit_ = BinsLimit;
};

} // namespace platform::hive
