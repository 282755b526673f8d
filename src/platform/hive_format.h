// The on-disk form of a registry hive, as far as this layer reads or writes it itself: the
// base block at the start of the file and the smallest hive that hivex will open and grow.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace platform::hive {

inline constexpr std::size_t BaseBlockSize = 4096;
inline constexpr std::size_t HiveBinSize = 4096;
inline constexpr std::size_t BinHeaderSize = 32; // "hbin", its offset, its size, ...
// Where a hive's bins must end at the latest: a cell offset with its top bit set names volatile
// storage (memory only) to Windows, so no cell of a file may lie at or beyond it.
inline constexpr std::uint32_t BinsLimit = 0x80000000;

// The fields of a base block that decide whether a hive may be opened or written.
struct BaseBlock {
    std::uint32_t sequence1 = 0; // raised before a write begins
    std::uint32_t sequence2 = 0; // raised when the write is complete
    std::uint32_t minor = 0;     // the format's minor version: 1.4 and later split big data
    std::uint32_t rootCell = 0;  // the root key's cell
    std::uint32_t binsSize = 0;  // the bytes of hive bins that follow the base block
    std::uint32_t checksum = 0;
    std::uint32_t computedChecksum = 0;
    // A hive whose last write did not finish: its changes wait in a log that is not read here.
    bool dirty() const { return sequence1 != sequence2; }
    bool checksumValid() const { return checksum == computedChecksum; }
    // Whether a file of `fileSize` bytes holds all the bins the base block announces.
    bool wholeIn(std::uint64_t fileSize) const {
        return binsSize != 0 && binsSize % 4096 == 0 && BaseBlockSize + std::uint64_t{binsSize} <= fileSize;
    }
};

// The base block of a file's first bytes; nothing when they are not one ("regf" and 4096 bytes).
std::optional<BaseBlock> readBaseBlock(std::string_view bytes);

// The checksum of a base block: the XOR of its first 127 little-endian double words, with
// 0 and 0xFFFFFFFF replaced as the registry does.
std::uint32_t baseBlockChecksum(std::string_view block);

// A hive with nothing but its root key (and the root's security descriptor): one base block
// and one 4096-byte hive bin. `filetime` stamps the hive and the key (100 ns since 1601).
std::string emptyHive(std::uint64_t filetime);

// Now as a Windows FILETIME.
std::uint64_t filetimeNow();

} // namespace platform::hive
