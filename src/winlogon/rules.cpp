#include "winlogon/rules.h"

namespace winlogon {

namespace {

// The one character that every flag is written as.
constexpr char16_t On = u'1';

Step write(std::u16string text) { return {Step::Action::Write, std::move(text)}; }
Step remove() { return {Step::Action::Delete, {}}; }

// A kept value stays as stored until the user acts on its control; then `step` applies.
Step unlessKept(Keep keep, bool acted, Step step) {
    if (keep != Keep::No && !acted) step.action = Step::Action::Leave;
    return step;
}

bool acted(runtime::OptionArray& options) { return options[0].userActed() || options[1].userActed(); }

} // namespace

AutoLogonSteps PlanAutoLogonSave(const Kept& kept, Form1Controls& f) {
    AutoLogonSteps steps;
    // The option decides whether the last user name is written at all, so acting on it
    // releases both flags.
    const bool optionActed = acted(f.AutoLogonOption);
    const bool on = f.AutoLogonOption[1].selected();
    steps.autoAdminLogon = unlessKept(kept.autoAdminLogon, optionActed, on ? write(std::u16string(1, On)) : remove());

    const bool off = f.AutoLogonOption[0].selected();
    const bool hideLastUser = off && f.LastLogonCheck.value() == 1;
    steps.dontDisplayLastUserName = unlessKept(kept.dontDisplayLastUserName,
                                               optionActed || f.LastLogonCheck.userActed(),
                                               hideLastUser ? write(std::u16string(1, On)) : remove());

    // With automatic logon on this value is left as it is. The check box stores its own state.
    if (off)
        steps.shutdownWithoutLogon = unlessKept(kept.shutdownWithoutLogon, f.ShutdownCheck.userActed(),
                                                write(std::u16string(1, u'0' + f.ShutdownCheck.value())));

    // The user name is never deleted; the password is, when its box is empty.
    const std::u16string user = f.UserText.text();
    steps.defaultUserName = unlessKept(kept.defaultUserName, f.UserText.userActed(), write(user));
    steps.defaultUserName.text = user;
    const std::u16string password = f.PassWordText.text();
    steps.defaultPassword =
        unlessKept(kept.defaultPassword, f.PassWordText.userActed(), password.empty() ? remove() : write(password));
    steps.defaultPassword.text = password;
    return steps;
}

NoticeSteps PlanLogonNoticeSave(const Kept& kept, Form1Controls& f) {
    NoticeSteps steps;
    steps.noticeOn = f.LogonMessageOption[1].selected();
    const bool optionActed = acted(f.LogonMessageOption);
    const bool captionEdited = f.LogonCaptionText.userActed();
    const bool textEdited = f.LogonMessageText.userActed();
    const bool offByChoice = optionActed && !steps.noticeOn;

    // A notice that is off is stored empty; its boxes are not read.
    const std::u16string caption = steps.noticeOn ? f.LogonCaptionText.text() : std::u16string();
    const std::u16string text = steps.noticeOn ? f.LogonMessageText.text() : std::u16string();

    // A kept caption or text stays until its own box is edited or the user turns the notice
    // off; turning it on releases neither. A caption kept with its text is released the same way.
    steps.legalNoticeCaption = unlessKept(kept.legalNoticeCaption, captionEdited || offByChoice, write(caption));
    steps.legalNoticeText = unlessKept(kept.legalNoticeText, textEdited || offByChoice, write(text));
    return steps;
}

} // namespace winlogon
