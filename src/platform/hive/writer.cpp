#include "platform/hive/writer.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <iterator>
#include <map>
#include <numeric>
#include <optional>
#include <set>
#include <unistd.h>

#include "platform/bytes.h"
#include "platform/hive/file.h"
#include "platform/hive/space.h"

namespace platform::hive {
namespace {

std::size_t roundUp(std::size_t n, std::size_t to) { return (n + to - 1) / to * to; }

Status writeAt(int fd, std::string_view bytes, std::uint64_t at) {
    while (!bytes.empty()) {
        const ssize_t n = pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(at));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return statusOfErrno(n < 0 ? errno : EIO);
        bytes.remove_prefix(static_cast<std::size_t>(n));
        at += static_cast<std::uint64_t>(n);
    }
    return status::Success;
}

// The first `length` bytes of `source` into `target`, through a buffer of ours: for file
// systems that cannot copy between the two files themselves.
Status copyThroughBuffer(int source, int target, std::uint64_t from, std::uint64_t length) {
    std::string buffer(std::size_t{1} << 20, '\0');
    while (from < length) {
        const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), length - from));
        const ssize_t n = pread(source, buffer.data(), want, static_cast<off_t>(from));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return statusOfErrno(errno);
        if (n == 0) return status::RegistryIoFailed; // the file is shorter than its hive
        if (const Status s = writeAt(target, std::string_view(buffer.data(), static_cast<std::size_t>(n)), from))
            return s;
        from += static_cast<std::uint64_t>(n);
    }
    return status::Success;
}

// The first `length` bytes of `source` into `target`, copied by the kernel. Each stretch
// copied is sent on its way to the disk at once, so that the flush at the end has little
// left to wait for.
Status copyPrefix(int source, int target, std::uint64_t length) {
    constexpr std::uint64_t Stretch = std::uint64_t{8} << 20;
    loff_t in = 0;
    loff_t out = 0;
    loff_t started = 0;
    while (static_cast<std::uint64_t>(in) < length) {
        const std::uint64_t want = std::min(Stretch, length - static_cast<std::uint64_t>(in));
        const ssize_t n = copy_file_range(source, &in, target, &out, want, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP))
            return copyThroughBuffer(source, target, static_cast<std::uint64_t>(in), length);
        if (n < 0) return statusOfErrno(errno);
        if (n == 0) return status::RegistryIoFailed;
        if (out - started >= static_cast<loff_t>(Stretch)) {
            sync_file_range(target, started, out - started, SYNC_FILE_RANGE_WRITE);
            started = out;
        }
    }
    return status::Success;
}


std::uint32_t cellSize(std::size_t payload) { return static_cast<std::uint32_t>(roundUp(cell::Payload + payload, CellAlignment)); }

// The cells a commit adds. Their places are chosen once all of them are known, the largest
// first, so that big cells take the large runs of free space and small ones fill what is
// left; the offsets the cells hold of one another are filled in then.
class NewCells {
public:
    using Id = std::size_t;

    Id add(std::string payload) {
        cells_.push_back({std::move(payload), NoCell, NoSequence});
        return cells_.size() - 1;
    }
    // The four bytes at `at` of the payload of `from` will hold the offset of `to`.
    void link(Id from, std::size_t at, Id to) { links_.push_back({from, at, to}); }
    // The cells `ids` go into the bins in this order, each above the one before: the segments
    // of one value, which some readers join in the order of the file rather than of their list.
    // Their sizes never grow along the sequence.
    void ascending(std::vector<Id> ids) {
        for (Id id : ids) cells_[id].sequence = sequences_.size();
        sequences_.push_back(std::move(ids));
    }

    // False when the bins would have to reach beyond their limit.
    bool place(FreeSpace& space) {
        std::vector<Id> order(cells_.size());
        std::iota(order.begin(), order.end(), Id{0});
        std::stable_sort(order.begin(), order.end(),
                         [&](Id a, Id b) { return cells_[a].payload.size() > cells_[b].payload.size(); });
        // Cells of a sequence that have one size take whatever runs suit them and are put in
        // order afterwards; a smaller one goes above all of its sequence placed so far, which
        // are the larger ones.
        std::vector<std::uint32_t> above(sequences_.size(), 0);
        for (Id id : order) {
            const std::size_t sequence = cells_[id].sequence;
            const bool smaller = sequence != NoSequence && size(id) < size(sequences_[sequence].front());
            const auto at = space.allocate(size(id), smaller ? above[sequence] : 0);
            if (!at) return false;
            cells_[id].offset = *at;
            if (sequence != NoSequence) above[sequence] = std::max(above[sequence], *at + 1);
        }
        for (const std::vector<Id>& sequence : sequences_) {
            for (auto same = sequence.begin(); same != sequence.end();) {
                const auto end = std::find_if(same, sequence.end(), [&](Id id) { return size(id) != size(*same); });
                std::vector<std::uint32_t> offsets;
                for (auto id = same; id != end; ++id) offsets.push_back(cells_[*id].offset);
                std::sort(offsets.begin(), offsets.end());
                for (std::size_t i = 0; i < offsets.size(); ++i) cells_[same[static_cast<std::ptrdiff_t>(i)]].offset = offsets[i];
                same = end;
            }
        }
        for (const Link& l : links_) put32(cells_[l.from].payload, l.at, cells_[l.to].offset);
        return true;
    }

    std::uint32_t offset(Id id) const { return cells_[id].offset; }
    // Where each cell went.
    std::set<std::pair<std::uint32_t, std::uint32_t>> places() const {
        std::set<std::pair<std::uint32_t, std::uint32_t>> out;
        for (const Cell& cell : cells_) out.emplace(cell.offset, cellSize(cell.payload.size()));
        return out;
    }

    // Hands each placed cell over as it is written: its size field (negative: in use), its
    // payload, and zeros up to its size. The payloads go with them, so that a large value is
    // not held twice.
    template <class F>
    void handOver(F&& f) {
        for (Cell& cell : cells_) {
            const std::uint32_t size = cellSize(cell.payload.size());
            std::string bytes(size, '\0');
            put32(bytes, cell::Size, 0u - size);
            bytes.replace(cell::Payload, cell.payload.size(), cell.payload);
            std::string().swap(cell.payload);
            f(cell.offset, std::move(bytes));
        }
    }

private:
    static constexpr std::size_t NoSequence = static_cast<std::size_t>(-1);
    struct Cell {
        std::string payload;
        std::uint32_t offset;
        std::size_t sequence;
    };
    struct Link {
        Id from;
        std::size_t at;
        Id to;
    };
    std::uint32_t size(Id id) const { return cellSize(cells_[id].payload.size()); }

    std::vector<Cell> cells_;
    std::vector<Link> links_;
    std::vector<std::vector<Id>> sequences_;
};

// A new value cell and the cells of its data: one data cell, or (big data from format 1.4 on)
// a big-data cell naming a list of segments; up to four bytes live in the value cell itself.
NewCells::Id storeValue(NewCells& cells, const ValueSlot& value, bool splitBigData) {
    std::string vkCell(vk::Name, '\0');
    vkCell.replace(vk::Signature, 2, "vk");
    put16(vkCell, vk::NameLength, static_cast<std::uint16_t>(value.name.bytes.size()));
    put32(vkCell, vk::Type, value.type);
    put16(vkCell, vk::Flags, value.name.compressed ? vk::CompressedName : 0);
    vkCell += value.name.bytes;

    const auto size = static_cast<std::uint32_t>(value.data.size());
    std::optional<NewCells::Id> data;
    if (size <= vk::InlineCapacity) {
        put32(vkCell, vk::DataSize, size | vk::InlineData);
        vkCell.replace(vk::DataOffset, size, value.data);
    } else if (!splitBigData || size <= BigDataSegment) {
        put32(vkCell, vk::DataSize, size);
        data = cells.add(value.data);
    } else {
        put32(vkCell, vk::DataSize, size);
        const std::size_t segments = (value.data.size() + BigDataSegment - 1) / BigDataSegment;
        const NewCells::Id list = cells.add(std::string(list::PlainEntry * segments, '\0'));
        std::vector<NewCells::Id> segmentCells;
        for (std::size_t i = 0; i < segments; ++i) {
            // A segment's cell has room for four bytes more than its data, rounded: readers that
            // take a segment's length from its cell size (less eight) find all of it there.
            std::string segment(value.data.substr(i * BigDataSegment, BigDataSegment));
            segment.resize(roundUp(segment.size(), 8) + 4, '\0');
            segmentCells.push_back(cells.add(std::move(segment)));
            cells.link(list, list::PlainEntry * i, segmentCells.back());
        }
        cells.ascending(std::move(segmentCells));
        std::string bigData(db::Size, '\0');
        bigData.replace(db::Signature, 2, "db");
        put16(bigData, db::SegmentCount, static_cast<std::uint16_t>(segments));
        data = cells.add(std::move(bigData));
        cells.link(*data, db::SegmentList, list);
    }
    const NewCells::Id vkId = cells.add(std::move(vkCell));
    if (data) cells.link(vkId, vk::DataOffset, *data);
    return vkId;
}

// A key cell's fields from its timestamp to its largest value data, as they become, and the
// new value list that they name.
struct KeyPatch {
    std::uint32_t key;
    std::string fields;
    std::optional<NewCells::Id> list;
};

// What a commit does before anything is placed: the new cells, the key fields that change,
// and the cells given up.
struct Plan {
    NewCells cells;
    std::vector<KeyPatch> patches;
    std::set<std::uint32_t> givenUp;
};

// The fields that refer to a changed key's values, its new value cells and list, and what it
// gives up: the value cells and the cells of their data, as the values refer to them, and its
// old list.
Status planKey(const MappedHive& hive, std::uint32_t key, const KeyChanges& change, std::uint64_t filetime, Plan& out) {
    const bool splitBigData = hive.base().minor >= 4;
    std::string_view keyCell;
    if (const Status s = hive.keyCell(key, keyCell)) return s;
    KeyPatch patch{key, std::string(keyCell.substr(nk::Written, nk::WorkVar - nk::Written)), std::nullopt};
    auto field = [&](std::size_t at) { return at - nk::Written; };
    std::uint32_t maxName = le32(patch.fields, field(nk::MaxValueName));
    std::uint32_t maxData = le32(patch.fields, field(nk::MaxValueData));

    std::string list;
    std::vector<std::pair<std::size_t, NewCells::Id>> newEntries;
    std::set<std::uint32_t> kept;
    for (const ValueSlot& value : change.values) {
        std::string entry(list::PlainEntry, '\0');
        if (value.cell == NoCell) {
            if (value.data.size() > MaxValueData) return status::NotEnoughMemory;
            newEntries.emplace_back(list.size(), storeValue(out.cells, value, splitBigData));
            const auto nameBytes = value.name.bytes.size() * (value.name.compressed ? 2 : 1);
            maxName = std::max(maxName, static_cast<std::uint32_t>(nameBytes));
            maxData = std::max(maxData, static_cast<std::uint32_t>(value.data.size()));
        } else {
            kept.insert(value.cell);
            put32(entry, 0, value.cell);
        }
        list += entry;
    }
    if (!list.empty()) {
        patch.list = out.cells.add(std::move(list));
        for (const auto& [at, vkId] : newEntries) out.cells.link(*patch.list, at, vkId);
    }
    put64(patch.fields, field(nk::Written), filetime);
    put32(patch.fields, field(nk::ValueCount), static_cast<std::uint32_t>(change.values.size()));
    put32(patch.fields, field(nk::ValueList), NoCell);
    put32(patch.fields, field(nk::MaxValueName), maxName);
    put32(patch.fields, field(nk::MaxValueData), maxData);
    out.patches.push_back(std::move(patch));

    std::vector<std::uint32_t> cells;
    if (change.storedList != NoCell) out.givenUp.insert(change.storedList);
    for (std::uint32_t old : change.stored) {
        if (kept.count(old)) continue;
        out.givenUp.insert(old);
        if (hive.dataCells(old, cells) == status::Success) out.givenUp.insert(cells.begin(), cells.end());
    }
    return status::Success;
}

Status plan(const MappedHive& hive, const HiveChanges& changes, std::uint64_t filetime, Plan& out) {
    for (const auto& [key, change] : changes)
        if (const Status s = planKey(hive, key, change, filetime, out)) return s;
    return status::Success;
}

// Gives the cells given up back to the free space, and says which they were. A cell is given
// up by the references that lead to it, whatever it holds; but in a damaged hive something
// else may lead to it too, or into the middle of it, or a cell in use may lie across it: such
// a cell stays allocated, as does one that no walk of its bin finds. Space left unused harms no
// reader; a cell freed under a key or value loses it.
std::vector<FreeSpace::Range> release(const MappedHive& hive, const Plan& plan, FreeSpace& space) {
    std::vector<FreeSpace::Range> released;
    for (std::uint32_t cell : plan.givenUp) {
        std::string_view payload;
        if (!hive.cellStartingAt(cell, payload)) continue;
        const auto size = static_cast<std::uint32_t>(cell::Payload + payload.size());
        if (space.release(cell, size)) released.push_back({cell, size});
    }
    return released;
}

// The bytes that change once the new cells are placed: in the old bins as edits, in the
// added bins straight into them. What the hive gives up is wiped (an old password does not
// linger in free space), then the new cells go in, then every free run that changed becomes
// one free cell, then the keys' fields.
void encode(Plan& plan, const FreeSpace& space, const std::vector<FreeSpace::Range>& released,
            std::uint64_t filetime, PreparedCommit& out) {
    out.newBins = space.end();
    out.addedBins.assign(out.newBins - out.oldBins, '\0');
    for (const FreeSpace::Range& bin : space.addedBins()) {
        const std::size_t at = bin.offset - out.oldBins;
        out.addedBins.replace(at + hbin::Signature, 4, "hbin");
        put32(out.addedBins, at + hbin::Offset, bin.offset);
        put32(out.addedBins, at + hbin::Size, bin.size);
        put64(out.addedBins, at + hbin::Written, filetime);
    }
    for (const FreeSpace::Range& bin : space.grownBins()) out.edits.push_back({static_cast<std::uint32_t>(bin.offset + hbin::Size), bytes32(bin.size)});
    auto edit = [&](std::uint32_t offset, std::string bytes) {
        if (offset >= out.oldBins) out.addedBins.replace(offset - out.oldBins, bytes.size(), bytes);
        else out.edits.push_back({offset, std::move(bytes)});
    };
    const auto placed = plan.cells.places();
    // What the commit gives up or reuses in the old bins.
    for (const FreeSpace::Range& r : released) out.claimed.push_back(r);
    for (const auto& [offset, size] : placed)
        if (offset < out.oldBins) out.claimed.push_back({offset, size});
    for (const FreeSpace::Range& run : space.changedRuns())
        if (run.offset < out.oldBins) out.claimed.push_back(run);
    for (const FreeSpace::Range& r : released)
        if (!placed.count({r.offset, r.size})) edit(r.offset, std::string(r.size, '\0'));
    plan.cells.handOver(edit);
    for (const FreeSpace::Range& run : space.changedRuns())
        edit(static_cast<std::uint32_t>(run.offset + cell::Size), bytes32(run.size));
    for (KeyPatch& patch : plan.patches) {
        if (patch.list) put32(patch.fields, nk::ValueList - nk::Written, plan.cells.offset(*patch.list));
        edit(static_cast<std::uint32_t>(patch.key + cell::Payload + nk::Written), std::move(patch.fields));
    }
}

// The base block of the new file: a write that completed (both sequence numbers one on), the
// new time and size.
std::string newBaseBlock(const MappedHive& hive, std::uint32_t binsSize, std::uint64_t filetime) {
    std::string block(hive.baseBytes());
    const std::uint32_t sequence = std::max(hive.base().sequence1, hive.base().sequence2) + 1;
    put32(block, regf::Sequence1, sequence);
    put32(block, regf::Sequence2, sequence);
    put64(block, regf::Written, filetime);
    put32(block, regf::BinsSize, binsSize);
    put32(block, regf::Checksum, baseBlockChecksum(block));
    return block;
}

} // namespace

Status prepareCommit(const MappedHive& hive, const HiveChanges& changes, std::uint64_t filetime, PreparedCommit& out,
                     const Coverage* used) {
    out = PreparedCommit{};
    out.oldBins = hive.binsSize();
    // A file whose bins already pass the limit cannot be written as a hive Windows would load.
    if (out.oldBins > BinsLimit) return status::DiskFull;

    Plan planned;
    if (const Status s = plan(hive, changes, filetime, planned)) return s;
    FreeSpace space(hive.bins());
    if (used) space.keep(*used);
    const auto released = release(hive, planned, space);
    // Space the bins cannot give: past their limit, or past an end that a damaged bin claims.
    if (!planned.cells.place(space)) return space.endClaimed() ? status::RegistryCorrupt : status::DiskFull;
    encode(planned, space, released, filetime, out);
    out.baseBlock = newBaseBlock(hive, out.newBins, filetime);
    return status::Success;
}

bool sparesAll(const PreparedCommit& prepared, const Coverage& used) {
    return std::none_of(prepared.claimed.begin(), prepared.claimed.end(),
                        [&](const FreeSpace::Range& r) { return used.covers(r.offset, r.size); });
}

Status writeCommit(const PreparedCommit& prepared, int source, int target, const PagesFromMemory& pages,
                   std::string_view bins) {
    // The file's bytes, then what the hive holds over them in memory.
    const std::uint64_t fromFile =
        pages.ranges.empty() ? prepared.oldBins : std::min<std::uint64_t>(pages.fileBins, prepared.oldBins);
    if (const Status s = copyPrefix(source, target, BaseBlockSize + fromFile)) return s;
    for (const PagesFromMemory::Range& r : pages.ranges)
        if (const Status s = writeAt(target, bins.substr(r.offset, r.size), BaseBlockSize + r.offset)) return s;
    if (const Status s = writeAt(target, prepared.addedBins, BaseBlockSize + prepared.oldBins)) return s;
    for (const PreparedCommit::Edit& e : prepared.edits)
        if (const Status s = writeAt(target, e.bytes, BaseBlockSize + e.offset)) return s;
    return writeAt(target, prepared.baseBlock, 0);
}

} // namespace platform::hive
