#include "platform/hive/log.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <string_view>
#include <sys/mman.h>
#include <sys/stat.h>
#include <utility>
#include <unistd.h>
#include <vector>

#include "platform/bytes.h"
#include "platform/hive/marvin32.h"
#include "platform/hive/paths.h"
#include "platform/hive/session.h"

namespace platform::hive {
namespace {

// Larger logs are not read: no log of a hive whose bins end below 2 GiB needs more.
constexpr std::uint64_t LargestLog = std::uint64_t{3} << 30;
// Each run of pages that the logs give whole is a mapping of its own: no more than this many.
constexpr std::size_t MostFreshRuns = 4096;

std::size_t roundUp(std::size_t n, std::size_t to) { return (n + to - 1) / to * to; }

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
// A log file, open for reading.
struct LogFile {
    Fd fd;
    std::uint64_t size = 0;

    // `count` bytes at `at` into `into`; false when the file does not hold them all.
    bool read(char* into, std::size_t count, std::uint64_t at) const {
        std::size_t got = 0;
        return at <= size && size - at >= count && readAt(fd.get(), into, count, at, got) == status::Success && got == count;
    }
    // The bytes from `at` on, up to `count` of them.
    std::string bytes(std::uint64_t at = 0, std::size_t count = std::string::npos) const {
        if (at >= size) return {};
        std::string out(static_cast<std::size_t>(std::min<std::uint64_t>(count, size - at)), '\0');
        std::size_t got = 0;
        if (readAt(fd.get(), out.data(), out.size(), at, got) != status::Success) got = 0;
        out.resize(got);
        return out;
    }
};

struct Logs {
    std::array<std::optional<LogFile>, LogNames> files; // those that could be opened
    bool any = false;                                   // whether any of the names is there
};

// Finds the logs in the hive's folder, each name in any case (the name in the hive's own case
// first), and opens them, never through a link.
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
            if (sameLettersAnyCase(seen, wanted) && (found[i].empty() || seen == wanted)) found[i] = seen;
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
        logs.files[i] = LogFile{std::move(fd), static_cast<std::uint64_t>(st.st_size)};
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
    if (log.size() < LogSector) return std::nullopt;
    std::string block(log.substr(0, LogSector));
    block.resize(BaseBlockSize, '\0');
    const auto base = readBaseBlock(block);
    if (!base || !base->checksumValid() || base->sequence1 != base->sequence2 || le32(block, regf::FileType) != type)
        return std::nullopt;
    const std::uint32_t clustering = le32(block, regf::Clustering);
    if (clustering == 0 || clustering > LargestClustering) return std::nullopt;
    const std::uint64_t written = le64(block, regf::Written);
    if (std::find(primary.written.begin(), primary.written.end(), written) == primary.written.end()) return std::nullopt;
    return Copy{*base, log.substr(0, regf::HeaderSize), LogSector * clustering};
}

bool binsSizeSound(std::uint64_t size) { return size != 0 && size % HiveBinSize == 0 && size <= BinsLimit; }

// A replay worked out before anything is mapped: the base block, and the bytes the logs put
// over the file in their order (a later write over an earlier one), each where its log holds it.
struct Plan {
    struct Write {
        std::uint32_t offset; // in the bins
        std::uint32_t size;
        const LogFile* log;
        std::uint64_t at;     // in the log
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
        put32(base, regf::FileType, filetype::Primary);
        put32(base, regf::BinsSize, binsSize);
        put32(base, regf::Checksum, baseBlockChecksum(base));
    }
};

// The entries of the new-format logs, in the order they are read: those from the file's sequence
// number on, each following the one before, up to the first that fails a check. Each entry is
// summed as it is read, through one buffer; its pages are read again, into their place, only
// once the replay is known.
class NewFormat {
public:
    explicit NewFormat(const Primary& primary) : primary_(primary) {
        if (primary.base) begin(primary.block, *primary.base);
    }

    // False once the replay has ended.
    bool read(const LogFile& log) {
        const std::string first = log.bytes(0, LogSector);
        const auto copy = copyIn(first, filetype::NewLog, primary_);
        if (!copy) return true;
        if (plan_.base.empty()) begin(copy->header, copy->base); // the file's own base block is broken
        std::string head(hvle::References, '\0');
        for (std::uint64_t at = copy->body; log.size - at >= hvle::References;) {
            if (!log.read(head.data(), head.size(), at)) return false;
            if (!head.starts_with("HvLE")) return true; // this log's entries end here
            const std::uint32_t size = le32(head, hvle::Size);
            if (size < hvle::References || size % LogSector != 0 || size > log.size - at) return false;
            if (le64(head, hvle::Hash2) != marvin32(std::string_view(head).substr(0, hvle::Hash2), LogSeed)) return false;
            const std::uint32_t sequence = le32(head, hvle::Sequence);
            // Entries that the file or an entry before holds already, and one missing between
            // two: what follows it was written over what it held.
            const bool already = applied_ ? sequence <= last_ : sequence < from_;
            if (!already && applied_ && sequence != last_ + 1) return false;
            if (!entry(log, at, head, already)) return false;
            at += size;
            if (already) continue;
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

    // The entry at `at` whose header is `head`: its first sum checked over its references, pages
    // and what pads it; and unless the hive holds it `already`, its pages, when its references
    // and its size of the bins agree with each other.
    bool entry(const LogFile& log, std::uint64_t at, std::string_view head, bool already) {
        const std::uint64_t end = at + le32(head, hvle::Size);
        const std::uint32_t bins = le32(head, hvle::BinsSize);
        const std::uint32_t count = le32(head, hvle::PageCount);
        Marvin32 sum(LogSeed);
        std::vector<Plan::Write> writes;
        if (!already) {
            if (!binsSizeSound(bins) || count > (end - at - hvle::References) / hvle::Reference) return false;
            std::string references(std::size_t{count} * hvle::Reference, '\0');
            if (!log.read(references.data(), references.size(), at + hvle::References)) return false;
            std::uint64_t page = at + hvle::References + references.size();
            for (std::uint32_t i = 0; i < count; ++i) {
                const std::uint32_t offset = le32(references, std::size_t{i} * hvle::Reference);
                const std::uint32_t size = le32(references, std::size_t{i} * hvle::Reference + 4);
                if (size == 0 || offset % LogPage != 0 || size % LogPage != 0 || offset >= bins || size > bins - offset ||
                    size > end - page)
                    return false;
                writes.push_back({offset, size, &log, page});
                page += size;
            }
        }
        for (std::uint64_t from = at + hvle::References; from < end;) {
            buffer_.resize(static_cast<std::size_t>(std::min<std::uint64_t>(end - from, Chunk)));
            if (!log.read(buffer_.data(), buffer_.size(), from)) return false;
            sum.add(buffer_);
            from += buffer_.size();
        }
        if (sum.value() != le64(head, hvle::Hash1)) return false;
        if (already) return true;
        plan_.writes.insert(plan_.writes.end(), writes.begin(), writes.end());
        plan_.binsSize = bins;
        ++plan_.entries;
        return true;
    }

    static constexpr std::size_t Chunk = std::size_t{1} << 20;
    const Primary& primary_;
    Plan plan_;
    std::string buffer_; // what is summed, a piece at a time
    std::uint32_t from_ = 0;
    std::uint32_t last_ = 0;
    bool applied_ = false;
};

// An old-format log: the 512-byte pages of its bitmap, in runs of pages that follow each other.
std::optional<Plan> oldFormat(const LogFile& log, const Primary& primary) {
    const std::string first = log.bytes(0, LogSector);
    const auto copy = copyIn(first, filetype::OldLog, primary);
    if (!copy || !binsSizeSound(copy->base.binsSize)) return std::nullopt;
    const std::size_t pages = copy->base.binsSize / DirtyPage;
    const std::size_t bitmapSize = (pages + 7) / 8;
    const std::string vector = log.bytes(copy->body, dirt::Bitmap + bitmapSize);
    if (vector.size() != dirt::Bitmap + bitmapSize || !vector.starts_with("DIRT")) return std::nullopt;
    const std::string_view bitmap = std::string_view(vector).substr(dirt::Bitmap);
    auto dirty = [&](std::size_t page) { return (static_cast<unsigned char>(bitmap[page / 8]) >> (page % 8) & 1) != 0; };
    Plan plan;
    plan.base = std::string(copy->header);
    plan.binsSize = copy->base.binsSize;
    plan.entries = 1;
    plan.checkBins = true;
    std::uint64_t from = roundUp(copy->body + vector.size(), copy->body);
    for (std::size_t page = 0; page < pages;) {
        if (!dirty(page)) {
            ++page;
            continue;
        }
        std::size_t end = page;
        while (end < pages && dirty(end)) ++end;
        const std::size_t size = (end - page) * DirtyPage;
        if (from > log.size || log.size - from < size) return std::nullopt; // a log that was cut short
        plan.writes.push_back({static_cast<std::uint32_t>(page * DirtyPage), static_cast<std::uint32_t>(size), &log, from});
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
    // Windows writes the two logs by turns, so either may hold the earlier entries: the one
    // whose copy of the base block is older (it is written with a log's first entry) is read
    // first. A file whose own base block is broken takes the one with the latest entries only.
    std::vector<std::pair<std::uint32_t, const LogFile*>> newLogs;
    for (LogName name : {Log1, Log2})
        if (logs.files[name])
            if (const auto copy = copyIn(logs.files[name]->bytes(0, LogSector), filetype::NewLog, primary))
                newLogs.emplace_back(copy->base.sequence1, &*logs.files[name]);
    std::stable_sort(newLogs.begin(), newLogs.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    if (!primary.base && newLogs.size() > 1) newLogs.erase(newLogs.begin(), newLogs.end() - 1);
    NewFormat entries(primary);
    for (const auto& [sequence, log] : newLogs)
        if (!entries.read(*log)) break;
    if (auto plan = entries.plan()) plans.push_back(std::move(*plan));
    std::vector<Plan> old;
    for (LogName name : {Log1, Log2, Log})
        if (logs.files[name])
            if (auto plan = oldFormat(*logs.files[name], primary)) old.push_back(std::move(*plan));
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
    for (const Plan::Write& w : plan.writes) reach = std::max(reach, w.offset + w.size);
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

// The ranges of the bins that a commit writes from memory: every logged page, and the bins that
// lie past the file's end, joined where they meet.
PagesFromMemory pagesOf(const Plan& plan, std::uint64_t fileSize) {
    PagesFromMemory pages;
    pages.fileBins = std::min<std::uint64_t>(fileSize - BaseBlockSize, plan.binsSize);
    std::vector<PagesFromMemory::Range> ranges;
    for (const Plan::Write& w : plan.writes)
        if (w.offset < plan.binsSize)
            ranges.push_back({w.offset, std::min(w.size, plan.binsSize - w.offset)});
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

// The hive of the plan in memory: the file mapped privately (bins past its end in memory of
// their own), the base block and the logged bytes read over it, then made read-only. The pages
// of the file that the logs give whole are never read.
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
    auto fail = [&](Status st) {
        munmap(at, reserved);
        return st;
    };
    // The pages that the logs give whole need nothing of the file: fresh memory, made at once,
    // in their place. (A page that the logs give a part of is copied from the file first.)
    std::size_t fresh = 0;
    for (const PagesFromMemory::Range& r : pagesOf(plan, fileSize).ranges) {
        const std::size_t from = roundUp(BaseBlockSize + r.offset, page);
        const std::size_t to = std::min(fromFile, (BaseBlockSize + r.offset + r.size) / page * page); // past it: fresh already
        if (to <= from || ++fresh > MostFreshRuns) continue;
        if (mmap(image + from, to - from, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED | MAP_POPULATE, -1,
                 0) == MAP_FAILED)
            return fail(statusOfErrno(errno));
    }
    std::memcpy(image, plan.base.data(), plan.base.size());
    for (const Plan::Write& w : plan.writes) {
        if (w.offset >= plan.binsSize) continue; // bins that a later entry gave up
        if (!w.log->read(image + BaseBlockSize + w.offset, std::min(w.size, plan.binsSize - w.offset), w.at))
            return fail(status::RegistryIoFailed);
    }
    if (plan.checkBins && !binsSound(std::string_view(image + BaseBlockSize, plan.binsSize), plan)) return fail(status::BadDatabase);
    mprotect(at, reserved, PROT_READ);
    out = {static_cast<const unsigned char*>(at), size};
    return status::Success;
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
