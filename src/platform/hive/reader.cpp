#include "platform/hive/reader.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <sys/mman.h>
#include <unistd.h>
#include <utility>

#include "platform/hive/file.h"
#include "platform/hive/names.h"

namespace platform::hive {
namespace {

constexpr Status Corrupt = status::RegistryCorrupt;

bool signature(std::string_view payload, const char* sig) {
    return payload.size() >= 2 && payload[0] == sig[0] && payload[1] == sig[1];
}

std::u16string decode(std::string_view bytes, bool compressed) {
    if (compressed) {
        std::u16string text;
        text.reserve(bytes.size());
        for (char c : bytes) text.push_back(static_cast<unsigned char>(c));
        return text;
    }
    return fromUtf16le(bytes);
}

// Whether a stored name is `name` to the registry, without decoding names of another length.
bool sameStoredName(std::string_view bytes, bool compressed, std::u16string_view name) {
    const std::size_t length = compressed ? bytes.size() : bytes.size() / 2;
    return length == name.size() && sameName(decode(bytes, compressed), name);
}

// The hash an "lh" list keeps of each key's name, for a name of ASCII characters only: the
// hash of any other name that the registry takes for the same is the same then.
std::optional<std::uint32_t> asciiNameHash(std::u16string_view name) {
    std::uint32_t hash = 0;
    for (char16_t c : name) {
        if (c >= 0x80) return std::nullopt;
        hash = hash * 37 + (c >= u'a' && c <= u'z' ? c - 0x20 : c);
    }
    return hash;
}

} // namespace

std::u16string StoredName::text() const { return decode(bytes, compressed); }

StoredName StoredName::of(std::u16string_view name) {
    StoredName out;
    for (char16_t c : name)
        if (c > 0xFF) out.compressed = false;
    for (char16_t c : name) {
        out.bytes.push_back(static_cast<char>(c & 0xFF));
        if (!out.compressed) out.bytes.push_back(static_cast<char>(c >> 8));
    }
    return out;
}

MappedHive& MappedHive::operator=(MappedHive&& other) noexcept {
    if (this != &other) {
        unmap();
        map_ = std::exchange(other.map_, nullptr);
        mapSize_ = std::exchange(other.mapSize_, 0);
        bins_ = std::exchange(other.bins_, nullptr);
        base_ = other.base_;
        root_ = other.root_;
        chain_ = std::exchange(other.chain_, std::nullopt);
    }
    return *this;
}

MappedHive::~MappedHive() { unmap(); }

void MappedHive::unmap() {
    if (map_) munmap(const_cast<unsigned char*>(map_), mapSize_);
    map_ = nullptr;
    bins_ = nullptr;
    mapSize_ = 0;
    chain_.reset();
}

Status MappedHive::map(int fd, std::uint64_t fileSize, HiveMapping made) {
    unmap();
    std::string block(BaseBlockSize, '\0');
    if (made.at) {
        // Held from here on, so released with the hive, or below when it is not sound.
        map_ = made.at;
        mapSize_ = made.size;
        fileSize = made.size;
        block.assign(reinterpret_cast<const char*>(made.at), std::min(made.size, BaseBlockSize));
    }
    for (std::size_t done = 0; !made.at && done < block.size();) {
        const ssize_t n = pread(fd, block.data() + done, block.size() - done, static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return statusOfErrno(errno);
        if (n == 0) return status::BadDatabase;
        done += static_cast<std::size_t>(n);
    }
    const auto base = readBaseBlock(block);
    if (!base || !base->checksumValid() || !base->wholeIn(fileSize)) {
        unmap();
        return status::BadDatabase;
    }

    // Only the bins the base block announces are mapped; anything after them is no part of the hive.
    const std::size_t size = BaseBlockSize + base->binsSize;
    if (!made.at) {
        void* at = mmap(nullptr, size, PROT_READ, MAP_SHARED, fd, 0);
        if (at == MAP_FAILED) return statusOfErrno(errno);
        map_ = static_cast<const unsigned char*>(at);
        mapSize_ = size;
    }
    bins_ = map_ + BaseBlockSize;
    base_ = *base;

    const std::string_view bins(reinterpret_cast<const char*>(bins_), base_.binsSize);
    const std::uint32_t firstBin = le32(bins, hbin::Size);
    if (bins.substr(hbin::Signature, 4) != "hbin" || le32(bins, hbin::Offset) != 0 || firstBin < HiveBinSize ||
        firstBin % HiveBinSize != 0 || firstBin > base_.binsSize) {
        unmap();
        return status::BadDatabase;
    }
    std::string_view root;
    if (cell(base_.rootCell, root) != status::Success || !signature(root, "nk") || root.size() < nk::Name) {
        unmap();
        return status::BadDatabase;
    }
    root_ = base_.rootCell;
    return status::Success;
}

Status MappedHive::cell(std::uint32_t offset, std::string_view& payload) const {
    const std::uint32_t bins = base_.binsSize;
    // An offset with its top bit set names volatile storage, which no file holds, even one
    // whose bins reach that far.
    if (offset >= BinsLimit) return Corrupt;
    if (offset % CellAlignment != 0 || offset >= bins || bins - offset < CellAlignment) return Corrupt;
    const std::string_view all(reinterpret_cast<const char*>(bins_), bins);
    const auto size = static_cast<std::int32_t>(le32(all, offset + cell::Size));
    if (size >= 0) return Corrupt; // a free cell is nothing anyone refers to
    const std::uint32_t length = 0u - static_cast<std::uint32_t>(size);
    if (length < CellAlignment || length > bins - offset) return Corrupt;
    payload = all.substr(offset + cell::Payload, length - cell::Payload);
    return status::Success;
}

bool MappedHive::cellStartingAt(std::uint32_t offset, std::string_view& payload) const {
    if (cell(offset, payload) != status::Success) return false;
    const std::string_view all = bins();
    if (!chain_) chain_ = BinChain(all);
    const std::optional<Bin> bin = chain_->holding(offset);
    if (!bin) return false;
    std::uint32_t at = bin->offset + BinHeaderSize;
    while (at < offset) {
        const auto field = static_cast<std::int32_t>(le32(all, at + cell::Size));
        const std::uint32_t length = field < 0 ? 0u - static_cast<std::uint32_t>(field) : static_cast<std::uint32_t>(field);
        if (length < CellAlignment || length % CellAlignment != 0 || length > bin->offset + bin->size - at) return false;
        at += length;
    }
    return at == offset;
}

Status MappedHive::keyCell(std::uint32_t key, std::string_view& payload) const {
    if (const Status s = cell(key, payload)) return s;
    if (!signature(payload, "nk") || payload.size() < nk::Name) return Corrupt;
    if (le16(payload, nk::NameLength) > payload.size() - nk::Name) return Corrupt;
    return status::Success;
}

// The key among the cells a subkey list names (`stride` bytes per entry, the cell offset
// first) whose name is `name`.
Status MappedHive::matchIn(std::string_view list, std::size_t stride, std::u16string_view name,
                           std::uint32_t& out) const {
    const std::size_t count = le16(list, list::Count);
    if (count > (list.size() - list::Entries) / stride) return Corrupt;
    // The hashes let the search pass by keys without looking at them (their cells may lie
    // anywhere in the file); the names decide.
    const auto hash = signature(list, "lh") ? asciiNameHash(name) : std::nullopt;
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t entry = list::Entries + i * stride;
        if (hash && le32(list, entry + 4) != *hash) continue; // the hash follows the key's offset
        const std::uint32_t child = le32(list, entry);
        std::string_view payload;
        if (const Status s = keyCell(child, payload)) return s;
        const bool compressed = (le16(payload, nk::Flags) & nk::CompressedName) != 0;
        if (sameStoredName(payload.substr(nk::Name, le16(payload, nk::NameLength)), compressed, name)) {
            out = child;
            return status::Success;
        }
    }
    return status::FileNotFound;
}

Status MappedHive::forEachSubkey(std::uint32_t listCell, std::u16string_view name, std::uint32_t& out) const {
    std::string_view list;
    if (const Status s = cell(listCell, list)) return s;
    if (list.size() < list::Entries) return Corrupt;
    if (signature(list, "lf") || signature(list, "lh")) return matchIn(list, list::HashedEntry, name, out);
    if (signature(list, "li")) return matchIn(list, list::PlainEntry, name, out);
    if (!signature(list, "ri")) return Corrupt;
    // An index of lists: each of them a plain list, so that no index can lead back to itself.
    const std::size_t count = le16(list, list::Count);
    if (count > (list.size() - list::Entries) / list::PlainEntry) return Corrupt;
    for (std::size_t i = 0; i < count; ++i) {
        std::string_view inner;
        if (const Status s = cell(le32(list, list::Entries + i * list::PlainEntry), inner)) return s;
        if (inner.size() < list::Entries) return Corrupt;
        Status found = Corrupt;
        if (signature(inner, "lf") || signature(inner, "lh")) found = matchIn(inner, list::HashedEntry, name, out);
        else if (signature(inner, "li")) found = matchIn(inner, list::PlainEntry, name, out);
        if (found != status::FileNotFound) return found;
    }
    return status::FileNotFound;
}

Status MappedHive::subkey(std::uint32_t key, std::u16string_view name, std::uint32_t& out) const {
    std::string_view payload;
    if (const Status s = keyCell(key, payload)) return s;
    if (le32(payload, nk::SubkeyCount) == 0) return status::FileNotFound;
    return forEachSubkey(le32(payload, nk::SubkeyList), name, out);
}

Status MappedHive::valueList(std::uint32_t key, std::vector<std::uint32_t>& out, std::uint32_t& listCell) const {
    out.clear();
    listCell = NoCell;
    std::string_view payload;
    if (const Status s = keyCell(key, payload)) return s;
    const std::uint32_t count = le32(payload, nk::ValueCount);
    if (count == 0) return status::Success;
    std::string_view list;
    if (const Status s = cell(le32(payload, nk::ValueList), list)) return s;
    if (count > list.size() / list::PlainEntry) return Corrupt;
    out.reserve(count);
    for (std::uint32_t i = 0; i < count; ++i) out.push_back(le32(list, i * list::PlainEntry));
    listCell = le32(payload, nk::ValueList);
    return status::Success;
}

Status MappedHive::valueHead(std::uint32_t value, ValueHead& out) const {
    std::string_view payload;
    if (const Status s = cell(value, payload)) return s;
    if (!signature(payload, "vk") || payload.size() < vk::Name) return Corrupt;
    const std::size_t nameLength = le16(payload, vk::NameLength);
    if (nameLength > payload.size() - vk::Name) return Corrupt;
    out.name.compressed = (le16(payload, vk::Flags) & vk::CompressedName) != 0;
    out.name.bytes = std::string(payload.substr(vk::Name, nameLength));
    out.type = le32(payload, vk::Type);
    const std::uint32_t size = le32(payload, vk::DataSize);
    out.size = size & ~vk::InlineData;
    if ((size & vk::InlineData) && out.size > vk::InlineCapacity) return Corrupt;
    return status::Success;
}

Status MappedHive::findValue(std::uint32_t key, std::u16string_view name, std::uint32_t& out) const {
    std::vector<std::uint32_t> values;
    std::uint32_t listCell = NoCell;
    if (const Status s = valueList(key, values, listCell)) return s;
    for (std::uint32_t value : values) {
        std::string_view payload;
        if (const Status s = cell(value, payload)) return s;
        if (!signature(payload, "vk") || payload.size() < vk::Name) return Corrupt;
        const std::size_t nameLength = le16(payload, vk::NameLength);
        if (nameLength > payload.size() - vk::Name) return Corrupt;
        const bool compressed = (le16(payload, vk::Flags) & vk::CompressedName) != 0;
        if (sameStoredName(payload.substr(vk::Name, nameLength), compressed, name)) {
            out = value;
            return status::Success;
        }
    }
    return status::FileNotFound;
}

// A value's data lives inline (up to four bytes), in one cell, or in the segments of a
// big-data cell.
// The stored pieces of a value's data in their order, each checked, and the cells that hold
// them: a data cell, or a big-data cell, its segment list and its segments. Inline data is a
// piece in no cell of its own.
Status MappedHive::dataLayout(std::uint32_t value, std::vector<std::string_view>& pieces,
                              std::vector<std::uint32_t>& cells) const {
    pieces.clear();
    cells.clear();
    ValueHead head;
    if (const Status s = valueHead(value, head)) return s;
    std::string_view payload;
    cell(value, payload);
    if (le32(payload, vk::DataSize) & vk::InlineData) {
        pieces.push_back(payload.substr(vk::DataOffset, head.size));
        return status::Success;
    }
    if (head.size == 0) return status::Success;
    // No value can hold more bytes than the hive has.
    if (head.size > base_.binsSize) return Corrupt;
    const std::uint32_t dataCell = le32(payload, vk::DataOffset);
    std::string_view data;
    if (const Status s = cell(dataCell, data)) return s;
    cells.push_back(dataCell);
    if (head.size <= data.size()) {
        pieces.push_back(data.substr(0, head.size));
        return status::Success;
    }
    // Big data: a "db" cell names a list of segments, each holding up to BigDataSegment bytes.
    if (!signature(data, "db") || data.size() < db::Size) return Corrupt;
    const std::size_t segments = le16(data, db::SegmentCount);
    if (std::uint64_t{segments} * BigDataSegment < head.size) return Corrupt;
    const std::uint32_t listCell = le32(data, db::SegmentList);
    std::string_view list;
    if (const Status s = cell(listCell, list)) return s;
    if (segments > list.size() / list::PlainEntry) return Corrupt;
    cells.push_back(listCell);
    std::size_t have = 0;
    for (std::size_t i = 0; i < segments; ++i) {
        const std::uint32_t at = le32(list, i * list::PlainEntry);
        cells.push_back(at);
        if (have == head.size) continue; // a segment the list names beyond the data
        std::string_view segment;
        if (const Status s = cell(at, segment)) return s;
        const std::size_t take = std::min<std::size_t>(head.size - have, BigDataSegment);
        if (segment.size() < take) return Corrupt;
        pieces.push_back(segment.substr(0, take));
        have += take;
    }
    if (have != head.size) return Corrupt;
    return status::Success;
}

Status MappedHive::valueData(std::uint32_t value, std::string& out) const {
    out.clear();
    std::vector<std::string_view> pieces;
    std::vector<std::uint32_t> cells;
    if (const Status s = dataLayout(value, pieces, cells)) return s;
    std::size_t size = 0;
    for (std::string_view piece : pieces) size += piece.size();
    out.reserve(size);
    for (std::string_view piece : pieces) out += piece;
    return status::Success;
}

Status MappedHive::dataCells(std::uint32_t value, std::vector<std::uint32_t>& out) const {
    // Only the cells of data that reads back whole: a damaged value gives its cells up to no one.
    std::vector<std::string_view> pieces;
    if (const Status s = dataLayout(value, pieces, out)) {
        out.clear();
        return s;
    }
    return status::Success;
}

} // namespace platform::hive
