#include "platform/hive/names.h"

#include <cstdint>

namespace platform::hive {
namespace {

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
