// What both terminals share: text made plain before it is printed.
#include "platform/console.h"

#include "platform/utf8.h"

namespace platform::console {
namespace {

bool isBidiControl(char16_t c) {
    return c == 0x200E || c == 0x200F || (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

bool isHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool isLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

std::u16string hexEscape(char16_t c, bool wide) {
    static constexpr char16_t Digits[] = u"0123456789abcdef";
    std::u16string out = wide ? u"\\u" : u"\\x";
    for (int shift = wide ? 12 : 4; shift >= 0; shift -= 4) out += Digits[(c >> shift) & 15];
    return out;
}

} // namespace

std::u16string escaped(std::u16string_view text, bool backslash) {
    std::u16string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (c == u'\\' && backslash) out += u"\\\\";
        else if (c == u'\n') out += u"\\n";
        else if (c == u'\t') out += u"\\t";
        else if (c == u'\r') out += u"\\r";
        else if (c == 0) out += u"\\0";
        else if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) out += hexEscape(c, false);
        else if (isBidiControl(c)) out += hexEscape(c, true);
        else if (isHighSurrogate(c) && i + 1 < text.size() && isLowSurrogate(text[i + 1])) out += {c, text[++i]};
        else if (isHighSurrogate(c) || isLowSurrogate(c)) out += hexEscape(c, true);
        else out += c;
    }
    return out;
}

std::u16string escapedPath(std::string_view bytes) { return escaped(fromUtf8Lenient(bytes)); }

} // namespace platform::console
