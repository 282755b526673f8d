// Text made plain before it reaches a terminal: one row per kind of character that could act
// on the terminal, turn the direction of what follows, or be read as another.
#include <gtest/gtest.h>

#include <string>

#include "platform/console.h"

namespace {

struct EscapeRow {
    const char* name;
    std::u16string text;
    std::u16string plain;          // escaped, the backslash too
    std::u16string keepBackslash;  // escaped, the backslash left as it is
};
void PrintTo(const EscapeRow& row, std::ostream* os) { *os << row.name; }

class Escaped : public testing::TestWithParam<EscapeRow> {};

TEST_P(Escaped, Row) {
    const EscapeRow& row = GetParam();
    EXPECT_EQ(platform::console::escaped(row.text), row.plain);
    EXPECT_EQ(platform::console::escaped(row.text, false), row.keepBackslash);
}

INSTANTIATE_TEST_SUITE_P(
    Console, Escaped,
    testing::Values(
        EscapeRow{"PlainText", u"kiosk あ", u"kiosk あ", u"kiosk あ"},
        EscapeRow{"BackslashAndLineBreak", u"C:\\new\nC:\new", u"C:\\\\new\\nC:\\new", u"C:\\new\\nC:\\new"},
        EscapeRow{"TabReturnNul", u"a\tb\rc" + std::u16string(1, u'\0'), u"a\\tb\\rc\\0", u"a\\tb\\rc\\0"},
        EscapeRow{"EscapeSequence", u"\x1b[2J\x07", u"\\x1b[2J\\x07", u"\\x1b[2J\\x07"},
        EscapeRow{"Delete", u"\x7f", u"\\x7f", u"\\x7f"},
        EscapeRow{"C1Controls", u"\u0080\u0085\u009b\u009f\u00a0", u"\\x80\\x85\\x9b\\x9f\u00a0", u"\\x80\\x85\\x9b\\x9f\u00a0"},
        EscapeRow{"BidirectionalControls", u"\u200e\u200f\u202a\u202e\u2066\u2069\u2070",
                  u"\\u200e\\u200f\\u202a\\u202e\\u2066\\u2069\u2070", u"\\u200e\\u200f\\u202a\\u202e\\u2066\\u2069\u2070"},
        EscapeRow{"SurrogatePairStays", u"\U0001F600", u"\U0001F600", u"\U0001F600"},
        EscapeRow{"LoneSurrogates", std::u16string{u'a', char16_t(0xD83D), u'b', char16_t(0xDC00)}, u"a\\ud83db\\udc00",
                  u"a\\ud83db\\udc00"}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
