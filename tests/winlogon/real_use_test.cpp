// Register on hives as real installations keep them: every reason a hive cannot be written,
// told to the user in the window's message with the hive left as it was; a hive that Windows
// left with its last change in its log; and a hive on a real NTFS volume, changed end to end.
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <grp.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include "support/child_process.h"
#include "store_test.h"

namespace vantorio_test {
namespace {

namespace fs = std::filesystem;
using platformtest::Nobody;

struct ReasonCase {
    const char* name;
    std::u16string_view words;  // what the message says of the reason
    bool unprivileged;          // registers as another user than root
    bool readOnlyMount;         // the hive's folder mounted read-only
    std::function<void(HiveRun&)> prepare;
};
void PrintTo(const ReasonCase& row, std::ostream* os) { *os << row.name; }

class RegisterRefused : public ::testing::TestWithParam<ReasonCase> {};

TEST_P(RegisterRefused, SaysWhyAndKeepsTheHive) {
    const ReasonCase& row = GetParam();
    if (HiveRun::toolkitStarted()) GTEST_SKIP() << "needs a process of its own, as ctest runs it";
    if ((row.unprivileged || row.readOnlyMount) && !platformtest::isRoot()) GTEST_SKIP() << "needs root to set up";
    HiveRun hive({sz("AutoAdminLogon", u"1"), sz("DefaultUserName", u"Administrator")});
    ::chmod(hive.folder().c_str(), 0755);
    if (row.prepare) row.prepare(hive);
    const std::string before = testsupport::fileBytes(hive.file());
    const std::string folder = hive.folder();
    const std::vector<long> seen = platformtest::inChild({}, [&] {
        if (row.readOnlyMount &&
            (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
             mount(folder.c_str(), folder.c_str(), nullptr, MS_BIND, nullptr) != 0 ||
             mount(nullptr, folder.c_str(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr) != 0))
            return std::vector<long>{-2};
        if (row.unprivileged && (setgroups(0, nullptr) != 0 || setgid(Nobody) != 0 || setuid(Nobody) != 0))
            return std::vector<long>{-3};
        // The key cannot be opened for writing: loading reads what it holds, silently.
        Form1Run& run = hive.start();
        const long shown = run.form1->UserText.text() == u"Administrator" &&
                           run.form1->AutoLogonOption[1].selected() && run.session.messageBoxes().empty();
        run.session.click(Ok);
        run.session.waitFor([&] { return !run.session.messageBoxes().empty() || run.session.ended(); });
        const bool stayed = !run.session.messageBoxes().empty() && !run.session.ended();
        const std::u16string message = stayed ? run.session.messageBoxes().back() : u"";
        const long said = message.find(row.words) != std::u16string::npos;
        const long code = message.find(u"アクセスが拒否されました") != std::u16string::npos;
        return std::vector<long>{shown, stayed, said, code};
    });
    if (seen == std::vector<long>{-2}) GTEST_SKIP() << "no read-only bind mount here";
    EXPECT_EQ(seen, (std::vector<long>{1, 1, 1, 1})) << "loaded what the hive holds, stayed open, gave the reason, gave the code";
    EXPECT_EQ(testsupport::fileBytes(hive.file()), before);
}

void makeDirty(HiveRun& hive) { hive.rewrite(testsupport::leaveWriteUnfinished); }

INSTANTIATE_TEST_SUITE_P(
    Winlogon, RegisterRefused,
    ::testing::Values(
        ReasonCase{"ChangesOfWindowsInItsLogs", u"完全にシャットダウン", false, false, makeDirty},
        ReasonCase{"OtherNames", u"ハード リンク", false, false,
                   [](HiveRun& h) { fs::create_hard_link(h.file(), h.folder() + "/SOFTWARE.bak"); }},
        ReasonCase{"FileNotWritable", u"ハイブ ファイル", true, false,
                   [](HiveRun& h) {
                       ::chown(h.folder().c_str(), Nobody, Nobody);
                       ::chown(h.file().c_str(), Nobody, Nobody);
                       ::chmod(h.file().c_str(), 0444);
                   }},
        ReasonCase{"FolderNotWritable", u"フォルダー", true, false,
                   [](HiveRun& h) { ::chown(h.file().c_str(), Nobody, Nobody); }},
        ReasonCase{"GroupNotReproducible", u"所有者またはグループ", true, false,
                   [](HiveRun& h) {
                       ::chown(h.folder().c_str(), Nobody, Nobody);
                       ::chown(h.file().c_str(), Nobody, 0);
                   }},
        ReasonCase{"ReadOnlyFileSystem", u"読み取り専用", false, true, nullptr}),
    [](const auto& info) { return std::string(info.param.name); });

// A hive whose last change Windows left in its log: the window shows that change, and register
// writes it with the user's own as one clean file, the log left as it was.
TEST(ReplayedHive, TheWindowShowsWhatTheLogHoldsAndRegisterWritesIt) {
    HiveRun hive({sz("AutoAdminLogon", u"1"), sz("DefaultUserName", u"Administrator")});
    const std::string log = hive.folder() + "/software.log1";
    testsupport::logChange(hive.file(), log, [&] { testsupport::putValue(hive.file(), sz("DefaultUserName", u"logged")); });
    const std::string logged = testsupport::fileBytes(log);
    Form1Run& run = hive.start();
    EXPECT_EQ(run.form1->UserText.text(), u"logged");
    run.session.type(PassWordText, u"pw");
    hive.registerAndEnd();
    EXPECT_EQ(hive.value("DefaultUserName"), sz("DefaultUserName", u"logged"));
    EXPECT_EQ(hive.value("DefaultPassword"), sz("DefaultPassword", u"pw"));
    const testsupport::HiveImage written(testsupport::fileBytes(hive.file()));
    EXPECT_EQ(written.base(platform::hive::regf::Sequence1), written.base(platform::hive::regf::Sequence2));
    EXPECT_EQ(testsupport::fileBytes(log), logged);
}

// A hive whose bins reach the format's 2 GiB limit, with no free space left: a password
// that was not there before needs a bin beyond it. The notice's new text would fit in the
// cells of the old one, but one register lands whole or not at all.
TEST(RegisterRefused, HiveAtTheSizeLimitSaysWhyAndKeepsTheHive) {
    HiveRun hive({sz("AutoAdminLogon", u"1"), sz("DefaultUserName", u"Administrator"), sz("LegalNoticeText", u"abcd")});
    testsupport::growToTheLimit(hive.file(), {}, true);
    struct stat before {};
    ASSERT_EQ(::stat(hive.file().c_str(), &before), 0);
    Form1Run& run = hive.start();
    EXPECT_EQ(run.form1->UserText.text(), u"Administrator");
    run.session.type(PassWordText, u"password");
    hive.clear(LogonMessageText);
    run.session.type(LogonMessageText, u"wxyz");
    run.session.click(Ok);
    ASSERT_TRUE(run.session.waitFor([&] { return !run.session.messageBoxes().empty(); }));
    EXPECT_FALSE(run.session.ended());
    const std::u16string message = run.session.messageBoxes().back();
    EXPECT_NE(message.find(u"上限 (2 GB)"), std::u16string::npos) << narrow(message);
    EXPECT_NE(message.find(u"ディスクに十分な空き領域がありません"), std::u16string::npos) << narrow(message);
    EXPECT_NE(message.find(u"設定は何も保存されていません"), std::u16string::npos) << narrow(message);
    struct stat after {};
    ASSERT_EQ(::stat(hive.file().c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
    EXPECT_EQ(after.st_blocks, before.st_blocks);
    EXPECT_EQ(std::distance(fs::directory_iterator(hive.folder()), {}), 1);
}

// --- a real NTFS volume -----------------------------------------------------------------------

// An NTFS volume in an image file, mounted with ntfs-3g (with `options`, if any).
class NtfsImage {
public:
    NtfsImage(const std::string& folder, const std::string& options)
        : image_(folder + "/ntfs.img"), mountPoint_(folder + "/volume") {
        fs::create_directory(mountPoint_);
        const std::string make = "truncate -s 16M '" + image_ + "' && mkntfs -F -Q -q '" + image_ + "' >/dev/null 2>&1 && ntfs-3g " +
                                 (options.empty() ? "" : "-o " + options + " ") + "'" + image_ + "' '" + mountPoint_ +
                                 "' 2>/dev/null";
        mounted_ = std::system(make.c_str()) == 0;
    }
    // What a failed test left mounted goes when nothing uses it any more.
    ~NtfsImage() {
        if (mounted_) ::umount2(mountPoint_.c_str(), MNT_DETACH);
    }
    bool mounted() const { return mounted_; }
    const std::string& path() const { return mountPoint_; }
    // Unmounts the volume, giving ntfs-3g a moment for files closed just before: false when
    // something still holds it.
    bool unmount() {
        for (int tries = 0; mounted_ && tries < 100; ++tries) {
            if (::umount2(mountPoint_.c_str(), 0) == 0) mounted_ = false;
            else if (errno != EBUSY) break;
            else ::usleep(50000);
        }
        return !mounted_;
    }

private:
    std::string image_, mountPoint_;
    bool mounted_ = false;
};

// A self-relative Windows security descriptor, by hand: revision 1, control 0x8004 (self-relative,
// DACL present), owner at 72, group at 88, no SACL, the DACL at 20 (revision 2, 52 bytes, two
// ACEs: ACCESS_ALLOWED with full control, 0x1F01FF, to SYSTEM S-1-5-18 and to Administrators
// S-1-5-32-544, and to no one else), owner Administrators, group SYSTEM.
constexpr const char* RestrictiveDescriptor =
    "0x0100" "0480" "48000000" "58000000" "00000000" "14000000"  // the header
    "02003400" "02000000"                                       // the DACL
    "00001400" "ff011f00" "010100000000000512000000"            // SYSTEM
    "00001800" "ff011f00" "01020000000000052000000020020000"    // Administrators
    "01020000000000052000000020020000"                          // the owner
    "010100000000000512000000";                                 // the group

struct NtfsMount {
    const char* name;
    const char* options;
};
void PrintTo(const NtfsMount& row, std::ostream* os) { *os << row.name; }

class NtfsVolume : public ::testing::TestWithParam<NtfsMount> {};

// Register on a hive that Windows keeps hidden, as a system file, open to SYSTEM and
// Administrators only: the values land, and the Windows security and DOS attributes that ntfs-3g
// keeps (and lists nowhere) are the same bytes after. The window runs in a child of its own, so
// that every descriptor on the volume is closed before it is unmounted.
TEST_P(NtfsVolume, RegisterChangesAHiveStoredThere) {
    if (!platformtest::isRoot()) GTEST_SKIP() << "mounting an NTFS image needs root";
    if (!platformtest::have("mkntfs") || !platformtest::have("ntfs-3g") || !platformtest::have("getfattr"))
        GTEST_SKIP() << "ntfs-3g or attr is not installed";
    if (::access("/dev/fuse", R_OK | W_OK) != 0) GTEST_SKIP() << "FUSE is not available here";
    if (HiveRun::toolkitStarted()) GTEST_SKIP() << "needs a process of its own, as ctest runs it";
    testsupport::TempDir dir;
    NtfsImage volume(dir.path(), GetParam().options);
    ASSERT_TRUE(volume.mounted()) << "ntfs-3g could not mount the image";
    const std::string config = volume.path() + "/Windows/System32/config";
    fs::create_directories(config);
    const std::string file = config + "/SOFTWARE";
    testsupport::makeHive(file, {sz("AutoAdminLogon", u"0"), sz("DefaultUserName", u"Administrator"),
                                 sz("LegalNoticeText", u"")});
    const std::string quoted = "'" + file + "'";
    const std::string descriptor = RestrictiveDescriptor;
    ASSERT_EQ(std::system(("setfattr -n system.ntfs_acl -v " + descriptor + " " + quoted +
                           " && setfattr -n system.ntfs_attrib -v 0x06000000 " + quoted).c_str()), 0);
    const std::string windows = "getfattr -e hex -n system.ntfs_acl " + quoted + " 2>&1; getfattr -e hex -n system.ntfs_attrib " +
                                quoted + " 2>&1";
    const std::string before = platformtest::outputOf(windows);
    ASSERT_NE(before.find("system.ntfs_acl=" + descriptor), std::string::npos) << before;
    ASSERT_NE(before.find("system.ntfs_attrib=0x06000000"), std::string::npos) << before;

    testsupport::ScopedHive scope(file);
    const std::vector<long> registered = platformtest::inChild({}, [] {
        HiveRun::toolkitStarted() = true;
        Form1Run run;
        run.session.click(AutoLogonOn);
        run.session.type(PassWordText, u"パスワード");
        run.session.click(NoticeOn);
        run.session.type(LogonMessageText, u"NTFS の上");
        run.session.click(Ok);
        return std::vector<long>{run.session.waitFor([&] { return run.session.ended(); }) && run.session.messageBoxes().empty()};
    });
    EXPECT_EQ(registered, std::vector<long>{1}) << "register did not end the program";
    EXPECT_EQ(testsupport::readValue(file, "AutoAdminLogon"), sz("AutoAdminLogon", u"1"));
    EXPECT_EQ(testsupport::readValue(file, "DefaultPassword"), sz("DefaultPassword", u"パスワード"));
    EXPECT_EQ(testsupport::readValue(file, "LegalNoticeText"), sz("LegalNoticeText", u"NTFS の上"));
    EXPECT_EQ(platformtest::outputOf(windows), before);
    // FUSE keeps a replaced file that is still open under a hidden name until its last close,
    // which the commit leaves to a thread of its own: then nothing but the hive is left.
    std::vector<std::string> names;
    for (int tries = 0; tries < 100; ++tries) {
        names.clear();
        for (const auto& e : fs::directory_iterator(config)) names.push_back(e.path().filename().string());
        if (names.size() == 1) break;
        ::usleep(50000);
    }
    EXPECT_EQ(names, std::vector<std::string>{"SOFTWARE"});
    EXPECT_TRUE(volume.unmount()) << "the volume is still in use: a descriptor on it was left open";
}

INSTANTIATE_TEST_SUITE_P(Winlogon, NtfsVolume,
                         ::testing::Values(NtfsMount{"DefaultMount", ""}, NtfsMount{"PermissionsMount", "permissions"},
                                           NtfsMount{"AclMount", "acl"}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace vantorio_test
