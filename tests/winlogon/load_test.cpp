// Start-up on hives of every shape: what each stored value becomes in the window.
#include "store_test.h"

namespace vantorio_test {
namespace {

struct Shown {
    bool autoLogon = false;
    int lastLogon = 0;
    int shutdown = 0;
    std::u16string user, password;
    bool notice = false;
    std::u16string caption, text;
};

struct LoadCase {
    const char* name;
    std::vector<HiveValue> stored;
    Shown shown;
};
void PrintTo(const LoadCase& row, std::ostream* os) { *os << row.name; }

Shown on(Shown s) { s.autoLogon = true; return s; }
Shown user(std::u16string text) { Shown s; s.user = std::move(text); return s; }
Shown password(std::u16string text) { Shown s; s.password = std::move(text); return s; }
Shown caption(std::u16string text) { Shown s; s.caption = std::move(text); return s; }
Shown notice(std::u16string text, std::u16string captionText = u"") {
    Shown s;
    s.notice = true;
    s.text = std::move(text);
    s.caption = std::move(captionText);
    return s;
}

using window::Form1;

const std::u16string Te = u"テ";  // two bytes in code page 932

class Load : public ::testing::TestWithParam<LoadCase> {};

TEST_P(Load, ShowsTheStoredValues) {
    const LoadCase& row = GetParam();
    HiveRun hive(row.stored);
    Form1Run& run = hive.start();
    ASSERT_FALSE(run.session.ended());
    Form1& form = *run.form1;
    const Shown& want = row.shown;

    EXPECT_EQ(form.AutoLogonOption[1].selected(), want.autoLogon);
    EXPECT_EQ(form.AutoLogonOption[0].selected(), !want.autoLogon);
    EXPECT_EQ(form.LastLogonCheck.value(), want.lastLogon);
    EXPECT_EQ(form.ShutdownCheck.value(), want.shutdown);
    EXPECT_EQ(narrow(form.UserText.text()), narrow(want.user));
    EXPECT_EQ(narrow(form.PassWordText.text()), narrow(want.password));
    EXPECT_EQ(form.LogonMessageOption[1].selected(), want.notice);
    EXPECT_EQ(form.LogonMessageOption[0].selected(), !want.notice);
    EXPECT_EQ(narrow(form.LogonCaptionText.text()), narrow(want.caption));
    EXPECT_EQ(narrow(form.LogonMessageText.text()), narrow(want.text));
    // The groups are enabled as their options say from the first moment.
    EXPECT_EQ(form.UserText.enabled(), want.autoLogon);
    EXPECT_EQ(form.LastLogonCheck.enabled(), !want.autoLogon);
    EXPECT_EQ(form.LogonMessageText.enabled(), want.notice);
    // Loading only reads.
    EXPECT_TRUE(hive.unchanged());
}

INSTANTIATE_TEST_SUITE_P(
    Winlogon, Load,
    ::testing::Values(
        LoadCase{"NoValues", {}, {}},
        LoadCase{"FreshWorkstation",
                 {sz("AutoAdminLogon", u"0"), sz("DefaultUserName", u"Administrator"),
                  sz("DontDisplayLastUserName", u"0"), sz("ShutdownWithoutLogon", u"1"),
                  sz("LegalNoticeCaption", u""), sz("LegalNoticeText", u"")},
                 [] { Shown s = user(u"Administrator"); s.shutdown = 1; return s; }()},
        // Only the first character of a flag counts, and only "1" is on.
        LoadCase{"AutoAdminLogon1", {sz("AutoAdminLogon", u"1")}, on({})},
        LoadCase{"AutoAdminLogon10", {sz("AutoAdminLogon", u"10")}, on({})},
        LoadCase{"AutoAdminLogon1x", {sz("AutoAdminLogon", u"1x")}, on({})},
        LoadCase{"AutoAdminLogonBlank1", {sz("AutoAdminLogon", u" 1")}, {}},
        LoadCase{"AutoAdminLogonYes", {sz("AutoAdminLogon", u"yes")}, {}},
        LoadCase{"AutoAdminLogon0", {sz("AutoAdminLogon", u"0")}, {}},
        LoadCase{"AutoAdminLogonEmpty", {sz("AutoAdminLogon", u"")}, {}},
        LoadCase{"AutoAdminLogonDword1", {raw("AutoAdminLogon", 4, std::string("\1\0\0\0", 4))}, {}},
        LoadCase{"AutoAdminLogonFullWidth1", {sz("AutoAdminLogon", u"１")}, {}},
        LoadCase{"DontDisplayLastUserName1", {sz("DontDisplayLastUserName", u"1")},
                 [] { Shown s; s.lastLogon = 1; return s; }()},
        LoadCase{"ShutdownWithoutLogon1", {sz("ShutdownWithoutLogon", u"1")},
                 [] { Shown s; s.shutdown = 1; return s; }()},
        LoadCase{"ShutdownWithoutLogon0", {sz("ShutdownWithoutLogon", u"0")}, {}},
        LoadCase{"ShutdownAbsentAfterLastLogon1", {sz("DontDisplayLastUserName", u"1")},
                 [] { Shown s; s.lastLogon = 1; return s; }()},
        // Byte limits of the reads: 64 for the auto-logon values.
        LoadCase{"UserName63Bytes", {sz("DefaultUserName", times(63, u"u"))}, user(times(63, u"u"))},
        LoadCase{"UserName64Bytes", {sz("DefaultUserName", times(64, u"u"))}, {}},
        LoadCase{"UserName62BytesJapanese", {sz("DefaultUserName", times(31, Te))}, user(times(31, Te))},
        LoadCase{"UserName63BytesMixed", {sz("DefaultUserName", times(31, Te) + u"a")}, user(times(31, Te) + u"a")},
        LoadCase{"UserName64BytesJapanese", {sz("DefaultUserName", times(32, Te))}, {}},
        LoadCase{"UserNameJapanese10", {sz("DefaultUserName", u"山田太郎管理者用端末")}, user(u"山田太郎管理者用端末")},
        LoadCase{"PasswordLongerThanTheTypingLimit", {sz("DefaultPassword", times(40, u"p"))},
                 password(times(40, u"p"))},
        // 128 for the caption, 1024 for the text.
        LoadCase{"Caption127Bytes", {sz("LegalNoticeCaption", times(127, u"c"))}, caption(times(127, u"c"))},
        LoadCase{"Caption128Bytes", {sz("LegalNoticeCaption", times(128, u"c"))}, {}},
        LoadCase{"Caption126BytesJapanese", {sz("LegalNoticeCaption", times(63, Te))}, caption(times(63, Te))},
        LoadCase{"Caption128BytesJapanese", {sz("LegalNoticeCaption", times(64, Te))}, {}},
        LoadCase{"Text1023Bytes", {sz("LegalNoticeText", times(1023, u"t"))}, notice(times(1023, u"t"))},
        LoadCase{"Text1024Bytes", {sz("LegalNoticeText", times(1024, u"t"))}, {}},
        LoadCase{"Text1023BytesMixed", {sz("LegalNoticeText", times(511, Te) + u"t")},
                 notice(times(511, Te) + u"t")},
        LoadCase{"Text1024BytesJapanese", {sz("LegalNoticeText", times(512, Te))}, {}},
        LoadCase{"Text500Japanese", {sz("LegalNoticeText", times(100, u"ご利用前に"))},  // 500 characters
                 notice(times(100, u"ご利用前に"))},
        LoadCase{"CaptionAndText", {sz("LegalNoticeCaption", u"警告"), sz("LegalNoticeText", u"許可された方のみ")},
                 notice(u"許可された方のみ", u"警告")},
        LoadCase{"CaptionWithoutText", {sz("LegalNoticeCaption", u"警告")}, caption(u"警告")},
        LoadCase{"CaptionWithEmptyText", {sz("LegalNoticeCaption", u"警告"), sz("LegalNoticeText", u"")},
                 caption(u"警告")},
        LoadCase{"TextWithoutCaption", {sz("LegalNoticeText", u"notice")}, notice(u"notice")},
        LoadCase{"TextCrLf", {sz("LegalNoticeText", u"line one\r\nline two")}, notice(u"line one\r\nline two")},
        // A zero-byte value is empty (a flag off); nothing an earlier read left shows through.
        LoadCase{"ZeroBytePasswordAfterUserName",
                 {sz("DefaultUserName", u"Alexander"), raw("DefaultPassword", 1, "")}, user(u"Alexander")},
        LoadCase{"ZeroByteShutdownAfterLastLogon1",
                 {sz("DontDisplayLastUserName", u"1"), raw("ShutdownWithoutLogon", 1, "")},
                 [] { Shown s; s.lastLogon = 1; return s; }()},
        LoadCase{"ZeroByteTextAfterCaption",
                 {sz("LegalNoticeCaption", u"警告"), raw("LegalNoticeText", 1, "")}, caption(u"警告")},
        // A text stored without its NUL is exactly its bytes.
        LoadCase{"UnterminatedPasswordAfterLongerUserName",
                 {sz("DefaultUserName", u"Alexander"), unterminated("DefaultPassword", u"pw")},
                 [] { Shown s = user(u"Alexander"); s.password = u"pw"; return s; }()},
        LoadCase{"UnterminatedTextAfterLongerCaption",
                 {sz("LegalNoticeCaption", u"a long caption"), unterminated("LegalNoticeText", u"hi")},
                 notice(u"hi", u"a long caption")},
        LoadCase{"UnterminatedFlag", {unterminated("AutoAdminLogon", u"1")}, on({})},
        // Names match whatever their case.
        LoadCase{"ValueNamesInOtherCase", {sz("autoadminlogon", u"1"), sz("DEFAULTUSERNAME", u"ops")},
                 on(user(u"ops"))}),
    [](const auto& info) { return std::string(info.param.name); });

// Without the Winlogon key every default shows, and nothing is said.
TEST(LoadWithoutKey, ShowsTheDefaultsSilently) {
    HiveRun hive({}, false);
    Form1Run& run = hive.start();
    Form1& form = *run.form1;
    EXPECT_TRUE(form.AutoLogonOption[0].selected());
    EXPECT_EQ(form.LastLogonCheck.value(), 0);
    EXPECT_EQ(form.ShutdownCheck.value(), 0);
    EXPECT_EQ(form.UserText.text(), u"");
    EXPECT_TRUE(form.LogonMessageOption[0].selected());
    EXPECT_TRUE(run.session.messageBoxes().empty());
    EXPECT_TRUE(run.session.reports().empty());
    // The close of a key that never opened fails, and that is the last result.
    EXPECT_NE(winlogon::LastResult, 0);
}

// A stored password is masked from the first moment, whatever its length.
TEST(LoadPassword, ShowsOnlyAsterisks) {
    HiveRun hive({sz("AutoAdminLogon", u"1"), sz("DefaultPassword", u"秘密のpassword")});
    Form1Run& run = hive.start();
    EXPECT_EQ(run.session.displayedText(PassWordText), u"***********");
}

} // namespace
} // namespace vantorio_test
