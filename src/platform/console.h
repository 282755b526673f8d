// The command line and the terminal: text in the encoding of the user's locale, as commands
// for scripts read it and print it.
#pragma once

#include <cstddef>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace platform::console {

// The text of a command-line argument: in the encoding of the user's locale on POSIX systems,
// UTF-8 on Windows (which hands the program its command line as UTF-16, passed on so).
// Nothing when the bytes are no text of that encoding.
std::optional<std::u16string> argumentText(std::string_view bytes);
// The file that a command-line argument names: its bytes as they are on POSIX systems, its
// UTF-8 on Windows.
std::filesystem::path argumentPath(const std::string& bytes);

// One line of standard input, without its line end, as text of the terminal's encoding. At a
// terminal `prompt` is shown on standard error first and, when `secret`, what is typed is not
// shown; elsewhere the input is read to its end, to tell whether more follows the line.
struct InputLine {
    std::optional<std::u16string> text; // nothing at the end of input or for bytes that are no text
    bool ended = false;                 // no line at all: the input was at its end
    bool more = false;                  // something follows the line's end
    bool overlong = false;              // the line ran past MaxLineBytes and was not read to its end
};
// The most bytes of one line of input read: far more than any text the window takes, and a
// bound for input that never ends a line (/dev/zero).
inline constexpr std::size_t MaxLineBytes = 4096;
InputLine readLine(bool secret, std::u16string_view prompt);

// Text that people read, made plain: the backslash, and each character that could act on a
// terminal or turn the direction of what follows (C0 and C1 controls, DEL, the bidirectional
// controls), written as an escape: \\, \n, \t, \r, \0, \x1b, \x85, \u200e. A lone surrogate
// is written \udc80. Without `backslash`, a backslash stays as it is: for lines whose own
// words hold one, with the text from outside in them escaped already.
std::u16string escaped(std::u16string_view text, bool backslash = true);
// A name of a file as the file system gives it, escaped in the same way: its UTF-8 as text, a
// byte that is no UTF-8 as U+FFFD.
std::u16string escapedPath(std::string_view bytes);

// Writes text for people in the terminal's encoding (a Windows console takes it as it is); a
// character the encoding lacks is written as its escape (\u3042, \U0001f600), never as a
// look-alike or "?". False when it could not be written.
bool write(std::FILE* stream, std::u16string_view text);
// Writes text as UTF-8, whatever the terminal's encoding (a Windows console takes it as it
// is): for what programs read, such as JSON.
bool writeUtf8(std::FILE* stream, std::u16string_view text);

} // namespace platform::console
