// `vantorio set`: the window loaded in memory, each setting done to its control as a user does
// it in the window, then the register button. What the window would refuse is refused before
// anything is written; what register cannot save is reported as the window reports it.
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "commands/run.h"
#include "commands/window_in_memory.h"
#include "commands/words.h"
#include "platform/codepage.h"
#include "platform/console.h"
#include "platform/registry.h"
#include "platform/utf8.h"
#include "winlogon/Module1.h"

namespace commands {

namespace {

// The most characters the window lets a user type into the user name and password boxes.
constexpr std::size_t TypingLimit = 16;

// A setting with its text read: from the argument, standard input or a file.
struct Action {
    const Setting* setting;
    std::u16string text;
    bool done = false;
};

bool isTextBox(Target t) { return t == Target::User || t == Target::Password || t == Target::Caption || t == Target::NoticeText; }

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

// Why a control cannot take the setting now, and what makes it usable.
std::string disabledWords(Target t) {
    switch (t) {
    case Target::User: return "the user name can be changed only while automatic logon is on: add --auto-logon=on";
    case Target::Password: return "the password can be changed only while automatic logon is on: add --auto-logon=on";
    case Target::HideLastUser:
    case Target::Shutdown: return "this logon screen setting can be changed only while automatic logon is off: add --auto-logon=off";
    case Target::Caption: return "the caption can be changed only while the notice is on: add --notice=on";
    case Target::NoticeText: return "the notice text can be changed only while the notice is on: add --notice=on";
    default: return {};
    }
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
                      : "code page 932 cannot hold '" + platform::toUtf8(text.substr(at, 1)) + "' (" + codePoint(text[at]) + ")";
    if ((t == Target::User || secret) && text.size() > TypingLimit)
        return (secret ? std::string("the password is longer than") : std::to_string(text.size()) + " characters are more than") +
               " the " + std::to_string(TypingLimit) + " characters the window takes";
    const std::size_t bytes = platform::cp932::byteCount(text);
    if (bytes > winlogon::NoticeMaxBytes)
        return std::to_string(bytes) + " bytes in code page 932 are more than the " +
               std::to_string(winlogon::NoticeMaxBytes) + " the window takes";
    return "the window does not take this text";
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
        bool ended = false;
        std::optional<std::u16string> line = platform::console::readLine(true, ended);
        if (ended) why = "no line on standard input";
        else if (!line) why = "the line on standard input is no text in the terminal's encoding";
        else if (line->empty()) why = "the line on standard input is empty: to remove the password, use --no-password";
        return why.empty() ? line : std::nullopt;
    }
    case Setting::Source::File: {
        std::ifstream file(s.text, std::ios::binary);
        if (!file) {
            why = "cannot read '" + s.text + "'";
            return std::nullopt;
        }
        std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        if (bytes.starts_with("\xEF\xBB\xBF")) bytes.erase(0, 3);
        if (bytes.ends_with("\n")) bytes.pop_back();
        if (bytes.ends_with("\r")) bytes.pop_back();
        std::optional<std::u16string> text = platform::fromUtf8(bytes);
        if (!text) why = "'" + s.text + "' is not UTF-8 text";
        return text;
    }
    }
    return std::nullopt;
}

// Does the setting to its control as a user does, when the control is usable: false when it
// is not (yet). A refusal of the window's lands in `why`.
bool act(runtime::memory::Form& f, Action& a, std::string& why) {
    const Setting& s = *a.setting;
    const std::u16string_view name = controlOf(s.target);
    if (s.target == Target::AutoLogon || s.target == Target::Notice) {
        f.userOption(name, s.on ? 1 : 0).userClick();
        return true;
    }
    if (isTextBox(s.target)) {
        runtime::memory::TextBox& box = f.userTextBox(name);
        if (!box.enabled()) return false;
        // As a user does: the box emptied, then the text typed.
        box.userEdit(u"");
        if (!box.userEdit(a.text)) why = refusedWords(s.target, a.text);
        return true;
    }
    runtime::memory::CheckBox& box = f.userCheckBox(name);
    if (!box.enabled()) return false;
    // Set even where it is already: clicked twice, as a user who makes sure.
    if (box.value() == (s.on ? 1 : 0)) box.userClick();
    box.userClick();
    return true;
}

} // namespace

int Set(const CommandLine& line, const Io& io) {
    std::vector<Action> actions;
    for (const Setting& s : line.settings) {
        std::string why;
        std::optional<std::u16string> text = s.target == Target::AutoLogon || s.target == Target::Notice ||
                                                     s.target == Target::HideLastUser || s.target == Target::Shutdown
                                                 ? std::u16string()
                                                 : textOf(s, why);
        if (!text) return io.fail(ExitUsage, s.option + ": " + why);
        // The boxes hold one line: a line break is nothing a user can type into them.
        for (char16_t c : *text)
            if (c < 0x20 || c == 0x7F)
                return io.fail(ExitUsage, s.option + ": a control character (such as a line break), which the window's one-line box does not take");
        actions.push_back({&s, std::move(*text)});
    }

    WindowInMemory window;
    if (!window.loaded()) return io.fail(ExitRefused, "the settings could not be loaded");
    runtime::memory::Form& f = window.controls();
    // A control is acted on while it is usable: before the on|off settings where they make it
    // unusable, after them where they make it usable, as a user in the window would.
    auto actOnUsable = [&](bool options) -> std::optional<int> {
        for (Action& a : actions) {
            const bool option = a.setting->target == Target::AutoLogon || a.setting->target == Target::Notice;
            if (a.done || option != options) continue;
            std::string why;
            a.done = act(f, a, why);
            if (!why.empty()) return io.fail(ExitUsage, a.setting->option + ": " + why);
        }
        return std::nullopt;
    };
    for (bool options : {false, true, false})
        if (const std::optional<int> refused = actOnUsable(options)) return *refused;
    for (const Action& a : actions)
        if (!a.done) return io.fail(ExitUsage, a.setting->option + ": " + disabledWords(a.setting->target));

    if (window.clickRegister()) {
        // Saved: the new hive is in place, only the system's flush of it is in doubt.
        if (platform::ChangesUnconfirmed())
            io.fail(0, "warning: the settings were saved, but the system could not confirm that they reached the disk: "
                       "check the disk, and run 'vantorio show' to see them");
        return 0;
    }
    const winlogon::SaveFailure& failure = winlogon::LastSaveFailure();
    if (failure) return io.fail(ExitRefused, "register refused: " + SaveFailureWords(failure));
    return io.fail(ExitRefused, "register ended with an unexpected error: " +
                                    (window.said().empty() ? std::string() : platform::toUtf8(window.said().back())));
}

} // namespace commands
