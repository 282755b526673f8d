#include "winlogon/Module1.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
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

Form1Controls* Form1 = nullptr;
SaveFailure saveFailure;

Form1Controls& form() {
    if (Form1 == nullptr) runtime::raise(runtime::error::InvalidProcedureCall);
    return *Form1;
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
    WinlogonKeyHandle() { LastResult = platform::RegOpenKeyExA(platform::LocalMachine, WinlogonKey, 0, platform::KeyAllAccess, &handle_); }
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
    platform::Key handle_ = 0;
    bool closed_ = false;
};

// Reads one value through the record: the bytes that the registry returned, or nothing when
// the read failed. LastResult holds the query's result, `type` the stored type.
std::optional<std::string> query(WinlogonKeyHandle& key, TransferRecord& record, const ValueName& name,
                                 std::uint32_t allowed, std::uint32_t& type) {
    type = platform::RegSz;
    std::uint32_t size = allowed;
    LastResult = record.pass([&](std::uint8_t* image) {
        return platform::RegQueryValueExA(key.get(), name.bytes, nullptr, &type, image, &size);
    });
    if (LastResult != status::Success) return std::nullopt;
    return std::string(record.returned(size));
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

// Why loading keeps a value as stored: register writes it back only once the user has acted
// on the control that shows it. Anything else register could not write back byte for byte.
enum class Keep {
    No,
    TooLong,   // longer than its read allows: shown as absent
    NotExact,  // shown, but not as stored: another type, data behind its NUL, bytes that are
               // no code page 932 text, or UTF-16 that the A form could not hold
};

// Whether register, writing the text that the window shows, would store the very value read.
// LastResult holds the result of the value's query, and keeps it.
Keep keepOf(WinlogonKeyHandle& key, const ValueName& name, const std::optional<std::string>& read,
            std::uint32_t type) {
    if (LastResult == status::MoreData) return Keep::TooLong;
    if (!read) return Keep::No;
    const std::string_view text = textBytes(*read);
    const bool terminatedOnce = read->size() <= text.size() + 1;
    const bool codePageText = platform::cp932::encode(platform::cp932::decode(text)) == text;
    bool exact = false;
    const bool asStored = platform::QueryValueExactA(key.get(), name.bytes, &exact) == status::Success && exact;
    return type == platform::RegSz && terminatedOnce && codePageText && asStored ? Keep::No : Keep::NotExact;
}

// The values that loading kept as stored, and why. Register keeps each one until the user
// acts on the control that shows it.
struct Kept {
    Keep autoAdminLogon = Keep::No;
    Keep dontDisplayLastUserName = Keep::No;
    Keep shutdownWithoutLogon = Keep::No;
    Keep defaultUserName = Keep::No;
    Keep defaultPassword = Keep::No;
    Keep legalNoticeCaption = Keep::No;
    Keep legalNoticeText = Keep::No;
} kept;

bool keptUntouched(Keep keep, bool acted) { return keep != Keep::No && !acted; }

void fail(SaveFailure::Step step, std::u16string_view value, Status code) {
    if (saveFailure) return;
    const bool registryStep = step != SaveFailure::Step::TooLong;
    saveFailure = SaveFailure{step, std::u16string(value), code,
                              registryStep ? platform::LastFailureDetail() : platform::FailureDetail{}};
}

// Writes `text` and its NUL as the value's data, counted in code page 932 bytes.
void setText(WinlogonKeyHandle& key, TransferRecord& record, const ValueName& name, std::u16string_view text) {
    const std::size_t count = platform::cp932::byteCount(text) + 1;
    if (count > TransferRecord::Length) {  // never hand over more than the image holds
        fail(SaveFailure::Step::TooLong, name.text, status::InvalidParameter);
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
}

void deleteValue(WinlogonKeyHandle& key, const ValueName& name) {
    LastResult = platform::RegDeleteValueA(key.get(), name.bytes);
    // A value that is already absent is as it should be.
    if (LastResult != status::Success && LastResult != status::FileNotFound)
        fail(SaveFailure::Step::Delete, name.text, LastResult);
}

void closeKey(WinlogonKeyHandle& key) {
    const bool opened = key.get() != 0;
    if (key.close() != status::Success && opened) fail(SaveFailure::Step::Close, {}, LastResult);
}

// A save that cannot open the key stores nothing.
void noteOpen() {
    if (LastResult != status::Success) fail(SaveFailure::Step::Open, {}, LastResult);
}

} // namespace

void Attach(Form1Controls* form) { Form1 = form; }

void LoadAutoLogonSettings() {
    Form1Controls& f = form();
    TransferRecord record;
    WinlogonKeyHandle key;

    auto read = [&](const ValueName& name, Keep& keep) {
        std::uint32_t type = 0;
        std::optional<std::string> stored = query(key, record, name, AutoLogonSize, type);
        keep = keepOf(key, name, stored, type);
        return stored;
    };
    auto flag = [&](const ValueName& name, Keep& keep) {
        const std::optional<std::string> stored = read(name, keep);
        return stored && flagOf(*stored);
    };
    auto text = [&](const ValueName& name, Keep& keep) {
        const std::optional<std::string> stored = read(name, keep);
        return stored ? textOf(*stored) : std::u16string();
    };

    // The option comes first, so its handler settles the enabled state before the boxes fill.
    f.AutoLogonOption[flag(AutoAdminLogon, kept.autoAdminLogon) ? 1 : 0].setSelected(true);
    f.LastLogonCheck.setValue(flag(DontDisplayLastUserName, kept.dontDisplayLastUserName) ? 1 : 0);
    f.ShutdownCheck.setValue(flag(ShutdownWithoutLogon, kept.shutdownWithoutLogon) ? 1 : 0);
    f.UserText.setText(text(DefaultUserName, kept.defaultUserName));
    f.PassWordText.setText(text(DefaultPassword, kept.defaultPassword));
    key.close();
}

void LoadLogonNotice() {
    Form1Controls& f = form();
    TransferRecord record;
    WinlogonKeyHandle key;

    std::uint32_t type = 0;
    const std::optional<std::string> caption = query(key, record, LegalNoticeCaption, CaptionSize, type);
    kept.legalNoticeCaption = keepOf(key, LegalNoticeCaption, caption, type);
    f.LogonCaptionText.setText(caption ? textOf(*caption) : std::u16string());

    // The text alone decides the option: a notice is on when its text is not empty. The
    // returned size cuts the text, so nothing an earlier read left behind can show.
    const std::optional<std::string> text = query(key, record, LegalNoticeText, NoticeTextSize, type);
    kept.legalNoticeText = keepOf(key, LegalNoticeText, text, type);
    const std::u16string message = text ? textOf(*text) : std::u16string();
    f.LogonMessageText.setText(message);
    f.LogonMessageOption[message.empty() ? 0 : 1].setSelected(true);
    key.close();
}

void SaveAutoLogonSettings() {
    Form1Controls& f = form();
    TransferRecord record;
    WinlogonKeyHandle key;
    noteOpen();

    // The option decides whether the last user name is written at all, so acting on it
    // releases both flags.
    const bool optionActed = f.AutoLogonOption[0].userActed() || f.AutoLogonOption[1].userActed();
    const bool on = f.AutoLogonOption[1].selected();
    if (!keptUntouched(kept.autoAdminLogon, optionActed)) {
        if (on)
            setText(key, record, AutoAdminLogon, On);
        else
            deleteValue(key, AutoAdminLogon);
    }

    // The check box is read only while automatic logon is off.
    const bool off = f.AutoLogonOption[0].selected();
    if (!keptUntouched(kept.dontDisplayLastUserName, optionActed || f.LastLogonCheck.userActed())) {
        if (off && f.LastLogonCheck.value() == 1)
            setText(key, record, DontDisplayLastUserName, On);
        else
            deleteValue(key, DontDisplayLastUserName);
    }

    // With automatic logon on this value is left as it is.
    if (off && !keptUntouched(kept.shutdownWithoutLogon, f.ShutdownCheck.userActed()))
        setText(key, record, ShutdownWithoutLogon, std::u16string(1, u'0' + f.ShutdownCheck.value()));

    ValueText = f.UserText.text();
    if (!keptUntouched(kept.defaultUserName, f.UserText.userActed())) setText(key, record, DefaultUserName, ValueText);

    ValueText = f.PassWordText.text();
    if (!keptUntouched(kept.defaultPassword, f.PassWordText.userActed())) {
        if (ValueText.empty())
            deleteValue(key, DefaultPassword);
        else
            setText(key, record, DefaultPassword, ValueText);
    }
    closeKey(key);
}

void SaveLogonNotice() {
    Form1Controls& f = form();
    TransferRecord record;
    WinlogonKeyHandle key;
    noteOpen();

    const bool on = f.LogonMessageOption[1].selected();
    const bool optionActed = f.LogonMessageOption[0].userActed() || f.LogonMessageOption[1].userActed();
    const bool captionEdited = f.LogonCaptionText.userActed();
    const bool textEdited = f.LogonMessageText.userActed();
    const bool offByChoice = optionActed && !on;

    // A text too long to read showed the whole group as off: the group stays as stored, caption
    // and all, until the user acts on anything in it. Any other kept caption or text stays
    // until its box is edited or the user turns the notice off.
    const bool groupKept = kept.legalNoticeText == Keep::TooLong && !(optionActed || captionEdited || textEdited);
    const bool keepText = groupKept || (kept.legalNoticeText == Keep::NotExact && !(textEdited || offByChoice));
    const bool keepCaption = groupKept || keptUntouched(kept.legalNoticeCaption, captionEdited || offByChoice);

    // Texts are read only while the notice is on.
    if (!keepCaption) {
        if (on) ValueText = f.LogonCaptionText.text();
        setText(key, record, LegalNoticeCaption, on ? ValueText : std::u16string());
    }
    if (!keepText) {
        if (on) ValueText = f.LogonMessageText.text();
        setText(key, record, LegalNoticeText, on ? ValueText : std::u16string());
    }
    closeKey(key);
}

void ResetSaveFailure() { saveFailure = SaveFailure{}; }

const SaveFailure& LastSaveFailure() { return saveFailure; }

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
    std::u16string detail = platform::FailureDetailText(failure.detail);
    if (!detail.empty()) detail = u"\n\n" + detail;
    return u"設定を登録できませんでした。\n\n" + what + u"\n理由: " + platform::StatusText(failure.code) + detail +
           u"\n\n入力した内容はそのまま残っています。もう一度「登録」を押すか、「キャンセル」で終了してください。";
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
