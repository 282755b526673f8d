// The hive file as real installations name and keep it: through symbolic links, with other
// hard links, by a relative name, on file systems that refuse writing; and the reason the
// registry gives for each refusal.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>
#include <grp.h>
#include <optional>
#include <sched.h>
#include <string>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "child_process.h"
#include "hive_fixture.h"
#include "platform/registry.h"

namespace {

namespace fs = std::filesystem;
using namespace platform;
using namespace std::string_literals;
using platformtest::inChild;
using testsupport::textValue;

const std::uint8_t* bytes(const std::string& s) { return reinterpret_cast<const std::uint8_t*>(s.data()); }

// Open for writing, set DefaultUserName, close: the codes of the open and of the close.
std::vector<long> setUserName(const std::string& text, const std::function<void()>& beforeClose = {}) {
    Key key = 0;
    const long open = RegOpenKeyExA(LocalMachine, testsupport::WinlogonKey, 0, KeyAllAccess, &key);
    const std::string data = text + '\0';
    RegSetValueExA(key, "DefaultUserName", 0, RegSz, bytes(data), static_cast<std::uint32_t>(data.size()));
    if (beforeClose) beforeClose();
    return {open, RegCloseKey(key)};
}

std::optional<testsupport::HiveValue> userName(const std::string& file) {
    return testsupport::readValue(file, "DefaultUserName");
}

std::vector<std::string> entries(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// The hive in a folder "images"; each test names it to the registry (point) as it likes.
class RealUse : public testing::Test, public testsupport::HiveFile {
public:
    const std::string& images = folder;  // where the real file lives
    std::string elsewhere = dir.file("elsewhere");

    RealUse() : HiveFile("images") {}
    void SetUp() override {
        fs::create_directories(elsewhere);
        make({textValue("DefaultUserName", u"before")});
    }
};

// --- names that lead to the file -------------------------------------------------------------

struct LinkCase {
    const char* name;
    // Makes the links and returns the name to give the registry.
    std::function<std::string(const std::string& file, const std::string& elsewhere)> link;
};
void PrintTo(const LinkCase& row, std::ostream* os) { *os << row.name; }

class SymbolicLinks : public RealUse, public testing::WithParamInterface<LinkCase> {};

TEST_P(SymbolicLinks, LeadToTheFileThatIsReplaced) {
    const std::string named = GetParam().link(file, elsewhere);
    std::vector<std::pair<std::string, fs::path>> links;
    for (const auto& e : fs::directory_iterator(elsewhere))
        if (fs::is_symlink(e.symlink_status())) links.emplace_back(e.path().string(), fs::read_symlink(e.path()));
    ASSERT_FALSE(links.empty());
    const std::vector<std::string> elsewhereBefore = entries(elsewhere);
    point(named);

    EXPECT_EQ(setUserName("after"), (std::vector<long>{0, 0}));
    EXPECT_EQ(userName(file), textValue("DefaultUserName", u"after"));
    EXPECT_FALSE(fs::is_symlink(fs::symlink_status(file)));
    for (const auto& [link, target] : links) {
        SCOPED_TRACE(link);
        EXPECT_TRUE(fs::is_symlink(fs::symlink_status(link)));
        EXPECT_EQ(fs::read_symlink(link), target);
    }
    // The new file was made beside the real one, and nothing was left anywhere.
    EXPECT_EQ(entries(elsewhere), elsewhereBefore);
    EXPECT_EQ(entries(images), std::vector<std::string>{"SOFTWARE"});
}

INSTANTIATE_TEST_SUITE_P(
    Hive, SymbolicLinks,
    ::testing::Values(
        LinkCase{"AbsoluteLink",
                 [](const std::string& file, const std::string& elsewhere) {
                     fs::create_symlink(file, elsewhere + "/SOFTWARE");
                     return elsewhere + "/SOFTWARE";
                 }},
        LinkCase{"RelativeLinkAcrossFolders",
                 [](const std::string&, const std::string& elsewhere) {
                     fs::create_symlink("../images/SOFTWARE", elsewhere + "/SOFTWARE");
                     return elsewhere + "/SOFTWARE";
                 }},
        LinkCase{"TwoLevels",
                 [](const std::string& file, const std::string& elsewhere) {
                     fs::create_symlink(file, elsewhere + "/first");
                     fs::create_symlink("first", elsewhere + "/second");
                     return elsewhere + "/second";
                 }},
        LinkCase{"LinkedFolder",
                 [](const std::string& file, const std::string& elsewhere) {
                     fs::create_symlink(fs::path(file).parent_path(), elsewhere + "/config");
                     return elsewhere + "/config/SOFTWARE";
                 }}),
    [](const auto& info) { return std::string(info.param.name); });

// The run keeps the file it found first: a link re-pointed while the hive is open, or between
// loading and register, leads nowhere new, and a link put in the file's own place is refused,
// not followed.
TEST_F(RealUse, TheFileFoundFirstIsTheOnlyFileWritten) {
    const std::string other = dir.file("other");
    testsupport::makeHive(other, {textValue("DefaultUserName", u"other")});
    const std::string otherBefore = testsupport::fileBytes(other);
    const std::string link = elsewhere + "/SOFTWARE";
    fs::create_symlink(file, link);
    point(link);
    auto repoint = [&](const std::string& to) {
        fs::remove(link);
        fs::create_symlink(to, link);
    };
    EXPECT_EQ(setUserName("while open", [&] { repoint(other); }), (std::vector<long>{0, 0}));
    EXPECT_EQ(userName(file), textValue("DefaultUserName", u"while open"));
    repoint(file);
    Key key = 0;
    ASSERT_EQ(RegOpenKeyExA(LocalMachine, testsupport::WinlogonKey, 0, KeyRead, &key), status::Success);
    RegCloseKey(key);
    repoint(other);
    EXPECT_EQ(setUserName("after"), (std::vector<long>{0, 0}));
    EXPECT_EQ(userName(file), textValue("DefaultUserName", u"after"));

    fs::rename(file, images + "/moved");
    fs::create_symlink(other, file);
    EXPECT_EQ(RegOpenKeyExA(LocalMachine, testsupport::WinlogonKey, 0, KeyAllAccess, &key), status::AccessDenied);
    EXPECT_EQ(LastFailureDetail().reason, FailureReason::LinkInPlace);
    EXPECT_EQ(testsupport::fileBytes(other), otherBefore);
    EXPECT_EQ(fs::read_symlink(link), other);
}

// The new file keeps the old one's access list and user attributes, and takes no access list
// of the folder's; the new files of a save that was killed are removed, and nothing else.
TEST_F(RealUse, ReplacementKeepsTheFilesAccessAndLeavesNothingBehind) {
    if (!platformtest::have("setfacl") || !platformtest::have("getfattr")) GTEST_SKIP() << "needs acl and attr";
    const std::string quoted = "'" + file + "'";
    chmod(file.c_str(), 0600);
    ASSERT_EQ(std::system(("setfacl -m u:nobody:r,g::-,m::r " + quoted + " && setfattr -n user.origin -v image " +
                           quoted + " && setfacl -d -m g::rw '" + images + "'").c_str()), 0);
    const std::string access = "getfacl -p " + quoted + " 2>&1; getfattr -d " + quoted + " 2>&1";
    const std::string before = platformtest::outputOf(access);
    for (const char* stale : {".SOFTWARE.new-a1B2c3", ".SOFTWARE.probe-XyZ789"}) testsupport::writeFile(images + "/" + stale, "x");
    for (const char* kept : {".SOFTWARE.new-a1B2", ".OTHER.new-a1B2c3", "SOFTWARE.new-a1B2c3", ".SOFTWARE.first-a1B2c3"})
        testsupport::writeFile(images + "/" + kept, "x");
    // Named as a save's file, but another user's: never removed (the hive is root's).
    std::vector<std::string> left{".OTHER.new-a1B2c3", ".SOFTWARE.first-a1B2c3", ".SOFTWARE.new-a1B2", "SOFTWARE",
                                  "SOFTWARE.new-a1B2c3"};
    if (platformtest::isRoot()) {
        testsupport::writeFile(images + "/.SOFTWARE.new-Nobody", "x");
        ASSERT_EQ(chown((images + "/.SOFTWARE.new-Nobody").c_str(), platformtest::Nobody, platformtest::Nobody), 0);
        left.insert(left.begin() + 2, ".SOFTWARE.new-Nobody");
    }
    point(file);
    EXPECT_EQ(setUserName("after"), (std::vector<long>{0, 0}));
    EXPECT_EQ(userName(file), textValue("DefaultUserName", u"after"));
    EXPECT_EQ(platformtest::outputOf(access), before);
    EXPECT_EQ(entries(images), left);
}

// A relative name keeps naming the file it named, wherever the working folder goes.
TEST_F(RealUse, RelativeNameSurvivesAChangeOfWorkingFolder) {
    const fs::path was = fs::current_path();
    fs::current_path(dir.path());
    point("images/SOFTWARE");
    EXPECT_EQ(setUserName("first"), (std::vector<long>{0, 0}));
    fs::current_path(elsewhere);
    const std::vector<long> second = setUserName("second");
    fs::current_path(was);
    EXPECT_EQ(second, (std::vector<long>{0, 0}));
    EXPECT_EQ(userName(file), textValue("DefaultUserName", u"second"));
    EXPECT_EQ(entries(elsewhere), std::vector<std::string>{});
}

// --- refusals, each with its reason -----------------------------------------------------------

struct RefusalCase {
    const char* name;
    FailureReason reason;
    bool unprivileged;  // run as another user than the hive's (root writes anything)
    bool needsRoot;
    // Prepares the hive (as root, before the child starts); returns the path the detail names.
    std::function<std::string(RealUse&)> prepare;
};
void PrintTo(const RefusalCase& row, std::ostream* os) { *os << row.name; }

class Refusal : public RealUse, public testing::WithParamInterface<RefusalCase> {};

TEST_P(Refusal, KeepsTheHiveAndSaysWhy) {
    const RefusalCase& row = GetParam();
    if ((row.unprivileged || row.needsRoot) && !platformtest::isRoot())
        GTEST_SKIP() << "needs root to set up";
    if (row.unprivileged) chmod(dir.path().c_str(), 0755);
    const std::string concerned = row.prepare(*this);
    point(file);
    const std::string before = testsupport::fileBytes(file);
    const std::string at = file;
    const bool ownNamespace = row.reason == FailureReason::ReadOnlyFileSystem;
    const std::string images = this->images;
    std::string seen;
    const std::vector<long> report = inChild({}, [&] {
        if (ownNamespace) {
            // The hive's folder, mounted read-only in a mount namespace of this child's own.
            if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
                mount(images.c_str(), images.c_str(), nullptr, MS_BIND, nullptr) != 0 ||
                mount(nullptr, images.c_str(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr) != 0)
                return std::vector<long>{-2};
        }
        if (row.unprivileged && (setgroups(0, nullptr) != 0 || setgid(platformtest::Nobody) != 0 ||
                                 setuid(platformtest::Nobody) != 0))
            return std::vector<long>{-3};
        Key key = 0;
        const long open = RegOpenKeyExA(LocalMachine, testsupport::WinlogonKey, 0, KeyAllAccess, &key);
        const FailureDetail detail = LastFailureDetail();
        const long read = RegOpenKeyExA(LocalMachine, testsupport::WinlogonKey, 0, KeyRead, &key);
        RegCloseKey(key);
        std::vector<long> out{open, static_cast<long>(detail.reason), read};
        for (char c : detail.path) out.push_back(c);
        return out;
    });
    if (report == std::vector<long>{-2}) GTEST_SKIP() << "no read-only bind mount here";
    ASSERT_GE(report.size(), 3u);
    EXPECT_EQ(report[0], status::AccessDenied);
    EXPECT_EQ(report[1], static_cast<long>(row.reason));
    EXPECT_EQ(report[2], status::Success) << "reading must still work";
    EXPECT_EQ(std::string(report.begin() + 3, report.end()), concerned);
    EXPECT_EQ(testsupport::fileBytes(at), before);
    EXPECT_EQ(entries(images).size(), row.reason == FailureReason::HardLinks ? 2u : 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Hive, Refusal,
    ::testing::Values(
        // Dirty, and no logs beside it to replay.
        RefusalCase{"LogsMissing", FailureReason::LogsMissing, false, false,
                    [](RealUse& t) {
                        std::string b = t.contents();
                        testsupport::leaveWriteUnfinished(b);
                        t.overwrite(b);
                        return t.file;
                    }},
        RefusalCase{"HardLinks", FailureReason::HardLinks, false, false,
                    [](RealUse& t) {
                        fs::create_hard_link(t.file, t.images + "/SOFTWARE.bak");
                        return t.file;
                    }},
        RefusalCase{"FileNotWritable", FailureReason::FileNotWritable, true, false,
                    [](RealUse& t) {
                        chown(t.images.c_str(), platformtest::Nobody, platformtest::Nobody);
                        chown(t.file.c_str(), platformtest::Nobody, platformtest::Nobody);
                        chmod(t.file.c_str(), 0444);
                        return t.file;
                    }},
        RefusalCase{"FolderNotWritable", FailureReason::FolderNotWritable, true, false,
                    [](RealUse& t) {
                        chown(t.file.c_str(), platformtest::Nobody, platformtest::Nobody);
                        return t.images;
                    }},
        // The user owns the file, but not its group, which a new file of theirs cannot take.
        RefusalCase{"OwnerNotReproducible", FailureReason::OwnerNotReproducible, true, false,
                    [](RealUse& t) {
                        chown(t.images.c_str(), platformtest::Nobody, platformtest::Nobody);
                        chown(t.file.c_str(), platformtest::Nobody, 0);
                        return t.file;
                    }},
        RefusalCase{"ReadOnlyFileSystem", FailureReason::ReadOnlyFileSystem, false, true,
                    [](RealUse& t) { return t.images; }}),
    [](const auto& info) { return std::string(info.param.name); });

// A hive deleted while its key is open, or whose folder was removed: the commit says the file
// is gone and makes nothing anew where it was.
struct GoneCase {
    const char* name;
    std::function<void(RealUse&)> remove;
};
void PrintTo(const GoneCase& row, std::ostream* os) { *os << row.name; }

class GoneWhileOpen : public RealUse, public testing::WithParamInterface<GoneCase> {};

TEST_P(GoneWhileOpen, IsSaidAndNeverMadeAnew) {
    point(file);
    const std::vector<long> codes = setUserName("after", [&] { GetParam().remove(*this); });
    EXPECT_EQ(codes, (std::vector<long>{0, status::FileNotFound}));
    const FailureDetail detail = LastFailureDetail();
    EXPECT_EQ(detail.reason, FailureReason::HiveGone);
    EXPECT_EQ(detail.path, file);
    EXPECT_FALSE(fs::exists(file));
    Key key = 0;
    EXPECT_EQ(RegOpenKeyExA(LocalMachine, testsupport::WinlogonKey, 0, KeyRead, &key), status::FileNotFound);
    EXPECT_EQ(LastFailureDetail().reason, FailureReason::HiveGone);
}

INSTANTIATE_TEST_SUITE_P(Hive, GoneWhileOpen,
                         ::testing::Values(GoneCase{"FileDeleted", [](RealUse& t) { fs::remove(t.file); }},
                                           GoneCase{"FolderRemoved", [](RealUse& t) { fs::remove_all(t.images); }}),
                         [](const auto& info) { return std::string(info.param.name); });

// The owner's group is reproducible when the user is in it, or when the folder passes it on.
TEST_F(RealUse, GroupThatTheFolderPassesOnIsReproducible) {
    if (!platformtest::isRoot()) GTEST_SKIP() << "needs root to set up";
    chmod(dir.path().c_str(), 0755);
    chown(images.c_str(), platformtest::Nobody, 0);
    chmod(images.c_str(), 02775);
    chown(file.c_str(), platformtest::Nobody, 0);
    point(file);
    const std::string at = file;
    const std::vector<long> report = inChild({true, ""}, [&] {
        std::vector<long> r = setUserName("after");
        struct stat st {};
        stat(at.c_str(), &st);
        r.push_back(static_cast<long>(st.st_uid));
        r.push_back(static_cast<long>(st.st_gid));
        return r;
    });
    EXPECT_EQ(report, (std::vector<long>{0, 0, platformtest::Nobody, 0}));
    EXPECT_EQ(userName(file), textValue("DefaultUserName", u"after"));
}

// Every reason has words of its own for the user, naming the file or folder concerned.
TEST(FailureDetailText, SaysWhyAndWhatToDo) {
    for (auto reason : {FailureReason::LogsMissing, FailureReason::LogsUnusable, FailureReason::HardLinks, FailureReason::FileNotWritable,
                        FailureReason::FolderNotWritable, FailureReason::OwnerNotReproducible,
                        FailureReason::ReadOnlyFileSystem, FailureReason::SizeLimit, FailureReason::FolderNotPrivate,
                        FailureReason::LinkInPlace, FailureReason::AttributesNotCarried, FailureReason::HiveGone}) {
        SCOPED_TRACE(static_cast<int>(reason));
        const std::u16string text = FailureDetailText({reason, "/mnt/ウィンドウズ/config"});
        EXPECT_FALSE(text.empty());
        if (reason != FailureReason::SizeLimit) {
            EXPECT_NE(text.find(u"/mnt/ウィンドウズ/config"), std::u16string::npos);
        }
    }
    EXPECT_EQ(FailureDetailText({}), u"");
    // A name that is no UTF-8 shows what it can.
    EXPECT_NE(FailureDetailText({FailureReason::HardLinks, "/a\xff"}).find(u"/a\uFFFD"), std::u16string::npos);
}

} // namespace
