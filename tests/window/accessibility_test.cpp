// What a screen reader reads for each control: a text box is named by the label beside it,
// every other control by its own caption.
#include "window_test.h"

namespace vantorio_test {
namespace {

struct Named {
    ControlId control;
    std::u16string name;
};

void PrintTo(const Named& row, std::ostream* os) { *os << describe(row.control); }

class AccessibleName : public ::testing::TestWithParam<Named> {};

TEST_P(AccessibleName, IsTheCaptionThatNamesTheControl) {
    const Named& row = GetParam();
    Form1Run run;
    EXPECT_EQ(narrow(run.session.accessibleName(row.control)), narrow(row.name));
}

INSTANTIATE_TEST_SUITE_P(
    Form1, AccessibleName,
    ::testing::Values(
        Named{UserText, u"ﾕｰｻﾞ名"},
        Named{PassWordText, u"ﾊﾟｽﾜｰﾄﾞ"},
        Named{LogonCaptionText, u"ｷｬﾌﾟｼｮﾝ"},
        Named{LogonMessageText, u"出力ﾒｯｾｰｼﾞ"},
        Named{AutoLogonOff, u"しない"},
        Named{AutoLogonOn, u"する"},
        Named{LastLogonCheck, u"前回のﾛｸﾞｵﾝﾕｰｻﾞ名を表示しない"},
        Named{ShutdownCheck, u"ﾛｸﾞｵﾝしたﾕｰｻﾞのみｼｬｯﾄﾀﾞｳﾝ可"},
        Named{NoticeOff, u"なし"},
        Named{NoticeOn, u"あり"},
        Named{AutoLogonFrame, u"AutoLogon"},
        Named{LogonMessageFrame, u"ログオン前メッセージ"},
        Named{Cancel, u"キャンセル"},
        Named{Ok, u"登録"}));

// The names stay the labels' whatever the boxes hold and whether they are enabled; the
// password never becomes a name.
TEST(AccessibleNames, StayTheLabelsWhileTheBoxesChange) {
    Form1Run run;
    run.session.click(AutoLogonOn);
    run.session.type(UserText, u"admin");
    run.session.type(PassWordText, u"secret");
    EXPECT_EQ(narrow(run.session.accessibleName(UserText)), narrow(u"ﾕｰｻﾞ名"));
    EXPECT_EQ(narrow(run.session.accessibleName(PassWordText)), narrow(u"ﾊﾟｽﾜｰﾄﾞ"));
    run.session.click(AutoLogonOff);
    ASSERT_FALSE(run.enabled(PassWordText));
    EXPECT_EQ(narrow(run.session.accessibleName(UserText)), narrow(u"ﾕｰｻﾞ名"));
    EXPECT_EQ(narrow(run.session.accessibleName(PassWordText)), narrow(u"ﾊﾟｽﾜｰﾄﾞ"));
}

} // namespace
} // namespace vantorio_test
