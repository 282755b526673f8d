#include "platform/hive/marvin32.h"

#include <bit>

#include "platform/bytes.h"

namespace platform::hive {
namespace {

struct State {
    std::uint32_t low;
    std::uint32_t high;

    // One round of the mix: additions, exclusive ors and rotations of the two words.
    void mix() {
        high ^= low;
        low = std::rotl(low, 20);
        low += high;
        high = std::rotl(high, 9);
        high ^= low;
        low = std::rotl(low, 27);
        low += high;
        high = std::rotl(high, 19);
    }
};

} // namespace

std::uint64_t marvin32(std::string_view data, std::uint64_t seed) {
    State s{static_cast<std::uint32_t>(seed), static_cast<std::uint32_t>(seed >> 32)};
    std::size_t at = 0;
    for (; data.size() - at >= 4; at += 4) {
        s.low += le32(data, at);
        s.mix();
    }
    // The last one to three bytes, then the 0x80 that ends the data, in one word.
    std::uint32_t last = 0x80;
    for (std::size_t i = data.size(); i > at; --i) last = last << 8 | static_cast<unsigned char>(data[i - 1]);
    s.low += last;
    s.mix();
    s.mix();
    return std::uint64_t{s.high} << 32 | s.low;
}

} // namespace platform::hive
