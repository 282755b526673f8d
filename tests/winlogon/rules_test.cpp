// The rules of register, value by value, on controls in memory, and what it says when it
// cannot store everything: no toolkit and no hive, so a
// rule can be changed with a table that runs in milliseconds. The end-to-end tests beside this
// one check the same rules through the real window and the bytes in the hive.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "runtime/memory_controls.h"
#include "winlogon/Module1.h"
#include "winlogon/rules.h"

namespace winlogon {
void PrintTo(const Step& step, std::ostream* os) {
    *os << (step.action == Step::Action::Leave ? "leave" : step.action == Step::Action::Write ? "write" : "delete");
    *os << " \"" << std::string(step.text.begin(), step.text.end()) << "\"";
}
} // namespace winlogon

namespace {

using winlogon::Keep;
using winlogon::Kept;
using winlogon::Step;
using Action = Step::Action;

// The window's eight controls, as loading left them: automatic logon and the notice each on
// or off, the texts as shown.
struct Window {
    runtime::memory::OptionArray autoLogon, notice;
    runtime::memory::CheckBox lastLogon, shutdown;
    runtime::memory::TextBox user, password, caption, text;
    winlogon::Form1Controls controls{autoLogon, lastLogon, shutdown, user, password, notice, caption, text};

    Window(bool autoLogonOn, bool noticeOn) {
        autoLogon[autoLogonOn ? 1 : 0].setSelected(true);
        notice[noticeOn ? 1 : 0].setSelected(true);
    }
};

Step leave() { return {Action::Leave, {}}; }
Step write(std::u16string text) { return {Action::Write, std::move(text)}; }
Step remove() { return {Action::Delete, {}}; }
// What the window showed for the value is carried whatever the action.
Step with(Step step, std::u16string held) {
    step.text = std::move(held);
    return step;
}


// --- automatic logon -----------------------------------------------------------------------

struct AutoLogonRow {
    const char* name;
    bool on;  // automatic logon as loaded
    Kept kept;
    std::function<void(Window&)> user;
    Step autoAdminLogon, dontDisplayLastUserName, shutdownWithoutLogon, defaultUserName, defaultPassword;
};
void PrintTo(const AutoLogonRow& row, std::ostream* os) { *os << row.name; }

class AutoLogonRules : public ::testing::TestWithParam<AutoLogonRow> {};

TEST_P(AutoLogonRules, Row) {
    const AutoLogonRow& row = GetParam();
    Window w(row.on, false);
    w.user.setText(u"admin");
    if (row.user) row.user(w);
    const winlogon::AutoLogonSteps steps = winlogon::PlanAutoLogonSave(row.kept, w.controls);
    EXPECT_EQ(steps.autoAdminLogon, row.autoAdminLogon);
    EXPECT_EQ(steps.dontDisplayLastUserName, row.dontDisplayLastUserName);
    EXPECT_EQ(steps.shutdownWithoutLogon, row.shutdownWithoutLogon);
    EXPECT_EQ(steps.defaultUserName, row.defaultUserName);
    EXPECT_EQ(steps.defaultPassword, row.defaultPassword);
}

Kept keep(Keep Kept::*value, Keep how) {
    Kept k;
    k.*value = how;
    return k;
}

const AutoLogonRow AutoLogonRows[] = {
    // What nothing kept gives: the table of register.
    {"OnAsLoaded", true, {}, nullptr, write(u"1"), remove(), leave(), write(u"admin"), with(remove(), u"")},
    {"OffAsLoaded", false, {}, nullptr, remove(), remove(), write(u"0"), write(u"admin"), with(remove(), u"")},
    {"OffWithBothChecks", false, {},
     [](Window& w) {
         w.lastLogon.userClick();
         w.shutdown.userClick();
     },
     remove(), write(u"1"), write(u"1"), write(u"admin"), with(remove(), u"")},
    {"OnChecksNotRead", true, {},
     [](Window& w) {
         w.lastLogon.setValue(1);
         w.password.userEdit(u"pw");
     },
     write(u"1"), remove(), leave(), write(u"admin"), write(u"pw")},
    // A kept flag stays until the option is acted on, even back to what it showed.
    {"AutoAdminLogonKept", false, keep(&Kept::autoAdminLogon, Keep::TooLong), nullptr, leave(), remove(), write(u"0"),
     write(u"admin"), with(remove(), u"")},
    {"AutoAdminLogonKeptOptionClickedAgain", false, keep(&Kept::autoAdminLogon, Keep::TooLong),
     [](Window& w) { w.autoLogon[0].userClick(); }, remove(), remove(), write(u"0"), write(u"admin"),
     with(remove(), u"")},
    {"AutoAdminLogonKeptCheckClicked", false, keep(&Kept::autoAdminLogon, Keep::DataAfterNul),
     [](Window& w) { w.lastLogon.userClick(); }, leave(), write(u"1"), write(u"0"), write(u"admin"),
     with(remove(), u"")},
    // The option releases the last user name too; its own check box does as well.
    {"LastUserKeptOptionActed", false, keep(&Kept::dontDisplayLastUserName, Keep::DataAfterNul),
     [](Window& w) {
         w.autoLogon[1].userClick();
         w.autoLogon[0].userClick();
     },
     remove(), remove(), write(u"0"), write(u"admin"), with(remove(), u"")},
    {"LastUserKeptUntouched", false, keep(&Kept::dontDisplayLastUserName, Keep::DataAfterNul),
     [](Window& w) { w.shutdown.userClick(); }, remove(), leave(), write(u"1"), write(u"admin"), with(remove(), u"")},
    {"LastUserKeptCheckClickedTwice", false, keep(&Kept::dontDisplayLastUserName, Keep::TooLong),
     [](Window& w) {
         w.lastLogon.userClick();
         w.lastLogon.userClick();
     },
     remove(), remove(), write(u"0"), write(u"admin"), with(remove(), u"")},
    // Shutdown is released by its own check box only, and left alone anyway with automatic logon on.
    {"ShutdownKeptOptionActed", false, keep(&Kept::shutdownWithoutLogon, Keep::TooLong),
     [](Window& w) { w.autoLogon[0].userClick(); }, remove(), remove(), with(leave(), u"0"), write(u"admin"),
     with(remove(), u"")},
    {"ShutdownKeptCheckActed", false, keep(&Kept::shutdownWithoutLogon, Keep::TooLong),
     [](Window& w) {
         w.shutdown.userClick();
         w.shutdown.userClick();
     },
     remove(), remove(), write(u"0"), write(u"admin"), with(remove(), u"")},
    // A kept text stays until its box is edited, even back to what it showed.
    {"UserNameKept", true, keep(&Kept::defaultUserName, Keep::DataAfterNul),
     [](Window& w) { w.password.userEdit(u"pw"); }, write(u"1"), remove(), leave(), with(leave(), u"admin"),
     write(u"pw")},
    {"UserNameKeptEditedBack", true, keep(&Kept::defaultUserName, Keep::DataAfterNul),
     [](Window& w) {
         w.user.userEdit(u"adminx");
         w.user.userEdit(u"admin");
     },
     write(u"1"), remove(), leave(), write(u"admin"), with(remove(), u"")},
    {"PasswordKept", true, keep(&Kept::defaultPassword, Keep::TooLong), nullptr, write(u"1"), remove(), leave(),
     write(u"admin"), with(leave(), u"")},
    {"PasswordKeptTypedAndDeleted", true, keep(&Kept::defaultPassword, Keep::TooLong),
     [](Window& w) {
         w.password.userEdit(u"x");
         w.password.userEdit(u"");
     },
     write(u"1"), remove(), leave(), write(u"admin"), with(remove(), u"")},
};

INSTANTIATE_TEST_SUITE_P(Register, AutoLogonRules, ::testing::ValuesIn(AutoLogonRows),
                         [](const auto& info) { return std::string(info.param.name); });

// --- the notice ----------------------------------------------------------------------------

struct NoticeRow {
    const char* name;
    bool on;  // the notice as loaded
    Kept kept;
    std::function<void(Window&)> user;
    Step caption, text;
};
void PrintTo(const NoticeRow& row, std::ostream* os) { *os << row.name; }

class NoticeRules : public ::testing::TestWithParam<NoticeRow> {};

TEST_P(NoticeRules, Row) {
    const NoticeRow& row = GetParam();
    Window w(false, row.on);
    w.caption.setText(u"cap");
    w.text.setText(row.on ? u"text" : u"");
    if (row.user) row.user(w);
    const winlogon::NoticeSteps steps = winlogon::PlanLogonNoticeSave(row.kept, w.controls);
    EXPECT_EQ(steps.legalNoticeCaption, row.caption);
    EXPECT_EQ(steps.legalNoticeText, row.text);
}

Kept text(Keep how) { return keep(&Kept::legalNoticeText, how); }
Kept caption(Keep how) { return keep(&Kept::legalNoticeCaption, how); }
Kept textAndCaption() {
    Kept k = text(Keep::TooLong);
    k.legalNoticeCaption = Keep::WithNoticeText;
    return k;
}

const NoticeRow NoticeRows[] = {
    {"OnAsLoaded", true, {}, nullptr, write(u"cap"), write(u"text")},
    {"OffAsLoaded", false, {}, nullptr, write(u""), write(u"")},
    // A text too long to read shows the notice off and keeps its caption with it: each stays
    // until its own box is edited or the notice is turned off; turning it on releases neither.
    {"TextTooLongUntouched", false, textAndCaption(), nullptr, leave(), leave()},
    {"TextTooLongOffClickedAgain", false, textAndCaption(), [](Window& w) { w.notice[0].userClick(); },
     write(u""), write(u"")},
    {"TextTooLongTurnedOnAndTyped", false, textAndCaption(),
     [](Window& w) {
         w.notice[1].userClick();
         w.text.userEdit(u"new");
     },
     with(leave(), u"cap"), write(u"new")},
    {"TextTooLongTurnedOnCaptionTyped", false, textAndCaption(),
     [](Window& w) {
         w.notice[1].userClick();
         w.caption.userEdit(u"Corp");
     },
     write(u"Corp"), with(leave(), u"")},
    // A text kept for another reason stays when only the caption is edited.
    {"TextNotExactCaptionEdited", true, text(Keep::DataAfterNul), [](Window& w) { w.caption.userEdit(u"other"); },
     write(u"other"), with(leave(), u"text")},
    {"TextNotExactOptionBackOn", true, text(Keep::DataAfterNul),
     [](Window& w) {
         w.notice[0].userClick();
         w.notice[1].userClick();
     },
     write(u"cap"), with(leave(), u"text")},
    {"TextNotExactTurnedOff", true, text(Keep::DataAfterNul), [](Window& w) { w.notice[0].userClick(); }, write(u""),
     write(u"")},
    {"TextNotExactEditedBack", true, text(Keep::DataAfterNul),
     [](Window& w) {
         w.text.userEdit(u"textx");
         w.text.userEdit(u"text");
     },
     write(u"cap"), write(u"text")},
    // A kept caption: typing only a text keeps it; editing its box or turning off releases it.
    {"CaptionKeptTextTyped", true, caption(Keep::TooLong), [](Window& w) { w.text.userEdit(u"more"); },
     with(leave(), u"cap"), write(u"more")},
    {"CaptionKeptEdited", true, caption(Keep::TooLong), [](Window& w) { w.caption.userEdit(u"new"); },
     write(u"new"), write(u"text")},
    {"CaptionKeptTurnedOff", true, caption(Keep::DataAfterNul), [](Window& w) { w.notice[0].userClick(); }, write(u""),
     write(u"")},
    {"CaptionKeptBesideTextTooLong", false,
     [] {
         Kept k = text(Keep::TooLong);
         k.legalNoticeCaption = Keep::TooLong;
         return k;
     }(),
     [](Window& w) {
         w.notice[1].userClick();
         w.text.userEdit(u"new");
     },
     with(leave(), u"cap"), write(u"new")},
};

INSTANTIATE_TEST_SUITE_P(Register, NoticeRules, ::testing::ValuesIn(NoticeRows),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
