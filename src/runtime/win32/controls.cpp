// The controls as Win32 standard controls: the adapters that give each child window the
// properties and events that the program uses, and the factories that make them.
#include "runtime/win32/controls.h"

#include <algorithm>
#include <cstdint>
#include <utility>

#include "runtime/win32/text.h"

namespace runtime::win32 {

namespace {

HINSTANCE instance() { return GetModuleHandleW(nullptr); }

template <class Interface>
class WindowControl : public Interface, public Notified {
public:
    template <class... Args>
    explicit WindowControl(HWND window, Args&&... args) : Interface(std::forward<Args>(args)...), window_(window) {}
    // The control's own flag, not whether its container is enabled.
    bool enabled() const override { return IsWindowEnabled(get()) != FALSE; }
    void setEnabled(bool on) override { EnableWindow(get(), on ? TRUE : FALSE); }
    void notified(int) override {}

protected:
    HWND get() const {
        if (!window_ || !IsWindow(window_)) raise(error::InvalidProcedureCall);
        return window_;
    }

    HWND window_;
};

class FrameControl : public WindowControl<Frame> {
public:
    using WindowControl::WindowControl;
};

class LabelControl : public WindowControl<common::Label> {
public:
    using WindowControl::WindowControl;

private:
    void showBorder(bool on) override {
        HWND label = get();
        LONG_PTR bits = GetWindowLongPtrW(label, GWL_STYLE);
        bits = on ? (bits | WS_BORDER) : (bits & ~LONG_PTR(WS_BORDER));
        SetWindowLongPtrW(label, GWL_STYLE, bits);
        SetWindowPos(label, nullptr, 0, 0, 0, 0,
                     SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
        InvalidateRect(label, nullptr, TRUE);
    }
};

// A BUTTON control (check box, option button, push button): its click, by the mouse or the
// keyboard, is the user's.
template <class Interface>
class ButtonControl : public WindowControl<Interface> {
public:
    using WindowControl<Interface>::WindowControl;
    void notified(int code) override {
        if (code == BN_CLICKED) this->userClicked();
    }
};

using CommandButtonControl = ButtonControl<common::CommandButton>;

// A check box or an option button: its mark is the button's check. A mark set from code
// (BM_SETCHECK) tells the parent nothing.
template <class Interface>
class MarkedControl : public ButtonControl<Interface> {
public:
    using ButtonControl<Interface>::ButtonControl;

private:
    bool marked() const override { return SendMessageW(this->get(), BM_GETCHECK, 0, 0) == BST_CHECKED; }
    void mark(bool on) override { SendMessageW(this->get(), BM_SETCHECK, on ? BST_CHECKED : BST_UNCHECKED, 0); }
};

using CheckBoxControl = MarkedControl<common::CheckBox>;
using OptionControl = MarkedControl<common::OptionButton>;

// An EDIT control whose every edit by the user passes the typing limit and the program's
// filter. The limit is the control's own (EM_LIMITTEXT) for typing; a paste that would pass
// it is refused whole before the control sees it; anything else that changed the text against
// the rules (an undo, a limit below a text set from code) is taken back at once.
class TextBoxControl : public WindowControl<common::TextBox> {
public:
    TextBoxControl(ProgramCore& program, HWND edit) : WindowControl(edit, &program) {
        SetWindowLongPtrW(edit, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        original_ = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrW(edit, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&TextBoxControl::subclass)));
    }
    ~TextBoxControl() override {
        if (IsWindow(window_)) {
            SetWindowLongPtrW(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(original_));
            SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
        }
    }

    std::u16string text() const override { return windowText(get()); }
    void setText(std::u16string_view text) override {
        HWND edit = get();
        {
            const FromCode fromCode(*this);
            SetWindowTextW(edit, wstr(text).c_str());
            // The caret stands at the end of text set from code, ready to go on typing.
            const int length = GetWindowTextLengthW(edit);
            SendMessageW(edit, EM_SETSEL, WPARAM(length), LPARAM(length));
        }
        heldFromCode(windowText(edit));
        changed_ = false;
        applyLimit();
    }

    // The control told its parent that its text changed.
    void notified(int code) override {
        if (code != EN_CHANGE || fromCode()) return;
        changed_ = true;
        if (depth_ == 0) review();
    }

private:
    void applyMaxLength() override {
        get();
        applyLimit();
    }
    void showPasswordChar(std::u16string_view character) override {
        HWND edit = get();
        LONG_PTR bits = GetWindowLongPtrW(edit, GWL_STYLE);
        bits = character.empty() ? (bits & ~LONG_PTR(ES_PASSWORD)) : (bits | ES_PASSWORD);
        SetWindowLongPtrW(edit, GWL_STYLE, bits);
        SendMessageW(edit, EM_SETPASSWORDCHAR, character.empty() ? 0 : WPARAM(character[0]), 0);
        InvalidateRect(edit, nullptr, TRUE);
    }

    static LRESULT CALLBACK subclass(HWND edit, UINT msg, WPARAM wParam, LPARAM lParam) {
        auto* box = reinterpret_cast<TextBoxControl*>(GetWindowLongPtrW(edit, GWLP_USERDATA));
        if (!box) return DefWindowProcW(edit, msg, wParam, lParam);
        return box->proc(edit, msg, wParam, lParam);
    }

    LRESULT proc(HWND edit, UINT msg, WPARAM wParam, LPARAM lParam) {
        const WNDPROC original = original_;
        if (msg == WM_NCDESTROY) {
            SetWindowLongPtrW(edit, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(original));
            SetWindowLongPtrW(edit, GWLP_USERDATA, 0);
            window_ = nullptr;
            return CallWindowProcW(original, edit, msg, wParam, lParam);
        }
        if (msg == WM_PASTE && !fromCode() && !pasteFits(edit)) return 0;
        if (depth_ == 0 && !fromCode())
            CallWindowProcW(original, edit, EM_GETSEL, reinterpret_cast<WPARAM>(&selStart_),
                            reinterpret_cast<LPARAM>(&selEnd_));
        ++depth_;
        const LRESULT result = CallWindowProcW(original, edit, msg, wParam, lParam);
        --depth_;
        if (depth_ == 0 && changed_) review();
        return result;
    }

    // The control's own typing limit: the box's maximum length, or the length of a longer
    // text set from code, so that such a text can still be shortened (the control would
    // refuse even a deletion while over its limit). Growth past the maximum is refused in
    // review.
    void applyLimit() {
        if (!window_) return;
        const std::size_t limit =
            maxLength() == 0 ? 0 : std::max<std::size_t>(std::size_t(maxLength()), held().size());
        CallWindowProcW(original_, window_, EM_LIMITTEXT, WPARAM(limit), 0);
    }

    // Whether the clipboard's text, put in place of the selection, keeps to the typing limit.
    bool pasteFits(HWND edit) {
        if (maxLength() <= 0) return true;
        std::u16string pasted;
        if (OpenClipboard(edit)) {
            if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
                if (auto* text = static_cast<const wchar_t*>(GlobalLock(data))) {
                    pasted = u16(text);
                    GlobalUnlock(data);
                }
            }
            CloseClipboard();
        }
        // A single-line box takes the first line.
        pasted = pasted.substr(0, pasted.find_first_of(u"\r\n"));
        DWORD start = 0, end = 0;
        CallWindowProcW(original_, edit, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
        const std::size_t held = this->held().size();
        return withinLimit(held - std::min<std::size_t>(held, end - start) + pasted.size());
    }

    void review() {
        changed_ = false;
        HWND edit = window_;
        if (!edit) return;
        const std::u16string now = windowText(edit);
        if (now == held()) return;
        if (takeEdit(now)) {
            applyLimit();
            return;
        }
        // Refused: the text held before the edit comes back, with its selection.
        const FromCode fromCode(*this);
        CallWindowProcW(original_, edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(wstr(held()).c_str()));
        CallWindowProcW(original_, edit, EM_SETSEL, selStart_, selEnd_);
    }

    WNDPROC original_ = nullptr;
    bool changed_ = false;
    int depth_ = 0;
    DWORD selStart_ = 0, selEnd_ = 0;
};

// ---- factories -----------------------------------------------------------------------

// The row's child window of `windowClass` at its place, with the font it draws with.
HWND createChild(const Build& b, const wchar_t* windowClass, DWORD style, DWORD exStyle, HFONT font) {
    style |= WS_CHILD | WS_VISIBLE;
    if (b.startsGroup) style |= WS_GROUP;
    HWND child = CreateWindowExW(exStyle, windowClass, wstr(b.row.caption).c_str(), style, b.rect.left, b.rect.top,
                                 b.rect.right - b.rect.left, b.rect.bottom - b.rect.top, b.parent,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(b.id)), instance(), nullptr);
    if (!child) raise(error::InvalidProcedureCall);
    SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    return child;
}

Made makeFrame(const Build& b) {
    HWND box = createChild(b, L"BUTTON", BS_GROUPBOX, 0, b.font);
    return {box, std::make_unique<FrameControl>(box)};
}

Made makeLabel(const Build& b) {
    HWND label = createChild(b, L"STATIC", SS_LEFT | SS_NOPREFIX, 0, b.font);
    return {label, std::make_unique<LabelControl>(label)};
}

Made makeTextBox(const Build& b) {
    HWND edit = createChild(b, L"EDIT", WS_TABSTOP | ES_LEFT | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE, b.textFont);
    return {edit, std::make_unique<TextBoxControl>(b.program, edit)};
}

Made makeCheckBox(const Build& b) {
    HWND check = createChild(b, L"BUTTON", WS_TABSTOP | BS_AUTOCHECKBOX, 0, b.font);
    return {check, std::make_unique<CheckBoxControl>(check)};
}

Made makeOptionButton(const Build& b) {
    HWND option = createChild(b, L"BUTTON", WS_TABSTOP | BS_AUTORADIOBUTTON, 0, b.font);
    common::OptionArray& array = b.arrays.get(b.row.name, b.program);
    return {option, std::make_unique<OptionControl>(option, array, b.row.index)};
}

Made makeCommandButton(const Build& b) {
    HWND button = createChild(b, L"BUTTON", WS_TABSTOP | BS_PUSHBUTTON, 0, b.font);
    return {button, std::make_unique<CommandButtonControl>(button, b.program)};
}

} // namespace

const ControlFactories<Build, Made> MakeControl{
    makeFrame, makeLabel, makeTextBox, makeCheckBox, makeOptionButton, makeCommandButton,
};

} // namespace runtime::win32
