#include "winlogon/Module1.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <string_view>

#include "platform/codepage.h"

namespace winlogon {

platform::Status LastResult = 0;
std::u16string ValueText;

namespace {

using platform::Status;
namespace status = platform::status;

constexpr const char* WinlogonKey = "Software\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon";
constexpr std::u16string_view WinlogonKeyText = u"Software\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon";

// The value names, in code page 932 for the registry and as text for a message.
struct ValueName {
    const char* bytes;
    std::u16string_view text;
};
constexpr ValueName AutoAdminLogon{"AutoAdminLogon", u"AutoAdminLogon"};
constexpr ValueName DontDisplayLastUserName{"DontDisplayLastUserName", u"DontDisplayLastUserName"};
constexpr ValueName ShutdownWithoutLogon{"ShutdownWithoutLogon", u"ShutdownWithoutLogon"};
constexpr ValueName DefaultUserName{"DefaultUserName", u"DefaultUserName"};
constexpr ValueName DefaultPassword{"DefaultPassword", u"DefaultPassword"};
constexpr ValueName LegalNoticeCaption{"LegalNoticeCaption", u"LegalNoticeCaption"};
constexpr ValueName LegalNoticeText{"LegalNoticeText", u"LegalNoticeText"};

// The one character that every flag is compared with on loading and written as on saving.
constexpr std::u16string_view On = u"1";

// Bytes allowed for each read.
constexpr std::uint32_t AutoLogonSize = 64;
constexpr std::uint32_t CaptionSize = 128;
constexpr std::uint32_t NoticeTextSize = 1024;

Store* current = nullptr;

Store& store() {
    if (current == nullptr) runtime::raise(runtime::error::InvalidProcedureCall);
    return *current;
}

// The record through which all value data passes: one fixed text of 1024 characters whose
// 1024-byte code page 932 image is handed to each query and set, and converted back after.
class TransferRecord {
public:
    static constexpr std::size_t Length = 1024;
    using Image = std::array<std::uint8_t, Length>;

    // Puts a text in, left-aligned and blank-filled.
    void put(std::u16string_view text) {
        field_.assign(text.substr(0, Length));
        field_.resize(Length, u' ');
    }

    // Hands the image to a registry call and takes back whatever the call left in it.
    template <class Call>
    Status pass(Call call) {
        image_.fill(0);
        const std::string bytes = platform::cp932::encode(field_);
        std::copy_n(bytes.begin(), std::min(bytes.size(), Length), image_.begin());
        const Status result = call(image_.data());
        field_ = platform::cp932::decode(
            std::string_view(reinterpret_cast<const char*>(image_.data()), Length));
        field_.resize(Length, u'\0');
        return result;
    }

    // The first `size` bytes of the image: what the last query returned.
    std::string_view returned(std::uint32_t size) const {
        return {reinterpret_cast<const char*>(image_.data()), std::min<std::size_t>(size, Length)};
    }

private:
    std::u16string field_ = std::u16string(Length, u'\0');
    Image image_{};
};

// The Winlogon key, open from construction to close(); the destructor closes it on every
// other path, errors included. Every result lands in LastResult.
class WinlogonKeyHandle {
public:
    enum class Purpose { Saving, Loading };
    explicit WinlogonKeyHandle(Purpose purpose = Purpose::Saving) {
        LastResult = open(platform::KeyAllAccess);
        // A hive that may be read but not written still shows what it holds.
        if (purpose == Purpose::Loading && LastResult == status::AccessDenied) LastResult = open(platform::KeyRead);
    }
    WinlogonKeyHandle(const WinlogonKeyHandle&) = delete;
    WinlogonKeyHandle& operator=(const WinlogonKeyHandle&) = delete;
    ~WinlogonKeyHandle() {
        if (!closed_) close();
    }

    platform::Key get() const { return handle_; }

    Status close() {
        closed_ = true;
        LastResult = platform::RegCloseKey(handle_);
        return LastResult;
    }

private:
    Status open(std::uint32_t access) {
        return platform::RegOpenKeyExA(platform::LocalMachine, WinlogonKey, 0, access, &handle_);
    }

    platform::Key handle_ = 0;
    bool closed_ = false;
};

// One value as a query through the record returned it.
struct Read {
    Status status = status::Success;
    std::uint32_t type = platform::RegSz;
    std::string bytes;  // what the registry returned, when it succeeded
    explicit operator bool() const { return status == status::Success; }
};

// Reads one value through the record. LastResult holds the query's result, as the read does.
Read query(WinlogonKeyHandle& key, TransferRecord& record, const ValueName& name, std::uint32_t allowed) {
    Read read;
    std::uint32_t size = allowed;
    LastResult = read.status = record.pass([&](std::uint8_t* image) {
        return platform::RegQueryValueExA(key.get(), name.bytes, nullptr, &read.type, image, &size);
    });
    if (read) read.bytes = record.returned(size);
    return read;
}

// A stored text up to its first NUL; a text stored without one is all of its bytes.
std::string_view textBytes(std::string_view stored) {
    return stored.substr(0, stored.find('\0'));
}

std::u16string textOf(std::string_view stored) { return platform::cp932::decode(textBytes(stored)); }

// A flag is on when the first character of its stored text is "1".
bool flagOf(std::string_view stored) {
    const std::u16string text = platform::cp932::decode(stored.substr(0, 2));
    return !text.empty() && text.front() == On.front();
}

// Whether register, writing the text that the window shows, would store the very value read.
Keep keepOf(WinlogonKeyHandle& key, const ValueName& name, const Read& read) {
    if (read.status == status::MoreData) return Keep::TooLong;
    if (!read) return Keep::No;
    if (read.type != platform::RegSz) return Keep::OtherType;
    const std::string_view text = textBytes(read.bytes);
    if (read.bytes.size() > text.size() + 1) return Keep::DataAfterNul;
    if (platform::cp932::encode(platform::cp932::decode(text)) != text) return Keep::NotCodePageText;
    bool exact = false;
    const bool asStored = platform::QueryValueExactA(key.get(), name.bytes, &exact) == status::Success && exact;
    return asStored ? Keep::No : Keep::BeyondCodePage;
}

// Keeps the first failure of a register, with what the registry said of the operation that
// just failed.
void fail(SaveFailure::Step step, std::u16string_view value, Status code) {
    SaveFailure& failure = store().failure;
    if (failure) return;
    failure.step = step;
    failure.value = value;
    failure.code = code;
    if (step != SaveFailure::Step::TooLong) failure.detail = platform::LastFailureDetail();
}

// What became of one value that register meant to change.
void noteStored(std::u16string_view value, bool stored) {
    SaveFailure& failure = store().failure;
    (stored ? failure.saved : failure.notSaved).emplace_back(value);
}

// Writes `text` and its NUL as the value's data, counted in code page 932 bytes.
void setText(WinlogonKeyHandle& key, TransferRecord& record, const ValueName& name, std::u16string_view text) {
    const std::size_t count = platform::cp932::byteCount(text) + 1;
    if (count > TransferRecord::Length) {  // never hand over more than the image holds
        fail(SaveFailure::Step::TooLong, name.text, status::InvalidParameter);
        noteStored(name.text, false);
        return;
    }
    std::u16string data(text);
    data.push_back(u'\0');
    record.put(data);
    LastResult = record.pass([&](std::uint8_t* image) {
        return platform::RegSetValueExA(key.get(), name.bytes, 0, platform::RegSz, image,
                                        static_cast<std::uint32_t>(count));
    });
    if (LastResult != status::Success) fail(SaveFailure::Step::Set, name.text, LastResult);
    noteStored(name.text, LastResult == status::Success);
}

void deleteValue(WinlogonKeyHandle& key, const ValueName& name) {
    LastResult = platform::RegDeleteValueA(key.get(), name.bytes);
    // A value that is already absent is as it should be.
    const bool deleted = LastResult == status::Success || LastResult == status::FileNotFound;
    if (!deleted) fail(SaveFailure::Step::Delete, name.text, LastResult);
    noteStored(name.text, deleted);
}

void closeKey(WinlogonKeyHandle& key) {
    const bool opened = key.get() != 0;
    if (key.close() != status::Success && opened) fail(SaveFailure::Step::Close, {}, LastResult);
}

// A save that cannot open the key stores nothing.
void noteOpen() {
    if (LastResult != status::Success) fail(SaveFailure::Step::Open, {}, LastResult);
}

// Carries out one step of register.
void apply(WinlogonKeyHandle& key, TransferRecord& record, const ValueName& name, const Step& step) {
    switch (step.action) {
    case Step::Action::Leave: break;
    case Step::Action::Write: setText(key, record, name, step.text); break;
    case Step::Action::Delete: deleteValue(key, name); break;
    }
}

} // namespace

Store::Store(const Form1Controls& controls) : controls(controls) { current = this; }

Store::~Store() {
    if (current == this) current = nullptr;
}

void LoadAutoLogonSettings() {
    Store& s = store();
    Form1Controls& f = s.controls;
    TransferRecord record;
    WinlogonKeyHandle key(WinlogonKeyHandle::Purpose::Loading);

    auto read = [&](const ValueName& name, Keep& keep) {
        Read stored = query(key, record, name, AutoLogonSize);
        keep = keepOf(key, name, stored);
        return stored;
    };
    auto flag = [&](const ValueName& name, Keep& keep) {
        const Read stored = read(name, keep);
        return stored && flagOf(stored.bytes);
    };
    auto text = [&](const ValueName& name, Keep& keep) {
        const Read stored = read(name, keep);
        return stored ? textOf(stored.bytes) : std::u16string();
    };

    // The option comes first, so its handler settles the enabled state before the boxes fill.
    f.AutoLogonOption[flag(AutoAdminLogon, s.kept.autoAdminLogon) ? 1 : 0].setSelected(true);
    f.LastLogonCheck.setValue(flag(DontDisplayLastUserName, s.kept.dontDisplayLastUserName) ? 1 : 0);
    f.ShutdownCheck.setValue(flag(ShutdownWithoutLogon, s.kept.shutdownWithoutLogon) ? 1 : 0);
    f.UserText.setText(text(DefaultUserName, s.kept.defaultUserName));
    f.PassWordText.setText(text(DefaultPassword, s.kept.defaultPassword));
    key.close();
}

void LoadLogonNotice() {
    Store& s = store();
    Form1Controls& f = s.controls;
    TransferRecord record;
    WinlogonKeyHandle key(WinlogonKeyHandle::Purpose::Loading);

    const Read caption = query(key, record, LegalNoticeCaption, CaptionSize);
    s.kept.legalNoticeCaption = keepOf(key, LegalNoticeCaption, caption);
    f.LogonCaptionText.setText(caption ? textOf(caption.bytes) : std::u16string());

    // The text alone decides the option: a notice is on when its text is not empty. The
    // returned size cuts the text, so nothing an earlier read left behind can show.
    const Read text = query(key, record, LegalNoticeText, NoticeTextSize);
    s.kept.legalNoticeText = keepOf(key, LegalNoticeText, text);
    const std::u16string message = text ? textOf(text.bytes) : std::u16string();
    // A kept text that shows the notice as off keeps its caption with it.
    if (s.kept.legalNoticeText != Keep::No && message.empty() && s.kept.legalNoticeCaption == Keep::No)
        s.kept.legalNoticeCaption = Keep::WithNoticeText;
    f.LogonMessageText.setText(message);
    f.LogonMessageOption[message.empty() ? 0 : 1].setSelected(true);
    key.close();
}

void SaveAutoLogonSettings() {
    Store& s = store();
    TransferRecord record;
    WinlogonKeyHandle key;
    noteOpen();

    const AutoLogonSteps steps = PlanAutoLogonSave(s.kept, s.controls);
    apply(key, record, AutoAdminLogon, steps.autoAdminLogon);
    apply(key, record, DontDisplayLastUserName, steps.dontDisplayLastUserName);
    apply(key, record, ShutdownWithoutLogon, steps.shutdownWithoutLogon);
    ValueText = steps.defaultUserName.text;
    apply(key, record, DefaultUserName, steps.defaultUserName);
    ValueText = steps.defaultPassword.text;
    apply(key, record, DefaultPassword, steps.defaultPassword);
    closeKey(key);
}

void SaveLogonNotice() {
    Store& s = store();
    TransferRecord record;
    WinlogonKeyHandle key;
    noteOpen();

    const NoticeSteps steps = PlanLogonNoticeSave(s.kept, s.controls);
    if (steps.noticeOn) ValueText = steps.legalNoticeCaption.text;
    apply(key, record, LegalNoticeCaption, steps.legalNoticeCaption);
    if (steps.noticeOn) ValueText = steps.legalNoticeText.text;
    apply(key, record, LegalNoticeText, steps.legalNoticeText);
    closeKey(key);
}

void BeginRegister() {
    store().failure = SaveFailure{};
    platform::BeginChanges();
}

void EndRegister() {
    SaveFailure& failure = store().failure;
    // Changes that land together land only when every one of them could be made.
    const Status written = platform::EndChanges(!failure);
    if (written != status::Success) fail(SaveFailure::Step::Close, {}, written);
    if (failure && platform::ChangesLandTogether) {
        failure.notSaved.insert(failure.notSaved.begin(), failure.saved.begin(), failure.saved.end());
        failure.saved.clear();
    }
}

const SaveFailure& LastSaveFailure() { return store().failure; }

const Kept& KeptAsLoaded() { return store().kept; }

std::u16string SaveFailureMessage(const SaveFailure& failure) {
    std::u16string what;
    const std::u16string value = u"値「" + failure.value + u"」";
    switch (failure.step) {
    case SaveFailure::Step::None: return {};
    case SaveFailure::Step::Open: what = u"キー「HKEY_LOCAL_MACHINE\\" + std::u16string(WinlogonKeyText) + u"」を書き込み用に開けませんでした。"; break;
    case SaveFailure::Step::Set: what = value + u"を書き込めませんでした。"; break;
    case SaveFailure::Step::Delete: what = value + u"を削除できませんでした。"; break;
    case SaveFailure::Step::Close: what = u"変更をレジストリに保存できませんでした。"; break;
    case SaveFailure::Step::TooLong: what = value + u"が長すぎるため書き込めませんでした。"; break;
    }
    // What the user can do: the hive's own reason says it, else the code's.
    std::u16string remedy = platform::FailureDetailText(failure.detail);
    if (remedy.empty()) {
        if (failure.step == SaveFailure::Step::Open && failure.code == status::FileNotFound)
            remedy = u"Winlogon キーがありません。Windows の SOFTWARE ハイブを指定しているか確認してください。";
        else if (failure.step == SaveFailure::Step::TooLong)
            remedy = u"値を短くしてから、もう一度お試しください。";
        else
            remedy = platform::StatusRemedy(failure.code);
    }
    auto names = [](const std::vector<std::u16string>& values) {
        std::u16string list;
        for (const std::u16string& v : values) list += (list.empty() ? u"" : u"、") + v;
        return list;
    };
    std::u16string stored = u"設定は何も保存されていません。";
    if (!failure.saved.empty())
        stored = u"保存した値: " + names(failure.saved) + u"\n保存できなかった値: " + names(failure.notSaved) + u"\n";
    return u"設定を登録できませんでした。\n\n" + what + u"\n理由: " + platform::StatusText(failure.code) + u"\n\n" +
           remedy + u"\n\n" + stored + u"入力した内容はそのまま残っています。「登録」でもう一度保存するか、「キャンセル」で終了できます。";
}

bool StorableEdit(std::u16string_view current, std::u16string_view proposed, std::size_t maxBytes) {
    // An edit may keep characters that were there already, but never add one that cannot be stored.
    auto unmappable = [](std::u16string_view text) {
        std::size_t count = 0;
        for (std::size_t at = platform::cp932::firstUnmappable(text); at != std::u16string_view::npos;
             at = platform::cp932::firstUnmappable(text)) {
            ++count;
            text.remove_prefix(at + 1);
        }
        return count;
    };
    if (unmappable(proposed) > unmappable(current)) return false;
    if (maxBytes == 0) return true;
    const std::size_t bytes = platform::cp932::byteCount(proposed);
    return bytes <= maxBytes || bytes <= platform::cp932::byteCount(current);
}

} // namespace winlogon
