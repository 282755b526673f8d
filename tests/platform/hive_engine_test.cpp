// The hive engine against libhivex, the independent reader: what its commits leave in the file
// (after many of them, every other byte where it was), values of every size and names of both
// kinds, subkey lists of every kind, and damaged files, which give a registry-corrupt code and
// never a crash or a read out of bounds.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "child_process.h"
#include "hive_fixture.h"
#include "value_query.h"
#include "platform/hive/format.h"
#include "platform/registry.h"
#include "platform/bytes.h"

namespace {

using namespace platform;
using namespace std::string_literals;
using testsupport::cellOffset;
using testsupport::fileOffset;
using testsupport::HiveImage;
using testsupport::HiveValue;
using testsupport::keyCellOf;
using testsupport::textValue;
using testsupport::utf16le;
using testsupport::valueCellOf;
using namespace testsupport::fields;

const std::uint8_t* bytes(const std::string& s) { return reinterpret_cast<const std::uint8_t*>(s.data()); }

using testsupport::queryWhole;
using testsupport::Read;

class EngineTest : public testing::Test, protected testsupport::HiveFile {
protected:
    Key open(const char* path = testsupport::WinlogonKey, std::uint32_t access = KeyAllAccess) {
        Key key = 0;
        EXPECT_EQ(RegOpenKeyExA(LocalMachine, path, 0, access, &key), status::Success) << path;
        return key;
    }
};

std::string pattern(std::size_t n, unsigned seed) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 131 + seed * 7 + i / 251) & 0xFF);
    return s;
}

// Data that begins as a cell of the hive's own does, with `signature`, in `size` bytes; at the
// start of each big-data segment again, followed by words found nowhere else.
HiveValue beginning(const char* signature, std::size_t size = 24) {
    std::string data(size, '.');
    for (std::size_t at = 0; at < size; at += hive::BigDataSegment) {
        const std::string head = signature + (" old data at " + std::to_string(at));
        data.replace(at, head.size(), head);
    }
    return {std::string("Begins") + signature, RegBinary, data};
}

// --- values of every size, on hives of both formats -------------------------------------------

class ValueSizes : public EngineTest, public testing::WithParamInterface<std::uint32_t> {};

TEST_P(ValueSizes, ReadBackIdenticallyThroughLibhivex) {
    const std::uint32_t minor = GetParam();
    make({{testsupport::WinlogonInHive, {textValue("Kept", u"as it was")}}}, minor);
    const std::vector<HiveValue> written = {
        {"Empty", RegBinary, ""},
        {"OneByte", RegBinary, "\x7F"},
        {"FourBytes", RegDword, "\x01\x02\x03\x04"},
        {"FiveBytes", RegBinary, "\x01\x02\x03\x04\x05"},
        {"OneSegment", RegBinary, pattern(hive::BigDataSegment, 1)},
        {"OneSegmentAndAByte", RegBinary, pattern(hive::BigDataSegment + 1, 2)},
        {"ManySegments", 0x1234, pattern(100000, 3)},
        beginning("nk"), beginning("vk"), beginning("sk"), beginning("lf"), beginning("lh"), beginning("li"),
        beginning("ri"), beginning("db", 40000),
    };
    Key key = open();
    for (const HiveValue& v : written)
        EXPECT_EQ(RegSetValueExA(key, v.name.c_str(), 0, v.type, bytes(v.bytes), static_cast<std::uint32_t>(v.bytes.size())),
                  status::Success);
    EXPECT_EQ(RegCloseKey(key), status::Success);

    std::vector<HiveValue> expected = {textValue("Kept", u"as it was")};
    expected.insert(expected.end(), written.begin(), written.end());
    EXPECT_EQ(testsupport::readValues(file), expected);

    // Big data is split into segments from format 1.4 on; before, it stays in one cell.
    HiveImage h = image();
    const HiveImage::Cell many = h.cell(valueCellOf(file, testsupport::WinlogonInHive, "ManySegments"));
    EXPECT_EQ(many.ref(vk::DataOffset).get(db::Signature, 2) == "db", minor >= 4);
    // Up to four bytes live in the value cell itself.
    const HiveImage::Cell small = h.cell(valueCellOf(file, testsupport::WinlogonInHive, "FourBytes"));
    EXPECT_EQ(small.field(vk::DataSize), vk::InlineData | 4);
    EXPECT_EQ(small.get(vk::DataOffset, 4), "\x01\x02\x03\x04");

    // And the engine reads what it wrote, in a fresh session.
    key = open(testsupport::WinlogonKey, KeyRead);
    for (const HiveValue& v : written) {
        const Read r = queryWhole(key, v.name.c_str());
        EXPECT_EQ(r.code, status::Success) << v.name;
        EXPECT_EQ(r.type, v.type) << v.name;
        EXPECT_EQ(r.data, v.bytes) << v.name;
    }
    EXPECT_EQ(RegCloseKey(key), status::Success);

    // Whatever its data begins with, a value changed gives its old data up: none of it is left.
    key = open();
    for (const HiveValue& v : written)
        if (v.name.starts_with("Begins")) {
            EXPECT_EQ(RegSetValueExA(key, v.name.c_str(), 0, RegBinary, bytes("new"), 3), status::Success);
        }
    EXPECT_EQ(RegCloseKey(key), status::Success);
    const std::string after = contents();
    for (const HiveValue& v : written)
        for (std::size_t at = 0; v.name.starts_with("Begins") && at < v.bytes.size(); at += hive::BigDataSegment)
            EXPECT_EQ(after.find(v.bytes.substr(at, 24)), std::string::npos) << v.name << " at " << at;
}

INSTANTIATE_TEST_SUITE_P(Engine, ValueSizes, testing::Values(3u, 5u),
                         [](const auto& info) { return "Format1_" + std::to_string(info.param); });

// --- many commits ---------------------------------------------------------------------------

// The cells of the hive bins of an image: offset -> size field.
std::map<std::uint32_t, std::int32_t> cellsOf(HiveImage& h) {
    std::map<std::uint32_t, std::int32_t> cells;
    for (const std::size_t bin : h.bins())
        for (const std::size_t at : h.cells(bin)) cells[cellOffset(at)] = h.cell(at).size();
    return cells;
}

TEST_F(EngineTest, TwoHundredCommitsLeaveEverythingElseWhereItWas) {
    const std::vector<HiveValue> fonts = {{"Big", RegBinary, pattern(20000, 9)}, textValue("Text", u"表示")};
    make({{testsupport::WinlogonInHive, {textValue("AutoAdminLogon", u"0"), textValue("DefaultUserName", u"x")}},
          {"Microsoft\\Windows NT\\CurrentVersion\\Fonts", fonts},
          {"Classes", {textValue("", u"root default")}}});
    HiveImage original = image();
    const std::size_t winlogon = keyCellOf(file, testsupport::WinlogonInHive);
    const std::size_t autoLogon = valueCellOf(file, testsupport::WinlogonInHive, "AutoAdminLogon");

    std::vector<HiveValue> model = {textValue("AutoAdminLogon", u"0"), textValue("DefaultUserName", u"x")};
    auto put = [&](const HiveValue& v) {
        for (HiveValue& m : model)
            if (m.name == v.name) {
                m.type = v.type;
                m.bytes = v.bytes;
                return;
            }
        model.push_back(v);
    };
    for (int round = 0; round < 200; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        const Key key = open();
        const std::string counter = bytes32(static_cast<std::uint32_t>(round));
        ASSERT_EQ(RegSetValueExA(key, "Counter", 0, RegDword, bytes(counter), 4), status::Success);
        put({"Counter", RegDword, counter});
        const std::string text = pattern(static_cast<std::size_t>(round * 37 % 3000), round);
        ASSERT_EQ(RegSetValueExA(key, "Blob", 0, RegBinary, bytes(text), static_cast<std::uint32_t>(text.size())), 0);
        put({"Blob", RegBinary, text});
        if (round % 3 == 0) {
            ASSERT_EQ(RegDeleteValueA(key, "blob"), status::Success);
            std::erase_if(model, [](const HiveValue& v) { return v.name == "Blob"; });
        }
        if (round % 7 == 0) {
            const std::string big = pattern(20000 + static_cast<std::size_t>(round), round);
            ASSERT_EQ(RegSetValueExA(key, "Big", 0, RegBinary, bytes(big), static_cast<std::uint32_t>(big.size())), 0);
            put({"Big", RegBinary, big});
        }
        if (round == 100) {
            ASSERT_EQ(RegDeleteValueA(key, "AutoAdminLogon"), status::Success);
            std::erase_if(model, [](const HiveValue& v) { return v.name == "AutoAdminLogon"; });
        }
        ASSERT_EQ(RegCloseKey(key), status::Success);
        if (round % 50 == 49) {
            ASSERT_EQ(testsupport::readValues(file), model);
        }
    }

    EXPECT_EQ(testsupport::readValues(file), model);
    EXPECT_EQ(testsupport::readValues(file, "Microsoft\\Windows NT\\CurrentVersion\\Fonts"), fonts);
    EXPECT_EQ(testsupport::readValues(file, "Classes"), (std::vector<HiveValue>{textValue("", u"root default")}));
    EXPECT_EQ(platformtest::launch({"hivexsh", {file}, {}, false, false,
                                    "cd Microsoft\\Windows NT\\CurrentVersion\\Winlogon\nlsval\n"}).status, 0);

    // The bins still follow one another to the end of the file, and every commit completed.
    const HiveImage now = image();
    const std::uint32_t oldBins = original.base(regf::BinsSize);
    ASSERT_EQ(now.bytes().size(), fileOffset(now.base(regf::BinsSize)));
    for (std::uint32_t bin = 0; bin < now.base(regf::BinsSize); bin += now.u32(fileOffset(bin) + hbin::Size)) {
        ASSERT_EQ(now.get(fileOffset(bin) + hbin::Signature, 4), "hbin");
        ASSERT_EQ(now.u32(fileOffset(bin) + hbin::Offset), bin);
    }
    EXPECT_EQ(now.base(regf::Sequence1), now.base(regf::Sequence2)) << "a write that did not complete";
    EXPECT_EQ(now.base(regf::Sequence1), original.base(regf::Sequence1) + 200);

    // In the old bins, only the Winlogon key's value fields changed, and cells that were free
    // or that the key gave up: its first value list and the value deleted in round 100.
    const auto cells = cellsOf(original);
    const HiveImage::Cell keyCell = original.cell(winlogon);
    const std::uint32_t firstList = keyCell.field(nk::ValueList);
    std::set<std::uint32_t> givenUp = {firstList, cellOffset(autoLogon)};
    for (const auto& [at, size] : cells)
        if (size > 0) givenUp.insert(at);
    const std::size_t fieldsFrom = keyCell.payload() + nk::Written, fieldsTo = keyCell.payload() + nk::WorkVar;
    for (std::size_t at = fileOffset(0); at < fileOffset(oldBins); ++at) {
        if (now.bytes()[at] == original.bytes()[at] || (at >= fieldsFrom && at < fieldsTo)) continue;
        const auto start = std::prev(cells.upper_bound(cellOffset(at)))->first;
        ASSERT_TRUE(givenUp.count(start)) << "a byte changed inside a cell in use at " << at;
    }
    // Those two were given up: what they held is gone, and the space went to new cells.
    EXPECT_NE(now.get(fileOffset(firstList), 8), original.get(fileOffset(firstList), 8));
    EXPECT_NE(now.get(autoLogon, 32), original.get(autoLogon, 32));
}

TEST_F(EngineTest, OneCommitWritesTheChangesOfEveryKeyOfTheFile) {
    const char* fonts = "Software\\Microsoft\\Windows NT\\CurrentVersion\\Fonts";
    make({{testsupport::WinlogonInHive, {textValue("AutoAdminLogon", u"0")}},
          {"Microsoft\\Windows NT\\CurrentVersion\\Fonts", {textValue("Text", u"old")}}});
    const Key winlogon = open();
    const Key other = open(fonts);
    const std::string one = "1\0"s;
    EXPECT_EQ(RegSetValueExA(other, "Text", 0, RegSz, bytes(one), 2), status::Success);
    EXPECT_EQ(RegCloseKey(other), status::Success);
    EXPECT_EQ(RegSetValueExA(winlogon, "AutoAdminLogon", 0, RegSz, bytes(one), 2), status::Success);
    EXPECT_EQ(RegDeleteValueA(winlogon, "AutoAdminLogon"), status::Success);
    EXPECT_EQ(RegSetValueExA(winlogon, "Later", 0, RegSz, bytes(one), 2), status::Success);
    // The other handle's change reaches the disk with this one's.
    const Key again = open(fonts);
    EXPECT_EQ(RegDeleteValueA(again, "Text"), status::Success);
    EXPECT_EQ(RegCloseKey(winlogon), status::Success);
    EXPECT_EQ(testsupport::readValues(file), (std::vector<HiveValue>{textValue("Later", u"1")}));
    EXPECT_EQ(testsupport::readValues(file, "Microsoft\\Windows NT\\CurrentVersion\\Fonts"), std::vector<HiveValue>{});
    EXPECT_EQ(RegCloseKey(again), status::Success);
}

TEST_F(EngineTest, ValueNamesLongerThanTheHiveKeepsAreRefused) {
    make(std::vector<testsupport::HiveKey>{{testsupport::WinlogonInHive, {}}});
    const Key key = open();
    const std::string one = "1\0"s;
    EXPECT_EQ(RegSetValueExA(key, std::string(16383, 'n').c_str(), 0, RegSz, bytes(one), 2), status::Success);
    EXPECT_EQ(RegSetValueExA(key, std::string(16384, 'n').c_str(), 0, RegSz, bytes(one), 2), status::InvalidParameter);
    EXPECT_EQ(RegCloseKey(key), status::Success);
    EXPECT_EQ(testsupport::readValues(file), (std::vector<HiveValue>{textValue(std::string(16383, 'n'), u"1")}));
}

// --- names ----------------------------------------------------------------------------------

TEST_F(EngineTest, CompressedAndUtf16Names) {
    make({{"Ｖａｎｔｏｒｉｏ\\ソフト", {textValue("既存の値", u"old"), textValue("Plain", u"p")}}});
    const char* key = "Software\\\x82\x75\x82\x60\x82\x6D\x82\x73\x82\x6E\x82\x71\x82\x68\x82\x6E\\\x83\x5C\x83\x74\x83\x67";
    Key k = open(key);
    EXPECT_EQ(queryWhole(k, "PLAIN").data, "p\0"s);
    EXPECT_EQ(queryWhole(k, "\x8A\xF9\x91\xB6\x82\xCC\x92\x6C").data, "old\0"s); // 既存の値
    const std::string value = "v\0"s;
    EXPECT_EQ(RegSetValueExA(k, "Ascii", 0, RegSz, bytes(value), 2), status::Success);
    EXPECT_EQ(RegSetValueExA(k, "\x93\xFA\x96\x7B", 0, RegSz, bytes(value), 2), status::Success); // 日本
    EXPECT_EQ(RegSetValueExA(k, "\xB1\xB2", 0, RegSz, bytes(value), 2), status::Success);         // ｱｲ
    EXPECT_EQ(RegCloseKey(k), status::Success);

    const auto values = testsupport::readValues(file, "Ｖａｎｔｏｒｉｏ\\ソフト");
    ASSERT_TRUE(values);
    std::vector<std::string> names;
    for (const HiveValue& v : *values) names.push_back(v.name);
    EXPECT_EQ(names, (std::vector<std::string>{"既存の値", "Plain", "Ascii", "日本", "ｱｲ"}));

    // One byte a character when every character fits one, else UTF-16.
    HiveImage h = image();
    struct Stored {
        const char* name;
        std::uint16_t length;
        bool compressed;
    };
    for (const Stored s : {Stored{"Ascii", 5, true}, Stored{"日本", 4, false}, Stored{"ｱｲ", 4, false}}) {
        const HiveImage::Cell value = h.cell(valueCellOf(file, "Ｖａｎｔｏｒｉｏ\\ソフト", s.name));
        EXPECT_EQ(value.field16(vk::NameLength), s.length) << s.name;
        EXPECT_EQ(value.field16(vk::Flags) & vk::CompressedName, s.compressed ? vk::CompressedName : 0) << s.name;
    }
    EXPECT_EQ(h.cell(valueCellOf(file, "Ｖａｎｔｏｒｉｏ\\ソフト", "日本")).get(vk::Name, 4), "\xE5\x65\x2C\x67");
}

// --- subkey lists of every kind -------------------------------------------------------------

// A subkey list of one kind, made by hand; "ri" is an index of an "li" and an "lh".
struct ListKind {
    const char* name;
    const char* signature;
};
void PrintTo(const ListKind& kind, std::ostream* os) { *os << kind.name; }

class SubkeyLists : public EngineTest, public testing::WithParamInterface<ListKind> {};

TEST_P(SubkeyLists, EveryKeyIsFoundAndKeptThroughACommit) {
    const std::vector<std::string> names = {"Alpha", "Beta", "Delta", "Gamma"};
    std::vector<testsupport::HiveKey> keys;
    for (const std::string& n : names) keys.push_back({"Parent\\" + n, {textValue("Name", std::u16string(n.begin(), n.end()))}});
    make(keys);

    // Replace Parent's list by one of the kind under test, made by hand.
    HiveImage h = image();
    std::vector<testsupport::ListEntry> entries;
    for (const std::string& n : names) entries.push_back({cellOffset(keyCellOf(file, "Parent\\" + n)), n});
    std::uint32_t top = 0;
    if (GetParam().signature == "ri"s) {
        const auto leaves = h.addBin({testsupport::subkeyList("li", {entries[0], entries[1]}),
                                      testsupport::subkeyList("lh", {entries[2], entries[3]})});
        top = h.addBin({testsupport::subkeyList("ri", {{leaves[0], ""}, {leaves[1], ""}})})[0];
    } else {
        top = h.addBin({testsupport::subkeyList(GetParam().signature, entries)})[0];
    }
    h.cell(keyCellOf(file, "Parent")).field(nk::SubkeyList, top);
    overwrite(h);

    for (const std::string& n : names) {
        const Key k = open(("Software\\parent\\" + n).c_str());
        EXPECT_EQ(queryWhole(k, "Name").data, n + '\0') << n;
        EXPECT_EQ(RegCloseKey(k), status::Success);
        EXPECT_EQ(testsupport::readValues(file, "Parent\\" + n),
                  (std::vector<HiveValue>{textValue("Name", std::u16string(n.begin(), n.end()))})) << n;
    }
    Key missing = 0;
    EXPECT_EQ(RegOpenKeyExA(LocalMachine, "Software\\Parent\\Epsilon", 0, KeyRead, &missing), status::FileNotFound);

    const Key k = open("Software\\Parent\\Delta");
    const std::string value = "new\0"s;
    EXPECT_EQ(RegSetValueExA(k, "Added", 0, RegSz, bytes(value), 4), status::Success);
    EXPECT_EQ(RegCloseKey(k), status::Success);
    EXPECT_EQ(testsupport::readValues(file, "Parent\\Delta"),
              (std::vector<HiveValue>{textValue("Name", u"Delta"), textValue("Added", u"new")}));
    EXPECT_EQ(testsupport::readValues(file, "Parent\\Alpha"), (std::vector<HiveValue>{textValue("Name", u"Alpha")}));
}

INSTANTIATE_TEST_SUITE_P(Engine, SubkeyLists,
                         testing::Values(ListKind{"Li", "li"}, ListKind{"Lf", "lf"}, ListKind{"Lh", "lh"},
                                         ListKind{"RiOfLiAndLh", "ri"}),
                         [](const auto& info) { return std::string(info.param.name); });

// --- damaged files --------------------------------------------------------------------------

// Where the damage goes: cells of a hive with the Winlogon key, a long value split into
// segments (format 1.5) and an ordinary one.
struct Spots {
    std::size_t currentVersion, winlogon, userName, big, autoLogon;
    std::size_t other, keep, gpExtensions; // Microsoft\Other with its value Keep, Winlogon\GPExtensions
};
constexpr const char* OtherKey = "Microsoft\\Other";
constexpr const char* GPExtensionsKey = "Microsoft\\Windows NT\\CurrentVersion\\Winlogon\\GPExtensions";

struct Damage {
    const char* name;
    std::function<void(HiveImage& h, const Spots& s)> apply;
    Status open;       // of the Winlogon key
    Status queryUser;  // DefaultUserName, when the open succeeds
    Status queryBig;   // Big, when the open succeeds
};
void PrintTo(const Damage& row, std::ostream* os) { *os << row.name; }

HiveImage::Cell subkeysOf(HiveImage& h, std::size_t key) { return h.cell(key).ref(nk::SubkeyList); }
HiveImage::Cell dataOf(HiveImage& h, std::size_t value) { return h.cell(value).ref(vk::DataOffset); }
HiveImage::Cell firstSegment(HiveImage& h, const Spots& s) { return dataOf(h, s.big).ref(db::SegmentList).ref(0); }

constexpr Status Ok = status::Success, Bad = status::BadDatabase, Corrupt = status::RegistryCorrupt;
constexpr std::size_t FirstBin = hive::BaseBlockSize;

const std::vector<Damage> Damages = {
    {"BaseSignature", [](HiveImage& h, const Spots&) { h.put(regf::Signature, "rEgf"); }, Bad, Ok, Ok},
    {"BaseChecksum", [](HiveImage& h, const Spots&) { h.put32(regf::Checksum, h.base(regf::Checksum) ^ 1); }, Bad, Ok, Ok},
    {"BinsBeyondTheFile", [](HiveImage& h, const Spots&) { h.base(regf::BinsSize, h.base(regf::BinsSize) + 4096); }, Bad, Ok, Ok},
    {"BinsNotWholePages", [](HiveImage& h, const Spots&) { h.base(regf::BinsSize, h.base(regf::BinsSize) - 8); }, Bad, Ok, Ok},
    {"BinsHuge", [](HiveImage& h, const Spots&) { h.base(regf::BinsSize, 0xFFFFF000); }, Bad, Ok, Ok},
    {"RootOutside", [](HiveImage& h, const Spots&) { h.base(regf::RootCell, h.base(regf::BinsSize)); }, Bad, Ok, Ok},
    {"RootUnaligned", [](HiveImage& h, const Spots&) { h.base(regf::RootCell, h.base(regf::RootCell) + 4); }, Bad, Ok, Ok},
    {"RootIsAValue", [](HiveImage& h, const Spots& s) { h.base(regf::RootCell, cellOffset(s.userName)); }, Bad, Ok, Ok},
    {"FirstBinSignature", [](HiveImage& h, const Spots&) { h.put(FirstBin + hbin::Signature, "hbix"); }, Bad, Ok, Ok},
    {"FirstBinOffset", [](HiveImage& h, const Spots&) { h.put32(FirstBin + hbin::Offset, 4096); }, Bad, Ok, Ok},
    {"FirstBinSizeHuge", [](HiveImage& h, const Spots&) { h.put32(FirstBin + hbin::Size, 0x7FFFF000); }, Bad, Ok, Ok},
    {"KeyCellFree", [](HiveImage& h, const Spots& s) { h.cell(s.winlogon).freed(); }, Corrupt, Ok, Ok},
    {"KeyCellHuge", [](HiveImage& h, const Spots& s) { h.cell(s.winlogon).size(-0x7FFFFFF8); }, Corrupt, Ok, Ok},
    {"KeyCellSizeMinimum", [](HiveImage& h, const Spots& s) { h.cell(s.winlogon).size(INT32_MIN); }, Corrupt, Ok, Ok},
    {"KeyCellTiny", [](HiveImage& h, const Spots& s) { h.cell(s.winlogon).size(-8); }, Corrupt, Ok, Ok},
    {"KeyNameLength", [](HiveImage& h, const Spots& s) { h.cell(s.winlogon).field16(nk::NameLength, 0xFFFF); }, Corrupt, Ok, Ok},
    {"SubkeyListOutside", [](HiveImage& h, const Spots& s) { h.cell(s.currentVersion).field(nk::SubkeyList, 0x7FFFFFF0); },
     Corrupt, Ok, Ok},
    {"SubkeyListInTheLastBytes", [](HiveImage& h, const Spots& s) {
         const std::uint32_t last = h.base(regf::BinsSize) - 8;
         h.cellAt(last).size(-8).put(list::Signature, "lh").field16(list::Count, 0xFFFF);
         h.cell(s.currentVersion).field(nk::SubkeyList, last); }, Corrupt, Ok, Ok},
    {"SubkeyCount", [](HiveImage& h, const Spots& s) { subkeysOf(h, s.currentVersion).field16(list::Count, 0xFFFF); },
     Corrupt, Ok, Ok},
    {"SubkeyEntryOutside", [](HiveImage& h, const Spots& s) {
         subkeysOf(h, s.currentVersion).field(list::Entries, 0x40000000); }, Corrupt, Ok, Ok},
    {"SubkeyListUnknown", [](HiveImage& h, const Spots& s) { subkeysOf(h, s.currentVersion).put(list::Signature + 1, "z"); },
     Corrupt, Ok, Ok},
    {"IndexOfItself", [](HiveImage& h, const Spots& s) {
         const std::uint32_t at = h.addBin({testsupport::subkeyList("ri", {{0, ""}})})[0];
         h.cellAt(at).field(list::Entries, at);
         h.cell(s.currentVersion).field(nk::SubkeyList, at);
     }, Corrupt, Ok, Ok},
    {"IndexOfAnIndex", [](HiveImage& h, const Spots& s) {
         const std::uint32_t inner = h.cell(s.currentVersion).field(nk::SubkeyList);
         const std::uint32_t first = h.addBin({testsupport::subkeyList("ri", {{inner, ""}})})[0];
         h.cell(s.currentVersion).field(nk::SubkeyList, h.addBin({testsupport::subkeyList("ri", {{first, ""}})})[0]);
     }, Corrupt, Ok, Ok},
    {"ValueListOutside", [](HiveImage& h, const Spots& s) { h.cell(s.winlogon).field(nk::ValueList, 0x7FFFFFF8); },
     Ok, Corrupt, Corrupt},
    {"ValueCount", [](HiveImage& h, const Spots& s) { h.cell(s.winlogon).field(nk::ValueCount, 0x40000000); }, Ok, Corrupt, Corrupt},
    {"ValueIsAKey", [](HiveImage& h, const Spots& s) {  // the first entry of the value list
         h.cell(s.winlogon).ref(nk::ValueList).field(0, cellOffset(s.winlogon)); }, Ok, Corrupt, Corrupt},
    {"ValueNameLength", [](HiveImage& h, const Spots& s) { h.cell(s.autoLogon).field16(vk::NameLength, 0x7FFF); },
     Ok, Corrupt, Corrupt},
    {"DataOutside", [](HiveImage& h, const Spots& s) { h.cell(s.userName).field(vk::DataOffset, 0x7FFFFFF8); }, Ok, Corrupt, Ok},
    {"DataFreeCell", [](HiveImage& h, const Spots& s) { dataOf(h, s.userName).freed(); }, Ok, Corrupt, Ok},
    {"DataLongerThanItsCell", [](HiveImage& h, const Spots& s) { h.cell(s.userName).field(vk::DataSize, 4000); }, Ok, Corrupt, Ok},
    {"DataSizeHuge", [](HiveImage& h, const Spots& s) { h.cell(s.userName).field(vk::DataSize, 0x7FFFFFFF); }, Ok, Corrupt, Ok},
    {"InlineDataOverFourBytes", [](HiveImage& h, const Spots& s) { h.cell(s.userName).field(vk::DataSize, vk::InlineData | 5); },
     Ok, Corrupt, Ok},
    {"TooFewSegments", [](HiveImage& h, const Spots& s) { dataOf(h, s.big).field16(db::SegmentCount, 1); }, Ok, Ok, Corrupt},
    {"SegmentListOutside", [](HiveImage& h, const Spots& s) { dataOf(h, s.big).field(db::SegmentList, 0x7FFFFFF8); },
     Ok, Ok, Corrupt},
    {"SegmentOutside", [](HiveImage& h, const Spots& s) {  // the second entry of the list of segments
         dataOf(h, s.big).ref(db::SegmentList).field(4, 0x7FFFFFF8); }, Ok, Ok, Corrupt},
    {"SegmentTooShort", [](HiveImage& h, const Spots& s) { firstSegment(h, s).size(-16); }, Ok, Ok, Corrupt},
};

// A format 1.5 hive with AutoAdminLogon, DefaultUserName and a long value in segments, in
// `h`, and where their cells are.
class SpottedHiveTest : public EngineTest {
protected:
    Spots makeSpottedHive(HiveImage& h) {
        make({{testsupport::WinlogonInHive, {textValue("AutoAdminLogon", u"1"), textValue("DefaultUserName", u"Administrator")}},
              {OtherKey, {textValue("Keep", u"precious")}},
              {GPExtensionsKey, {textValue("", u"extension")}}},
             5);
        const Key key = open();
        const std::string big = pattern(40000, 5);
        EXPECT_EQ(RegSetValueExA(key, "Big", 0, RegBinary, bytes(big), static_cast<std::uint32_t>(big.size())), 0);
        EXPECT_EQ(RegCloseKey(key), status::Success);
        h = image();
        const Spots spots{keyCellOf(file, "Microsoft\\Windows NT\\CurrentVersion"),
                          keyCellOf(file, testsupport::WinlogonInHive),
                          valueCellOf(file, testsupport::WinlogonInHive, "DefaultUserName"),
                          valueCellOf(file, testsupport::WinlogonInHive, "Big"),
                          valueCellOf(file, testsupport::WinlogonInHive, "AutoAdminLogon"),
                          keyCellOf(file, OtherKey),
                          valueCellOf(file, OtherKey, "Keep"),
                          keyCellOf(file, GPExtensionsKey)};
        EXPECT_EQ(h.cell(spots.winlogon).get(nk::Signature, 2), "nk");
        EXPECT_EQ(dataOf(h, spots.big).get(db::Signature, 2), "db");
        return spots;
    }
};

class DamagedHive : public SpottedHiveTest, public testing::WithParamInterface<Damage> {};

TEST_P(DamagedHive, GivesACorruptCodeAndIsNeverWritten) {
    HiveImage h;
    const Spots spots = makeSpottedHive(h);
    GetParam().apply(h, spots);
    overwrite(h);

    Key key = 0;
    ASSERT_EQ(RegOpenKeyExA(LocalMachine, testsupport::WinlogonKey, 0, KeyAllAccess, &key), GetParam().open);
    if (key == 0) return;
    EXPECT_EQ(queryWhole(key, "DefaultUserName").code, GetParam().queryUser);
    EXPECT_EQ(queryWhole(key, "Big").code, GetParam().queryBig);
    // A change either fails on the damage or is written beside it; the original stays as it was.
    const std::string value = "x\0"s;
    const Status set = RegSetValueExA(key, "DefaultPassword", 0, RegSz, bytes(value), 2);
    EXPECT_TRUE(set == status::Success || set == Corrupt) << set;
    const Status del = RegDeleteValueA(key, "DefaultUserName");
    EXPECT_TRUE(del == status::Success || del == Corrupt) << del;
    const Status closed = RegCloseKey(key);
    if (set != status::Success) {
        EXPECT_EQ(contents(), h.bytes());
    } else {
        // Some of the damage makes libhivex refuse the whole file: the engine reads it back.
        EXPECT_EQ(closed, status::Success);
        ASSERT_EQ(RegOpenKeyExA(LocalMachine, testsupport::WinlogonKey, 0, KeyRead, &key), status::Success);
        EXPECT_EQ(queryWhole(key, "DefaultPassword").data, "x\0"s);
        EXPECT_EQ(queryWhole(key, "DefaultUserName").code, del == status::Success ? status::FileNotFound : Corrupt);
        EXPECT_EQ(RegCloseKey(key), status::Success);
    }
}

INSTANTIATE_TEST_SUITE_P(Engine, DamagedHive, testing::ValuesIn(Damages),
                         [](const auto& info) { return std::string(info.param.name); });

// A damaged data pointer that leads to a cell something else still uses, anywhere in the hive:
// changing the value must leave that cell alone, whatever kind of cell it is. (libhivex reads
// such a hive; before, the commit gave the cell up, and wrote the new data into it.)
struct StrayPointer {
    const char* name;
    // The file offset the DefaultUserName's data is made to point at.
    std::function<std::size_t(HiveImage& h, const Spots& s)> target;
};
void PrintTo(const StrayPointer& row, std::ostream* os) { *os << row.name; }

const std::vector<StrayPointer> StrayPointers = {
    {"ItsOwnKey", [](HiveImage&, const Spots& s) { return s.winlogon; }},
    {"TheParentKey", [](HiveImage&, const Spots& s) { return s.currentVersion; }},
    {"TheParentsSubkeyList", [](HiveImage& h, const Spots& s) { return subkeysOf(h, s.currentVersion).at(); }},
    {"ItsSecurityCell", [](HiveImage& h, const Spots& s) { return h.cell(s.winlogon).ref(nk::Security).at(); }},
    {"AnotherValue", [](HiveImage&, const Spots& s) { return s.autoLogon; }},
    {"AnotherValuesData", [](HiveImage& h, const Spots& s) { return dataOf(h, s.big).at(); }},
    {"AnotherValuesSegment", [](HiveImage& h, const Spots& s) { return firstSegment(h, s).at(); }},
    // Inside a segment of the long value, where its bytes happen to read as an allocated cell.
    {"InsideAnotherCell", [](HiveImage& h, const Spots& s) {
         const std::size_t inside = firstSegment(h, s).at() + 64;
         h.cell(inside).size(-32);
         return inside; }},
    // Cells of keys that the change has nothing to do with.
    {"ASiblingKey", [](HiveImage&, const Spots& s) { return s.other; }},
    {"ItsOwnSubkey", [](HiveImage&, const Spots& s) { return s.gpExtensions; }},
    {"AValueOfAnotherKeysData", [](HiveImage& h, const Spots& s) { return dataOf(h, s.keep).at(); }},
};

class StrayDataPointer : public SpottedHiveTest, public testing::WithParamInterface<StrayPointer> {};

TEST_P(StrayDataPointer, ChangingTheValueLeavesWhatThePointerLeadsTo) {
    HiveImage h;
    const Spots spots = makeSpottedHive(h);
    const std::size_t target = GetParam().target(h, spots);
    overwrite(h);
    std::vector<std::optional<std::vector<HiveValue>>> before;
    for (const char* key : {testsupport::WinlogonInHive, OtherKey, GPExtensionsKey}) before.push_back(testsupport::readValues(file, key));
    ASSERT_TRUE(before[0] && before[1] && before[2]);
    h.cell(spots.userName).field(vk::DataOffset, cellOffset(target));
    h.cell(spots.userName).field(vk::DataSize, 8); // small enough for any cell it may lead to
    overwrite(h);

    const Key key = open();
    const std::string newName = utf16le(u"newname");
    ASSERT_EQ(RegSetValueExA(key, "DefaultUserName", 0, RegSz, bytes("newname\0"s), 8), status::Success);
    ASSERT_EQ(RegCloseKey(key), status::Success);

    // Every other value of every key as it was (the guard checks every key of the hive too).
    for (HiveValue& v : *before[0])
        if (v.name == "DefaultUserName") v.bytes = newName;
    EXPECT_EQ(testsupport::readValues(file), before[0]);
    EXPECT_EQ(testsupport::readValues(file, OtherKey), before[1]);
    EXPECT_EQ(testsupport::readValues(file, GPExtensionsKey), before[2]);
}

INSTANTIATE_TEST_SUITE_P(Engine, StrayDataPointer, testing::ValuesIn(StrayPointers),
                         [](const auto& info) { return std::string(info.param.name); });

// --- bins found by their chain of headers ----------------------------------------------------

// Value data on an inner page of a bin of two pages that reads as a bin header for that page:
// with a size of 0, or with a free cell behind it that the cells after it tile to the page's
// end. The password's cells lie on that page; changing it must give them up (wiped) and put the
// new one in free space of the real bin, and leave the data that looks like a bin as it is.
struct LookAlike {
    const char* name;
    std::uint32_t size;  // what the look-alike header says
    bool freeCellBehind;
};
void PrintTo(const LookAlike& row, std::ostream* os) { *os << row.name; }

class BinLookAlike : public EngineTest, public testing::WithParamInterface<LookAlike> {};

TEST_P(BinLookAlike, IsNeverTakenForABin) {
    constexpr std::size_t BlobSize = 4200;
    make({{testsupport::WinlogonInHive, {textValue("AutoAdminLogon", u"1"), textValue("DefaultUserName", u"Administrator")}},
          {OtherKey, {{"Blob", RegBinary, pattern(BlobSize, 3)}}}});
    HiveImage h = image();
    // A bin of two pages at the end: the blob's data first, so that the second page begins
    // inside it, then a new value list of Winlogon with the password, its value and its data.
    const std::uint32_t bin = h.base(regf::BinsSize);
    const std::uint32_t page = bin + hive::HiveBinSize;
    const std::uint32_t afterBlob = bin + hive::BinHeaderSize + ((cell::Payload + BlobSize + 7) / 8 * 8);
    const std::size_t intoBlob = page - (bin + hive::BinHeaderSize + cell::Payload);
    std::string blob = pattern(BlobSize, 3);
    const std::string header = testsupport::binHeader(page, GetParam().size);
    blob.replace(intoBlob, header.size(), header);
    if (GetParam().freeCellBehind)
        blob.replace(intoBlob + hive::BinHeaderSize, 4, std::string(bytes32(afterBlob - (page + hive::BinHeaderSize))));
    HiveImage::Cell winlogon = h.cell(keyCellOf(file, testsupport::WinlogonInHive));
    const std::uint32_t count = winlogon.field(nk::ValueCount);
    std::string list = winlogon.ref(nk::ValueList).get(0, 4 * count) + std::string(4, '\0');
    std::string vkCell(vk::Name, '\0');
    vkCell.replace(vk::Signature, 2, "vk");
    vkCell += "DefaultPassword";
    const std::string secret = utf16le(u"secret-of-old");
    const auto cells = h.addBin({blob, list, vkCell, secret});
    ASSERT_EQ(h.base(regf::BinsSize), bin + 2 * hive::HiveBinSize);
    ASSERT_EQ(cells[1], afterBlob);
    h.cellAt(cells[1]).field(4 * count, cells[2]);
    h.cellAt(cells[2]).field16(vk::NameLength, 15).field(vk::DataSize, static_cast<std::uint32_t>(secret.size()))
        .field(vk::DataOffset, cells[3]).field(vk::Type, RegSz).field16(vk::Flags, vk::CompressedName);
    winlogon.field(nk::ValueList, cells[1]).field(nk::ValueCount, count + 1);
    h.cell(valueCellOf(file, OtherKey, "Blob")).field(vk::DataOffset, cells[0]);
    overwrite(h);
    const auto blobBefore = testsupport::readValues(file, OtherKey);
    ASSERT_TRUE(blobBefore);
    ASSERT_EQ((*blobBefore)[0].bytes, blob);
    ASSERT_EQ(testsupport::readValue(file, "DefaultPassword"), textValue("DefaultPassword", u"secret-of-old"));

    const Key key = open();
    ASSERT_EQ(RegSetValueExA(key, "DefaultPassword", 0, RegSz, bytes("new\0"s), 4), status::Success);
    ASSERT_EQ(RegCloseKey(key), status::Success);

    EXPECT_EQ(testsupport::readValues(file, OtherKey), blobBefore);
    EXPECT_EQ(testsupport::readValue(file, "DefaultPassword"), textValue("DefaultPassword", u"new"));
    EXPECT_EQ(contents().find(secret), std::string::npos) << "the old password stayed in the file";
}

INSTANTIATE_TEST_SUITE_P(Engine, BinLookAlike,
                         testing::Values(LookAlike{"SizeZero", 0, false}, LookAlike{"FreeCellBehind", 4096, true}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
