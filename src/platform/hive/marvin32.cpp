#include "platform/hive/marvin32.h"

#include <bit>
#include <cstring>

#include "platform/bytes.h"

namespace platform::hive {
namespace {

std::uint32_t wordAt(const char* at) {
    if constexpr (std::endian::native == std::endian::little) {
        std::uint32_t w;
        std::memcpy(&w, at, sizeof w);
        return w;
    } else {
        return le32(std::string_view(at, 4), 0);
    }
}

} // namespace

// Four bytes mixed in: added to the low word, then a round of additions, exclusive ors and
// rotations of the two words.
void Marvin32::mix(std::uint32_t word) {
    low_ += word;
    high_ ^= low_;
    low_ = std::rotl(low_, 20);
    low_ += high_;
    high_ = std::rotl(high_, 9);
    high_ ^= low_;
    low_ = std::rotl(low_, 27);
    low_ += high_;
    high_ = std::rotl(high_, 19);
}

void Marvin32::add(std::string_view data) {
    while (carry_ != 0 && carry_ < 4 && !data.empty()) {
        carried_[carry_++] = static_cast<unsigned char>(data.front());
        data.remove_prefix(1);
    }
    if (carry_ == 4) {
        mix(wordAt(reinterpret_cast<const char*>(carried_)));
        carry_ = 0;
    }
    std::size_t at = 0;
    for (; data.size() - at >= 4; at += 4) mix(wordAt(data.data() + at));
    for (; at < data.size(); ++at) carried_[carry_++] = static_cast<unsigned char>(data[at]);
}

std::uint64_t Marvin32::value() const {
    Marvin32 last = *this;
    // The last one to three bytes, then the 0x80 that ends the data, in one word; one more round.
    std::uint32_t word = 0x80;
    for (std::size_t i = carry_; i > 0; --i) word = word << 8 | last.carried_[i - 1];
    last.mix(word);
    last.mix(0);
    return std::uint64_t{last.high_} << 32 | last.low_;
}

} // namespace platform::hive
