// Reading a hive file in place: the file is mapped read-only and only the cells on the way
// to what is asked for are looked at, so the cost of an open does not grow with the hive.
// Every offset and length read from the file is checked against the mapped hive bins before
// it is followed: a damaged file gives a registry-corrupt code, never a read past the map.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/bytes.h"
#include "platform/hive/format.h"
#include "platform/registry.h"

namespace platform::hive {

// A name as a cell stores it: Latin-1 bytes when compressed, else UTF-16LE.
struct StoredName {
    std::string bytes;
    bool compressed = true;
    std::u16string text() const;
    // The registry's own choice for a new name: compressed when every character fits a byte.
    static StoredName of(std::u16string_view name);
};

// What a value cell says, apart from its data.
struct ValueHead {
    StoredName name;
    std::uint32_t type = 0;
    std::uint32_t size = 0; // of the data, without the inline flag
};

// A hive's bytes made in memory for the reader to take over: a read-only mapping of the base
// block and the bins that munmap releases (log.h makes them).
struct HiveMapping {
    const unsigned char* at = nullptr;
    std::size_t size = 0;
};

class MappedHive {
public:
    MappedHive() = default;
    MappedHive(MappedHive&& other) noexcept { *this = std::move(other); }
    MappedHive& operator=(MappedHive&& other) noexcept;
    MappedHive(const MappedHive&) = delete;
    MappedHive& operator=(const MappedHive&) = delete;
    ~MappedHive();

    // Maps the hive in the file behind `fd`, `fileSize` bytes long, or takes over `made`, the
    // hive made in memory from that file (released on a failure too). BadDatabase (1009) when
    // the base block, the first bin or the root key is not sound; an errno's code when the
    // file cannot be read or mapped.
    Status map(int fd, std::uint64_t fileSize, HiveMapping made = {});

    const BaseBlock& base() const { return base_; }
    // The base block's first bytes (those the checksum covers and a commit rewrites).
    std::string_view baseBytes() const { return {reinterpret_cast<const char*>(map_), regf::HeaderSize}; }
    std::uint32_t root() const { return root_; }
    std::uint32_t binsSize() const { return base_.binsSize; }
    // The hive bins, the first at offset 0.
    std::string_view bins() const { return {reinterpret_cast<const char*>(bins_), base_.binsSize}; }

    // The key named `name` (in any case) right below the key `key`: FileNotFound when absent.
    Status subkey(std::uint32_t key, std::u16string_view name, std::uint32_t& out) const;
    // The value cells of a key in their order, and the cell of the list (NoCell when none).
    Status valueList(std::uint32_t key, std::vector<std::uint32_t>& out, std::uint32_t& listCell) const;
    // The value of `key` named `name`: FileNotFound when absent.
    Status findValue(std::uint32_t key, std::u16string_view name, std::uint32_t& out) const;
    Status valueHead(std::uint32_t value, ValueHead& out) const;
    Status valueData(std::uint32_t value, std::string& out) const;
    // The cells that hold a value's data: its data cell, or a big-data cell followed by its
    // segment list and segments; none for inline or empty data.
    Status dataCells(std::uint32_t value, std::vector<std::uint32_t>& out) const;
    // A key cell's payload, for copying its fixed fields.
    Status keyCell(std::uint32_t key, std::string_view& payload) const;
    // The payload of the allocated cell that begins at `offset`, found by walking the cells of
    // its bin (found by the chain of bin headers) from the bin's header; false when no cell
    // begins there. Offsets read from a damaged file may lead into the middle of a cell, which
    // only this walk can tell.
    bool cellStartingAt(std::uint32_t offset, std::string_view& payload) const;
    // The payload of the allocated cell at `offset`, as long as its size field says, without
    // the walk: RegistryCorrupt when that leaves the bins or the cell is free.
    Status cell(std::uint32_t offset, std::string_view& payload) const;

private:
    Status dataLayout(std::uint32_t value, std::vector<std::string_view>& pieces,
                      std::vector<std::uint32_t>& cells) const;
    Status forEachSubkey(std::uint32_t list, std::u16string_view name, std::uint32_t& out) const;
    Status matchIn(std::string_view list, std::size_t stride, std::u16string_view name, std::uint32_t& out) const;
    void unmap();

    const unsigned char* map_ = nullptr;
    std::size_t mapSize_ = 0;
    const unsigned char* bins_ = nullptr;
    BaseBlock base_{};
    std::uint32_t root_ = NoCell;
    mutable std::optional<BinChain> chain_; // found on first use: loading never walks the bins
};

} // namespace platform::hive
