// Names of keys and values in a hive, compared as the registry compares them: without regard
// to case.
#pragma once

#include <string>
#include <string_view>

namespace platform::hive {

// The name in the registry's case-insensitive form: every letter that has a capital is
// replaced by it (Latin, Greek, Cyrillic, full-width Latin, Roman numerals, circled letters).
std::u16string foldCase(std::u16string_view name);

// Whether two names are the same name to the registry.
bool sameName(std::u16string_view a, std::u16string_view b);

} // namespace platform::hive
