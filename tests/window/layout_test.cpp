// The window as it first appears: every control where the layout puts it, in pixels at
// 96 dpi, the fonts, the title, the icon, the centring, and the state the controls start in.
#include <cmath>

#include "window_test.h"

namespace vantorio_test {
namespace {

struct Placement {
    ControlId control;
    ControlId container;  // empty name: the client area
    Rect inContainer;
    Rect inClient;
};

void PrintTo(const Placement& row, std::ostream* os) { *os << describe(row.control); }

const ControlId ClientArea{u""};

class ControlPlacement : public ::testing::TestWithParam<Placement> {};

TEST_P(ControlPlacement, MatchesTheLayoutAndLiesInsideItsContainer) {
    const Placement& row = GetParam();
    Form1Run run;
    EXPECT_EQ(run.session.rectInContainer(row.control), row.inContainer);
    EXPECT_EQ(run.session.rectInClient(row.control), row.inClient);

    const Rect inside = row.container.name.empty() ? run.session.clientRect()
                                                   : run.session.rectInContainer(row.container);
    const Rect& r = row.inContainer;
    EXPECT_GE(r.left, 0);
    EXPECT_GE(r.top, 0);
    EXPECT_LE(r.left + r.width, inside.width);
    EXPECT_LE(r.top + r.height, inside.height);
}

INSTANTIATE_TEST_SUITE_P(
    Form1, ControlPlacement,
    ::testing::Values(
        Placement{AutoLogonFrame, ClientArea, {8, 8, 425, 129}, {8, 8, 425, 129}},
        Placement{AutoLogonOff, AutoLogonFrame, {16, 24, 73, 17}, {24, 32, 73, 17}},
        Placement{AutoLogonOn, AutoLogonFrame, {16, 72, 57, 17}, {24, 80, 57, 17}},
        Placement{UserLabel, AutoLogonFrame, {88, 72, 49, 17}, {96, 80, 49, 17}},
        Placement{PassWordLabel, AutoLogonFrame, {72, 96, 65, 17}, {80, 104, 65, 17}},
        Placement{LastLogonCheck, AutoLogonFrame, {128, 24, 289, 15}, {136, 32, 289, 15}},
        Placement{ShutdownCheck, AutoLogonFrame, {128, 48, 289, 15}, {136, 56, 289, 15}},
        Placement{UserText, AutoLogonFrame, {144, 72, 273, 22}, {152, 80, 273, 22}},
        Placement{PassWordText, AutoLogonFrame, {144, 96, 273, 22}, {152, 104, 273, 22}},
        Placement{LogonMessageFrame, ClientArea, {8, 144, 425, 105}, {8, 144, 425, 105}},
        Placement{NoticeOff, LogonMessageFrame, {16, 24, 57, 17}, {24, 168, 57, 17}},
        Placement{NoticeOn, LogonMessageFrame, {16, 48, 57, 17}, {24, 192, 57, 17}},
        Placement{LogonCaptionLabel, LogonMessageFrame, {72, 48, 65, 17}, {80, 192, 65, 17}},
        Placement{LogonMessageLabel, LogonMessageFrame, {48, 72, 89, 17}, {56, 216, 89, 17}},
        Placement{LogonCaptionText, LogonMessageFrame, {144, 48, 273, 22}, {152, 192, 273, 22}},
        Placement{LogonMessageText, LogonMessageFrame, {144, 72, 273, 22}, {152, 216, 273, 22}},
        Placement{Cancel, ClientArea, {232, 256, 97, 49}, {232, 256, 97, 49}},
        Placement{Ok, ClientArea, {336, 256, 97, 49}, {336, 256, 97, 49}}));

TEST(Form1Window, HasItsFixedClientAreaTitleAndIcon) {
    Form1Run run;
    EXPECT_EQ(run.session.clientRect(), (Rect{0, 0, 441, 313}));
    EXPECT_EQ(run.session.windowTitle(), u"Vantorio");
    EXPECT_TRUE(run.session.iconLoaded());
    // The icon's own colours and its transparent corners.
    EXPECT_EQ(run.session.iconPixel(0, 0) >> 24, 0u);
    EXPECT_EQ(run.session.iconPixel(31, 31) >> 24, 0u);
    EXPECT_EQ(run.session.iconPixel(1, 16), 0xFF0000FFu);   // the badge's blue rim
    EXPECT_EQ(run.session.iconPixel(3, 16), 0xFF000080u);   // its navy face
    EXPECT_EQ(run.session.iconPixel(10, 15), 0xFF000080u);  // the hole of the key's bow
    EXPECT_EQ(run.session.iconPixel(20, 15), 0xFFFFFF00u);  // the gold shaft
    EXPECT_TRUE(run.session.windowVisible());
}

// Japanese captions are drawn in a Gothic face, never in a Latin fallback; the text boxes
// have the larger size of their own font.
TEST(Form1Window, DrawsInTheGothicFaces) {
    Form1Run run;
    for (const ControlId& id : {AutoLogonFrame, AutoLogonOff, UserLabel, LastLogonCheck, Cancel, Ok}) {
        SCOPED_TRACE(describe(id));
        EXPECT_EQ(run.session.fontFamily(id), u"IPAGothic");
        EXPECT_EQ(run.session.fontPixelSize(id), 15);
    }
    for (const ControlId& id : {UserText, PassWordText, LogonCaptionText, LogonMessageText}) {
        SCOPED_TRACE(describe(id));
        EXPECT_EQ(run.session.fontFamily(id), u"IPAGothic");
        EXPECT_EQ(run.session.fontPixelSize(id), 16);
    }
}

// Form_Load has placed the window before it was shown: its middle across lies on the
// screen's, and its middle down 300 twips above the screen's, to within a frame's width.
TEST(Form1Window, IsShownCentred) {
    Form1Run run;
    runtime::Form& form = run.session.form();
    const runtime::Screen& screen = runtime::screen();
    EXPECT_NEAR(form.Left() + form.Width() / 2, screen.Width() / 2, 8 * 15);
    EXPECT_NEAR(form.Top() + form.Height() / 2, screen.Height() / 2 - 300, 8 * 15);
}

// Form_Load's settings are in force before the window is shown, and the enabled state of
// each option group agrees with the option selected in it (all enabled while none is).
TEST(Form1Window, StartsWithTheLoadSettingsInForce) {
    Form1Run run;
    runtime::Form& form = run.session.form();
    EXPECT_EQ(run.text(UserText).maxLength(), 16);
    EXPECT_EQ(run.text(PassWordText).maxLength(), 16);
    EXPECT_EQ(run.text(LogonCaptionText).maxLength(), 0);
    EXPECT_EQ(run.text(LogonMessageText).maxLength(), 0);
    EXPECT_EQ(run.text(PassWordText).passwordChar(), u"*");
    EXPECT_EQ(run.text(UserText).passwordChar(), u"");
    for (const char16_t* label : {u"UserLabel", u"PassWordLabel", u"LogonCaptionLabel", u"LogonMessageLabel"})
        EXPECT_EQ(form.label(label).borderStyle(), 0);

    for (const ControlId& id : {AutoLogonFrame, AutoLogonOff, AutoLogonOn, LogonMessageFrame, NoticeOff,
                                NoticeOn, Cancel, Ok})
        EXPECT_TRUE(run.enabled(id)) << describe(id);

    runtime::OptionArray& autoLogon = form.optionArray(u"AutoLogonOption");
    const bool autoOff = autoLogon[0].selected(), autoOn = autoLogon[1].selected();
    EXPECT_FALSE(autoOff && autoOn);
    for (const ControlId& id : {UserLabel, PassWordLabel, UserText, PassWordText})
        EXPECT_EQ(run.enabled(id), !autoOff) << describe(id);
    for (const ControlId& id : {LastLogonCheck, ShutdownCheck})
        EXPECT_EQ(run.enabled(id), !autoOn) << describe(id);

    runtime::OptionArray& notice = form.optionArray(u"LogonMessageOption");
    EXPECT_FALSE(notice[0].selected() && notice[1].selected());
    for (const ControlId& id : {LogonCaptionLabel, LogonMessageLabel, LogonCaptionText, LogonMessageText})
        EXPECT_EQ(run.enabled(id), !notice[0].selected()) << describe(id);
}

} // namespace
} // namespace vantorio_test
