// `vantorio show`: the window loaded in memory, its controls read back as the settings, and
// each value that loading kept as stored shown with its reason and its stored form.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "commands/run.h"
#include "commands/values.h"
#include "commands/window_in_memory.h"
#include "commands/words.h"
#include "platform/console.h"
#include "platform/registry.h"
#include "platform/utf8.h"

#ifndef _WIN32
#include "platform/hive/choice.h"
#endif

namespace commands {

namespace {

using winlogon::Keep;

// One line of the output: a setting as the window shows it, and the value behind it.
struct Shown {
    const char* label;       // for people
    const char* key;         // for scripts
    const char* value;       // the value that stands behind it, or null
    Keep keep = Keep::No;
    std::optional<bool> flag;
    std::u16string text;
};

std::u16string ascii(std::string_view text) { return {text.begin(), text.end()}; }

std::optional<platform::StoredValue> stored(const char* value) {
    constexpr const char* WinlogonKey = "Software\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon";
    platform::Key key = 0;
    platform::StoredValue s;
    const bool read = platform::RegOpenKeyExA(platform::LocalMachine, WinlogonKey, 0, platform::KeyRead, &key) == 0 &&
                      platform::QueryValueStored(key, value, &s.type, &s.data) == 0;
    platform::RegCloseKey(key);
    return read ? std::optional(s) : std::nullopt;
}

std::vector<Shown> settingsOf(window::Form1& f) {
    const winlogon::Kept& k = winlogon::KeptAsLoaded();
    const bool passwordSet = !f.PassWordText.text().empty() || k.defaultPassword != Keep::No;
    return {
        {"automatic logon", "autoLogon", "AutoAdminLogon", k.autoAdminLogon, f.AutoLogonOption[1].selected(), {}},
        {"user name", "userName", "DefaultUserName", k.defaultUserName, std::nullopt, f.UserText.text()},
        {"password", "passwordSet", "DefaultPassword", k.defaultPassword, passwordSet, {}},
        {"hide last user name", "hideLastUserName", "DontDisplayLastUserName", k.dontDisplayLastUserName,
         f.LastLogonCheck.value() == 1, {}},
        {"shutdown without logon", "shutdownWithoutLogon", "ShutdownWithoutLogon", k.shutdownWithoutLogon,
         f.ShutdownCheck.value() == 1, {}},
        {"notice", "notice", nullptr, Keep::No, f.LogonMessageOption[1].selected(), {}},
        {"notice caption", "noticeCaption", "LegalNoticeCaption", k.legalNoticeCaption, std::nullopt, f.LogonCaptionText.text()},
        {"notice text", "noticeText", "LegalNoticeText", k.legalNoticeText, std::nullopt, f.LogonMessageText.text()},
    };
}

// Never the password: only whether there is one, and why it is kept.
bool showsStoredForm(const Shown& s) { return s.keep != Keep::No && std::string_view(s.value) != "DefaultPassword"; }

std::u16string hiveName() {
#ifdef _WIN32
    return u"HKEY_LOCAL_MACHINE\\SOFTWARE";
#else
    return platform::console::escapedPath(platform::hive::chosenHive().path);
#endif
}

std::u16string forPeople(const std::vector<Shown>& settings) {
    std::u16string out = u"hive: " + hiveName() + u"\n";
    out += u"state: " + ascii(StateWords(platform::CurrentHiveCondition())) + u"\n";
    for (const Shown& s : settings) {
        const bool password = std::string_view(s.key) == "passwordSet";
        out += ascii(s.label) + u": ";
        if (s.flag) out += password ? (*s.flag ? u"set" : u"not set") : (*s.flag ? u"on" : u"off");
        else out += platform::console::escaped(s.text);
        out += u"\n";
        if (s.keep == Keep::No) continue;
        out += u"  kept as stored (" + ascii(KeepWords(s.keep)) + u")";
        if (showsStoredForm(s))
            if (const std::optional<platform::StoredValue> form = stored(s.value)) out += u": " + StoredForPeople(*form);
        out += u"\n";
    }
    return out;
}

std::u16string forScripts(const std::vector<Shown>& settings) {
#ifdef _WIN32
    std::u16string out = u"{\"version\": 1, \"hive\": null";
#else
    std::u16string out = u"{\"version\": 1, \"hive\": " + Json(platform::fromUtf8Lenient(platform::hive::chosenHive().path));
#endif
    out += u", \"state\": " + Json(ascii(StateKey(platform::CurrentHiveCondition())));
    std::u16string kept, absent;
    for (const Shown& s : settings) {
        out += u", " + Json(ascii(s.key)) + u": " + (s.flag ? (*s.flag ? u"true" : u"false") : Json(s.text));
        // A value that is not stored at all, told apart from one stored empty.
        const std::optional<platform::StoredValue> form = s.value ? stored(s.value) : std::nullopt;
        if (s.value && !form) absent += (absent.empty() ? u"" : u", ") + Json(ascii(s.value));
        if (s.keep == Keep::No) continue;
        kept += (kept.empty() ? u"" : u", ") + Json(ascii(s.value)) + u": {\"reason\": " + Json(ascii(KeepKey(s.keep)));
        if (showsStoredForm(s) && form) kept += u", \"stored\": " + JsonStored(*form);
        kept += u"}";
    }
    return out + u", \"kept\": {" + kept + u"}, \"absent\": [" + absent + u"]}\n";
}

} // namespace

int Show(const CommandLine& line, const Io& io) {
    WindowInMemory window;
    if (!window.loaded()) return io.fail(ExitRefused, "the settings could not be loaded");
    const std::vector<Shown> settings = settingsOf(window.form1());
    const bool written = line.json ? platform::console::writeUtf8(io.out, forScripts(settings))
                                   : platform::console::write(io.out, forPeople(settings));
    if (!written || std::fflush(io.out) != 0) return io.fail(ExitRefused, "cannot write to standard output");
    return 0;
}

} // namespace commands
