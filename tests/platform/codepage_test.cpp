// Code page 932 as Windows maps it: the vectors that tell it from plain Shift_JIS, what has no
// mapping and what the system makes of it, and what broken bytes become.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "codepage_units.h"
#include "platform/codepage.h"

namespace cp932 = platform::cp932;
using namespace std::string_literals;

namespace {

struct Vector {
    const char* name;
    std::u16string text;
    std::string bytes;
};
void PrintTo(const Vector& row, std::ostream* os) { *os << row.name; }

class RoundTrip : public testing::TestWithParam<Vector> {};

TEST_P(RoundTrip, EncodesAndDecodesToEachOther) {
    const Vector& v = GetParam();
    EXPECT_EQ(cp932::encode(v.text), v.bytes);
    EXPECT_EQ(cp932::decode(v.bytes), v.text);
    EXPECT_EQ(cp932::byteCount(v.text), v.bytes.size());
    EXPECT_TRUE(cp932::mappable(v.text));
}

INSTANTIATE_TEST_SUITE_P(
    Windows, RoundTrip,
    testing::Values(
        Vector{"Empty", u"", ""},
        Vector{"Ascii", u"Administrator", "Administrator"},
        Vector{"BackslashStaysBackslash", u"\\", "\x5C"},
        Vector{"TildeStaysTilde", u"~", "\x7E"},
        Vector{"FullwidthTilde", u"\uFF5E", "\x81\x60"},
        Vector{"ParallelTo", u"\u2225", "\x81\x61"},
        Vector{"FullwidthNot", u"\uFFE2", "\x81\xCA"},
        Vector{"FullwidthMinus", u"\uFF0D", "\x81\x7C"},
        Vector{"HorizontalBar", u"\u2015", "\x81\x5C"},
        Vector{"FullwidthCent", u"\uFFE0", "\x81\x91"},
        Vector{"CircledOneFromNecRow13", u"\u2460", "\x87\x40"},
        Vector{"RomanOneFromNecRow13", u"\u2160", "\x87\x54"},
        Vector{"SmallRomanOneFromIbm", u"\u2170", "\xFA\x40"},
        Vector{"KanjiFromIbmExtension", u"\u7E8A", "\xFA\x5C"},
        Vector{"ApproximatelyFromJisRow2", u"\u2252", "\x81\xE0"},
        Vector{"HalfwidthKatakanaFirst", u"\uFF61", "\xA1"},
        Vector{"HalfwidthKatakanaLast", u"\uFF9F", "\xDF"},
        Vector{"SoHasBackslashTrail", u"ソ", "\x83\x5C"},
        Vector{"Katakana", u"テスト", "\x83\x65\x83\x58\x83\x67"},
        Vector{"Kanji", u"表示", "\x95\x5C\x8E\xA6"},
        Vector{"UserDefinedArea", u"\uE000\uE757", "\xF0\x40\xF9\xFC"},
        Vector{"NulPassesThrough", u"a\0b\0"s, "a\0b\0"s},
        Vector{"Mixed", u"ｱA表\\", "\xB1" "A\x95\x5C\x5C"}),
    [](const auto& info) { return std::string(info.param.name); });

struct Unmappable {
    const char* name;
    std::u16string text;
    std::size_t first;
    std::string encoded; // each code unit without a mapping becomes its best fit or '?'
};
void PrintTo(const Unmappable& row, std::ostream* os) { *os << row.name; }

class NoMapping : public testing::TestWithParam<Unmappable> {};

TEST_P(NoMapping, IsReportedAndEncodedAsTheSystemDoes) {
    const Unmappable& v = GetParam();
    EXPECT_EQ(cp932::firstUnmappable(v.text), v.first);
    EXPECT_FALSE(cp932::mappable(v.text));
    EXPECT_EQ(cp932::encode(v.text), v.encoded);
    EXPECT_EQ(cp932::byteCount(v.text), v.encoded.size());
}

INSTANTIATE_TEST_SUITE_P(
    Windows, NoMapping,
    testing::Values(
        // Characters that would encode to bytes that decode to something else.
        Unmappable{"YenSignFitsBackslash", u"a\u00A5", 1, "a\x5C"},
        Unmappable{"Overline", u"\u203E", 0, "?"},
        Unmappable{"WaveDash", u"\u301C", 0, "?"},
        Unmappable{"EmDash", u"\u2014", 0, "?"},
        Unmappable{"MinusSign", u"\u2212", 0, "?"},
        Unmappable{"DoubleVerticalLine", u"x\u2016", 1, "x?"},
        Unmappable{"CentSignFitsFullwidthCent", u"\u00A2", 0, "\x81\x91"},
        Unmappable{"NotSignFitsFullwidthNot", u"\u00AC", 0, "\x81\xCA"},
        // Characters outside the code page, some with a look-alike.
        Unmappable{"LatinAccentFitsItsLetter", u"Jos\u00E9", 3, "Jose"},
        Unmappable{"HiraganaVuFitsKatakanaVu", u"\u3094", 0, "\x83\x94"},
        Unmappable{"C1ControlFitsItsByte", u"\u0080", 0, "\x80"},
        Unmappable{"PrivateUseFitsAByteWithoutMeaning", u"\uF8F0\uF8F3", 0, "\xA0\xFF"},
        Unmappable{"PastTheUserDefinedArea", u"\uE758", 0, "?"},
        Unmappable{"ReplacementCharacter", u"\uFFFD", 0, "?"},
        Unmappable{"Hangul", u"\uD55C", 0, "?"},
        Unmappable{"SurrogatePairIsOneCharacterOfTwoUnits", u"A\U0001F600B", 1, "A??B"},
        Unmappable{"LoneHighSurrogateAtEnd", u"ab\xD800", 2, "ab?"},
        Unmappable{"LoneLowSurrogate", u"\xDC00z", 0, "?z"},
        Unmappable{"AfterKanji", u"表\u00E9表", 1, "\x95\x5C" "e\x95\x5C"}),
    [](const auto& info) { return std::string(info.param.name); });

struct Broken {
    const char* name;
    std::string bytes;
    std::u16string text;
};
void PrintTo(const Broken& row, std::ostream* os) { *os << row.name; }

class BrokenBytes : public testing::TestWithParam<Broken> {};

TEST_P(BrokenBytes, BecomeReplacementCharacters) { EXPECT_EQ(cp932::decode(GetParam().bytes), GetParam().text); }

INSTANTIATE_TEST_SUITE_P(
    Windows, BrokenBytes,
    testing::Values(
        Broken{"LeadByteCutOffAtEnd", "ab\x83", u"ab\uFFFD"},
        Broken{"LoneLeadByteOnly", "\x95", u"\uFFFD"},
        Broken{"LeadWithAsciiAfterKeepsTheAscii", "\x83" "1!", u"\uFFFD" "1!"},
        Broken{"AsciiLetterIsAValidTrail", "\x83" "A", u"\u30A2"},
        Broken{"LeadWithControlAfter", "\x83\x0A", u"\uFFFD\n"},
        Broken{"UnassignedPairIsOneCharacter", "\x85\x40" "x", u"\uFFFD" "x"},
        Broken{"ByteWithoutMeaning80", "\x80", u"\uFFFD"},
        Broken{"ByteWithoutMeaningA0", "a\xA0", u"a\uFFFD"},
        Broken{"BytesWithoutMeaningFDtoFF", "\xFD\xFE\xFF", u"\uFFFD\uFFFD\uFFFD"},
        Broken{"NulAfterLead", "\x83\0z"s, u"\uFFFD\0z"s}),
    [](const auto& info) { return std::string(info.param.name); });

// The settings store converts its 1024-character transfer buffer on every call: long texts
// must convert whole, across the converter's internal chunks, with pairs split nowhere.
TEST(LongText, ConvertsWholeAcrossChunks) {
    std::u16string text;
    std::string bytes;
    for (int i = 0; i < 700; ++i) {
        text += u"ソa";
        bytes += "\x83\x5C" "a";
    }
    EXPECT_EQ(cp932::encode(text), bytes);
    EXPECT_EQ(cp932::decode(bytes), text);
    EXPECT_EQ(cp932::byteCount(text), bytes.size());

    std::u16string emoji(255, u'x');
    emoji += u"\U0001F600"; // its pair straddles the first chunk's end
    EXPECT_EQ(cp932::encode(emoji), std::string(255, 'x') + "??");
    EXPECT_EQ(cp932::firstUnmappable(emoji), 255u);
}

// The best-fit table in the tree is what the system makes of every code unit: on Windows the
// conversion is the system's own, so this holds the table to it (scripts/codepage-best-fit
// writes it anew); on POSIX it holds iconv and the table, unit by unit, to the same bytes.
TEST(EveryCodeUnit, EncodesAsTheSystemDoes) {
    const codepageunits::EveryUnit all = codepageunits::everyUnit();
    EXPECT_EQ(all.bestFit, std::vector(std::begin(cp932::BestFitTable), std::end(cp932::BestFitTable)));
    EXPECT_EQ(all.digest, cp932::EveryUnitDigest) << "some code unit encodes otherwise than the system encoded it "
                                                     "when scripts/codepage-best-fit last ran";
}

TEST(LongText, DecodeOfEveryByteNeverReadsPastTheEnd) {
    // Each buffer ends in every possible byte; under the address sanitizer an overread shows.
    for (int b = 0; b < 256; ++b) {
        const std::string bytes(1, static_cast<char>(b));
        const std::u16string text = cp932::decode(bytes);
        ASSERT_EQ(text.size(), 1u) << b;
        for (int t = 0; t < 256; t += 17) {
            const std::string pair{static_cast<char>(b), static_cast<char>(t)};
            const std::u16string two = cp932::decode(pair);
            ASSERT_GE(two.size(), 1u);
            ASSERT_LE(two.size(), 2u);
        }
    }
}

} // namespace
