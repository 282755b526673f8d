// The A form of a stored value, and whether it is the value as stored: text that code page 932
// holds is, any other text is not (the A functions put a best-fit look-alike or "?" in place of
// each code unit 932 lacks), and data of other types always is. The values are stored past the
// A functions, as another tool stores them, so the same table runs against the hive and against
// the system's registry.
#include <gtest/gtest.h>

#include <string>

#include "platform/registry.h"
#include "registry_fixture.h"

namespace {

using namespace platform;
using namespace std::string_literals;

std::string utf16(std::u16string_view text) {
    std::string bytes;
    for (char16_t c : text) {
        bytes.push_back(static_cast<char>(c & 0xFF));
        bytes.push_back(static_cast<char>(c >> 8));
    }
    return bytes;
}

struct ExactRow {
    const char* name;
    std::uint32_t type;
    std::string stored;
    std::string narrow; // what the A query hands out
    bool exact;
};
void PrintTo(const ExactRow& row, std::ostream* os) { *os << row.name; }

class QueryValueExact : public ::testing::TestWithParam<ExactRow> {};

TEST_P(QueryValueExact, Row) {
    const ExactRow& row = GetParam();
    registrytable::FreshKey fresh;
    if (!fresh.storeAsIs("Value", row.type, row.stored)) GTEST_SKIP() << "the system keeps other bytes than given";
    Key key = 0;
    ASSERT_EQ(RegOpenKeyExA(LocalMachine, fresh.subKey().c_str(), 0, KeyRead, &key), status::Success);
    bool exact = !row.exact;
    EXPECT_EQ(QueryValueExactA(key, "Value", &exact), status::Success);
    EXPECT_EQ(exact, row.exact);
    // The A query hands out the A form, whatever the question before it.
    std::string buffer(256, '\xCC');
    std::uint32_t size = static_cast<std::uint32_t>(buffer.size());
    EXPECT_EQ(RegQueryValueExA(key, "Value", nullptr, nullptr, reinterpret_cast<std::uint8_t*>(buffer.data()), &size),
              status::Success);
    EXPECT_EQ(buffer.substr(0, size), row.narrow);
    EXPECT_EQ(RegCloseKey(key), status::Success);
}

INSTANTIATE_TEST_SUITE_P(
    Registry, QueryValueExact,
    ::testing::Values(ExactRow{"Ascii", RegSz, utf16(u"Administrator\0"s), "Administrator\0"s, true},
                      ExactRow{"Kanji", RegSz, utf16(u"管理者\0"s), "\x8A\xC7\x97\x9D\x8E\xD2\0"s, true},
                      ExactRow{"HalfWidthKatakana", RegSz, utf16(u"ｶﾀｶﾅ\0"s), "\xB6\xC0\xB6\xC5\0"s, true},
                      ExactRow{"FullwidthTilde", RegSz, utf16(u"\uFF5E\0"s), "\x81\x60\0"s, true},
                      ExactRow{"Empty", RegSz, "", "", true},
                      ExactRow{"Unterminated", RegSz, utf16(u"abc"), "abc", true},
                      ExactRow{"AccentedLatin", RegSz, utf16(u"José\0"s), "Jose\0"s, false},
                      ExactRow{"LatinNotice", RegSz, utf16(u"naïve café\0"s), "naive cafe\0"s, false},
                      ExactRow{"YenSign", RegSz, utf16(u"\u00A5\0"s), "\x5C\0"s, false},
                      ExactRow{"WaveDash", RegSz, utf16(u"\u301C\0"s), "?\0"s, false},
                      ExactRow{"OutsideTheBasicPlane", RegSz, utf16(u"😀\0"s), "??\0"s, false},
                      ExactRow{"LoneSurrogate", RegSz, utf16(u"a\xDC00\0"s), "a?\0"s, false},
                      ExactRow{"ExpandableAccented", RegExpandSz, utf16(u"%X%é\0"s), "%X%e\0"s, false},
                      ExactRow{"MultiWithAccent", RegMultiSz, utf16(u"a\0é\0\0"s), "a\0e\0\0"s, false},
                      ExactRow{"MultiKanji", RegMultiSz, utf16(u"一\0二\0\0"s), "\x88\xEA\0\x93\xF1\0\0"s, true},
                      ExactRow{"Binary", RegBinary, "\xff\xfe\x00\x81"s, "\xff\xfe\x00\x81"s, true},
                      ExactRow{"Dword", RegDword, "\x01\x00\x00\x00"s, "\x01\x00\x00\x00"s, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(QueryValueExact, RefusesWhatTheQueryRefuses) {
    registrytable::FreshKey fresh;
    Key key = 0;
    ASSERT_EQ(RegOpenKeyExA(LocalMachine, fresh.subKey().c_str(), 0, KeyRead, &key), status::Success);
    bool exact = true;
    EXPECT_EQ(QueryValueExactA(key, "Absent", &exact), status::FileNotFound);
    EXPECT_FALSE(exact);
    EXPECT_EQ(QueryValueExactA(key, "Absent", nullptr), status::InvalidParameter);
    EXPECT_EQ(RegCloseKey(key), status::Success);
    EXPECT_EQ(QueryValueExactA(0, "Absent", &exact), status::InvalidHandle);
}

#ifndef _WIN32
// A string of an odd number of bytes loses its last byte in the A form.
TEST(QueryValueExact, OddByteOfTextIsLost) {
    registrytable::FreshKey fresh;
    ASSERT_TRUE(fresh.storeAsIs("Value", RegSz, utf16(u"ab") + "c"));
    Key key = 0;
    ASSERT_EQ(RegOpenKeyExA(LocalMachine, fresh.subKey().c_str(), 0, KeyRead, &key), status::Success);
    bool exact = true;
    EXPECT_EQ(QueryValueExactA(key, "Value", &exact), status::Success);
    EXPECT_FALSE(exact);
    EXPECT_EQ(RegCloseKey(key), status::Success);
}
#endif

} // namespace
