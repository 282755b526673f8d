#include "platform/hive_format.h"

#include <chrono>
#include <cstring>

#include "platform/bytes.h"

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

// A cell of `size` bytes at `at`, allocated, whose payload begins with `signature`.
void allocate(std::string& hive, std::size_t at, std::size_t size, std::string_view signature) {
    put32(hive, at + cell::Size, static_cast<std::uint32_t>(-static_cast<std::int32_t>(size)));
    hive.replace(at + cell::Payload, signature.size(), signature);
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

std::string emptyHive(std::uint64_t filetime) {
    std::string hive(BaseBlockSize + HiveBinSize, '\0');

    // The hive bin and its cells; cell offsets count from the start of the first bin.
    const std::size_t bin = BaseBlockSize;
    hive.replace(bin + hbin::Signature, 4, "hbin");
    put32(hive, bin + hbin::Offset, 0);
    put32(hive, bin + hbin::Size, HiveBinSize);
    put64(hive, bin + hbin::Written, filetime);

    const std::string rootName = "ROOT";
    const std::size_t nkCell = BinHeaderSize;
    const std::size_t nkSize = roundUp8(cell::Payload + nk::Name + rootName.size());
    const std::string security = rootSecurity();
    const std::size_t skCell = nkCell + nkSize;
    const std::size_t skSize = roundUp8(cell::Payload + sk::Descriptor + security.size());
    const std::size_t freeCell = skCell + skSize;

    // The root key: a compressed name, no subkeys, no values, no class.
    allocate(hive, bin + nkCell, nkSize, "nk");
    std::size_t at = bin + nkCell + cell::Payload;
    put16(hive, at + nk::Flags, nk::HiveEntry | nk::NoDelete | nk::CompressedName);
    put64(hive, at + nk::Written, filetime);
    put32(hive, at + nk::Parent, NoCell);
    put32(hive, at + nk::SubkeyList, NoCell);
    put32(hive, at + nk::VolatileSubkeyList, NoCell);
    put32(hive, at + nk::ValueList, NoCell);
    put32(hive, at + nk::Security, static_cast<std::uint32_t>(skCell));
    put32(hive, at + nk::ClassName, NoCell);
    put16(hive, at + nk::NameLength, static_cast<std::uint16_t>(rootName.size()));
    hive.replace(at + nk::Name, rootName.size(), rootName);

    // Its security descriptor, alone in the ring of descriptors.
    allocate(hive, bin + skCell, skSize, "sk");
    at = bin + skCell + cell::Payload;
    put32(hive, at + sk::Previous, static_cast<std::uint32_t>(skCell));
    put32(hive, at + sk::Next, static_cast<std::uint32_t>(skCell));
    put32(hive, at + sk::References, 1);
    put32(hive, at + sk::DescriptorSize, static_cast<std::uint32_t>(security.size()));
    hive.replace(at + sk::Descriptor, security.size(), security);

    // The rest of the bin is one free cell.
    put32(hive, bin + freeCell + cell::Size, static_cast<std::uint32_t>(HiveBinSize - freeCell));

    // The base block: format 1.3, a primary file in direct memory-load form.
    hive.replace(regf::Signature, 4, "regf");
    put32(hive, regf::Sequence1, 1);
    put32(hive, regf::Sequence2, 1);
    put64(hive, regf::Written, filetime);
    put32(hive, regf::Major, 1);
    put32(hive, regf::Minor, 3);
    put32(hive, regf::FileType, 0);
    put32(hive, regf::FileFormat, 1);
    put32(hive, regf::RootCell, static_cast<std::uint32_t>(nkCell));
    put32(hive, regf::BinsSize, HiveBinSize);
    put32(hive, regf::Clustering, 1);
    put32(hive, regf::Checksum, baseBlockChecksum(hive));
    return hive;
}

} // namespace platform::hive
