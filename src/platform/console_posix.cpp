// The terminal on POSIX systems: the locale's encoding through iconv.
#include "platform/console.h"

#include <cerrno>
#include <clocale>
#include <cstdio>
#include <iconv.h>
#include <langinfo.h>
#include <termios.h>
#include <unistd.h>

#include "platform/bytes.h"
#include "platform/utf8.h"

namespace platform::console {
namespace {

// The encoding of the user's locale, read once.
const std::string& localEncoding() {
    static const std::string encoding = [] {
        std::setlocale(LC_CTYPE, "");
        return std::string(nl_langinfo(CODESET));
    }();
    return encoding;
}

bool isUtf8() { return localEncoding() == "UTF-8"; }

// Converts all of `in` with a fresh converter; false at the first byte it cannot convert.
bool convert(const char* to, const char* from, std::string_view in, std::string& out) {
    const iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    out.assign(in.size() * 4 + 16, '\0');
    char* source = const_cast<char*>(in.data());
    std::size_t left = in.size();
    char* target = out.data();
    std::size_t room = out.size();
    const bool whole = iconv(cd, &source, &left, &target, &room) != static_cast<std::size_t>(-1) &&
                       iconv(cd, nullptr, nullptr, &target, &room) != static_cast<std::size_t>(-1);
    iconv_close(cd);
    out.resize(out.size() - room);
    return whole;
}

std::optional<std::u16string> localText(std::string_view bytes) {
    if (isUtf8()) return fromUtf8(bytes);
    std::string utf16;
    if (!convert("UTF-16LE", localEncoding().c_str(), bytes, utf16)) return std::nullopt;
    return fromUtf16le(utf16);
}

// The escape of a character the locale's encoding lacks: \u3042, or \U0001f600 beyond 16 bits.
std::string unshowable(std::u16string_view one) {
    const char32_t c = one.size() == 2 ? 0x10000 + ((char32_t(one[0]) - 0xD800) << 10) + (one[1] - 0xDC00) : one[0];
    char out[12];
    std::snprintf(out, sizeof out, c > 0xFFFF ? "\\U%08x" : "\\u%04x", unsigned(c));
    return out;
}

// The text in the locale's encoding, character by character where a whole conversion fails.
std::string localBytes(std::u16string_view text) {
    if (isUtf8()) return toUtf8(text);
    std::string out;
    if (convert(localEncoding().c_str(), "UTF-16LE", utf16le(text), out)) return out;
    out.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool pair = text[i] >= 0xD800 && text[i] <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
                          text[i + 1] <= 0xDFFF;
        const std::u16string_view one = text.substr(i, pair ? 2 : 1);
        std::string bytes;
        out += convert(localEncoding().c_str(), "UTF-16LE", utf16le(one), bytes) ? bytes : unshowable(one);
        if (pair) ++i;
    }
    return out;
}

} // namespace

std::optional<std::u16string> argumentText(std::string_view bytes) { return localText(bytes); }
std::filesystem::path argumentPath(const std::string& bytes) { return bytes; }

InputLine readLine(bool secret, std::u16string_view prompt) {
    const bool terminal = isatty(STDIN_FILENO);
    if (terminal) {
        write(stderr, prompt);
        std::fflush(stderr);
    }
    termios was {};
    const bool hide = secret && terminal && tcgetattr(STDIN_FILENO, &was) == 0;
    if (hide) {
        termios quiet = was;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    std::string line;
    int c = 0;
    while (line.size() < MaxLineBytes && (c = std::getchar()) != EOF && c != '\n') line += static_cast<char>(c);
    if (hide) {
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &was);
        std::fputc('\n', stderr);
    }
    InputLine in;
    in.ended = c == EOF && line.empty();
    in.overlong = line.size() == MaxLineBytes;
    if (in.ended || in.overlong) return in;
    // A terminal is not read past the line: that would wait for the user.
    in.more = !terminal && c == '\n' && std::getchar() != EOF;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    in.text = localText(line);
    return in;
}

namespace {
bool put(std::FILE* stream, const std::string& bytes) {
    return std::fwrite(bytes.data(), 1, bytes.size(), stream) == bytes.size();
}
} // namespace

bool write(std::FILE* stream, std::u16string_view text) { return put(stream, localBytes(text)); }
bool writeUtf8(std::FILE* stream, std::u16string_view text) { return put(stream, toUtf8(text)); }

} // namespace platform::console
