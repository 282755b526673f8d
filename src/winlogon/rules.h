// What register does with each Winlogon value, decided from the window's controls and from what
// loading kept: write the value as the window shows it, delete it, or leave it as stored. The
// rules stand apart from the registry, so that each can be tried on controls in memory.
#pragma once

#include <string>

#include "runtime/controls.h"

namespace winlogon {

// The controls of the main window that the store reads and sets, by the window's names.
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

// Why loading keeps a value as stored. Register writes a kept value back only once the user
// has acted on the control that shows it: anything else could not be written back as it is.
enum class Keep {
    No,
    TooLong,         // longer than its read allows: shown as absent
    OtherType,       // not REG_SZ: shown as its bytes read as text
    DataAfterNul,    // data behind the NUL that ends its text: shown up to the NUL
    NotCodePageText, // bytes that are no code page 932 text
    BeyondCodePage,  // UTF-16 that code page 932 cannot hold: shown with "?" or a look-alike
    WithNoticeText,  // the caption of a kept notice text that shows the notice as off
};

struct Kept {
    Keep autoAdminLogon = Keep::No;
    Keep dontDisplayLastUserName = Keep::No;
    Keep shutdownWithoutLogon = Keep::No;
    Keep defaultUserName = Keep::No;
    Keep defaultPassword = Keep::No;
    Keep legalNoticeCaption = Keep::No;
    Keep legalNoticeText = Keep::No;
};

// What register does with one value.
struct Step {
    enum class Action { Leave, Write, Delete };
    Action action = Action::Leave;
    // What the window shows for the value: written unless the step leaves the value alone (for
    // the texts, what their box held when it was read).
    std::u16string text;
    friend bool operator==(const Step&, const Step&) = default;
};

// The five automatic-logon values, in the order register handles them. The check boxes are
// read only while automatic logon is off; the two text boxes always.
struct AutoLogonSteps {
    Step autoAdminLogon, dontDisplayLastUserName, shutdownWithoutLogon, defaultUserName, defaultPassword;
};
AutoLogonSteps PlanAutoLogonSave(const Kept& kept, Form1Controls& form);

// The notice's caption, then its text. The boxes are read only while the notice is on.
struct NoticeSteps {
    bool noticeOn = false;
    Step legalNoticeCaption, legalNoticeText;
};
NoticeSteps PlanLogonNoticeSave(const Kept& kept, Form1Controls& form);

} // namespace winlogon
