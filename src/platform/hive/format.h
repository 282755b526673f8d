// The on-disk form of a registry hive: every record this layer reads or writes, each field by
// name at its offset, and the base block at the start of the file.
//
// A hive file is a base block of 4096 bytes, then hive bins. Each bin is a whole number of
// pages, begins with a header and is tiled by cells. A cell begins with its size as a signed
// 32-bit number (negative while the cell is allocated, positive while it is free, always a
// multiple of 8, the field included); its payload follows. Cells refer to one another by
// offsets counted from the start of the first bin. All numbers are little-endian.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace platform::hive {

inline constexpr std::size_t BaseBlockSize = 4096;
inline constexpr std::size_t HiveBinSize = 4096; // a page: bins are whole pages, and begin on one
inline constexpr std::size_t CellAlignment = 8;
// Where a hive's bins must end at the latest: a cell offset with its top bit set names volatile
// storage (memory only) to Windows, so no cell of a file may lie at or beyond it.
inline constexpr std::uint32_t BinsLimit = 0x80000000;
// "No cell" in an offset field.
inline constexpr std::uint32_t NoCell = 0xFFFFFFFF;
// The most data one segment of a big-data value holds.
inline constexpr std::uint32_t BigDataSegment = 16344;

// The base block ("regf"): offsets from the start of the file. A write raises Sequence1
// before it begins and Sequence2 when it is complete; the checksum covers the bytes before it.
namespace regf {
inline constexpr std::size_t
    Signature = 0x000, Sequence1 = 0x004, Sequence2 = 0x008, Written = 0x00C,
    Major = 0x014, Minor = 0x018, FileType = 0x01C, FileFormat = 0x020,
    RootCell = 0x024, BinsSize = 0x028, Clustering = 0x02C, Checksum = 0x1FC,
    HeaderSize = 0x200; // what a commit rewrites
} // namespace regf

// A hive bin's header ("hbin"): offsets from the bin's start. Offset is the bin's own offset.
namespace hbin {
inline constexpr std::size_t Signature = 0x00, Offset = 0x04, Size = 0x08, Written = 0x14, HeaderSize = 0x20;
} // namespace hbin
inline constexpr std::size_t BinHeaderSize = hbin::HeaderSize;

// A cell: its size field, then its payload. Offsets from the cell's start.
namespace cell {
inline constexpr std::size_t Size = 0x00, Payload = 0x04;
} // namespace cell

// The records below are payloads of cells: offsets from the payload's start, the two-letter
// signature first.

// A key ("nk"): its fixed fields, then its name (Latin-1 when CompressedName, else UTF-16LE).
namespace nk {
inline constexpr std::size_t
    Signature = 0x00, Flags = 0x02, Written = 0x04, Access = 0x0C, Parent = 0x10,
    SubkeyCount = 0x14, VolatileSubkeyCount = 0x18, SubkeyList = 0x1C, VolatileSubkeyList = 0x20,
    ValueCount = 0x24, ValueList = 0x28, Security = 0x2C, ClassName = 0x30,
    MaxSubkeyName = 0x34, MaxSubkeyClass = 0x38, MaxValueName = 0x3C, MaxValueData = 0x40,
    WorkVar = 0x44, NameLength = 0x48, ClassLength = 0x4A, Name = 0x4C;
// Flags: the hive's root, a key that cannot be deleted, a name of one byte a character.
inline constexpr std::uint16_t HiveEntry = 0x0004, NoDelete = 0x0008, CompressedName = 0x0020;
} // namespace nk

// A value ("vk"): its fixed fields, then its name. Data of up to four bytes lives in the
// DataOffset field itself, which the top bit of DataSize says.
namespace vk {
inline constexpr std::size_t
    Signature = 0x00, NameLength = 0x02, DataSize = 0x04, DataOffset = 0x08, Type = 0x0C, Flags = 0x10,
    Name = 0x14;
inline constexpr std::uint16_t CompressedName = 0x0001;
inline constexpr std::uint32_t InlineData = 0x80000000;
inline constexpr std::uint32_t InlineCapacity = 4;
} // namespace vk

// A security descriptor ("sk"), in a ring of all the hive's descriptors.
namespace sk {
inline constexpr std::size_t
    Signature = 0x00, Previous = 0x04, Next = 0x08, References = 0x0C, DescriptorSize = 0x10, Descriptor = 0x14;
} // namespace sk

// A list of subkeys: "lf" and "lh" entries are a key's offset and a hash of its name (8 bytes),
// "li" entries a key's offset, "ri" entries the offset of a list of one of the other kinds. A
// key's value list has no header: one offset a value.
namespace list {
inline constexpr std::size_t Signature = 0x00, Count = 0x02, Entries = 0x04;
inline constexpr std::size_t HashedEntry = 8, PlainEntry = 4;
} // namespace list

// Big data ("db", format 1.4 and later): a value's data in segments of BigDataSegment bytes,
// each a cell, named by a list of their offsets.
namespace db {
inline constexpr std::size_t Signature = 0x00, SegmentCount = 0x02, SegmentList = 0x04, Size = 0x08;
} // namespace db

// A base block's file type: a primary file, or the copy of the base block at the start of a
// transaction log of the old format or of the new.
namespace filetype {
inline constexpr std::uint32_t Primary = 0, OldLog = 1, NewLog = 6;
} // namespace filetype

// A hive's transaction logs (NAME.LOG1, NAME.LOG2; NAME.LOG before Vista) are written in sectors
// of 512 bytes: the first holds a copy of the base block's first bytes (as many sectors as its
// clustering factor says), what the log holds begins with the next.
inline constexpr std::size_t LogSector = 512;
inline constexpr std::uint32_t LargestClustering = 8;

// An entry of a new-format log ("HvLE"), at a 512-byte boundary, its size a multiple of 512:
// offsets from its start. After the header, a reference for each run of pages (the run's
// offset in the bins and its size, four bytes each, both multiples of LogPage), the pages in
// that order, then what pads the entry. Hash1 is the Marvin32 sum (marvin32.h) of everything
// after the header, Hash2 that of the header's first 32 bytes (Hash1 among them); Sequence is
// the sequence number of the write, BinsSize the size of the bins after it.
namespace hvle {
inline constexpr std::size_t Signature = 0x00, Size = 0x04, Flags = 0x08, Sequence = 0x0C, BinsSize = 0x10,
                             PageCount = 0x14, Hash1 = 0x18, Hash2 = 0x20, References = 0x28, Reference = 8;
} // namespace hvle
inline constexpr std::size_t LogPage = 4096;

// The dirty vector of an old-format log ("DIRT"), at the start of its second sector: a bitmap
// of the 512-byte pages of the bins (DirtyPage), the lowest bit of each byte first; the pages
// whose bits are set follow in their order from the next sector on.
namespace dirt {
inline constexpr std::size_t Signature = 0x00, Bitmap = 0x04;
} // namespace dirt
inline constexpr std::size_t DirtyPage = 512;

// A hive bin: its offset from the start of the first bin, and its size.
struct Bin {
    std::uint32_t offset = 0;
    std::uint32_t size = 0;
};

// The bins of a hive as the chain of their headers gives them, never as bytes look. A sound
// header ("hbin", its own offset, a size of whole pages that stays inside the bins and below
// the limit) leads to the next bin by its size, so no page inside a bin is ever taken for a
// header, whatever a value stored there holds. Past a damaged header the chain goes on at the
// next page that begins with a header naming its own offset. Followed lazily, only as far as it
// is asked about: loading never follows it, and a commit only as far as the bins it touches.
class BinChain {
public:
    BinChain() = default;
    // `bins`: the hive's bins, the first at offset 0, which must outlive this.
    explicit BinChain(std::string_view bins, std::uint32_t limit = BinsLimit) : bins_(bins), limit_(limit) {}

    // The bin at `index` in the order of the file (the chain followed that far); nothing past
    // the last.
    std::optional<Bin> at(std::size_t index) const;
    // The bin that holds `offset` (the chain followed that far); nothing where no bin does.
    std::optional<Bin> holding(std::uint32_t offset) const;
    // Whether a damaged header claims pages beyond the end of the bins (the whole chain followed).
    bool endClaimed() const;

private:
    // Follows the chain to the next bin; false at the end.
    bool extend() const;

    std::string_view bins_;
    std::uint32_t limit_ = BinsLimit;
    mutable std::uint32_t next_ = 0; // where following the chain goes on
    mutable bool endClaimed_ = false;
    mutable std::vector<Bin> chain_;
};

// The fields of a base block that decide whether a hive may be opened or written.
struct BaseBlock {
    std::uint32_t sequence1 = 0; // raised before a write begins
    std::uint32_t sequence2 = 0; // raised when the write is complete
    std::uint32_t minor = 0;     // the format's minor version: 1.4 and later split big data
    std::uint32_t rootCell = 0;  // the root key's cell
    std::uint32_t binsSize = 0;  // the bytes of hive bins that follow the base block
    std::uint32_t checksum = 0;
    std::uint32_t computedChecksum = 0;
    // A hive whose last write did not finish: its changes wait in its logs (log.h).
    bool dirty() const { return sequence1 != sequence2; }
    bool checksumValid() const { return checksum == computedChecksum; }
    // Whether a file of `fileSize` bytes holds all the bins the base block announces.
    bool wholeIn(std::uint64_t fileSize) const {
        return binsSize != 0 && binsSize % HiveBinSize == 0 && BaseBlockSize + std::uint64_t{binsSize} <= fileSize;
    }
};

// The base block of a file's first bytes; nothing when they are not one ("regf" and 4096 bytes).
std::optional<BaseBlock> readBaseBlock(std::string_view bytes);

// The checksum of a base block: the XOR of the double words before its Checksum field, with
// 0 and 0xFFFFFFFF replaced as the registry does.
std::uint32_t baseBlockChecksum(std::string_view block);

// A hive with nothing but its root key (and the root's security descriptor): one base block
// and one 4096-byte hive bin. `filetime` stamps the hive and the key (100 ns since 1601).
std::string emptyHive(std::uint64_t filetime);

// A value of a new hive: its name (Latin-1), its type and its data as stored.
struct NewValue {
    std::string_view name;
    std::uint32_t type = 0;
    std::string_view data;
};

// A new hive whose root holds the keys of `path` (Latin-1 names), each the only subkey of the
// one before it, the last with `values` in their order; every key shares the root's security
// descriptor. One base block and one hive bin of as many pages as its cells need, the rest of
// the bin free.
std::string hiveWithKey(std::uint64_t filetime, std::span<const std::string_view> path,
                        std::span<const NewValue> values);

// Now as a Windows FILETIME.
std::uint64_t filetimeNow();

} // namespace platform::hive
