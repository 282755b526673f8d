// Module1: the Winlogon settings store. Reads the seven Winlogon values into the main
// window's controls and writes them back from the controls' state.
#pragma once

#include <cstdint>
#include <string>

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

// What kept the last save from storing everything: the value or step that failed and the
// system's reason. Empty after a save that stored everything.
struct SaveFailure {
    std::u16string step;    // a value name, or what was done to the key
    platform::Status code = platform::status::Success;
    explicit operator bool() const { return code != platform::status::Success; }
};
const SaveFailure& LastSaveFailure();

} // namespace winlogon
