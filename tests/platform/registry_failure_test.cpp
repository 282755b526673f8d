// The registry over a hive file when things go wrong: hives that cannot be written, commits
// that fail half-way, files that are not hives, and another process holding the hive. In
// each case the original file stays byte for byte as it was.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <optional>
#include <random>
#include <sched.h>
#include <string>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "child_process.h"
#include "hive_fixture.h"
#include "platform/hive/format.h"
#include "platform/registry.h"

namespace {

using namespace platform;
using namespace std::string_literals;
using platformtest::ChildOptions;
using platformtest::inChild;
using testsupport::HiveImage;
using testsupport::HiveValue;
using testsupport::textValue;
using namespace testsupport::fields;

const std::uint8_t* bytes(const std::string& s) { return reinterpret_cast<const std::uint8_t*>(s.data()); }

long count(const std::string& folder) { return std::distance(std::filesystem::directory_iterator(folder), {}); }

const std::vector<HiveValue> Winlogon = {
    textValue("AutoAdminLogon", u"1"),
    textValue("DefaultUserName", u"管理者"),
    textValue("DefaultPassword", u"secret"),
    {"Padding", RegBinary, std::string(30000, 'p')}, // spreads the hive over several bins
};

// Open, change two values, close: the close's code is what the test is about.
std::vector<long> changeAndClose(const std::function<void()>& beforeClose = {}) {
    Key key = 0;
    const long open = RegOpenKeyExA(LocalMachine, testsupport::WinlogonKey, 0, KeyAllAccess, &key);
    const std::string text = "changed\0"s;
    const long set = RegSetValueExA(key, "DefaultPassword", 0, RegSz, bytes(text), 8);
    const long del = RegDeleteValueA(key, "AutoAdminLogon");
    if (beforeClose) beforeClose();
    const long close = RegCloseKey(key);
    return {open, set, del, close, RegCloseKey(key)};
}

// The hive in a folder of its own inside the test's temporary folder.
class FailureTest : public testing::Test, protected testsupport::HiveFile {
protected:
    std::string original;

    FailureTest() : HiveFile("hive") {}
    void SetUp() override {
        make(Winlogon);
        original = contents();
    }
    void expectUntouched() {
        EXPECT_EQ(contents() == original, true) << "the hive file changed";
        EXPECT_EQ(count(folder), 1) << "something was left beside the hive";
    }
};

// --- hives that cannot be written -----------------------------------------------------------

TEST_F(FailureTest, ReadOnlyHiveRefusesWriteAccessButReads) {
    ASSERT_EQ(chmod(file.c_str(), 0444), 0);
    const auto report = inChild({true, dir.path()}, [] {
        Key key = 0;
        const long all = RegOpenKeyExA(LocalMachine, testsupport::WinlogonKey, 0, KeyAllAccess, &key);
        const long allKey = static_cast<long>(key);
        const long read = RegOpenKeyExA(LocalMachine, testsupport::WinlogonKey, 0, KeyRead, &key);
        std::uint8_t buffer[64];
        std::uint32_t size = sizeof buffer;
        const long query = RegQueryValueExA(key, "AutoAdminLogon", nullptr, nullptr, buffer, &size);
        return std::vector<long>{all, allKey, read, query, static_cast<long>(size), RegCloseKey(key)};
    });
    EXPECT_EQ(report, (std::vector<long>{status::AccessDenied, 0, 0, 0, 2, 0}));
    expectUntouched();
}

TEST_F(FailureTest, UnwritableFolderRefusesWriteAccess) {
    ASSERT_EQ(chmod(folder.c_str(), 0555), 0);
    const auto report = inChild({true, dir.path()}, [] {
        Key key = 0;
        return std::vector<long>{RegOpenKeyExA(LocalMachine, testsupport::WinlogonKey, 0, KeyAllAccess, &key)};
    });
    EXPECT_EQ(report, std::vector<long>{status::AccessDenied});
    expectUntouched();
}

TEST_F(FailureTest, FolderTurnedUnwritableFailsTheCommit) {
    const std::string where = folder;
    const auto report = inChild({true, dir.path()}, [&] {
        return changeAndClose([&] { chmod(where.c_str(), 0555); });
    });
    EXPECT_EQ(report, (std::vector<long>{0, 0, 0, status::AccessDenied, status::InvalidHandle}));
    expectUntouched();
}

TEST_F(FailureTest, FileSizeLimitFailsTheCommit) {
    const rlim_t limit = original.size() / 2;
    const auto report = inChild({}, [&] {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit small{limit, limit};
        if (setrlimit(RLIMIT_FSIZE, &small) != 0) return std::vector<long>{-2};
        return changeAndClose();
    });
    EXPECT_EQ(report, (std::vector<long>{0, 0, 0, status::DiskFull, status::InvalidHandle}));
    expectUntouched();
}

TEST_F(FailureTest, FullFileSystemFailsTheCommit) {
    if (!platformtest::isRoot()) GTEST_SKIP() << "mounting a small file system needs root";
    // In a mount namespace of its own, the child puts the hive on a file system with room
    // for about one copy, and checks it after the failed commit itself.
    const std::string mountPoint = dir.file("small");
    std::filesystem::create_directory(mountPoint);
    const std::string content = original;
    const auto report = inChild({}, [&] {
        if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            return std::vector<long>{-2};
        const std::string size = "size=" + std::to_string(content.size() + content.size() / 2);
        if (mount("tmpfs", mountPoint.c_str(), "tmpfs", 0, size.c_str()) != 0) return std::vector<long>{-2};
        const std::string onSmall = mountPoint + "/SOFTWARE";
        testsupport::writeFile(onSmall, content);
        testsupport::ScopedHive there(onSmall);
        std::vector<long> r = changeAndClose();
        r.push_back(testsupport::fileBytes(onSmall) == content);
        r.push_back(count(mountPoint));
        return r;
    });
    if (report == std::vector<long>{-2}) GTEST_SKIP() << "no tmpfs mount here";
    EXPECT_EQ(report, (std::vector<long>{0, 0, 0, status::DiskFull, status::InvalidHandle, 1, 1}));
}

TEST_F(FailureTest, ReadingDoesNotNeedAWritableHive) {
    ASSERT_EQ(chmod(file.c_str(), 0444), 0);
    ASSERT_EQ(chmod(folder.c_str(), 0555), 0);
    const auto report = inChild({true, dir.path()}, [] {
        Key key = 0;
        const long open = RegOpenKeyExA(LocalMachine, testsupport::WinlogonKey, 0, KeyRead, &key);
        std::uint8_t buffer[64];
        std::uint32_t size = sizeof buffer;
        const long query = RegQueryValueExA(key, "DefaultPassword", nullptr, nullptr, buffer, &size);
        return std::vector<long>{open, query, static_cast<long>(size), RegCloseKey(key)};
    });
    EXPECT_EQ(report, (std::vector<long>{0, 0, 7, 0}));
    expectUntouched();
}

// --- files that are not (whole) hives -------------------------------------------------------

std::string randomBytes(std::size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    std::string out(n, '\0');
    for (char& c : out) c = static_cast<char>(gen());
    return out;
}

struct BadFile {
    const char* name;
    std::string (*make)(const std::string& valid);
};
void PrintTo(const BadFile& row, std::ostream* os) { *os << row.name; }

const BadFile BadFiles[] = {
    {"Empty", [](const std::string&) { return std::string(); }},
    {"RandomBytes", [](const std::string&) { return randomBytes(16384, 1); }},
    {"SignatureThenRandomBytes", [](const std::string&) { return "regf" + randomBytes(16380, 2); }},
    {"OnlyTheBaseBlock", [](const std::string& v) { return v.substr(0, hive::BaseBlockSize); }},
    {"CutInsideTheFirstBin", [](const std::string& v) { return v.substr(0, 6000); }},
    {"LastBinMissing", [](const std::string& v) { return v.substr(0, v.size() - hive::HiveBinSize); }},
    {"CutOneByteShort", [](const std::string& v) { return v.substr(0, v.size() - 1); }},
    {"BadChecksum", [](const std::string& v) {
         HiveImage h(v);
         return h.put32(regf::Checksum, h.base(regf::Checksum) ^ 0x5500).bytes(); }},
    {"RootOutsideTheFile", [](const std::string& v) { return HiveImage(v).base(regf::RootCell, 0x7FFFFFF0).bytes(); }},
    {"FirstBinSignatureBroken", [](const std::string& v) {
         return HiveImage(v).put(hive::BaseBlockSize + hbin::Signature, "X").bytes(); }},
};

class NotAHive : public FailureTest, public testing::WithParamInterface<BadFile> {};

TEST_P(NotAHive, IsReportedCorruptAndNeverWritten) {
    original = GetParam().make(original);
    overwrite(original);
    for (std::uint32_t access : {KeyAllAccess, KeyRead}) {
        Key key = 0;
        const Status code = RegOpenKeyExA(LocalMachine, testsupport::WinlogonKey, 0, access, &key);
        EXPECT_TRUE(code == status::BadDatabase || code == status::RegistryCorrupt) << "code " << code;
        EXPECT_EQ(key, 0u);
        EXPECT_EQ(RegCloseKey(key), status::InvalidHandle);
    }
    expectUntouched();
}

INSTANTIATE_TEST_SUITE_P(Hive, NotAHive, testing::ValuesIn(BadFiles),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(FailureTest, DirtyHiveReadsButIsNotWritten) {
    testsupport::leaveWriteUnfinished(original); // the second sequence number lags behind
    overwrite(original);

    Key key = 0;
    EXPECT_EQ(RegOpenKeyExA(LocalMachine, testsupport::WinlogonKey, 0, KeyAllAccess, &key), status::AccessDenied);
    EXPECT_EQ(key, 0u);
    ASSERT_EQ(RegOpenKeyExA(LocalMachine, testsupport::WinlogonKey, 0, KeyRead, &key), status::Success);
    std::uint8_t buffer[64];
    std::uint32_t size = sizeof buffer;
    EXPECT_EQ(RegQueryValueExA(key, "AutoAdminLogon", nullptr, nullptr, buffer, &size), status::Success);
    EXPECT_EQ(RegSetValueExA(key, "AutoAdminLogon", 0, RegSz, buffer, size), status::AccessDenied);
    EXPECT_EQ(RegCloseKey(key), status::Success);
    expectUntouched();
}

// Damaged hives of every kind: whatever the codes, nothing crashes or reads out of bounds.
TEST_F(FailureTest, DamagedHivesNeverCrash) {
    std::mt19937 gen(42);
    const std::string valid = original;
    const char* names[] = {"AutoAdminLogon", "DefaultUserName", "DefaultPassword", "Padding", "Missing"};
    for (int round = 0; round < 150; ++round) {
        std::string damaged = valid;
        const int flips = 1 + static_cast<int>(gen() % 16);
        for (int i = 0; i < flips; ++i)
            damaged[hive::BaseBlockSize + gen() % (damaged.size() - hive::BaseBlockSize)] = static_cast<char>(gen());
        overwrite(damaged);
        Key key = 0;
        if (RegOpenKeyExA(LocalMachine, testsupport::WinlogonKey, 0, KeyAllAccess, &key) != status::Success) continue;
        for (const char* name : names) {
            std::uint8_t buffer[1024];
            std::uint32_t size = sizeof buffer;
            RegQueryValueExA(key, name, nullptr, nullptr, buffer, &size);
        }
        const std::string text = "x\0"s;
        RegSetValueExA(key, "DefaultPassword", 0, RegSz, bytes(text), 2);
        RegDeleteValueA(key, "AutoAdminLogon");
        RegCloseKey(key);
    }
    SUCCEED();
}

// --- another process holding the hive -------------------------------------------------------

TEST_F(FailureTest, SecondProcessWaitsForTheFirstAndSeesItsChange) {
    platformtest::Child child({}, [] {
        Key key = 0;
        const long open = RegOpenKeyExA(LocalMachine, testsupport::WinlogonKey, 0, KeyAllAccess, &key);
        if (open != status::Success) return std::vector<long>{open};
        platformtest::readyInChild();
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
        const std::string text = "child\0"s;
        const long set = RegSetValueExA(key, "DefaultUserName", 0, RegSz, bytes(text), 6);
        return std::vector<long>{open, set, RegCloseKey(key)};
    });
    ASSERT_TRUE(child.ready());

    const auto start = std::chrono::steady_clock::now();
    Key key = 0;
    ASSERT_EQ(RegOpenKeyExA(LocalMachine, testsupport::WinlogonKey, 0, KeyAllAccess, &key), status::Success);
    const auto waited = std::chrono::steady_clock::now() - start;
    std::uint8_t buffer[64] = {};
    std::uint32_t size = sizeof buffer;
    EXPECT_EQ(RegQueryValueExA(key, "DefaultUserName", nullptr, nullptr, buffer, &size), status::Success);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), size), "child\0"s);
    EXPECT_EQ(RegCloseKey(key), status::Success);
    EXPECT_GE(waited, std::chrono::milliseconds(200)) << "the open did not wait for the other process";
    EXPECT_EQ(child.wait(), (std::vector<long>{0, 0, 0}));
}

// The hive holds a password in clear: none of this may print anything.
TEST_F(FailureTest, NothingIsPrinted) {
    const std::string output = dir.file("output");
    const std::string hiveFile = file;
    const auto report = inChild({}, [&] {
        const int fd = open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(fd, 1);
        dup2(fd, 2);
        changeAndClose();
        testsupport::writeFile(hiveFile, "regf" + randomBytes(9000, 3));
        Key key = 0;
        RegOpenKeyExA(LocalMachine, testsupport::WinlogonKey, 0, KeyAllAccess, &key);
        testsupport::writeFile(hiveFile, original.substr(0, 7000));
        RegOpenKeyExA(LocalMachine, testsupport::WinlogonKey, 0, KeyAllAccess, &key);
        return std::vector<long>{0};
    });
    EXPECT_EQ(report, std::vector<long>{0});
    EXPECT_EQ(testsupport::fileBytes(output), "");
}

} // namespace
