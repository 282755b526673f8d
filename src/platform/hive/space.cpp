#include "platform/hive/space.h"

#include "platform/bytes.h"

namespace platform::hive {

// Whether a bin's header, "hbin" and its own offset, is at `at`.
bool FreeSpace::binHeaderAt(std::uint32_t at) const {
    return bins_.substr(at + hbin::Signature, 4) == "hbin" && le32(bins_, at + hbin::Offset) == at;
}

FreeSpace::FreeSpace(std::string_view bins, std::uint32_t limit)
    : bins_(bins), end_(static_cast<std::uint32_t>(bins.size())), limit_(limit) {}

// The size of the bin whose header is at `at`, or 0 when there is none: "hbin", its own
// offset, and a size of whole pages that stays inside the bins and below the limit.
std::uint32_t FreeSpace::binSizeAt(std::uint32_t at) const {
    if (bins_.size() - at < HiveBinSize || !binHeaderAt(at)) return 0;
    const std::uint32_t size = le32(bins_, at + hbin::Size);
    if (size < HiveBinSize || size % HiveBinSize != 0 || size > bins_.size() - at || size > limit_ - at) return 0;
    return size;
}

// The bin that holds `offset`: bins begin on page boundaries, so it is the nearest header at
// or before it that names its own offset (a bin larger than a page has none on its later pages).
std::optional<FreeSpace::Range> FreeSpace::binHolding(std::uint32_t offset) const {
    if (offset >= bins_.size() || offset >= limit_) return std::nullopt;
    for (std::uint32_t at = offset - offset % HiveBinSize;; at -= HiveBinSize) {
        if (binHeaderAt(at)) {
            const std::uint32_t size = binSizeAt(at);
            if (size == 0 || offset - at >= size) return std::nullopt;
            return Range{at, size};
        }
        if (at == 0) return std::nullopt;
    }
}

// Reads the next bin in the order of the file that was not read yet; false at the end.
bool FreeSpace::readNext() {
    while (next_ < bins_.size() && next_ < limit_) {
        const std::uint32_t size = binSizeAt(next_);
        if (size == 0) {
            // A damaged header: the next bin begins on some later page and names its offset.
            if (binHeaderAt(next_) && le32(bins_, next_ + hbin::Size) > bins_.size() - next_) endClaimed_ = true;
            next_ += HiveBinSize;
            continue;
        }
        const Range bin{next_, size};
        next_ += size;
        if (read_.count(bin.offset) == 0) {
            read(bin);
            return true;
        }
    }
    return false;
}

void FreeSpace::readAll() {
    while (readNext()) {
    }
}

void FreeSpace::read(Range bin) {
    // Never a stretch twice, even where damage makes two headers claim it.
    auto after = read_.lower_bound(bin.offset);
    if (after != read_.end() && after->first < bin.offset + bin.size) return;
    if (after != read_.begin() && std::prev(after)->first + std::prev(after)->second > bin.offset) return;
    read_.emplace(bin.offset, bin.size);

    std::vector<std::pair<std::uint32_t, Run>> found;
    const std::string_view cells = bins_.substr(bin.offset, bin.size);
    for (std::uint32_t cell = BinHeaderSize; cell < cells.size();) {
        const std::uint32_t field = le32(cells, cell + cell::Size);
        const bool free = static_cast<std::int32_t>(field) > 0;
        const std::uint32_t length = free ? field : 0u - field;
        if (length < CellAlignment || length % CellAlignment != 0 || length > cells.size() - cell)
            return; // not tiled: offers nothing
        if (free) {
            if (!found.empty() && found.back().first + found.back().second.size == bin.offset + cell) {
                found.back().second.size += length;
                found.back().second.asInFile = false;
            } else {
                found.push_back({bin.offset + cell, Run{length, true}});
            }
        }
        cell += length;
    }
    soundBins_.emplace(bin.offset, bin.size);
    for (const auto& [offset, run] : found)
        if (!overlapsKept(offset, run.size)) add(offset, run);
}

void FreeSpace::keep(Range used) {
    kept_.push_back(used);
    for (auto run = runs_.begin(); run != runs_.end();) {
        const auto next = std::next(run);
        if (overlapsKept(run->first, run->second.size)) remove(run);
        run = next;
    }
}

bool FreeSpace::overlapsKept(std::uint32_t offset, std::uint32_t size) const {
    const std::uint64_t end = std::uint64_t{offset} + size;
    for (const Range& used : kept_)
        if (used.offset < end && offset < std::uint64_t{used.offset} + used.size) return true;
    return false;
}

void FreeSpace::add(std::uint32_t offset, Run run) {
    runs_.emplace(offset, run);
    bySize_.emplace(run.size, offset);
}

void FreeSpace::remove(Runs::iterator run) {
    bySize_.erase({run->second.size, run->first});
    runs_.erase(run);
}

bool FreeSpace::inSoundBin(std::uint32_t offset, std::uint32_t size) const {
    auto bin = soundBins_.upper_bound(offset);
    if (bin == soundBins_.begin()) return false;
    --bin;
    const std::uint32_t into = offset - bin->first;
    return into >= BinHeaderSize && into < bin->second && size <= bin->second - into;
}

bool FreeSpace::release(std::uint32_t offset, std::uint32_t size) {
    if (size < CellAlignment || size % CellAlignment != 0 || offset % CellAlignment != 0) return false;
    if (const auto bin = binHolding(offset); bin && read_.count(bin->offset) == 0) read(*bin);
    if (!inSoundBin(offset, size) || overlapsKept(offset, size)) return false;
    auto next = runs_.lower_bound(offset);
    if (next != runs_.end() && next->first < offset + size) return false;
    auto before = next == runs_.begin() ? runs_.end() : std::prev(next);
    if (before != runs_.end() && before->first + before->second.size > offset) return false;

    Run merged{size, false};
    if (next != runs_.end() && next->first == offset + size) {
        merged.size += next->second.size;
        remove(next);
    }
    if (before != runs_.end() && before->first + before->second.size == offset) {
        offset = before->first;
        merged.size += before->second.size;
        remove(before);
    }
    add(offset, merged);
    return true;
}

// The smallest run at `from` or beyond that holds `size` bytes.
std::set<std::pair<std::uint32_t, std::uint32_t>>::const_iterator FreeSpace::fitting(std::uint32_t size,
                                                                                     std::uint32_t from) const {
    auto best = bySize_.lower_bound({size, 0});
    while (best != bySize_.end() && best->second < from) ++best;
    return best;
}

std::optional<std::uint32_t> FreeSpace::allocate(std::uint32_t size, std::uint32_t from) {
    if (size < CellAlignment || size % CellAlignment != 0) return std::nullopt;
    auto best = fitting(size, from);
    while (best == bySize_.end() && readNext()) best = fitting(size, from);
    if (best == bySize_.end()) {
        // The run that the bins grew lies beyond every cell, the one at `from` among them.
        if (!grow(size)) return std::nullopt;
        best = fitting(size, from);
        if (best == bySize_.end()) return std::nullopt;
    }
    const std::uint32_t offset = best->second;
    const auto run = runs_.find(offset);
    const std::uint32_t rest = run->second.size - size;
    remove(run);
    if (rest > 0) add(offset + size, Run{rest, false});
    return offset;
}

bool FreeSpace::grow(std::uint32_t cellSize) {
    auto pages = [](std::uint64_t bytes) { return (bytes + HiveBinSize - 1) / HiveBinSize * HiveBinSize; };
    if (end_ > limit_ || endClaimed_) return false;
    // Free space at the very end lies in the last bin, which is sound then: it grows.
    if (!runs_.empty()) {
        const auto last = std::prev(runs_.end());
        if (last->first + last->second.size == end_) {
            const std::uint64_t more = pages(cellSize - last->second.size);
            if (more > limit_ - end_) return false;
            const auto bin = std::prev(soundBins_.end());
            bin->second += static_cast<std::uint32_t>(more);
            std::vector<Range>& resized = bin->first < bins_.size() ? grown_ : added_;
            if (resized.empty() || resized.back().offset != bin->first) resized.push_back({bin->first, 0});
            resized.back().size = bin->second;
            const Run run{last->second.size + static_cast<std::uint32_t>(more), false};
            const std::uint32_t at = last->first;
            remove(last);
            add(at, run);
            end_ += static_cast<std::uint32_t>(more);
            return true;
        }
    }
    const std::uint64_t size = pages(std::uint64_t{cellSize} + BinHeaderSize);
    if (size > limit_ - end_) return false;
    const Range bin{end_, static_cast<std::uint32_t>(size)};
    added_.push_back(bin);
    read_.emplace(bin.offset, bin.size);
    soundBins_.emplace(bin.offset, bin.size);
    add(bin.offset + BinHeaderSize, Run{bin.size - static_cast<std::uint32_t>(BinHeaderSize), false});
    end_ += bin.size;
    return true;
}

std::vector<FreeSpace::Range> FreeSpace::runs() const {
    std::vector<Range> out;
    for (const auto& [offset, run] : runs_) out.push_back({offset, run.size});
    return out;
}

std::vector<FreeSpace::Range> FreeSpace::changedRuns() const {
    std::vector<Range> out;
    for (const auto& [offset, run] : runs_)
        if (!run.asInFile) out.push_back({offset, run.size});
    return out;
}

} // namespace platform::hive
