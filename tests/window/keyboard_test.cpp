// The keyboard as a user meets it: the focus order with Tab and Shift+Tab, disabled controls
// passed over, and Enter and Esc that click no button.
#include <vector>

#include "window_test.h"

namespace vantorio_test {
namespace {

struct FocusCase {
    const char* name;
    std::vector<ControlId> selections;  // options clicked first
    std::vector<ControlId> order;       // the controls that take the focus, from the first
};

void PrintTo(const FocusCase& row, std::ostream* os) { *os << row.name; }

class FocusOrder : public ::testing::TestWithParam<FocusCase> {};

// Tab walks the order from the first control round to it again; Shift+Tab walks it back.
TEST_P(FocusOrder, CyclesThroughTheControlsThatTakeTheFocus) {
    const FocusCase& row = GetParam();
    Form1Run run;
    for (const ControlId& option : row.selections) run.session.click(option);

    const auto& order = row.order;
    // Tab from the last control brings the focus to the first.
    run.session.press(Key::Tab, order.back());
    ASSERT_EQ(describe(run.session.focused()), describe(order.front()));
    for (size_t step = 1; step <= order.size(); ++step) {
        run.session.press(Key::Tab);
        EXPECT_EQ(describe(run.session.focused()), describe(order[step % order.size()])) << "Tab " << step;
    }
    for (size_t step = 1; step <= order.size(); ++step) {
        run.session.press(Key::ShiftTab);
        const size_t back = (order.size() - step % order.size()) % order.size();
        EXPECT_EQ(describe(run.session.focused()), describe(order[back])) << "Shift+Tab " << step;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Form1, FocusOrder,
    ::testing::Values(
        FocusCase{"AutoLogonOnNoticeOn",
                  {NoticeOn, AutoLogonOn},
                  {AutoLogonOff, AutoLogonOn, UserText, PassWordText, NoticeOff, NoticeOn,
                   LogonCaptionText, LogonMessageText, Cancel, Ok}},
        FocusCase{"AutoLogonOffNoticeOff",
                  {AutoLogonOff, NoticeOff},
                  {AutoLogonOff, AutoLogonOn, LastLogonCheck, ShutdownCheck, NoticeOff, NoticeOn, Cancel, Ok}},
        FocusCase{"AutoLogonOffNoticeOn",
                  {AutoLogonOff, NoticeOn},
                  {AutoLogonOff, AutoLogonOn, LastLogonCheck, ShutdownCheck, NoticeOff, NoticeOn,
                   LogonCaptionText, LogonMessageText, Cancel, Ok}}),
    [](const auto& info) { return std::string(info.param.name); });

// The options leave one side of the automatic-logon group disabled; with the check boxes
// enabled again from code, all twelve controls take their turn.
TEST(FocusOrderAll, TwelveControlsWhenEverythingIsEnabled) {
    Form1Run run;
    run.session.click(AutoLogonOn);
    run.session.click(NoticeOn);
    run.session.form().checkBox(u"LastLogonCheck").setEnabled(true);
    run.session.form().checkBox(u"ShutdownCheck").setEnabled(true);
    const std::vector<ControlId> order{AutoLogonOff, AutoLogonOn, LastLogonCheck, ShutdownCheck,
                                       UserText, PassWordText, NoticeOff, NoticeOn,
                                       LogonCaptionText, LogonMessageText, Cancel, Ok};
    run.session.press(Key::Tab, Ok);
    for (size_t step = 0; step < 2 * order.size(); ++step) {
        EXPECT_EQ(describe(run.session.focused()), describe(order[step % order.size()])) << step;
        run.session.press(Key::Tab);
    }
}

// The first control of the order has the focus when the window comes up.
TEST(FocusOrderAll, StartsOnTheFirstControl) {
    Form1Run run;
    EXPECT_EQ(describe(run.session.focused()), describe(AutoLogonOff));
}

struct KeyCase {
    const char* name;
    ControlId control;
    Key key;
};

void PrintTo(const KeyCase& row, std::ostream* os) { *os << row.name; }

class KeysClickNoButton : public ::testing::TestWithParam<KeyCase> {};

// Neither button is a default or a cancel button: Enter and Esc in another control click
// nothing, and Esc does not close the window either.
TEST_P(KeysClickNoButton, InForm1) {
    const KeyCase& row = GetParam();
    Form1Run run;
    run.session.click(AutoLogonOn);
    run.session.click(NoticeOn);
    run.session.press(row.key, row.control);
    EXPECT_FALSE(run.session.ended());
    EXPECT_TRUE(run.session.windowVisible());
    EXPECT_EQ(describe(run.session.focused()), describe(row.control));
}

TEST_P(KeysClickNoButton, InTheProbe) {
    const KeyCase& row = GetParam();
    ProbeRun probe;
    probe.start();
    probe.session->press(row.key, row.control);
    EXPECT_EQ(probe.okClicks, 0);
    EXPECT_EQ(probe.cancelClicks, 0);
    EXPECT_FALSE(probe.session->ended());
}

INSTANTIATE_TEST_SUITE_P(
    Form1, KeysClickNoButton,
    ::testing::Values(KeyCase{"EnterInUserText", UserText, Key::Enter},
                      KeyCase{"EscInUserText", UserText, Key::Escape},
                      KeyCase{"EnterInPassWordText", PassWordText, Key::Enter},
                      KeyCase{"EscInPassWordText", PassWordText, Key::Escape},
                      KeyCase{"EnterInLogonCaptionText", LogonCaptionText, Key::Enter},
                      KeyCase{"EscInLogonMessageText", LogonMessageText, Key::Escape},
                      KeyCase{"EnterInLogonMessageText", LogonMessageText, Key::Enter},
                      KeyCase{"EscOnAnOption", NoticeOn, Key::Escape}),
    [](const auto& info) { return std::string(info.param.name); });

struct ButtonKeyCase {
    const char* name;
    ControlId button;
    Key key;
    int ok, cancel;
};

void PrintTo(const ButtonKeyCase& row, std::ostream* os) { *os << row.name; }

class ButtonKeys : public ::testing::TestWithParam<ButtonKeyCase> {};

// A button is clicked from the keyboard only while it has the focus.
TEST_P(ButtonKeys, ClickTheFocusedButton) {
    const ButtonKeyCase& row = GetParam();
    ProbeRun probe;
    probe.start();
    probe.session->press(row.key, row.button);
    EXPECT_EQ(probe.okClicks, row.ok);
    EXPECT_EQ(probe.cancelClicks, row.cancel);
}

INSTANTIATE_TEST_SUITE_P(Probe, ButtonKeys,
                         ::testing::Values(ButtonKeyCase{"SpaceOnOk", Ok, Key::Space, 1, 0},
                                           ButtonKeyCase{"EnterOnOk", Ok, Key::Enter, 1, 0},
                                           ButtonKeyCase{"SpaceOnCancel", Cancel, Key::Space, 0, 1},
                                           ButtonKeyCase{"EnterOnCancel", Cancel, Key::Enter, 0, 1},
                                           ButtonKeyCase{"EscOnOk", Ok, Key::Escape, 0, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace vantorio_test
