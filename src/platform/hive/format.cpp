#include "platform/hive/format.h"

#include <algorithm>
#include <chrono>
#include <iterator>

#include "platform/bytes.h"
#include "platform/hive/names.h"

namespace platform::hive {
namespace {

// A self-relative security descriptor for the root key: owner Administrators, group SYSTEM;
// Administrators and SYSTEM have full control, Users may read, CREATOR OWNER owns subkeys.
std::string rootSecurity() {
    const std::string admins("\x01\x02\0\0\0\0\0\x05\x20\0\0\0\x20\x02\0\0", 16);  // S-1-5-32-544
    const std::string users("\x01\x02\0\0\0\0\0\x05\x20\0\0\0\x21\x02\0\0", 16);   // S-1-5-32-545
    const std::string system("\x01\x01\0\0\0\0\0\x05\x12\0\0\0", 12);              // S-1-5-18
    const std::string creator("\x01\x01\0\0\0\0\0\x03\0\0\0\0", 12);               // S-1-3-0
    std::string acl(8, '\0');
    std::uint16_t count = 0;
    auto ace = [&](std::uint8_t flags, std::uint32_t mask, const std::string& sid) {
        std::string a(8, '\0');
        a[0] = 0; // ACCESS_ALLOWED_ACE_TYPE
        a[1] = static_cast<char>(flags);
        put16(a, 2, static_cast<std::uint16_t>(8 + sid.size()));
        put32(a, 4, mask);
        acl += a + sid;
        ++count;
    };
    constexpr std::uint8_t ContainerInherit = 0x02, InheritOnly = 0x08;
    ace(ContainerInherit, 0xF003F, admins);
    ace(ContainerInherit, 0xF003F, system);
    ace(ContainerInherit, 0x20019, users);
    ace(ContainerInherit | InheritOnly, 0x10000000, creator);
    acl[0] = 2; // ACL_REVISION
    put16(acl, 2, static_cast<std::uint16_t>(acl.size()));
    put16(acl, 4, count);

    std::string sd(20, '\0');
    sd[0] = 1;                 // revision
    put16(sd, 2, 0x8004);      // self-relative, DACL present
    const auto daclAt = static_cast<std::uint32_t>(sd.size());
    const auto ownerAt = static_cast<std::uint32_t>(daclAt + acl.size());
    const auto groupAt = static_cast<std::uint32_t>(ownerAt + admins.size());
    put32(sd, 4, ownerAt);
    put32(sd, 8, groupAt);
    put32(sd, 12, 0);          // no SACL
    put32(sd, 16, daclAt);
    return sd + acl + admins + system;
}

std::size_t roundUp8(std::size_t n) { return (n + 7) & ~std::size_t{7}; }

// The cells of a hive's one bin, laid one after another from its header on, each allocated.
class BinCells {
public:
    // A cell holding `payload`: its offset.
    std::uint32_t add(std::string_view payload) {
        const auto at = static_cast<std::uint32_t>(BinHeaderSize + cells_.size());
        const std::size_t size = roundUp8(cell::Payload + payload.size());
        std::string c(size, '\0');
        put32(c, cell::Size, static_cast<std::uint32_t>(-static_cast<std::int32_t>(size)));
        c.replace(cell::Payload, payload.size(), payload);
        cells_ += c;
        return at;
    }
    // Sets a field of the payload of the cell at `at` (one that names a cell added after it).
    void put(std::uint32_t at, std::size_t field, std::uint32_t value) {
        put32(cells_, at - BinHeaderSize + cell::Payload + field, value);
    }
    // The bin: its header, the cells, and the rest of its last page as one free cell.
    std::string bin(std::uint64_t filetime) const {
        const std::size_t used = BinHeaderSize + cells_.size();
        std::string b(BinHeaderSize, '\0');
        b.replace(hbin::Signature, 4, "hbin");
        put32(b, hbin::Offset, 0);
        put64(b, hbin::Written, filetime);
        b += cells_;
        b.resize((used + HiveBinSize - 1) / HiveBinSize * HiveBinSize, '\0');
        put32(b, hbin::Size, static_cast<std::uint32_t>(b.size()));
        if (b.size() > used) put32(b, used + cell::Size, static_cast<std::uint32_t>(b.size() - used));
        return b;
    }

private:
    std::string cells_;
};

// A key's record: a compressed name, no subkeys, no values, no class, no security yet.
std::string keyRecord(std::string_view name, std::uint16_t flags, std::uint64_t filetime, std::uint32_t parent) {
    std::string k(nk::Name, '\0');
    k.replace(nk::Signature, 2, "nk");
    put16(k, nk::Flags, flags | nk::CompressedName);
    put64(k, nk::Written, filetime);
    put32(k, nk::Parent, parent);
    put32(k, nk::SubkeyList, NoCell);
    put32(k, nk::VolatileSubkeyList, NoCell);
    put32(k, nk::ValueList, NoCell);
    put32(k, nk::ClassName, NoCell);
    put16(k, nk::NameLength, static_cast<std::uint16_t>(name.size()));
    return k + std::string(name);
}

// The hash that an "lh" list keeps of a key's name: of its characters in the registry's capitals.
std::uint32_t nameHash(std::string_view latin1) {
    std::u16string name;
    for (char c : latin1) name.push_back(static_cast<unsigned char>(c));
    std::uint32_t hash = 0;
    for (char16_t c : foldCase(name)) hash = hash * 37 + c;
    return hash;
}

} // namespace

std::uint32_t baseBlockChecksum(std::string_view block) {
    std::uint32_t sum = 0;
    for (std::size_t at = 0; at < regf::Checksum; at += 4) sum ^= le32(block, at);
    if (sum == 0xFFFFFFFF) return 0xFFFFFFFE;
    if (sum == 0) return 1;
    return sum;
}

std::optional<BaseBlock> readBaseBlock(std::string_view bytes) {
    if (bytes.size() < BaseBlockSize || bytes.substr(regf::Signature, 4) != "regf") return std::nullopt;
    BaseBlock b;
    b.sequence1 = le32(bytes, regf::Sequence1);
    b.sequence2 = le32(bytes, regf::Sequence2);
    b.minor = le32(bytes, regf::Minor);
    b.rootCell = le32(bytes, regf::RootCell);
    b.binsSize = le32(bytes, regf::BinsSize);
    b.checksum = le32(bytes, regf::Checksum);
    b.computedChecksum = baseBlockChecksum(bytes);
    return b;
}

std::uint64_t filetimeNow() {
    using namespace std::chrono;
    const auto since1970 = duration_cast<nanoseconds>(system_clock::now().time_since_epoch()).count() / 100;
    return static_cast<std::uint64_t>(since1970) + 116444736000000000ULL;
}

std::string emptyHive(std::uint64_t filetime) { return hiveWithKey(filetime, {}, {}); }

std::string hiveWithKey(std::uint64_t filetime, std::span<const std::string_view> path,
                        std::span<const NewValue> values) {
    BinCells cells;
    const std::uint32_t root = cells.add(keyRecord("ROOT", nk::HiveEntry | nk::NoDelete, filetime, NoCell));

    // One security descriptor for every key, alone in the ring of descriptors.
    const std::string security = rootSecurity();
    std::string skRecord(sk::Descriptor, '\0');
    skRecord.replace(sk::Signature, 2, "sk");
    put32(skRecord, sk::References, static_cast<std::uint32_t>(1 + path.size()));
    put32(skRecord, sk::DescriptorSize, static_cast<std::uint32_t>(security.size()));
    const std::uint32_t sk = cells.add(skRecord + security);
    cells.put(sk, sk::Previous, sk);
    cells.put(sk, sk::Next, sk);
    cells.put(root, nk::Security, sk);

    // Each key of the path the one subkey of the key before it, in a hash leaf of its own.
    std::uint32_t key = root;
    for (const std::string_view name : path) {
        const std::uint32_t child = cells.add(keyRecord(name, 0, filetime, key));
        cells.put(child, nk::Security, sk);
        std::string leaf(list::Entries + list::HashedEntry, '\0');
        leaf.replace(list::Signature, 2, "lh");
        put16(leaf, list::Count, 1);
        put32(leaf, list::Entries, child);
        put32(leaf, list::Entries + 4, nameHash(name));
        const std::uint32_t list = cells.add(leaf);
        cells.put(key, nk::SubkeyCount, 1);
        cells.put(key, nk::SubkeyList, list);
        cells.put(key, nk::MaxSubkeyName, static_cast<std::uint32_t>(2 * name.size()));
        key = child;
    }

    // The last key's values, in their order; data of up to four bytes in the value cell itself.
    if (!values.empty()) {
        const std::uint32_t list = cells.add(std::string(list::PlainEntry * values.size(), '\0'));
        std::uint32_t maxName = 0, maxData = 0;
        for (std::size_t i = 0; i < values.size(); ++i) {
            const NewValue& v = values[i];
            const auto size = static_cast<std::uint32_t>(v.data.size());
            std::string record(vk::Name, '\0');
            record.replace(vk::Signature, 2, "vk");
            put16(record, vk::NameLength, static_cast<std::uint16_t>(v.name.size()));
            put32(record, vk::Type, v.type);
            put16(record, vk::Flags, vk::CompressedName);
            std::uint32_t data = NoCell;
            if (size <= vk::InlineCapacity) {
                put32(record, vk::DataSize, size | vk::InlineData);
                record.replace(vk::DataOffset, size, v.data);
            } else {
                put32(record, vk::DataSize, size);
                data = cells.add(v.data);
            }
            const std::uint32_t value = cells.add(record + std::string(v.name));
            if (data != NoCell) cells.put(value, vk::DataOffset, data);
            cells.put(list, list::PlainEntry * i, value);
            maxName = std::max(maxName, static_cast<std::uint32_t>(2 * v.name.size()));
            maxData = std::max(maxData, size);
        }
        cells.put(key, nk::ValueCount, static_cast<std::uint32_t>(values.size()));
        cells.put(key, nk::ValueList, list);
        cells.put(key, nk::MaxValueName, maxName);
        cells.put(key, nk::MaxValueData, maxData);
    }
    const std::string bin = cells.bin(filetime);

    // The base block: format 1.3, a primary file in direct memory-load form.
    std::string hive(BaseBlockSize, '\0');
    hive.replace(regf::Signature, 4, "regf");
    put32(hive, regf::Sequence1, 1);
    put32(hive, regf::Sequence2, 1);
    put64(hive, regf::Written, filetime);
    put32(hive, regf::Major, 1);
    put32(hive, regf::Minor, 3);
    put32(hive, regf::FileType, 0);
    put32(hive, regf::FileFormat, 1);
    put32(hive, regf::RootCell, root);
    put32(hive, regf::BinsSize, static_cast<std::uint32_t>(bin.size()));
    put32(hive, regf::Clustering, 1);
    put32(hive, regf::Checksum, baseBlockChecksum(hive));
    return hive + bin;
}

std::optional<Bin> BinChain::at(std::size_t index) const {
    while (chain_.size() <= index)
        if (!extend()) return std::nullopt;
    return chain_[index];
}

bool BinChain::endClaimed() const {
    while (extend()) {
    }
    return endClaimed_;
}

std::optional<Bin> BinChain::holding(std::uint32_t offset) const {
    while (chain_.empty() || chain_.back().offset + std::uint64_t{chain_.back().size} <= offset)
        if (!extend()) break;
    auto after = std::upper_bound(chain_.begin(), chain_.end(), offset,
                                  [](std::uint32_t at, const Bin& bin) { return at < bin.offset; });
    if (after == chain_.begin()) return std::nullopt;
    const Bin bin = *std::prev(after);
    if (offset - bin.offset >= bin.size) return std::nullopt;
    return bin;
}

bool BinChain::extend() const {
    auto headerAt = [&](std::uint32_t at) {
        return bins_.substr(at + hbin::Signature, 4) == "hbin" && le32(bins_, at + hbin::Offset) == at;
    };
    const auto end = static_cast<std::uint32_t>(std::min<std::size_t>(bins_.size(), limit_));
    while (next_ < end && bins_.size() - next_ >= HiveBinSize) {
        const std::uint32_t at = next_;
        const std::uint32_t size = headerAt(at) ? le32(bins_, at + hbin::Size) : 0;
        if (size < HiveBinSize || size % HiveBinSize != 0 || size > bins_.size() - at || size > limit_ - at) {
            // A damaged header: the next bin begins on some later page and names its offset.
            if (headerAt(at) && size > bins_.size() - at) endClaimed_ = true;
            next_ += HiveBinSize;
            continue;
        }
        chain_.push_back({at, size});
        next_ = at + size;
        return true;
    }
    next_ = end;
    return false;
}

} // namespace platform::hive
