#include "hive_check.h"

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <iterator>
#include <map>
#include <optional>
#include <set>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/bytes.h"

namespace testsupport {
namespace {

using platform::le16;
using platform::le32;

constexpr std::size_t BaseBlock = 4096;
constexpr std::uint32_t Page = 4096;
constexpr std::uint32_t BinHeader = 32;
constexpr std::uint32_t None = 0xFFFFFFFF;
constexpr std::uint32_t TwoGiB = 0x80000000;
constexpr std::uint32_t Segment = 16344; // the data of one big-data segment


std::string hex(std::uint32_t v) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", v);
    return text;
}

// What a reference expects to find.
enum class Kind { Key, SubkeyList, Leaf, ValueList, Value, Data, SegmentList, Segment, Security, Class };

const char* kindName(Kind kind) {
    switch (kind) {
    case Kind::Key: return "key";
    case Kind::SubkeyList: return "subkey list";
    case Kind::Leaf: return "subkey leaf";
    case Kind::ValueList: return "value list";
    case Kind::Value: return "value";
    case Kind::Data: return "data";
    case Kind::SegmentList: return "segment list";
    case Kind::Segment: return "data segment";
    case Kind::Security: return "security cell";
    case Kind::Class: return "class name";
    }
    return "?";
}

// Whether a cell's payload carries the signature that its kind of cell begins with.
bool fits(Kind kind, std::string_view payload) {
    const std::string_view sig = payload.substr(0, 2);
    switch (kind) {
    case Kind::Key: return sig == "nk";
    case Kind::Value: return sig == "vk";
    case Kind::Security: return sig == "sk";
    case Kind::SubkeyList: return sig == "lf" || sig == "lh" || sig == "li" || sig == "ri";
    case Kind::Leaf: return sig == "lf" || sig == "lh" || sig == "li";
    default: return true; // lists of values and segments, data, class names: raw bytes
    }
}

// A name for findings: ASCII as it is, any other character as its number.
std::string narrow(const std::u16string& text) {
    std::string out;
    for (char16_t c : text) out += c >= 0x20 && c < 0x7F ? std::string(1, static_cast<char>(c)) : "\\u" + hex(c);
    return out;
}

std::string printable(std::string_view bytes) {
    std::string out;
    for (char c : bytes) out += c >= 0x20 && c < 0x7F ? std::string(1, c) : hex(static_cast<unsigned char>(c));
    return out;
}

struct Cell {
    std::uint32_t size = 0;
    bool allocated = false;
    std::optional<Kind> reached;
};

// A key or value name, decoded.
struct Name {
    std::u16string text;
    bool ascii = true;
};

Name nameOf(std::string_view bytes, bool compressed) {
    Name name;
    if (compressed) {
        for (char c : bytes) name.text.push_back(static_cast<unsigned char>(c));
    } else {
        for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) name.text.push_back(le16(bytes, i));
    }
    for (char16_t c : name.text)
        if (c >= 0x80) name.ascii = false;
    return name;
}

// ASCII letters in capitals: the registry's order and equality of names, for names of ASCII
// characters (the only names whose case this check folds).
std::u16string folded(const std::u16string& text) {
    std::u16string out = text;
    for (char16_t& c : out)
        if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - 0x20);
    return out;
}

std::uint32_t nameHash(const std::u16string& foldedText) {
    std::uint32_t hash = 0;
    for (char16_t c : foldedText) hash = hash * 37 + c;
    return hash;
}

// A subkey as its parent's list names it.
struct ListEntry {
    std::uint32_t cell;
    std::uint32_t leaf;      // the leaf that holds the entry
    char kind;               // 'i', 'f' or 'h': the leaf's kind
    std::uint32_t hint = 0;  // the second field of a fast or hash leaf
};

class Checker {
public:
    explicit Checker(std::string_view file) : file_(file) {}

    HiveCheck run() {
        if (!baseBlock()) return std::move(out_);
        walkBins();
        walkKeys();
        walkSecurity();
        for (const auto& [offset, cell] : cells_) {
            if (!cell.allocated) continue;
            ++out_.cells;
            if (!cell.reached) add(HiveRule::LeakedCell, offset, "allocated, of " + std::to_string(cell.size) +
                                                                    " bytes, and nothing refers to it");
        }
        std::sort(out_.findings.begin(), out_.findings.end(), [](const HiveFinding& a, const HiveFinding& b) {
            return a.cell != b.cell ? a.cell < b.cell : a.rule < b.rule;
        });
        return std::move(out_);
    }

private:
    void add(HiveRule rule, std::uint32_t cell, std::string detail) {
        out_.findings.push_back({rule, cell, std::move(detail)});
    }

    bool baseBlock() {
        if (file_.size() < BaseBlock || file_.substr(0, 4) != "regf") {
            add(HiveRule::BaseSignature, 0, "no \"regf\" base block of 4096 bytes");
            return false;
        }
        const std::uint32_t major = le32(file_, 20), minor = le32(file_, 24);
        if (major != 1 || minor < 3 || minor > 6)
            add(HiveRule::BaseVersion, 0, "format " + std::to_string(major) + "." + std::to_string(minor));
        if (le32(file_, 28) != 0) add(HiveRule::BaseVersion, 0, "file type " + std::to_string(le32(file_, 28)));
        if (le32(file_, 32) != 1) add(HiveRule::BaseVersion, 0, "file format " + std::to_string(le32(file_, 32)));
        if (le32(file_, 44) != 1) add(HiveRule::BaseVersion, 0, "clustering factor " + std::to_string(le32(file_, 44)));
        minor_ = minor;
        if (le32(file_, 4) != le32(file_, 8))
            add(HiveRule::BaseSequence, 0,
                "sequence numbers " + std::to_string(le32(file_, 4)) + " and " + std::to_string(le32(file_, 8)));
        std::uint32_t sum = 0;
        for (std::size_t at = 0; at < 508; at += 4) sum ^= le32(file_, at);
        if (sum == 0xFFFFFFFF) sum = 0xFFFFFFFE;
        if (sum == 0) sum = 1;
        if (le32(file_, 508) != sum) add(HiveRule::BaseChecksum, 0, "checksum " + hex(le32(file_, 508)) + ", not " + hex(sum));

        binsSize_ = le32(file_, 40);
        if (binsSize_ == 0 || binsSize_ % Page != 0) add(HiveRule::BinsSize, 0, "bins of " + std::to_string(binsSize_) + " bytes");
        if (binsSize_ > TwoGiB) add(HiveRule::BeyondTwoGiB, 0, "bins of " + std::to_string(binsSize_) + " bytes");
        const std::uint64_t bytes = file_.size() - BaseBlock;
        if (bytes < binsSize_)
            add(HiveRule::FileSize, 0, "the file ends " + std::to_string(binsSize_ - bytes) + " bytes before its bins");
        else if (bytes > binsSize_)
            add(HiveRule::FileSize, 0, std::to_string(bytes - binsSize_) + " bytes after the bins");
        bins_ = file_.substr(BaseBlock, static_cast<std::size_t>(std::min<std::uint64_t>(bytes, binsSize_)));
        if (bins_.size() < binsSize_) unwalked_.emplace_back(static_cast<std::uint32_t>(bins_.size()), binsSize_);
        return true;
    }

    void walkBins() {
        std::uint32_t at = 0;
        while (at < bins_.size()) {
            if (bins_.size() - at < BinHeader || bins_.substr(at, 4) != "hbin") {
                add(HiveRule::BinSignature, at, "no bin header");
                unwalked_.emplace_back(at, binsSize_);
                return;
            }
            if (le32(bins_, at + 4) != at) add(HiveRule::BinOffset, at, "names offset " + hex(le32(bins_, at + 4)));
            const std::uint32_t size = le32(bins_, at + 8);
            if (size < Page || size % Page != 0) {
                add(HiveRule::BinSize, at, "a bin of " + std::to_string(size) + " bytes");
                unwalked_.emplace_back(at, binsSize_);
                return;
            }
            if (size > binsSize_ - at) {
                add(HiveRule::BinsSize, at, "a bin of " + std::to_string(size) + " bytes at " + hex(at) + " in bins of " +
                                                std::to_string(binsSize_));
                unwalked_.emplace_back(at, binsSize_);
                return;
            }
            if (std::uint64_t{at} + size > TwoGiB) add(HiveRule::BeyondTwoGiB, at, "a bin ends beyond 2 GiB");
            if (size > bins_.size() - at) { // the file ends inside it
                unwalked_.emplace_back(at, binsSize_);
                return;
            }
            walkCells(at, at + size);
            at += size;
        }
    }

    void walkCells(std::uint32_t from, std::uint32_t end) {
        for (std::uint32_t at = from + BinHeader; at < end;) {
            const auto field = static_cast<std::int32_t>(le32(bins_, at));
            const std::uint32_t size = field < 0 ? 0u - static_cast<std::uint32_t>(field) : static_cast<std::uint32_t>(field);
            if (size < 8 || size % 8 != 0) {
                add(HiveRule::CellSize, at, "a cell size field of " + std::to_string(field));
                unwalked_.emplace_back(at, end);
                return;
            }
            if (size > end - at) {
                add(HiveRule::CellCrossesBin, at, "a cell of " + std::to_string(size) + " bytes crosses its bin's end " +
                                                      hex(end));
                unwalked_.emplace_back(at, end);
                return;
            }
            cells_[at] = Cell{size, field < 0, std::nullopt};
            at += size;
        }
    }

    // The payload of the allocated cell of the right kind that `offset` (found in the cell
    // `from`) leads to, marked as reached; nothing when it leads elsewhere, or to a cell already
    // reached (which is not walked twice).
    std::optional<std::string_view> reach(std::uint32_t from, std::uint32_t offset, Kind kind) {
        const auto it = cells_.find(offset);
        if (it == cells_.end() && unwalked(offset)) return std::nullopt; // the break's finding, not a new one
        if (it == cells_.end()) {
            add(HiveRule::BadReference, offset, std::string("the ") + kindName(kind) + " of " + hex(from) +
                                                    " is not the start of a cell");
            return std::nullopt;
        }
        Cell& cell = it->second;
        if (!cell.allocated) {
            add(HiveRule::FreeReference, offset, std::string("the ") + kindName(kind) + " of " + hex(from) + " is a free cell");
            return std::nullopt;
        }
        const std::string_view payload = payloadOf(offset);
        if (!fits(kind, payload)) {
            // Left unreached: the cell may belong to another owner, who walks it.
            add(HiveRule::WrongKind, offset, std::string("the ") + kindName(kind) + " of " + hex(from) + " has the signature \"" +
                                                 printable(payload.substr(0, 2)) + "\"");
            return std::nullopt;
        }
        if (cell.reached) {
            if (kind == Kind::Security && *cell.reached == Kind::Security) return payload;
            add(HiveRule::SharedCell, offset, std::string("the ") + kindName(kind) + " of " + hex(from) +
                                                  " is already the " + kindName(*cell.reached) + " of another");
            return std::nullopt;
        }
        cell.reached = kind;
        return payload;
    }

    // Whether an offset lies where the walk of the bins broke off, which the check cannot tell apart.
    bool unwalked(std::uint32_t offset) const {
        return std::any_of(unwalked_.begin(), unwalked_.end(),
                           [&](const auto& range) { return offset >= range.first && offset < range.second; });
    }

    std::string_view payloadOf(std::uint32_t offset) const { return bins_.substr(offset + 4, cells_.at(offset).size - 4); }

    void walkKeys() {
        const std::uint32_t root = le32(file_, 36);
        const auto it = cells_.find(root);
        if (it == cells_.end() || !it->second.allocated) {
            add(HiveRule::RootCell, 0, "the root " + hex(root) + " is not an allocated cell");
            return;
        }
        it->second.reached = Kind::Key;
        const std::string_view payload = payloadOf(root);
        if (payload.size() < 0x4C || payload.substr(0, 2) != "nk") {
            add(HiveRule::RootCell, 0, "the root " + hex(root) + " is not a key");
            return;
        }
        if (!(le16(payload, 2) & 0x0004)) add(HiveRule::RootCell, root, "the root key is not marked as the hive's entry");
        std::vector<Pending> pending{{root, None, {}}};
        while (!pending.empty()) {
            const Pending key = std::move(pending.back());
            pending.pop_back();
            checkKey(key, pending);
        }
    }

    // A key to check, the key that lists it, and its path.
    struct Pending {
        std::uint32_t key;
        std::uint32_t parent;
        std::u16string path;
    };

    // A key cell already reached: its fields, its values, and its subkeys for later.
    void checkKey(const Pending& key, std::vector<Pending>& pending) {
        const std::uint32_t at = key.key, parent = key.parent;
        const std::string_view nk = payloadOf(at);
        if (nk.substr(0, 2) != "nk") {
            add(HiveRule::WrongKind, at, "a key without the \"nk\" signature");
            return;
        }
        if (nk.size() < 0x4C) {
            add(HiveRule::CellTooSmall, at, "a key cell of " + std::to_string(nk.size()) + " bytes");
            return;
        }
        ++out_.keys;
        KeyContent& content = out_.tree[key.path];
        content = KeyContent{};
        content.written = le32(nk, 4) | std::uint64_t{le32(nk, 8)} << 32;
        const std::uint16_t flags = le16(nk, 2);
        const std::uint16_t nameLength = le16(nk, 0x48);
        if (nameLength > nk.size() - 0x4C) add(HiveRule::CellTooSmall, at, "a key name longer than its cell");
        else if (nameLength == 0 && parent != None) add(HiveRule::KeyName, at, "a key without a name");
        else if (!(flags & 0x20) && nameLength % 2 != 0) add(HiveRule::KeyName, at, "a UTF-16 key name of odd length");
        if (parent != None && le32(nk, 0x10) != parent)
            add(HiveRule::KeyParent, at, "names " + hex(le32(nk, 0x10)) + " as its parent, not " + hex(parent));

        const std::uint32_t security = le32(nk, 0x2C);
        if (reach(at, security, Kind::Security)) ++securityUsers_[security];
        const std::uint16_t classLength = le16(nk, 0x4A);
        const std::uint32_t classCell = le32(nk, 0x30);
        if (classCell != None) {
            if (const auto cls = reach(at, classCell, Kind::Class); cls && cls->size() < classLength)
                add(HiveRule::CellTooSmall, classCell, "a class name of " + std::to_string(classLength) + " bytes");
        }

        std::uint32_t longestName = 0, longestClass = 0;
        for (const ListEntry& entry : subkeys(at, nk)) {
            const auto child = reach(entry.leaf, entry.cell, Kind::Key);
            if (!child) continue;
            if (child->size() < 0x4C || child->substr(0, 2) != "nk" || le16(*child, 0x48) > child->size() - 0x4C) {
                pending.push_back({entry.cell, at, key.path + u"\\?"});
                continue;
            }
            const bool compressed = le16(*child, 2) & 0x20;
            const Name name = nameOf(child->substr(0x4C, le16(*child, 0x48)), compressed);
            pending.push_back({entry.cell, at, key.path + u"\\" + folded(name.text)});
            longestName = std::max<std::uint32_t>(longestName, static_cast<std::uint32_t>(name.text.size() * 2));
            longestClass = std::max<std::uint32_t>(longestClass, le16(*child, 0x4A));
            subkeyName(entry, name);
        }
        if ((le32(nk, 0x34) & 0xFFFF) < longestName)
            add(HiveRule::MaxFields, at, "longest subkey name " + std::to_string(le32(nk, 0x34) & 0xFFFF) + ", not " +
                                             std::to_string(longestName));
        if (le32(nk, 0x38) < longestClass)
            add(HiveRule::MaxFields, at, "longest subkey class " + std::to_string(le32(nk, 0x38)) + ", not " +
                                             std::to_string(longestClass));
        values(at, nk, content);
    }

    // The subkeys that a key's lists name, checked as lists; their names are checked by the caller.
    std::vector<ListEntry> subkeys(std::uint32_t at, std::string_view nk) {
        std::vector<ListEntry> entries;
        const std::uint32_t count = le32(nk, 0x14);
        const std::uint32_t list = le32(nk, 0x1C);
        lastName_.reset();
        if (count == 0) {
            if (list != None) add(HiveRule::SubkeyCount, at, "a subkey list " + hex(list) + " without subkeys");
            return entries;
        }
        const auto top = reach(at, list, Kind::SubkeyList);
        if (!top) return entries;
        if (top->substr(0, 2) == "ri") {
            for (std::uint32_t leaf : listed(list, *top, 4))
                if (const auto inner = reach(list, leaf, Kind::Leaf)) leafEntries(leaf, *inner, entries);
        } else {
            leafEntries(list, *top, entries);
        }
        if (entries.size() != count)
            add(HiveRule::SubkeyCount, at, std::to_string(count) + " subkeys counted, " + std::to_string(entries.size()) + " listed");
        return entries;
    }

    // The offsets a list cell holds (`stride` bytes an entry, a 16-bit count after the signature).
    std::vector<std::uint32_t> listed(std::uint32_t at, std::string_view list, std::size_t stride) {
        std::vector<std::uint32_t> out;
        if (list.size() < 4) {
            add(HiveRule::CellTooSmall, at, "a list cell of " + std::to_string(list.size()) + " bytes");
            return out;
        }
        std::size_t count = le16(list, 2);
        if (count > (list.size() - 4) / stride) {
            add(HiveRule::CellTooSmall, at, "a list of " + std::to_string(count) + " entries in " +
                                                std::to_string(list.size()) + " bytes");
            count = (list.size() - 4) / stride;
        }
        for (std::size_t i = 0; i < count; ++i) out.push_back(le32(list, 4 + i * stride));
        return out;
    }

    void leafEntries(std::uint32_t at, std::string_view leaf, std::vector<ListEntry>& entries) {
        const char kind = leaf[1];
        const std::size_t stride = kind == 'i' ? 4 : 8;
        std::size_t i = 0;
        for (std::uint32_t cell : listed(at, leaf, stride)) {
            entries.push_back({cell, at, kind, stride == 8 ? le32(leaf, 8 + i * stride) : 0});
            ++i;
        }
    }

    // A subkey's name against its list: the hint or hash of its entry, and the order.
    void subkeyName(const ListEntry& entry, const Name& name) {
        if (!name.ascii) return; // other names fold by tables this check does not carry
        const std::u16string key = folded(name.text);
        if (entry.kind == 'h' && entry.hint != nameHash(key))
            add(HiveRule::SubkeyHash, entry.leaf, "the hash of " + hex(entry.cell) + " is " + hex(entry.hint));
        if (entry.kind == 'f') {
            std::uint32_t hint = 0;
            for (std::size_t i = 0; i < 4 && i < name.text.size(); ++i) hint |= std::uint32_t{name.text[i]} << (8 * i);
            if (entry.hint != hint)
                add(HiveRule::SubkeyHash, entry.leaf, "the name hint of " + hex(entry.cell) + " is " + hex(entry.hint));
        }
        if (lastName_ && !(*lastName_ < key))
            add(HiveRule::SubkeyOrder, entry.leaf, "the subkey " + hex(entry.cell) +
                                                       (*lastName_ == key ? " has the name of another" : " is out of order"));
        lastName_ = key;
    }

    void values(std::uint32_t at, std::string_view nk, KeyContent& content) {
        const std::uint32_t count = le32(nk, 0x24);
        const std::uint32_t listCell = le32(nk, 0x28);
        std::uint32_t longestName = 0, longestData = 0;
        if (count == 0) {
            if (listCell != None) add(HiveRule::ValueCount, at, "a value list " + hex(listCell) + " without values");
        } else if (const auto list = reach(at, listCell, Kind::ValueList)) {
            std::size_t fits = count;
            if (count > list->size() / 4) {
                add(HiveRule::CellTooSmall, listCell, "a list of " + std::to_string(count) + " values in " +
                                                          std::to_string(list->size()) + " bytes");
                fits = list->size() / 4;
            }
            std::set<std::u16string> names;
            for (std::size_t i = 0; i < fits; ++i) {
                const std::uint32_t cell = le32(*list, i * 4);
                const auto vk = reach(listCell, cell, Kind::Value);
                if (!vk) continue;
                if (vk->size() < 0x14 || le16(*vk, 2) > vk->size() - 0x14) {
                    add(HiveRule::CellTooSmall, cell, "a value cell of " + std::to_string(vk->size()) + " bytes");
                    continue;
                }
                ++out_.values;
                const bool compressed = le16(*vk, 0x10) & 1;
                const std::uint16_t nameLength = le16(*vk, 2);
                if (!compressed && nameLength % 2 != 0) add(HiveRule::ValueName, cell, "a UTF-16 value name of odd length");
                const Name name = nameOf(vk->substr(0x14, nameLength), compressed);
                longestName = std::max<std::uint32_t>(longestName, static_cast<std::uint32_t>(name.text.size() * 2));
                if (!names.insert(name.ascii ? folded(name.text) : name.text).second)
                    add(HiveRule::ValueName, cell, "a value with the name of another of its key");
                longestData = std::max(longestData, data(cell, *vk));
                content.values.push_back(narrow(folded(name.text)) + " type " + hex(le32(*vk, 0x0C)) + " " +
                                         digestOf(*vk));
            }
        }
        if (le32(nk, 0x3C) < longestName)
            add(HiveRule::MaxFields, at, "longest value name " + std::to_string(le32(nk, 0x3C)) + ", not " +
                                             std::to_string(longestName));
        if (le32(nk, 0x40) < longestData)
            add(HiveRule::MaxFields, at, "longest value data " + std::to_string(le32(nk, 0x40)) + ", not " +
                                             std::to_string(longestData));
    }

    // A value's data, checked; its size.
    std::uint32_t data(std::uint32_t value, std::string_view vk) {
        const std::uint32_t field = le32(vk, 4);
        const std::uint32_t size = field & 0x7FFFFFFF;
        if (field & 0x80000000) {
            if (size > 4) add(HiveRule::DataSize, value, std::to_string(size) + " bytes of data in the value cell");
            return size;
        }
        if (size == 0) return 0;
        const std::uint32_t at = le32(vk, 8);
        const auto cell = reach(value, at, Kind::Data);
        if (!cell) return size;
        if (minor_ < 4 || size <= Segment) {
            if (cell->size() < size)
                add(HiveRule::DataSize, value, std::to_string(size) + " bytes of data in a cell of " + std::to_string(cell->size()));
            return size;
        }
        if (cell->substr(0, 2) != "db" || cell->size() < 8) {
            add(HiveRule::BigData, value, std::to_string(size) + " bytes of data without big-data segments");
            return size;
        }
        const std::uint32_t segments = le16(*cell, 2);
        const std::uint32_t needed = (size + Segment - 1) / Segment;
        if (segments != needed)
            add(HiveRule::BigData, at, std::to_string(segments) + " segments for " + std::to_string(size) + " bytes");
        const std::uint32_t listCell = le32(*cell, 4);
        const auto list = reach(at, listCell, Kind::SegmentList);
        if (!list) return size;
        std::uint32_t count = segments;
        if (count > list->size() / 4) {
            add(HiveRule::CellTooSmall, listCell, "a list of " + std::to_string(count) + " segments in " +
                                                      std::to_string(list->size()) + " bytes");
            count = static_cast<std::uint32_t>(list->size() / 4);
        }
        std::uint32_t left = size;
        for (std::uint32_t i = 0; i < count; ++i) {
            const std::uint32_t segmentCell = le32(*list, i * 4);
            const auto segment = reach(listCell, segmentCell, Kind::Segment);
            const std::uint32_t part = std::min(left, Segment);
            if (segment && segment->size() < part)
                add(HiveRule::DataSize, segmentCell, "a segment of " + std::to_string(segment->size()) + " bytes for " +
                                                         std::to_string(part));
            left -= part;
        }
        return size;
    }

    // The payload of the allocated cell at `offset`, whether or not a walk reached it.
    std::optional<std::string_view> allocatedAt(std::uint32_t offset) const {
        const auto it = cells_.find(offset);
        if (it == cells_.end() || !it->second.allocated) return std::nullopt;
        return payloadOf(offset);
    }

    // A value's data as a reader gathers it, in few words: its size and a digest of its bytes,
    // or why it cannot be read.
    std::string digestOf(std::string_view vk) const {
        const std::uint32_t field = le32(vk, 4);
        const std::uint32_t size = field & 0x7FFFFFFF;
        std::uint64_t hash = 0xCBF29CE484222325;
        auto take = [&](std::string_view bytes) {
            for (char c : bytes) hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001B3;
        };
        auto said = [&] { return std::to_string(size) + " bytes " + hex(static_cast<std::uint32_t>(hash >> 32)) +
                                 hex(static_cast<std::uint32_t>(hash)); };
        if (field & 0x80000000) {
            take(vk.substr(8, std::min<std::uint32_t>(size, 4)));
            return said();
        }
        if (size == 0) return said();
        const auto cell = allocatedAt(le32(vk, 8));
        if (!cell) return "unreadable data";
        if (size <= cell->size()) {
            take(cell->substr(0, size));
            return said();
        }
        if (cell->substr(0, 2) != "db" || cell->size() < 8) return "unreadable data";
        const auto list = allocatedAt(le32(*cell, 4));
        if (!list) return "unreadable data";
        std::uint32_t left = size;
        for (std::uint32_t i = 0; i < le16(*cell, 2) && i < list->size() / 4 && left > 0; ++i) {
            const auto segment = allocatedAt(le32(*list, i * 4));
            const std::uint32_t part = std::min(left, Segment);
            if (!segment || segment->size() < part) return "unreadable data";
            take(segment->substr(0, part));
            left -= part;
        }
        return left == 0 ? said() : "unreadable data";
    }

    // The security cells: one ring linked both ways, each counting the keys that use it.
    void walkSecurity() {
        if (securityUsers_.empty()) return;
        const std::uint32_t first = securityUsers_.begin()->first;
        std::set<std::uint32_t> ring;
        std::uint32_t at = first;
        do {
            ring.insert(at);
            const std::string_view sk = payloadOf(at);
            if (sk.size() < 0x14 || le32(sk, 0x10) > sk.size() - 0x14) {
                add(HiveRule::CellTooSmall, at, "a security descriptor longer than its cell");
                if (sk.size() < 0x14) return;
            }
            const auto users = securityUsers_.find(at);
            const std::uint32_t used = users == securityUsers_.end() ? 0 : users->second;
            if (le32(sk, 0x0C) != used)
                add(HiveRule::SecurityCount, at, "a reference count of " + std::to_string(le32(sk, 0x0C)) + " for " +
                                                     std::to_string(used) + " keys");
            const std::uint32_t next = le32(sk, 4);
            if (ring.count(next)) {
                if (next != first) add(HiveRule::SecurityList, at, "the list leads back to " + hex(next) + ", not its start");
                else if (le32(payloadOf(next), 8) != at)
                    add(HiveRule::SecurityList, next, "its previous cell is " + hex(le32(payloadOf(next), 8)) + ", not " + hex(at));
                break;
            }
            const auto following = reach(at, next, Kind::Security);
            if (!following) break;
            if (following->size() < 0x14) {
                add(HiveRule::CellTooSmall, next, "a security cell of " + std::to_string(following->size()) + " bytes");
                break;
            }
            if (le32(*following, 8) != at)
                add(HiveRule::SecurityList, next, "its previous cell is " + hex(le32(*following, 8)) + ", not " + hex(at));
            at = next;
        } while (true);
        for (const auto& [cell, users] : securityUsers_)
            if (!ring.count(cell)) add(HiveRule::SecurityList, cell, "a security cell outside the list of the root's");
    }

    std::string_view file_;
    std::string_view bins_;
    std::uint32_t binsSize_ = 0;
    std::uint32_t minor_ = 0;
    std::map<std::uint32_t, Cell> cells_;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> unwalked_; // where the walk of the bins broke off, to where
    std::map<std::uint32_t, std::uint32_t> securityUsers_; // security cell -> keys using it
    std::optional<std::u16string> lastName_;               // the last ASCII name of the list being checked
    HiveCheck out_;
};

} // namespace

const char* ruleName(HiveRule rule) {
    switch (rule) {
    case HiveRule::BaseSignature: return "BaseSignature";
    case HiveRule::BaseVersion: return "BaseVersion";
    case HiveRule::BaseSequence: return "BaseSequence";
    case HiveRule::BaseChecksum: return "BaseChecksum";
    case HiveRule::BinsSize: return "BinsSize";
    case HiveRule::FileSize: return "FileSize";
    case HiveRule::RootCell: return "RootCell";
    case HiveRule::BinSignature: return "BinSignature";
    case HiveRule::BinOffset: return "BinOffset";
    case HiveRule::BinSize: return "BinSize";
    case HiveRule::BeyondTwoGiB: return "BeyondTwoGiB";
    case HiveRule::CellSize: return "CellSize";
    case HiveRule::CellCrossesBin: return "CellCrossesBin";
    case HiveRule::BadReference: return "BadReference";
    case HiveRule::FreeReference: return "FreeReference";
    case HiveRule::WrongKind: return "WrongKind";
    case HiveRule::CellTooSmall: return "CellTooSmall";
    case HiveRule::SharedCell: return "SharedCell";
    case HiveRule::LeakedCell: return "LeakedCell";
    case HiveRule::KeyParent: return "KeyParent";
    case HiveRule::KeyName: return "KeyName";
    case HiveRule::SubkeyCount: return "SubkeyCount";
    case HiveRule::SubkeyOrder: return "SubkeyOrder";
    case HiveRule::SubkeyHash: return "SubkeyHash";
    case HiveRule::ValueCount: return "ValueCount";
    case HiveRule::ValueName: return "ValueName";
    case HiveRule::MaxFields: return "MaxFields";
    case HiveRule::DataSize: return "DataSize";
    case HiveRule::BigData: return "BigData";
    case HiveRule::SecurityList: return "SecurityList";
    case HiveRule::SecurityCount: return "SecurityCount";
    case HiveRule::LeftOver: return "LeftOver";
    case HiveRule::KeyNotKept: return "KeyNotKept";
    }
    return "?";
}

bool windowsBreaks(HiveRule rule) {
    return rule == HiveRule::FileSize || rule == HiveRule::BaseSequence || rule == HiveRule::LeakedCell;
}

bool HiveCheck::has(HiveRule rule) const {
    return std::any_of(findings.begin(), findings.end(), [&](const HiveFinding& f) { return f.rule == rule; });
}

std::vector<HiveFinding> HiveCheck::beyond(const HiveCheck& source) const {
    std::vector<HiveFinding> out;
    for (const HiveFinding& f : findings)
        if (std::none_of(source.findings.begin(), source.findings.end(), [&](const HiveFinding& s) { return s.sameAs(f); }))
            out.push_back(f);
    return out;
}

bool HiveCheck::damaged() const {
    return std::any_of(findings.begin(), findings.end(),
                       [](const HiveFinding& f) { return !windowsBreaks(f.rule) && f.rule != HiveRule::LeakedCell; });
}

std::vector<HiveFinding> commitFaults(const HiveCheck& source, const HiveCheck& written) {
    std::vector<HiveFinding> faults = written.beyond(source);
    if (source.damaged()) std::erase_if(faults, [](const HiveFinding& f) { return f.rule == HiveRule::LeakedCell; });
    auto named = [](const std::u16string& path) { return path.empty() ? std::string("the root key") : narrow(path); };
    for (const auto& [path, before] : source.tree) {
        const auto after = written.tree.find(path);
        if (after == written.tree.end())
            faults.push_back({HiveRule::KeyNotKept, 0, named(path) + " is gone"});
        else if (after->second.written == before.written && after->second.values != before.values)
            faults.push_back({HiveRule::KeyNotKept, 0, named(path) + ", which the commit did not stamp, has other values"});
    }
    for (const auto& [path, after] : written.tree)
        if (!source.tree.count(path)) faults.push_back({HiveRule::KeyNotKept, 0, named(path) + " is new"});
    return faults;
}

namespace {

// The cells of the bins of a file that are tiled exactly: offset -> size field.
std::map<std::uint32_t, std::int32_t> tiles(std::string_view file) {
    std::map<std::uint32_t, std::int32_t> out;
    if (file.size() < BaseBlock + BinHeader) return out;
    const std::string_view bins = file.substr(BaseBlock, std::min<std::size_t>(file.size() - BaseBlock, le32(file, 40)));
    for (std::uint32_t bin = 0; bins.size() - bin >= BinHeader && bins.substr(bin, 4) == "hbin";) {
        const std::uint32_t size = le32(bins, bin + 8);
        if (size < Page || size % Page != 0 || size > bins.size() - bin) break;
        std::map<std::uint32_t, std::int32_t> cells;
        std::uint32_t at = bin + BinHeader;
        for (std::uint32_t length = 0; at < bin + size; at += length) {
            const auto field = static_cast<std::int32_t>(le32(bins, at));
            length = field < 0 ? 0u - static_cast<std::uint32_t>(field) : static_cast<std::uint32_t>(field);
            if (length < 8 || length % 8 != 0 || length > bin + size - at) break;
            cells[at] = field;
        }
        if (at == bin + size) out.merge(cells);
        bin += size;
    }
    return out;
}

} // namespace

std::vector<HiveFinding> leftovers(std::string_view source, std::string_view written) {
    const auto before = tiles(source);
    std::vector<HiveFinding> out;
    for (const auto& [at, field] : tiles(written)) {
        if (field < 0) continue;
        const std::uint32_t from = at + 4, to = at + static_cast<std::uint32_t>(field); // past its size field
        auto held = before.upper_bound(from);
        if (held != before.begin()) --held;
        for (; held != before.end() && held->first < to; ++held) {
            if (held->second > 0) continue;
            const std::uint32_t start = std::max(from, held->first);
            const std::uint32_t end = std::min<std::uint64_t>(to, std::uint64_t{held->first} + (0u - static_cast<std::uint32_t>(held->second)));
            if (start < end && written.substr(BaseBlock + start, end - start).find_first_not_of('\0') != std::string_view::npos) {
                out.push_back({HiveRule::LeftOver, at, "a free cell keeps bytes of the cell " + hex(held->first) + " in use before"});
                break;
            }
        }
    }
    return out;
}

std::vector<HiveFinding> HiveCheck::unlikeWindows() const {
    std::vector<HiveFinding> out;
    std::copy_if(findings.begin(), findings.end(), std::back_inserter(out),
                 [](const HiveFinding& f) { return !windowsBreaks(f.rule); });
    return out;
}

std::string describe(const std::vector<HiveFinding>& findings, std::size_t limit) {
    std::string text;
    for (std::size_t i = 0; i < findings.size() && i < limit; ++i)
        text += std::string(ruleName(findings[i].rule)) + " at " + hex(findings[i].cell) + ": " + findings[i].detail + "\n";
    if (findings.size() > limit) text += "... and " + std::to_string(findings.size() - limit) + " more\n";
    return text;
}

HiveCheck checkHive(std::string_view file) { return Checker(file).run(); }

HiveCheck checkHiveFile(const std::string& path) {
    // Mapped, not read: a test's hive may be large and mostly holes.
    HiveCheck unreadable;
    unreadable.findings.push_back({HiveRule::BaseSignature, 0, "cannot read " + path});
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return unreadable;
    struct stat st {};
    if (fstat(fd, &st) != 0 || st.st_size == 0) {
        ::close(fd);
        return st.st_size == 0 ? checkHive({}) : unreadable;
    }
    void* map = mmap(nullptr, static_cast<std::size_t>(st.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
    ::close(fd);
    if (map == MAP_FAILED) return unreadable;
    HiveCheck check = checkHive(std::string_view(static_cast<const char*>(map), static_cast<std::size_t>(st.st_size)));
    munmap(map, static_cast<std::size_t>(st.st_size));
    return check;
}

} // namespace testsupport
