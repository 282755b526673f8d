// Module1: the Winlogon settings store. Reads the seven Winlogon values into the main
// window's controls and writes them back from the controls' state.
#pragma once

#include <string>
#include <string_view>

#include "platform/registry.h"
#include "runtime/controls.h"

namespace winlogon {

// The controls of the main window that the store reads and sets, by the window's names.
// The window attaches its one instance before the first load.
struct Form1Controls {
    runtime::OptionArray& AutoLogonOption;
    runtime::CheckBox& LastLogonCheck;
    runtime::CheckBox& ShutdownCheck;
    runtime::TextBox& UserText;
    runtime::TextBox& PassWordText;
    runtime::OptionArray& LogonMessageOption;
    runtime::TextBox& LogonCaptionText;
    runtime::TextBox& LogonMessageText;
};
void Attach(Form1Controls* form);

// The result of the last registry operation; 0 when the program starts.
extern platform::Status LastResult;
// The working copy of the text being saved; empty when the program starts.
extern std::u16string ValueText;

void LoadAutoLogonSettings();
void LoadLogonNotice();
void SaveAutoLogonSettings();
void SaveLogonNotice();

// The first thing that kept the saves since the last ResetSaveFailure from storing
// everything: what was done, to which value, and the system's code.
struct SaveFailure {
    enum class Step { None, Open, Set, Delete, Close, TooLong };
    Step step = Step::None;
    std::u16string value;  // the value's name, for Set, Delete and TooLong
    platform::Status code = platform::status::Success;
    platform::FailureDetail detail;  // what the registry knows beyond the code
    explicit operator bool() const { return step != Step::None; }
};
void ResetSaveFailure();
const SaveFailure& LastSaveFailure();
// The message that tells the user what failed and why, in Japanese.
std::u16string SaveFailureMessage(const SaveFailure& failure);

// Whether the user may edit a text box's text from `current` to `proposed`: the store keeps
// only what code page 932 can hold, and at most `maxBytes` bytes of it (0: no byte limit).
bool StorableEdit(std::u16string_view current, std::u16string_view proposed, std::size_t maxBytes);
// The most bytes a notice caption or text may take, so that it is stored whole with its NUL.
inline constexpr std::size_t NoticeMaxBytes = 1023;

} // namespace winlogon
