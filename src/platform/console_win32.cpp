// The terminal on Windows: a console takes UTF-16 as it is; a pipe or a file takes the
// console's code page, as the system's own tools write to them.
#include "platform/console.h"

#include <windows.h>

#include <cstdio>

#include "platform/utf8.h"

namespace platform::console {
namespace {

HANDLE handleOf(std::FILE* stream) { return GetStdHandle(stream == stderr ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE); }

bool isConsole(HANDLE handle) {
    DWORD mode = 0;
    return GetConsoleMode(handle, &mode) != 0;
}

// Code page bytes; the console's own when there is one, else the system's.
UINT codePage(bool input) {
    const UINT cp = input ? GetConsoleCP() : GetConsoleOutputCP();
    return cp ? cp : GetACP();
}

bool toConsole(std::FILE* stream, std::u16string_view text) {
    std::fflush(stream);
    const auto* chars = reinterpret_cast<const wchar_t*>(text.data());
    for (std::size_t done = 0; done < text.size();) {
        DWORD wrote = 0;
        const DWORD chunk = DWORD(std::min<std::size_t>(text.size() - done, 8192));
        if (!WriteConsoleW(handleOf(stream), chars + done, chunk, &wrote, nullptr) || wrote == 0) return false;
        done += wrote;
    }
    return true;
}

bool put(std::FILE* stream, const std::string& bytes) {
    return std::fwrite(bytes.data(), 1, bytes.size(), stream) == bytes.size();
}

} // namespace

std::optional<std::u16string> argumentText(std::string_view bytes) { return fromUtf8(bytes); }

std::optional<std::u16string> readLine(bool secret, bool& ended) {
    const HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    std::u16string line;
    ended = false;
    if (GetConsoleMode(in, &mode)) {
        if (secret) SetConsoleMode(in, mode & ~DWORD(ENABLE_ECHO_INPUT));
        wchar_t c = 0;
        DWORD got = 0;
        bool any = false;
        while (ReadConsoleW(in, &c, 1, &got, nullptr) && got == 1 && c != L'\n') {
            any = true;
            if (c != L'\r') line += static_cast<char16_t>(c);
        }
        if (secret) {
            SetConsoleMode(in, mode);
            std::fputc('\n', stderr);
        }
        ended = !any && got == 0;
        if (ended) return std::nullopt;
        return line;
    }
    std::string bytes;
    int c = 0;
    while ((c = std::getchar()) != EOF && c != '\n') bytes += static_cast<char>(c);
    ended = c == EOF && bytes.empty();
    if (ended) return std::nullopt;
    if (!bytes.empty() && bytes.back() == '\r') bytes.pop_back();
    if (bytes.empty()) return line;
    const int n = MultiByteToWideChar(codePage(true), MB_ERR_INVALID_CHARS, bytes.data(), int(bytes.size()), nullptr, 0);
    if (n <= 0) return std::nullopt;
    line.resize(std::size_t(n));
    MultiByteToWideChar(codePage(true), MB_ERR_INVALID_CHARS, bytes.data(), int(bytes.size()),
                        reinterpret_cast<wchar_t*>(line.data()), n);
    return line;
}

bool write(std::FILE* stream, std::u16string_view text) {
    if (isConsole(handleOf(stream))) return toConsole(stream, text);
    if (text.empty()) return true;
    const auto* chars = reinterpret_cast<const wchar_t*>(text.data());
    const int n = WideCharToMultiByte(codePage(false), 0, chars, int(text.size()), nullptr, 0, "?", nullptr);
    std::string bytes(std::size_t(n > 0 ? n : 0), '\0');
    if (n > 0) WideCharToMultiByte(codePage(false), 0, chars, int(text.size()), bytes.data(), n, "?", nullptr);
    return put(stream, bytes);
}

bool writeUtf8(std::FILE* stream, std::u16string_view text) {
    if (isConsole(handleOf(stream))) return toConsole(stream, text);
    return put(stream, toUtf8(text));
}

} // namespace platform::console
