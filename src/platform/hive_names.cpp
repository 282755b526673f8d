#include "platform/hive_names.h"

#include <cstdint>

namespace platform::hive {
namespace {

constexpr char32_t Replacement = 0xFFFD;

void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

void appendUtf16(std::u16string& out, char32_t c) {
    if (c < 0x10000) {
        out.push_back(static_cast<char16_t>(c));
    } else {
        c -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
    }
}

char16_t upper(char16_t c) {
    if (c < 0x80) return c >= u'a' && c <= u'z' ? c - 0x20 : c;
    if ((c >= 0x00E0 && c <= 0x00FE && c != 0x00F7)) return c - 0x20;
    if (c == 0x00FF) return 0x0178;
    if (c >= 0x03B1 && c <= 0x03CB && c != 0x03C2) return c - 0x20;
    if (c == 0x03C2) return 0x03A3;
    if (c >= 0x0430 && c <= 0x044F) return c - 0x20;
    if (c >= 0x0450 && c <= 0x045F) return c - 0x50;
    if (c >= 0x2170 && c <= 0x217F) return c - 0x10;
    if (c >= 0x24D0 && c <= 0x24E9) return c - 0x1A;
    if (c >= 0xFF41 && c <= 0xFF5A) return c - 0x20;
    return c;
}

} // namespace

std::string toUtf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = Replacement;
        }
        appendUtf8(out, c);
    }
    return out;
}

std::u16string toUtf16(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const auto b = static_cast<unsigned char>(text[i]);
        std::size_t len = b < 0x80 ? 1 : (b & 0xE0) == 0xC0 ? 2 : (b & 0xF0) == 0xE0 ? 3 : (b & 0xF8) == 0xF0 ? 4 : 0;
        char32_t c = len == 1 ? b : len == 2 ? (b & 0x1F) : len == 3 ? (b & 0x0F) : (b & 0x07);
        bool ok = len != 0 && i + len <= text.size();
        for (std::size_t k = 1; ok && k < len; ++k) {
            const auto t = static_cast<unsigned char>(text[i + k]);
            if ((t & 0xC0) != 0x80) ok = false;
            else c = (c << 6) | (t & 0x3F);
        }
        // Overlong forms, surrogates and values past U+10FFFF are invalid too.
        static constexpr char32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
        if (ok && (c < least[len] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))) ok = false;
        if (!ok) {
            appendUtf16(out, Replacement);
            ++i;
            continue;
        }
        appendUtf16(out, c);
        i += len;
    }
    return out;
}

std::u16string foldCase(std::u16string_view name) {
    std::u16string out(name);
    for (char16_t& c : out) c = upper(c);
    return out;
}

bool sameName(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (upper(a[i]) != upper(b[i])) return false;
    return true;
}

} // namespace platform::hive
