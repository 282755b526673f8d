// The registry operations as the settings store calls them, row by row: return code, reported
// size and type, and the bytes in the caller's buffer. Every row starts from a fresh empty key
// and puts its values there through RegSetValueExA only, so the same table runs against any
// realisation of the five operations.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <optional>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "registry_fixture.h"

namespace {

using namespace platform;
using namespace std::string_literals;

enum class Op { Set, Query, Delete, Close };
// The handle a step works on.
enum class On { Key, Zero, Closed, LocalMachine };

struct Step {
    Op op = Op::Query;
    std::string name;             // value name
    On on = On::Key;
    std::uint32_t type = RegSz;   // set: the type given; query: the type expected
    std::string data;             // set: the bytes given; query: the bytes expected at the buffer's start
    std::uint32_t size = 0;       // set: the byte count given; query: the buffer's size
    bool nullData = false;        // the data pointer is null
    Status code = status::Success;
    std::uint32_t sizeAfter = 0;  // query: the size reported
};

Step step(Op op, std::string name) {
    Step s;
    s.op = op;
    s.name = std::move(name);
    return s;
}
Step set(std::string name, std::string data, std::uint32_t type = RegSz) {
    Step s = step(Op::Set, std::move(name));
    s.type = type;
    s.size = static_cast<std::uint32_t>(data.size());
    s.data = std::move(data);
    return s;
}
Step setCount(std::string name, std::string data, std::uint32_t count) {
    Step s = set(std::move(name), std::move(data));
    s.size = count;
    return s;
}
// A query into a buffer of `bufferSize` bytes that returns `code` and reports `sizeAfter`;
// on success the buffer starts with `data`, and every other byte is untouched.
Step query(std::string name, std::uint32_t bufferSize, Status code, std::uint32_t sizeAfter, std::string data = {},
           std::uint32_t type = RegSz) {
    Step s = step(Op::Query, std::move(name));
    s.size = bufferSize;
    s.code = code;
    s.sizeAfter = sizeAfter;
    s.data = std::move(data);
    s.type = type;
    return s;
}
Step sizeOnly(std::string name, Status code, std::uint32_t sizeAfter) {
    Step s = query(std::move(name), 0, code, sizeAfter);
    s.nullData = true;
    return s;
}
Step del(std::string name, Status code = status::Success) {
    Step s = step(Op::Delete, std::move(name));
    s.code = code;
    return s;
}
Step close(On on, Status code) {
    Step s = step(Op::Close, {});
    s.on = on;
    s.code = code;
    return s;
}
Step on(On which, Step s) {
    s.on = which;
    return s;
}
Step fails(Status code, Step s) {
    s.code = code;
    return s;
}

std::string repeat(const std::string& piece, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) out += piece;
    return out;
}

const std::string Te = "\x83\x65"; // テ
const std::string Test = "\x83\x65\x83\x58\x83\x67"; // テスト

struct Row {
    const char* name;
    std::vector<Step> steps;
};
void PrintTo(const Row& row, std::ostream* os) { *os << row.name; }

const std::vector<Row> Rows = {
    {"SixtyThreeCharactersFitSixtyFourBytes",
     {set("AutoAdminLogon", std::string(63, 'a') + '\0'),
      query("AutoAdminLogon", 64, 0, 64, std::string(63, 'a') + '\0')}},
    {"SixtyFourCharactersNeedSixtyFive",
     {set("AutoAdminLogon", std::string(64, 'a') + '\0'), query("AutoAdminLogon", 64, status::MoreData, 65)}},
    {"BufferOfExactlyTheSize", {set("V", "abc\0"s), query("V", 4, 0, 4, "abc\0"s)}},
    {"SizeOnlyWithoutBuffer", {set("V", "abc\0"s), sizeOnly("V", 0, 4)}},
    {"ZeroByteStringLeavesBufferAlone", {set("V", ""), query("V", 64, 0, 0)}},
    {"ZeroByteStringSizeOnly", {set("V", ""), sizeOnly("V", 0, 0)}},
    {"NullDataWithZeroCountStoresEmpty",
     {[] { Step s = set("V", ""); s.nullData = true; return s; }(), query("V", 64, 0, 0)}},
    {"KatakanaReadsBackIdentical", {set("V", Test + '\0'), query("V", 64, 0, 7, Test + '\0')}},
    {"KatakanaIntoSixBytes", {set("V", Test + '\0'), query("V", 6, status::MoreData, 7)}},
    {"ThirtyOneDoubleByteCharactersFit", {set("V", repeat(Te, 31) + '\0'), query("V", 64, 0, 63, repeat(Te, 31) + '\0')}},
    {"ThirtyTwoDoubleByteCharactersDoNot", {set("V", repeat(Te, 32) + '\0'), query("V", 64, status::MoreData, 65)}},
    {"SizeOnlyCountsDoubleBytesTwice", {set("V", repeat(Te, 32) + '\0'), sizeOnly("V", 0, 65)}},
    {"BackslashTrailBytesSurvive", {set("V", "\x83\x5C\x95\x5C\0"s), query("V", 64, 0, 5, "\x83\x5C\x95\x5C\0"s)}},
    {"HalfwidthKatakanaSingleBytes", {set("V", "\xB1\xB2\0"s), query("V", 64, 0, 3, "\xB1\xB2\0"s)}},
    {"UnterminatedStaysUnterminated", {set("V", "abc"), query("V", 64, 0, 3, "abc\0"s)}},
    {"CountShorterThanText", {setCount("V", "abcdef\0"s, 4), query("V", 64, 0, 4, "abcd\0"s)}},
    {"UnterminatedFillsTheBufferExactly", {setCount("V", "abcdef\0"s, 4), query("V", 4, 0, 4, "abcd")}},
    {"EmbeddedNulsKept", {set("V", "a\0b\0"s), query("V", 64, 0, 4, "a\0b\0"s)}},
    {"LongNoticeText", {set("LegalNoticeText", std::string(1023, 'x') + '\0'),
                        query("LegalNoticeText", 1024, 0, 1024, std::string(1023, 'x') + '\0')}},
    {"NoticeTextOneTooLong",
     {set("LegalNoticeText", std::string(1024, 'x') + '\0'), query("LegalNoticeText", 1024, status::MoreData, 1025)}},
    {"DwordOne", {set("V", "\x01\0\0\0"s, RegDword), query("V", 64, 0, 4, "\x01\0\0\0"s, RegDword)}},
    {"DwordIntoTwoBytes", {set("V", "\x01\0\0\0"s, RegDword), query("V", 2, status::MoreData, 4, {}, RegDword)}},
    {"BinaryIsRaw", {set("V", "\x00\xFF\x83\x5C"s, RegBinary), query("V", 64, 0, 4, "\x00\xFF\x83\x5C"s, RegBinary)}},
    {"ExpandStringConverted",
     {set("V", "%SystemRoot%\\" + Te + '\0', RegExpandSz),
      query("V", 64, 0, 16, "%SystemRoot%\\" + Te + '\0', RegExpandSz)}},
    {"MultiStringConverted",
     {set("V", "a\0"s + Te + "\0\0"s, RegMultiSz), query("V", 64, 0, 6, "a\0"s + Te + "\0\0"s, RegMultiSz)}},
    {"NamesIgnoreCase", {set("DefaultUserName", "x\0"s), query("DEFAULTUSERNAME", 64, 0, 2, "x\0"s),
                         query("defaultusername", 64, 0, 2, "x\0"s)}},
    {"SetReplacesWhateverTheCase", {set("Flag", "1\0"s), set("FLAG", "22\0"s), query("flag", 64, 0, 3, "22\0"s)}},
    {"SetReplacesTheType", {set("V", "\x01\0\0\0"s, RegDword), set("V", "1\0"s), query("V", 64, 0, 2, "1\0"s)}},
    {"DoubleByteValueName", {set("\x83\x5C\x95\x5C", "x\0"s), query("\x83\x5C\x95\x5C", 64, 0, 2, "x\0"s),
                             query("\x83\x5C", 64, status::FileNotFound, 0)}},
    {"EmptyNameIsTheDefaultValue", {set("", "d\0"s), query("", 64, 0, 2, "d\0"s)}},
    {"AbsentValue", {query("DefaultPassword", 64, status::FileNotFound, 0), del("DefaultPassword", status::FileNotFound)}},
    {"DeleteRemovesOnlyThatValue",
     {set("A", "1\0"s), set("B", "2\0"s), del("a"), query("A", 64, status::FileNotFound, 0),
      query("B", 64, 0, 2, "2\0"s), del("A", status::FileNotFound)}},
    {"DeleteThenSetAgain", {set("A", "1\0"s), del("A"), set("A", "3\0"s), query("A", 64, 0, 2, "3\0"s)}},
    {"HandleZero",
     {on(On::Zero, query("V", 64, status::InvalidHandle, 64)), on(On::Zero, fails(status::InvalidHandle, set("V", "1\0"s))),
      on(On::Zero, del("V", status::InvalidHandle)), close(On::Zero, status::InvalidHandle)}},
    {"ClosedHandle",
     {on(On::Closed, query("V", 64, status::InvalidHandle, 64)), on(On::Closed, fails(status::InvalidHandle, set("V", "1\0"s))),
      on(On::Closed, del("V", status::InvalidHandle)), close(On::Closed, status::InvalidHandle)}},
    {"CloseLocalMachine", {close(On::LocalMachine, status::Success)}},
};

class RegistryTable : public testing::TestWithParam<Row> {};

TEST_P(RegistryTable, Row) {
    registrytable::FreshKey fresh;
    Key key = 0;
    ASSERT_EQ(RegOpenKeyExA(LocalMachine, fresh.subKey().c_str(), 0, KeyAllAccess, &key), status::Success);
    ASSERT_NE(key, 0u);
    Key closed = 0;
    ASSERT_EQ(RegOpenKeyExA(LocalMachine, fresh.subKey().c_str(), 0, KeyAllAccess, &closed), status::Success);
    ASSERT_EQ(RegCloseKey(closed), status::Success);

    constexpr std::uint8_t Fill = 0xCC;
    constexpr std::size_t Margin = 16;
    int index = 0;
    for (const Step& s : GetParam().steps) {
        SCOPED_TRACE("step " + std::to_string(index++) + " '" + s.name + "'");
        const Key handle = s.on == On::Key ? key : s.on == On::Closed ? closed : s.on == On::Zero ? 0 : LocalMachine;
        switch (s.op) {
        case Op::Set:
            EXPECT_EQ(RegSetValueExA(handle, s.name.c_str(), 0, s.type,
                                     s.nullData ? nullptr : reinterpret_cast<const std::uint8_t*>(s.data.data()), s.size),
                      s.code);
            break;
        case Op::Query: {
            std::vector<std::uint8_t> buffer(s.size + Margin, Fill);
            std::uint32_t type = RegSz;
            std::uint32_t size = s.size;
            EXPECT_EQ(RegQueryValueExA(handle, s.name.c_str(), nullptr, &type, s.nullData ? nullptr : buffer.data(), &size),
                      s.code);
            if (s.code == status::Success || s.code == status::MoreData) {
                EXPECT_EQ(size, s.sizeAfter);
                EXPECT_EQ(type, s.type);
            }
            std::vector<std::uint8_t> expected(s.size + Margin, Fill);
            if (s.code == status::Success) std::copy(s.data.begin(), s.data.end(), expected.begin());
            EXPECT_EQ(buffer, expected) << "the buffer holds other bytes than expected";
            break;
        }
        case Op::Delete:
            EXPECT_EQ(RegDeleteValueA(handle, s.name.c_str()), s.code);
            break;
        case Op::Close:
            EXPECT_EQ(RegCloseKey(handle), s.code);
            break;
        }
    }
    EXPECT_EQ(RegCloseKey(key), status::Success);
    EXPECT_EQ(RegCloseKey(key), status::InvalidHandle);
}

INSTANTIATE_TEST_SUITE_P(Registry, RegistryTable, testing::ValuesIn(Rows),
                         [](const auto& info) { return std::string(info.param.name); });

// Opening: the path as given, in any case; missing keys; bad handles and arguments.
struct OpenRow {
    const char* name;
    std::string (*path)(const std::string& key);
    Key parent; // 0 means HKEY_LOCAL_MACHINE here; 1 stands for handle 0
    Status code;
};
void PrintTo(const OpenRow& row, std::ostream* os) { *os << row.name; }

std::string upper(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return s;
}
std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

const OpenRow OpenRows[] = {
    {"AsGiven", [](const std::string& k) { return k; }, 0, status::Success},
    {"UpperCase", [](const std::string& k) { return upper(k); }, 0, status::Success},
    {"LowerCase", [](const std::string& k) { return lower(k); }, 0, status::Success},
    {"MissingSubkey", [](const std::string& k) { return k + "\\NoSuchKey"; }, 0, status::FileNotFound},
    {"MissingMiddle", [](const std::string& k) { return k.substr(0, k.rfind('\\')) + "\\NoSuchKey\\" +
                                                        k.substr(k.rfind('\\') + 1); }, 0, status::FileNotFound},
    {"SiblingThatDoesNotExist", [](const std::string& k) { return k + "X"; }, 0, status::FileNotFound},
    {"ParentHandleZero", [](const std::string& k) { return k; }, 1, status::InvalidHandle},
};

class OpenTable : public testing::TestWithParam<OpenRow> {};

TEST_P(OpenTable, Row) {
    registrytable::FreshKey fresh;
    const OpenRow& row = GetParam();
    Key key = 0;
    const std::string path = row.path(fresh.subKey());
    EXPECT_EQ(RegOpenKeyExA(row.parent == 1 ? 0 : LocalMachine, path.c_str(), 0, KeyAllAccess, &key), row.code);
    if (row.code == status::Success) {
        EXPECT_NE(key, 0u);
        EXPECT_EQ(RegCloseKey(key), status::Success);
    } else {
        EXPECT_EQ(key, 0u);
    }
}

INSTANTIATE_TEST_SUITE_P(Registry, OpenTable, testing::ValuesIn(OpenRows),
                         [](const auto& info) { return std::string(info.param.name); });

// Handles open on the same key at once see each other's changes and close on their own.
TEST(RegistryHandles, TwoHandlesOnOneKey) {
    registrytable::FreshKey fresh;
    Key a = 0, b = 0;
    ASSERT_EQ(RegOpenKeyExA(LocalMachine, fresh.subKey().c_str(), 0, KeyAllAccess, &a), status::Success);
    ASSERT_EQ(RegOpenKeyExA(LocalMachine, fresh.subKey().c_str(), 0, KeyAllAccess, &b), status::Success);
    EXPECT_NE(a, b);
    const std::string v = "1\0"s;
    EXPECT_EQ(RegSetValueExA(a, "Shared", 0, RegSz, reinterpret_cast<const std::uint8_t*>(v.data()), 2), 0);
    std::uint8_t buffer[8] = {};
    std::uint32_t size = sizeof buffer;
    EXPECT_EQ(RegQueryValueExA(b, "Shared", nullptr, nullptr, buffer, &size), 0);
    EXPECT_EQ(size, 2u);
    EXPECT_EQ(RegCloseKey(a), status::Success);
    size = sizeof buffer;
    EXPECT_EQ(RegQueryValueExA(b, "Shared", nullptr, nullptr, buffer, &size), 0);
    EXPECT_EQ(RegDeleteValueA(b, "Shared"), 0);
    EXPECT_EQ(RegCloseKey(b), status::Success);

    Key c = 0;
    ASSERT_EQ(RegOpenKeyExA(LocalMachine, fresh.subKey().c_str(), 0, KeyRead, &c), status::Success);
    EXPECT_EQ(RegQueryValueExA(c, "Shared", nullptr, nullptr, nullptr, nullptr), status::FileNotFound);
    EXPECT_EQ(RegSetValueExA(c, "Shared", 0, RegSz, reinterpret_cast<const std::uint8_t*>(v.data()), 2),
              status::AccessDenied);
    EXPECT_EQ(RegCloseKey(c), status::Success);
}

TEST(RegistryHandles, NullResultPointer) {
    registrytable::FreshKey fresh;
    EXPECT_EQ(RegOpenKeyExA(LocalMachine, fresh.subKey().c_str(), 0, KeyAllAccess, nullptr), status::InvalidParameter);
}

} // namespace
