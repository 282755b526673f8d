// The registry over a hive file: what lands in the file (read back by hivex's own tools), what
// a hive made by those tools reads as, what a change leaves alone, where keys resolve, and
// the default hive.
#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <list>
#include <memory>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "child_process.h"
#include "hive_check.h"
#include "hive_fixture.h"
#include "value_query.h"
#include "platform/codepage.h"
#include "platform/registry.h"

namespace {

using namespace platform;
using namespace std::string_literals;
using testsupport::HiveValue;
using testsupport::textValue;
using testsupport::utf16le;

const std::uint8_t* bytes(const std::string& s) { return reinterpret_cast<const std::uint8_t*>(s.data()); }

// A query as the settings store makes it, into a buffer of `room` bytes, returning the bytes stored.
using testsupport::Read;
Read query(Key key, const char* name, std::uint32_t room = 1024) {
    std::string buffer(room, '\xCC');
    std::uint32_t type = RegSz;
    std::uint32_t size = room;
    const Status code = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<std::uint8_t*>(buffer.data()), &size);
    buffer.resize(code == status::Success ? size : 0);
    return {code, type, buffer};
}

Key openWinlogon(std::uint32_t access = KeyAllAccess, Status expected = status::Success) {
    Key key = 0;
    EXPECT_EQ(RegOpenKeyExA(LocalMachine, testsupport::WinlogonKey, 0, access, &key), expected);
    return key;
}

class HiveTest : public testing::Test, protected testsupport::HiveFile {};

// --- what lands in the file -----------------------------------------------------------------

TEST_F(HiveTest, SetStoresUtf16AsHivexReadsIt) {
    make(std::vector<HiveValue>{});
    const Key key = openWinlogon();
    const std::string test = "\x83\x65\x83\x58\x83\x67\0"s; // テスト
    EXPECT_EQ(RegSetValueExA(key, "DefaultPassword", 0, RegSz, bytes(test), 7), status::Success);
    const std::string so = "\x83\x5C\x95\x5C" "a\0"s;        // ソ表a
    EXPECT_EQ(RegSetValueExA(key, "DefaultUserName", 0, RegSz, bytes(so), 6), status::Success);
    const std::string dword = "\x01\0\0\0"s;
    EXPECT_EQ(RegSetValueExA(key, "ShutdownWithoutLogon", 0, RegDword, bytes(dword), 4), status::Success);
    EXPECT_EQ(RegCloseKey(key), status::Success);

    const auto values = testsupport::readValues(file);
    ASSERT_TRUE(values);
    const std::vector<HiveValue> expected = {
        {"DefaultPassword", RegSz, "\xC6\x30\xB9\x30\xC8\x30\0\0"s},
        {"DefaultUserName", RegSz, utf16le(u"ソ表a")},
        {"ShutdownWithoutLogon", RegDword, dword},
    };
    EXPECT_EQ(*values, expected);

    // And hivex's command-line reader agrees.
    EXPECT_EQ(platformtest::launch({"hivexget", {file, testsupport::WinlogonInHive, "DefaultPassword"}}).out, "テスト\n");
    EXPECT_EQ(platformtest::launch({"hivexget", {file, testsupport::WinlogonInHive, "DefaultUserName"}}).out, "ソ表a\n");
}

TEST_F(HiveTest, HiveFilledByHivexshReads) {
    make(std::vector<testsupport::HiveKey>{});
    const std::string script = "add Microsoft\ncd Microsoft\nadd Windows NT\ncd Windows NT\nadd CurrentVersion\n"
                               "cd CurrentVersion\nadd Winlogon\ncd Winlogon\nsetval 4\n"
                               "AutoAdminLogon\nstring:1\n"
                               "DefaultUserName\nhex:1:a1,7b,06,74,05,80,00,00\n" // 管理者
                               "ShutdownWithoutLogon\ndword:0x00000001\n"
                               "LegalNoticeText\nstring:\n"
                               "commit\n";
    ASSERT_EQ(platformtest::launch({"hivexsh", {"-w", file}, {}, false, false, script}).status, 0);

    const Key key = openWinlogon();
    const Read autoLogon = query(key, "AutoAdminLogon", 64);
    EXPECT_EQ(autoLogon.code, status::Success);
    EXPECT_EQ(autoLogon.data, "1\0"s);
    const Read user = query(key, "defaultusername", 64);
    EXPECT_EQ(user.code, status::Success);
    EXPECT_EQ(user.data, platform::cp932::encode(u"管理者") + '\0');
    const Read shutdown = query(key, "ShutdownWithoutLogon", 64);
    EXPECT_EQ(shutdown.type, RegDword);
    EXPECT_EQ(shutdown.data, "\x01\0\0\0"s);
    const Read notice = query(key, "LegalNoticeText");
    EXPECT_EQ(notice.code, status::Success);
    EXPECT_EQ(notice.data, "\0"s);
    EXPECT_EQ(RegCloseKey(key), status::Success);
}

// Text beyond code page 932 reads as Windows hands it out: a look-alike or "?" a code unit.
TEST_F(HiveTest, StoredTextOutsideTheCodePageReadsAsTheSystemConvertsIt) {
    make({textValue("DefaultUserName", u"café\U0001F600"),
              {"Odd", RegSz, "a\0b"s},                  // an odd byte count: the last byte is no character
              {"Unterminated", RegSz, utf16le(u"ab", false)}});
    const Key key = openWinlogon();
    EXPECT_EQ(query(key, "DefaultUserName").data, "cafe??\0"s);
    EXPECT_EQ(query(key, "Odd").data, "a");
    EXPECT_EQ(query(key, "Unterminated").data, "ab");
    EXPECT_EQ(RegCloseKey(key), status::Success);
}

// --- what a change leaves alone ------------------------------------------------------------

TEST_F(HiveTest, OtherValuesAndKeysSurviveSetAndDelete) {
    std::string big(20000, '\0');
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7);
    const std::vector<HiveValue> winlogon = {
        textValue("AutoAdminLogon", u"1"),
        {"Binary", RegBinary, "\x00\x01\xFF\x83\x5C"s},
        {"Big", RegBinary, big},
        {"Dword", RegDword, "\x78\x56\x34\x12"s},
        {"Qword", 11, "\x01\x02\x03\x04\x05\x06\x07\x08"s},
        {"Multi", RegMultiSz, utf16le(u"a") + utf16le(u"テ") + "\0\0"s},
        {"Expand", RegExpandSz, utf16le(u"%SystemRoot%\\system32")},
        {"EmptyString", RegSz, ""},
        {"NoneType", RegNone, "raw"},
        {"OddType", 0x1234, "\x01"s},
        {"Unterminated", RegSz, utf16le(u"xyz", false)},
        {"OddLength", RegSz, "abc"},
        {"NotInCodePage", RegSz, utf16le(u"é\U0001F600")},
        {"日本語の名前", RegSz, utf16le(u"値")},
        {"ShutdownWithoutLogon", RegSz, utf16le(u"0")},
        {"", RegSz, utf16le(u"default value")},
        textValue("LegalNoticeText", u"notice"),
    };
    const std::vector<HiveValue> sibling = {{"Keep", RegBinary, "\x10\x20"s}, textValue("Text", u"表示")};
    make(std::vector<testsupport::HiveKey>{
        {testsupport::WinlogonInHive, winlogon},
        {"Microsoft\\Windows NT\\CurrentVersion\\Fonts", sibling},
        {"Classes", {textValue("", u"root default")}},
    });

    const Key key = openWinlogon();
    const std::string password = "pass\0"s;
    EXPECT_EQ(RegSetValueExA(key, "DefaultPassword", 0, RegSz, bytes(password), 5), status::Success);
    const std::string one = "1\0"s;
    EXPECT_EQ(RegSetValueExA(key, "shutdownwithoutlogon", 0, RegSz, bytes(one), 2), status::Success);
    EXPECT_EQ(RegDeleteValueA(key, "AUTOADMINLOGON"), status::Success);
    EXPECT_EQ(RegCloseKey(key), status::Success);

    std::vector<HiveValue> expected(winlogon.begin() + 1, winlogon.end());
    for (HiveValue& v : expected)
        if (v.name == "ShutdownWithoutLogon") v.bytes = utf16le(u"1"); // its name keeps its case
    expected.push_back({"DefaultPassword", RegSz, utf16le(u"pass")});
    EXPECT_EQ(testsupport::readValues(file), expected);
    EXPECT_EQ(testsupport::readValues(file, "Microsoft\\Windows NT\\CurrentVersion\\Fonts"), sibling);
    EXPECT_EQ(testsupport::readValues(file, "Classes"),
              (std::vector<HiveValue>{textValue("", u"root default")}));
}

// Nothing to write, or only what the file holds already: the file keeps its inode and times.
TEST_F(HiveTest, CloseWithoutChangeLeavesTheFileAlone) {
    make({textValue("AutoAdminLogon", u"1"), textValue("DefaultUserName", u"kiosk")});
    struct stat before {};
    ASSERT_EQ(stat(file.c_str(), &before), 0);
    const std::string original = testsupport::fileBytes(file);

    const Key key = openWinlogon();
    EXPECT_EQ(query(key, "AutoAdminLogon").code, status::Success);
    EXPECT_EQ(RegDeleteValueA(key, "NotThere"), status::FileNotFound);
    // The same type and bytes, under a name in another case, which the value keeps.
    EXPECT_EQ(RegSetValueExA(key, "autoadminlogon", 0, RegSz, bytes("1\0"s), 2), status::Success);
    // Taken out and put back at the end, where it was.
    EXPECT_EQ(RegDeleteValueA(key, "DefaultUserName"), status::Success);
    EXPECT_EQ(RegSetValueExA(key, "DefaultUserName", 0, RegSz, bytes("kiosk\0"s), 6), status::Success);
    EXPECT_EQ(RegCloseKey(key), status::Success);

    struct stat after {};
    ASSERT_EQ(stat(file.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
    EXPECT_EQ(testsupport::fileBytes(file), original);
}

TEST_F(HiveTest, CommitReplacesTheFileKeepingModeAndOwner) {
    make({textValue("AutoAdminLogon", u"1")});
    ASSERT_EQ(chmod(file.c_str(), 0640), 0);
    if (platformtest::isRoot()) {
        ASSERT_EQ(chown(file.c_str(), 1234, 5678), 0);
    }
    struct stat before {};
    ASSERT_EQ(stat(file.c_str(), &before), 0);

    const Key key = openWinlogon();
    EXPECT_EQ(RegDeleteValueA(key, "AutoAdminLogon"), status::Success);
    EXPECT_EQ(RegCloseKey(key), status::Success);

    struct stat after {};
    ASSERT_EQ(stat(file.c_str(), &after), 0);
    EXPECT_NE(after.st_ino, before.st_ino) << "the hive was written in place";
    EXPECT_EQ(after.st_mode, before.st_mode);
    EXPECT_EQ(after.st_uid, before.st_uid);
    EXPECT_EQ(after.st_gid, before.st_gid);
    EXPECT_EQ(testsupport::readValues(file), std::vector<HiveValue>{});
    // Nothing else is left in the folder.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

// --- where keys resolve ---------------------------------------------------------------------

struct PathRow {
    const char* name;
    const char* path; // under HKEY_LOCAL_MACHINE, code page 932
    Status code;
};

void PrintTo(const PathRow& row, std::ostream* os) { *os << row.name; }

class KeyPaths : public HiveTest, public testing::WithParamInterface<PathRow> {};

TEST_P(KeyPaths, Resolve) {
    make(std::vector<testsupport::HiveKey>{
        {testsupport::WinlogonInHive, {textValue("AutoAdminLogon", u"1")}},
        {"Ｖａｎｔｏｒｉｏ\\ソフト", {}},
    });
    Key key = 0;
    EXPECT_EQ(RegOpenKeyExA(LocalMachine, GetParam().path, 0, KeyAllAccess, &key), GetParam().code);
    EXPECT_EQ(key != 0, GetParam().code == status::Success);
    if (key) {
        EXPECT_EQ(RegCloseKey(key), status::Success);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Hive, KeyPaths,
    testing::Values(PathRow{"SoftwareIsTheHiveRoot", "Software", status::Success},
                    PathRow{"SoftwareInCapitals", "SOFTWARE\\MICROSOFT\\WINDOWS NT\\CURRENTVERSION\\WINLOGON", 0},
                    PathRow{"TrailingBackslash", "Software\\Microsoft\\", status::Success},
                    // Ｖａｎｔｏｒｉｏ in full-width capitals, then ソフト (whose ソ ends in a backslash byte).
                    PathRow{"FullWidthLettersIgnoreCase", "Software\\\x82\x75\x82\x60\x82\x6D\x82\x73\x82\x6E\x82\x71"
                                                           "\x82\x68\x82\x6E\\\x83\x5C\x83\x74\x83\x67", 0},
                    PathRow{"OtherHive", "SYSTEM\\CurrentControlSet", status::FileNotFound},
                    PathRow{"SoftwareAsPartOfAName", "SoftwareX\\Microsoft", status::FileNotFound},
                    PathRow{"MachineRootItself", "", status::FileNotFound},
                    PathRow{"EmptyComponent", "Software\\\\Microsoft", status::FileNotFound},
                    PathRow{"LeadingBackslash", "\\Software\\Microsoft", status::FileNotFound}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(HiveTest, OpenRelativeToAnOpenKey) {
    make({textValue("AutoAdminLogon", u"1")});
    Key software = 0, winlogon = 0, same = 0;
    ASSERT_EQ(RegOpenKeyExA(LocalMachine, "Software\\Microsoft", 0, KeyRead, &software), status::Success);
    EXPECT_EQ(RegOpenKeyExA(software, "windows nt\\currentversion\\winlogon", 0, KeyRead, &winlogon), status::Success);
    EXPECT_EQ(query(winlogon, "AutoAdminLogon").data, "1\0"s);
    EXPECT_EQ(RegOpenKeyExA(winlogon, nullptr, 0, KeyRead, &same), status::Success);
    EXPECT_EQ(query(same, "AutoAdminLogon").data, "1\0"s);
    for (Key k : {software, winlogon, same}) EXPECT_EQ(RegCloseKey(k), status::Success);
}

TEST_F(HiveTest, AccessRightsOfTheHandle) {
    make({textValue("AutoAdminLogon", u"1")});
    const std::string one = "1\0"s;
    const Key reader = openWinlogon(KeyRead);
    EXPECT_EQ(RegSetValueExA(reader, "AutoAdminLogon", 0, RegSz, bytes(one), 2), status::AccessDenied);
    EXPECT_EQ(RegDeleteValueA(reader, "AutoAdminLogon"), status::AccessDenied);
    EXPECT_EQ(RegCloseKey(reader), status::Success);
    const Key setter = openWinlogon(0x0002); // KEY_SET_VALUE alone
    EXPECT_EQ(query(setter, "AutoAdminLogon").code, status::AccessDenied);
    EXPECT_EQ(RegSetValueExA(setter, "AutoAdminLogon", 0, RegSz, bytes(one), 2), status::Success);
    EXPECT_EQ(RegCloseKey(setter), status::Success);
}

TEST_F(HiveTest, VariableReadAtEachOpen) {
    make({textValue("DefaultUserName", u"first")});
    const std::string other = dir.file("OTHER");
    testsupport::makeHive(other, {textValue("DefaultUserName", u"second")});
    Key key = openWinlogon();
    EXPECT_EQ(query(key, "DefaultUserName").data, "first\0"s);
    EXPECT_EQ(RegCloseKey(key), status::Success);
    point(other);
    key = openWinlogon();
    EXPECT_EQ(query(key, "DefaultUserName").data, "second\0"s);
    EXPECT_EQ(RegCloseKey(key), status::Success);
}

TEST_F(HiveTest, NamedHiveThatIsMissingIsNeverCreated) {
    point();
    openWinlogon(KeyAllAccess, status::FileNotFound);
    EXPECT_FALSE(std::filesystem::exists(file));
}

// --- the default hive -----------------------------------------------------------------------

class DefaultHive : public testing::Test {
protected:
    void SetUp() override {
        for (const char* name : {"VANTORIO_SOFTWARE_HIVE", "XDG_DATA_HOME", "HOME"})
            if (const char* v = std::getenv(name)) saved.emplace_back(name, v);
        unsetenv("VANTORIO_SOFTWARE_HIVE");
    }
    void TearDown() override {
        for (const char* name : {"VANTORIO_SOFTWARE_HIVE", "XDG_DATA_HOME", "HOME"}) unsetenv(name);
        for (const auto& [name, value] : saved) setenv(name.c_str(), value.c_str(), 1);
    }
    std::vector<std::pair<std::string, std::string>> saved;
    testsupport::TempDir dir;
};

const std::vector<HiveValue> FreshWorkstation = {
    textValue("AutoAdminLogon", u"0"),         textValue("DefaultUserName", u"Administrator"),
    textValue("DontDisplayLastUserName", u"0"), textValue("ShutdownWithoutLogon", u"1"),
    textValue("LegalNoticeCaption", u""),       textValue("LegalNoticeText", u""),
};

TEST_F(DefaultHive, CreatedOnFirstOpenPrivateAndFresh) {
    setenv("XDG_DATA_HOME", dir.file("data").c_str(), 1);
    const Key key = openWinlogon();
    EXPECT_EQ(query(key, "DefaultUserName").data, "Administrator\0"s);
    EXPECT_EQ(RegCloseKey(key), status::Success);

    const std::string folder = dir.file("data/vantorio");
    const std::string file = folder + "/SOFTWARE";
    struct stat st {};
    ASSERT_EQ(stat(folder.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0700u);
    ASSERT_EQ(stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_EQ(testsupport::readValues(file), FreshWorkstation);
    const testsupport::HiveCheck check = testsupport::checkHiveFile(file);
    EXPECT_TRUE(check.sound()) << testsupport::describe(check.findings);
    EXPECT_EQ(check.keys, 5u);
    EXPECT_EQ(platformtest::launch({"hivexsh", {file}, {}, false, false, "cd Microsoft\\Windows NT\\CurrentVersion\\Winlogon\nlsval\n"}).out,
              "\"AutoAdminLogon\"=\"0\"\n\"DefaultUserName\"=\"Administrator\"\n\"DontDisplayLastUserName\"=\"0\"\n"
              "\"ShutdownWithoutLogon\"=\"1\"\n\"LegalNoticeCaption\"=\"\"\n\"LegalNoticeText\"=\"\"\n");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), {}), 1) << "a temporary file was left";
}

TEST_F(DefaultHive, UnderHomeWithoutXdgDataHome) {
    unsetenv("XDG_DATA_HOME");
    setenv("HOME", dir.path().c_str(), 1);
    const Key key = openWinlogon();
    EXPECT_EQ(RegCloseKey(key), status::Success);
    EXPECT_EQ(testsupport::readValues(dir.file(".local/share/vantorio/SOFTWARE")), FreshWorkstation);
}

TEST_F(DefaultHive, ExistingDefaultHiveIsUsedAsItIs) {
    setenv("XDG_DATA_HOME", dir.path().c_str(), 1);
    std::filesystem::create_directories(dir.file("vantorio"));
    std::filesystem::permissions(dir.file("vantorio"), std::filesystem::perms::owner_all);
    testsupport::makeHive(dir.file("vantorio/SOFTWARE"), {textValue("DefaultUserName", u"mine")});
    const Key key = openWinlogon();
    EXPECT_EQ(query(key, "DefaultUserName").data, "mine\0"s);
    EXPECT_EQ(query(key, "AutoAdminLogon").code, status::FileNotFound);
    EXPECT_EQ(RegCloseKey(key), status::Success);
}

TEST_F(DefaultHive, ProcessesRacingToCreateItAllSucceed) {
    setenv("XDG_DATA_HOME", dir.path().c_str(), 1);
    std::list<platformtest::Child> children;
    for (int i = 0; i < 4; ++i)
        children.emplace_back(platformtest::ChildOptions{}, [] {
            Key key = 0;
            Status s = RegOpenKeyExA(LocalMachine, testsupport::WinlogonKey, 0, KeyAllAccess, &key);
            if (s == status::Success) s = RegCloseKey(key);
            return std::vector<long>{s};
        });
    for (platformtest::Child& child : children) EXPECT_EQ(child.wait(), std::vector<long>{status::Success});
    EXPECT_EQ(testsupport::readValues(dir.file("vantorio/SOFTWARE")), FreshWorkstation);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.file("vantorio")), {}), 1);
}

// Once found, the default hive is the run's, wherever its folder goes: register writes it there,
// and nothing is made at the old path.
TEST_F(DefaultHive, MovedFolderTakesTheHiveAlongAndNothingAppearsWhereItWas) {
    setenv("XDG_DATA_HOME", dir.path().c_str(), 1);
    EXPECT_EQ(RegCloseKey(openWinlogon()), status::Success);
    std::filesystem::rename(dir.file("vantorio"), dir.file("moved"));
    const Key key = openWinlogon();
    const std::string name = "moved\0"s;
    EXPECT_EQ(RegSetValueExA(key, "DefaultUserName", 0, RegSz, reinterpret_cast<const std::uint8_t*>(name.data()), 6),
              status::Success);
    EXPECT_EQ(RegCloseKey(key), status::Success);
    EXPECT_FALSE(std::filesystem::exists(dir.file("vantorio")));
    EXPECT_EQ(testsupport::readValue(dir.file("moved/SOFTWARE"), "DefaultUserName"), textValue("DefaultUserName", u"moved"));
}

// A folder of the default hive that is not the user's own and closed to others is refused with
// its reason, whether the hive is in it or not, and nothing in it is made or changed.
struct FolderRow {
    const char* name;
    bool needsRoot;
    bool hiveThere;
    std::function<void(const std::string& folder)> spoil; // the folder, 0700 and the user's until then
};
void PrintTo(const FolderRow& row, std::ostream* os) { *os << row.name; }

class DefaultFolder : public DefaultHive, public testing::WithParamInterface<FolderRow> {};

TEST_P(DefaultFolder, IsRefusedWithItsReason) {
    const FolderRow& row = GetParam();
    if (row.needsRoot && !platformtest::isRoot()) GTEST_SKIP() << "needs root to give the folder away";
    setenv("XDG_DATA_HOME", dir.path().c_str(), 1);
    const std::string folder = dir.file("vantorio");
    std::filesystem::create_directory(folder);
    std::filesystem::permissions(folder, std::filesystem::perms::owner_all);
    if (row.hiveThere) testsupport::makeHive(folder + "/SOFTWARE", {textValue("DefaultUserName", u"planted")});
    row.spoil(folder);
    const std::string before = testsupport::fileBytes(folder + "/SOFTWARE");

    Key key = 0;
    EXPECT_EQ(RegOpenKeyExA(LocalMachine, testsupport::WinlogonKey, 0, KeyRead, &key), status::AccessDenied);
    const FailureDetail detail = LastFailureDetail();
    EXPECT_EQ(detail.reason, FailureReason::FolderNotPrivate);
    EXPECT_EQ(detail.path, folder);
    EXPECT_EQ(testsupport::fileBytes(folder + "/SOFTWARE"), before);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), {}), row.hiveThere ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(
    Hive, DefaultFolder,
    testing::Values(
        FolderRow{"AnotherUsers", true, false, [](const std::string& f) { chown(f.c_str(), platformtest::Nobody, platformtest::Nobody); }},
        FolderRow{"AnotherUsersWithTheHiveInIt", true, true, [](const std::string& f) { chown(f.c_str(), platformtest::Nobody, 0); }},
        FolderRow{"GroupMayWrite", false, false, [](const std::string& f) { chmod(f.c_str(), 0770); }},
        FolderRow{"OthersMayWriteDespiteTheStickyBit", false, true, [](const std::string& f) { chmod(f.c_str(), 01777); }},
        FolderRow{"SymbolicLinkToAFolderOfTheUsers", false, true,
                  [](const std::string& f) {
                      std::filesystem::rename(f, f + ".real");
                      std::filesystem::create_directory_symlink(f + ".real", f);
                  }}),
    [](const auto& info) { return std::string(info.param.name); });

// --- messages -------------------------------------------------------------------------------

TEST(StatusText, ShortJapaneseReasons) {
    EXPECT_EQ(StatusText(status::AccessDenied), u"アクセスが拒否されました。");
    EXPECT_EQ(StatusText(status::FileNotFound), u"指定されたファイルが見つかりません。");
    EXPECT_EQ(StatusText(status::DiskFull), u"ディスクに十分な空き領域がありません。");
    EXPECT_EQ(StatusText(status::BadDatabase), u"レジストリ データベースが壊れています。");
    EXPECT_EQ(StatusText(status::RegistryCorrupt), u"レジストリが壊れています。");
    EXPECT_EQ(StatusText(4321), u"エラー コード 4321");
    EXPECT_EQ(StatusText(-1), u"エラー コード -1");
}

} // namespace
