// Marvin32, the keyed checksum that the entries of a hive's new-format transaction logs carry:
// a state of two 32-bit words, seeded, into which the data is mixed four bytes at a time
// (little-endian) and then a last word that holds the remaining bytes and a 0x80 after them.
// Its 64-bit result is the two words, the low one first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace platform::hive {

// The seed of the logs' checksums. The number 14219357686671994754 that the registry is said
// to use works on Windows' own logs only with its eight bytes in the reverse order: the state's
// low word begins as 0x7A4E55C5, its high word as 0x82EF4D88.
inline constexpr std::uint64_t LogSeed = 0x82EF4D887A4E55C5;

// The sum of data given in pieces, one after the other.
class Marvin32 {
public:
    explicit Marvin32(std::uint64_t seed)
        : low_(static_cast<std::uint32_t>(seed)), high_(static_cast<std::uint32_t>(seed >> 32)) {}
    void add(std::string_view data);
    // The sum of everything added.
    std::uint64_t value() const;

private:
    void mix(std::uint32_t word);
    std::uint32_t low_, high_;
    unsigned char carried_[4] = {}; // the bytes of a word not yet whole
    std::size_t carry_ = 0;
};

inline std::uint64_t marvin32(std::string_view data, std::uint64_t seed) {
    Marvin32 sum(seed);
    sum.add(data);
    return sum.value();
}

} // namespace platform::hive
