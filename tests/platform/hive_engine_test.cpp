// The hive engine against libhivex, the independent reader: what its commits leave in the file
// (after many of them, every other byte where it was), values of every size and names of both
// kinds, subkey lists of every kind, and damaged files, which give a registry-corrupt code and
// never a crash or a read out of bounds.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <functional>
#include <hivex.h>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "hive_fixture.h"
#include "value_query.h"
#include "platform/hive/format.h"
#include "platform/registry.h"
#include "platform/bytes.h"

namespace {

using platform::le32;

using namespace platform;
using namespace std::string_literals;
using testsupport::HiveValue;
using testsupport::textValue;
using testsupport::utf16le;

constexpr std::size_t Bins = 4096; // where the hive bins start; cell offsets count from here

void set32(std::string& h, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) h.at(at + i) = static_cast<char>(v >> (8 * i));
}
void set16(std::string& h, std::size_t at, std::uint16_t v) {
    h.at(at) = static_cast<char>(v);
    h.at(at + 1) = static_cast<char>(v >> 8);
}
void fixChecksum(std::string& h) { set32(h, 508, hive::baseBlockChecksum(h)); }

// Cells of a hive image, found through libhivex (whose handles are file offsets).
struct Layout {
    std::string file;
    std::unique_ptr<hive_h, decltype(&hivex_close)> h{nullptr, &hivex_close};
    explicit Layout(const std::string& f) : file(f), h(hivex_open(f.c_str(), 0), &hivex_close) {
        if (!h) throw std::runtime_error("hivex cannot open " + f);
    }
    // The file offset of a key's cell.
    std::size_t key(std::string_view path) const {
        hive_node_h node = hivex_root(h.get());
        while (!path.empty() && node) {
            const auto slash = path.find('\\');
            node = hivex_node_get_child(h.get(), node, std::string(path.substr(0, slash)).c_str());
            path = slash == std::string_view::npos ? std::string_view() : path.substr(slash + 1);
        }
        if (!node) throw std::runtime_error("no such key");
        return node;
    }
    std::size_t value(std::string_view path, const char* name) const {
        const hive_value_h v = hivex_node_get_value(h.get(), key(path), name);
        if (!v) throw std::runtime_error("no such value");
        return v;
    }
};

// Appends a hive bin holding cells with these payloads; their cell offsets.
std::vector<std::uint32_t> appendBin(std::string& h, const std::vector<std::string>& payloads) {
    std::string bin(32, '\0');
    const std::uint32_t at = le32(h, 40);
    std::vector<std::uint32_t> offsets;
    for (const std::string& p : payloads) {
        const std::size_t size = (4 + p.size() + 7) / 8 * 8;
        offsets.push_back(static_cast<std::uint32_t>(at + bin.size()));
        std::string cell(size, '\0');
        set32(cell, 0, static_cast<std::uint32_t>(-static_cast<std::int32_t>(size)));
        cell.replace(4, p.size(), p);
        bin += cell;
    }
    const std::size_t total = (bin.size() + 4095) / 4096 * 4096;
    if (total > bin.size()) {
        std::string free(total - bin.size(), '\0');
        set32(free, 0, static_cast<std::uint32_t>(free.size()));
        bin += free;
    }
    bin.replace(0, 4, "hbin");
    set32(bin, 4, at);
    set32(bin, 8, static_cast<std::uint32_t>(total));
    h.resize(Bins + at);
    h += bin;
    set32(h, 40, static_cast<std::uint32_t>(at + total));
    fixChecksum(h);
    return offsets;
}

std::string u32(std::uint32_t v) {
    std::string s(4, '\0');
    set32(s, 0, v);
    return s;
}

const std::uint8_t* bytes(const std::string& s) { return reinterpret_cast<const std::uint8_t*>(s.data()); }

using testsupport::queryWhole;
using testsupport::Read;

class EngineTest : public testing::Test {
protected:
    testsupport::TempDir dir;
    std::string file = dir.file("SOFTWARE");
    std::optional<testsupport::ScopedHive> scope;

    void makeHive(const std::vector<testsupport::HiveKey>& keys, std::uint32_t minor = 3) {
        testsupport::makeHive(file, keys);
        if (minor != 3) {
            std::string h = testsupport::fileBytes(file);
            set32(h, 24, minor);
            fixChecksum(h);
            testsupport::writeFile(file, h);
        }
        scope.emplace(file);
    }
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

// Data that begins as a cell of the hive's own does, with `signature`, in `size` bytes; every
// 16344 bytes (the start of each big-data segment) again, followed by words found nowhere else.
HiveValue beginning(const char* signature, std::size_t size = 24) {
    std::string data(size, '.');
    for (std::size_t at = 0; at < size; at += 16344) {
        const std::string head = signature + (" old data at " + std::to_string(at));
        data.replace(at, head.size(), head);
    }
    return {std::string("Begins") + signature, RegBinary, data};
}

// --- values of every size, on hives of both formats -------------------------------------------

class ValueSizes : public EngineTest, public testing::WithParamInterface<std::uint32_t> {};

TEST_P(ValueSizes, ReadBackIdenticallyThroughLibhivex) {
    const std::uint32_t minor = GetParam();
    makeHive({{testsupport::WinlogonInHive, {textValue("Kept", u"as it was")}}}, minor);
    const std::vector<HiveValue> written = {
        {"Empty", RegBinary, ""},
        {"OneByte", RegBinary, "\x7F"},
        {"FourBytes", RegDword, "\x01\x02\x03\x04"},
        {"FiveBytes", RegBinary, "\x01\x02\x03\x04\x05"},
        {"OneSegment", RegBinary, pattern(16344, 1)},
        {"OneSegmentAndAByte", RegBinary, pattern(16345, 2)},
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
    const Layout layout(file);
    const std::string h = testsupport::fileBytes(file);
    const std::size_t vk = layout.value(testsupport::WinlogonInHive, "ManySegments") + 4;
    const std::size_t data = Bins + le32(h, vk + 8) + 4;
    EXPECT_EQ(h.substr(data, 2) == "db", minor >= 4);
    // Up to four bytes live in the value cell itself.
    const std::size_t small = layout.value(testsupport::WinlogonInHive, "FourBytes") + 4;
    EXPECT_EQ(le32(h, small + 4), 0x80000004u);
    EXPECT_EQ(h.substr(small + 8, 4), "\x01\x02\x03\x04");

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
    const std::string after = testsupport::fileBytes(file);
    for (const HiveValue& v : written)
        for (std::size_t at = 0; v.name.starts_with("Begins") && at < v.bytes.size(); at += 16344)
            EXPECT_EQ(after.find(v.bytes.substr(at, 24)), std::string::npos) << v.name << " at " << at;
}

INSTANTIATE_TEST_SUITE_P(Engine, ValueSizes, testing::Values(3u, 5u),
                         [](const auto& info) { return "Format1_" + std::to_string(info.param); });

// --- many commits ---------------------------------------------------------------------------

// The cells of the hive bins of an image: offset -> size field.
std::map<std::uint32_t, std::int32_t> cellsOf(const std::string& h, std::uint32_t binsSize) {
    std::map<std::uint32_t, std::int32_t> cells;
    for (std::uint32_t bin = 0; bin < binsSize;) {
        const std::uint32_t size = le32(h, Bins + bin + 8);
        for (std::uint32_t at = bin + 32; at < bin + size;) {
            const auto cell = static_cast<std::int32_t>(le32(h, Bins + at));
            cells[at] = cell;
            at += static_cast<std::uint32_t>(cell < 0 ? -cell : cell);
        }
        bin += size;
    }
    return cells;
}

TEST_F(EngineTest, TwoHundredCommitsLeaveEverythingElseWhereItWas) {
    const std::vector<HiveValue> fonts = {{"Big", RegBinary, pattern(20000, 9)}, textValue("Text", u"表示")};
    makeHive({{testsupport::WinlogonInHive, {textValue("AutoAdminLogon", u"0"), textValue("DefaultUserName", u"x")}},
              {"Microsoft\\Windows NT\\CurrentVersion\\Fonts", fonts},
              {"Classes", {textValue("", u"root default")}}});
    const std::string original = testsupport::fileBytes(file);
    const std::size_t winlogon = Layout(file).key(testsupport::WinlogonInHive);
    const std::size_t autoLogon = Layout(file).value(testsupport::WinlogonInHive, "AutoAdminLogon");

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
        const std::string counter = u32(static_cast<std::uint32_t>(round));
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
    const std::string script = dir.file("script");
    testsupport::writeFile(script, "cd Microsoft\\Windows NT\\CurrentVersion\\Winlogon\nlsval\n");
    EXPECT_EQ(std::system(("hivexsh '" + file + "' < '" + script + "' > /dev/null").c_str()), 0);

    // The bins still follow one another to the end of the file, and every commit completed.
    const std::string now = testsupport::fileBytes(file);
    const std::uint32_t oldBins = le32(original, 40);
    ASSERT_EQ(now.size(), Bins + le32(now, 40));
    for (std::uint32_t bin = 0; bin < le32(now, 40); bin += le32(now, Bins + bin + 8)) {
        ASSERT_EQ(now.substr(Bins + bin, 4), "hbin");
        ASSERT_EQ(le32(now, Bins + bin + 4), bin);
    }
    EXPECT_EQ(le32(now, 4), le32(now, 8)) << "a write that did not complete";
    EXPECT_EQ(le32(now, 4), le32(original, 4) + 200);

    // In the old bins, only the Winlogon key's value fields changed, and cells that were free
    // or that the key gave up: its first value list and the value deleted in round 100.
    const auto cells = cellsOf(original, oldBins);
    const std::uint32_t firstList = le32(original, winlogon + 4 + 0x28);
    std::set<std::uint32_t> givenUp = {firstList, static_cast<std::uint32_t>(autoLogon - Bins)};
    for (const auto& [at, size] : cells)
        if (size > 0) givenUp.insert(at);
    const std::size_t fieldsFrom = winlogon + 4 + 0x04, fieldsTo = winlogon + 4 + 0x44;
    for (std::size_t at = Bins; at < Bins + oldBins; ++at) {
        if (now[at] == original[at] || (at >= fieldsFrom && at < fieldsTo)) continue;
        const auto start = std::prev(cells.upper_bound(static_cast<std::uint32_t>(at - Bins)))->first;
        ASSERT_TRUE(givenUp.count(start)) << "a byte changed inside a cell in use at " << at;
    }
    // Those two were given up: what they held is gone, and the space went to new cells.
    EXPECT_NE(now.substr(Bins + firstList, 8), original.substr(Bins + firstList, 8));
    EXPECT_NE(now.substr(autoLogon, 32), original.substr(autoLogon, 32));
}

TEST_F(EngineTest, OneCommitWritesTheChangesOfEveryKeyOfTheFile) {
    const char* fonts = "Software\\Microsoft\\Windows NT\\CurrentVersion\\Fonts";
    makeHive({{testsupport::WinlogonInHive, {textValue("AutoAdminLogon", u"0")}},
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
    makeHive({{testsupport::WinlogonInHive, {}}});
    const Key key = open();
    const std::string one = "1\0"s;
    EXPECT_EQ(RegSetValueExA(key, std::string(16383, 'n').c_str(), 0, RegSz, bytes(one), 2), status::Success);
    EXPECT_EQ(RegSetValueExA(key, std::string(16384, 'n').c_str(), 0, RegSz, bytes(one), 2), status::InvalidParameter);
    EXPECT_EQ(RegCloseKey(key), status::Success);
    EXPECT_EQ(testsupport::readValues(file), (std::vector<HiveValue>{textValue(std::string(16383, 'n'), u"1")}));
}

// --- names ----------------------------------------------------------------------------------

TEST_F(EngineTest, CompressedAndUtf16Names) {
    makeHive({{"Ｖａｎｔｏｒｉｏ\\ソフト", {textValue("既存の値", u"old"), textValue("Plain", u"p")}}});
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
    const Layout layout(file);
    const std::string h = testsupport::fileBytes(file);
    struct Stored {
        const char* name;
        std::uint16_t length;
        bool compressed;
    };
    for (const Stored s : {Stored{"Ascii", 5, true}, Stored{"日本", 4, false}, Stored{"ｱｲ", 4, false}}) {
        const std::size_t vk = layout.value("Ｖａｎｔｏｒｉｏ\\ソフト", s.name) + 4;
        EXPECT_EQ(static_cast<unsigned char>(h[vk + 2]), s.length) << s.name;
        EXPECT_EQ(h[vk + 0x10] & 1, s.compressed ? 1 : 0) << s.name;
    }
    EXPECT_EQ(h.substr(layout.value("Ｖａｎｔｏｒｉｏ\\ソフト", "日本") + 4 + 0x14, 4), "\xE5\x65\x2C\x67");
}

// --- subkey lists of every kind -------------------------------------------------------------

enum class ListKind { Li, Lf, Lh, RiOfLiAndLh };

class SubkeyLists : public EngineTest, public testing::WithParamInterface<ListKind> {};

std::uint32_t nameHash(const std::string& name) {
    std::uint32_t hash = 0;
    for (char c : name) hash = hash * 37 + static_cast<unsigned char>(std::toupper(static_cast<unsigned char>(c)));
    return hash;
}

std::string list(const char* sig, const std::vector<std::pair<std::uint32_t, std::string>>& keys, ListKind kind) {
    std::string out(sig, 2);
    out += std::string(2, '\0');
    set16(out, 2, static_cast<std::uint16_t>(keys.size()));
    for (const auto& [cell, name] : keys) {
        out += u32(cell);
        if (kind == ListKind::Lf) out += (name + std::string(4, '\0')).substr(0, 4);
        if (kind == ListKind::Lh || (kind == ListKind::RiOfLiAndLh && sig[1] == 'h')) out += u32(nameHash(name));
    }
    return out;
}

TEST_P(SubkeyLists, EveryKeyIsFoundAndKeptThroughACommit) {
    const std::vector<std::string> names = {"Alpha", "Beta", "Delta", "Gamma"};
    std::vector<testsupport::HiveKey> keys;
    for (const std::string& n : names) keys.push_back({"Parent\\" + n, {textValue("Name", std::u16string(n.begin(), n.end()))}});
    makeHive(keys);

    // Replace Parent's list by one of the kind under test, made by hand.
    std::string h = testsupport::fileBytes(file);
    std::vector<std::pair<std::uint32_t, std::string>> cells;
    std::size_t parent = 0;
    {
        const Layout layout(file);
        parent = layout.key("Parent");
        for (const std::string& n : names)
            cells.emplace_back(static_cast<std::uint32_t>(layout.key("Parent\\" + n) - Bins), n);
    }
    std::uint32_t top = 0;
    switch (GetParam()) {
    case ListKind::Li: top = appendBin(h, {list("li", cells, ListKind::Li)})[0]; break;
    case ListKind::Lf: top = appendBin(h, {list("lf", cells, ListKind::Lf)})[0]; break;
    case ListKind::Lh: top = appendBin(h, {list("lh", cells, ListKind::Lh)})[0]; break;
    case ListKind::RiOfLiAndLh: {
        const auto leaves = appendBin(h, {list("li", {cells[0], cells[1]}, GetParam()),
                                          list("lh", {cells[2], cells[3]}, GetParam())});
        std::string ri = "ri" + std::string(2, '\0') + u32(leaves[0]) + u32(leaves[1]);
        set16(ri, 2, 2);
        top = appendBin(h, {ri})[0];
        break;
    }
    }
    set32(h, parent + 4 + 0x1C, top);
    testsupport::writeFile(file, h);

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

std::string listName(const testing::TestParamInfo<ListKind>& info) {
    constexpr const char* Names[] = {"Li", "Lf", "Lh", "RiOfLiAndLh"};
    return Names[static_cast<int>(info.param)];
}

INSTANTIATE_TEST_SUITE_P(Engine, SubkeyLists,
                         testing::Values(ListKind::Li, ListKind::Lf, ListKind::Lh, ListKind::RiOfLiAndLh), listName);

// --- damaged files --------------------------------------------------------------------------

// Where the damage goes: cells of a hive with the Winlogon key, a long value split into
// segments (format 1.5) and an ordinary one.
struct Spots {
    std::size_t currentVersion, winlogon, userName, big, autoLogon;
};

struct Damage {
    const char* name;
    std::function<void(std::string& h, const Spots& s)> apply;
    Status open;       // of the Winlogon key
    Status queryUser;  // DefaultUserName, when the open succeeds
    Status queryBig;   // Big, when the open succeeds
};

std::uint32_t cellOf(std::size_t fileOffset) { return static_cast<std::uint32_t>(fileOffset - Bins); }
std::size_t dataOf(const std::string& h, std::size_t vk) { return Bins + le32(h, vk + 4 + 8); }
std::size_t listOf(const std::string& h, std::size_t nk) { return Bins + le32(h, nk + 4 + 0x1C); }

void base(std::string& h, std::size_t at, std::uint32_t v) {
    set32(h, at, v);
    fixChecksum(h);
}

constexpr Status Ok = status::Success, Bad = status::BadDatabase, Corrupt = status::RegistryCorrupt;

const std::vector<Damage> Damages = {
    {"BaseSignature", [](std::string& h, const Spots&) { h[1] = 'E'; }, Bad, Ok, Ok},
    {"BaseChecksum", [](std::string& h, const Spots&) { h[100] ^= 1; }, Bad, Ok, Ok},
    {"BinsBeyondTheFile", [](std::string& h, const Spots&) { base(h, 40, le32(h, 40) + 4096); }, Bad, Ok, Ok},
    {"BinsNotWholePages", [](std::string& h, const Spots&) { base(h, 40, le32(h, 40) - 8); }, Bad, Ok, Ok},
    {"BinsHuge", [](std::string& h, const Spots&) { base(h, 40, 0xFFFFF000); }, Bad, Ok, Ok},
    {"RootOutside", [](std::string& h, const Spots&) { base(h, 36, le32(h, 40)); }, Bad, Ok, Ok},
    {"RootUnaligned", [](std::string& h, const Spots&) { base(h, 36, le32(h, 36) + 4); }, Bad, Ok, Ok},
    {"RootIsAValue", [](std::string& h, const Spots& s) { base(h, 36, cellOf(s.userName)); }, Bad, Ok, Ok},
    {"FirstBinSignature", [](std::string& h, const Spots&) { h[Bins + 3] = 'x'; }, Bad, Ok, Ok},
    {"FirstBinOffset", [](std::string& h, const Spots&) { set32(h, Bins + 4, 4096); }, Bad, Ok, Ok},
    {"FirstBinSizeHuge", [](std::string& h, const Spots&) { set32(h, Bins + 8, 0x7FFFF000); }, Bad, Ok, Ok},
    {"KeyCellFree", [](std::string& h, const Spots& s) { set32(h, s.winlogon, -le32(h, s.winlogon)); }, Corrupt, Ok, Ok},
    {"KeyCellHuge", [](std::string& h, const Spots& s) { set32(h, s.winlogon, 0x80000008); }, Corrupt, Ok, Ok},
    {"KeyCellSizeMinimum", [](std::string& h, const Spots& s) { set32(h, s.winlogon, 0x80000000); }, Corrupt, Ok, Ok},
    {"KeyCellTiny", [](std::string& h, const Spots& s) { set32(h, s.winlogon, static_cast<std::uint32_t>(-8)); }, Corrupt, Ok, Ok},
    {"KeyNameLength", [](std::string& h, const Spots& s) { set16(h, s.winlogon + 4 + 0x48, 0xFFFF); }, Corrupt, Ok, Ok},
    {"SubkeyListOutside", [](std::string& h, const Spots& s) { set32(h, s.currentVersion + 4 + 0x1C, 0x7FFFFFF0); },
     Corrupt, Ok, Ok},
    {"SubkeyListInTheLastBytes", [](std::string& h, const Spots& s) {
         const std::uint32_t last = le32(h, 40) - 8;
         set32(h, Bins + last, static_cast<std::uint32_t>(-8));
         h.replace(Bins + last + 4, 4, "lh\xFF\xFF");
         set32(h, s.currentVersion + 4 + 0x1C, last); }, Corrupt, Ok, Ok},
    {"SubkeyCount", [](std::string& h, const Spots& s) { set16(h, listOf(h, s.currentVersion) + 4 + 2, 0xFFFF); },
     Corrupt, Ok, Ok},
    {"SubkeyEntryOutside", [](std::string& h, const Spots& s) { set32(h, listOf(h, s.currentVersion) + 8, 0x40000000); },
     Corrupt, Ok, Ok},
    {"SubkeyListUnknown", [](std::string& h, const Spots& s) { h[listOf(h, s.currentVersion) + 5] = 'z'; },
     Corrupt, Ok, Ok},
    {"IndexOfItself", [](std::string& h, const Spots& s) {
         std::string ri = "ri" + std::string(2, '\0') + u32(0);
         set16(ri, 2, 1);
         const std::uint32_t at = appendBin(h, {ri})[0];
         set32(h, Bins + at + 4 + 4, at);
         set32(h, s.currentVersion + 4 + 0x1C, at);
     }, Corrupt, Ok, Ok},
    {"IndexOfAnIndex", [](std::string& h, const Spots& s) {
         std::string inner = "ri" + std::string(2, '\0') + u32(le32(h, s.currentVersion + 4 + 0x1C));
         set16(inner, 2, 1);
         const std::uint32_t first = appendBin(h, {inner})[0];
         std::string outer = "ri" + std::string(2, '\0') + u32(first);
         set16(outer, 2, 1);
         set32(h, s.currentVersion + 4 + 0x1C, appendBin(h, {outer})[0]);
     }, Corrupt, Ok, Ok},
    {"ValueListOutside", [](std::string& h, const Spots& s) { set32(h, s.winlogon + 4 + 0x28, 0x7FFFFFF8); },
     Ok, Corrupt, Corrupt},
    {"ValueCount", [](std::string& h, const Spots& s) { set32(h, s.winlogon + 4 + 0x24, 0x40000000); }, Ok, Corrupt, Corrupt},
    {"ValueIsAKey", [](std::string& h, const Spots& s) {
         set32(h, Bins + le32(h, s.winlogon + 4 + 0x28) + 4, cellOf(s.winlogon)); }, Ok, Corrupt, Corrupt},
    {"ValueNameLength", [](std::string& h, const Spots& s) { set16(h, s.autoLogon + 4 + 2, 0x7FFF); },
     Ok, Corrupt, Corrupt},
    {"DataOutside", [](std::string& h, const Spots& s) { set32(h, s.userName + 4 + 8, 0x7FFFFFF8); }, Ok, Corrupt, Ok},
    {"DataFreeCell", [](std::string& h, const Spots& s) {
         const std::size_t d = dataOf(h, s.userName);
         set32(h, d, -le32(h, d)); }, Ok, Corrupt, Ok},
    {"DataLongerThanItsCell", [](std::string& h, const Spots& s) { set32(h, s.userName + 4 + 4, 4000); }, Ok, Corrupt, Ok},
    {"DataSizeHuge", [](std::string& h, const Spots& s) { set32(h, s.userName + 4 + 4, 0x7FFFFFFF); }, Ok, Corrupt, Ok},
    {"InlineDataOverFourBytes", [](std::string& h, const Spots& s) { set32(h, s.userName + 4 + 4, 0x80000005); },
     Ok, Corrupt, Ok},
    {"TooFewSegments", [](std::string& h, const Spots& s) { set16(h, dataOf(h, s.big) + 4 + 2, 1); }, Ok, Ok, Corrupt},
    {"SegmentListOutside", [](std::string& h, const Spots& s) { set32(h, dataOf(h, s.big) + 4 + 4, 0x7FFFFFF8); },
     Ok, Ok, Corrupt},
    {"SegmentOutside", [](std::string& h, const Spots& s) {
         set32(h, Bins + le32(h, dataOf(h, s.big) + 4 + 4) + 4 + 4, 0x7FFFFFF8); }, Ok, Ok, Corrupt},
    {"SegmentTooShort", [](std::string& h, const Spots& s) {
         const std::size_t seg = Bins + le32(h, Bins + le32(h, dataOf(h, s.big) + 4 + 4) + 4);
         set32(h, seg, static_cast<std::uint32_t>(-16)); }, Ok, Ok, Corrupt},
};

// A format 1.5 hive with AutoAdminLogon, DefaultUserName and a long value in segments, in
// `h`, and where their cells are.
class SpottedHiveTest : public EngineTest {
protected:
    Spots makeSpottedHive(std::string& h) {
        makeHive({{testsupport::WinlogonInHive,
                   {textValue("AutoAdminLogon", u"1"), textValue("DefaultUserName", u"Administrator")}}},
                 5);
        const Key key = open();
        const std::string big = pattern(40000, 5);
        EXPECT_EQ(RegSetValueExA(key, "Big", 0, RegBinary, bytes(big), static_cast<std::uint32_t>(big.size())), 0);
        EXPECT_EQ(RegCloseKey(key), status::Success);
        h = testsupport::fileBytes(file);
        const Layout layout(file);
        const Spots spots{layout.key("Microsoft\\Windows NT\\CurrentVersion"), layout.key(testsupport::WinlogonInHive),
                          layout.value(testsupport::WinlogonInHive, "DefaultUserName"),
                          layout.value(testsupport::WinlogonInHive, "Big"),
                          layout.value(testsupport::WinlogonInHive, "AutoAdminLogon")};
        EXPECT_EQ(h.substr(spots.winlogon + 4, 2), "nk");
        EXPECT_EQ(h.substr(dataOf(h, spots.big) + 4, 2), "db");
        return spots;
    }
};

class DamagedHive : public SpottedHiveTest, public testing::WithParamInterface<Damage> {};

TEST_P(DamagedHive, GivesACorruptCodeAndIsNeverWritten) {
    std::string h;
    const Spots spots = makeSpottedHive(h);
    GetParam().apply(h, spots);
    testsupport::writeFile(file, h);

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
        EXPECT_EQ(testsupport::fileBytes(file), h);
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

// A damaged data pointer that leads to a cell something else still uses: removing the value
// must leave that cell alone, whatever kind of cell it is.
struct StrayPointer {
    const char* name;
    // The file offset the DefaultUserName's data is made to point at.
    std::function<std::size_t(std::string& h, const Spots& s)> target;
};

const std::vector<StrayPointer> StrayPointers = {
    {"ItsOwnKey", [](std::string&, const Spots& s) { return s.winlogon; }},
    {"TheParentKey", [](std::string&, const Spots& s) { return s.currentVersion; }},
    {"TheParentsSubkeyList", [](std::string& h, const Spots& s) { return listOf(h, s.currentVersion); }},
    {"ItsSecurityCell", [](std::string& h, const Spots& s) { return Bins + le32(h, s.winlogon + 4 + 0x2C); }},
    {"AnotherValue", [](std::string&, const Spots& s) { return s.autoLogon; }},
    {"AnotherValuesData", [](std::string& h, const Spots& s) { return dataOf(h, s.big); }},
    {"AnotherValuesSegment", [](std::string& h, const Spots& s) {
         return Bins + le32(h, Bins + le32(h, dataOf(h, s.big) + 4 + 4) + 4); }},
    // Inside a segment of the long value, where its bytes happen to read as an allocated cell.
    {"InsideAnotherCell", [](std::string& h, const Spots& s) {
         const std::size_t segment = Bins + le32(h, Bins + le32(h, dataOf(h, s.big) + 4 + 4) + 4);
         set32(h, segment + 64, static_cast<std::uint32_t>(-32));
         return segment + 64; }},
};

class StrayDataPointer : public SpottedHiveTest, public testing::WithParamInterface<StrayPointer> {};

TEST_P(StrayDataPointer, RemovingTheValueLeavesWhatThePointerLeadsTo) {
    std::string h;
    const Spots spots = makeSpottedHive(h);
    const std::size_t target = GetParam().target(h, spots);
    testsupport::writeFile(file, h);
    const auto before = testsupport::readValues(file);
    ASSERT_TRUE(before);
    set32(h, spots.userName + 4 + 8, cellOf(target));
    set32(h, spots.userName + 4 + 4, 8); // small enough for any cell it may lead to
    testsupport::writeFile(file, h);

    const Key key = open();
    ASSERT_EQ(RegDeleteValueA(key, "DefaultUserName"), status::Success);
    ASSERT_EQ(RegCloseKey(key), status::Success);

    auto expected = *before;
    std::erase_if(expected, [](const HiveValue& v) { return v.name == "DefaultUserName"; });
    EXPECT_EQ(testsupport::readValues(file), expected);
}

INSTANTIATE_TEST_SUITE_P(Engine, StrayDataPointer, testing::ValuesIn(StrayPointers),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
