// Code page 932 conversion on Windows: MultiByteToWideChar and WideCharToMultiByte with the
// system's own table. Encoding is the system's, as the A functions do it: a character that 932
// cannot hold becomes its best-fit bytes ("e" for "é") or the default character '?'. Whether a
// character can be held asks for no best-fit mapping and watches the used-default flag, so a
// look-alike never passes for the character itself; a character whose bytes would decode to
// something else counts as unmappable too. Decoding walks the bytes itself, one character at a
// time, so a broken or cut-off sequence becomes U+FFFD and nothing is read past the end.
#include "platform/codepage.h"

#include <windows.h>

namespace platform::cp932 {
namespace {

constexpr UINT CodePage = 932;
constexpr char16_t Replacement = 0xFFFD;
constexpr char Unmapped = '?';

bool isLead(unsigned char b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }
bool isTrail(unsigned char b) { return (b >= 0x40 && b <= 0x7E) || (b >= 0x80 && b <= 0xFC); }
bool isHalfwidthKatakana(unsigned char b) { return b >= 0xA1 && b <= 0xDF; }

// The user-defined area F040-F9FC and U+E000-E757, ten rows of 188, as Windows maps them.
constexpr unsigned char UserLeadFirst = 0xF0, UserLeadLast = 0xF9;
constexpr char16_t UserFirst = 0xE000, UserLast = 0xE757;

// The character of one double-byte sequence, or U+FFFD when 932 assigns it none.
char16_t decodePair(unsigned char lead, unsigned char trail) {
    if (lead >= UserLeadFirst && lead <= UserLeadLast)
        return char16_t(UserFirst + (lead - UserLeadFirst) * 188 + (trail < 0x80 ? trail - 0x40 : trail - 0x41));
    const char bytes[2] = {char(lead), char(trail)};
    wchar_t out[2] = {};
    const int n = MultiByteToWideChar(CodePage, MB_ERR_INVALID_CHARS, bytes, 2, out, 2);
    // Windows answers an unassigned pair with its default character instead of failing.
    if (n != 1 || (out[0] == 0x30FB && !(lead == 0x81 && trail == 0x45))) return Replacement;
    return char16_t(out[0]);
}

// The bytes of one character (one UTF-16 unit, or a surrogate pair), or empty when 932
// cannot hold it both ways.
std::string encodeOne(std::u16string_view c) {
    if (c.size() == 1 && c[0] < 0x80) return std::string(1, char(c[0]));
    if (c.size() == 1 && c[0] >= UserFirst && c[0] <= UserLast) {
        const int offset = c[0] - UserFirst;
        const int trail = offset % 188;
        return {char(UserLeadFirst + offset / 188), char(trail < 0x3F ? 0x40 + trail : 0x41 + trail)};
    }
    char bytes[4] = {};
    BOOL usedDefault = FALSE;
    const int n = WideCharToMultiByte(CodePage, WC_NO_BEST_FIT_CHARS, reinterpret_cast<const wchar_t*>(c.data()),
                                      int(c.size()), bytes, sizeof bytes, &Unmapped, &usedDefault);
    if (n <= 0 || usedDefault) return {};
    const std::string out(bytes, std::size_t(n));
    // What is stored must read back as the same character.
    if (decode(out) != c) return {};
    return out;
}

// The length of the character at `at`: 2 for a whole surrogate pair, else 1.
std::size_t unitLength(std::u16string_view text, std::size_t at) {
    const char16_t c = text[at];
    if (c >= 0xD800 && c <= 0xDBFF && at + 1 < text.size() && text[at + 1] >= 0xDC00 && text[at + 1] <= 0xDFFF)
        return 2;
    return 1;
}

} // namespace

std::string encode(std::u16string_view text) {
    if (text.empty()) return {};
    const auto* wide = reinterpret_cast<const wchar_t*>(text.data());
    const int n = WideCharToMultiByte(CodePage, 0, wide, int(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? std::size_t(n) : 0, '\0');
    if (n > 0) WideCharToMultiByte(CodePage, 0, wide, int(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}

std::u16string decode(std::string_view bytes) {
    std::u16string out;
    out.reserve(bytes.size());
    for (std::size_t at = 0; at < bytes.size();) {
        const unsigned char b = static_cast<unsigned char>(bytes[at]);
        if (b < 0x80) {
            out += char16_t(b);
            ++at;
        } else if (isHalfwidthKatakana(b)) {
            out += char16_t(0xFF61 + (b - 0xA1));
            ++at;
        } else if (isLead(b) && at + 1 < bytes.size() && isTrail(static_cast<unsigned char>(bytes[at + 1]))) {
            out += decodePair(b, static_cast<unsigned char>(bytes[at + 1]));
            at += 2;
        } else {
            // A lead byte without its trail, or a byte that 932 gives no meaning.
            out += Replacement;
            ++at;
        }
    }
    return out;
}

std::size_t byteCount(std::u16string_view text) { return encode(text).size(); }

std::size_t firstUnmappable(std::u16string_view text) {
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t n = unitLength(text, at);
        if (encodeOne(text.substr(at, n)).empty()) return at;
        at += n;
    }
    return std::u16string_view::npos;
}

} // namespace platform::cp932
