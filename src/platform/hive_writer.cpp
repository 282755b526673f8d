#include "platform/hive_writer.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <iterator>
#include <map>
#include <set>
#include <unistd.h>

#include "platform/hive_file.h"

namespace platform::hive {
namespace {

void put16(std::string& b, std::size_t at, std::uint16_t v) {
    b[at] = static_cast<char>(v & 0xFF);
    b[at + 1] = static_cast<char>(v >> 8);
}
void put32(std::string& b, std::size_t at, std::uint32_t v) {
    put16(b, at, static_cast<std::uint16_t>(v));
    put16(b, at + 2, static_cast<std::uint16_t>(v >> 16));
}
void put64(std::string& b, std::size_t at, std::uint64_t v) {
    put32(b, at, static_cast<std::uint32_t>(v));
    put32(b, at + 4, static_cast<std::uint32_t>(v >> 32));
}

// Whether a cell begins with the signature of a key, a value, a list of either, a security
// descriptor or a big-data cell. Raw data that happens to start so is left allocated too.
bool structural(std::string_view payload) {
    static constexpr std::string_view kinds[] = {"nk", "vk", "sk", "lf", "lh", "li", "ri", "db"};
    const std::string_view head = payload.substr(0, 2);
    return std::find(std::begin(kinds), std::end(kinds), head) != std::end(kinds);
}

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

// The new hive bin, filled cell by cell from its start.
class NewBin {
public:
    NewBin(std::uint32_t at, std::uint64_t filetime) : at_(at), bytes_(BinHeaderSize, '\0') {
        bytes_.replace(0, 4, "hbin");
        put32(bytes_, 4, at);
        put64(bytes_, 20, filetime);
    }
    // A new allocated cell holding `payload`; its offset in the hive.
    std::uint32_t cell(std::string_view payload) {
        const std::size_t size = roundUp(4 + payload.size(), 8);
        const auto offset = static_cast<std::uint32_t>(at_ + bytes_.size());
        std::string head(4, '\0');
        put32(head, 0, static_cast<std::uint32_t>(-static_cast<std::int64_t>(size)));
        bytes_ += head;
        bytes_ += payload;
        bytes_.resize(bytes_.size() + size - 4 - payload.size(), '\0');
        return offset;
    }
    std::uint64_t sizeIfFinished() const { return roundUp(bytes_.size(), HiveBinSize); }
    // The bin rounded up to whole pages, the rest one free cell.
    const std::string& finish() {
        const std::size_t size = roundUp(bytes_.size(), HiveBinSize);
        const std::size_t rest = size - bytes_.size();
        if (rest > 0) {
            std::string free(rest, '\0');
            put32(free, 0, static_cast<std::uint32_t>(rest));
            bytes_ += free;
        }
        put32(bytes_, 8, static_cast<std::uint32_t>(size));
        return bytes_;
    }

private:
    std::uint32_t at_;
    std::string bytes_;
};

// The cell that a value's data goes into, or the inline form; returns the vk size field.
std::uint32_t storeData(NewBin& bin, const std::string& data, bool splitBigData, std::uint32_t& offset) {
    const auto size = static_cast<std::uint32_t>(data.size());
    if (size <= 4) {
        std::string field(4, '\0');
        field.replace(0, size, data);
        offset = le32(field, 0);
        return size | vk::InlineData;
    }
    if (!splitBigData || size <= BigDataSegment) {
        offset = bin.cell(data);
        return size;
    }
    std::string list;
    std::uint16_t segments = 0;
    for (std::size_t at = 0; at < data.size(); at += BigDataSegment, ++segments) {
        // A segment's cell has room for four bytes more than its data, rounded: readers that
        // take a segment's length from its cell size (less eight) find all of it there.
        std::string segment(data.substr(at, BigDataSegment));
        segment.resize(roundUp(segment.size(), 8) + 4, '\0');
        std::string entry(4, '\0');
        put32(entry, 0, bin.cell(segment));
        list += entry;
    }
    std::string db(8, '\0');
    db.replace(0, 2, "db");
    put16(db, 2, segments);
    put32(db, 4, bin.cell(list));
    offset = bin.cell(db);
    return size;
}

std::uint32_t storeValue(NewBin& bin, const ValueSlot& value, bool splitBigData) {
    std::uint32_t dataOffset = NoCell;
    const std::uint32_t size = storeData(bin, value.data, splitBigData, dataOffset);
    std::string vkCell(vk::Name, '\0');
    vkCell.replace(0, 2, "vk");
    put16(vkCell, vk::NameLength, static_cast<std::uint16_t>(value.name.bytes.size()));
    put32(vkCell, vk::DataSize, size);
    put32(vkCell, vk::DataOffset, dataOffset);
    put32(vkCell, vk::Type, value.type);
    put16(vkCell, vk::Flags, value.name.compressed ? vk::CompressedName : 0);
    vkCell += value.name.bytes;
    return bin.cell(vkCell);
}

// A key cell's fields from its timestamp to its largest value data, as they become.
struct KeyPatch {
    std::uint32_t key;
    std::string fields;
};

} // namespace

Status writeChangedHive(const MappedHive& hive, int source, int target, const HiveChanges& changes,
                        std::uint64_t filetime) {
    const std::uint32_t oldBins = hive.binsSize();
    const bool splitBigData = hive.base().minor >= 4;
    NewBin bin(oldBins, filetime);
    std::vector<KeyPatch> patches;
    // Cells nothing will refer to any more, with the signature each must carry ("" for raw
    // bytes), and the cells the hive goes on using, where each begins and ends. A damaged
    // offset may lead into the middle of a cell, so a cell in use may lie across others: no
    // byte of one is written.
    std::map<std::uint32_t, std::string_view> freed;
    std::vector<std::pair<std::uint32_t, std::uint64_t>> inUse;
    auto use = [&](std::uint32_t cell) {
        std::string_view payload;
        const bool whole = hive.cell(cell, payload) == status::Success;
        inUse.emplace_back(cell, std::uint64_t{cell} + (whole ? 4 + payload.size() : 1));
    };
    // Whether any of the bytes from `from` to `to` belongs to a cell in use, other than `own`.
    auto used = [&](std::uint64_t from, std::uint64_t to, std::uint32_t own) {
        return std::any_of(inUse.begin(), inUse.end(),
                           [&](const auto& c) { return c.first != own && c.first < to && from < c.second; });
    };

    for (const auto& [key, change] : changes) {
        std::string_view keyCell;
        if (const Status s = hive.keyCell(key, keyCell)) return s;
        KeyPatch patch{key, std::string(keyCell.substr(nk::Written, nk::MaxValueData + 4 - nk::Written))};
        auto field = [&](std::size_t at) { return at - nk::Written; };
        std::uint32_t maxName = le32(patch.fields, field(nk::MaxValueName));
        std::uint32_t maxData = le32(patch.fields, field(nk::MaxValueData));

        std::string list;
        std::set<std::uint32_t> kept;
        for (const ValueSlot& value : change.values) {
            std::uint32_t cell = value.cell;
            if (cell == NoCell) {
                if (value.data.size() > MaxValueData) return status::NotEnoughMemory;
                cell = storeValue(bin, value, splitBigData);
                const auto nameBytes = value.name.bytes.size() * (value.name.compressed ? 2 : 1);
                maxName = std::max(maxName, static_cast<std::uint32_t>(nameBytes));
                maxData = std::max(maxData, static_cast<std::uint32_t>(value.data.size()));
            } else {
                kept.insert(cell);
            }
            std::string entry(4, '\0');
            put32(entry, 0, cell);
            list += entry;
        }
        put64(patch.fields, field(nk::Written), filetime);
        put32(patch.fields, field(nk::ValueCount), static_cast<std::uint32_t>(change.values.size()));
        put32(patch.fields, field(nk::ValueList), list.empty() ? NoCell : bin.cell(list));
        put32(patch.fields, field(nk::MaxValueName), maxName);
        put32(patch.fields, field(nk::MaxValueData), maxData);
        patches.push_back(std::move(patch));

        use(key);
        std::vector<std::uint32_t> cells;
        for (std::uint32_t cell : kept) {
            use(cell);
            if (hive.dataCells(cell, cells) == status::Success)
                for (std::uint32_t c : cells) use(c);
        }
        if (change.storedList != NoCell) freed.emplace(change.storedList, "");
        for (std::uint32_t old : change.stored) {
            if (kept.count(old)) continue;
            freed.emplace(old, "vk");
            if (hive.dataCells(old, cells) != status::Success) continue;
            for (std::size_t i = 0; i < cells.size(); ++i) freed.emplace(cells[i], i == 0 && cells.size() > 1 ? "db" : "");
        }
    }

    // A value kept across the fields of its own key would change with them: such a key is too
    // damaged to write.
    for (const KeyPatch& patch : patches) {
        const std::uint64_t at = std::uint64_t{patch.key} + 4 + nk::Written;
        if (used(at, at + patch.fields.size(), patch.key)) return status::RegistryCorrupt;
    }

    const std::uint64_t newBins = std::uint64_t{oldBins} + bin.sizeIfFinished();
    if (newBins > 0xFFFFFFFFu - HiveBinSize) return status::NotEnoughMemory;
    const std::string& added = bin.finish();

    if (const Status s = copyPrefix(source, target, BaseBlockSize + oldBins)) return s;
    if (const Status s = writeAt(target, added, BaseBlockSize + oldBins)) return s;
    for (const KeyPatch& patch : patches)
        if (const Status s = writeAt(target, patch.fields, BaseBlockSize + patch.key + 4 + nk::Written)) return s;
    for (const auto& [cell, signature] : freed) {
        // A damaged offset may lead to a cell that something else uses, or into the middle of
        // one, or a cell in use may lie across it: such a cell stays allocated. Space left
        // unused harms no reader; a cell freed under a key or value loses it.
        std::string_view payload;
        if (used(cell, std::uint64_t{cell} + 4, NoCell) || !hive.cellStartingAt(cell, payload)) continue;
        if (signature.empty() ? structural(payload) : payload.substr(0, 2) != signature) continue;
        std::string field(4, '\0');
        put32(field, 0, static_cast<std::uint32_t>(payload.size() + 4));
        if (const Status s = writeAt(target, field, BaseBlockSize + cell)) return s;
    }

    // The base block: a write that completed (both sequence numbers one on), the new size.
    std::string block(hive.baseBytes());
    const std::uint32_t sequence = std::max(hive.base().sequence1, hive.base().sequence2) + 1;
    put32(block, 4, sequence);
    put32(block, 8, sequence);
    put64(block, 12, filetime);
    put32(block, 40, static_cast<std::uint32_t>(newBins));
    put32(block, 508, baseBlockChecksum(block));
    return writeAt(target, block, 0);
}

} // namespace platform::hive
