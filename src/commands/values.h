// How the commands write what the registry stores and what they were given, so that nobody
// misreads it: for people on one line of the terminal, for scripts as JSON. Private to the
// commands.
#pragma once

#include <string>
#include <string_view>

#include "platform/registry.h"

namespace commands {

// Text in double quotes for people: the quote escaped as \" and the rest as
// platform::console::escaped escapes it.
std::u16string QuotedText(std::u16string_view text);

// A value's stored form for people: its type, then its text in quotes, its number or its bytes
// ("REG_DWORD 1", "REG_SZ \"x\\0y\\0\"").
std::u16string StoredForPeople(const platform::StoredValue& value);
// A value as people know it: a REG_SZ that holds one text and its NUL as that text in quotes,
// anything else in its stored form.
std::u16string ValueForPeople(const platform::StoredValue& value);

// A JSON string, escaping as the console does what could act on a terminal; a lone surrogate
// as its \u escape.
std::u16string Json(std::u16string_view text);
// A value's stored form for scripts: {"type": ..., "bytes": hex, "text" or "number" where they apply}.
std::u16string JsonStored(const platform::StoredValue& value);

// Bytes from outside (a path, an argument) for an error line, in single quotes: their UTF-8
// as text, escaped as platform::console::escaped escapes it.
std::string Quoted(std::string_view bytes);

} // namespace commands
