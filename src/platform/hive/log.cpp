#include "platform/hive/log.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <optional>
#include <string_view>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "platform/bytes.h"
#include "platform/hive/marvin32.h"
#include "platform/hive/session.h"

namespace platform::hive {
namespace {

// What the file type field of a base block says.
constexpr std::uint32_t PrimaryFile = 0, OldLog = 1, NewLog = 6;
// Logs are written in sectors: the copy of the base block fills the first (512 bytes times the
// clustering factor it gives), what the log holds begins with the second.
constexpr std::size_t Sector = 512;
constexpr std::uint32_t LargestClustering = 8;
// The old format's bitmap counts pages of 512 bytes; the new format logs pages of 4096.
constexpr std::size_t DirtyPage = 512;
constexpr std::size_t LogPage = 4096;
// Larger logs are not read: no log of a hive whose bins end below 2 GiB needs more.
constexpr std::uint64_t LargestLog = std::uint64_t{3} << 30;

// A log entry of the new format: offsets from its start. Its page references (an offset in the
// bins and a size, each four bytes) follow the header, then the pages in the same order.
namespace hvle {
inline constexpr std::size_t Signature = 0x00, Size = 0x04, Flags = 0x08, Sequence = 0x0C, BinsSize = 0x10,
                             PageCount = 0x14, Hash1 = 0x18, Hash2 = 0x20, References = 0x28, Reference = 8;
} // namespace hvle
// The dirty vector of the old format, at the start of the log's second sector.
namespace dirt {
inline constexpr std::size_t Signature = 0x00, Bitmap = 0x04;
} // namespace dirt

std::uint64_t le64(std::string_view b, std::size_t at) {
    return static_cast<std::uint64_t>(le32(b, at)) | static_cast<std::uint64_t>(le32(b, at + 4)) << 32;
}

std::size_t roundUp(std::size_t n, std::size_t to) { return (n + to - 1) / to * to; }

bool sameLetters(std::string_view a, std::string_view b) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) { return lower(x) == lower(y); });
}

Status readAt(int fd, char* into, std::size_t count, std::uint64_t at, std::size_t& got) {
    got = 0;
    while (got < count) {
        const ssize_t n = pread(fd, into + got, count - got, static_cast<off_t>(at + got));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return statusOfErrno(errno);
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
    }
    return status::Success;
}

// The logs beside a hive, by their place in the order they are used: NAME.LOG1, NAME.LOG2, NAME.LOG.
enum LogName { Log1, Log2, Log, LogNames };
struct Logs {
    std::array<std::optional<std::string>, LogNames> bytes; // those that could be read whole
    bool any = false;                                       // whether any of the names is there
};

// Finds the logs in the hive's folder, each name in any case (the name in the hive's own case
// first), and reads them, never through a link.
Logs readLogs(int folder, const std::string& name) {
    static constexpr std::string_view Suffixes[LogNames] = {".LOG1", ".LOG2", ".LOG"};
    Logs logs;
    std::array<std::string, LogNames> found;
    Fd listing(::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    DIR* dir = listing ? fdopendir(listing.get()) : nullptr;
    if (!dir) return logs;
    listing.release();
    while (const dirent* entry = readdir(dir)) {
        const std::string_view seen = entry->d_name;
        for (int i = 0; i < LogNames; ++i) {
            const std::string wanted = name + std::string(Suffixes[i]);
            if (sameLetters(seen, wanted) && (found[i].empty() || seen == wanted)) found[i] = seen;
        }
    }
    closedir(dir);
    for (int i = 0; i < LogNames; ++i) {
        if (found[i].empty()) continue;
        logs.any = true;
        Fd fd(::openat(folder, found[i].c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW));
        struct stat st {};
        if (!fd || fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || static_cast<std::uint64_t>(st.st_size) > LargestLog)
            continue;
        std::string bytes(static_cast<std::size_t>(st.st_size), '\0');
        std::size_t got = 0;
        if (readAt(fd.get(), bytes.data(), bytes.size(), 0, got) != status::Success) continue;
        bytes.resize(got);
        logs.bytes[i] = std::move(bytes);
    }
    return logs;
}

// What the hive file says of itself: its base block when it is sound, and the timestamps by
// which its logs know it (a log belongs to the write whose timestamp its copy holds).
struct Primary {
    std::string block;             // the first 4096 bytes
    std::optional<BaseBlock> base; // "regf" and its checksum right
    std::vector<std::uint64_t> written;
    bool dirty() const { return !base || base->dirty(); }
};

Status readPrimary(int fd, Primary& out) {
    std::string first(BaseBlockSize + BinHeaderSize, '\0');
    std::size_t got = 0;
    if (const Status s = readAt(fd, first.data(), first.size(), 0, got)) return s;
    if (got < BaseBlockSize) return status::BadDatabase;
    first.resize(got);
    out.block = first.substr(0, BaseBlockSize);
    out.base = readBaseBlock(out.block);
    if (out.base && !out.base->checksumValid()) out.base.reset();
    // A broken base block may still hold its timestamp; the first bin keeps a copy of it.
    if (out.base || out.block.starts_with("regf")) out.written.push_back(le64(out.block, regf::Written));
    const std::string_view bin = std::string_view(first).substr(BaseBlockSize);
    if (!out.base && bin.size() == BinHeaderSize && bin.starts_with("hbin")) out.written.push_back(le64(bin, hbin::Written));
    return status::Success;
}

// The log's copy of the base block, when it is a complete one of the format `type` and of the
// hive's own write; and the offset where what the log holds begins.
struct Copy {
    BaseBlock base;
    std::string_view header; // the first 512 bytes
    std::size_t body = 0;
};
std::optional<Copy> copyIn(std::string_view log, std::uint32_t type, const Primary& primary) {
    if (log.size() < Sector) return std::nullopt;
    std::string block(log.substr(0, Sector));
    block.resize(BaseBlockSize, '\0');
    const auto base = readBaseBlock(block);
    if (!base || !base->checksumValid() || base->sequence1 != base->sequence2 || le32(block, regf::FileType) != type)
        return std::nullopt;
    const std::uint32_t clustering = le32(block, regf::Clustering);
    if (clustering == 0 || clustering > LargestClustering) return std::nullopt;
    const std::uint64_t written = le64(block, regf::Written);
    if (std::find(primary.written.begin(), primary.written.end(), written) == primary.written.end()) return std::nullopt;
    return Copy{*base, log.substr(0, regf::HeaderSize), Sector * clustering};
}

bool binsSizeSound(std::uint64_t size) { return size != 0 && size % HiveBinSize == 0 && size <= BinsLimit; }

// A replay worked out before anything is mapped: the base block and the bytes the logs put over
// the file, in their order (a later write over an earlier one), taken from the logs' bytes.
struct Plan {
    struct Write {
        std::uint32_t offset; // in the bins
        std::string_view bytes;
    };
    std::string base; // the base block's first 512 bytes
    std::uint32_t binsSize = 0;
    std::vector<Write> writes;
    std::uint32_t entries = 0;
    bool checkBins = false; // the old format: each bin that a page falls in must be sound

    // The base block of a complete write, `sequence` both its sequence numbers.
    void complete(std::uint32_t sequence) {
        put32(base, regf::Sequence1, sequence);
        put32(base, regf::Sequence2, sequence);
        put32(base, regf::FileType, PrimaryFile);
        put32(base, regf::BinsSize, binsSize);
        put32(base, regf::Checksum, baseBlockChecksum(base));
    }
};

// The entries of the new-format logs: from .LOG1 then .LOG2, those from the file's sequence
// number on, each following the one before, up to the first that fails a check.
class NewFormat {
public:
    explicit NewFormat(const Primary& primary) : primary_(primary) {
        if (primary.base) begin(primary.block, *primary.base);
    }

    // False once the replay has ended.
    bool read(std::string_view log) {
        const auto copy = copyIn(log, NewLog, primary_);
        if (!copy) return true;
        if (plan_.base.empty()) begin(copy->header, copy->base); // the file's own base block is broken
        for (std::size_t at = copy->body; log.size() - at >= hvle::References;) {
            const std::string_view rest = log.substr(at);
            if (!rest.starts_with("HvLE")) return true; // this log's entries end here
            const std::uint32_t size = le32(rest, hvle::Size);
            if (size < hvle::References || size % Sector != 0 || size > rest.size()) return false;
            const std::string_view entry = rest.substr(0, size);
            if (le64(entry, hvle::Hash1) != marvin32(entry.substr(hvle::References), LogSeed) ||
                le64(entry, hvle::Hash2) != marvin32(entry.substr(0, hvle::Hash2), LogSeed))
                return false;
            at += size;
            const std::uint32_t sequence = le32(entry, hvle::Sequence);
            // Entries that the file or an entry before holds already.
            if (applied_ ? sequence <= last_ : sequence < from_) continue;
            // An entry missing between two: what follows it was written over what it held.
            if (applied_ && sequence != last_ + 1) return false;
            if (!apply(entry)) return false;
            last_ = sequence;
            applied_ = true;
        }
        return true;
    }

    std::optional<Plan> plan() {
        if (!applied_) return std::nullopt;
        plan_.complete(last_);
        return std::move(plan_);
    }

private:
    void begin(std::string_view block, const BaseBlock& base) {
        plan_.base = std::string(block.substr(0, regf::HeaderSize));
        plan_.binsSize = base.binsSize;
        from_ = base.sequence1;
    }

    // The entry's pages, when its references and its size of the bins agree with each other.
    bool apply(std::string_view entry) {
        const std::uint32_t bins = le32(entry, hvle::BinsSize);
        const std::uint32_t count = le32(entry, hvle::PageCount);
        if (!binsSizeSound(bins) || count > (entry.size() - hvle::References) / hvle::Reference) return false;
        std::size_t page = hvle::References + std::size_t{count} * hvle::Reference;
        const std::size_t writes = plan_.writes.size();
        for (std::uint32_t i = 0; i < count; ++i) {
            const std::size_t reference = hvle::References + std::size_t{i} * hvle::Reference;
            const std::uint32_t offset = le32(entry, reference);
            const std::uint32_t size = le32(entry, reference + 4);
            if (size == 0 || offset % LogPage != 0 || size % LogPage != 0 || offset >= bins || size > bins - offset ||
                size > entry.size() - page) {
                plan_.writes.resize(writes);
                return false;
            }
            plan_.writes.push_back({offset, entry.substr(page, size)});
            page += size;
        }
        plan_.binsSize = bins;
        ++plan_.entries;
        return true;
    }

    const Primary& primary_;
    Plan plan_;
    std::uint32_t from_ = 0;
    std::uint32_t last_ = 0;
    bool applied_ = false;
};

// An old-format log: the 512-byte pages of its bitmap, in runs of pages that follow each other.
std::optional<Plan> oldFormat(std::string_view log, const Primary& primary) {
    const auto copy = copyIn(log, OldLog, primary);
    if (!copy || !binsSizeSound(copy->base.binsSize)) return std::nullopt;
    const std::size_t pages = copy->base.binsSize / DirtyPage;
    const std::size_t bitmapSize = (pages + 7) / 8;
    if (log.size() < copy->body + dirt::Bitmap + bitmapSize || log.substr(copy->body + dirt::Signature, 4) != "DIRT")
        return std::nullopt;
    const std::string_view bitmap = log.substr(copy->body + dirt::Bitmap, bitmapSize);
    auto dirty = [&](std::size_t page) { return (static_cast<unsigned char>(bitmap[page / 8]) >> (page % 8) & 1) != 0; };
    Plan plan;
    plan.base = std::string(copy->header);
    plan.binsSize = copy->base.binsSize;
    plan.entries = 1;
    plan.checkBins = true;
    std::size_t from = roundUp(copy->body + dirt::Bitmap + bitmapSize, copy->body);
    for (std::size_t page = 0; page < pages;) {
        if (!dirty(page)) {
            ++page;
            continue;
        }
        std::size_t end = page;
        while (end < pages && dirty(end)) ++end;
        const std::size_t size = (end - page) * DirtyPage;
        if (from > log.size() || log.size() - from < size) return std::nullopt; // a log that was cut short
        plan.writes.push_back({static_cast<std::uint32_t>(page * DirtyPage), log.substr(from, size)});
        from += size;
        page = end;
    }
    plan.complete(copy->base.sequence1);
    return plan;
}

// The replays the logs offer, in the order they are tried: the entries of the new format,
// then each old-format log, the most recent first.
std::vector<Plan> plansOf(const Logs& logs, const Primary& primary) {
    std::vector<Plan> plans;
    NewFormat entries(primary);
    for (LogName name : {Log1, Log2})
        if (logs.bytes[name] && !entries.read(*logs.bytes[name])) break;
    if (auto plan = entries.plan()) plans.push_back(std::move(*plan));
    std::vector<Plan> old;
    for (LogName name : {Log1, Log2, Log})
        if (logs.bytes[name])
            if (auto plan = oldFormat(*logs.bytes[name], primary)) old.push_back(std::move(*plan));
    std::stable_sort(old.begin(), old.end(), [](const Plan& a, const Plan& b) {
        return le32(a.base, regf::Sequence1) > le32(b.base, regf::Sequence1);
    });
    for (Plan& plan : old) plans.push_back(std::move(plan));
    return plans;
}

// Whether every bin that a logged page falls in is sound: the bins followed from the first by
// their sizes, each naming its own offset, as far as the pages reach.
bool binsSound(std::string_view bins, const Plan& plan) {
    std::uint32_t reach = 0;
    for (const Plan::Write& w : plan.writes) reach = std::max(reach, static_cast<std::uint32_t>(w.offset + w.bytes.size()));
    for (std::uint32_t at = 0; at < reach;) {
        if (bins.size() - at < BinHeaderSize || bins.substr(at + hbin::Signature, 4) != "hbin" ||
            le32(bins, at + hbin::Offset) != at)
            return false;
        const std::uint32_t size = le32(bins, at + hbin::Size);
        if (size == 0 || size % HiveBinSize != 0 || size > bins.size() - at) return false;
        at += size;
    }
    return true;
}

// The hive of the plan in memory: the file mapped privately (bins past its end in memory of
// their own), the base block and the logged bytes written over it, then made read-only. Only
// the pages written are copied.
Status mapPlan(int fd, std::uint64_t fileSize, const Plan& plan, HiveMapping& out) {
    const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    const std::size_t size = BaseBlockSize + plan.binsSize;
    const std::size_t reserved = roundUp(size, page);
    const std::size_t fromFile = roundUp(static_cast<std::size_t>(std::min<std::uint64_t>(fileSize, size)), page);
    void* at = fromFile == reserved ? mmap(nullptr, reserved, PROT_READ | PROT_WRITE, MAP_PRIVATE, fd, 0)
                                    : mmap(nullptr, reserved, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (at == MAP_FAILED) return statusOfErrno(errno);
    if (fromFile != reserved && fromFile != 0 &&
        mmap(at, fromFile, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_FIXED, fd, 0) == MAP_FAILED) {
        const int err = errno;
        munmap(at, reserved);
        return statusOfErrno(err);
    }
    auto* image = static_cast<char*>(at);
    std::memcpy(image, plan.base.data(), plan.base.size());
    for (const Plan::Write& w : plan.writes) {
        if (w.offset >= plan.binsSize) continue; // bins that a later entry gave up
        std::memcpy(image + BaseBlockSize + w.offset, w.bytes.data(), std::min<std::size_t>(w.bytes.size(), plan.binsSize - w.offset));
    }
    if (plan.checkBins && !binsSound(std::string_view(image + BaseBlockSize, plan.binsSize), plan)) {
        munmap(at, reserved);
        return status::BadDatabase;
    }
    mprotect(at, reserved, PROT_READ);
    out = {static_cast<const unsigned char*>(at), size};
    return status::Success;
}

// The ranges of the bins that a commit writes from memory: every logged page, and the bins that
// lie past the file's end, joined where they meet.
PagesFromMemory pagesOf(const Plan& plan, std::uint64_t fileSize) {
    PagesFromMemory pages;
    pages.fileBins = std::min<std::uint64_t>(fileSize - BaseBlockSize, plan.binsSize);
    std::vector<PagesFromMemory::Range> ranges;
    for (const Plan::Write& w : plan.writes)
        if (w.offset < plan.binsSize)
            ranges.push_back({w.offset, static_cast<std::uint32_t>(std::min<std::size_t>(w.bytes.size(), plan.binsSize - w.offset))});
    if (pages.fileBins < plan.binsSize)
        ranges.push_back({static_cast<std::uint32_t>(pages.fileBins), static_cast<std::uint32_t>(plan.binsSize - pages.fileBins)});
    std::sort(ranges.begin(), ranges.end(), [](const auto& a, const auto& b) { return a.offset < b.offset; });
    for (const PagesFromMemory::Range& r : ranges) {
        if (!pages.ranges.empty() && r.offset <= pages.ranges.back().offset + pages.ranges.back().size) {
            PagesFromMemory::Range& last = pages.ranges.back();
            last.size = std::max(last.size, r.offset + r.size - last.offset);
        } else {
            pages.ranges.push_back(r);
        }
    }
    return pages;
}

} // namespace

Status mapHive(int folder, const std::string& name, int fd, std::uint64_t fileSize, MappedHive& hive,
               Replayed& replayed) {
    replayed = {};
    Primary primary;
    if (readPrimary(fd, primary) != status::Success || !primary.dirty()) return hive.map(fd, fileSize);
    const Logs logs = readLogs(folder, name);
    if (!logs.any) {
        replayed.condition = {HiveState::Dirty, 0, FailureReason::LogsMissing};
        return hive.map(fd, fileSize);
    }
    for (const Plan& plan : plansOf(logs, primary)) {
        HiveMapping image;
        if (mapPlan(fd, fileSize, plan, image) != status::Success || hive.map(fd, fileSize, image) != status::Success)
            continue;
        replayed.condition = {HiveState::Recovered, plan.entries, FailureReason::None};
        replayed.pages = pagesOf(plan, fileSize);
        return status::Success;
    }
    replayed.condition = {HiveState::Dirty, 0, FailureReason::LogsUnusable};
    return hive.map(fd, fileSize);
}

HiveCondition condition(const Session& s) { return s.replayed.condition; }

Status writeUnchanged(const Session& s, int target) {
    PreparedCommit prepared;
    if (const Status st = prepareCommit(s.hive, {}, filetimeNow(), prepared)) return st;
    return writeCommit(prepared, s.lock.get(), target, s.replayed.pages, s.hive.bins());
}

} // namespace platform::hive
