// The running program on Win32: the one form, the boundary that every event procedure runs
// inside, and the program's end. Private to the Win32 realisation of the runtime.
#pragma once

#include <windows.h>

#include <functional>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/program.h"
#include "runtime/runtime.h"

namespace runtime::win32 {

class Program;

// The form built from its table: the top-level window, one standard control per row, all of
// them children of the window, created in the order of their tab indices so that the
// dialog manager's Tab order and the option groups follow the table.
class Win32Form : public Form {
public:
    Win32Form(Program& program, const FormSpec& layout);
    ~Win32Form() override;

    float Left() const override;
    void setLeft(float twips) override;
    float Top() const override;
    void setTop(float twips) override;
    float Width() const override;
    float Height() const override;

    HWND window() const { return window_; }
    HWND handle(std::u16string_view name, std::int16_t index) const;
    const ControlSpec* rowOf(HWND control) const;
    HICON icon() const { return icon_; }
    // The control's rectangle relative to its container, in pixels.
    RECT layoutRect(const ControlSpec& row) const;
    // Gives the focus to the first control of the focus order that can take it.
    void focusFirst();
    // Moves the focus to the next (or previous) control of the focus order that can take it.
    void focusNext(bool previous);
    // Called by the window procedure.
    LRESULT message(UINT msg, WPARAM wParam, LPARAM lParam);
    // The window is going; its controls are no longer there.
    void destroy();

    struct Entry;

protected:
    Control* findControl(std::u16string_view name, std::int16_t index) override;
    OptionArray* findOptionArray(std::u16string_view name) override;

private:
    Entry* entry(HWND control);

    Program& program_;
    std::span<const ControlSpec> rows_;
    HWND window_ = nullptr;
    HFONT font_ = nullptr;
    HFONT textFont_ = nullptr;
    HICON icon_ = nullptr;
    HICON smallIcon_ = nullptr;
    HWND lastFocus_ = nullptr;
    std::vector<std::unique_ptr<Entry>> entries_;
    std::map<std::u16string, std::unique_ptr<OptionArray>, std::less<>> arrays_;
};

class Program final : public ProgramCore {
public:
    // `mainLoop`: the program runs the thread's message loop and leaves it when it ends.
    Program(const FormSpec& layout, bool mainLoop);
    ~Program() override;

    // The program that runs now, or null.
    static Program* current() { return static_cast<Program*>(ProgramCore::current()); }

    Win32Form& form() { return *form_; }
    const Win32Form& form() const { return *form_; }

    // Runs the load procedure inside the boundary.
    void load(const std::function<void(Form&)>& procedure);
    // Shows the window, already placed, with the focus on the first control.
    void show();
    // Hands one message to the dialog manager (Tab, arrows) or to its window.
    void handle(MSG& msg);

private:
    void showReport(const std::u16string& report) override;
    void showMessage(std::u16string_view text) override;
    void leave(int status) override;

    bool mainLoop_;
    std::unique_ptr<Win32Form> form_;
};

// Twips and pixels at the screen's real resolution.
int toPixelsX(double twips);
int toPixelsY(double twips);
float toTwipsX(int pixels);
float toTwipsY(int pixels);

inline const wchar_t* wide(std::u16string_view text) { return reinterpret_cast<const wchar_t*>(text.data()); }
inline std::wstring wstr(std::u16string_view text) { return std::wstring(wide(text), text.size()); }
inline std::u16string u16(std::wstring_view text) {
    return std::u16string(reinterpret_cast<const char16_t*>(text.data()), text.size());
}

} // namespace runtime::win32
