// The controls' rules that every toolkit shares, on controls in memory: the typing limit and
// the input filter, the properties of two states, the option arrays and the focus order. No
// toolkit and no window, so these run in milliseconds; the window tests drive the same rules
// through the real widgets of each toolkit.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "runtime/memory_controls.h"
#include "runtime/table_form.h"

namespace {

using runtime::Error;
using runtime::memory::CheckBox;
using runtime::memory::OptionArray;
using runtime::memory::TextBox;

// The error number that `action` raises, or nothing.
std::optional<int> raised(const std::function<void()>& action) {
    try {
        action();
    } catch (const Error& e) {
        return e.number();
    }
    return std::nullopt;
}

std::string narrow(const std::u16string& text) { return std::string(text.begin(), text.end()); }

// --- the text box's typing limit and filter -------------------------------------------------

struct EditRow {
    const char* name;
    int maxLength;
    std::u16string fromCode;   // set before the edit
    std::u16string edit;       // what the user's edit leaves in the box
    bool refuseX;              // the program's filter refuses any text with an 'x'
    bool stands;
    std::u16string after;
};
void PrintTo(const EditRow& row, std::ostream* os) { *os << row.name; }

class Editing : public ::testing::TestWithParam<EditRow> {};

TEST_P(Editing, TheEditStandsOrTheTextStaysAsItWas) {
    const EditRow& row = GetParam();
    TextBox box;
    box.setMaxLength(row.maxLength);
    box.setText(row.fromCode);
    std::vector<std::u16string> seen;  // what the filter saw as the text before the edit
    if (row.refuseX)
        box.setInputFilter([&](std::u16string_view current, std::u16string_view proposed) {
            seen.emplace_back(current);
            return proposed.find(u'x') == std::u16string_view::npos;
        });
    EXPECT_EQ(box.userEdit(row.edit), row.stands);
    EXPECT_EQ(narrow(box.text()), narrow(row.after));
    EXPECT_EQ(box.userActed(), row.stands);
    // The filter hears only of edits within the limit, and always sees the text as it was.
    for (const std::u16string& current : seen) EXPECT_EQ(narrow(current), narrow(row.fromCode));
}

INSTANTIATE_TEST_SUITE_P(
    TextBox, Editing,
    ::testing::Values(
        EditRow{"NoLimit", 0, u"", std::u16string(40000, u'a'), false, true, std::u16string(40000, u'a')},
        EditRow{"UpToTheLimit", 3, u"ab", u"abc", false, true, u"abc"},
        EditRow{"PastTheLimit", 3, u"abc", u"abcd", false, false, u"abc"},
        EditRow{"PasteFarPastTheLimit", 3, u"", u"abcdefgh", false, false, u""},
        // Text set from code is held whole beyond the limit; the user may shorten it or
        // replace within its length, never lengthen it.
        EditRow{"LongFromCodeShortened", 3, u"abcdef", u"abcde", false, true, u"abcde"},
        EditRow{"LongFromCodeReplacedInLength", 3, u"abcdef", u"abcdeZ", false, true, u"abcdeZ"},
        EditRow{"LongFromCodeLengthened", 3, u"abcdef", u"abcdefg", false, false, u"abcdef"},
        EditRow{"EmptiedPastTheLimit", 3, u"abcdef", u"", false, true, u""},
        // An edit that ends where it began is still the user's.
        EditRow{"SameTextAgain", 3, u"abc", u"abc", false, true, u"abc"},
        EditRow{"FilterRefuses", 0, u"ab", u"abx", true, false, u"ab"},
        EditRow{"FilterAllows", 0, u"ab", u"abc", true, true, u"abc"},
        EditRow{"LimitBeforeFilter", 3, u"abc", u"abcx", true, false, u"abc"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(TextBox, TextFromCodeIsNeverTheUsersAndIsTakenWhole) {
    TextBox box;
    box.setMaxLength(2);
    box.setInputFilter([](std::u16string_view, std::u16string_view) { return false; });
    box.setText(u"longer than two");
    EXPECT_EQ(narrow(box.text()), "longer than two");
    EXPECT_FALSE(box.userActed());
}

TEST(TextBox, PropertiesRefuseWhatTheyCannotHold) {
    TextBox box;
    EXPECT_EQ(raised([&] { box.setMaxLength(-1); }), runtime::error::InvalidPropertyValue);
    EXPECT_EQ(box.maxLength(), 0);
    EXPECT_EQ(raised([&] { box.setMaxLength(16); }), std::nullopt);
    EXPECT_EQ(box.maxLength(), 16);
    EXPECT_EQ(raised([&] { box.setPasswordChar(u"**"); }), runtime::error::InvalidPropertyValue);
    EXPECT_EQ(narrow(box.passwordChar()), "");
    EXPECT_EQ(raised([&] { box.setPasswordChar(u"*"); }), std::nullopt);
    EXPECT_EQ(narrow(box.passwordChar()), "*");
    EXPECT_EQ(raised([&] { box.setPasswordChar(u""); }), std::nullopt);
    EXPECT_EQ(narrow(box.passwordChar()), "");
}

// --- properties of two states ---------------------------------------------------------------

// A label that records the borders it was asked to draw.
class RecordingLabel : public runtime::common::Label {
public:
    bool enabled() const override { return true; }
    void setEnabled(bool) override {}
    std::vector<bool> drawn;

private:
    void showBorder(bool on) override { drawn.push_back(on); }
};

struct TwoStateRow {
    int value;
    std::optional<int> error;
};
void PrintTo(const TwoStateRow& row, std::ostream* os) { *os << row.value; }

class TwoStates : public ::testing::TestWithParam<TwoStateRow> {};

TEST_P(TwoStates, CheckBoxValue) {
    CheckBox box;
    box.setValue(1);
    EXPECT_EQ(raised([&] { box.setValue(GetParam().value); }), GetParam().error);
    EXPECT_EQ(box.value(), GetParam().error ? 1 : GetParam().value);
    EXPECT_FALSE(box.userActed());
}

TEST_P(TwoStates, LabelBorderStyle) {
    RecordingLabel label;
    label.setBorderStyle(1);
    EXPECT_EQ(raised([&] { label.setBorderStyle(GetParam().value); }), GetParam().error);
    EXPECT_EQ(label.borderStyle(), GetParam().error ? 1 : GetParam().value);
    // A refused style draws nothing.
    const std::vector<bool> drawn = GetParam().error ? std::vector<bool>{true}
                                                     : std::vector<bool>{true, GetParam().value == 1};
    EXPECT_EQ(label.drawn, drawn);
}

INSTANTIATE_TEST_SUITE_P(Property, TwoStates,
                         ::testing::Values(TwoStateRow{0, std::nullopt}, TwoStateRow{1, std::nullopt},
                                           TwoStateRow{2, runtime::error::InvalidPropertyValue},
                                           TwoStateRow{-1, runtime::error::InvalidPropertyValue}),
                         [](const auto& info) {
                             return info.param.value < 0 ? "Minus" + std::to_string(-info.param.value)
                                                         : std::to_string(info.param.value);
                         });

TEST(CheckBox, AClickTogglesAndIsTheUsers) {
    CheckBox box;
    box.userClick();
    EXPECT_EQ(box.value(), 1);
    box.userClick();
    EXPECT_EQ(box.value(), 0);
    EXPECT_TRUE(box.userActed());
}

// --- option arrays ----------------------------------------------------------------------------

struct Options {
    OptionArray array;
    std::vector<std::int16_t> clicks;
    Options() {
        array.onClick([this](std::int16_t index) { clicks.push_back(index); });
    }
    std::vector<bool> selected() { return {array[0].selected(), array[1].selected()}; }
};

TEST(OptionArray, SelectingFromCodeClearsTheOtherAndRaisesClickAtOnce) {
    Options o;
    o.array[0].setSelected(true);
    o.array[1].setSelected(true);
    EXPECT_EQ(o.selected(), (std::vector<bool>{false, true}));
    EXPECT_EQ(o.clicks, (std::vector<std::int16_t>{0, 1}));
    EXPECT_FALSE(o.array[0].userActed());
    EXPECT_FALSE(o.array[1].userActed());
}

TEST(OptionArray, ClearingFromCodeTouchesOnlyThatOptionAndRaisesNothing) {
    Options o;
    o.array[1].setSelected(true);
    o.array[1].setSelected(false);
    EXPECT_EQ(o.selected(), (std::vector<bool>{false, false}));
    EXPECT_EQ(o.clicks, (std::vector<std::int16_t>{1}));
}

TEST(OptionArray, AClickOnTheSelectedOptionRaisesClickAgain) {
    Options o;
    o.array[0].setSelected(true);
    o.array[0].userClick();
    o.array[1].userClick();
    EXPECT_EQ(o.selected(), (std::vector<bool>{false, true}));
    EXPECT_EQ(o.clicks, (std::vector<std::int16_t>{0, 0, 1}));
    EXPECT_TRUE(o.array[0].userActed());
    EXPECT_TRUE(o.array[1].userActed());
}

TEST(OptionArray, AnErrorInClickReachesTheCodeThatSelected) {
    OptionArray array;
    array.onClick([](std::int16_t) { runtime::raise(runtime::error::Overflow); });
    EXPECT_EQ(raised([&] { array[1].setSelected(true); }), runtime::error::Overflow);
    // The selection was made before Click ran.
    EXPECT_TRUE(array[1].selected());
}

TEST(OptionArray, AnIndexItLacksRaises) {
    OptionArray array;
    for (std::int16_t index : {-1, 2, 32767})
        EXPECT_EQ(raised([&] { array[index]; }), runtime::error::InvalidProcedureCall) << index;
}

// --- the focus order --------------------------------------------------------------------------

struct FocusRow {
    const char* name;
    std::vector<bool> takes;  // which places of the order can take the focus
    int at;                   // where the focus is, -1 at none
    bool forward;
    int to;
};
void PrintTo(const FocusRow& row, std::ostream* os) { *os << row.name; }

class Focus : public ::testing::TestWithParam<FocusRow> {};

TEST_P(Focus, MovesToTheNextPlaceThatTakesIt) {
    const FocusRow& row = GetParam();
    EXPECT_EQ(runtime::nextFocus(int(row.takes.size()), row.at, row.forward, [&](int i) { return bool(row.takes[i]); }),
              row.to);
}

INSTANTIATE_TEST_SUITE_P(
    Order, Focus,
    ::testing::Values(FocusRow{"FromNoneForwards", {true, true, true, true}, -1, true, 0},
                      FocusRow{"FromNoneBackwards", {true, true, true, true}, -1, false, 3},
                      FocusRow{"FromNoneForwardsPastOnesThatCannot", {false, false, true, true}, -1, true, 2},
                      FocusRow{"Forwards", {true, true, true, true}, 1, true, 2},
                      FocusRow{"ForwardsRoundTheEnd", {true, true, true, true}, 3, true, 0},
                      FocusRow{"BackwardsRoundTheStart", {true, true, true, true}, 0, false, 3},
                      FocusRow{"PassesOverOnesThatCannot", {true, true, false, false}, 1, true, 0},
                      FocusRow{"StaysWhereOnlyItCan", {false, true, false, false}, 1, true, 1},
                      FocusRow{"NoneCan", {false, false, false}, 0, true, -1},
                      FocusRow{"EmptyOrder", {}, -1, true, -1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Focus, TheOrderFollowsTheTabIndicesAndTheTableAmongEqualOnes) {
    using runtime::ControlKind;
    const runtime::ControlSpec rows[] = {
        {u"a", -1, ControlKind::TextBox, u"", u"", 0, 0, 0, 0, 2},
        {u"b", -1, ControlKind::TextBox, u"", u"", 0, 0, 0, 0, 0},
        {u"c", -1, ControlKind::TextBox, u"", u"", 0, 0, 0, 0, 1},
        {u"d", -1, ControlKind::TextBox, u"", u"", 0, 0, 0, 0, 0},
    };
    std::vector<const runtime::ControlSpec*> order;
    for (const auto& row : rows) order.push_back(&row);
    runtime::sortByTabIndex(order, [](const runtime::ControlSpec* row) { return row; });
    std::string names;
    for (const auto* row : order) names += char(row->name[0]);
    EXPECT_EQ(names, "bdca");
}

} // namespace
