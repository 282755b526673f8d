// Register: what the window's state becomes in the hive, value by value, byte for byte.
#include <algorithm>
#include <functional>
#include <map>

#include "store_test.h"

namespace vantorio_test {
namespace {

using Expected = std::map<std::string, std::optional<HiveValue>>;
constexpr std::nullopt_t Absent = std::nullopt;

struct SaveCase {
    const char* name;
    std::vector<HiveValue> stored;
    std::function<void(HiveRun&)> user;  // what the user does before pressing register
    Expected expected;                   // values not listed keep their stored bytes
};
void PrintTo(const SaveCase& row, std::ostream* os) { *os << row.name; }

// A hive that register leaves as it is when the window is left alone: automatic logon off,
// shutdown without logon allowed, no notice.
const std::vector<HiveValue> Quiet{sz("DefaultUserName", u"Administrator"), sz("ShutdownWithoutLogon", u"1"),
                                   sz("LegalNoticeCaption", u""), sz("LegalNoticeText", u"")};

// Quiet, with some values replaced or added.
std::vector<HiveValue> quietWith(std::vector<HiveValue> changes) {
    std::vector<HiveValue> values = Quiet;
    for (HiveValue& change : changes) {
        auto same = std::find_if(values.begin(), values.end(), [&](const HiveValue& v) { return v.name == change.name; });
        if (same != values.end())
            *same = std::move(change);
        else
            values.push_back(std::move(change));
    }
    return values;
}

const std::vector<HiveValue> AutoLogonOnHive =
    quietWith({sz("AutoAdminLogon", u"1"), sz("DefaultUserName", u"Alice"), sz("DefaultPassword", u"pw")});

class Save : public ::testing::TestWithParam<SaveCase> {};

TEST_P(Save, StoresTheWindowsState) {
    const SaveCase& row = GetParam();
    HiveRun hive(row.stored);
    hive.start();
    if (row.user) row.user(hive);
    hive.registerAndEnd();

    for (const char* name : WinlogonNames) {
        SCOPED_TRACE(name);
        const auto want = row.expected.find(name);
        if (want != row.expected.end()) {
            EXPECT_EQ(hive.value(name), want->second);
            continue;
        }
        std::optional<HiveValue> before;
        for (const HiveValue& v : row.stored)
            if (v.name == name) before = v;
        EXPECT_EQ(hive.value(name), before) << "changed although nothing asked for it";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Winlogon, Save,
    ::testing::Values(
        SaveCase{"UntouchedQuietHive", Quiet, nullptr, {}},
        // Automatic logon on: the flag written, the last-user flag deleted, the shutdown
        // setting left exactly as it was, whatever it was.
        SaveCase{"AutoLogonOnBothChecked",
                 quietWith({sz("DontDisplayLastUserName", u"1"),
                            raw("ShutdownWithoutLogon", 4, std::string("\7\0\0\0", 4))}),
                 [](HiveRun& h) {
                     h.session().click(ShutdownCheck);
                     h.session().click(AutoLogonOn);
                     h.session().type(PassWordText, u"s3cret");
                 },
                 {{"AutoAdminLogon", sz("AutoAdminLogon", u"1")},
                  {"DontDisplayLastUserName", Absent},
                  {"DefaultPassword", sz("DefaultPassword", u"s3cret")}}},
        // Off, hide the last user, no shutdown without logon: the disabled boxes still save.
        SaveCase{"AutoLogonOffLastCheckedShutdownClear", AutoLogonOnHive,
                 [](HiveRun& h) {
                     h.session().click(AutoLogonOff);
                     h.session().click(LastLogonCheck);
                     h.session().click(ShutdownCheck);
                 },
                 {{"AutoAdminLogon", Absent},
                  {"DontDisplayLastUserName", sz("DontDisplayLastUserName", u"1")},
                  {"ShutdownWithoutLogon", sz("ShutdownWithoutLogon", u"0")}}},
        SaveCase{"AutoLogonOffBothClear", quietWith({sz("DontDisplayLastUserName", u"1")}),
                 [](HiveRun& h) {
                     h.session().click(LastLogonCheck);
                     h.session().click(ShutdownCheck);
                 },
                 {{"DontDisplayLastUserName", Absent},
                  {"ShutdownWithoutLogon", sz("ShutdownWithoutLogon", u"0")}}},
        // A checked shutdown box stores its own state, "1"; "0" and a flag that is not "1" go.
        SaveCase{"AutoLogonOffShutdownChecked",
                 quietWith({sz("AutoAdminLogon", u"0"), sz("DontDisplayLastUserName", u"0"),
                            sz("ShutdownWithoutLogon", u"0")}),
                 [](HiveRun& h) { h.session().click(ShutdownCheck); },
                 {{"AutoAdminLogon", Absent},
                  {"DontDisplayLastUserName", Absent},
                  {"ShutdownWithoutLogon", sz("ShutdownWithoutLogon", u"1")}}},
        // An empty user name is stored as the empty string; an empty password is deleted.
        SaveCase{"EmptyUserNameAndPassword", AutoLogonOnHive,
                 [](HiveRun& h) {
                     h.clear(UserText);
                     h.clear(PassWordText);
                 },
                 {{"DefaultUserName", sz("DefaultUserName", u"")}, {"DefaultPassword", Absent}}},
        SaveCase{"EmptyPasswordWithAutoLogonOff", quietWith({sz("DefaultPassword", u"old")}),
                 [](HiveRun& h) {
                     h.session().click(AutoLogonOn);
                     h.clear(PassWordText);
                     h.session().click(AutoLogonOff);
                 },
                 {{"DefaultPassword", Absent}}},
        SaveCase{"JapaneseUserName", AutoLogonOnHive,
                 [](HiveRun& h) {
                     h.clear(UserText);
                     h.session().type(UserText, u"山田");
                 },
                 {{"DefaultUserName", sz("DefaultUserName", u"山田")}}},
        SaveCase{"HalfWidthKatakanaPassword", AutoLogonOnHive,
                 [](HiveRun& h) {
                     h.clear(PassWordText);
                     h.session().type(PassWordText, u"ﾊﾟｽﾜｰﾄﾞ");
                 },
                 {{"DefaultPassword", sz("DefaultPassword", u"ﾊﾟｽﾜｰﾄﾞ")}}},
        // The notice off: both values stay, as empty strings, whatever the boxes hold.
        SaveCase{"NoticeOffEmptiesBoth",
                 quietWith({sz("LegalNoticeCaption", u"警告"), sz("LegalNoticeText", u"本文")}),
                 [](HiveRun& h) { h.session().click(NoticeOff); },
                 {{"LegalNoticeCaption", sz("LegalNoticeCaption", u"")},
                  {"LegalNoticeText", sz("LegalNoticeText", u"")}}},
        SaveCase{"NoticeOffCreatesBothEmpty", {sz("DefaultUserName", u"Administrator"), sz("ShutdownWithoutLogon", u"1")},
                 nullptr,
                 {{"LegalNoticeCaption", sz("LegalNoticeCaption", u"")},
                  {"LegalNoticeText", sz("LegalNoticeText", u"")}}},
        SaveCase{"NoticeOnJapanese", Quiet,
                 [](HiveRun& h) {
                     h.session().click(NoticeOn);
                     h.session().type(LogonCaptionText, u"お知らせ");
                     h.session().type(LogonMessageText, u"abcテスト");
                 },
                 {{"LegalNoticeCaption", sz("LegalNoticeCaption", u"お知らせ")},
                  {"LegalNoticeText", sz("LegalNoticeText", u"abcテスト")}}},
        SaveCase{"NoticeOnEmptyCaption",
                 quietWith({sz("LegalNoticeCaption", u"old"), sz("LegalNoticeText", u"text")}),
                 [](HiveRun& h) { h.clear(LogonCaptionText); },
                 {{"LegalNoticeCaption", sz("LegalNoticeCaption", u"")}}},
        SaveCase{"NoticeCaptionWithEmptyText", quietWith({sz("LegalNoticeText", u"text")}),
                 [](HiveRun& h) {
                     h.session().type(LogonCaptionText, u"Caption");
                     h.clear(LogonMessageText);
                 },
                 {{"LegalNoticeCaption", sz("LegalNoticeCaption", u"Caption")},
                  {"LegalNoticeText", sz("LegalNoticeText", u"")}}},
        // Register without a change writes the loaded state back as it is.
        SaveCase{"UnchangedWindow",
                 {sz("AutoAdminLogon", u"1"), sz("DontDisplayLastUserName", u"1"), sz("ShutdownWithoutLogon", u"0"),
                  sz("DefaultUserName", u"管理者"), sz("DefaultPassword", u"pw"), sz("LegalNoticeCaption", u"C"),
                  sz("LegalNoticeText", u"T")},
                 nullptr,
                 {{"DontDisplayLastUserName", Absent}}}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace vantorio_test
