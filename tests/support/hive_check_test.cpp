// The structural check of hive files: each of its rules against a file that breaks it, the
// files it must pass (hives of libhivex, the default hive, the engine's commits, hives that
// Windows wrote), and the guard that runs it after every commit of a test.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "child_process.h"
#include "hive_check.h"
#include "hive_fixture.h"
#include "hive_guard.h"
#include "platform/hive/choice.h"
#include "platform/hive/hive.h"
#include "platform/hive/format.h"
#include "platform/registry.h"

namespace {

using namespace std::string_literals;
using namespace std::string_view_literals;
using testsupport::cellOffset;
using testsupport::HiveImage;
using testsupport::HiveRule;
using testsupport::textValue;
namespace hive = platform::hive;
using namespace testsupport::fields;

// Cells of a hive, by file offset (libhivex's handles are file offsets).
struct Spots {
    std::size_t root, winlogon, valueList, autoLogon, userName, userData, big, bigData, segments, parent, parentList,
        security;
    std::size_t lastBin, lastCellOfFirstBin;
};

// A sound format 1.5 hive: the Winlogon key with two values and a long one in big-data
// segments (written by the engine), three keys under a parent listed by hash, one security cell.
class Sound : public testing::Test, protected testsupport::HiveFile {
protected:
    HiveImage hive;
    Spots spots{};

    void SetUp() override {
        make(std::vector<testsupport::HiveKey>{{testsupport::WinlogonInHive,
                                                {textValue("AutoAdminLogon", u"1"), textValue("DefaultUserName", u"Administrator")}},
                                               {"Parent\\Alpha", {}},
                                               {"Parent\\Beta", {}},
                                               {"Parent\\Gamma", {}}},
             5);
        platform::Key key = 0;
        ASSERT_EQ(platform::RegOpenKeyExA(platform::LocalMachine, testsupport::WinlogonKey, 0, platform::KeyAllAccess, &key), 0);
        const std::string big(40000, 'b');
        ASSERT_EQ(platform::RegSetValueExA(key, "Big", 0, platform::RegBinary,
                                           reinterpret_cast<const std::uint8_t*>(big.data()), 40000), 0);
        ASSERT_EQ(platform::RegCloseKey(key), 0);
        hive = image();

        spots.root = testsupport::keyCellOf(file, "");
        spots.winlogon = testsupport::keyCellOf(file, testsupport::WinlogonInHive);
        spots.valueList = hive.cell(spots.winlogon).ref(nk::ValueList).at();
        spots.autoLogon = testsupport::valueCellOf(file, testsupport::WinlogonInHive, "AutoAdminLogon");
        spots.userName = testsupport::valueCellOf(file, testsupport::WinlogonInHive, "DefaultUserName");
        spots.userData = hive.cell(spots.userName).ref(vk::DataOffset).at();
        spots.big = testsupport::valueCellOf(file, testsupport::WinlogonInHive, "Big");
        spots.bigData = hive.cell(spots.big).ref(vk::DataOffset).at();
        spots.segments = hive.cell(spots.bigData).ref(db::SegmentList).at();
        spots.parent = testsupport::keyCellOf(file, "Parent");
        spots.parentList = hive.cell(spots.parent).ref(nk::SubkeyList).at();
        spots.security = hive.cell(spots.root).ref(nk::Security).at();
        spots.lastBin = hive.bins().back();
        spots.lastCellOfFirstBin = hive.cells(hive.bins().front()).back();
        ASSERT_EQ(hive.cell(spots.bigData).get(db::Signature, 2), "db");
        ASSERT_EQ(hive.cell(spots.parentList).get(list::Signature, 2), "lh");
        ASSERT_EQ(hive.cell(spots.security).get(sk::Signature, 2), "sk");
        ASSERT_GT(spots.lastBin, hive::BaseBlockSize) << "the commit appended a bin";
    }
};

TEST_F(Sound, PassesEveryRule) {
    const auto check = testsupport::checkHive(hive.bytes());
    EXPECT_TRUE(check.sound()) << testsupport::describe(check.findings);
    EXPECT_EQ(check.keys, 9u);
    EXPECT_EQ(check.values, 3u);
}

// --- each rule against a file that breaks it -------------------------------------------------

struct Breach {
    const char* name;
    HiveRule rule;
    std::function<void(HiveImage& h, const Spots& s)> apply;
};
void PrintTo(const Breach& row, std::ostream* os) { *os << row.name; }

constexpr std::size_t FirstBin = hive::BaseBlockSize;

// Names and data of the values: "AutoAdminLogon", "DefaultUserName" (28 bytes), "Big" (40000
// bytes in 3 segments).
const std::vector<Breach> Breaches = {
    {"NoRegf", HiveRule::BaseSignature, [](HiveImage& h, const Spots&) { h.put(regf::Signature, "Regf"); }},
    {"ShortFile", HiveRule::BaseSignature, [](HiveImage& h, const Spots&) { h.bytes().resize(4000); }},
    {"Format1_7", HiveRule::BaseVersion, [](HiveImage& h, const Spots&) { h.base(regf::Minor, 7); }},
    {"Format2", HiveRule::BaseVersion, [](HiveImage& h, const Spots&) { h.base(regf::Major, 2); }},
    {"ALogFile", HiveRule::BaseVersion, [](HiveImage& h, const Spots&) { h.base(regf::FileType, 1); }},
    {"Dirty", HiveRule::BaseSequence, [](HiveImage& h, const Spots&) { h.base(regf::Sequence2, h.base(regf::Sequence1) + 1); }},
    {"Checksum", HiveRule::BaseChecksum, [](HiveImage& h, const Spots&) { h.put32(regf::Checksum, h.base(regf::Checksum) ^ 1); }},
    {"BinsNotPages", HiveRule::BinsSize, [](HiveImage& h, const Spots&) { h.base(regf::BinsSize, h.base(regf::BinsSize) - 8); }},
    {"BinsShortOfTheLast", HiveRule::BinsSize, [](HiveImage& h, const Spots&) {
         h.base(regf::BinsSize, h.base(regf::BinsSize) - 4096); }},
    {"BytesAfterTheBins", HiveRule::FileSize, [](HiveImage& h, const Spots&) { h.bytes().append(4096, '\0'); }},
    {"FileEndsInTheBins", HiveRule::FileSize, [](HiveImage& h, const Spots&) { h.bytes().resize(h.bytes().size() - 4096); }},
    {"RootIsAValue", HiveRule::RootCell, [](HiveImage& h, const Spots& s) { h.base(regf::RootCell, cellOffset(s.userName)); }},
    {"RootNotTheEntry", HiveRule::RootCell, [](HiveImage& h, const Spots& s) { h.cell(s.root).field16(nk::Flags, nk::CompressedName); }},
    {"RootInsideACell", HiveRule::RootCell, [](HiveImage& h, const Spots&) { h.base(regf::RootCell, h.base(regf::RootCell) + 8); }},
    {"BinSignature", HiveRule::BinSignature, [](HiveImage& h, const Spots& s) { h.put(s.lastBin + hbin::Signature, "hbix"); }},
    {"BinOffset", HiveRule::BinOffset, [](HiveImage& h, const Spots& s) { h.put32(s.lastBin + hbin::Offset, 0); }},
    {"BinBeyondTheBins", HiveRule::BinsSize, [](HiveImage& h, const Spots&) { h.put32(FirstBin + hbin::Size, 4096 * 1000); }},
    {"BinNotPages", HiveRule::BinSize, [](HiveImage& h, const Spots&) { h.put32(FirstBin + hbin::Size, 4096 + 8); }},
    {"BinsBeyondTwoGiB", HiveRule::BeyondTwoGiB, [](HiveImage& h, const Spots&) { h.base(regf::BinsSize, 0x80001000); }},
    {"CellOfTwelve", HiveRule::CellSize, [](HiveImage& h, const Spots& s) { h.cell(s.lastCellOfFirstBin).size(12); }},
    {"CellOfZero", HiveRule::CellSize, [](HiveImage& h, const Spots& s) { h.cell(s.lastCellOfFirstBin).size(0); }},
    {"CellPastTheBin", HiveRule::CellCrossesBin, [](HiveImage& h, const Spots& s) {
         HiveImage::Cell last = h.cell(s.lastCellOfFirstBin);
         last.size(last.size() < 0 ? last.size() - 8 : last.size() + 8); }},
    {"DataInsideACell", HiveRule::BadReference, [](HiveImage& h, const Spots& s) {
         HiveImage::Cell value = h.cell(s.userName);
         value.field(vk::DataOffset, value.field(vk::DataOffset) + 8); }},
    {"DataOutsideTheBins", HiveRule::BadReference, [](HiveImage& h, const Spots& s) {
         h.cell(s.userName).field(vk::DataOffset, 0x7FFFFFF8); }},
    {"DataFree", HiveRule::FreeReference, [](HiveImage& h, const Spots& s) { h.cell(s.userData).freed(); }},
    {"ValueIsAKey", HiveRule::WrongKind, [](HiveImage& h, const Spots& s) {  // the first entry of the value list
         h.cell(s.valueList).field(0, cellOffset(s.parent)); }},
    {"SubkeyListOfNoKind", HiveRule::WrongKind, [](HiveImage& h, const Spots& s) { h.cell(s.parentList).put(list::Signature + 1, "x"); }},
    {"KeyNameLongerThanItsCell", HiveRule::CellTooSmall, [](HiveImage& h, const Spots& s) {
         h.cell(s.winlogon).field16(nk::NameLength, 0x4000); }},
    {"ValueListShort", HiveRule::CellTooSmall, [](HiveImage& h, const Spots& s) { h.cell(s.winlogon).field(nk::ValueCount, 1000); }},
    {"DataOfAnother", HiveRule::SharedCell, [](HiveImage& h, const Spots& s) {
         h.cell(s.userName).field(vk::DataOffset, cellOffset(s.bigData)); }},
    {"ValueListedTwice", HiveRule::SharedCell, [](HiveImage& h, const Spots& s) {  // the second entry made the first
         HiveImage::Cell values = h.cell(s.valueList);
         values.field(4, values.field(0)); }},
    {"ValueForgotten", HiveRule::LeakedCell, [](HiveImage& h, const Spots& s) { h.cell(s.winlogon).field(nk::ValueCount, 2); }},
    {"KeyParent", HiveRule::KeyParent, [](HiveImage& h, const Spots& s) { h.cell(s.winlogon).field(nk::Parent, cellOffset(s.root)); }},
    {"KeyWithoutName", HiveRule::KeyName, [](HiveImage& h, const Spots& s) { h.cell(s.winlogon).field16(nk::NameLength, 0); }},
    {"KeyNameOddUtf16", HiveRule::KeyName, [](HiveImage& h, const Spots& s) {
         HiveImage::Cell key = h.cell(s.winlogon);
         key.field16(nk::Flags, static_cast<std::uint16_t>(key.field16(nk::Flags) & ~nk::CompressedName));
         key.field16(nk::NameLength, 7); }},
    {"SubkeyCountHigh", HiveRule::SubkeyCount, [](HiveImage& h, const Spots& s) { h.cell(s.parent).field(nk::SubkeyCount, 4); }},
    {"SubkeyListWithoutSubkeys", HiveRule::SubkeyCount, [](HiveImage& h, const Spots& s) {
         h.cell(s.parent).field(nk::SubkeyCount, 0); }},
    {"SubkeysOutOfOrder", HiveRule::SubkeyOrder, [](HiveImage& h, const Spots& s) {
         HiveImage::Cell keys = h.cell(s.parentList);
         const std::string first = keys.get(list::Entries, list::HashedEntry);
         keys.put(list::Entries, keys.get(list::Entries + list::HashedEntry, list::HashedEntry));
         keys.put(list::Entries + list::HashedEntry, first); }},
    {"SubkeyTwice", HiveRule::SubkeyOrder, [](HiveImage& h, const Spots& s) {
         // Alpha renamed BETA, its hash with it: two keys named Beta.
         HiveImage::Cell keys = h.cell(s.parentList);
         keys.ref(list::Entries).put(nk::Name, "BETA").field16(nk::NameLength, 4);
         keys.field(list::Entries + 4, keys.field(list::Entries + list::HashedEntry + 4)); }},
    {"SubkeyHash", HiveRule::SubkeyHash, [](HiveImage& h, const Spots& s) {  // the hash of the first entry
         HiveImage::Cell keys = h.cell(s.parentList);
         keys.field(list::Entries + 4, keys.field(list::Entries + 4) + 1); }},
    {"ValueListWithoutValues", HiveRule::ValueCount, [](HiveImage& h, const Spots& s) {
         h.cell(s.winlogon).field(nk::ValueCount, 0); }},
    {"ValueNameTwice", HiveRule::ValueName, [](HiveImage& h, const Spots& s) {
         h.cell(s.userName).put(vk::Name, "autoadminLOGON").field16(vk::NameLength, 14); }},
    {"ValueNameOddUtf16", HiveRule::ValueName, [](HiveImage& h, const Spots& s) { h.cell(s.userName).field16(vk::Flags, 0); }},
    {"LongestDataLow", HiveRule::MaxFields, [](HiveImage& h, const Spots& s) { h.cell(s.winlogon).field(nk::MaxValueData, 39999); }},
    {"LongestValueNameLow", HiveRule::MaxFields, [](HiveImage& h, const Spots& s) { h.cell(s.winlogon).field(nk::MaxValueName, 29); }},
    {"LongestSubkeyNameLow", HiveRule::MaxFields, [](HiveImage& h, const Spots& s) { h.cell(s.parent).field(nk::MaxSubkeyName, 9); }},
    {"InlineFiveBytes", HiveRule::DataSize, [](HiveImage& h, const Spots& s) {
         h.cell(s.autoLogon).field(vk::DataSize, vk::InlineData | 5); }},
    {"DataLongerThanItsCell", HiveRule::DataSize, [](HiveImage& h, const Spots& s) { h.cell(s.userName).field(vk::DataSize, 4000); }},
    {"SegmentShort", HiveRule::DataSize, [](HiveImage& h, const Spots& s) {
         // The first segment split into 16 bytes and a free cell.
         HiveImage::Cell first = h.cell(s.segments).ref(0);
         const std::int32_t size = -first.size();
         first.size(-16);
         h.cell(first.at() + 16).size(size - 16); }},
    {"TooFewSegments", HiveRule::BigData, [](HiveImage& h, const Spots& s) { h.cell(s.bigData).field16(db::SegmentCount, 2); }},
    {"BigDataInOneCell", HiveRule::BigData, [](HiveImage& h, const Spots& s) { h.cell(s.bigData).put(db::Signature, "x"); }},
    {"SecurityBackLink", HiveRule::SecurityList, [](HiveImage& h, const Spots& s) { h.cell(s.security).field(sk::Next, 0x20); }},
    {"SecurityCount", HiveRule::SecurityCount, [](HiveImage& h, const Spots& s) {
         HiveImage::Cell security = h.cell(s.security);
         security.field(sk::References, security.field(sk::References) + 1); }},
};

class BrokenRule : public Sound, public testing::WithParamInterface<Breach> {};

TEST_P(BrokenRule, IsFound) {
    HiveImage h = hive;
    GetParam().apply(h, spots);
    const auto check = testsupport::checkHive(h.bytes());
    EXPECT_TRUE(check.has(GetParam().rule)) << "found instead:\n" << testsupport::describe(check.findings);
}

INSTANTIATE_TEST_SUITE_P(Check, BrokenRule, testing::ValuesIn(Breaches),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(HiveCheck, EveryRuleHasAFileThatBreaksIt) {
    std::set<HiveRule> covered;
    for (const Breach& b : Breaches) covered.insert(b.rule);
    for (int r = 0; r <= static_cast<int>(HiveRule::SecurityCount); ++r)
        EXPECT_TRUE(covered.count(static_cast<HiveRule>(r))) << testsupport::ruleName(static_cast<HiveRule>(r));
}

// A file damaged anywhere never takes the check out of its bins.
TEST_F(Sound, EveryByteFlippedIsCheckedWithoutHarm) {
    for (std::size_t at = 0; at < hive.bytes().size(); at += 7) {
        std::string h = hive.bytes();
        h[at] = static_cast<char>(h[at] ^ 0xA5);
        testsupport::checkHive(h);
    }
    SUCCEED();
}

// --- judged against its source ---------------------------------------------------------------

TEST_F(Sound, ACommitIsJudgedByWhatItsSourceAlreadyHad) {
    HiveImage leaky = hive;
    leaky.cell(spots.winlogon).field(nk::ValueCount, 2); // Big forgotten: its cells leak
    const auto source = testsupport::checkHive(leaky.bytes());
    // The value, its big-data cell, the list of segments and three segments.
    ASSERT_EQ(source.findings.size(), 6u) << testsupport::describe(source.findings);
    EXPECT_FALSE(source.damaged());
    EXPECT_TRUE(testsupport::commitFaults(source, testsupport::checkHive(leaky.bytes())).empty());

    // Another value forgotten: its cell and its data's are the commit's fault; and a key with
    // other values that the commit did not stamp as changed.
    HiveImage worse = leaky;
    worse.cell(spots.winlogon).field(nk::ValueCount, 1);
    const auto unstamped = testsupport::commitFaults(source, testsupport::checkHive(worse.bytes()));
    ASSERT_EQ(unstamped.size(), 3u) << testsupport::describe(unstamped);
    EXPECT_EQ(unstamped.back().rule, HiveRule::KeyNotKept);
    worse.cell(spots.winlogon).field(nk::Written, worse.cell(spots.winlogon).field(nk::Written) + 1);
    const auto more = testsupport::commitFaults(source, testsupport::checkHive(worse.bytes()));
    ASSERT_EQ(more.size(), 2u) << testsupport::describe(more);
    EXPECT_EQ(more[0].rule, HiveRule::LeakedCell);
    EXPECT_EQ(more[0].cell, cellOffset(spots.userName));

    // From a damaged source, cells left allocated are not; anything else is.
    HiveImage damaged = hive;
    damaged.cell(spots.userName).field(vk::DataSize, 4000);
    const auto damagedSource = testsupport::checkHive(damaged.bytes());
    ASSERT_TRUE(damagedSource.damaged());
    EXPECT_TRUE(testsupport::commitFaults(damagedSource, testsupport::checkHive(worse.bytes())).empty());
    HiveImage freed = worse;
    freed.cell(spots.userData).freed();
    freed.cell(spots.winlogon).field(nk::ValueCount, 2);
    const auto faults = testsupport::commitFaults(damagedSource, testsupport::checkHive(freed.bytes()));
    ASSERT_EQ(faults.size(), 1u) << testsupport::describe(faults);
    EXPECT_EQ(faults[0].rule, HiveRule::FreeReference);
}

TEST_F(Sound, WhatACommitGaveUpIsNotLeftInFreeSpace) {
    HiveImage freed = hive; // DefaultUserName's data freed as it was, then wiped
    HiveImage::Cell data = freed.cell(spots.userData);
    data.freed();
    const auto left = testsupport::leftovers(hive.bytes(), freed.bytes());
    ASSERT_EQ(left.size(), 1u) << testsupport::describe(left);
    EXPECT_EQ(left[0].rule, HiveRule::LeftOver);
    EXPECT_EQ(left[0].cell, cellOffset(spots.userData));
    data.put(0, std::string(static_cast<std::size_t>(data.size()) - cell::Payload, '\0'));
    EXPECT_TRUE(testsupport::leftovers(hive.bytes(), freed.bytes()).empty());
    EXPECT_TRUE(testsupport::leftovers(hive.bytes(), hive.bytes()).empty());
}

// --- files that must pass ----------------------------------------------------------------------

TEST(HiveCheck, TheDefaultHivePasses) {
    testsupport::TempDir dir;
    const std::string file = dir.file("vantorio/SOFTWARE");
    ASSERT_EQ(platform::hive::ensureDefaultHive(file), 0);
    const auto check = testsupport::checkHiveFile(file);
    EXPECT_TRUE(check.sound()) << testsupport::describe(check.findings);
    EXPECT_EQ(check.values, 6u);
}

// Made whole in memory: a path of keys, one value's data over a page (the bin grows to hold
// it), data inline and none. libhivex reads back every byte.
TEST(HiveCheck, AHiveMadeWholePasses) {
    using platform::hive::NewValue;
    testsupport::TempDir dir;
    const std::string file = dir.file("SOFTWARE"), big(9000, '\x5A');
    const std::string_view path[] = {"Microsoft", "windows nt", "Winlogon"};
    const NewValue values[] = {{"Big", 3, big}, {"Four", 4, "\x01\x02\x03\x04"sv}, {"None", 0, ""}};
    testsupport::writeFile(file, platform::hive::hiveWithKey(platform::hive::filetimeNow(), path, values));
    const auto check = testsupport::checkHiveFile(file);
    EXPECT_TRUE(check.sound()) << testsupport::describe(check.findings);
    EXPECT_EQ(check.keys, 4u);
    EXPECT_EQ(testsupport::readValues(file, "Microsoft\\windows nt\\Winlogon"),
              (std::vector<testsupport::HiveValue>{{"Big", 3, big}, {"Four", 4, "\x01\x02\x03\x04"}, {"None", 0, ""}}));
}

TEST(HiveCheck, TheEmptyHivePasses) {
    const auto check = testsupport::checkHive(platform::hive::emptyHive(platform::hive::filetimeNow()));
    EXPECT_TRUE(check.sound()) << testsupport::describe(check.findings);
    EXPECT_EQ(check.keys, 1u);
}

// Hives that Windows 10 wrote pass, but for what windowsBreaks() names: their files are padded
// after the bins, and two of them wait for their logs.
struct RealHive {
    const char* file;
    bool dirty;
    std::uint64_t keys;
};
void PrintTo(const RealHive& row, std::ostream* os) { *os << row.file; }

class RealHives : public testing::TestWithParam<RealHive> {};

TEST_P(RealHives, PassButForWhatWindowsDoes) {
    const char* configured = std::getenv("VANTORIO_REAL_HIVES");
    const std::string folder = configured ? configured : VANTORIO_REAL_HIVES;
    const std::string packed = folder + "/" + GetParam().file + ".xz";
    if (!std::filesystem::exists(packed)) GTEST_SKIP() << "no hives of Windows at " << folder;
    const platformtest::Outcome unpacked = platformtest::launch({"xz", {"-dc", packed}});
    ASSERT_EQ(unpacked.status, 0);

    const auto check = testsupport::checkHive(unpacked.out);
    EXPECT_TRUE(check.unlikeWindows().empty()) << testsupport::describe(check.unlikeWindows());
    EXPECT_TRUE(check.has(HiveRule::FileSize));
    EXPECT_EQ(check.has(HiveRule::BaseSequence), GetParam().dirty);
    EXPECT_FALSE(check.has(HiveRule::LeakedCell));
    EXPECT_EQ(check.keys, GetParam().keys);
}

INSTANTIATE_TEST_SUITE_P(Check, RealHives,
                         testing::Values(RealHive{"NTUSER.DAT", false, 1812}, RealHive{"SYSTEM_B", true, 33123},
                                         RealHive{"SYSTEM_WIN_10_1709", true, 43211}),
                         [](const auto& info) {
                             std::string name = info.param.file;
                             std::erase(name, '.');
                             return name;
                         });

// --- the guard of every commit ----------------------------------------------------------------

class Guard : public testing::Test, protected testsupport::HiveFile {
protected:
    void SetUp() override { make({textValue("AutoAdminLogon", u"0")}); }
    // The key with AutoAdminLogon set to `flag`: a change unless it holds that already.
    platform::Key openAndSet(char flag = '1') {
        platform::Key key = 0;
        EXPECT_EQ(platform::RegOpenKeyExA(platform::LocalMachine, testsupport::WinlogonKey, 0, platform::KeyAllAccess, &key), 0);
        const std::string text{flag, '\0'};
        EXPECT_EQ(platform::RegSetValueExA(key, "AutoAdminLogon", 0, platform::RegSz,
                                           reinterpret_cast<const std::uint8_t*>(text.data()), 2), 0);
        return key;
    }
};

TEST_F(Guard, ChecksEveryCommit) {
    const std::size_t before = testsupport::guardedCommits();
    for (char flag : {'1', '0', '1'}) EXPECT_EQ(platform::RegCloseKey(openAndSet(flag)), 0);
    EXPECT_EQ(testsupport::guardedCommits(), before + 3);
    // A close without a change, or with one to what is stored, writes nothing, and nothing is checked.
    EXPECT_EQ(platform::RegCloseKey(openAndSet('1')), 0);
    platform::Key key = 0;
    ASSERT_EQ(platform::RegOpenKeyExA(platform::LocalMachine, testsupport::WinlogonKey, 0, platform::KeyRead, &key), 0);
    EXPECT_EQ(platform::RegCloseKey(key), 0);
    EXPECT_EQ(testsupport::guardedCommits(), before + 3);
}

TEST_F(Guard, FailsTheTestForAFaultTheCommitAdded) {
    platform::hive::CommitObserver& guard = testsupport::commitGuard();
    guard.replacing(file);
    // Another file takes the hive's place, as a commit's would, with a value nothing refers to.
    HiveImage h = image();
    h.cell(testsupport::keyCellOf(file, testsupport::WinlogonInHive)).field(nk::ValueCount, 0).field(nk::ValueList, hive::NoCell);
    overwrite(h);
    EXPECT_NONFATAL_FAILURE(guard.replaced(file), "LeakedCell");
}

} // namespace
