// The structural check of hive files: each of its rules against a file that breaks it, the
// files it must pass (hives of libhivex, the default hive, the engine's commits, hives that
// Windows wrote), and the guard that runs it after every commit of a test.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <hivex.h>
#include <memory>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "hive_check.h"
#include "hive_fixture.h"
#include "hive_guard.h"
#include "platform/hive/choice.h"
#include "platform/hive/hive.h"
#include "platform/hive/format.h"
#include "platform/registry.h"
#include "platform/bytes.h"

namespace {

using platform::le32;

using namespace std::string_literals;
using namespace std::string_view_literals;
using testsupport::HiveRule;
using testsupport::textValue;

constexpr std::size_t Bins = 4096;

void set32(std::string& h, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) h.at(at + i) = static_cast<char>(v >> (8 * i));
}
void set16(std::string& h, std::size_t at, std::uint16_t v) {
    h.at(at) = static_cast<char>(v);
    h.at(at + 1) = static_cast<char>(v >> 8);
}
void fixChecksum(std::string& h) { set32(h, 508, platform::hive::baseBlockChecksum(h)); }
void base(std::string& h, std::size_t at, std::uint32_t v) {
    set32(h, at, v);
    fixChecksum(h);
}

// Cells of a hive, by file offset (libhivex's handles are file offsets): the payload of the cell
// at `cell` begins at cell + 4.
struct Spots {
    std::size_t root, winlogon, valueList, autoLogon, userName, userData, big, bigData, segments, parent, parentList,
        security;
    std::size_t lastBin, lastCellOfFirstBin;
};

std::size_t payload(std::size_t cell) { return cell + 4; }
std::size_t field(const std::string& h, std::size_t cell, std::size_t at) { return Bins + le32(h, payload(cell) + at); }

// A sound format 1.5 hive: the Winlogon key with two values and a long one in big-data
// segments (written by the engine), three keys under a parent listed by hash, one security cell.
class Sound : public testing::Test {
protected:
    testsupport::TempDir dir;
    std::string file = dir.file("SOFTWARE");
    std::string hive;
    Spots spots{};

    void SetUp() override {
        testsupport::makeHive(file, std::vector<testsupport::HiveKey>{
                                        {testsupport::WinlogonInHive,
                                         {textValue("AutoAdminLogon", u"1"), textValue("DefaultUserName", u"Administrator")}},
                                        {"Parent\\Alpha", {}},
                                        {"Parent\\Beta", {}},
                                        {"Parent\\Gamma", {}}});
        std::string h = testsupport::fileBytes(file);
        base(h, 24, 5);
        testsupport::writeFile(file, h);
        {
            testsupport::ScopedHive scope(file);
            platform::Key key = 0;
            ASSERT_EQ(platform::RegOpenKeyExA(platform::LocalMachine, testsupport::WinlogonKey, 0, platform::KeyAllAccess, &key), 0);
            const std::string big(40000, 'b');
            ASSERT_EQ(platform::RegSetValueExA(key, "Big", 0, platform::RegBinary,
                                               reinterpret_cast<const std::uint8_t*>(big.data()), 40000), 0);
            ASSERT_EQ(platform::RegCloseKey(key), 0);
        }
        hive = testsupport::fileBytes(file);

        std::unique_ptr<hive_h, decltype(&hivex_close)> hx(hivex_open(file.c_str(), 0), &hivex_close);
        ASSERT_TRUE(hx);
        auto child = [&](hive_node_h node, const char* name) {
            const hive_node_h c = hivex_node_get_child(hx.get(), node, name);
            if (!c) throw std::runtime_error(std::string("no key ") + name);
            return c;
        };
        const hive_node_h root = hivex_root(hx.get());
        const hive_node_h winlogon =
            child(child(child(child(root, "Microsoft"), "Windows NT"), "CurrentVersion"), "Winlogon");
        spots.root = root;
        spots.winlogon = winlogon;
        spots.valueList = field(hive, winlogon, 0x28);
        spots.autoLogon = hivex_node_get_value(hx.get(), winlogon, "AutoAdminLogon");
        spots.userName = hivex_node_get_value(hx.get(), winlogon, "DefaultUserName");
        spots.userData = field(hive, spots.userName, 8);
        spots.big = hivex_node_get_value(hx.get(), winlogon, "Big");
        spots.bigData = field(hive, spots.big, 8);
        spots.segments = field(hive, spots.bigData, 4);
        spots.parent = child(root, "Parent");
        spots.parentList = field(hive, spots.parent, 0x1C);
        spots.security = field(hive, root, 0x2C);
        std::size_t bin = 0;
        for (std::size_t at = 0; at < le32(hive, 40); at += le32(hive, Bins + at + 8)) bin = at;
        spots.lastBin = Bins + bin;
        const std::size_t firstBinEnd = Bins + le32(hive, Bins + 8);
        for (std::size_t at = Bins + 32; at < firstBinEnd;) {
            spots.lastCellOfFirstBin = at;
            const auto size = static_cast<std::int32_t>(le32(hive, at));
            at += static_cast<std::size_t>(size < 0 ? -size : size);
        }
        ASSERT_EQ(hive.substr(payload(spots.bigData), 2), "db");
        ASSERT_EQ(hive.substr(payload(spots.parentList), 2), "lh");
        ASSERT_EQ(hive.substr(payload(spots.security), 2), "sk");
        ASSERT_GT(spots.lastBin, Bins) << "the commit appended a bin";
    }
};

TEST_F(Sound, PassesEveryRule) {
    const auto check = testsupport::checkHive(hive);
    EXPECT_TRUE(check.sound()) << testsupport::describe(check.findings);
    EXPECT_EQ(check.keys, 9u);
    EXPECT_EQ(check.values, 3u);
}

// --- each rule against a file that breaks it -------------------------------------------------

struct Breach {
    const char* name;
    HiveRule rule;
    std::function<void(std::string& h, const Spots& s)> apply;
};

// Names and data of the values: "AutoAdminLogon", "DefaultUserName" (28 bytes), "Big" (40000
// bytes in 3 segments).
const std::vector<Breach> Breaches = {
    {"NoRegf", HiveRule::BaseSignature, [](std::string& h, const Spots&) { h[0] = 'R'; }},
    {"ShortFile", HiveRule::BaseSignature, [](std::string& h, const Spots&) { h.resize(4000); }},
    {"Format1_7", HiveRule::BaseVersion, [](std::string& h, const Spots&) { base(h, 24, 7); }},
    {"Format2", HiveRule::BaseVersion, [](std::string& h, const Spots&) { base(h, 20, 2); }},
    {"ALogFile", HiveRule::BaseVersion, [](std::string& h, const Spots&) { base(h, 28, 1); }},
    {"Dirty", HiveRule::BaseSequence, [](std::string& h, const Spots&) { base(h, 8, le32(h, 4) + 1); }},
    {"Checksum", HiveRule::BaseChecksum, [](std::string& h, const Spots&) { h[100] ^= 1; }},
    {"BinsNotPages", HiveRule::BinsSize, [](std::string& h, const Spots&) { base(h, 40, le32(h, 40) - 8); }},
    {"BinsShortOfTheLast", HiveRule::BinsSize, [](std::string& h, const Spots&) { base(h, 40, le32(h, 40) - 4096); }},
    {"BytesAfterTheBins", HiveRule::FileSize, [](std::string& h, const Spots&) { h.append(4096, '\0'); }},
    {"FileEndsInTheBins", HiveRule::FileSize, [](std::string& h, const Spots&) { h.resize(h.size() - 4096); }},
    {"RootIsAValue", HiveRule::RootCell, [](std::string& h, const Spots& s) { base(h, 36, static_cast<std::uint32_t>(s.userName - Bins)); }},
    {"RootNotTheEntry", HiveRule::RootCell, [](std::string& h, const Spots& s) { set16(h, payload(s.root) + 2, 0x20); }},
    {"RootInsideACell", HiveRule::RootCell, [](std::string& h, const Spots&) { base(h, 36, le32(h, 36) + 8); }},
    {"BinSignature", HiveRule::BinSignature, [](std::string& h, const Spots& s) { h[s.lastBin + 3] = 'x'; }},
    {"BinOffset", HiveRule::BinOffset, [](std::string& h, const Spots& s) { set32(h, s.lastBin + 4, 0); }},
    {"BinBeyondTheBins", HiveRule::BinsSize, [](std::string& h, const Spots&) { set32(h, Bins + 8, 4096 * 1000); }},
    {"BinNotPages", HiveRule::BinSize, [](std::string& h, const Spots&) { set32(h, Bins + 8, 4096 + 8); }},
    {"BinsBeyondTwoGiB", HiveRule::BeyondTwoGiB, [](std::string& h, const Spots&) { base(h, 40, 0x80001000); }},
    {"CellOfTwelve", HiveRule::CellSize, [](std::string& h, const Spots& s) { set32(h, s.lastCellOfFirstBin, 12); }},
    {"CellOfZero", HiveRule::CellSize, [](std::string& h, const Spots& s) { set32(h, s.lastCellOfFirstBin, 0); }},
    {"CellPastTheBin", HiveRule::CellCrossesBin, [](std::string& h, const Spots& s) {
         const auto size = static_cast<std::int32_t>(le32(h, s.lastCellOfFirstBin));
         set32(h, s.lastCellOfFirstBin, static_cast<std::uint32_t>(size < 0 ? size - 8 : size + 8)); }},
    {"DataInsideACell", HiveRule::BadReference, [](std::string& h, const Spots& s) {
         set32(h, payload(s.userName) + 8, le32(h, payload(s.userName) + 8) + 8); }},
    {"DataOutsideTheBins", HiveRule::BadReference, [](std::string& h, const Spots& s) {
         set32(h, payload(s.userName) + 8, 0x7FFFFFF8); }},
    {"DataFree", HiveRule::FreeReference, [](std::string& h, const Spots& s) {
         set32(h, s.userData, static_cast<std::uint32_t>(-static_cast<std::int32_t>(le32(h, s.userData)))); }},
    {"ValueIsAKey", HiveRule::WrongKind, [](std::string& h, const Spots& s) {
         set32(h, payload(s.valueList), static_cast<std::uint32_t>(s.parent - Bins)); }},
    {"SubkeyListOfNoKind", HiveRule::WrongKind, [](std::string& h, const Spots& s) { h[payload(s.parentList) + 1] = 'x'; }},
    {"KeyNameLongerThanItsCell", HiveRule::CellTooSmall, [](std::string& h, const Spots& s) {
         set16(h, payload(s.winlogon) + 0x48, 0x4000); }},
    {"ValueListShort", HiveRule::CellTooSmall, [](std::string& h, const Spots& s) { set32(h, payload(s.winlogon) + 0x24, 1000); }},
    {"DataOfAnother", HiveRule::SharedCell, [](std::string& h, const Spots& s) {
         set32(h, payload(s.userName) + 8, static_cast<std::uint32_t>(s.bigData - Bins)); }},
    {"ValueListedTwice", HiveRule::SharedCell, [](std::string& h, const Spots& s) {
         set32(h, payload(s.valueList) + 4, le32(h, payload(s.valueList))); }},
    {"ValueForgotten", HiveRule::LeakedCell, [](std::string& h, const Spots& s) { set32(h, payload(s.winlogon) + 0x24, 2); }},
    {"KeyParent", HiveRule::KeyParent, [](std::string& h, const Spots& s) {
         set32(h, payload(s.winlogon) + 0x10, static_cast<std::uint32_t>(s.root - Bins)); }},
    {"KeyWithoutName", HiveRule::KeyName, [](std::string& h, const Spots& s) { set16(h, payload(s.winlogon) + 0x48, 0); }},
    {"KeyNameOddUtf16", HiveRule::KeyName, [](std::string& h, const Spots& s) {
         set16(h, payload(s.winlogon) + 2, static_cast<std::uint16_t>(le32(h, payload(s.winlogon) + 2) & ~0x20));
         set16(h, payload(s.winlogon) + 0x48, 7); }},
    {"SubkeyCountHigh", HiveRule::SubkeyCount, [](std::string& h, const Spots& s) { set32(h, payload(s.parent) + 0x14, 4); }},
    {"SubkeyListWithoutSubkeys", HiveRule::SubkeyCount, [](std::string& h, const Spots& s) {
         set32(h, payload(s.parent) + 0x14, 0); }},
    {"SubkeysOutOfOrder", HiveRule::SubkeyOrder, [](std::string& h, const Spots& s) {
         const std::size_t first = payload(s.parentList) + 4;
         const std::string a = h.substr(first, 8);
         h.replace(first, 8, h.substr(first + 8, 8));
         h.replace(first + 8, 8, a); }},
    {"SubkeyTwice", HiveRule::SubkeyOrder, [](std::string& h, const Spots& s) {
         // Alpha renamed BETA, its hash with it: two keys named Beta.
         const std::size_t alpha = Bins + le32(h, payload(s.parentList) + 4);
         h.replace(payload(alpha) + 0x4C, 4, "BETA");
         set16(h, payload(alpha) + 0x48, 4);
         set32(h, payload(s.parentList) + 8, le32(h, payload(s.parentList) + 16)); }},
    {"SubkeyHash", HiveRule::SubkeyHash, [](std::string& h, const Spots& s) {
         set32(h, payload(s.parentList) + 8, le32(h, payload(s.parentList) + 8) + 1); }},
    {"ValueListWithoutValues", HiveRule::ValueCount, [](std::string& h, const Spots& s) {
         set32(h, payload(s.winlogon) + 0x24, 0); }},
    {"ValueNameTwice", HiveRule::ValueName, [](std::string& h, const Spots& s) {
         h.replace(payload(s.userName) + 0x14, 14, "autoadminLOGON");
         set16(h, payload(s.userName) + 2, 14); }},
    {"ValueNameOddUtf16", HiveRule::ValueName, [](std::string& h, const Spots& s) {
         set16(h, payload(s.userName) + 0x10, 0); }},
    {"LongestDataLow", HiveRule::MaxFields, [](std::string& h, const Spots& s) { set32(h, payload(s.winlogon) + 0x40, 39999); }},
    {"LongestValueNameLow", HiveRule::MaxFields, [](std::string& h, const Spots& s) { set32(h, payload(s.winlogon) + 0x3C, 29); }},
    {"LongestSubkeyNameLow", HiveRule::MaxFields, [](std::string& h, const Spots& s) { set32(h, payload(s.parent) + 0x34, 9); }},
    {"InlineFiveBytes", HiveRule::DataSize, [](std::string& h, const Spots& s) { set32(h, payload(s.autoLogon) + 4, 0x80000005); }},
    {"DataLongerThanItsCell", HiveRule::DataSize, [](std::string& h, const Spots& s) { set32(h, payload(s.userName) + 4, 4000); }},
    {"SegmentShort", HiveRule::DataSize, [](std::string& h, const Spots& s) {
         // The first segment split into 16 bytes and a free cell.
         const std::size_t first = Bins + le32(h, payload(s.segments));
         const auto size = static_cast<std::uint32_t>(-static_cast<std::int32_t>(le32(h, first)));
         set32(h, first, static_cast<std::uint32_t>(-16));
         set32(h, first + 16, size - 16); }},
    {"TooFewSegments", HiveRule::BigData, [](std::string& h, const Spots& s) { set16(h, payload(s.bigData) + 2, 2); }},
    {"BigDataInOneCell", HiveRule::BigData, [](std::string& h, const Spots& s) { h[payload(s.bigData)] = 'x'; }},
    {"SecurityBackLink", HiveRule::SecurityList, [](std::string& h, const Spots& s) { set32(h, payload(s.security) + 8, 0x20); }},
    {"SecurityCount", HiveRule::SecurityCount, [](std::string& h, const Spots& s) {
         set32(h, payload(s.security) + 0x0C, le32(h, payload(s.security) + 0x0C) + 1); }},
};

class BrokenRule : public Sound, public testing::WithParamInterface<Breach> {};

TEST_P(BrokenRule, IsFound) {
    std::string h = hive;
    GetParam().apply(h, spots);
    const auto check = testsupport::checkHive(h);
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
    for (std::size_t at = 0; at < hive.size(); at += 7) {
        std::string h = hive;
        h[at] = static_cast<char>(h[at] ^ 0xA5);
        testsupport::checkHive(h);
    }
    SUCCEED();
}

// --- judged against its source ---------------------------------------------------------------

TEST_F(Sound, ACommitIsJudgedByWhatItsSourceAlreadyHad) {
    std::string leaky = hive;
    set32(leaky, payload(spots.winlogon) + 0x24, 2); // Big forgotten: its cells leak
    const auto source = testsupport::checkHive(leaky);
    // The value, its big-data cell, the list of segments and three segments.
    ASSERT_EQ(source.findings.size(), 6u) << testsupport::describe(source.findings);
    EXPECT_FALSE(source.damaged());
    EXPECT_TRUE(testsupport::commitFaults(source, testsupport::checkHive(leaky)).empty());

    // Another value forgotten: its cell and its data's are the commit's fault.
    std::string worse = leaky;
    set32(worse, payload(spots.winlogon) + 0x24, 1);
    const auto more = testsupport::commitFaults(source, testsupport::checkHive(worse));
    ASSERT_EQ(more.size(), 2u) << testsupport::describe(more);
    EXPECT_EQ(more[0].rule, HiveRule::LeakedCell);
    EXPECT_EQ(more[0].cell, spots.userName - Bins);

    // From a damaged source, cells left allocated are not; anything else is.
    std::string damaged = hive;
    set32(damaged, payload(spots.userName) + 4, 4000);
    const auto damagedSource = testsupport::checkHive(damaged);
    ASSERT_TRUE(damagedSource.damaged());
    EXPECT_TRUE(testsupport::commitFaults(damagedSource, testsupport::checkHive(worse)).empty());
    std::string freed = worse;
    set32(freed, spots.userData, static_cast<std::uint32_t>(-static_cast<std::int32_t>(le32(freed, spots.userData))));
    set32(freed, payload(spots.winlogon) + 0x24, 2);
    const auto faults = testsupport::commitFaults(damagedSource, testsupport::checkHive(freed));
    ASSERT_EQ(faults.size(), 1u) << testsupport::describe(faults);
    EXPECT_EQ(faults[0].rule, HiveRule::FreeReference);
}

TEST_F(Sound, WhatACommitGaveUpIsNotLeftInFreeSpace) {
    std::string freed = hive; // DefaultUserName's data freed as it was, then wiped
    const std::uint32_t size = 0u - le32(hive, spots.userData);
    set32(freed, spots.userData, size);
    const auto left = testsupport::leftovers(hive, freed);
    ASSERT_EQ(left.size(), 1u) << testsupport::describe(left);
    EXPECT_EQ(left[0].rule, HiveRule::LeftOver);
    EXPECT_EQ(left[0].cell, spots.userData - Bins);
    freed.replace(spots.userData + 4, size - 4, size - 4, '\0');
    EXPECT_TRUE(testsupport::leftovers(hive, freed).empty());
    EXPECT_TRUE(testsupport::leftovers(hive, hive).empty());
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

class RealHives : public testing::TestWithParam<RealHive> {};

TEST_P(RealHives, PassButForWhatWindowsDoes) {
    const char* configured = std::getenv("VANTORIO_REAL_HIVES");
    const std::string folder = configured ? configured : VANTORIO_REAL_HIVES;
    const std::string packed = folder + "/" + GetParam().file + ".xz";
    if (!std::filesystem::exists(packed)) GTEST_SKIP() << "no hives of Windows at " << folder;
    testsupport::TempDir dir;
    const std::string file = dir.file(GetParam().file);
    ASSERT_EQ(std::system(("xz -dc '" + packed + "' > '" + file + "'").c_str()), 0);

    const auto check = testsupport::checkHiveFile(file);
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

class Guard : public testing::Test {
protected:
    testsupport::TempDir dir;
    std::string file = dir.file("SOFTWARE");
    std::optional<testsupport::ScopedHive> scope;

    void SetUp() override {
        testsupport::makeHive(file, {textValue("AutoAdminLogon", u"0")});
        scope.emplace(file);
    }
    platform::Key openAndSet() {
        platform::Key key = 0;
        EXPECT_EQ(platform::RegOpenKeyExA(platform::LocalMachine, testsupport::WinlogonKey, 0, platform::KeyAllAccess, &key), 0);
        const std::string one = "1\0"s;
        EXPECT_EQ(platform::RegSetValueExA(key, "AutoAdminLogon", 0, platform::RegSz,
                                           reinterpret_cast<const std::uint8_t*>(one.data()), 2), 0);
        return key;
    }
};

TEST_F(Guard, ChecksEveryCommit) {
    const std::size_t before = testsupport::guardedCommits();
    for (int i = 0; i < 3; ++i) EXPECT_EQ(platform::RegCloseKey(openAndSet()), 0);
    EXPECT_EQ(testsupport::guardedCommits(), before + 3);
    // A close without a change writes nothing, and nothing is checked.
    platform::Key key = 0;
    ASSERT_EQ(platform::RegOpenKeyExA(platform::LocalMachine, testsupport::WinlogonKey, 0, platform::KeyRead, &key), 0);
    EXPECT_EQ(platform::RegCloseKey(key), 0);
    EXPECT_EQ(testsupport::guardedCommits(), before + 3);
}

TEST_F(Guard, FailsTheTestForAFaultTheCommitAdded) {
    platform::hive::CommitObserver& guard = testsupport::commitGuard();
    guard.replacing(file);
    // Another file takes the hive's place, as a commit's would, with a value nothing refers to.
    std::string h = testsupport::fileBytes(file);
    std::unique_ptr<hive_h, decltype(&hivex_close)> hx(hivex_open(file.c_str(), 0), &hivex_close);
    hive_node_h node = hivex_root(hx.get());
    for (const char* part : {"Microsoft", "Windows NT", "CurrentVersion", "Winlogon"})
        node = hivex_node_get_child(hx.get(), node, part);
    set32(h, node + 4 + 0x24, 0);
    set32(h, node + 4 + 0x28, 0xFFFFFFFF);
    testsupport::writeFile(file, h);
    EXPECT_NONFATAL_FAILURE(guard.replaced(file), "LeakedCell");
}

} // namespace
