#include "platform/hive/space.h"

#include "platform/bytes.h"

#include <algorithm>

namespace platform::hive {

FreeSpace::FreeSpace(std::string_view bins, std::uint32_t limit)
    : bins_(bins), chain_(bins, limit), end_(static_cast<std::uint32_t>(bins.size())), limit_(limit) {}

// Reads the next bin in the order of the file that was not read yet; false at the end.
bool FreeSpace::readNext() {
    while (const std::optional<Bin> bin = chain_.at(next_)) {
        ++next_;
        if (read_.count(bin->offset) == 0) {
            read({bin->offset, bin->size});
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

namespace {

// The bits from `from` to `to` (both within one word, counted from its lowest bit).
std::uint64_t bits(std::uint64_t from, std::uint64_t to) {
    const std::uint64_t upTo = to == 63 ? ~std::uint64_t{0} : (std::uint64_t{1} << (to + 1)) - 1;
    return upTo & ~((std::uint64_t{1} << from) - 1);
}

} // namespace

void Coverage::cover(std::uint32_t offset, std::uint32_t size, std::uint32_t binsSize) {
    if (offset >= binsSize || size == 0) return;
    if (words_.empty()) words_.assign((binsSize / CellAlignment + 63) / 64, 0);
    const std::uint64_t first = offset / CellAlignment;
    const std::uint64_t last = (std::min<std::uint64_t>(std::uint64_t{offset} + size, binsSize) - 1) / CellAlignment;
    if (first / 64 == last / 64) {
        words_[first / 64] |= bits(first % 64, last % 64);
        return;
    }
    words_[first / 64] |= bits(first % 64, 63);
    for (std::uint64_t w = first / 64 + 1; w < last / 64; ++w) words_[w] = ~std::uint64_t{0};
    words_[last / 64] |= bits(0, last % 64);
}

bool Coverage::covers(std::uint32_t offset, std::uint32_t size) const {
    if (size == 0 || words_.empty() || offset / CellAlignment / 64 >= words_.size()) return false;
    const std::uint64_t first = offset / CellAlignment;
    const std::uint64_t last = std::min<std::uint64_t>((std::uint64_t{offset} + size - 1) / CellAlignment,
                                                       std::uint64_t{words_.size()} * 64 - 1);
    if (first / 64 == last / 64) return (words_[first / 64] & bits(first % 64, last % 64)) != 0;
    if (words_[first / 64] & bits(first % 64, 63)) return true;
    for (std::uint64_t w = first / 64 + 1; w < last / 64; ++w)
        if (words_[w]) return true;
    return (words_[last / 64] & bits(0, last % 64)) != 0;
}

void Coverage::merge(const Coverage& other) {
    if (words_.size() < other.words_.size()) words_.resize(other.words_.size(), 0);
    for (std::size_t i = 0; i < other.words_.size(); ++i) words_[i] |= other.words_[i];
}

void FreeSpace::keep(Range used) {
    kept_.cover(used.offset, used.size, static_cast<std::uint32_t>(bins_.size()));
    dropKept();
}

void FreeSpace::keep(const Coverage& used) {
    kept_.merge(used);
    dropKept();
}

void FreeSpace::dropKept() {
    for (auto run = runs_.begin(); run != runs_.end();) {
        const auto next = std::next(run);
        if (overlapsKept(run->first, run->second.size)) remove(run);
        run = next;
    }
}

bool FreeSpace::overlapsKept(std::uint32_t offset, std::uint32_t size) const { return kept_.covers(offset, size); }

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
    if (const auto bin = chain_.holding(offset); bin && read_.count(bin->offset) == 0) read({bin->offset, bin->size});
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
    if (end_ > limit_ || chain_.endClaimed()) return false;
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
