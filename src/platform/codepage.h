// Conversion between UTF-16 text and code page 932 bytes (Shift-JIS as Windows maps it).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace platform::cp932 {

// The bytes of a text, as Windows' A functions hand it out. A character that code page 932
// cannot hold becomes what the system makes of each of its code units: a best-fit look-alike
// ("e" for "é", 5C for "¥", 81 91 for "¢") where the system has one, else '?' (a surrogate pair
// is two code units, so "??"). Callers that must not lose anything refuse such text first
// (see firstUnmappable).
std::string encode(std::u16string_view text);

// The text of some bytes. An invalid or truncated byte sequence becomes U+FFFD; nothing is
// read past the end of the input.
std::u16string decode(std::string_view bytes);

// The number of bytes of a text as encode makes them: a double-byte character counts 2.
std::size_t byteCount(std::u16string_view text);

// The position of the first character that code page 932 cannot hold, or npos when none.
std::size_t firstUnmappable(std::u16string_view text);

inline bool mappable(std::u16string_view text) { return firstUnmappable(text) == std::u16string_view::npos; }

} // namespace platform::cp932
