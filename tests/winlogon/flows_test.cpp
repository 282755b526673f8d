// Whole runs: the typical one, cancel and close, a key or hive that cannot be written, and
// the values that register must never lose.
#include "store_test.h"


#include <csignal>

#include <sys/resource.h>
#include <unistd.h>

#include <sys/stat.h>

#include "support/child_process.h"

namespace vantorio_test {
namespace {

using window::Form1;

// Start with automatic logon on and a notice; change the password; register.
TEST(TypicalRun, ChangesThePassword) {
    HiveRun hive({sz("AutoAdminLogon", u"1"), sz("DontDisplayLastUserName", u"1"), sz("ShutdownWithoutLogon", u"1"),
                  sz("DefaultUserName", u"Administrator"), sz("DefaultPassword", u"old"),
                  sz("LegalNoticeCaption", u"警告"), sz("LegalNoticeText", u"許可された方のみ")});
    Form1Run& run = hive.start();
    EXPECT_TRUE(run.form1->AutoLogonOption[1].selected());
    EXPECT_TRUE(run.form1->UserText.enabled());
    EXPECT_FALSE(run.form1->LastLogonCheck.enabled());
    EXPECT_TRUE(run.form1->LogonMessageOption[1].selected());

    hive.clear(PassWordText);
    hive.session().type(PassWordText, u"new");
    hive.registerAndEnd();

    EXPECT_EQ(hive.value("AutoAdminLogon"), sz("AutoAdminLogon", u"1"));
    EXPECT_EQ(hive.value("DontDisplayLastUserName"), std::nullopt);
    EXPECT_EQ(hive.value("ShutdownWithoutLogon"), sz("ShutdownWithoutLogon", u"1"));
    EXPECT_EQ(hive.value("DefaultUserName"), sz("DefaultUserName", u"Administrator"));
    EXPECT_EQ(hive.value("DefaultPassword"), sz("DefaultPassword", u"new"));
    EXPECT_EQ(hive.value("LegalNoticeCaption"), sz("LegalNoticeCaption", u"警告"));
    EXPECT_EQ(hive.value("LegalNoticeText"), sz("LegalNoticeText", u"許可された方のみ"));
}

// Cancel and a close through the window system end the program and write nothing, however
// much the user changed.
TEST(EndWithoutSaving, LeavesTheHiveByteForByte) {
    for (bool close : {false, true}) {
        SCOPED_TRACE(close ? "close" : "cancel");
        HiveRun hive({sz("AutoAdminLogon", u"0"), sz("DefaultUserName", u"Administrator")});
        hive.start();
        hive.session().click(AutoLogonOn);
        hive.session().type(PassWordText, u"typed");
        hive.session().click(NoticeOn);
        hive.session().type(LogonMessageText, u"typed");
        if (close)
            hive.session().closeWindow();
        else
            hive.session().click(Cancel);
        ASSERT_TRUE(hive.session().waitFor([&] { return hive.session().ended(); }));
        EXPECT_EQ(hive.session().status(), 0);
        EXPECT_TRUE(hive.unchanged());
    }
}

// Register that cannot save says what failed and why, and keeps the window and everything in
// it, so that the user can try again or cancel.
void expectRegisterReports(HiveRun& hive, std::u16string_view reason) {
    hive.session().click(AutoLogonOn);
    hive.session().type(UserText, u"operator");
    hive.session().click(Ok);
    ASSERT_TRUE(hive.session().waitFor([&] { return !hive.session().messageBoxes().empty(); }));
    ASSERT_FALSE(hive.session().ended());
    const std::u16string message = hive.session().messageBoxes().back();
    EXPECT_NE(message.find(reason), std::u16string::npos) << narrow(message);
    EXPECT_TRUE(hive.unchanged());
    EXPECT_TRUE(hive.run().form1->AutoLogonOption[1].selected());
    EXPECT_NE(hive.run().form1->UserText.text().find(u"operator"), std::u16string::npos);

    // Again: the same report; then cancel ends the program without a write.
    hive.session().click(Ok);
    ASSERT_TRUE(hive.session().waitFor([&] { return hive.session().messageBoxes().size() == 2; }));
    hive.session().click(Cancel);
    ASSERT_TRUE(hive.session().waitFor([&] { return hive.session().ended(); }));
    EXPECT_TRUE(hive.unchanged());
}

TEST(RegisterThatCannotSave, KeyAbsent) {
    HiveRun hive({}, false);
    Form1Run& run = hive.start();
    EXPECT_TRUE(run.form1->AutoLogonOption[0].selected());
    expectRegisterReports(hive, u"Winlogon");
}

// A hive whose last write was never completed (its two sequence numbers differ) cannot be
// opened for writing: the window shows what it holds, and register reports.
TEST(RegisterThatCannotSave, DirtyHive) {
    HiveRun hive({sz("DefaultUserName", u"Admin")});
    hive.rewrite(testsupport::leaveWriteUnfinished);
    Form1Run& run = hive.start();
    EXPECT_EQ(run.form1->UserText.text(), u"Admin");
    expectRegisterReports(hive, u"アクセス");
}

// A hive in a folder that the user may not write: what it holds shows, and register reports. Root writes
// any file, so this runs as an unprivileged user when the test runs as root.
TEST(RegisterThatCannotSave, UnwritableHive) {
    if (HiveRun::toolkitStarted()) GTEST_SKIP() << "needs a process of its own, as ctest runs it";
    HiveRun hive({sz("DefaultUserName", u"Administrator")});
    const std::vector<long> seen = platformtest::inChild({true, hive.folder()}, [&] {
        ::chmod(hive.file().c_str(), 0444);
        ::chmod(hive.folder().c_str(), 0555);
        Form1Run& run = hive.start();
        const long shown = run.form1->UserText.text() == u"Administrator";
        run.session.click(Ok);
        run.session.waitFor([&] { return !run.session.messageBoxes().empty() || run.session.ended(); });
        const long reported = !run.session.messageBoxes().empty() && !run.session.ended();
        ::chmod(hive.folder().c_str(), 0755);
        return std::vector<long>{shown, reported};
    });
    EXPECT_EQ(seen, (std::vector<long>{1, 1}));
    EXPECT_TRUE(hive.unchanged());
}

// A commit that cannot write its new hive (here the file size limit stands in for a full
// disk) is reported as such, and the hive stays as it was.
TEST(RegisterThatCannotSave, CommitFails) {
    HiveRun hive({sz("DefaultUserName", u"Administrator")});
    hive.start();
    hive.session().type(UserText, u"x");  // disabled while automatic logon is off: no change
    hive.session().click(AutoLogonOn);
    hive.session().type(UserText, u"2");

    rlimit before{};
    ::getrlimit(RLIMIT_FSIZE, &before);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = before;
    small.rlim_cur = 4096;
    ::setrlimit(RLIMIT_FSIZE, &small);
    hive.session().click(Ok);
    const bool reported = hive.session().waitFor([&] { return !hive.session().messageBoxes().empty(); });
    ::setrlimit(RLIMIT_FSIZE, &before);
    std::signal(SIGXFSZ, previousHandler);

    ASSERT_TRUE(reported);
    EXPECT_FALSE(hive.session().ended());
    EXPECT_NE(hive.session().messageBoxes().back().find(u"保存できませんでした"), std::u16string::npos)
        << narrow(hive.session().messageBoxes().back());
    EXPECT_TRUE(hive.unchanged());
    EXPECT_EQ(hive.run().form1->UserText.text(), u"Administrator2");

    // With room again, the same register goes through.
    hive.registerAndEnd();
    EXPECT_EQ(hive.value("DefaultUserName"), sz("DefaultUserName", u"Administrator2"));
    EXPECT_EQ(hive.value("AutoAdminLogon"), sz("AutoAdminLogon", u"1"));
}

// A notice of several lines keeps its CR LF through start-up and register.
TEST(MultiLineNotice, SurvivesByteForByte) {
    const std::u16string text = u"一行目\r\n二行目\r\n\r\nthird line";
    HiveRun hive({sz("LegalNoticeCaption", u"注意"), sz("LegalNoticeText", text)});
    Form1Run& run = hive.start();
    EXPECT_EQ(narrow(run.form1->LogonMessageText.text()), narrow(text));
    hive.registerAndEnd();
    EXPECT_EQ(hive.value("LegalNoticeText"), sz("LegalNoticeText", text));
}

// Values that the window cannot show as stored stay as stored on register, until the user
// changes the control that shows them.
struct KeptCase {
    const char* name;
    HiveValue stored;
    std::function<void(HiveRun&)> user;  // a change elsewhere in the window
};
void PrintTo(const KeptCase& row, std::ostream* os) { *os << row.name; }

class KeptOnRegister : public ::testing::TestWithParam<KeptCase> {};

TEST_P(KeptOnRegister, UntilTheUserChangesIt) {
    const KeptCase& row = GetParam();
    HiveRun hive({row.stored, sz("DefaultUserName", u"Administrator"), sz("ShutdownWithoutLogon", u"1")});
    hive.start();
    if (row.user) row.user(hive);
    hive.registerAndEnd();
    EXPECT_EQ(hive.value(row.stored.name.c_str()), row.stored);
}

INSTANTIATE_TEST_SUITE_P(
    Winlogon, KeptOnRegister,
    ::testing::Values(
        KeptCase{"AutoAdminLogonTooLong", sz("AutoAdminLogon", u"1" + times(70, u" ")), nullptr},
        KeptCase{"DontDisplayLastUserNameTooLong", sz("DontDisplayLastUserName", times(64, u"1")),
                 [](HiveRun& h) { h.session().click(ShutdownCheck); }},
        KeptCase{"ShutdownWithoutLogonTooLong", sz("ShutdownWithoutLogon", times(64, u"0")), nullptr},
        KeptCase{"UserNameTooLong", sz("DefaultUserName", times(64, u"u")), nullptr},
        KeptCase{"PasswordTooLong", sz("DefaultPassword", times(32, u"パ")),
                 [](HiveRun& h) { h.session().click(AutoLogonOn); }},
        KeptCase{"CaptionTooLong", sz("LegalNoticeCaption", times(128, u"c")), nullptr},
        KeptCase{"TextTooLong", sz("LegalNoticeText", times(1024, u"t")),
                 [](HiveRun& h) { h.session().click(AutoLogonOn); }},
        // Bytes that are no text of code page 932, or data behind the first NUL.
        KeptCase{"UserNameNotText", raw("DefaultUserName", 3, std::string("\x81\x00\xff", 3)), nullptr},
        KeptCase{"TextWithDataBehindItsNul", raw("LegalNoticeText", 7, testsupport::utf16le(u"one") +
                                                                        testsupport::utf16le(u"two") +
                                                                        std::string(2, '\0')),
                 nullptr}),
    [](const auto& info) { return std::string(info.param.name); });

// The text that the user changed is written as usual.
TEST(KeptOnRegister, ReplacedWhenTheUserChangesIt) {
    HiveRun hive({sz("AutoAdminLogon", u"1"), sz("DefaultUserName", times(64, u"u")),
                  sz("LegalNoticeCaption", u"C"), sz("LegalNoticeText", times(1024, u"t"))});
    hive.start();
    hive.session().type(UserText, u"admin");
    hive.session().click(NoticeOn);
    hive.session().type(LogonMessageText, u"new");
    hive.registerAndEnd();
    EXPECT_EQ(hive.value("DefaultUserName"), sz("DefaultUserName", u"admin"));
    EXPECT_EQ(hive.value("LegalNoticeCaption"), sz("LegalNoticeCaption", u"C"));
    EXPECT_EQ(hive.value("LegalNoticeText"), sz("LegalNoticeText", u"new"));
}

// A notice too long to read keeps its caption with it until the user touches the group.
TEST(KeptOnRegister, NoticeGroupStaysWithItsText) {
    const HiveValue caption = sz("LegalNoticeCaption", u"警告");
    const HiveValue text = sz("LegalNoticeText", times(600, u"長"));
    HiveRun hive({caption, text});
    Form1Run& run = hive.start();
    EXPECT_TRUE(run.form1->LogonMessageOption[0].selected());
    EXPECT_EQ(run.form1->LogonCaptionText.text(), u"警告");
    hive.registerAndEnd();
    EXPECT_EQ(hive.value("LegalNoticeCaption"), caption);
    EXPECT_EQ(hive.value("LegalNoticeText"), text);
}

// What the notice boxes take stays within 1023 bytes, so it is always stored whole.
TEST(NoticeBoxes, HoldAtMost1023Bytes) {
    for (const ControlId& box : {LogonCaptionText, LogonMessageText}) {
        SCOPED_TRACE(describe(box));
        HiveRun hive({sz("LegalNoticeText", u"x")});
        Form1Run& run = hive.start();
        hive.clear(box);
        hive.session().paste(box, times(1024, u"a"));
        EXPECT_EQ(run.text(box).text(), u"");
        hive.session().paste(box, times(511, u"テ"));
        hive.session().type(box, u"テ");  // 1024 bytes: refused
        hive.session().type(box, u"a");   // 1023 bytes: taken
        EXPECT_EQ(run.text(box).text(), times(511, u"テ") + u"a");
        hive.registerAndEnd();
        EXPECT_EQ(hive.value(box == LogonCaptionText ? "LegalNoticeCaption" : "LegalNoticeText"),
                  sz(box == LogonCaptionText ? "LegalNoticeCaption" : "LegalNoticeText", times(511, u"テ") + u"a"));
    }
}

// Characters that code page 932 cannot hold are refused as they are typed or pasted, so
// register stores exactly what the window shows.
TEST(TextBoxes, RefuseWhatCodePage932CannotHold) {
    for (const ControlId& box : {UserText, PassWordText, LogonCaptionText, LogonMessageText}) {
        SCOPED_TRACE(describe(box));
        HiveRun hive({sz("AutoAdminLogon", u"1"), sz("LegalNoticeText", u"x")});
        Form1Run& run = hive.start();
        hive.clear(box);
        hive.session().type(box, u"aé€😀ｂ");
        EXPECT_EQ(run.text(box).text(), u"aｂ");
        hive.session().paste(box, u"ok…é");
        EXPECT_EQ(run.text(box).text(), u"aｂ");
        hive.session().paste(box, u"～①");
        EXPECT_EQ(run.text(box).text(), u"aｂ～①");
    }
}

} // namespace
} // namespace vantorio_test
