// UTF-8, the encoding of JSON, of file names on most POSIX systems and of the command line
// as the Windows build passes it on.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace platform {

// The UTF-8 of a text; a lone surrogate becomes U+FFFD.
std::string toUtf8(std::u16string_view text);

// The text of UTF-8 bytes; nothing when they are not UTF-8.
std::optional<std::u16string> fromUtf8(std::string_view bytes);

// The text of bytes that should be UTF-8, with U+FFFD for each byte that is not part of a
// sequence: for showing a name that may be in any encoding.
std::u16string fromUtf8Lenient(std::string_view bytes);

} // namespace platform
