// `vantorio show`: the window loaded in memory, its controls read back as the settings, and
// each value that loading kept as stored shown with its reason and its stored form.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "commands/run.h"
#include "commands/window_in_memory.h"
#include "commands/words.h"
#include "platform/bytes.h"
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

// A value as the hive stores it.
struct Stored {
    std::uint32_t type = 0;
    std::string bytes;
};

std::u16string ascii(std::string_view text) { return {text.begin(), text.end()}; }

std::u16string typeName(std::uint32_t type) {
    static constexpr const char* Names[] = {"REG_NONE", "REG_SZ", "REG_EXPAND_SZ", "REG_BINARY", "REG_DWORD",
                                            "REG_DWORD_BIG_ENDIAN", "REG_LINK", "REG_MULTI_SZ"};
    if (type < std::size(Names)) return ascii(Names[type]);
    if (type == 11) return u"REG_QWORD";
    return u"type " + ascii(std::to_string(type));
}

bool isText(std::uint32_t type) { return type == platform::RegSz || type == platform::RegExpandSz || type == platform::RegMultiSz; }

std::string hex(std::string_view bytes, const char* between) {
    static constexpr char Digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char b : bytes) {
        if (!out.empty()) out += between;
        out += Digits[b >> 4];
        out += Digits[b & 15];
    }
    return out;
}

// A text on one line: control characters, and in quotes the quote and the backslash, escaped.
std::u16string escaped(std::u16string_view text, bool quoted) {
    std::u16string out;
    for (char16_t c : text) {
        if (c == u'\n') out += u"\\n";
        else if (c == u'\t') out += u"\\t";
        else if (c == u'\r') out += u"\\r";
        else if (c == 0) out += u"\\0";
        else if (c < 0x20 || c == 0x7F) out += ascii("\\x" + hex(std::string(1, char(c)), ""));
        else if (quoted && (c == u'"' || c == u'\\')) out += {u'\\', c};
        else out += c;
    }
    return quoted ? u"\"" + out + u"\"" : out;
}

// The stored form for people: the type, then the text in quotes, the number, or the bytes.
std::u16string storedForPeople(const Stored& s) {
    std::u16string out = typeName(s.type) + u" ";
    if (isText(s.type)) {
        out += escaped(platform::fromUtf16le(s.bytes), true);
        if (s.bytes.size() % 2) out += u" and the odd byte " + ascii(hex(s.bytes.substr(s.bytes.size() - 1), ""));
    } else if (s.type == platform::RegDword && s.bytes.size() == 4) {
        out += ascii(std::to_string(platform::le32(s.bytes, 0)));
    } else {
        out += s.bytes.empty() ? u"(no data)" : ascii(hex(s.bytes, " "));
    }
    return out;
}

std::u16string json(std::u16string_view text) {
    std::u16string out = u"\"";
    for (char16_t c : text) {
        if (c == u'"' || c == u'\\') out += {u'\\', c};
        else if (c == u'\n') out += u"\\n";
        else if (c < 0x20 || c == 0x7F) out += ascii("\\u00" + hex(std::string(1, char(c)), ""));
        else out += c;
    }
    return out + u"\"";
}

std::u16string jsonStored(const Stored& s) {
    std::u16string out = u"{\"type\": " + json(typeName(s.type)) + u", \"bytes\": " + json(ascii(hex(s.bytes, "")));
    if (isText(s.type)) out += u", \"text\": " + json(platform::fromUtf16le(s.bytes));
    if (s.type == platform::RegDword && s.bytes.size() == 4) out += u", \"number\": " + ascii(std::to_string(platform::le32(s.bytes, 0)));
    return out + u"}";
}

std::optional<Stored> stored(const char* value) {
    constexpr const char* WinlogonKey = "Software\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon";
    platform::Key key = 0;
    Stored s;
    const bool read = platform::RegOpenKeyExA(platform::LocalMachine, WinlogonKey, 0, platform::KeyRead, &key) == 0 &&
                      platform::QueryValueStored(key, value, &s.type, &s.bytes) == 0;
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
    return platform::fromUtf8Lenient(platform::hive::chosenHive().path);
#endif
}

std::u16string forPeople(const std::vector<Shown>& settings) {
    std::u16string out = u"hive: " + hiveName() + u"\n";
    out += u"state: " + ascii(StateWords(platform::CurrentHiveCondition())) + u"\n";
    for (const Shown& s : settings) {
        const bool password = std::string_view(s.key) == "passwordSet";
        out += ascii(s.label) + u": ";
        if (s.flag) out += password ? (*s.flag ? u"set" : u"not set") : (*s.flag ? u"on" : u"off");
        else out += escaped(s.text, false);
        out += u"\n";
        if (s.keep == Keep::No) continue;
        out += u"  kept as stored (" + ascii(KeepWords(s.keep)) + u")";
        if (showsStoredForm(s))
            if (const std::optional<Stored> form = stored(s.value)) out += u": " + storedForPeople(*form);
        out += u"\n";
    }
    return out;
}

std::u16string forScripts(const std::vector<Shown>& settings) {
#ifdef _WIN32
    std::u16string out = u"{\"hive\": null";
#else
    std::u16string out = u"{\"hive\": " + json(hiveName());
#endif
    out += u", \"state\": " + json(ascii(StateKey(platform::CurrentHiveCondition())));
    std::u16string kept;
    for (const Shown& s : settings) {
        out += u", " + json(ascii(s.key)) + u": " + (s.flag ? (*s.flag ? u"true" : u"false") : json(s.text));
        if (s.keep == Keep::No) continue;
        kept += (kept.empty() ? u"" : u", ") + json(ascii(s.value)) + u": {\"reason\": " + json(ascii(KeepKey(s.keep)));
        if (showsStoredForm(s))
            if (const std::optional<Stored> form = stored(s.value)) kept += u", \"stored\": " + jsonStored(*form);
        kept += u"}";
    }
    return out + u", \"kept\": {" + kept + u"}}\n";
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
