// The form on Win32: its top-level window and the controls of its table. Private to the
// Win32 realisation of the runtime.
#pragma once

#include <windows.h>

#include <optional>
#include <span>
#include <string_view>

#include "runtime/program.h"
#include "runtime/table_form.h"

namespace runtime::win32 {

// The form built from its table: the top-level window and one standard control for each row,
// all of them children of the window, created in the order of their tab indices so that the
// dialog manager's order and the option groups follow the table.
class Win32Form : public TableForm<HWND> {
public:
    Win32Form(ProgramCore& program, const FormSpec& layout);
    ~Win32Form() override;

    HICON icon() const { return icon_; }
    // Shows the window, already placed, with the focus on the first control that takes it.
    void show();
    // A modal box, owned by the window while it is on the screen.
    void showBox(std::u16string_view text, BoxKind kind);
    // The window goes out of sight at once; it is destroyed with the form, once the loop has
    // left the procedures that may still be running on its stack.
    void takeDown();
    // Moves the focus to the next (or previous) control of the focus order that can take it.
    void focusNext(bool previous);
    // Called by the window procedure.
    LRESULT message(UINT msg, WPARAM wParam, LPARAM lParam);

private:
    TwipsRect outer() const override;
    void moveTo(std::optional<float> left, std::optional<float> top) override;
    // The control's rectangle in the window's client area, in pixels.
    RECT layoutRect(const ControlSpec& row) const;
    // Gives the focus to the first control of the focus order that can take it.
    void focusFirst();
    // Hands a notification of a control's window to the control.
    void notify(const Entry& from, int code);
    // The window and its controls go.
    void destroy();

    ProgramCore& program_;
    std::span<const ControlSpec> rows_;
    HFONT font_ = nullptr;
    HFONT textFont_ = nullptr;
    HICON icon_ = nullptr;
    HICON smallIcon_ = nullptr;
    HWND lastFocus_ = nullptr;
};

} // namespace runtime::win32
