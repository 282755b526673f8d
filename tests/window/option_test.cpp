// The two option groups as the user selects them: each selection enables the controls of the
// chosen state and disables the others, leaves the other group as it was, keeps the texts,
// and selecting again changes nothing.
#include <map>
#include <vector>

#include "window_test.h"

namespace vantorio_test {
namespace {

const std::vector<ControlId> AutoLogonGroup{UserLabel, PassWordLabel, UserText, PassWordText,
                                            LastLogonCheck, ShutdownCheck};
const std::vector<ControlId> NoticeGroup{LogonCaptionLabel, LogonMessageLabel, LogonCaptionText,
                                         LogonMessageText};

struct Snapshot {
    std::vector<bool> enabled;
    std::vector<bool> selected;
    friend bool operator==(const Snapshot&, const Snapshot&) = default;
};

Snapshot snapshot(Form1Run& run, const std::vector<ControlId>& group, std::u16string_view options) {
    Snapshot s;
    for (const ControlId& id : group) s.enabled.push_back(run.enabled(id));
    for (std::int16_t i : {0, 1}) s.selected.push_back(run.session.form().optionArray(options)[i].selected());
    return s;
}

struct SelectionCase {
    const char* name;
    ControlId option;
    std::vector<bool> enabled;  // of the option's own group, in the group's order
};

void PrintTo(const SelectionCase& row, std::ostream* os) { *os << row.name; }

class Selecting : public ::testing::TestWithParam<SelectionCase> {
protected:
    bool inAutoLogon() const { return GetParam().option.name == u"AutoLogonOption"; }
    const std::vector<ControlId>& ownGroup() const { return inAutoLogon() ? AutoLogonGroup : NoticeGroup; }
    const std::vector<ControlId>& otherGroup() const { return inAutoLogon() ? NoticeGroup : AutoLogonGroup; }
    std::u16string_view otherOptions() const { return inAutoLogon() ? u"LogonMessageOption" : u"AutoLogonOption"; }

    std::vector<bool> ownEnabled(Form1Run& run) const {
        std::vector<bool> out;
        for (const ControlId& id : ownGroup()) out.push_back(run.enabled(id));
        return out;
    }
};

TEST_P(Selecting, SetsTheEnablingTableAndLeavesTheOtherGroup) {
    const SelectionCase& row = GetParam();
    // From either earlier state of the group: the other option selected, or this one.
    for (bool fromOther : {true, false}) {
        SCOPED_TRACE(fromOther ? "after the other option" : "after the same option");
        Form1Run run;
        const ControlId other{row.option.name, std::int16_t(1 - row.option.index)};
        run.session.click(fromOther ? other : row.option);
        const Snapshot otherBefore = snapshot(run, otherGroup(), otherOptions());

        run.session.click(row.option);
        runtime::OptionArray& options = run.session.form().optionArray(row.option.name);
        EXPECT_TRUE(options[row.option.index].selected());
        EXPECT_FALSE(options[other.index].selected());
        EXPECT_EQ(ownEnabled(run), row.enabled);
        EXPECT_EQ(snapshot(run, otherGroup(), otherOptions()), otherBefore);
        for (const ControlId& id : {AutoLogonOff, AutoLogonOn, NoticeOff, NoticeOn, AutoLogonFrame,
                                    LogonMessageFrame})
            EXPECT_TRUE(run.enabled(id)) << describe(id);
    }
}

// Selecting from code runs the same procedure at once, before the selecting call returns.
TEST_P(Selecting, FromCodeRunsTheProcedureAtOnce) {
    const SelectionCase& row = GetParam();
    Form1Run run;
    const ControlId other{row.option.name, std::int16_t(1 - row.option.index)};
    run.session.click(other);
    run.session.form().optionArray(row.option.name)[row.option.index].setSelected(true);
    EXPECT_EQ(ownEnabled(run), row.enabled);
    EXPECT_FALSE(run.session.form().optionArray(row.option.name)[other.index].selected());
}

INSTANTIATE_TEST_SUITE_P(
    Form1, Selecting,
    ::testing::Values(SelectionCase{"AutoLogonOff", AutoLogonOff, {false, false, false, false, true, true}},
                      SelectionCase{"AutoLogonOn", AutoLogonOn, {true, true, true, true, false, false}},
                      SelectionCase{"NoticeOff", NoticeOff, {false, false, false, false}},
                      SelectionCase{"NoticeOn", NoticeOn, {true, true, true, true}}),
    [](const auto& info) { return std::string(info.param.name); });

// What the user typed stays in a box while it is disabled, and is there when it comes back.
TEST(Selecting, KeepsTheTextsAndMarksOfDisabledControls) {
    Form1Run run;
    run.session.click(AutoLogonOn);
    run.session.click(NoticeOn);
    for (const ControlId& id : {UserText, PassWordText, LogonCaptionText, LogonMessageText})
        run.text(id).setText(u"");
    run.session.type(UserText, u"operator");
    run.session.type(PassWordText, u"pw");
    run.session.type(LogonCaptionText, u"注意");
    run.session.type(LogonMessageText, u"許可された利用者のみ");

    run.session.click(AutoLogonOff);
    run.session.click(LastLogonCheck);
    run.session.click(NoticeOff);
    EXPECT_FALSE(run.enabled(UserText));
    EXPECT_EQ(run.text(UserText).text(), u"operator");
    EXPECT_EQ(run.text(PassWordText).text(), u"pw");
    EXPECT_EQ(run.text(LogonCaptionText).text(), u"注意");
    EXPECT_EQ(run.text(LogonMessageText).text(), u"許可された利用者のみ");

    run.session.click(AutoLogonOn);
    run.session.click(NoticeOn);
    EXPECT_EQ(run.text(UserText).text(), u"operator");
    EXPECT_EQ(run.text(PassWordText).text(), u"pw");
    EXPECT_EQ(run.text(LogonCaptionText).text(), u"注意");
    EXPECT_EQ(run.session.form().checkBox(u"LastLogonCheck").value(), 1);
    EXPECT_FALSE(run.enabled(LastLogonCheck));
}

// A click on a disabled check box changes nothing; on an enabled one it toggles the mark.
TEST(Selecting, CheckBoxesToggleOnlyWhileEnabled) {
    Form1Run run;
    run.session.click(AutoLogonOff);
    runtime::CheckBox& check = run.session.form().checkBox(u"ShutdownCheck");
    check.setValue(0);
    run.session.click(ShutdownCheck);
    EXPECT_EQ(check.value(), 1);
    run.session.click(AutoLogonOn);
    run.session.click(ShutdownCheck);
    EXPECT_EQ(check.value(), 1);
}

// The arrow keys move the selection within a pair, and the procedure runs as for a click.
TEST(Selecting, ArrowKeysSelectWithinThePair) {
    Form1Run run;
    run.session.click(AutoLogonOff);
    run.session.press(Key::Down, AutoLogonOff);
    EXPECT_EQ(describe(run.session.focused()), describe(AutoLogonOn));
    EXPECT_TRUE(run.session.form().optionArray(u"AutoLogonOption")[1].selected());
    EXPECT_TRUE(run.enabled(UserText));
    EXPECT_FALSE(run.enabled(ShutdownCheck));

    run.session.press(Key::Space, NoticeOff);
    EXPECT_TRUE(run.session.form().optionArray(u"LogonMessageOption")[0].selected());
    EXPECT_FALSE(run.enabled(LogonMessageText));
}

} // namespace
} // namespace vantorio_test
