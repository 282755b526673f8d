// Form1: the program's one window. Its layout table, its controls by name, and its event
// procedures: the start-up, the enabling of the two option groups, register and cancel.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "runtime/controls.h"
#include "runtime/runtime.h"
#include "winlogon/Module1.h"

namespace window {

class Form1 {
public:
    // The window and its eighteen controls, in creation order.
    static const runtime::FormSpec& Layout();
    // The program's load: makes the one instance on the runtime's form, then runs Form_Load.
    static std::function<void(runtime::Form&)> Loader(std::unique_ptr<Form1>& instance);

    // Binds the event procedures; the settings store works on the controls from now on.
    explicit Form1(runtime::Form& form);
    ~Form1();
    Form1(const Form1&) = delete;
    Form1& operator=(const Form1&) = delete;

    void Form_Load();
    void AutoLogonOption_Click(std::int16_t Index);
    void LogonMessageOption_Click(std::int16_t Index);
    void Ok_Click();
    void Cancel_Click();

    runtime::Form& Me;
    runtime::Frame& AutoLogonFrame;
    runtime::OptionArray& AutoLogonOption;
    runtime::Label& UserLabel;
    runtime::Label& PassWordLabel;
    runtime::CheckBox& LastLogonCheck;
    runtime::CheckBox& ShutdownCheck;
    runtime::TextBox& UserText;
    runtime::TextBox& PassWordText;
    runtime::Frame& LogonMessageFrame;
    runtime::OptionArray& LogonMessageOption;
    runtime::Label& LogonCaptionLabel;
    runtime::Label& LogonMessageLabel;
    runtime::TextBox& LogonCaptionText;
    runtime::TextBox& LogonMessageText;
    runtime::CommandButton& Cancel;
    runtime::CommandButton& Ok;

private:
    winlogon::Store store_;
};

} // namespace window
