// A hive file's bytes in memory, for tests that damage a hive or build parts of one by hand:
// numbers put and read by the field names of format.h, cells followed through the offsets that
// name them, bins added at the end, and the base block's checksum made to match.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/hive/format.h"

namespace testsupport {

// The records of format.h by their own names (regf::Checksum, nk::ValueList, ...), for a test
// to take in with `using namespace testsupport::fields`.
namespace fields {
namespace regf = platform::hive::regf;
namespace hbin = platform::hive::hbin;
namespace cell = platform::hive::cell;
namespace nk = platform::hive::nk;
namespace vk = platform::hive::vk;
namespace sk = platform::hive::sk;
namespace list = platform::hive::list;
namespace db = platform::hive::db;
} // namespace fields

// The file offset of the cell at `cell` (counted from the start of the bins), and back.
inline std::size_t fileOffset(std::uint32_t cell) { return platform::hive::BaseBlockSize + cell; }
inline std::uint32_t cellOffset(std::size_t fileOffset) {
    return static_cast<std::uint32_t>(fileOffset - platform::hive::BaseBlockSize);
}

class HiveImage {
public:
    class Cell;

    explicit HiveImage(std::string bytes = {}) : bytes_(std::move(bytes)) {}

    std::string& bytes() { return bytes_; }
    const std::string& bytes() const { return bytes_; }

    // Little-endian numbers and raw bytes at a file offset, within the image.
    std::uint32_t u32(std::size_t at) const;
    std::uint16_t u16(std::size_t at) const;
    std::string get(std::size_t at, std::size_t count) const { return bytes_.substr(at, count); }
    HiveImage& put32(std::size_t at, std::uint32_t value);
    HiveImage& put16(std::size_t at, std::uint16_t value);
    HiveImage& put(std::size_t at, std::string_view bytes);

    // A field of the base block (regf::...); setting one makes the checksum match.
    std::uint32_t base(std::size_t field) const { return u32(field); }
    HiveImage& base(std::size_t field, std::uint32_t value);
    // Makes the base block's checksum match its bytes.
    HiveImage& seal();

    // The cell whose size field is at the file offset `at` (libhivex's handles are such offsets).
    Cell cell(std::size_t at);
    // The cell at `offset` from the start of the bins.
    Cell cellAt(std::uint32_t offset);

    // The file offsets of the bins, in file order, as far as their sizes lead within BinsSize;
    // of the cells of the bin at `bin`, as far as their sizes lead within it.
    std::vector<std::size_t> bins() const;
    std::vector<std::size_t> cells(std::size_t bin) const;
    // Adds a bin after the last (newBin), the base block counting it; the offsets of its cells.
    std::vector<std::uint32_t> addBin(const std::vector<std::string>& payloads);

private:
    std::string bytes_;
};

// A cell of an image: its size field, then its payload, whose fields are those of nk::, vk::,
// sk::, list:: and db::.
class HiveImage::Cell {
public:
    Cell(HiveImage& image, std::size_t at) : image_(&image), at_(at) {}

    std::size_t at() const { return at_; }  // in the file
    std::size_t payload() const { return at_ + platform::hive::cell::Payload; }

    // The size field: negative while the cell is in use.
    std::int32_t size() const;
    Cell& size(std::int32_t size);
    // Gives the cell up as the file keeps it: its size field turned positive.
    Cell& freed() { return size(-size()); }

    // A field of the payload.
    std::uint32_t field(std::size_t field) const { return image_->u32(payload() + field); }
    Cell& field(std::size_t field, std::uint32_t value);
    std::uint16_t field16(std::size_t field) const { return image_->u16(payload() + field); }
    Cell& field16(std::size_t field, std::uint16_t value);
    std::string get(std::size_t field, std::size_t count) const { return image_->get(payload() + field, count); }
    Cell& put(std::size_t field, std::string_view bytes);

    // The cell that a field names (an offset from the start of the bins).
    Cell ref(std::size_t field) const { return image_->cellAt(this->field(field)); }

private:
    HiveImage* image_;
    std::size_t at_;
};

// A hive bin at `offset` (from the start of the bins) of whole pages: cells in use with these
// payloads, each as small as holds it, then one free cell to the bin's end.
std::string newBin(std::uint32_t offset, const std::vector<std::string>& payloads);
// The header of a bin at `offset` of `size` bytes.
std::string binHeader(std::uint32_t offset, std::uint32_t size);

// A subkey list's entry: the key's cell and, for "lf" and "lh" lists, its name.
struct ListEntry {
    std::uint32_t cell;
    std::string name;
};
// The payload of a subkey list: "li" and "ri" entries are offsets alone, "lf" entries add the
// first four bytes of the name, "lh" entries its hash.
std::string subkeyList(std::string_view signature, const std::vector<ListEntry>& entries);

// Makes the hive in `bytes` one whose last write did not finish, as Windows leaves a hive
// whose changes wait in its log: the second sequence number behind the first, the checksum
// to match.
void leaveWriteUnfinished(std::string& bytes);

} // namespace testsupport
