// The text boxes as the user types and pastes into them: the typing limit of 16, the
// asterisks of the password box, text from code taken whole, and the program's input filter.
#include "window_test.h"

namespace vantorio_test {
namespace {

// Both groups on, so that every text box takes input, and the boxes emptied.
void prepare(Form1Run& run) {
    run.session.click(AutoLogonOn);
    run.session.click(NoticeOn);
    for (const ControlId& id : {UserText, PassWordText, LogonCaptionText, LogonMessageText})
        run.text(id).setText(u"");
}

struct TypingCase {
    const char* name;
    ControlId control;
    std::u16string typed;
    std::u16string held;
    std::u16string shown;
};

void PrintTo(const TypingCase& row, std::ostream* os) { *os << row.name; }

class Typing : public ::testing::TestWithParam<TypingCase> {};

TEST_P(Typing, KeepsWhatTheLimitAllows) {
    const TypingCase& row = GetParam();
    Form1Run run;
    prepare(run);
    run.session.type(row.control, row.typed);
    EXPECT_EQ(narrow(run.text(row.control).text()), narrow(row.held));
    EXPECT_EQ(narrow(run.session.displayedText(row.control)), narrow(row.shown));
}

INSTANTIATE_TEST_SUITE_P(
    Form1, Typing,
    ::testing::Values(
        TypingCase{"UserText16", UserText, u"abcdefghijklmnop", u"abcdefghijklmnop", u"abcdefghijklmnop"},
        TypingCase{"UserText17thRefused", UserText, u"abcdefghijklmnopq", u"abcdefghijklmnop",
                   u"abcdefghijklmnop"},
        TypingCase{"UserTextJapanese17thRefused", UserText, u"ａｄｍｉｎｉｓｔｒａｔｏｒ管理者ですよ",
                   u"ａｄｍｉｎｉｓｔｒａｔｏｒ管理者", u"ａｄｍｉｎｉｓｔｒａｔｏｒ管理者"},
        TypingCase{"PassWordTextAsterisks", PassWordText, u"s3cret", u"s3cret", u"******"},
        TypingCase{"PassWordText17thRefused", PassWordText, u"0123456789ABCDEFG", u"0123456789ABCDEF",
                   u"****************"},
        TypingCase{"PassWordTextJapanese", PassWordText, u"ﾊﾟｽﾜｰﾄﾞ", u"ﾊﾟｽﾜｰﾄﾞ", u"*******"},
        TypingCase{"LogonCaptionTextUnlimited", LogonCaptionText,
                   u"ご注意ください：このコンピュータは許可された利用者だけが使えます。",
                   u"ご注意ください：このコンピュータは許可された利用者だけが使えます。",
                   u"ご注意ください：このコンピュータは許可された利用者だけが使えます。"}),
    [](const auto& info) { return std::string(info.param.name); });

// A password set from code shows as asterisks too, one for each character.
TEST(PassWordText, ShowsTextFromCodeAsAsterisks) {
    Form1Run run;
    prepare(run);
    run.text(PassWordText).setText(u"管理者のパスワード");
    EXPECT_EQ(run.session.displayedText(PassWordText), u"*********");
    EXPECT_EQ(run.text(PassWordText).text(), u"管理者のパスワード");
}

// Text from code is never cut by the limit; the user can shorten it but not lengthen it.
TEST(TypingLimit, TakesLongerTextFromCodeWhole) {
    Form1Run run;
    prepare(run);
    const std::u16string twenty = u"abcdefghijklmnopqrst";
    for (const ControlId& id : {UserText, PassWordText}) {
        SCOPED_TRACE(describe(id));
        run.text(id).setText(twenty);
        EXPECT_EQ(run.text(id).text(), twenty);
        EXPECT_EQ(run.session.displayedText(id).size(), 20u);

        run.session.type(id, u"u");  // the cursor stands at the end after a set
        EXPECT_EQ(run.text(id).text(), twenty);
        run.session.press(Key::Backspace, id);
        EXPECT_EQ(run.text(id).text(), u"abcdefghijklmnopqrs");
        run.session.type(id, u"v");
        EXPECT_EQ(run.text(id).text(), u"abcdefghijklmnopqrs");
        if (id == UserText) {
            // Undoing the deletion would lengthen the text beyond the limit: refused like
            // typing, and the limit still holds after it.
            run.session.press(Key::Undo, id);
            EXPECT_EQ(run.text(id).text(), u"abcdefghijklmnopqrs");
            run.session.type(id, u"w");
            EXPECT_EQ(run.text(id).text(), u"abcdefghijklmnopqrs");
        }
        run.session.press(Key::Home, id);
        run.session.press(Key::Delete, id);
        EXPECT_EQ(run.text(id).text(), u"bcdefghijklmnopqrs");
    }
}

struct PasteCase {
    const char* name;
    std::u16string before;
    std::u16string pasted;
    std::u16string after;
};

void PrintTo(const PasteCase& row, std::ostream* os) { *os << row.name; }

class Pasting : public ::testing::TestWithParam<PasteCase> {};

// A paste that would pass the limit is refused whole.
TEST_P(Pasting, IntoUserText) {
    const PasteCase& row = GetParam();
    Form1Run run;
    prepare(run);
    run.text(UserText).setText(row.before);
    run.session.paste(UserText, row.pasted);
    EXPECT_EQ(narrow(run.text(UserText).text()), narrow(row.after));
}

INSTANTIATE_TEST_SUITE_P(Form1, Pasting,
                         ::testing::Values(PasteCase{"Fits", u"admin", u"istrator", u"administrator"},
                                           PasteCase{"FillsTheLimit", u"", u"0123456789abcdef", u"0123456789abcdef"},
                                           PasteCase{"PassesTheLimit", u"administ", u"rator-account", u"administ"}),
                         [](const auto& info) { return std::string(info.param.name); });

// The filter that the program sets sees each of the user's edits with the text before and
// after it, and a refused edit leaves the text as it was; text from code passes unfiltered.
TEST(InputFilter, DecidesEveryEditOfTheUser) {
    std::vector<std::pair<std::u16string, std::u16string>> seen;
    Form1Run run;
    prepare(run);
    run.text(LogonCaptionText).setInputFilter([&](std::u16string_view current, std::u16string_view proposed) {
        seen.emplace_back(current, proposed);
        return proposed.find(u'x') == std::u16string_view::npos;
    });
    run.session.type(LogonCaptionText, u"axb");
    EXPECT_EQ(run.text(LogonCaptionText).text(), u"ab");
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.front(), (std::pair<std::u16string, std::u16string>{u"", u"a"}));

    run.session.paste(LogonCaptionText, u"cxd");
    EXPECT_EQ(run.text(LogonCaptionText).text(), u"ab");
    run.session.paste(LogonCaptionText, u"cd");
    EXPECT_EQ(run.text(LogonCaptionText).text(), u"abcd");

    seen.clear();
    run.session.press(Key::Backspace, LogonCaptionText);
    EXPECT_EQ(run.text(LogonCaptionText).text(), u"abc");
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.back(), (std::pair<std::u16string, std::u16string>{u"abcd", u"abc"}));

    seen.clear();
    run.text(LogonCaptionText).setText(u"fix");
    EXPECT_EQ(run.text(LogonCaptionText).text(), u"fix");
    EXPECT_TRUE(seen.empty());
}

// The filter and the limit apply together.
TEST(InputFilter, WorksBesideTheLimit) {
    Form1Run run;
    prepare(run);
    run.text(UserText).setInputFilter([](std::u16string_view, std::u16string_view proposed) {
        return proposed.find(u'#') == std::u16string_view::npos;
    });
    run.session.type(UserText, u"ab#cdefghijklmnopqrs");
    EXPECT_EQ(run.text(UserText).text(), u"abcdefghijklmnop");
}

// A disabled box takes no typing.
TEST(Typing, DisabledBoxTakesNothing) {
    Form1Run run;
    prepare(run);
    run.session.click(AutoLogonOff);
    run.session.type(UserText, u"abc");
    EXPECT_EQ(run.text(UserText).text(), u"");
}

} // namespace
} // namespace vantorio_test
