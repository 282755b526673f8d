// Names of keys and values in a hive: hivex speaks UTF-8, callers speak UTF-16 (decoded
// from code page 932), and the registry compares names without regard to case.
#pragma once

#include <string>
#include <string_view>

namespace platform::hive {

// UTF-8 of UTF-16 text; a lone surrogate becomes U+FFFD.
std::string toUtf8(std::u16string_view text);
// UTF-16 of UTF-8 text; an invalid sequence becomes U+FFFD.
std::u16string toUtf16(std::string_view text);

// The name in the registry's case-insensitive form: every letter that has a capital is
// replaced by it (Latin, Greek, Cyrillic, full-width Latin, Roman numerals, circled letters).
std::u16string foldCase(std::u16string_view name);

// Whether two names are the same name to the registry.
bool sameName(std::u16string_view a, std::u16string_view b);

} // namespace platform::hive
