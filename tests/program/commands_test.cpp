// The commands for scripts, as a script runs them: one table of invocations (the arguments,
// standard input, the hive before, the exit status, what the program writes, and the values
// the hive holds after, read with libhivex), one row for each rule the window would enforce.
#include <gtest/gtest.h>

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
    std::vector<std::string> arguments;  // $HIVE: the hive; $ROOT: a Windows installation holding it; $FILE: a text file
    std::string input;                   // standard input
    std::vector<HiveValue> before;
    int status;
    std::string out, err;                // $HIVE stands for the hive's path
    std::vector<HiveValue> after;        // empty: the hive as it was, byte for byte
    bool unfinishedWrite = false;        // the hive's last write did not finish (changes in its logs)
    std::map<std::string, std::string> environment{};  // more of the program's environment
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
    testsupport::writeFile(dir.file("notice.txt"), "ようこそ\n");
    const std::string before = testsupport::fileBytes(hive);

    platformtest::Launch launch{VANTORIO_PROGRAM, {}, {{"HOME", dir.path()}}, false, false, row.input};
    launch.environment.insert(row.environment.begin(), row.environment.end());
    for (const std::string& a : row.arguments)
        launch.arguments.push_back(replaced(replaced(replaced(a, "$HIVE", hive), "$ROOT", dir.file("volume")), "$FILE",
                                            dir.file("notice.txt")));
    const platformtest::Outcome o = platformtest::launch(launch);
    EXPECT_EQ(o.status, row.status);
    EXPECT_EQ(o.out, replaced(row.out, "$HIVE", hive));
    EXPECT_EQ(o.err, replaced(row.err, "$HIVE", hive));
    if (row.after.empty())
        EXPECT_EQ(testsupport::fileBytes(hive), before);
    else
        EXPECT_EQ(testsupport::readValues(hive), row.after);
    // Nothing but the hive is left in its folder.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(config), {}), 1);
}

const std::vector<HiveValue> Kiosk{sz("AutoAdminLogon", u"1"), sz("DefaultUserName", u"kiosk"), sz("DefaultPassword", u"pw"),
                                   sz("LegalNoticeCaption", u"Corp"), sz("LegalNoticeText", u"Authorised use only")};
const std::vector<HiveValue> Fresh{sz("AutoAdminLogon", u"0"), sz("DefaultUserName", u"Administrator"),
                                   sz("ShutdownWithoutLogon", u"1")};
const std::string SetUsage = "Usage: vantorio set [SETTING]... [HIVE]\nTry 'vantorio set --help' for more information.\n";

const CommandRow Rows[] = {
    {"ShowForPeople", {"show", "$HIVE"}, "", Kiosk, 0,
     "hive: $HIVE\nautomatic logon: on\nuser name: kiosk\npassword: set\nhide last user name: off\n"
     "shutdown without logon: off\nnotice: on\nnotice caption: Corp\nnotice text: Authorised use only\n", "", {}},
    // Kept values, each with its reason and (but the password's) its stored form.
    {"ShowJsonWithKeptValues", {"show", "--json", "$HIVE"}, "",
     {sz("DefaultUserName", u"José"), raw("DontDisplayLastUserName", 4, std::string("\1\0\0\0", 4)),
      raw("DefaultPassword", 1, testsupport::utf16le(u"p") + testsupport::utf16le(u"q")), sz("LegalNoticeCaption", u"Corp"),
      raw("LegalNoticeText", 7, testsupport::utf16le(u"") + testsupport::utf16le(u"x") + testsupport::utf16le(u""))},
     0,
     "{\"hive\": \"$HIVE\", \"autoLogon\": false, \"userName\": \"Jos?\", \"passwordSet\": true, \"hideLastUserName\": false, "
     "\"shutdownWithoutLogon\": false, \"notice\": false, \"noticeCaption\": \"Corp\", \"noticeText\": \"\", \"kept\": {"
     "\"DefaultUserName\": {\"reason\": \"beyond-code-page-932\", \"stored\": {\"type\": \"REG_SZ\", \"bytes\": "
     "\"4a006f007300e9000000\", \"text\": \"José\\u0000\"}}, "
     "\"DefaultPassword\": {\"reason\": \"data-after-nul\"}, "
     "\"DontDisplayLastUserName\": {\"reason\": \"other-type\", \"stored\": {\"type\": \"REG_DWORD\", \"bytes\": \"01000000\", \"number\": 1}}, "
     "\"LegalNoticeCaption\": {\"reason\": \"with-notice-text\", \"stored\": {\"type\": \"REG_SZ\", \"bytes\": \"43006f00720070000000\", \"text\": \"Corp\\u0000\"}}, "
     "\"LegalNoticeText\": {\"reason\": \"other-type\", \"stored\": {\"type\": \"REG_MULTI_SZ\", \"bytes\": \"0000780000000000\", \"text\": \"\\u0000x\\u0000\\u0000\"}}}}\n",
     "", {}},
    {"SetAutomaticLogon", {"set", "--auto-logon=on", "--user=kiosk", "--password-stdin", "$HIVE"}, "s3cret\n", Fresh, 0, "", "",
     {sz("AutoAdminLogon", u"1"), sz("DefaultUserName", u"kiosk"), sz("ShutdownWithoutLogon", u"1"),
      sz("DefaultPassword", u"s3cret"), sz("LegalNoticeCaption", u""), sz("LegalNoticeText", u"")}},
    // The root of a Windows installation names its hive, whatever the case of its folders.
    {"SetNoticeFromAFileOnAWindowsVolume", {"set", "--notice=on", "--caption=注意", "--notice-text-file=$FILE", "$ROOT"}, "",
     Fresh, 0, "", "",
     {sz("DefaultUserName", u"Administrator"), sz("ShutdownWithoutLogon", u"1"), sz("LegalNoticeCaption", u"注意"),
      sz("LegalNoticeText", u"ようこそ")}},
    // A notice text too long to show stays as stored when only the caption is set.
    {"KeptTextStaysWhenTheCaptionIsSet", {"set", "--notice=on", "--caption=New", "$HIVE"}, "",
     {sz("AutoAdminLogon", u"0"), sz("LegalNoticeText", std::u16string(1100, u't'))}, 0, "", "",
     {sz("LegalNoticeText", std::u16string(1100, u't')), sz("ShutdownWithoutLogon", u"0"), sz("DefaultUserName", u""),
      sz("LegalNoticeCaption", u"New")}},
    // What the window would refuse: nothing is written.
    {"TextBeyondCodePage932", {"set", "--user=José", "$HIVE"}, "", Kiosk, 2, "",
     "vantorio: set: --user: code page 932 cannot hold 'é' (U+00E9)\n", {}},
    {"UserNameLongerThanTheWindowTakes", {"set", "--user=abcdefghijklmnopq", "$HIVE"}, "", Kiosk, 2, "",
     "vantorio: set: --user: 17 characters are more than the 16 characters the window takes\n", {}},
    {"PasswordIsNeverQuoted", {"set", "--password-stdin", "$HIVE"}, "pässword\n", Kiosk, 2, "",
     "vantorio: set: --password-stdin: the password holds a character that code page 932 cannot hold\n", {}},
    {"NoticeOverItsBytes", {"set", "--notice-text=" + std::string(1024, 'x'), "$HIVE"}, "", Kiosk, 2, "",
     "vantorio: set: --notice-text: 1024 bytes in code page 932 are more than the 1023 the window takes\n", {}},
    {"ControlThatIsNotUsable", {"set", "--hide-last-user=on", "$HIVE"}, "", Kiosk, 2, "",
     "vantorio: set: --hide-last-user: this logon screen setting can be changed only while automatic logon is off: "
     "add --auto-logon=off\n", {}},
    {"PasswordOnTheCommandLine", {"set", "--password=x", "$HIVE"}, "", Kiosk, 2, "",
     "vantorio: set: a password is never taken from the command line, where other users can read it: use "
     "--password-stdin\n" + SetUsage, {}},
    // Register refused: the reason and what to do, and the hive as it was.
    {"RegisterRefused", {"set", "--caption=x", "$HIVE"}, "", Kiosk, 1, "",
     "vantorio: set: register refused: cannot open the Winlogon key for writing: access denied: Windows left "
     "changes of '$HIVE' in its logs: start that Windows and shut it down completely, then try again; nothing was saved\n",
     {}, true},
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
