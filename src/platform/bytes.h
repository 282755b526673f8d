// Little-endian numbers in byte strings: what every field of a hive file is.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

inline std::uint16_t le16(std::string_view b, std::size_t at) {
    return static_cast<std::uint16_t>(static_cast<unsigned char>(b[at]) | static_cast<unsigned char>(b[at + 1]) << 8);
}
inline std::uint32_t le32(std::string_view b, std::size_t at) {
    return static_cast<std::uint32_t>(le16(b, at)) | static_cast<std::uint32_t>(le16(b, at + 2)) << 16;
}
inline std::uint64_t le64(std::string_view b, std::size_t at) {
    return static_cast<std::uint64_t>(le32(b, at)) | static_cast<std::uint64_t>(le32(b, at + 4)) << 32;
}

// Into bytes that are already there: `b` is not grown.
inline void put16(std::string& b, std::size_t at, std::uint16_t v) {
    b[at] = static_cast<char>(v & 0xFF);
    b[at + 1] = static_cast<char>(v >> 8);
}
inline void put32(std::string& b, std::size_t at, std::uint32_t v) {
    put16(b, at, static_cast<std::uint16_t>(v));
    put16(b, at + 2, static_cast<std::uint16_t>(v >> 16));
}
inline void put64(std::string& b, std::size_t at, std::uint64_t v) {
    put32(b, at, static_cast<std::uint32_t>(v));
    put32(b, at + 4, static_cast<std::uint32_t>(v >> 32));
}

// Four bytes that hold `v`.
inline std::string bytes32(std::uint32_t v) {
    std::string b(4, '\0');
    put32(b, 0, v);
    return b;
}

// Text as UTF-16LE, and back (an odd last byte is part of no character).
inline std::string utf16le(std::u16string_view text) {
    std::string b(2 * text.size(), '\0');
    for (std::size_t i = 0; i < text.size(); ++i) put16(b, 2 * i, static_cast<std::uint16_t>(text[i]));
    return b;
}
inline std::u16string fromUtf16le(std::string_view b) {
    std::u16string text(b.size() / 2, u'\0');
    for (std::size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char16_t>(le16(b, 2 * i));
    return text;
}

} // namespace platform
