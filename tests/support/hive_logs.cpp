#include "hive_logs.h"

#include <algorithm>

#include "platform/bytes.h"
#include "platform/hive/format.h"
#include "platform/hive/marvin32.h"

namespace testsupport {
namespace {

namespace hive = platform::hive;
using platform::le32;
using platform::put32;
using platform::put64;
namespace hvle = hive::hvle;

constexpr std::size_t Sector = hive::LogSector, Page = hive::LogPage, EntryHeader = hvle::References;

// The first sector of a log: the hive's base block as a complete write of `sequence`.
std::string copyOf(std::string_view base, std::uint32_t sequence, std::uint32_t type, std::uint32_t binsSize) {
    std::string copy(base.substr(0, Sector));
    copy.resize(Sector, '\0');
    put32(copy, hive::regf::Sequence1, sequence);
    put32(copy, hive::regf::Sequence2, sequence);
    put32(copy, hive::regf::FileType, type);
    put32(copy, hive::regf::BinsSize, binsSize);
    put32(copy, hive::regf::Checksum, hive::baseBlockChecksum(copy));
    return copy;
}

void seal(std::string& log, std::size_t at, std::size_t size) {
    const std::string_view entry = std::string_view(log).substr(at, size);
    put64(log, at + hvle::Hash1, hive::marvin32(entry.substr(EntryHeader), hive::LogSeed));
    put64(log, at + hvle::Hash2, hive::marvin32(std::string_view(log).substr(at, hvle::Hash2), hive::LogSeed));
}

} // namespace

LogEntry entryBetween(std::string_view before, std::string_view after, std::uint32_t sequence) {
    LogEntry entry{sequence, le32(after, hive::regf::BinsSize), {}};
    const std::string_view was = before.substr(hive::BaseBlockSize, le32(before, hive::regf::BinsSize));
    const std::string_view now = after.substr(hive::BaseBlockSize, entry.binsSize);
    for (std::size_t at = 0; at < now.size(); at += Page) {
        const std::string_view page = now.substr(at, Page);
        if (at + Page <= was.size() && was.substr(at, Page) == page) continue;
        if (!entry.pages.empty() && entry.pages.back().offset + entry.pages.back().bytes.size() == at)
            entry.pages.back().bytes += page;
        else
            entry.pages.push_back({static_cast<std::uint32_t>(at), std::string(page)});
    }
    return entry;
}

std::string entryBytes(const LogEntry& entry) {
    std::string bytes(EntryHeader, '\0');
    bytes.replace(hvle::Signature, 4, "HvLE");
    put32(bytes, hvle::Sequence, entry.sequence);
    put32(bytes, hvle::BinsSize, entry.binsSize);
    put32(bytes, hvle::PageCount, static_cast<std::uint32_t>(entry.pages.size()));
    for (const LoggedPages& p : entry.pages) {
        bytes += platform::bytes32(p.offset);
        bytes += platform::bytes32(static_cast<std::uint32_t>(p.bytes.size()));
    }
    for (const LoggedPages& p : entry.pages) bytes += p.bytes;
    bytes.resize((bytes.size() + Sector - 1) / Sector * Sector, '\0');
    put32(bytes, hvle::Size, static_cast<std::uint32_t>(bytes.size()));
    seal(bytes, 0, bytes.size());
    return bytes;
}

std::string newFormatLog(std::string_view base, std::uint32_t sequence, const std::vector<LogEntry>& entries) {
    std::string log = copyOf(base, sequence, hive::filetype::NewLog, le32(base, hive::regf::BinsSize));
    for (const LogEntry& e : entries) log += entryBytes(e);
    return log;
}

std::string oldFormatLog(std::string_view base, std::uint32_t sequence, std::uint32_t binsSize,
                         const std::vector<LoggedPages>& pages) {
    std::string log = copyOf(base, sequence, hive::filetype::OldLog, binsSize);
    std::string bitmap((binsSize / hive::DirtyPage + 7) / 8, '\0');
    std::vector<const LoggedPages*> ordered;
    for (const LoggedPages& p : pages) ordered.push_back(&p);
    std::sort(ordered.begin(), ordered.end(), [](const auto* a, const auto* b) { return a->offset < b->offset; });
    for (const LoggedPages* p : ordered)
        for (std::size_t page = p->offset / hive::DirtyPage; page < (p->offset + p->bytes.size()) / hive::DirtyPage; ++page)
            bitmap[page / 8] = static_cast<char>(bitmap[page / 8] | 1 << (page % 8));
    log += "DIRT" + bitmap;
    log.resize((log.size() + Sector - 1) / Sector * Sector, '\0');
    for (const LoggedPages* p : ordered) log += p->bytes;
    return log;
}

void sealEntries(std::string& log) {
    for (std::size_t at = Sector; log.size() >= at + EntryHeader && log.compare(at, 4, "HvLE") == 0;) {
        const std::uint32_t size = le32(log, at + hvle::Size);
        if (size < EntryHeader || size % Sector != 0 || size > log.size() - at) return;
        seal(log, at, size);
        at += size;
    }
}

void leaveDirty(std::string& hive, std::uint32_t sequence) {
    put32(hive, hive::regf::Sequence1, sequence);
    put32(hive, hive::regf::Sequence2, sequence - 1);
    put32(hive, hive::regf::Checksum, hive::baseBlockChecksum(hive));
}

} // namespace testsupport
