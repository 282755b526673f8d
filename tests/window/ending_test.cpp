// How the program ends: cancel and a close through the window system end it with status 0
// and run nothing more; an error that no procedure handles is reported and ends it with a
// non-zero status, before the window is shown when it comes from the load.
#include "window_test.h"

namespace vantorio_test {
namespace {

TEST(Ending, CancelEndsTheProgram) {
    Form1Run run;
    run.session.click(Cancel);
    EXPECT_TRUE(run.session.ended());
    EXPECT_EQ(run.session.status(), 0);
    EXPECT_TRUE(run.session.reports().empty());
    EXPECT_FALSE(run.session.windowVisible());
}

TEST(Ending, ClosingTheWindowEndsTheProgramAndRunsNoProcedure) {
    ProbeRun probe;
    probe.start();
    probe.session->closeWindow();
    EXPECT_TRUE(probe.session->ended());
    EXPECT_EQ(probe.session->status(), 0);
    EXPECT_EQ(probe.okClicks + probe.cancelClicks, 0);

    Form1Run run;
    run.session.closeWindow();
    EXPECT_TRUE(run.session.ended());
    EXPECT_EQ(run.session.status(), 0);
}

// End leaves the procedure at once: nothing after it runs, and no later event either.
TEST(Ending, EndStopsTheProcedureThatCalledIt) {
    ProbeRun probe;
    bool after = false;
    probe.onOk = [&](runtime::Form&) {
        runtime::End();
        after = true;
    };
    probe.start();
    probe.session->click(Ok);
    EXPECT_TRUE(probe.session->ended());
    EXPECT_EQ(probe.session->status(), 0);
    EXPECT_FALSE(after);
}

struct ErrorCase {
    const char* name;
    std::function<void(runtime::Form&)> raise;
    std::u16string report;
};

void PrintTo(const ErrorCase& row, std::ostream* os) { *os << row.name; }

const std::u16string Report380 = u"実行時エラー '380':\n\nプロパティの値が不正です。";

std::vector<ErrorCase> errorCases() {
    return {
        {"CheckValue", [](runtime::Form& f) { f.checkBox(u"ShutdownCheck").setValue(2); }, Report380},
        {"LabelBorder", [](runtime::Form& f) { f.label(u"UserLabel").setBorderStyle(-1); }, Report380},
        {"Overflow", [](runtime::Form&) { runtime::raise(runtime::error::Overflow); },
         u"実行時エラー '6':\n\nオーバーフローしました。"},
        {"DivisionByZero", [](runtime::Form&) { runtime::raise(runtime::error::DivisionByZero); },
         u"実行時エラー '11':\n\n0 で除算しました。"},
        {"InvalidCall", [](runtime::Form& f) { f.optionArray(u"AutoLogonOption")[2]; },
         u"実行時エラー '5':\n\nプロシージャの呼び出し、または引数が不正です。"},
        {"OtherNumber", [](runtime::Form&) { runtime::raise(1004); },
         u"実行時エラー '1004':\n\nアプリケーション定義またはオブジェクト定義のエラーです。"},
        {"ForeignException", [](runtime::Form&) { throw std::runtime_error("x"); },
         u"実行時エラー '51':\n\n内部エラーです。"},
        // Raised in an option's procedure that code ran by selecting: it reaches the boundary
        // through the code that selected.
        {"InNestedOptionProcedure",
         [](runtime::Form& f) {
             f.optionArray(u"LogonMessageOption").onClick([&f](std::int16_t) {
                 f.checkBox(u"LastLogonCheck").setValue(7);
             });
             f.optionArray(u"LogonMessageOption")[1].setSelected(true);
         },
         Report380},
    };
}

class UnhandledError : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(UnhandledError, InAnEventProcedureIsReportedAndEndsTheProgram) {
    const ErrorCase& row = GetParam();
    ProbeRun probe;
    bool after = false;
    probe.onOk = [&](runtime::Form& form) {
        row.raise(form);
        after = true;
    };
    probe.start();
    probe.session->click(Ok);
    EXPECT_TRUE(probe.session->ended());
    EXPECT_NE(probe.session->status(), 0);
    EXPECT_FALSE(after);
    ASSERT_EQ(probe.session->reports().size(), 1u);
    EXPECT_EQ(narrow(probe.session->reports()[0]), narrow(row.report));
}

TEST_P(UnhandledError, InTheLoadEndsTheProgramBeforeTheWindowIsShown) {
    const ErrorCase& row = GetParam();
    ProbeRun probe;
    probe.onLoad = row.raise;
    probe.start();
    EXPECT_TRUE(probe.session->ended());
    EXPECT_NE(probe.session->status(), 0);
    EXPECT_FALSE(probe.session->windowVisible());
    ASSERT_EQ(probe.session->reports().size(), 1u);
    EXPECT_EQ(narrow(probe.session->reports()[0]), narrow(row.report));
}

INSTANTIATE_TEST_SUITE_P(Runtime, UnhandledError, ::testing::ValuesIn(errorCases()),
                         [](const auto& info) { return std::string(info.param.name); });

// A user's selection runs the procedure inside the boundary too.
TEST(UnhandledErrorInAClick, OfAnOptionIsReported) {
    ProbeRun probe;
    probe.onLoad = [](runtime::Form& f) {
        f.optionArray(u"AutoLogonOption").onClick([&f](std::int16_t) { f.label(u"UserLabel").setBorderStyle(3); });
    };
    probe.start();
    probe.session->click(AutoLogonOn);
    EXPECT_TRUE(probe.session->ended());
    EXPECT_EQ(probe.session->status(), runtime::ErrorExitStatus);
    ASSERT_EQ(probe.session->reports().size(), 1u);
    EXPECT_EQ(probe.session->reports()[0], Report380);
}

TEST(Ending, EndInTheLoadEndsBeforeTheWindowIsShown) {
    ProbeRun probe;
    probe.onLoad = [](runtime::Form&) { runtime::End(); };
    probe.start();
    EXPECT_TRUE(probe.session->ended());
    EXPECT_EQ(probe.session->status(), 0);
    EXPECT_FALSE(probe.session->windowVisible());
    EXPECT_TRUE(probe.session->reports().empty());
}

// A message box shows its text and the program goes on.
TEST(Messages, MsgBoxShowsAndTheProgramGoesOn) {
    ProbeRun probe;
    probe.onOk = [](runtime::Form&) { runtime::MsgBox(u"登録できませんでした。"); };
    probe.start();
    probe.session->click(Ok);
    EXPECT_FALSE(probe.session->ended());
    ASSERT_EQ(probe.session->messageBoxes().size(), 1u);
    EXPECT_EQ(probe.session->messageBoxes()[0], u"登録できませんでした。");
    probe.session->click(Cancel);
    EXPECT_EQ(probe.cancelClicks, 1);
}

// The window comes and goes many times in one process, each run on its own.
TEST(Ending, TheWindowCanBeCreatedAgainAndAgain) {
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        {
            Form1Run run;
            run.session.click(AutoLogonOn);
            run.session.type(UserText, u"x");
            run.session.click(Cancel);
            EXPECT_TRUE(run.session.ended());
            EXPECT_EQ(run.session.status(), 0);
        }
        {
            ProbeRun probe;
            probe.onOk = [](runtime::Form&) { runtime::raise(runtime::error::InvalidPropertyValue); };
            probe.start();
            probe.session->click(Ok);
            EXPECT_EQ(probe.session->status(), runtime::ErrorExitStatus);
        }
    }
}

// The properties that take a fixed set of values refuse others with error 380.
TEST(ControlValues, OutsideTheirRangeRaise380) {
    Form1Run run;
    runtime::Form& form = run.session.form();
    for (int bad : {-1, 2, 255}) {
        try {
            form.checkBox(u"LastLogonCheck").setValue(bad);
            ADD_FAILURE() << bad;
        } catch (const runtime::Error& e) {
            EXPECT_EQ(e.number(), 380);
        }
        try {
            form.label(u"PassWordLabel").setBorderStyle(bad);
            ADD_FAILURE() << bad;
        } catch (const runtime::Error& e) {
            EXPECT_EQ(e.number(), 380);
        }
    }
    EXPECT_EQ(form.checkBox(u"LastLogonCheck").value(), 0);
    EXPECT_EQ(form.label(u"PassWordLabel").borderStyle(), 0);
    EXPECT_FALSE(run.session.ended());
}

} // namespace
} // namespace vantorio_test
