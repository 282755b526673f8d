#include "platform/hive/references.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/bytes.h"

namespace platform::hive {
namespace {

class Walk {
public:
    Walk(const MappedHive& hive, const HiveChanges& changes, Coverage& out)
        : bins_(hive.bins()), size_(hive.binsSize()), changes_(changes), out_(out),
          budget_(std::uint64_t{hive.binsSize()} / list::PlainEntry + 64) {
        // One bit for each 8 bytes of the bins, made at once: growing them as the walk goes would
        // copy them over and over.
        keysSeen_.assign(std::size_t{size_} / CellAlignment / 64 + 1, 0);
        securitySeen_.assign(keysSeen_.size(), 0);
        for (const auto& [key, change] : changes) {
            const std::uint32_t from = key + cell::Payload + nk::Written;
            rewritten_.push_back({from, from + static_cast<std::uint32_t>(nk::WorkVar - nk::Written)});
        }
    }

    Status run(std::uint32_t root) {
        root_ = root;
        keys_.push_back(root);
        while (!keys_.empty() && !corrupt_) {
            const std::uint32_t key = keys_.back();
            keys_.pop_back();
            if (!keys_.empty()) lookAhead(keys_.back());
            walkKey(key);
        }
        while (!security_.empty() && !corrupt_) {
            const std::uint32_t at = security_.back();
            security_.pop_back();
            walkSecurity(at);
        }
        return corrupt_ ? status::RegistryCorrupt : status::Success;
    }

private:
    // Covers what the offset leads to; the payload of what it finds there when that is a cell
    // whose size field stays inside the bins, to be followed.
    std::optional<std::string_view> reach(std::uint32_t offset, bool asKey = false) {
        if (offset >= size_) return std::nullopt;
        const std::uint32_t left = size_ - offset;
        std::uint32_t length = std::min<std::uint32_t>(CellAlignment, left);
        std::optional<std::string_view> payload;
        if (left >= cell::Payload) {
            const auto field = static_cast<std::int32_t>(le32(bins_, offset + cell::Size));
            const std::uint32_t claimed = field < 0 ? 0u - static_cast<std::uint32_t>(field) : static_cast<std::uint32_t>(field);
            length = std::min(std::max<std::uint32_t>(claimed, CellAlignment), left);
            if (claimed >= CellAlignment && claimed <= left) payload = bins_.substr(offset + cell::Payload, claimed - cell::Payload);
        }
        out_.cover(offset, length, size_);
        // A key's fields that the commit rewrites may be reached as that key, and as nothing else.
        if (!(asKey && changes_.count(offset)))
            for (const auto& [from, to] : rewritten_)
                if (offset < to && from < std::uint64_t{offset} + length) corrupt_ = true;
        return payload;
    }

    // Asks the processor for a cell that is about to be read: the walk goes from cell to cell
    // across the whole file, and a list names many at once.
    void prefetch(std::uint32_t offset) const {
        if (offset < size_) __builtin_prefetch(bins_.data() + offset);
    }

    // Asks for the lists of the key walked next while this one is walked, so that reading them
    // then does not wait for memory.
    void lookAhead(std::uint32_t key) const {
        if (key >= size_ || size_ - key < cell::Payload + nk::Name) return;
        const std::string_view nk = bins_.substr(key + cell::Payload, nk::Name);
        prefetch(le32(nk, nk::ValueList));
        prefetch(le32(nk, nk::SubkeyList));
    }

    // One more entry of a list followed: false, and the hive corrupt, past the budget.
    bool spend() {
        if (budget_ == 0) corrupt_ = true;
        else --budget_;
        return !corrupt_;
    }

    static bool is(std::string_view payload, const char* signature) {
        return payload.size() >= 2 && payload[0] == signature[0] && payload[1] == signature[1];
    }

    static bool once(std::vector<std::uint64_t>& seen, std::uint32_t offset) {
        const std::size_t g = offset / CellAlignment;
        const std::uint64_t bit = std::uint64_t{1} << (g % 64);
        if (seen[g / 64] & bit) return false;
        seen[g / 64] |= bit;
        return true;
    }

    void walkKey(std::uint32_t at) {
        const auto nk = reach(at, true);
        if (!nk || !is(*nk, "nk") || nk->size() < nk::Name || !once(keysSeen_, at)) return;
        if (at != root_) reach(le32(*nk, nk::Parent), true);
        if (const std::uint32_t security = le32(*nk, nk::Security); security != NoCell) security_.push_back(security);
        if (const std::uint32_t cls = le32(*nk, nk::ClassName); cls != NoCell) reach(cls);
        if (const std::uint32_t list = le32(*nk, nk::SubkeyList); list != NoCell) walkSubkeys(list);
        if (const auto changed = changes_.find(at); changed != changes_.end()) {
            for (const ValueSlot& value : changed->second.values)
                if (value.cell != NoCell && spend()) walkValue(value.cell);
            return;
        }
        const std::uint32_t listCell = le32(*nk, nk::ValueList);
        if (listCell == NoCell) return;
        const auto list = reach(listCell);
        if (!list) return;
        const std::size_t count = std::min<std::size_t>(le32(*nk, nk::ValueCount), list->size() / list::PlainEntry);
        for (std::size_t i = 0; i < count; ++i) prefetch(le32(*list, i * list::PlainEntry));
        for (std::size_t i = 0; i < count && spend(); ++i) walkValue(le32(*list, i * list::PlainEntry));
    }

    // A subkey list of any kind; an index of lists names lists again, followed as deep as they go.
    void walkSubkeys(std::uint32_t first) {
        std::vector<std::uint32_t> lists{first};
        while (!lists.empty() && !corrupt_) {
            const std::uint32_t at = lists.back();
            lists.pop_back();
            const auto list = reach(at);
            if (!list || list->size() < list::Entries) continue;
            const bool index = is(*list, "ri");
            const std::size_t stride = is(*list, "lf") || is(*list, "lh") ? list::HashedEntry : list::PlainEntry;
            if (!index && stride == list::PlainEntry && !is(*list, "li")) continue;
            const std::size_t count = std::min<std::size_t>(le16(*list, list::Count), (list->size() - list::Entries) / stride);
            for (std::size_t i = 0; i < count && spend(); ++i) {
                const std::uint32_t entry = le32(*list, list::Entries + i * stride);
                prefetch(entry);
                if (index) lists.push_back(entry);
                else keys_.push_back(entry);
            }
        }
    }

    // Covers the `size` bytes of data that a reader takes from the cell at `at`, and its size
    // field, without reading it: a cell of data is nothing to follow, and not looking at it
    // spares the walk a read of every page of the hive. (Its size field may claim more: what
    // lies beyond the data is no reader's.)
    void covered(std::uint32_t at, std::uint32_t size) {
        if (at >= size_) return;
        const std::uint64_t length = (std::uint64_t{cell::Payload} + size + CellAlignment - 1) / CellAlignment * CellAlignment;
        out_.cover(at, static_cast<std::uint32_t>(std::min<std::uint64_t>(length, size_ - at)), size_);
        for (const auto& [from, to] : rewritten_)
            if (at < to && from < at + length) corrupt_ = true;
    }

    void walkValue(std::uint32_t at) {
        const auto vk = reach(at);
        if (!vk || !is(*vk, "vk") || vk->size() < vk::Name) return;
        const std::uint32_t sizeField = le32(*vk, vk::DataSize);
        const std::uint32_t size = sizeField & ~vk::InlineData;
        if ((sizeField & vk::InlineData) || size == 0) return;
        // Data that one segment holds is never big data.
        if (size <= BigDataSegment) return covered(le32(*vk, vk::DataOffset), size);
        const auto data = reach(le32(*vk, vk::DataOffset));
        // Big data: a "db" cell naming its segments, when the data does not fit its cell.
        if (!data || size <= data->size() || !is(*data, "db") || data->size() < db::Size) return;
        const auto segments = reach(le32(*data, db::SegmentList));
        if (!segments) return;
        const std::size_t count = std::min<std::size_t>(le16(*data, db::SegmentCount), segments->size() / list::PlainEntry);
        std::uint32_t left = size;
        for (std::size_t i = 0; i < count && spend(); ++i) {
            const std::uint32_t part = std::min(left, BigDataSegment);
            covered(le32(*segments, i * list::PlainEntry), std::max(part, 1u));
            left -= part;
        }
    }

    // A security cell, and the ones before and after it in their ring.
    void walkSecurity(std::uint32_t at) {
        const auto sk = reach(at);
        if (!sk || !is(*sk, "sk") || sk->size() < sk::Descriptor || !once(securitySeen_, at)) return;
        security_.push_back(le32(*sk, sk::Next));
        security_.push_back(le32(*sk, sk::Previous));
    }

    std::string_view bins_;
    std::uint32_t size_;
    const HiveChanges& changes_;
    Coverage& out_;
    std::uint64_t budget_;
    std::uint32_t root_ = NoCell;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> rewritten_; // the key fields a commit rewrites
    std::vector<std::uint32_t> keys_;     // to walk
    std::vector<std::uint32_t> security_; // to walk
    std::vector<std::uint64_t> keysSeen_, securitySeen_;
    bool corrupt_ = false;
};

} // namespace

Status referencesAfter(const MappedHive& hive, const HiveChanges& changes, Coverage& out) {
    return Walk(hive, changes, out).run(hive.root());
}

} // namespace platform::hive
