// The command line and the terminal: text in the encoding of the user's locale, as commands
// for scripts read it and print it.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

namespace platform::console {

// The text of a command-line argument: in the encoding of the user's locale on POSIX systems,
// UTF-8 on Windows (which hands the program its command line as UTF-16, passed on so).
// Nothing when the bytes are no text of that encoding.
std::optional<std::u16string> argumentText(std::string_view bytes);

// One line of standard input, without its line end, as text of the terminal's encoding. When
// `secret` and standard input is a terminal, what is typed is not shown. Nothing at the end of
// input or for bytes that are no text; `ended` says which.
std::optional<std::u16string> readLine(bool secret, bool& ended);

// Writes text for people in the terminal's encoding (a Windows console takes it as it is); a
// character the encoding lacks becomes "?". False when it could not be written.
bool write(std::FILE* stream, std::u16string_view text);
// Writes text as UTF-8, whatever the terminal's encoding (a Windows console takes it as it
// is): for what programs read, such as JSON.
bool writeUtf8(std::FILE* stream, std::u16string_view text);

} // namespace platform::console
