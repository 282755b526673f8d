// The commands for scripts, as a script runs them: one table of invocations (the arguments,
// standard input, the hive before, the exit status, what the program writes, and the values
// the hive holds after, read with libhivex), one row for each rule the window would enforce.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "child_process.h"
#include "hive_fixture.h"

namespace {

using testsupport::HiveValue;

HiveValue sz(const char* name, std::u16string_view text) { return testsupport::textValue(name, text); }
HiveValue raw(const char* name, std::uint32_t type, std::string bytes) { return {name, type, std::move(bytes)}; }

struct CommandRow {
    const char* name;
    std::vector<std::string> arguments;  // $HIVE: the hive; $ROOT: a Windows installation holding it; $FILE: a text
                                         // file; $BIG: a file larger than any notice; $DIR: a folder
    std::string input;                   // standard input
    std::vector<HiveValue> before;
    int status;
    std::string out, err;                // with the same words for the same paths
    std::vector<HiveValue> after;        // empty: the hive as it was, byte for byte, in the same file
    bool unfinishedWrite = false;        // the hive's last write did not finish (changes in logs not beside it)
    std::map<std::string, std::string> environment{};  // over HOME and LC_ALL=C.UTF-8, with the same words
    std::vector<HiveValue> logged = {};  // set after `before`, in the log SOFTWARE.log1 beside it only
};
void PrintTo(const CommandRow& row, std::ostream* os) { *os << row.name; }

std::string replaced(std::string text, const std::string& word, const std::string& by) {
    for (std::size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + by.size()))
        text.replace(at, word.size(), by);
    return text;
}

class Commands : public ::testing::TestWithParam<CommandRow> {};

TEST_P(Commands, Row) {
    const CommandRow& row = GetParam();
    testsupport::TempDir dir;
    const std::string config = dir.file("volume/WINDOWS/system32/Config");
    std::filesystem::create_directories(config);
    const std::string hive = config + "/software";
    testsupport::makeHive(hive, row.before);
    if (row.unfinishedWrite) {
        std::string bytes = testsupport::fileBytes(hive);
        testsupport::leaveWriteUnfinished(bytes);
        testsupport::writeFile(hive, bytes);
    }
    if (!row.logged.empty())
        testsupport::logChange(hive, config + "/SOFTWARE.log1", [&] {
            for (const HiveValue& v : row.logged) testsupport::putValue(hive, v);
        });
    testsupport::writeFile(dir.file("notice.txt"), "ようこそ\n");
    testsupport::writeFile(dir.file("big.txt"), std::string(4000, 'x'));
    std::filesystem::create_directory(dir.file("folder"));
    const std::string before = testsupport::fileBytes(hive);
    struct stat was {};
    ASSERT_EQ(stat(hive.c_str(), &was), 0);

    auto words = [&](const std::string& text) {
        std::string out = text;
        for (const auto& [word, by] : {std::pair{"$HIVE", hive}, {"$ROOT", dir.file("volume")}, {"$FILE", dir.file("notice.txt")},
                                       {"$BIG", dir.file("big.txt")}, {"$DIR", dir.file("folder")}})
            out = replaced(out, word, by);
        return out;
    };
    platformtest::Launch launch{VANTORIO_PROGRAM, {}, {{"HOME", dir.path()}}, false, false, row.input};
    for (const auto& [name, value] : row.environment) launch.environment[name] = words(value);
    for (const std::string& a : row.arguments) launch.arguments.push_back(words(a));
    const platformtest::Outcome o = platformtest::launch(launch);
    EXPECT_EQ(o.status, row.status);
    EXPECT_EQ(o.out, words(row.out));
    EXPECT_EQ(o.err, words(row.err));
    if (row.after.empty()) {
        EXPECT_EQ(testsupport::fileBytes(hive), before);
        struct stat now {};
        ASSERT_EQ(stat(hive.c_str(), &now), 0);
        EXPECT_EQ(now.st_ino, was.st_ino) << "the hive was replaced by a copy of itself";
    } else {
        EXPECT_EQ(testsupport::readValues(hive), row.after);
    }
    // Nothing but the hive (and its log) is left in its folder, and no default hive is made.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(config), {}), row.logged.empty() ? 1 : 2);
    EXPECT_FALSE(std::filesystem::exists(dir.file(".local")));
}

const std::vector<HiveValue> Kiosk{sz("AutoAdminLogon", u"1"), sz("DefaultUserName", u"kiosk"), sz("DefaultPassword", u"pw"),
                                   sz("LegalNoticeCaption", u"Corp"), sz("LegalNoticeText", u"Authorised use only")};
const std::vector<HiveValue> Fresh{sz("AutoAdminLogon", u"0"), sz("DefaultUserName", u"Administrator"),
                                   sz("ShutdownWithoutLogon", u"1")};
const std::vector<HiveValue> KioskLoggingOff{sz("AutoAdminLogon", u"0"), sz("DefaultUserName", u"kiosk"),
                                             sz("DefaultPassword", u"pw"), sz("ShutdownWithoutLogon", u"1")};
const std::string SetUsage = "Usage: vantorio set [--dry-run] SETTING... [HIVE]\nTry 'vantorio set --help' for more information.\n";
const std::string LogsLeft = "vantorio: set: register refused: cannot open the Winlogon key for writing: access denied: Windows left "
                             "changes of '$HIVE' in logs that are not beside it (software.LOG1, software.LOG2, software.LOG): put them back "
                             "beside the hive, or start that Windows and shut it down completely, then try again; nothing was saved\n";

const CommandRow Rows[] = {
    {"ShowForPeople", {"show", "$HIVE"}, "", Kiosk, 0,
     "hive: $HIVE\nstate: clean\nautomatic logon: on\nuser name: kiosk\npassword: set\nhide last user name: off\n"
     "shutdown without logon: off\nnotice: on\nnotice caption: Corp\nnotice text: Authorised use only\n", "", {}},
    // Windows' last changes, in the hive's log, are what is shown: the file stays as it is.
    {"ShowReplaysTheLog", {"show", "$HIVE"}, "", Kiosk, 0,
     "hive: $HIVE\nstate: recovered (1 log entry replayed)\nautomatic logon: on\nuser name: logged\npassword: set\n"
     "hide last user name: off\nshutdown without logon: off\nnotice: on\nnotice caption: From the log\n"
     "notice text: Authorised use only\n", "", {}, false, {}, {sz("DefaultUserName", u"logged"), sz("LegalNoticeCaption", u"From the log")}},
    {"ShowJsonOfAHiveWithoutItsLogs", {"show", "--json", "$HIVE"}, "", Fresh, 0,
     "{\"version\": 1, \"hive\": \"$HIVE\", \"state\": \"dirty\", \"autoLogon\": false, \"userName\": \"Administrator\", "
     "\"passwordSet\": false, \"hideLastUserName\": false, \"shutdownWithoutLogon\": true, \"notice\": false, \"noticeCaption\": \"\", "
     "\"noticeText\": \"\", \"kept\": {}, \"absent\": [\"DefaultPassword\", \"DontDisplayLastUserName\", \"LegalNoticeCaption\", "
     "\"LegalNoticeText\"]}\n", "", {}, true},
    // Kept values, each with its reason and (but the password's) its stored form.
    {"ShowJsonWithKeptValues", {"show", "--json", "$HIVE"}, "",
     {sz("DefaultUserName", u"José"), raw("DontDisplayLastUserName", 4, std::string("\1\0\0\0", 4)),
      raw("DefaultPassword", 1, testsupport::utf16le(u"p") + testsupport::utf16le(u"q")), sz("LegalNoticeCaption", u"Corp"),
      raw("LegalNoticeText", 7, testsupport::utf16le(u"") + testsupport::utf16le(u"x") + testsupport::utf16le(u""))},
     0,
     "{\"version\": 1, \"hive\": \"$HIVE\", \"state\": \"clean\", \"autoLogon\": false, \"userName\": \"Jose\", \"passwordSet\": true, \"hideLastUserName\": false, "
     "\"shutdownWithoutLogon\": false, \"notice\": false, \"noticeCaption\": \"Corp\", \"noticeText\": \"\", \"kept\": {"
     "\"DefaultUserName\": {\"reason\": \"beyond-code-page-932\", \"stored\": {\"type\": \"REG_SZ\", \"bytes\": "
     "\"4a006f007300e9000000\", \"text\": \"José\\u0000\"}}, "
     "\"DefaultPassword\": {\"reason\": \"data-after-nul\"}, "
     "\"DontDisplayLastUserName\": {\"reason\": \"other-type\", \"stored\": {\"type\": \"REG_DWORD\", \"bytes\": \"01000000\", \"number\": 1}}, "
     "\"LegalNoticeCaption\": {\"reason\": \"with-notice-text\", \"stored\": {\"type\": \"REG_SZ\", \"bytes\": \"43006f00720070000000\", \"text\": \"Corp\\u0000\"}}, "
     "\"LegalNoticeText\": {\"reason\": \"other-type\", \"stored\": {\"type\": \"REG_MULTI_SZ\", \"bytes\": \"0000780000000000\", \"text\": \"\\u0000x\\u0000\\u0000\"}}}, "
     "\"absent\": [\"AutoAdminLogon\", \"ShutdownWithoutLogon\"]}\n",
     "", {}},
    // Named by the variable; a value not stored at all is told from one stored empty.
    {"ShowJsonOfTheHiveTheVariableNames", {"show", "--json"}, "",
     {sz("DefaultUserName", u""), raw("LegalNoticeText", 1, testsupport::utf16le(u"") + testsupport::utf16le(u"\u202e\u0085"))}, 0,
     "{\"version\": 1, \"hive\": \"$HIVE\", \"state\": \"clean\", \"autoLogon\": false, \"userName\": \"\", \"passwordSet\": false, "
     "\"hideLastUserName\": false, \"shutdownWithoutLogon\": false, \"notice\": false, \"noticeCaption\": \"\", "
     "\"noticeText\": \"\", \"kept\": {\"LegalNoticeCaption\": {\"reason\": \"with-notice-text\"}, \"LegalNoticeText\": "
     "{\"reason\": \"data-after-nul\", \"stored\": {\"type\": \"REG_SZ\", \"bytes\": \"00002e2085000000\", "
     "\"text\": \"\\u0000\\u202e\\u0085\\u0000\"}}}, \"absent\": [\"AutoAdminLogon\", \"DefaultPassword\", "
     "\"DontDisplayLastUserName\", \"ShutdownWithoutLogon\", \"LegalNoticeCaption\"]}\n",
     "", {}, false, {{"VANTORIO_SOFTWARE_HIVE", "$HIVE"}}},
    // Nothing that reaches the terminal can act on it or be read as something else.
    {"ShowEscapesWhatCouldBeMisread", {"show", "$HIVE"}, "",
     {sz("DefaultUserName", u"C:\\new"), sz("LegalNoticeCaption", u"C:\nnew\x1b]0;title\x07"),
      raw("LegalNoticeText", 1, testsupport::utf16le(u"ok") + testsupport::utf16le(u"\u202e\u0085"))},
     0,
     "hive: $HIVE\nstate: clean\nautomatic logon: off\nuser name: C:\\\\new\npassword: not set\nhide last user name: off\n"
     "shutdown without logon: off\nnotice: on\nnotice caption: C:\\nnew\\x1b]0;title\\x07\nnotice text: ok\n"
     "  kept as stored (data after the NUL that ends its text): REG_SZ \"ok\\0\\u202e\\x85\\0\"\n", "", {}},
    {"ShowInALocaleWithoutJapanese", {"show", "$HIVE"}, "", {sz("DefaultUserName", u"あい")}, 0,
     "hive: $HIVE\nstate: clean\nautomatic logon: off\nuser name: \\u3042\\u3044\npassword: not set\nhide last user name: off\n"
     "shutdown without logon: off\nnotice: off\nnotice caption: \nnotice text: \n", "", {}, false, {{"LC_ALL", "C"}}},
    // The commands use no hive that is not named, and make none.
    {"NoHiveNamed", {"set", "--notice=off"}, "", Kiosk, 2, "",
     "vantorio: set: no hive named: name the SOFTWARE hive (HIVE, or VANTORIO_SOFTWARE_HIVE); the commands never use "
     "the window's default hive\n", {}},
    {"EmptyHiveNamed", {"show", ""}, "", Kiosk, 2, "",
     "vantorio: show: the hive named is empty: name the SOFTWARE hive (HIVE, or VANTORIO_SOFTWARE_HIVE)\n", {}, false,
     {{"VANTORIO_SOFTWARE_HIVE", "$HIVE"}}},
    {"MissingHiveNamedWithAnEscape", {"show", "$ROOT/\x1b[2Jgone"}, "", Kiosk, 2, "",
     "vantorio: show: '$ROOT/\\x1b[2Jgone': does not exist\n", {}},
    {"SetAutomaticLogon", {"set", "--auto-logon=on", "--user=kiosk", "--password-stdin", "$HIVE"}, "s3cret\n", Fresh, 0, "", "",
     {sz("AutoAdminLogon", u"1"), sz("DefaultUserName", u"kiosk"), sz("ShutdownWithoutLogon", u"1"),
      sz("DefaultPassword", u"s3cret"), sz("LegalNoticeCaption", u""), sz("LegalNoticeText", u"")}},
    // The root of a Windows installation names its hive, whatever the case of its folders.
    {"SetNoticeFromAFileOnAWindowsVolume", {"set", "--notice=on", "--caption=注意", "--notice-text-file=$FILE", "$ROOT"}, "",
     Fresh, 0, "", "",
     {sz("DefaultUserName", u"Administrator"), sz("ShutdownWithoutLogon", u"1"), sz("LegalNoticeCaption", u"注意"),
      sz("LegalNoticeText", u"ようこそ")}},
    // A notice text too long to show shows the notice off, and only its own setting changes it.
    {"NoticeOnLeavesAKeptTextThatShowsItOff", {"set", "--notice=on", "--caption=New", "$HIVE"}, "",
     {sz("AutoAdminLogon", u"0"), sz("LegalNoticeText", std::u16string(1100, u't'))}, 2, "",
     "vantorio: set: --notice=on: LegalNoticeText is kept as stored (too long to show) and shows the notice as off; "
     "--notice=on alone does not change that: add --notice-text\n", {}},
    {"KeptNoticeTextReplaced", {"set", "--notice=on", "--notice-text=Welcome", "$HIVE"}, "",
     {sz("AutoAdminLogon", u"0"), sz("LegalNoticeText", std::u16string(1100, u't'))}, 0, "", "",
     {sz("LegalNoticeText", u"Welcome"), sz("ShutdownWithoutLogon", u"0"), sz("DefaultUserName", u"")}},
    {"NoticeOnWithoutText", {"set", "--notice=on", "$HIVE"}, "", Fresh, 2, "",
     "vantorio: set: --notice=on: the notice is on only with a text, and there is none: add --notice-text\n", {}},
    {"NoticeOnWithAnEmptyText", {"set", "--notice=on", "--notice-text=", "$HIVE"}, "", Kiosk, 2, "",
     "vantorio: set: --notice=on: the notice is on only with a text, and the text given is empty\n", {}},
    // Each setting is judged by the state at register, whatever the order of the settings.
    {"HideLastUserWhereAutomaticLogonEndsOn", {"set", "--hide-last-user=on", "--auto-logon=on", "$HIVE"}, "", Fresh, 2, "",
     "vantorio: set: --hide-last-user=on: stored only with automatic logon off, not with --auto-logon=on\n", {}},
    {"CaptionWhereTheNoticeEndsOff", {"set", "--notice=off", "--caption=zzz", "$HIVE"}, "", Kiosk, 2, "",
     "vantorio: set: --caption: stored only with the notice on, not with --notice=off\n", {}},
    {"LogonScreenSettingWhereAutomaticLogonStaysOn", {"set", "--shutdown-without-logon=on", "$HIVE"}, "", Kiosk, 2, "",
     "vantorio: set: --shutdown-without-logon=on: stored only with automatic logon off, and it is on: add --auto-logon=off\n", {}},
    // The user name and password change in any state: automatic logon turned on and off around the edit.
    {"PasswordRemovedWithAutomaticLogonOff", {"set", "--auto-logon=off", "--no-password", "$HIVE"}, "", KioskLoggingOff, 0, "", "",
     {sz("DefaultUserName", u"kiosk"), sz("ShutdownWithoutLogon", u"1"), sz("LegalNoticeCaption", u""), sz("LegalNoticeText", u"")}},
    {"UserNameWithAutomaticLogonOff", {"set", "--user=operator", "$HIVE"}, "", Fresh, 0, "", "",
     {sz("DefaultUserName", u"operator"), sz("ShutdownWithoutLogon", u"1"), sz("LegalNoticeCaption", u""), sz("LegalNoticeText", u"")}},
    {"UserNameWhereTheClicksWouldRewriteAKeptValue", {"set", "--user=kiosk", "$HIVE"}, "",
     {raw("AutoAdminLogon", 4, std::string("\1\0\0\0", 4)), sz("DefaultUserName", u"a")}, 2, "",
     "vantorio: set: --user: its box takes edits with automatic logon on, and turning it on and off again would rewrite "
     "AutoAdminLogon, which is kept as stored (stored as another type than REG_SZ): add --auto-logon=on or --auto-logon=off\n", {}},
    {"PasswordWhereTheClicksWouldRewriteAKeptValue", {"set", "--no-password", "$HIVE"}, "",
     {raw("DontDisplayLastUserName", 4, std::string("\1\0\0\0", 4)), sz("DefaultPassword", u"pw")}, 2, "",
     "vantorio: set: --no-password: its box takes edits with automatic logon on, and turning it on and off again would "
     "rewrite DontDisplayLastUserName, which is kept as stored (stored as another type than REG_SZ): add "
     "--hide-last-user=on or --hide-last-user=off\n", {}},
    {"PasswordWithTheKeptValueNamed", {"set", "--no-password", "--hide-last-user=on", "$HIVE"}, "",
     {raw("DontDisplayLastUserName", 4, std::string("\1\0\0\0", 4)), sz("DefaultPassword", u"pw")}, 0, "", "",
     {sz("DontDisplayLastUserName", u"1"), sz("ShutdownWithoutLogon", u"0"), sz("DefaultUserName", u""),
      sz("LegalNoticeCaption", u""), sz("LegalNoticeText", u"")}},
    {"PasswordStaysWhenAutomaticLogonGoesOff", {"set", "--auto-logon=off", "$HIVE"}, "", Kiosk, 0, "",
     "vantorio: set: --auto-logon=off: the password stays stored; add --no-password to remove it\n",
     {sz("DefaultUserName", u"kiosk"), sz("DefaultPassword", u"pw"), sz("LegalNoticeCaption", u"Corp"),
      sz("LegalNoticeText", u"Authorised use only"), sz("ShutdownWithoutLogon", u"0")}},
    // A register of what is stored writes nothing: the same file, byte for byte.
    {"RegisterOfWhatIsStored", {"set", "--user=kiosk", "--notice=on", "$HIVE"}, "", Kiosk, 0, "", "", {}},
    // A dry run says what register would change, one line a value, and changes nothing.
    {"DryRunOfAutomaticLogon", {"set", "--dry-run", "--auto-logon=on", "--user=kiosk", "--password-stdin", "$HIVE"}, "pw\n",
     Fresh, 0,
     "AutoAdminLogon: \"0\" -> \"1\"\nDefaultUserName: \"Administrator\" -> \"kiosk\"\nDefaultPassword: not set -> set\n"
     "LegalNoticeCaption: absent -> \"\"\nLegalNoticeText: absent -> \"\"\n", "", {}},
    {"DryRunOfRemovals", {"set", "--auto-logon=off", "--no-password", "--notice=off", "--dry-run", "$HIVE"}, "", Kiosk, 0,
     "AutoAdminLogon: \"1\" -> removed\nShutdownWithoutLogon: absent -> \"0\"\nDefaultPassword: set -> removed\n"
     "LegalNoticeCaption: \"Corp\" -> \"\"\nLegalNoticeText: \"Authorised use only\" -> \"\"\n", "", {}},
    {"DryRunOfAKeptValueAndABackslash", {"set", "--dry-run", "--auto-logon=off", "--notice=on", "--notice-text=C:\\new", "$HIVE"}, "",
     {raw("AutoAdminLogon", 4, std::string("\1\0\0\0", 4)), sz("ShutdownWithoutLogon", u"1"), sz("LegalNoticeCaption", u"")}, 0,
     "AutoAdminLogon: REG_DWORD 1 -> removed\nDefaultUserName: absent -> \"\"\nLegalNoticeText: absent -> \"C:\\\\new\"\n", "", {}},
    {"DryRunOfWhatIsStored", {"set", "--dry-run", "--user=kiosk", "$HIVE"}, "", Kiosk, 0, "", "", {}},
    {"DryRunRefusedAsARealRun", {"set", "--dry-run", "--caption=x", "$HIVE"}, "", Kiosk, 1, "", LogsLeft, {}, true},
    // What the window would refuse: nothing is written.
    {"TextBeyondCodePage932", {"set", "--user=José", "$HIVE"}, "", Kiosk, 2, "",
     "vantorio: set: --user: code page 932 cannot hold 'é' (U+00E9)\n", {}},
    {"UserNameLongerThanTheWindowTakes", {"set", "--user=abcdefghijklmnopq", "$HIVE"}, "", Kiosk, 2, "",
     "vantorio: set: --user: 17 characters are more than the 16 characters the window takes\n", {}},
    {"PasswordIsNeverQuoted", {"set", "--password-stdin", "$HIVE"}, "pässword\n", Kiosk, 2, "",
     "vantorio: set: --password-stdin: the password holds a character that code page 932 cannot hold\n", {}},
    {"NoticeOverItsBytes", {"set", "--notice-text=" + std::string(1024, 'x'), "$HIVE"}, "", Kiosk, 2, "",
     "vantorio: set: --notice-text: 1024 bytes in code page 932 are more than the 1023 the window takes\n", {}},
    {"UnknownOptionNamedWithoutItsValue", {"set", "--passwd=SECRET", "$HIVE"}, "", Kiosk, 2, "",
     "vantorio: set: unknown option '--passwd'\n" + SetUsage, {}},
    {"SecondLineForThePassword", {"set", "--password-stdin", "$HIVE"}, "pw\nmore\n", Kiosk, 2, "",
     "vantorio: set: --password-stdin: standard input holds more than one line: give the password alone on it\n", {}},
    {"PasswordLineThatNeverEnds", {"set", "--password-stdin", "$HIVE"}, std::string(5000, 'p'), Kiosk, 2, "",
     "vantorio: set: --password-stdin: the line on standard input is far longer than any password the window takes\n", {}},
    {"NoticeFileThatIsAFolder", {"set", "--notice-text-file=$DIR", "$HIVE"}, "", Kiosk, 2, "",
     "vantorio: set: --notice-text-file: '$DIR' is a folder, not a text file\n", {}},
    {"NoticeFileThatIsADevice", {"set", "--notice-text-file=/dev/zero", "$HIVE"}, "", Kiosk, 2, "",
     "vantorio: set: --notice-text-file: '/dev/zero' is a device, not a text file\n", {}},
    {"NoticeFileLargerThanAnyNotice", {"set", "--notice-text-file=$BIG", "$HIVE"}, "", Kiosk, 2, "",
     "vantorio: set: --notice-text-file: '$BIG' is larger than any notice text (at most 1023 bytes of code page 932)\n", {}},
    {"PasswordOnTheCommandLine", {"set", "--password=x", "$HIVE"}, "", Kiosk, 2, "",
     "vantorio: set: a password is never taken from the command line, where other users can read it: use "
     "--password-stdin\n" + SetUsage, {}},
    // Register refused: the reason and what to do, and the hive as it was.
    {"RegisterRefused", {"set", "--caption=x", "$HIVE"}, "", Kiosk, 1, "", LogsLeft, {}, true},
    // Register on a hive with Windows' last changes in its log: one clean file with both.
    {"SetOnAHiveWithItsLog", {"set", "--caption=New", "$HIVE"}, "", Kiosk, 0, "", "",
     {sz("AutoAdminLogon", u"1"), sz("DefaultUserName", u"logged"), sz("DefaultPassword", u"pw"),
      sz("LegalNoticeCaption", u"New"), sz("LegalNoticeText", u"Authorised use only")},
     false, {}, {sz("DefaultUserName", u"logged")}},
    // The new hive is in place, but the system cannot confirm that its folder reached the disk:
    // saved, and said so.
    {"FolderFlushFailsAfterTheRename", {"set", "--caption=x", "--notice=on", "$HIVE"}, "", Kiosk, 0, "",
     "vantorio: set: warning: the settings were saved, but the system could not confirm that they reached the disk: "
     "check the disk, and run 'vantorio show' to see them\n",
     {sz("AutoAdminLogon", u"1"), sz("DefaultUserName", u"kiosk"), sz("DefaultPassword", u"pw"),
      sz("LegalNoticeCaption", u"x"), sz("LegalNoticeText", u"Authorised use only")},
     false, {{"LD_PRELOAD", FAILING_FOLDER_FLUSH}, {"ASAN_OPTIONS", "verify_asan_link_order=0"}}},
};

INSTANTIATE_TEST_SUITE_P(Program, Commands, ::testing::ValuesIn(Rows), [](const auto& info) { return std::string(info.param.name); });

} // namespace
