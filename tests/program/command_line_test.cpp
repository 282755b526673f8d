// The command line: how it is read (a table of argument lists), and the built program started
// as a user starts it, with its exit status, its standard output and its standard error for
// every case: help, the version, bad command lines, unusable hives, and the toolkit's own
// options on a window that opens (offscreen) and leaves as soon as it is shown.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "hive_check.h"
#include "child_process.h"
#include "hive_fixture.h"
#include "startup/command_line.h"

namespace {

using startup::CommandLine;
using Action = CommandLine::Action;
using testsupport::TempDir;

// ---- reading the command line ----------------------------------------------------------

struct ParseRow {
    const char* name;
    std::vector<std::string_view> arguments;  // after the program's name
    Action action;
    std::optional<std::string> hive;
    std::vector<std::string> toolkit;         // after the program's name
    std::string error;
};

void PrintTo(const ParseRow& row, std::ostream* os) { *os << row.name; }

class ParseCommandLine : public ::testing::TestWithParam<ParseRow> {};

TEST_P(ParseCommandLine, Row) {
    const ParseRow& row = GetParam();
    std::vector<std::string_view> arguments{"/usr/bin/vantorio"};
    arguments.insert(arguments.end(), row.arguments.begin(), row.arguments.end());
    const CommandLine line = startup::ParseCommandLine(arguments);
    EXPECT_EQ(line.action, row.action);
    EXPECT_EQ(line.error, row.error);
    if (row.action != Action::Run) return;
    EXPECT_EQ(line.hive, row.hive);
    std::vector<std::string> toolkit{"/usr/bin/vantorio"};
    toolkit.insert(toolkit.end(), row.toolkit.begin(), row.toolkit.end());
    EXPECT_EQ(line.toolkitArguments, toolkit);
}

const ParseRow ParseRows[] = {
    {"Nothing", {}, Action::Run, std::nullopt, {}, ""},
    {"AHive", {"/mnt/w/SOFTWARE"}, Action::Run, "/mnt/w/SOFTWARE", {}, ""},
    {"Help", {"--help"}, Action::Help, std::nullopt, {}, ""},
    {"ShortHelp", {"-h"}, Action::Help, std::nullopt, {}, ""},
    {"Version", {"--version"}, Action::Version, std::nullopt, {}, ""},
    {"HelpBeforeABadOption", {"--help", "--bogus"}, Action::Help, std::nullopt, {}, ""},
    {"BadOptionBeforeHelp", {"--bogus", "--help"}, Action::UsageError, std::nullopt, {}, "unknown option '--bogus'"},
    {"HelpWithTwoOperands", {"a", "b", "--help"}, Action::Help, std::nullopt, {}, ""},
    {"UnknownShortOption", {"-x"}, Action::UsageError, std::nullopt, {}, "unknown option '-x'"},
    // An unknown option is named without its value, which may be a secret.
    {"UnknownLongOption", {"--password=secret"}, Action::UsageError, std::nullopt, {}, "unknown option '--password'"},
    {"HelpWord", {"help"}, Action::Help, std::nullopt, {}, ""},
    {"HelpWordAfterAnOption", {"-reverse", "help"}, Action::Run, "help", {"-reverse"}, ""},
    {"TwoHives", {"a", "b"}, Action::UsageError, std::nullopt, {}, "one hive at most, not also 'b'"},
    {"ToolkitOptionWithItsValue", {"-platform", "offscreen", "/h"}, Action::Run, "/h", {"-platform", "offscreen"}, ""},
    {"ToolkitOptionWithTwoDashes", {"--platform", "offscreen"}, Action::Run, std::nullopt, {"--platform", "offscreen"}, ""},
    {"ToolkitValueLooksLikeAHive", {"-display", ":1"}, Action::Run, std::nullopt, {"-display", ":1"}, ""},
    {"JoinedStyle", {"-style=fusion", "/h"}, Action::Run, "/h", {"-style=fusion"}, ""},
    {"ToolkitFlags", {"-reverse", "/h", "-nograb"}, Action::Run, "/h", {"-reverse", "-nograb"}, ""},
    {"ToolkitValueIsTaken", {"-title", "--help"}, Action::Run, std::nullopt, {"-title", "--help"}, ""},
    {"ToolkitOptionWithoutItsValue", {"/h", "-platform"}, Action::UsageError, std::nullopt, {}, "option '-platform' needs a value"},
    {"JoinedValueOnlyWhereTaken", {"-platform=offscreen"}, Action::UsageError, std::nullopt, {}, "option '-platform' takes its value as the next argument"},
    {"JoinedValueOfAFlag", {"-reverse=yes"}, Action::UsageError, std::nullopt, {}, "option '-reverse' takes no value"},
    {"DashDashEndsOptions", {"--", "-odd-name"}, Action::Run, "-odd-name", {}, ""},
    {"DashDashThenHelpIsAHive", {"--", "--help"}, Action::Run, "--help", {}, ""},
    {"LoneDashIsAHive", {"-"}, Action::Run, "-", {}, ""},
    {"EmptyHive", {""}, Action::Run, "", {}, ""},
};

INSTANTIATE_TEST_SUITE_P(Startup, ParseCommandLine, ::testing::ValuesIn(ParseRows),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- the built program ----------------------------------------------------------------

using platformtest::CannotExec;
using platformtest::Outcome;

// The program as a user starts it: without a display, in the C.UTF-8 locale.
struct Launch : platformtest::Launch {
    Launch(std::vector<std::string> arguments = {}, std::map<std::string, std::string> environment = {},
           bool unprivileged = false, bool stdoutFull = false)
        : platformtest::Launch{VANTORIO_PROGRAM, std::move(arguments), std::move(environment), unprivileged, stdoutFull, {}} {}
};

Outcome run(const Launch& launch) { return platformtest::launch(launch); }

const std::string Synopsis = "Usage: vantorio [OPTION]... [HIVE]\nTry 'vantorio --help' for more information.\n";

// A folder with a valid hive, a place for the default hive, and files of every wrong kind.
class ProgramTest : public ::testing::Test {
public:
    void SetUp() override {
        testsupport::makeHive(hive, {testsupport::textValue("DefaultUserName", u"Operator")});
        testsupport::writeFile(text, "not a hive\n");
        testsupport::writeFile(empty, "");
        testsupport::writeFile(baseBlockOnly, testsupport::fileBytes(hive).substr(0, 4096));
        std::filesystem::create_directory(folder);
        std::filesystem::create_symlink(hive, link);
        std::filesystem::create_symlink(dir.file("gone"), dangling);
        ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    }

    // Without a display and with a data folder of the test's own; nothing names a hive.
    Launch launch(std::vector<std::string> arguments) {
        return {std::move(arguments), {{"HOME", dir.path()}, {"XDG_DATA_HOME", data}}, false, false};
    }
    // The same, with the toolkit offscreen and the program leaving once its window is shown:
    // the program's copy with the start-up probe.
    Launch windowLaunch(std::vector<std::string> arguments) {
        Launch l = launch(std::move(arguments));
        l.program = VANTORIO_PROBED_PROGRAM;
        l.environment["VANTORIO_BENCH_EXIT_ON_SHOW"] = "1";
        l.environment["XDG_RUNTIME_DIR"] = runtimeDir;
        return l;
    }
    static void expectShown(const Outcome& o) {
        EXPECT_EQ(o.status, 0) << o.err;
        EXPECT_EQ(o.out.rfind("mapped ", 0), 0u) << o.out;
    }

    TempDir dir;
    std::string data = dir.file("data");
    std::string defaultHive = data + "/vantorio/SOFTWARE";
    std::string runtimeDir = [this] {
        const std::string d = dir.file("runtime");
        std::filesystem::create_directory(d);
        std::filesystem::permissions(d, std::filesystem::perms::owner_all);
        return d;
    }();
    std::string hive = dir.file("SOFTWARE");
    std::string text = dir.file("notes.txt");
    std::string empty = dir.file("empty");
    std::string baseBlockOnly = dir.file("truncated");
    std::string folder = dir.file("folder");
    std::string link = dir.file("link");
    std::string dangling = dir.file("dangling");
    std::string fifo = dir.file("fifo");
    std::string device = "/dev/null";
};

// The start-up probe is in the copy that the benchmark and these tests start, never in the
// program that is installed.
TEST(StartupProbe, OnlyInTheProbedCopy) {
    const std::string probe = "VANTORIO_BENCH_EXIT_ON_SHOW";
    EXPECT_EQ(testsupport::fileBytes(VANTORIO_PROGRAM).find(probe), std::string::npos);
    EXPECT_NE(testsupport::fileBytes(VANTORIO_PROBED_PROGRAM).find(probe), std::string::npos);
}

// A start with nowhere to show the window says so in one line, instead of the toolkit's abort.
struct NoWindowRow {
    const char* name;
    std::map<std::string, std::string> environment;
    std::vector<std::string> options;
    std::string why;
};
void PrintTo(const NoWindowRow& row, std::ostream* os) { *os << row.name; }

class NoWindow : public ProgramTest, public ::testing::WithParamInterface<NoWindowRow> {};

TEST_P(NoWindow, IsAStartUpErrorOfOneLine) {
    Launch l = launch(GetParam().options);
    l.arguments.push_back(hive);
    l.environment.insert(GetParam().environment.begin(), GetParam().environment.end());
    const Outcome o = run(l);
    EXPECT_EQ(o.status, 2);
    EXPECT_EQ(o.err, "vantorio: cannot open the window: " + GetParam().why + "\n");
    EXPECT_EQ(o.out, "");
    EXPECT_FALSE(std::filesystem::exists(defaultHive));
}

INSTANTIATE_TEST_SUITE_P(
    Program, NoWindow,
    ::testing::Values(NoWindowRow{"NoDisplay", {}, {}, "no display (DISPLAY and WAYLAND_DISPLAY are not set)"},
                      NoWindowRow{"DisplayOutOfReach", {{"DISPLAY", ":99"}}, {}, "could not connect to display :99"},
                      NoWindowRow{"UnknownPlatform", {}, {"-platform", "nosuch"},
                                  "Could not find the Qt platform plugin \"nosuch\" in \"\""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ProgramTest, HelpSaysHowToUseItWithoutADisplay) {
    for (const char* option : {"--help", "-h", "help"}) {
        SCOPED_TRACE(option);
        const Outcome o = run(launch({option}));
        EXPECT_EQ(o.status, 0);
        EXPECT_EQ(o.err, "");
        EXPECT_EQ(o.out.rfind("Usage: vantorio [OPTION]... [HIVE]\n", 0), 0u);
        const std::vector<std::string> parts = {
            "Winlogon", "VANTORIO_SOFTWARE_HIVE", "Exit status:", "  2  a bad command line",
            "Without HIVE, this start would use:\n  " + defaultHive + " (the default hive)\n"};
        for (const std::string& part : parts)
            EXPECT_NE(o.out.find(part), std::string::npos) << part;
    }
    // Asking for help creates nothing.
    EXPECT_FALSE(std::filesystem::exists(data));
}

TEST_F(ProgramTest, HelpNamesTheHiveThatTheVariableChooses) {
    Launch l = launch({"--help"});
    l.environment["VANTORIO_SOFTWARE_HIVE"] = hive;
    const Outcome o = run(l);
    EXPECT_EQ(o.status, 0);
    EXPECT_NE(o.out.find("  " + hive + " (named by VANTORIO_SOFTWARE_HIVE)\n"), std::string::npos) << o.out;
}

TEST_F(ProgramTest, VersionIsTheProjects) {
    const Outcome o = run(launch({"--version"}));
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.err, "");
    EXPECT_EQ(o.out.substr(0, o.out.find('\n')), "vantorio " VANTORIO_VERSION);
    EXPECT_NE(o.out.find("MIT"), std::string::npos);
}

TEST_F(ProgramTest, HelpThatCannotBeWrittenFails) {
    Launch l = launch({"--help"});
    l.stdoutFull = true;
    const Outcome o = run(l);
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.err, "vantorio: cannot write to standard output: No space left on device\n");
}

struct UsageRow {
    const char* name;
    std::vector<std::string> arguments;
    std::string error;
};
void PrintTo(const UsageRow& row, std::ostream* os) { *os << row.name; }

class BadCommandLine : public ProgramTest, public ::testing::WithParamInterface<UsageRow> {};

TEST_P(BadCommandLine, GivesTheUsageOnStandardErrorAndStatusTwo) {
    const Outcome o = run(launch(GetParam().arguments));
    EXPECT_EQ(o.status, 2);
    EXPECT_EQ(o.out, "");
    EXPECT_EQ(o.err, "vantorio: " + GetParam().error + "\n" + Synopsis);
    EXPECT_FALSE(std::filesystem::exists(data));
}

INSTANTIATE_TEST_SUITE_P(
    Program, BadCommandLine,
    ::testing::Values(UsageRow{"UnknownOption", {"--bogus"}, "unknown option '--bogus'"},
                      UsageRow{"UnknownShortOption", {"-x", "SOFTWARE"}, "unknown option '-x'"},
                      UsageRow{"SecondArgument", {"one", "two"}, "one hive at most, not also 'two'"},
                      UsageRow{"ToolkitOptionWithoutValue", {"-platform"}, "option '-platform' needs a value"}),
    [](const auto& info) { return std::string(info.param.name); });

// A named hive that cannot be used: one line naming the path and the reason, status 2, no
// window (there is no display to open one on), and nothing created.
struct HiveRow {
    const char* name;
    std::string ProgramTest::*path;
    std::string suffix;  // below the path
    std::string reason;
};
void PrintTo(const HiveRow& row, std::ostream* os) { *os << row.name; }

class UnusableHive : public ProgramTest, public ::testing::WithParamInterface<HiveRow> {
protected:
    std::string path() { return this->*GetParam().path + GetParam().suffix; }
};

TEST_P(UnusableHive, AsTheArgument) {
    const Outcome o = run(launch({path()}));
    EXPECT_EQ(o.status, 2);
    EXPECT_EQ(o.out, "");
    EXPECT_EQ(o.err, "vantorio: '" + path() + "': " + GetParam().reason + "\n");
    EXPECT_FALSE(std::filesystem::exists(data));
    EXPECT_FALSE(std::filesystem::exists(dir.file("gone")));
}

TEST_P(UnusableHive, NamedByTheVariable) {
    Launch l = launch({});
    l.environment["VANTORIO_SOFTWARE_HIVE"] = path();
    const Outcome o = run(l);
    EXPECT_EQ(o.status, 2);
    EXPECT_EQ(o.err, "vantorio: '" + path() + "' (named by VANTORIO_SOFTWARE_HIVE): " + GetParam().reason + "\n");
    EXPECT_FALSE(std::filesystem::exists(data));
}

INSTANTIATE_TEST_SUITE_P(
    Program, UnusableHive,
    ::testing::Values(
        HiveRow{"Missing", &ProgramTest::hive, ".misspelt", "does not exist"},
        HiveRow{"MissingFolder", &ProgramTest::folder, "/absent/SOFTWARE", "does not exist"},
        HiveRow{"BelowAFile", &ProgramTest::text, "/SOFTWARE", "does not exist (a part of the path is not a folder)"},
        HiveRow{"DanglingLink", &ProgramTest::dangling, "", "does not exist (a symbolic link to a missing file)"},
        HiveRow{"Folder", &ProgramTest::folder, "", "is a folder, not a hive file nor a Windows installation with Windows/System32/config/SOFTWARE"},
        HiveRow{"Pipe", &ProgramTest::fifo, "", "is a pipe, not a hive file"},
        HiveRow{"Device", &ProgramTest::device, "", "is a device, not a hive file"},
        HiveRow{"Text", &ProgramTest::text, "", "is not a registry hive file, or a damaged one"},
        HiveRow{"Empty", &ProgramTest::empty, "", "is not a registry hive file, or a damaged one"},
        HiveRow{"BaseBlockOnly", &ProgramTest::baseBlockOnly, "", "is not a registry hive file, or a damaged one"}),
    [](const auto& info) { return std::string(info.param.name); });

// A hive that only root may read, asked for by another user.
TEST_F(ProgramTest, UnreadableHiveIsRefused) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root, to start the program as another user";
    std::filesystem::permissions(dir.path(), std::filesystem::perms::all);
    std::filesystem::permissions(hive, std::filesystem::perms::none);
    Launch l = launch({hive});
    l.unprivileged = true;
    const Outcome o = run(l);
    if (o.status == CannotExec) GTEST_SKIP() << "the program cannot be run by user 65534 where it was built";
    EXPECT_EQ(o.status, 2);
    EXPECT_EQ(o.err, "vantorio: '" + hive + "': cannot be read: Permission denied\n");
}

// With nothing named, a default hive that cannot be made stops the start in the same way: one
// line naming the folder or file and the reason, status 2, no window, and nothing made.
struct DefaultRow {
    const char* name;
    bool unprivileged;  // started as user 65534, who owns the data folder
    std::function<void(const std::string& folder)> spoil; // the default hive's folder, 0700 until then
    std::string error;  // after "vantorio: "; FOLDER and HIVE stand for the default hive's
};
void PrintTo(const DefaultRow& row, std::ostream* os) { *os << row.name; }

class UnusableDefaultHive : public ProgramTest, public ::testing::WithParamInterface<DefaultRow> {};

TEST_P(UnusableDefaultHive, StopsTheStart) {
    const DefaultRow& row = GetParam();
    if (geteuid() != 0) GTEST_SKIP() << "needs root, to give the folder to another user";
    const std::string folder = data + "/vantorio";
    std::filesystem::create_directories(folder);
    std::filesystem::permissions(folder, std::filesystem::perms::owner_all);
    if (row.unprivileged) {
        std::filesystem::permissions(dir.path(), std::filesystem::perms::all);
        chown(data.c_str(), 65534, 65534);
        chown(folder.c_str(), 65534, 65534);
    }
    row.spoil(folder);
    Launch l = windowLaunch({"-platform", "offscreen"});
    l.unprivileged = row.unprivileged;
    const Outcome o = run(l);
    if (o.status == CannotExec) GTEST_SKIP() << "the program cannot be run by user 65534 where it was built";
    std::string error = "vantorio: " + row.error + "\n";
    for (const auto& [token, path] : {std::pair{"FOLDER", folder}, std::pair{"HIVE", defaultHive}})
        if (const auto at = error.find(token); at != std::string::npos) error.replace(at, std::string_view(token).size(), path);
    EXPECT_EQ(o.status, 2);
    EXPECT_EQ(o.out, "");
    EXPECT_EQ(o.err, error);
    EXPECT_TRUE(std::filesystem::is_empty(folder));
}

INSTANTIATE_TEST_SUITE_P(
    Program, UnusableDefaultHive,
    ::testing::Values(
        DefaultRow{"AnotherUsersFolder", false, [](const std::string& f) { chown(f.c_str(), 65534, 65534); },
                   "'FOLDER' (the default hive's folder): belongs to another user (uid 65534), not to you"},
        DefaultRow{"FolderOthersMayWrite", false, [](const std::string& f) { chmod(f.c_str(), 0777); },
                   "'FOLDER' (the default hive's folder): may be written by other users (mode 0777), not by you alone"},
        DefaultRow{"FolderNotWritable", true, [](const std::string& f) { chmod(f.c_str(), 0500); },
                   "'HIVE' (the default hive): cannot be created: Permission denied"}),
    [](const auto& info) { return std::string(info.param.name); });

// The window opens on a usable hive, however it is named, with the toolkit's own options.
struct WindowRow {
    const char* name;
    std::vector<std::string> arguments;  // "HIVE" and "LINK" stand for the fixture's files
    bool variable;                       // VANTORIO_SOFTWARE_HIVE names the missing file
};
void PrintTo(const WindowRow& row, std::ostream* os) { *os << row.name; }

class WindowOpens : public ProgramTest, public ::testing::WithParamInterface<WindowRow> {};

TEST_P(WindowOpens, OnTheNamedHiveWithoutCreatingTheDefault) {
    std::vector<std::string> arguments = GetParam().arguments;
    for (std::string& a : arguments) {
        if (a == "HIVE") a = hive;
        if (a == "LINK") a = link;
    }
    Launch l = windowLaunch(arguments);
    // The argument wins over a variable that names a file that is not there.
    if (GetParam().variable) l.environment["VANTORIO_SOFTWARE_HIVE"] = hive + ".misspelt";
    const std::string before = testsupport::fileBytes(hive);
    expectShown(run(l));
    EXPECT_FALSE(std::filesystem::exists(data));
    EXPECT_EQ(testsupport::fileBytes(hive), before);
}

INSTANTIATE_TEST_SUITE_P(
    Program, WindowOpens,
    ::testing::Values(WindowRow{"PlatformOption", {"-platform", "offscreen", "HIVE"}, false},
                      WindowRow{"HiveBeforeTheOption", {"HIVE", "-platform", "offscreen"}, false},
                      WindowRow{"TwoDashes", {"--platform", "offscreen", "HIVE"}, false},
                      WindowRow{"JoinedStyle", {"-platform", "offscreen", "-style=fusion", "HIVE"}, false},
                      WindowRow{"AfterDashDash", {"-platform", "offscreen", "--", "HIVE"}, false},
                      WindowRow{"ThroughALink", {"-platform", "offscreen", "LINK"}, false},
                      WindowRow{"ArgumentWinsOverTheVariable", {"-platform", "offscreen", "HIVE"}, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ProgramTest, WindowOpensOnTheHiveTheVariableNames) {
    Launch l = windowLaunch({"-platform", "offscreen"});
    l.environment["VANTORIO_SOFTWARE_HIVE"] = hive;
    expectShown(run(l));
    EXPECT_FALSE(std::filesystem::exists(data));
}

// With nothing named, the default hive is made as before, private to the user.
TEST_F(ProgramTest, WindowOpensOnTheDefaultHiveWhenNothingIsNamed) {
    Launch l = windowLaunch({"-platform", "offscreen"});
    l.environment["VANTORIO_SOFTWARE_HIVE"] = "";
    expectShown(run(l));
    ASSERT_TRUE(std::filesystem::is_regular_file(defaultHive));
    EXPECT_EQ(std::filesystem::status(defaultHive).permissions(),
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    EXPECT_EQ(testsupport::readValue(defaultHive, "DefaultUserName"),
              testsupport::textValue("DefaultUserName", u"Administrator"));
    EXPECT_TRUE(testsupport::checkHiveFile(defaultHive).sound());
}

} // namespace
