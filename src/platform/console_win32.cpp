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
std::filesystem::path argumentPath(const std::string& bytes) {
    return std::filesystem::path(std::u8string(bytes.begin(), bytes.end()));
}

InputLine readLine(bool secret, std::u16string_view prompt) {
    const HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    InputLine line;
    if (GetConsoleMode(in, &mode)) {
        write(stderr, prompt);
        if (secret) SetConsoleMode(in, mode & ~DWORD(ENABLE_ECHO_INPUT));
        std::u16string text;
        wchar_t c = 0;
        DWORD got = 0;
        bool any = false;
        while (text.size() < MaxLineBytes && ReadConsoleW(in, &c, 1, &got, nullptr) && got == 1 && c != L'\n') {
            any = true;
            if (c != L'\r') text += static_cast<char16_t>(c);
        }
        if (secret) {
            SetConsoleMode(in, mode);
            std::fputc('\n', stderr);
        }
        line.ended = !any && got == 0;
        line.overlong = text.size() == MaxLineBytes;
        if (!line.ended && !line.overlong) line.text = std::move(text);
        return line;
    }
    std::string bytes;
    int c = 0;
    while (bytes.size() < MaxLineBytes && (c = std::getchar()) != EOF && c != '\n') bytes += static_cast<char>(c);
    line.ended = c == EOF && bytes.empty();
    line.overlong = bytes.size() == MaxLineBytes;
    if (line.ended || line.overlong) return line;
    line.more = c == '\n' && std::getchar() != EOF;
    if (!bytes.empty() && bytes.back() == '\r') bytes.pop_back();
    if (bytes.empty()) {
        line.text = std::u16string();
        return line;
    }
    const int n = MultiByteToWideChar(codePage(true), MB_ERR_INVALID_CHARS, bytes.data(), int(bytes.size()), nullptr, 0);
    if (n <= 0) return line;
    std::u16string text(std::size_t(n), u'\0');
    MultiByteToWideChar(codePage(true), MB_ERR_INVALID_CHARS, bytes.data(), int(bytes.size()),
                        reinterpret_cast<wchar_t*>(text.data()), n);
    line.text = std::move(text);
    return line;
}

bool write(std::FILE* stream, std::u16string_view text) {
    if (isConsole(handleOf(stream))) return toConsole(stream, text);
    const UINT cp = codePage(false);
    std::string bytes;
    // Each character by itself, so that one the code page lacks is written as its escape,
    // never by a best-fit look-alike or "?". UTF-8 holds every character.
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool pair = text[i] >= 0xD800 && text[i] <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
                          text[i + 1] <= 0xDFFF;
        const auto* chars = reinterpret_cast<const wchar_t*>(text.data() + i);
        const int count = pair ? 2 : 1;
        char one[8];
        BOOL lacked = FALSE;
        int n = cp == CP_UTF8 ? 0 : WideCharToMultiByte(cp, WC_NO_BEST_FIT_CHARS, chars, count, one, sizeof one, nullptr, &lacked);
        // UTF-8 holds every character; the few code pages that refuse the flag write as they can.
        if (cp == CP_UTF8 || (n <= 0 && GetLastError() == ERROR_INVALID_FLAGS))
            n = WideCharToMultiByte(cp, 0, chars, count, one, sizeof one, nullptr, nullptr);
        if (n > 0 && !lacked) {
            bytes.append(one, std::size_t(n));
        } else {
            const unsigned c = pair ? 0x10000 + ((unsigned(text[i]) - 0xD800) << 10) + (text[i + 1] - 0xDC00) : text[i];
            char escape[12];
            std::snprintf(escape, sizeof escape, c > 0xFFFF ? "\\U%08x" : "\\u%04x", c);
            bytes += escape;
        }
        if (pair) ++i;
    }
    return put(stream, bytes);
}

bool writeUtf8(std::FILE* stream, std::u16string_view text) {
    if (isConsole(handleOf(stream))) return toConsole(stream, text);
    return put(stream, toUtf8(text));
}

} // namespace platform::console
