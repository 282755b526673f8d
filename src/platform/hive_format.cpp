#include "platform/hive_format.h"

#include <chrono>
#include <cstring>

namespace platform::hive {
namespace {

std::uint32_t le32(std::string_view b, std::size_t at) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(b[at])) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(b[at + 1])) << 8 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(b[at + 2])) << 16 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(b[at + 3])) << 24;
}

// Little-endian writers over a byte string.
struct Writer {
    std::string& out;
    void put16(std::size_t at, std::uint16_t v) {
        out[at] = static_cast<char>(v);
        out[at + 1] = static_cast<char>(v >> 8);
    }
    void put32(std::size_t at, std::uint32_t v) {
        put16(at, static_cast<std::uint16_t>(v));
        put16(at + 2, static_cast<std::uint16_t>(v >> 16));
    }
    void put64(std::size_t at, std::uint64_t v) {
        put32(at, static_cast<std::uint32_t>(v));
        put32(at + 4, static_cast<std::uint32_t>(v >> 32));
    }
    void bytes(std::size_t at, std::string_view b) { out.replace(at, b.size(), b); }
};

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
        Writer w{a};
        a[0] = 0; // ACCESS_ALLOWED_ACE_TYPE
        a[1] = static_cast<char>(flags);
        w.put16(2, static_cast<std::uint16_t>(8 + sid.size()));
        w.put32(4, mask);
        acl += a + sid;
        ++count;
    };
    constexpr std::uint8_t ContainerInherit = 0x02, InheritOnly = 0x08;
    ace(ContainerInherit, 0xF003F, admins);
    ace(ContainerInherit, 0xF003F, system);
    ace(ContainerInherit, 0x20019, users);
    ace(ContainerInherit | InheritOnly, 0x10000000, creator);
    Writer wa{acl};
    acl[0] = 2; // ACL_REVISION
    wa.put16(2, static_cast<std::uint16_t>(acl.size()));
    wa.put16(4, count);

    std::string sd(20, '\0');
    Writer w{sd};
    sd[0] = 1;                 // revision
    w.put16(2, 0x8004);        // self-relative, DACL present
    const auto daclAt = static_cast<std::uint32_t>(sd.size());
    const auto ownerAt = static_cast<std::uint32_t>(daclAt + acl.size());
    const auto groupAt = static_cast<std::uint32_t>(ownerAt + admins.size());
    w.put32(4, ownerAt);
    w.put32(8, groupAt);
    w.put32(12, 0);            // no SACL
    w.put32(16, daclAt);
    return sd + acl + admins + system;
}

std::size_t roundUp8(std::size_t n) { return (n + 7) & ~std::size_t{7}; }

} // namespace

std::uint32_t baseBlockChecksum(std::string_view block) {
    std::uint32_t sum = 0;
    for (std::size_t at = 0; at < 508; at += 4) sum ^= le32(block, at);
    if (sum == 0xFFFFFFFF) return 0xFFFFFFFE;
    if (sum == 0) return 1;
    return sum;
}

std::optional<BaseBlock> readBaseBlock(std::string_view bytes) {
    if (bytes.size() < BaseBlockSize || bytes.substr(0, 4) != "regf") return std::nullopt;
    BaseBlock b;
    b.sequence1 = le32(bytes, 4);
    b.sequence2 = le32(bytes, 8);
    b.minor = le32(bytes, 24);
    b.rootCell = le32(bytes, 36);
    b.binsSize = le32(bytes, 40);
    b.checksum = le32(bytes, 508);
    b.computedChecksum = baseBlockChecksum(bytes);
    return b;
}

std::uint64_t filetimeNow() {
    using namespace std::chrono;
    const auto since1970 = duration_cast<nanoseconds>(system_clock::now().time_since_epoch()).count() / 100;
    return static_cast<std::uint64_t>(since1970) + 116444736000000000ULL;
}

std::string emptyHive(std::uint64_t filetime) {
    std::string hive(BaseBlockSize + HiveBinSize, '\0');
    Writer w{hive};

    // The hive bin and its cells; cell offsets count from the start of the first bin.
    const std::size_t bin = BaseBlockSize;
    w.bytes(bin, "hbin");
    w.put32(bin + 4, 0);                  // this bin's offset
    w.put32(bin + 8, HiveBinSize);
    w.put64(bin + 20, filetime);

    const std::string rootName = "ROOT";
    const std::size_t nkCell = 0x20;
    const std::size_t nkSize = roundUp8(4 + 0x4C + rootName.size());
    const std::string security = rootSecurity();
    const std::size_t skCell = nkCell + nkSize;
    const std::size_t skSize = roundUp8(4 + 0x14 + security.size());
    const std::size_t freeCell = skCell + skSize;

    // The root key: a compressed (single-byte) name, no subkeys, no values, no class.
    std::size_t at = bin + nkCell;
    w.put32(at, static_cast<std::uint32_t>(-static_cast<std::int32_t>(nkSize)));
    at += 4;
    w.bytes(at, "nk");
    w.put16(at + 0x02, 0x2C);             // hive entry, cannot be deleted, compressed name
    w.put64(at + 0x04, filetime);
    w.put32(at + 0x10, 0xFFFFFFFF);       // no parent
    w.put32(at + 0x1C, 0xFFFFFFFF);       // no subkey list
    w.put32(at + 0x20, 0xFFFFFFFF);       // no volatile subkey list
    w.put32(at + 0x28, 0xFFFFFFFF);       // no value list
    w.put32(at + 0x2C, static_cast<std::uint32_t>(skCell));
    w.put32(at + 0x30, 0xFFFFFFFF);       // no class name
    w.put16(at + 0x48, static_cast<std::uint16_t>(rootName.size()));
    w.bytes(at + 0x4C, rootName);

    // Its security descriptor, alone in the list of descriptors.
    at = bin + skCell;
    w.put32(at, static_cast<std::uint32_t>(-static_cast<std::int32_t>(skSize)));
    at += 4;
    w.bytes(at, "sk");
    w.put32(at + 0x04, static_cast<std::uint32_t>(skCell));
    w.put32(at + 0x08, static_cast<std::uint32_t>(skCell));
    w.put32(at + 0x0C, 1);                // one key refers to it
    w.put32(at + 0x10, static_cast<std::uint32_t>(security.size()));
    w.bytes(at + 0x14, security);

    // The rest of the bin is one free cell.
    w.put32(bin + freeCell, static_cast<std::uint32_t>(HiveBinSize - freeCell));

    // The base block.
    w.bytes(0, "regf");
    w.put32(4, 1);
    w.put32(8, 1);
    w.put64(12, filetime);
    w.put32(20, 1);                       // format 1.3
    w.put32(24, 3);
    w.put32(28, 0);                       // primary file
    w.put32(32, 1);                       // direct memory load
    w.put32(36, static_cast<std::uint32_t>(nkCell));
    w.put32(40, HiveBinSize);
    w.put32(44, 1);                       // clustering factor
    w.put32(508, baseBlockChecksum(hive));
    return hive;
}

} // namespace platform::hive
