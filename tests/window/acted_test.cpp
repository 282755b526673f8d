// Whether the user has acted on a control: a click or a key that selects or toggles it, an
// edit of a text box, also when it ends where it began; never what program code sets, and
// never an edit that the box refused.
#include <algorithm>
#include <stdexcept>
#include <vector>

#include "window_test.h"

namespace vantorio_test {
namespace {

bool acted(Form1Run& run, const ControlId& id) {
    runtime::Control& control = run.control(id);
    if (auto* box = dynamic_cast<runtime::TextBox*>(&control)) return box->userActed();
    if (auto* check = dynamic_cast<runtime::CheckBox*>(&control)) return check->userActed();
    if (auto* option = dynamic_cast<runtime::OptionButton*>(&control)) return option->userActed();
    throw std::invalid_argument("a control that the user cannot act on");
}

const std::vector<ControlId> Actable{AutoLogonOff, AutoLogonOn, LastLogonCheck,    ShutdownCheck,
                                     UserText,     PassWordText, NoticeOff,        NoticeOn,
                                     LogonCaptionText, LogonMessageText};

struct ActedCase {
    const char* name;
    std::function<void(Form1Run&)> steps;
    std::vector<ControlId> actedOn;  // every other control counts as not acted on
};
void PrintTo(const ActedCase& row, std::ostream* os) { *os << row.name; }

class UserActed : public ::testing::TestWithParam<ActedCase> {};

TEST_P(UserActed, CountsOnlyTheUser) {
    Form1Run run;
    GetParam().steps(run);
    for (const ControlId& id : Actable) {
        SCOPED_TRACE(describe(id));
        const auto& want = GetParam().actedOn;
        EXPECT_EQ(acted(run, id), std::find(want.begin(), want.end(), id) != want.end());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Form1, UserActed,
    ::testing::Values(
        ActedCase{"AfterLoading", [](Form1Run&) {}, {}},
        ActedCase{"CodeSetsEverything",
                  [](Form1Run& run) {
                      runtime::Form& f = run.session.form();
                      f.optionArray(u"AutoLogonOption")[1].setSelected(true);
                      f.optionArray(u"LogonMessageOption")[1].setSelected(true);
                      f.checkBox(u"LastLogonCheck").setValue(1);
                      f.textBox(u"UserText").setText(u"code");
                      f.textBox(u"LogonMessageText").setText(u"code");
                  },
                  {}},
        ActedCase{"ClickOnTheSelectedOption",
                  [](Form1Run& run) {
                      run.session.click(AutoLogonOff);
                      run.session.click(AutoLogonOff);
                  },
                  {AutoLogonOff}},
        ActedCase{"ClickOnTheOtherOption", [](Form1Run& run) { run.session.click(NoticeOn); }, {NoticeOn}},
        ActedCase{"CheckBoxClickedTwice",
                  [](Form1Run& run) {
                      run.session.click(AutoLogonOff);
                      run.session.click(ShutdownCheck);
                      run.session.click(ShutdownCheck);
                  },
                  {AutoLogonOff, ShutdownCheck}},
        ActedCase{"CheckBoxSpaceBar",
                  [](Form1Run& run) {
                      run.session.click(AutoLogonOff);
                      run.session.press(Key::Space, LastLogonCheck);
                  },
                  {AutoLogonOff, LastLogonCheck}},
        ActedCase{"TypedAndDeleted",
                  [](Form1Run& run) {
                      run.session.click(NoticeOn);
                      run.session.type(LogonCaptionText, u"a");
                      run.session.press(Key::Backspace, LogonCaptionText);
                  },
                  {NoticeOn, LogonCaptionText}},
        ActedCase{"Pasted",
                  [](Form1Run& run) {
                      run.session.click(NoticeOn);
                      run.session.paste(LogonMessageText, u"notice");
                  },
                  {NoticeOn, LogonMessageText}},
        // A character that code page 932 cannot hold is refused: the box is as it was.
        ActedCase{"RefusedEdit",
                  [](Form1Run& run) {
                      run.session.click(AutoLogonOn);
                      run.session.type(PassWordText, u"é");
                      run.session.paste(PassWordText, u"€");
                  },
                  {AutoLogonOn}}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace vantorio_test
