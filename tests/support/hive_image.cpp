#include "hive_image.h"

#include <algorithm>
#include <cctype>

#include "platform/bytes.h"

namespace testsupport {

namespace hive = platform::hive;

std::uint32_t HiveImage::u32(std::size_t at) const { return platform::le32(bytes_, at); }
std::uint16_t HiveImage::u16(std::size_t at) const { return platform::le16(bytes_, at); }

HiveImage& HiveImage::put32(std::size_t at, std::uint32_t value) {
    platform::put32(bytes_, at, value);
    return *this;
}

HiveImage& HiveImage::put16(std::size_t at, std::uint16_t value) {
    platform::put16(bytes_, at, value);
    return *this;
}

HiveImage& HiveImage::put(std::size_t at, std::string_view bytes) {
    bytes_.replace(at, bytes.size(), bytes);
    return *this;
}

HiveImage& HiveImage::base(std::size_t field, std::uint32_t value) { return put32(field, value).seal(); }

HiveImage& HiveImage::seal() { return put32(hive::regf::Checksum, hive::baseBlockChecksum(bytes_)); }

HiveImage::Cell HiveImage::cell(std::size_t at) { return Cell(*this, at); }
HiveImage::Cell HiveImage::cellAt(std::uint32_t offset) { return Cell(*this, fileOffset(offset)); }

std::vector<std::size_t> HiveImage::bins() const {
    std::vector<std::size_t> bins;
    const std::uint32_t end = base(hive::regf::BinsSize);
    for (std::uint32_t at = 0; at < end && fileOffset(at) + hive::BinHeaderSize <= bytes_.size();) {
        bins.push_back(fileOffset(at));
        const std::uint32_t size = u32(fileOffset(at) + hive::hbin::Size);
        if (size == 0) break;
        at += size;
    }
    return bins;
}

std::vector<std::size_t> HiveImage::cells(std::size_t bin) const {
    std::vector<std::size_t> cells;
    const std::size_t end = std::min<std::size_t>(bin + u32(bin + hive::hbin::Size), bytes_.size());
    for (std::size_t at = bin + hive::BinHeaderSize; at + hive::cell::Payload <= end;) {
        cells.push_back(at);
        const std::uint32_t size = u32(at + hive::cell::Size);
        if (size == 0) break;
        at += static_cast<std::int32_t>(size) < 0 ? 0u - size : size;
    }
    return cells;
}

std::vector<std::uint32_t> HiveImage::addBin(const std::vector<std::string>& payloads) {
    const std::uint32_t at = base(hive::regf::BinsSize);
    const std::string bin = newBin(at, payloads);
    bytes_.resize(fileOffset(at));
    bytes_ += bin;
    base(hive::regf::BinsSize, at + static_cast<std::uint32_t>(bin.size()));
    std::vector<std::uint32_t> offsets;
    for (std::uint32_t cell = at + hive::BinHeaderSize; offsets.size() < payloads.size();) {
        offsets.push_back(cell);
        cell += 0u - u32(fileOffset(cell) + hive::cell::Size);
    }
    return offsets;
}

std::int32_t HiveImage::Cell::size() const {
    return static_cast<std::int32_t>(image_->u32(at_ + hive::cell::Size));
}

HiveImage::Cell& HiveImage::Cell::size(std::int32_t size) {
    image_->put32(at_ + hive::cell::Size, static_cast<std::uint32_t>(size));
    return *this;
}

HiveImage::Cell& HiveImage::Cell::field(std::size_t field, std::uint32_t value) {
    image_->put32(payload() + field, value);
    return *this;
}

HiveImage::Cell& HiveImage::Cell::field16(std::size_t field, std::uint16_t value) {
    image_->put16(payload() + field, value);
    return *this;
}

HiveImage::Cell& HiveImage::Cell::put(std::size_t field, std::string_view bytes) {
    image_->put(payload() + field, bytes);
    return *this;
}

std::string binHeader(std::uint32_t offset, std::uint32_t size) {
    std::string header(hive::BinHeaderSize, '\0');
    header.replace(hive::hbin::Signature, 4, "hbin");
    platform::put32(header, hive::hbin::Offset, offset);
    platform::put32(header, hive::hbin::Size, size);
    return header;
}

std::string newBin(std::uint32_t offset, const std::vector<std::string>& payloads) {
    std::string cells;
    for (const std::string& payload : payloads) {
        const std::size_t size = (hive::cell::Payload + payload.size() + hive::CellAlignment - 1) /
                                 hive::CellAlignment * hive::CellAlignment;
        std::string cell(size, '\0');
        platform::put32(cell, hive::cell::Size, 0u - static_cast<std::uint32_t>(size));
        cell.replace(hive::cell::Payload, payload.size(), payload);
        cells += cell;
    }
    const std::size_t used = hive::BinHeaderSize + cells.size();
    const std::size_t size = (used + hive::HiveBinSize - 1) / hive::HiveBinSize * hive::HiveBinSize;
    if (size > used) {
        std::string free(size - used, '\0');
        platform::put32(free, hive::cell::Size, static_cast<std::uint32_t>(free.size()));
        cells += free;
    }
    return binHeader(offset, static_cast<std::uint32_t>(size)) + cells;
}

std::string subkeyList(std::string_view signature, const std::vector<ListEntry>& entries) {
    std::string list(hive::list::Entries, '\0');
    list.replace(hive::list::Signature, 2, signature);
    platform::put16(list, hive::list::Count, static_cast<std::uint16_t>(entries.size()));
    for (const ListEntry& entry : entries) {
        list += platform::bytes32(entry.cell);
        if (signature == "lf") list += (entry.name + std::string(4, '\0')).substr(0, 4);
        if (signature == "lh") {
            std::uint32_t hash = 0;
            for (char c : entry.name) hash = hash * 37 + static_cast<unsigned char>(std::toupper(static_cast<unsigned char>(c)));
            list += platform::bytes32(hash);
        }
    }
    return list;
}

void leaveWriteUnfinished(std::string& bytes) {
    HiveImage image(std::move(bytes));
    image.base(hive::regf::Sequence2, image.base(hive::regf::Sequence1) - 1);
    bytes = std::move(image.bytes());
}

} // namespace testsupport
