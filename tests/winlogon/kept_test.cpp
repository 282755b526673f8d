// Values that the window cannot show as stored: register keeps each one byte for byte until the
// user acts on the control that shows it, even back to what it showed; from then on the
// value is written or deleted by the rules for any value. Every value, for each way a value
// can fail to show as stored, left alone, touched and returned, and changed.
#include <optional>
#include <sstream>

#include "store_test.h"

namespace vantorio_test {
namespace {

// The ways a stored value can differ from what the window shows.
enum class Kind { TooLong, NotText, LossyUtf16, EmbeddedNul };
const char* kindName(Kind kind) {
    switch (kind) {
    case Kind::TooLong: return "TooLong";
    case Kind::NotText: return "NotText";
    case Kind::LossyUtf16: return "LossyUtf16";
    case Kind::EmbeddedNul: return "EmbeddedNul";
    }
    return "";
}

enum class Touch { Untouched, Returned, Changed };
const char* touchName(Touch touch) {
    switch (touch) {
    case Touch::Untouched: return "Untouched";
    case Touch::Returned: return "TouchedAndReturned";
    case Touch::Changed: return "Changed";
    }
    return "";
}

using Action = std::function<void(HiveRun&)>;

// One value stored one way: the other values that make its control usable, what the user does
// to return to what was shown or to change it, and what register then stores.
struct KeptRow {
    const char* value;
    Kind kind;
    HiveValue stored;
    std::vector<HiveValue> context;
    Action returned, changed;
    std::optional<HiveValue> afterReturned, afterChanged;
};

Action clicks(std::vector<ControlId> controls) {
    return [controls](HiveRun& h) {
        for (const ControlId& c : controls) h.session().click(c);
    };
}
Action typeX(const ControlId& box) {
    return [box](HiveRun& h) { h.session().type(box, u"x"); };
}
// Typing a character and deleting it again: the box ends as it began.
Action typeAndDelete(const ControlId& box) {
    return [box](HiveRun& h) {
        h.session().type(box, u"x");
        h.session().press(Key::Backspace, box);
    };
}
HiveValue bytes(const char* name, std::uint32_t type, std::string data) { return raw(name, type, std::move(data)); }
// A REG_SZ of two texts with a NUL between them.
HiveValue twoTexts(const char* name, std::u16string_view first, std::u16string_view second) {
    return raw(name, 1, testsupport::utf16le(first) + testsupport::utf16le(second));
}

const std::vector<HiveValue> WithAutoLogonOff{sz("DefaultUserName", u"Administrator")};
const std::vector<HiveValue> WithAutoLogonOn{sz("AutoAdminLogon", u"1")};
const std::vector<HiveValue> WithNoticeText{sz("LegalNoticeText", u"notice")};
const std::vector<HiveValue> WithNoticeCaption{sz("LegalNoticeCaption", u"C")};

// A flag that shows on (NotText, LossyUtf16, EmbeddedNul) or off (TooLong).
std::vector<KeptRow> flagRows(const char* name, const ControlId& control, std::vector<HiveValue> context,
                              std::optional<HiveValue> whenOn, std::optional<HiveValue> whenOff) {
    // The option pair returns by a click on the other option and back; a check box by two clicks.
    const bool option = control.name == u"AutoLogonOption";
    auto back = [&](bool shownOn) {
        if (!option) return clicks({control, control});
        return shownOn ? clicks({AutoLogonOff, AutoLogonOn}) : clicks({AutoLogonOn, AutoLogonOff});
    };
    auto change = [&](bool shownOn) {
        if (!option) return clicks({control});
        return clicks({shownOn ? AutoLogonOff : AutoLogonOn});
    };
    return {
        {name, Kind::TooLong, sz(name, u"1" + times(70, u" ")), context, back(false), change(false), whenOff, whenOn},
        {name, Kind::NotText, bytes(name, 3, "1\x81"), context, back(true), change(true), whenOn, whenOff},
        {name, Kind::LossyUtf16, sz(name, u"1é"), context, back(true), change(true), whenOn, whenOff},
        {name, Kind::EmbeddedNul, twoTexts(name, u"1", u"x"), context, back(true), change(true), whenOn, whenOff},
    };
}

// A text shown in its box (as far as it can be), or as empty when too long to read.
std::vector<KeptRow> textRows(const char* name, const ControlId& box, std::vector<HiveValue> context,
                              std::u16string_view tooLong, std::optional<HiveValue> whenEmpty) {
    return {
        {name, Kind::TooLong, sz(name, tooLong), context, typeAndDelete(box), typeX(box), whenEmpty, sz(name, u"x")},
        {name, Kind::NotText, bytes(name, 3, "ab\x81"), context, typeAndDelete(box), typeX(box), sz(name, u"ab?"),
         sz(name, u"ab?x")},
        {name, Kind::LossyUtf16, sz(name, u"José"), context, typeAndDelete(box), typeX(box), sz(name, u"Jose"),
         sz(name, u"Josex")},
        {name, Kind::EmbeddedNul, twoTexts(name, u"one", u"two"), context, typeAndDelete(box), typeX(box),
         sz(name, u"one"), sz(name, u"onex")},
    };
}

std::vector<KeptRow> allRows() {
    std::vector<KeptRow> rows;
    auto add = [&](std::vector<KeptRow> more) { rows.insert(rows.end(), more.begin(), more.end()); };
    add(flagRows("AutoAdminLogon", AutoLogonOn, WithAutoLogonOff, sz("AutoAdminLogon", u"1"), std::nullopt));
    add(flagRows("DontDisplayLastUserName", LastLogonCheck, WithAutoLogonOff, sz("DontDisplayLastUserName", u"1"),
                 std::nullopt));
    add(flagRows("ShutdownWithoutLogon", ShutdownCheck, WithAutoLogonOff, sz("ShutdownWithoutLogon", u"1"),
                 sz("ShutdownWithoutLogon", u"0")));
    add(textRows("DefaultUserName", UserText, WithAutoLogonOn, times(64, u"u"), sz("DefaultUserName", u"")));
    add(textRows("DefaultPassword", PassWordText, WithAutoLogonOn, times(32, u"パ"), std::nullopt));
    add(textRows("LegalNoticeCaption", LogonCaptionText, WithNoticeText, times(128, u"c"),
                 sz("LegalNoticeCaption", u"")));
    // A notice text too long to read shows the notice off: the user turns it on to reach the
    // box, and returns by turning it off again, which stores the notice empty.
    std::vector<KeptRow> text = textRows("LegalNoticeText", LogonMessageText, WithNoticeCaption, times(1024, u"t"),
                                         sz("LegalNoticeText", u""));
    text[0].returned = clicks({NoticeOn, NoticeOff});
    text[0].changed = [](HiveRun& h) {
        h.session().click(NoticeOn);
        h.session().type(LogonMessageText, u"x");
    };
    add(text);
    return rows;
}

struct KeptCase {
    KeptRow row;
    Touch touch;
};
void PrintTo(const KeptCase& c, std::ostream* os) { *os << c.row.value << kindName(c.row.kind) << touchName(c.touch); }

std::vector<KeptCase> allCases() {
    std::vector<KeptCase> cases;
    for (const KeptRow& row : allRows())
        for (Touch touch : {Touch::Untouched, Touch::Returned, Touch::Changed}) cases.push_back({row, touch});
    return cases;
}

class KeptUntilActedOn : public ::testing::TestWithParam<KeptCase> {};

TEST_P(KeptUntilActedOn, Register) {
    const KeptRow& row = GetParam().row;
    std::vector<HiveValue> values = row.context;
    values.push_back(row.stored);
    HiveRun hive(values);
    hive.start();
    switch (GetParam().touch) {
    case Touch::Untouched: break;
    case Touch::Returned: row.returned(hive); break;
    case Touch::Changed: row.changed(hive); break;
    }
    hive.registerAndEnd();
    const std::optional<HiveValue> want = GetParam().touch == Touch::Untouched ? std::optional(row.stored)
                                          : GetParam().touch == Touch::Returned ? row.afterReturned
                                                                                : row.afterChanged;
    EXPECT_EQ(hive.value(row.value), want);
}

INSTANTIATE_TEST_SUITE_P(Winlogon, KeptUntilActedOn, ::testing::ValuesIn(allCases()), [](const auto& info) {
    std::ostringstream name;
    PrintTo(info.param, &name);
    return name.str();
});

// Automatic logon stored as "1" and blanks is too long to read and shows as off. An
// administrator who clicks on and off again to be sure has it deleted: the window said off.
TEST(KeptUntilActedOn, AutomaticLogonClickedOnAndOffIsOff) {
    const HiveValue stored = sz("AutoAdminLogon", u"1" + times(70, u" "));
    HiveRun hive({stored, sz("DefaultUserName", u"Administrator")});
    Form1Run& run = hive.start();
    EXPECT_TRUE(run.form1->AutoLogonOption[0].selected());
    hive.session().click(AutoLogonOn);
    hive.session().click(AutoLogonOff);
    hive.registerAndEnd();
    EXPECT_EQ(hive.value("AutoAdminLogon"), std::nullopt);
}

// A clear-text password too long to show: left alone it stays; typed into and emptied again,
// it is removed, as the empty box says.
TEST(KeptUntilActedOn, PasswordTooLongIsRemovedOnceTheBoxIsEdited) {
    const HiveValue password = sz("DefaultPassword", times(64, u"p"));
    for (bool edit : {false, true}) {
        SCOPED_TRACE(edit ? "typed and deleted" : "left alone");
        HiveRun hive({sz("AutoAdminLogon", u"1"), sz("DefaultUserName", u"Administrator"), password});
        Form1Run& run = hive.start();
        EXPECT_EQ(run.form1->PassWordText.text(), u"");
        if (edit) {
            hive.session().type(PassWordText, u"abc");
            hive.clear(PassWordText);
        }
        hive.registerAndEnd();
        EXPECT_EQ(hive.value("DefaultPassword"), edit ? std::nullopt : std::optional(password));
    }
}

// A notice text kept for what follows its NUL stays whole when only the caption is edited.
TEST(KeptUntilActedOn, CaptionEditLeavesAKeptTextAsStored) {
    const HiveValue text = twoTexts("LegalNoticeText", u"one", u"two");
    HiveRun hive({sz("LegalNoticeCaption", u"old"), text});
    Form1Run& run = hive.start();
    EXPECT_TRUE(run.form1->LogonMessageOption[1].selected());
    hive.clear(LogonCaptionText);
    hive.session().type(LogonCaptionText, u"new");
    hive.registerAndEnd();
    EXPECT_EQ(hive.value("LegalNoticeCaption"), sz("LegalNoticeCaption", u"new"));
    EXPECT_EQ(hive.value("LegalNoticeText"), text);
}

// A user name that another tool stored in UTF-16 beyond code page 932 shows as the A form
// gives it, and an untouched register leaves it exactly as stored.
TEST(KeptUntilActedOn, UserNameBeyondCodePage932SurvivesAnUntouchedRegister) {
    const HiveValue user = sz("DefaultUserName", u"José");
    HiveRun hive({sz("AutoAdminLogon", u"1"), user, sz("LegalNoticeText", u"naïve café")});
    Form1Run& run = hive.start();
    EXPECT_EQ(run.form1->UserText.text(), u"Jose");
    hive.registerAndEnd();
    EXPECT_EQ(hive.value("DefaultUserName"), user);
    EXPECT_EQ(hive.value("LegalNoticeText"), sz("LegalNoticeText", u"naïve café"));
}

// Turning the notice off by choice writes both texts empty, also those that were kept.
TEST(KeptUntilActedOn, NoticeTurnedOffStoresItEmpty) {
    HiveRun hive({sz("LegalNoticeCaption", times(128, u"c")), sz("LegalNoticeText", u"Café")});
    hive.start();
    hive.session().click(NoticeOff);
    hive.registerAndEnd();
    EXPECT_EQ(hive.value("LegalNoticeCaption"), sz("LegalNoticeCaption", u""));
    EXPECT_EQ(hive.value("LegalNoticeText"), sz("LegalNoticeText", u""));
}

// Turning the notice on and typing only a text keeps a caption that could not be read.
TEST(KeptUntilActedOn, NoticeTurnedOnKeepsAnUnreadableCaption) {
    const HiveValue caption = sz("LegalNoticeCaption", times(128, u"c"));
    HiveRun hive({caption, sz("LegalNoticeText", u"")});
    hive.start();
    hive.session().click(NoticeOn);
    hive.session().type(LogonMessageText, u"new");
    hive.registerAndEnd();
    EXPECT_EQ(hive.value("LegalNoticeCaption"), caption);
    EXPECT_EQ(hive.value("LegalNoticeText"), sz("LegalNoticeText", u"new"));
}

// A notice text that shows the notice off keeps its caption with it: turning the notice on and
// typing a caption stores the caption and leaves the text; an untouched register leaves both.
TEST(KeptUntilActedOn, NoticeTextShownOffIsKeptWithItsCaption) {
    const HiveValue tooLong = sz("LegalNoticeText", times(1100, u"t"));
    const HiveValue shownEmpty = raw("LegalNoticeText", 7, testsupport::utf16le(u"") + testsupport::utf16le(u"x"));
    for (bool typeCaption : {true, false}) {
        const HiveValue& text = typeCaption ? tooLong : shownEmpty;
        SCOPED_TRACE(typeCaption ? "too long, caption typed" : "shown empty, untouched");
        HiveRun hive({sz("LegalNoticeCaption", u"Corp"), text});
        Form1Run& run = hive.start();
        EXPECT_TRUE(run.form1->LogonMessageOption[0].selected());
        if (typeCaption) {
            hive.session().click(NoticeOn);
            hive.clear(LogonCaptionText);
            hive.session().type(LogonCaptionText, u"New");
        }
        hive.registerAndEnd();
        EXPECT_EQ(hive.value("LegalNoticeCaption"), sz("LegalNoticeCaption", typeCaption ? u"New" : u"Corp"));
        EXPECT_EQ(hive.value("LegalNoticeText"), text);
    }
}

} // namespace
} // namespace vantorio_test
