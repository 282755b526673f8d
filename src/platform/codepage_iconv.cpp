// Code page 932 conversion through glibc's iconv "CP932" converter, which follows the Windows
// table (NEC row 13, the IBM extensions, the user-defined area at F040-F9FC). A few Unicode
// characters iconv folds onto bytes that decode to a different character (U+00A5 onto 5C,
// U+301C onto 81 60, ...); those count as having no mapping here, so that what can be held
// always decodes to the same text. What has no mapping is encoded as the system encodes it:
// the best-fit bytes of the table made from the system's own conversion, or '?'.
#include "platform/codepage.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <iconv.h>

#include "platform/codepage_best_fit.h"

namespace platform::cp932 {
namespace {

#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
constexpr const char* Utf16 = "UTF-16LE";
#else
constexpr const char* Utf16 = "UTF-16BE";
#endif

constexpr char16_t Replacement = 0xFFFD;
constexpr char Unmapped = '?';

// One converter per direction for the life of the program, reset before each use.
class Converter {
public:
    Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~Converter() {
        if (valid()) iconv_close(cd_);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    bool valid() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
    iconv_t reset() {
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        return cd_;
    }

private:
    iconv_t cd_;
};

Converter& encoder() {
    static Converter c("CP932", Utf16);
    return c;
}
Converter& decoder() {
    static Converter c(Utf16, "CP932");
    return c;
}

// Characters that iconv maps one way only: their bytes decode to another character.
bool oneWay(char16_t c) {
    switch (c) {
    case 0x00A2: case 0x00A3: case 0x00A5: case 0x00AC: case 0x2014:
    case 0x2016: case 0x203E: case 0x2212: case 0x301C:
        return true;
    default:
        return false;
    }
}

// Appends what the system makes of one code unit that 932 cannot hold both ways.
void appendBestFit(char16_t unit, std::string& out) {
    const auto* end = std::end(BestFitTable);
    const auto* fit = std::lower_bound(std::begin(BestFitTable), end, unit,
                                       [](const BestFit& f, char16_t u) { return f.unit < u; });
    if (fit == end || fit->unit != unit) {
        out.push_back(Unmapped);
    } else {
        if (fit->bytes > 0xFF) out.push_back(static_cast<char>(fit->bytes >> 8));
        out.push_back(static_cast<char>(fit->bytes & 0xFF));
    }
}

bool isHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool isLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// The number of code units of the character at `at`: a surrogate pair is one character.
std::size_t unitsAt(std::u16string_view text, std::size_t at) {
    return isHighSurrogate(text[at]) && at + 1 < text.size() && isLowSurrogate(text[at + 1]) ? 2 : 1;
}

// Converts `text` into `out` (which it appends to, when given), writing the best-fit bytes or
// '?' for each code unit of a character without a mapping (a surrogate pair is two of them, as
// the system counts). Returns the position of the first such character, or npos.
std::size_t encodeInto(std::u16string_view text, std::string* out) {
    std::size_t firstBad = std::u16string_view::npos;
    // The character at `at`, of `units` code units, has no mapping; returns the position after it.
    auto unmapped = [&](std::size_t at, std::size_t units) {
        if (firstBad == std::u16string_view::npos) firstBad = at;
        if (out)
            for (std::size_t i = 0; i < units; ++i) appendBestFit(text[at + i], *out);
        return at + units;
    };

    Converter& conv = encoder();
    // At most two bytes a code unit, so a chunk of half the buffer always fits.
    char buffer[512];
    constexpr std::size_t chunk = sizeof buffer / 2;
    std::size_t at = 0;
    while (at < text.size()) {
        if (oneWay(text[at])) {
            at = unmapped(at, 1);
            continue;
        }
        if (!conv.valid()) { // no converter: ASCII only
            if (text[at] < 0x80) {
                if (out) out->push_back(static_cast<char>(text[at]));
                ++at;
            } else {
                at = unmapped(at, unitsAt(text, at));
            }
            continue;
        }
        // The run up to the next one-way character, cut into chunks that never split a pair.
        std::size_t end = at;
        while (end < text.size() && end - at < chunk && !oneWay(text[end])) ++end;
        if (end < text.size() && end - at > 1 && isHighSurrogate(text[end - 1])) --end;
        iconv_t cd = conv.reset();
        char* in = reinterpret_cast<char*>(const_cast<char16_t*>(text.data() + at));
        std::size_t inLeft = (end - at) * 2;
        char* o = buffer;
        std::size_t outLeft = sizeof buffer;
        const std::size_t r = iconv(cd, &in, &inLeft, &o, &outLeft);
        if (out) out->append(buffer, static_cast<std::size_t>(o - buffer));
        at = end - inLeft / 2;
        if (r == static_cast<std::size_t>(-1) && at < end) {
            // EILSEQ (no mapping, a lone surrogate) or EINVAL (a high surrogate at the end).
            at = unmapped(at, unitsAt(text, at));
        }
    }
    return firstBad;
}

} // namespace

std::string encode(std::u16string_view text) {
    std::string out;
    out.reserve(text.size() * 2);
    encodeInto(text, &out);
    return out;
}

std::u16string decode(std::string_view bytes) {
    std::u16string out;
    out.reserve(bytes.size());
    Converter& conv = decoder();
    char16_t buffer[256];
    std::size_t at = 0;
    iconv_t cd = conv.reset();
    while (at < bytes.size()) {
        const auto byte = static_cast<unsigned char>(bytes[at]);
        if (!conv.valid()) {
            out.push_back(byte < 0x80 ? static_cast<char16_t>(byte) : Replacement);
            ++at;
            continue;
        }
        char* in = const_cast<char*>(bytes.data() + at);
        std::size_t inLeft = bytes.size() - at;
        char* o = reinterpret_cast<char*>(buffer);
        std::size_t outLeft = sizeof buffer;
        const std::size_t r = iconv(cd, &in, &inLeft, &o, &outLeft);
        const int err = errno;
        out.append(buffer, static_cast<std::size_t>(o - reinterpret_cast<char*>(buffer)) / 2);
        at = bytes.size() - inLeft;
        if (r != static_cast<std::size_t>(-1) || err == E2BIG) continue;
        // An invalid sequence (EILSEQ) or a lead byte cut off by the end (EINVAL): one U+FFFD.
        // A lead byte takes its partner along only when that is a possible trail byte, so an
        // ASCII character after a broken lead byte survives.
        out.push_back(Replacement);
        const auto lead = static_cast<unsigned char>(bytes[at]);
        const bool isLead = (lead >= 0x81 && lead <= 0x9F) || (lead >= 0xE0 && lead <= 0xFC);
        std::size_t skip = 1;
        if (isLead && at + 1 < bytes.size()) {
            const auto trail = static_cast<unsigned char>(bytes[at + 1]);
            if ((trail >= 0x40 && trail <= 0x7E) || (trail >= 0x80 && trail <= 0xFC)) skip = 2;
        }
        at += skip;
        cd = conv.reset();
    }
    return out;
}

std::size_t byteCount(std::u16string_view text) {
    std::size_t ascii = 0;
    while (ascii < text.size() && text[ascii] < 0x80) ++ascii;
    if (ascii == text.size()) return ascii;
    return ascii + encode(text.substr(ascii)).size();
}

std::size_t firstUnmappable(std::u16string_view text) { return encodeInto(text, nullptr); }

} // namespace platform::cp932
