#include "commands/values.h"

#include "platform/bytes.h"
#include "platform/console.h"
#include "platform/utf8.h"

namespace commands {

namespace {

std::u16string ascii(std::string_view text) { return {text.begin(), text.end()}; }

std::u16string typeName(std::uint32_t type) {
    static constexpr const char* Names[] = {"REG_NONE", "REG_SZ", "REG_EXPAND_SZ", "REG_BINARY", "REG_DWORD",
                                            "REG_DWORD_BIG_ENDIAN", "REG_LINK", "REG_MULTI_SZ"};
    if (type < std::size(Names)) return ascii(Names[type]);
    if (type == 11) return u"REG_QWORD";
    return u"type " + ascii(std::to_string(type));
}

bool isText(std::uint32_t type) { return type == platform::RegSz || type == platform::RegExpandSz || type == platform::RegMultiSz; }

std::u16string hex(std::string_view bytes, const char16_t* between) {
    static constexpr char16_t Digits[] = u"0123456789abcdef";
    std::u16string out;
    for (unsigned char b : bytes) {
        if (!out.empty()) out += between;
        out += Digits[b >> 4];
        out += Digits[b & 15];
    }
    return out;
}

bool isNumber(const platform::StoredValue& v) { return v.type == platform::RegDword && v.data.size() == 4; }

} // namespace

std::u16string QuotedText(std::u16string_view text) {
    std::u16string out = u"\"";
    for (char16_t c : platform::console::escaped(text)) {
        if (c == u'"') out += u'\\';
        out += c;
    }
    return out + u"\"";
}

std::u16string StoredForPeople(const platform::StoredValue& v) {
    std::u16string out = typeName(v.type) + u" ";
    if (isText(v.type)) {
        out += QuotedText(platform::fromUtf16le(v.data));
        if (v.data.size() % 2) out += u" and the odd byte " + hex(v.data.substr(v.data.size() - 1), u"");
    } else if (isNumber(v)) {
        out += ascii(std::to_string(platform::le32(v.data, 0)));
    } else {
        out += v.data.empty() ? u"(no data)" : hex(v.data, u" ");
    }
    return out;
}

std::u16string ValueForPeople(const platform::StoredValue& v) {
    const std::u16string text = platform::fromUtf16le(v.data);
    if (v.type == platform::RegSz && v.data.size() % 2 == 0 && !text.empty() && text.find(u'\0') == text.size() - 1)
        return QuotedText(text.substr(0, text.size() - 1));
    return StoredForPeople(v);
}

std::u16string Json(std::u16string_view text) {
    std::u16string out = u"\"";
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        const bool high = c >= 0xD800 && c <= 0xDBFF, low = c >= 0xDC00 && c <= 0xDFFF;
        if (high && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            out += {c, text[++i]};
        } else if (c == u'"' || c == u'\\') {
            out += {u'\\', c};
        } else if (c == u'\n') {
            out += u"\\n";
        } else if (c < 0x20 || (c >= 0x7F && c <= 0x9F) || high || low ||
                   platform::console::escaped(std::u16string_view(&c, 1)) != std::u16string_view(&c, 1)) {
            out += u"\\u" + hex(std::string{char(c >> 8), char(c & 0xFF)}, u"");
        } else {
            out += c;
        }
    }
    return out + u"\"";
}

std::u16string JsonStored(const platform::StoredValue& v) {
    std::u16string out = u"{\"type\": " + Json(typeName(v.type)) + u", \"bytes\": " + Json(hex(v.data, u""));
    if (isText(v.type)) out += u", \"text\": " + Json(platform::fromUtf16le(v.data));
    if (isNumber(v)) out += u", \"number\": " + ascii(std::to_string(platform::le32(v.data, 0)));
    return out + u"}";
}

std::string Quoted(std::string_view bytes) {
    return "'" + platform::toUtf8(platform::console::escapedPath(bytes)) + "'";
}

} // namespace commands
