// `vantorio set`: the window loaded in memory, each setting done to its control as a user does
// it in the window, then the register button. Each setting is judged by the state the window
// will be in when register is pressed, so that a setting accepted is a setting stored: what
// the window would refuse or not store is refused before anything is written, and what
// register cannot save is reported as the window reports it. A dry run presses register in a
// rehearsal of the registry, which changes nothing and says what would have changed.
#include <array>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "commands/run.h"
#include "commands/values.h"
#include "commands/window_in_memory.h"
#include "commands/words.h"
#include "platform/codepage.h"
#include "platform/console.h"
#include "platform/registry.h"
#include "platform/utf8.h"
#include "winlogon/Module1.h"

namespace commands {

namespace {

using winlogon::Keep;

// The most characters the window lets a user type into the user name and password boxes.
constexpr std::size_t TypingLimit = 16;
// The most bytes a notice file is read for: a notice of 1023 code page 932 bytes takes at
// most three bytes of UTF-8 for each (a half-width katakana), after a byte order mark and
// before a line end.
constexpr std::size_t NoticeFileLimit = 3 * winlogon::NoticeMaxBytes + 3 + 2;

// A setting with its text read: from the argument, standard input or a file.
struct Action {
    const Setting* setting;
    std::u16string text;
};

// The settings by the control they act on; each control is named once at most.
class Asked {
public:
    explicit Asked(const std::vector<Action>& actions) {
        for (const Action& a : actions) of_[static_cast<std::size_t>(a.setting->target)] = &a;
    }
    const Action* operator()(Target t) const { return of_[static_cast<std::size_t>(t)]; }

private:
    std::array<const Action*, 8> of_{};
};

bool isOption(Target t) { return t == Target::AutoLogon || t == Target::Notice; }
bool isCheckBox(Target t) { return t == Target::HideLastUser || t == Target::Shutdown; }

std::u16string_view controlOf(Target t) {
    switch (t) {
    case Target::AutoLogon: return u"AutoLogonOption";
    case Target::User: return u"UserText";
    case Target::Password: return u"PassWordText";
    case Target::HideLastUser: return u"LastLogonCheck";
    case Target::Shutdown: return u"ShutdownCheck";
    case Target::Notice: return u"LogonMessageOption";
    case Target::Caption: return u"LogonCaptionText";
    case Target::NoticeText: return u"LogonMessageText";
    }
    return {};
}

std::string codePoint(char16_t c) {
    char out[8];
    std::snprintf(out, sizeof out, "U+%04X", unsigned(c));
    return out;
}

// Why the window's box does not take `text`: what a user could not type into it. Nothing of a
// password is told, not even its length.
std::string refusedWords(Target t, std::u16string_view text) {
    const bool secret = t == Target::Password;
    if (const std::size_t at = platform::cp932::firstUnmappable(text); at != std::u16string_view::npos)
        return secret ? "the password holds a character that code page 932 cannot hold"
                      : "code page 932 cannot hold " + Quoted(platform::toUtf8(text.substr(at, 1))) + " (" + codePoint(text[at]) + ")";
    if ((t == Target::User || secret) && text.size() > TypingLimit)
        return (secret ? std::string("the password is longer than") : std::to_string(text.size()) + " characters are more than") +
               " the " + std::to_string(TypingLimit) + " characters the window takes";
    const std::size_t bytes = platform::cp932::byteCount(text);
    if (bytes > winlogon::NoticeMaxBytes)
        return std::to_string(bytes) + " bytes in code page 932 are more than the " +
               std::to_string(winlogon::NoticeMaxBytes) + " the window takes";
    return "the window does not take this text";
}

// The text of a notice file: a regular file of UTF-8, read no further than a notice can reach.
std::optional<std::u16string> noticeFile(const std::string& name, std::string& why) {
    namespace fs = std::filesystem;
    const fs::path path = platform::console::argumentPath(name);
    const std::string shown = Quoted(name);
    std::error_code error;
    const fs::file_status status = fs::status(path, error);
    std::string kind;
    switch (status.type()) {
    case fs::file_type::regular: break;
    case fs::file_type::not_found: why = shown + " does not exist"; return std::nullopt;
    case fs::file_type::directory: kind = "a folder"; break;
    case fs::file_type::fifo: kind = "a pipe"; break;
    case fs::file_type::block:
    case fs::file_type::character: kind = "a device"; break;
    case fs::file_type::socket: kind = "a socket"; break;
    default:
        why = "cannot read " + shown + (error ? ": " + error.message() : std::string());
        return std::nullopt;
    }
    if (!kind.empty()) {
        why = shown + " is " + kind + ", not a text file";
        return std::nullopt;
    }
    const std::string tooLarge = shown + " is larger than any notice text (at most " +
                                 std::to_string(winlogon::NoticeMaxBytes) + " bytes of code page 932)";
    if (const std::uintmax_t size = fs::file_size(path, error); !error && size > NoticeFileLimit) {
        why = tooLarge;
        return std::nullopt;
    }
    std::ifstream file(path, std::ios::binary);
    std::string bytes(NoticeFileLimit + 1, '\0');
    if (file) file.read(bytes.data(), std::streamsize(bytes.size()));
    if (!file && !file.eof()) {
        why = "cannot read " + shown + ": " + std::strerror(errno);
        return std::nullopt;
    }
    bytes.resize(std::size_t(file.gcount()));
    if (bytes.size() > NoticeFileLimit) {
        why = tooLarge;
        return std::nullopt;
    }
    if (bytes.starts_with("\xEF\xBB\xBF")) bytes.erase(0, 3);
    if (bytes.ends_with("\n")) bytes.pop_back();
    if (bytes.ends_with("\r")) bytes.pop_back();
    std::optional<std::u16string> text = platform::fromUtf8(bytes);
    if (!text) why = shown + " is not UTF-8 text";
    return text;
}

// The text of a setting, or why there is none: an empty string is text too.
std::optional<std::u16string> textOf(const Setting& s, std::string& why) {
    switch (s.source) {
    case Setting::Source::Argument: {
        if (s.target == Target::Password) return std::u16string();  // --no-password
        std::optional<std::u16string> text = platform::console::argumentText(s.text);
        if (!text) why = "not text in the encoding of the locale";
        return text;
    }
    case Setting::Source::StandardInput: {
        platform::console::InputLine in = platform::console::readLine(true, u"Password for automatic logon: ");
        if (in.ended) why = "no line on standard input";
        else if (in.overlong) why = "the line on standard input is far longer than any password the window takes";
        else if (in.more) why = "standard input holds more than one line: give the password alone on it";
        else if (!in.text) why = "the line on standard input is no text in the terminal's encoding";
        else if (in.text->empty()) why = "the line on standard input is empty: to remove the password, use --no-password";
        return why.empty() ? std::move(in.text) : std::nullopt;
    }
    case Setting::Source::File: return noticeFile(s.text, why);
    }
    return std::nullopt;
}

std::string keptWords(const char* value, Keep keep) {
    return std::string(value) + ", which is kept as stored (" + std::string(KeepWords(keep)) + ")";
}

// A setting as the script wrote it, but for its text: "--notice=on", "--user".
std::string named(const Setting& s) {
    return isOption(s.target) || isCheckBox(s.target) ? s.option + (s.on ? "=on" : "=off") : s.option;
}

// Why a setting would not be stored as asked, judged by the state the window will be in when
// register is pressed; empty when it will be.
std::string stateRefusal(const Action& a, const Asked& asked, window::Form1& f, const winlogon::Kept& kept) {
    const Action* autoLogon = asked(Target::AutoLogon);
    const Action* notice = asked(Target::Notice);
    const bool autoOnNow = f.AutoLogonOption[1].selected();
    const bool autoOn = autoLogon ? autoLogon->setting->on : autoOnNow;
    const bool noticeOn = notice ? notice->setting->on : f.LogonMessageOption[1].selected();
    switch (a.setting->target) {
    case Target::HideLastUser:
    case Target::Shutdown:
        if (!autoOn) return {};
        return autoLogon ? "stored only with automatic logon off, not with --auto-logon=on"
                         : "stored only with automatic logon off, and it is on: add --auto-logon=off";
    case Target::Caption:
    case Target::NoticeText:
        if (noticeOn) return {};
        return notice ? "stored only with the notice on, not with --notice=off"
                      : "stored only with the notice on, and it is off: add --notice=on";
    case Target::Notice: {
        // The window shows the notice on when it loads a text, and stores what its box holds.
        if (!a.setting->on) return {};
        if (const Action* text = asked(Target::NoticeText))
            return text->text.empty() ? "the notice is on only with a text, and the text given is empty" : "";
        if (kept.legalNoticeText != Keep::No && f.LogonMessageText.text().empty())
            return "LegalNoticeText is kept as stored (" + std::string(KeepWords(kept.legalNoticeText)) +
                   ") and shows the notice as off; --notice=on alone does not change that: add --notice-text";
        if (f.LogonMessageText.text().empty()) return "the notice is on only with a text, and there is none: add --notice-text";
        return {};
    }
    case Target::User:
    case Target::Password:
        // The boxes take edits while automatic logon is on. Where it is off and stays so, a
        // user turns it on and off again around the edit, which rewrites the values the option
        // decides: refused where the script did not name one that is kept as stored.
        if (autoLogon || autoOnNow) return {};
        if (kept.autoAdminLogon != Keep::No)
            return "its box takes edits with automatic logon on, and turning it on and off again would rewrite " +
                   keptWords("AutoAdminLogon", kept.autoAdminLogon) + ": add --auto-logon=on or --auto-logon=off";
        if (kept.dontDisplayLastUserName != Keep::No && !asked(Target::HideLastUser))
            return "its box takes edits with automatic logon on, and turning it on and off again would rewrite " +
                   keptWords("DontDisplayLastUserName", kept.dontDisplayLastUserName) +
                   ": add --hide-last-user=on or --hide-last-user=off";
        return {};
    case Target::AutoLogon: return {};
    }
    return {};
}

// Does the setting to its control as a user does. Empty when done; else why not.
std::string act(runtime::memory::Form& f, const Action& a) {
    const Setting& s = *a.setting;
    const std::u16string_view name = controlOf(s.target);
    if (isOption(s.target)) {
        f.userOption(name, s.on ? 1 : 0).userClick();
        return {};
    }
    if (isCheckBox(s.target)) {
        runtime::memory::CheckBox& box = f.userCheckBox(name);
        if (!box.enabled()) return "the window does not let it be changed now";
        // Set even where it is already: clicked twice, as a user who makes sure.
        if (box.value() == (s.on ? 1 : 0)) box.userClick();
        box.userClick();
        return {};
    }
    runtime::memory::TextBox& box = f.userTextBox(name);
    if (!box.enabled()) return "the window does not let it be changed now";
    // As a user does: the box emptied, then the text typed.
    box.userEdit(u"");
    return box.userEdit(a.text) ? std::string() : refusedWords(s.target, a.text);
}

// Acts on the controls in the order a user would: the automatic logon option on while its
// boxes are edited, then as asked; the check boxes; the notice option, then its boxes.
std::optional<std::pair<const Action*, std::string>> actAll(WindowInMemory& window, const Asked& asked) {
    runtime::memory::Form& controls = window.controls();
    window::Form1& f = window.form1();
    std::optional<std::pair<const Action*, std::string>> refused;
    auto run = [&](const Action* a) {
        if (!a || refused) return;
        if (std::string why = act(controls, *a); !why.empty()) refused.emplace(a, std::move(why));
    };
    const bool boxes = asked(Target::User) || asked(Target::Password);
    const bool turnedOn = boxes && !f.AutoLogonOption[1].selected();
    if (turnedOn) controls.userOption(controlOf(Target::AutoLogon), 1).userClick();
    run(asked(Target::User));
    run(asked(Target::Password));
    if (asked(Target::AutoLogon)) run(asked(Target::AutoLogon));
    else if (turnedOn) controls.userOption(controlOf(Target::AutoLogon), 0).userClick();
    run(asked(Target::HideLastUser));
    run(asked(Target::Shutdown));
    run(asked(Target::Notice));
    run(asked(Target::Caption));
    run(asked(Target::NoticeText));
    return refused;
}

// One line of a dry run: the value as stored, and as register would leave it. The password
// only as there or not.
std::u16string changeLine(const platform::ValueChange& c) {
    const bool password = c.name == u"DefaultPassword";
    const std::u16string before = password ? (c.before ? u"set" : u"not set") : c.before ? ValueForPeople(*c.before) : u"absent";
    const std::u16string after = password ? (c.after ? u"set" : u"removed") : c.after ? ValueForPeople(*c.after) : u"removed";
    return platform::console::escaped(c.name) + u": " + before + u" -> " + after + u"\n";
}

} // namespace

int Set(const CommandLine& line, const Io& io) {
    std::vector<Action> actions;
    actions.reserve(line.settings.size());
    for (const Setting& s : line.settings) {
        std::string why;
        std::optional<std::u16string> text = isOption(s.target) || isCheckBox(s.target) ? std::u16string() : textOf(s, why);
        if (!text) return io.fail(ExitUsage, s.option + ": " + why);
        // The boxes hold one line: a line break is nothing a user can type into them.
        for (char16_t c : *text)
            if (c < 0x20 || c == 0x7F)
                return io.fail(ExitUsage, s.option + ": a control character (such as a line break), which the window's one-line box does not take");
        actions.push_back({&s, std::move(*text)});
    }
    const Asked asked(actions);

    WindowInMemory window;
    if (!window.loaded()) return io.fail(ExitRefused, "the settings could not be loaded");
    window::Form1& f = window.form1();
    const winlogon::Kept& kept = winlogon::KeptAsLoaded();
    for (const Action& a : actions)
        if (const std::string why = stateRefusal(a, asked, f, kept); !why.empty())
            return io.fail(ExitUsage, named(*a.setting) + ": " + why);
    // Turning automatic logon off leaves the password as it is, as in the window.
    const Action* autoLogon = asked(Target::AutoLogon);
    const bool passwordStays = autoLogon && !autoLogon->setting->on && !asked(Target::Password) &&
                               (!f.PassWordText.text().empty() || kept.defaultPassword != Keep::No);

    if (const auto refused = actAll(window, asked)) return io.fail(ExitUsage, named(*refused->first->setting) + ": " + refused->second);

    if (line.dryRun) platform::BeginRehearsal();
    const bool registered = window.clickRegister();
    const std::vector<platform::ValueChange> changes = line.dryRun ? platform::EndRehearsal() : std::vector<platform::ValueChange>();
    if (!registered) {
        const winlogon::SaveFailure& failure = winlogon::LastSaveFailure();
        if (failure) return io.fail(ExitRefused, "register refused: " + SaveFailureWords(failure));
        return io.fail(ExitRefused, "register ended with an unexpected error: " +
                                        (window.said().empty() ? std::string() : platform::toUtf8(window.said().back())));
    }
    if (line.dryRun) {
        std::u16string out;
        for (const platform::ValueChange& c : changes) out += changeLine(c);
        if (!platform::console::write(io.out, out) || std::fflush(io.out) != 0)
            return io.fail(ExitRefused, "cannot write to standard output");
    }
    if (passwordStays) io.say("--auto-logon=off: the password stays stored; add --no-password to remove it");
    // Saved: the new hive is in place, only the system's flush of it is in doubt.
    if (!line.dryRun && platform::ChangesUnconfirmed())
        io.say("warning: the settings were saved, but the system could not confirm that they reached the disk: "
               "check the disk, and run 'vantorio show' to see them");
    return 0;
}

} // namespace commands
