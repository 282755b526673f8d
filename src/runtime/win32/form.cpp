// The form and its controls as Win32 standard controls: BUTTON as group box, auto radio
// button, auto check box and push button, STATIC for labels, EDIT for text boxes. Each row
// of the layout table becomes one child window of the form, placed in pixels from its twips.
#include <algorithm>
#include <cmath>

#include "runtime/win32/accessible.h"
#include "runtime/win32/program.h"

namespace runtime::win32 {

namespace {

constexpr wchar_t FormClass[] = L"VantorioForm";
constexpr int FirstControlId = 100;  // clear of IDOK and IDCANCEL, which the dialog manager sends
// The face that stands in where the layout's face is missing: the same metrics.
constexpr wchar_t SubstituteFace[] = L"IPAGothic";

HINSTANCE instance() { return GetModuleHandleW(nullptr); }

std::u16string windowText(HWND window) {
    const int length = GetWindowTextLengthW(window);
    std::wstring text(std::size_t(std::max(length, 0)) + 1, L'\0');
    const int got = GetWindowTextW(window, text.data(), int(text.size()));
    text.resize(std::size_t(std::max(got, 0)));
    return u16(text);
}

bool faceInstalled(const std::wstring& face, BYTE charset) {
    LOGFONTW query{};
    query.lfCharSet = charset;
    wcsncpy(query.lfFaceName, face.c_str(), LF_FACESIZE - 1);
    bool found = false;
    HDC screen = GetDC(nullptr);
    EnumFontFamiliesExW(
        screen, &query,
        [](const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found) -> int {
            *reinterpret_cast<bool*>(found) = true;
            return 0;
        },
        reinterpret_cast<LPARAM>(&found), 0);
    ReleaseDC(nullptr, screen);
    return found;
}

HFONT makeFont(const FontSpec& wanted) {
    LOGFONTW font{};
    // Points to pixels at the screen's resolution: 11.25 pt is 15 pixels at 96 dpi.
    font.lfHeight = -LONG(std::lround(double(wanted.points) * toPixelsY(1440.0) / 72.0));
    font.lfWeight = wanted.weight;
    font.lfItalic = FALSE;
    font.lfUnderline = FALSE;
    font.lfStrikeOut = FALSE;
    font.lfCharSet = BYTE(wanted.charset);
    font.lfOutPrecision = OUT_DEFAULT_PRECIS;
    font.lfClipPrecision = CLIP_DEFAULT_PRECIS;
    font.lfQuality = DEFAULT_QUALITY;
    font.lfPitchAndFamily = FIXED_PITCH | FF_MODERN;
    std::wstring face = wstr(wanted.face);
    // Japanese captions must never fall back to a Latin face.
    if (!faceInstalled(face, font.lfCharSet) && faceInstalled(SubstituteFace, font.lfCharSet)) face = SubstituteFace;
    wcsncpy(font.lfFaceName, face.c_str(), LF_FACESIZE - 1);
    return CreateFontIndirectW(&font);
}

LRESULT CALLBACK formProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* form = reinterpret_cast<Win32Form*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (form && form->window() == window) return form->message(msg, wParam, lParam);
    return DefWindowProcW(window, msg, wParam, lParam);
}

void registerFormClass() {
    static const bool registered = [] {
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = formProc;
        wc.hInstance = instance();
        wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        wc.lpszClassName = FormClass;
        return RegisterClassExW(&wc) != 0;
    }();
    (void)registered;
}

// ---- controls ------------------------------------------------------------------------

template <class Interface>
class WindowControl : public Interface {
public:
    explicit WindowControl(HWND window) : window_(window) {}
    // The control's own flag, not whether its container is enabled.
    bool enabled() const override { return IsWindowEnabled(get()) != FALSE; }
    void setEnabled(bool on) override { EnableWindow(get(), on ? TRUE : FALSE); }
    HWND get() const {
        if (!window_ || !IsWindow(window_)) raise(error::InvalidProcedureCall);
        return window_;
    }

protected:
    HWND window_;
};

class FrameControl : public WindowControl<Frame> {
public:
    using WindowControl::WindowControl;
};

class LabelControl : public WindowControl<Label> {
public:
    using WindowControl::WindowControl;
    int borderStyle() const override { return borderStyle_; }
    void setBorderStyle(int style) override {
        if (style != 0 && style != 1) raise(error::InvalidPropertyValue);
        HWND label = get();
        LONG_PTR bits = GetWindowLongPtrW(label, GWL_STYLE);
        bits = style == 1 ? (bits | WS_BORDER) : (bits & ~LONG_PTR(WS_BORDER));
        SetWindowLongPtrW(label, GWL_STYLE, bits);
        SetWindowPos(label, nullptr, 0, 0, 0, 0,
                     SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
        InvalidateRect(label, nullptr, TRUE);
        borderStyle_ = style;
    }

private:
    int borderStyle_ = 0;
};

class CheckBoxControl : public WindowControl<CheckBox> {
public:
    using WindowControl::WindowControl;
    int value() const override { return SendMessageW(get(), BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0; }
    void setValue(int value) override {
        if (value != 0 && value != 1) raise(error::InvalidPropertyValue);
        SendMessageW(get(), BM_SETCHECK, value == 1 ? BST_CHECKED : BST_UNCHECKED, 0);
    }
    bool userActed() const override { return acted_; }
    // The box told its parent it was clicked (BM_SETCHECK from code tells nothing).
    void clicked() { acted_ = true; }

private:
    bool acted_ = false;
};

class CommandButtonControl : public WindowControl<CommandButton> {
public:
    CommandButtonControl(Program& program, HWND button) : WindowControl(button), program_(program) {}
    void onClick(std::function<void()> handler) override { handler_ = std::move(handler); }
    void clicked() {
        if (handler_) program_.dispatch(handler_);
    }

private:
    Program& program_;
    std::function<void()> handler_;
};

class OptionArrayControl;

class OptionControl : public WindowControl<OptionButton> {
public:
    OptionControl(OptionArrayControl& array, std::int16_t index, HWND button)
        : WindowControl(button), array_(array), index_(index) {}
    bool selected() const override { return SendMessageW(get(), BM_GETCHECK, 0, 0) == BST_CHECKED; }
    void setSelected(bool on) override;
    bool userActed() const override { return acted_; }
    OptionArrayControl& array() const { return array_; }
    std::int16_t index() const { return index_; }
    // The user clicked the option or selected it from the keyboard.
    void clicked();

private:
    OptionArrayControl& array_;
    std::int16_t index_;
    bool acted_ = false;
};

class OptionArrayControl : public OptionArray {
public:
    explicit OptionArrayControl(Program& program) : program_(program) {}

    OptionButton& operator[](std::int16_t index) override {
        auto found = members_.find(index);
        if (found == members_.end()) raise(error::InvalidProcedureCall);
        return *found->second;
    }
    void onClick(std::function<void(std::int16_t)> handler) override { handler_ = std::move(handler); }

    void add(std::int16_t index, OptionControl* member) { members_[index] = member; }
    // A click or a keyboard selection by the user: the procedure runs inside the boundary.
    void clicked(std::int16_t index) {
        program_.dispatch([this, index] { raiseClick(index); });
    }
    // Selection from code: the other members are cleared and Click runs at once, on this
    // stack, so an error in it reaches the code that selected.
    void select(std::int16_t index) {
        for (auto& [other, member] : members_)
            SendMessageW(member->get(), BM_SETCHECK, other == index ? BST_CHECKED : BST_UNCHECKED, 0);
        raiseClick(index);
    }

private:
    void raiseClick(std::int16_t index) {
        if (handler_) handler_(index);
    }

    Program& program_;
    std::map<std::int16_t, OptionControl*> members_;
    std::function<void(std::int16_t)> handler_;
};

void OptionControl::clicked() {
    acted_ = true;
    array_.clicked(index_);
}

void OptionControl::setSelected(bool on) {
    HWND button = get();
    if (on) {
        array_.select(index_);
        return;
    }
    SendMessageW(button, BM_SETCHECK, BST_UNCHECKED, 0);
}

// An EDIT control whose every edit by the user passes the typing limit and the program's
// filter. The limit is the control's own (EM_LIMITTEXT) for typing; a paste that would pass
// it is refused whole before the control sees it; anything else that changed the text against
// the rules (an undo, a limit below a text set from code) is taken back at once.
class TextBoxControl : public WindowControl<TextBox> {
public:
    TextBoxControl(Program& program, HWND edit) : WindowControl(edit), program_(program) {
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
        fromCode_ = true;
        SetWindowTextW(edit, wstr(text).c_str());
        // The caret stands at the end of text set from code, ready to go on typing.
        const int length = GetWindowTextLengthW(edit);
        SendMessageW(edit, EM_SETSEL, WPARAM(length), LPARAM(length));
        fromCode_ = false;
        accepted_ = windowText(edit);
        changed_ = false;
        applyLimit();
    }
    int maxLength() const override { return maxLength_; }
    void setMaxLength(int length) override {
        if (length < 0) raise(error::InvalidPropertyValue);
        get();
        maxLength_ = length;
        applyLimit();
    }
    std::u16string passwordChar() const override { return passwordChar_; }
    void setPasswordChar(std::u16string_view character) override {
        if (character.size() > 1) raise(error::InvalidPropertyValue);
        HWND edit = get();
        passwordChar_ = std::u16string(character);
        LONG_PTR bits = GetWindowLongPtrW(edit, GWL_STYLE);
        bits = passwordChar_.empty() ? (bits & ~LONG_PTR(ES_PASSWORD)) : (bits | ES_PASSWORD);
        SetWindowLongPtrW(edit, GWL_STYLE, bits);
        SendMessageW(edit, EM_SETPASSWORDCHAR, passwordChar_.empty() ? 0 : WPARAM(passwordChar_[0]), 0);
        InvalidateRect(edit, nullptr, TRUE);
    }
    void setInputFilter(InputFilter filter) override { filter_ = std::move(filter); }
    bool userActed() const override { return acted_; }

    // The control told its parent that its text changed.
    void noteChange() {
        if (fromCode_) return;
        changed_ = true;
        if (depth_ == 0) review();
    }

private:
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
        if (msg == WM_PASTE && !fromCode_ && !pasteFits(edit)) return 0;
        if (depth_ == 0 && !fromCode_)
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
        const std::size_t limit = maxLength_ == 0 ? 0 : std::max<std::size_t>(std::size_t(maxLength_), accepted_.size());
        CallWindowProcW(original_, window_, EM_LIMITTEXT, WPARAM(limit), 0);
    }

    // Whether the clipboard's text, put in place of the selection, stays within the limit.
    bool pasteFits(HWND edit) {
        if (maxLength_ <= 0) return true;
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
        const std::size_t held = accepted_.size();
        const std::size_t after = held - std::min<std::size_t>(held, end - start) + pasted.size();
        return after <= std::size_t(maxLength_) || after <= held;
    }

    // Whether the user's edit from the text held to `proposed` stands.
    bool allows(const std::u16string& proposed) {
        const bool longer = proposed.size() > accepted_.size();
        if (maxLength_ > 0 && proposed.size() > std::size_t(maxLength_) && longer) return false;
        if (!filter_) return true;
        const std::u16string current = accepted_;
        return program_.ask([&] { return filter_(current, proposed); });
    }

    void review() {
        changed_ = false;
        HWND edit = window_;
        if (!edit) return;
        const std::u16string now = windowText(edit);
        if (now == accepted_) return;
        if (allows(now)) {
            accepted_ = now;
            acted_ = true;
            applyLimit();
            return;
        }
        // Refused: the text held before the edit comes back, with its selection.
        fromCode_ = true;
        CallWindowProcW(original_, edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(wstr(accepted_).c_str()));
        CallWindowProcW(original_, edit, EM_SETSEL, selStart_, selEnd_);
        fromCode_ = false;
    }

    Program& program_;
    WNDPROC original_ = nullptr;
    int maxLength_ = 0;
    std::u16string passwordChar_;
    InputFilter filter_;
    std::u16string accepted_;
    bool fromCode_ = false;
    bool changed_ = false;
    bool acted_ = false;
    int depth_ = 0;
    DWORD selStart_ = 0, selEnd_ = 0;
};

} // namespace

// ---- the form ------------------------------------------------------------------------

struct Win32Form::Entry {
    const ControlSpec* row = nullptr;
    HWND window = nullptr;
    int id = 0;
    std::unique_ptr<Control> control;
    TextBoxControl* textBox = nullptr;
    CommandButtonControl* button = nullptr;
    OptionControl* option = nullptr;
    CheckBoxControl* check = nullptr;
};

namespace {
// No WS_CLIPCHILDREN: the window paints the face beneath its group boxes, which draw only their frame.
constexpr DWORD FormStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
}

Win32Form::Win32Form(Program& program, const FormSpec& layout) : program_(program), rows_(layout.controls) {
    registerFormClass();
    RECT outer{0, 0, toPixelsX(layout.clientWidth), toPixelsY(layout.clientHeight)};
    AdjustWindowRectEx(&outer, FormStyle, FALSE, 0);
    window_ = CreateWindowExW(0, FormClass, wstr(layout.caption).c_str(), FormStyle, 0, 0, outer.right - outer.left,
                              outer.bottom - outer.top, nullptr, nullptr, instance(), this);
    if (!window_) raise(error::InvalidProcedureCall);

    font_ = makeFont(layout.font);
    textFont_ = makeFont(layout.textBoxFont);
    SendMessageW(window_, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
    if (!layout.icon.empty()) {
        const std::wstring name = wstr(layout.icon);
        icon_ = static_cast<HICON>(LoadImageW(instance(), name.c_str(), IMAGE_ICON, 32, 32, LR_DEFAULTCOLOR));
        smallIcon_ = static_cast<HICON>(LoadImageW(instance(), name.c_str(), IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                                   GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR));
        if (icon_) SendMessageW(window_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
        if (smallIcon_) SendMessageW(window_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_));
    }

    // In the order of the tab indices: the dialog manager walks the windows in that order,
    // and an auto radio button's group runs from its WS_GROUP to the next one.
    std::vector<const ControlSpec*> order;
    for (const ControlSpec& row : layout.controls) order.push_back(&row);
    std::stable_sort(order.begin(), order.end(),
                     [](const ControlSpec* a, const ControlSpec* b) { return a->tabIndex < b->tabIndex; });

    const ControlSpec* previous = nullptr;
    for (const ControlSpec* row : order) {
        auto entry = std::make_unique<Entry>();
        entry->row = row;
        entry->id = FirstControlId + int(entries_.size());
        RECT r = layoutRect(*row);
        const wchar_t* windowClass = L"BUTTON";
        DWORD style = WS_CHILD | WS_VISIBLE;
        DWORD exStyle = 0;
        const bool continuesGroup = row->kind == ControlKind::OptionButton && previous &&
                                    previous->kind == ControlKind::OptionButton && previous->name == row->name;
        if (!continuesGroup) style |= WS_GROUP;
        switch (row->kind) {
        case ControlKind::Frame: style |= BS_GROUPBOX; break;
        case ControlKind::Label:
            windowClass = L"STATIC";
            style |= SS_LEFT | SS_NOPREFIX;
            break;
        case ControlKind::TextBox:
            windowClass = L"EDIT";
            style |= WS_TABSTOP | ES_LEFT | ES_AUTOHSCROLL;
            exStyle |= WS_EX_CLIENTEDGE;
            break;
        case ControlKind::CheckBox: style |= WS_TABSTOP | BS_AUTOCHECKBOX; break;
        case ControlKind::OptionButton: style |= WS_TABSTOP | BS_AUTORADIOBUTTON; break;
        case ControlKind::CommandButton: style |= WS_TABSTOP | BS_PUSHBUTTON; break;
        }
        HWND control = CreateWindowExW(exStyle, windowClass, wstr(row->caption).c_str(), style, r.left, r.top,
                                       r.right - r.left, r.bottom - r.top, window_,
                                       reinterpret_cast<HMENU>(static_cast<INT_PTR>(entry->id)), instance(), nullptr);
        if (!control) raise(error::InvalidProcedureCall);
        entry->window = control;
        SendMessageW(control, WM_SETFONT,
                     reinterpret_cast<WPARAM>(row->kind == ControlKind::TextBox ? textFont_ : font_), FALSE);
        switch (row->kind) {
        case ControlKind::Frame: entry->control = std::make_unique<FrameControl>(control); break;
        case ControlKind::Label: entry->control = std::make_unique<LabelControl>(control); break;
        case ControlKind::TextBox: {
            auto box = std::make_unique<TextBoxControl>(program, control);
            entry->textBox = box.get();
            entry->control = std::move(box);
            break;
        }
        case ControlKind::CheckBox: {
            auto check = std::make_unique<CheckBoxControl>(control);
            entry->check = check.get();
            entry->control = std::move(check);
            break;
        }
        case ControlKind::OptionButton: {
            auto& array = arrays_[std::u16string(row->name)];
            if (!array) array = std::make_unique<OptionArrayControl>(program);
            auto& options = static_cast<OptionArrayControl&>(*array);
            auto member = std::make_unique<OptionControl>(options, row->index, control);
            options.add(row->index, member.get());
            entry->option = member.get();
            entry->control = std::move(member);
            break;
        }
        case ControlKind::CommandButton: {
            auto button = std::make_unique<CommandButtonControl>(program, control);
            entry->button = button.get();
            entry->control = std::move(button);
            break;
        }
        }
        entries_.push_back(std::move(entry));
        previous = row;
    }

    // A label names the control beside it for assistive technology.
    for (const LabelSpec& pair : layout.labels) NameByLabel(handle(pair.control, -1), handle(pair.label, -1));
}

Win32Form::~Win32Form() {
    destroy();
    if (font_) DeleteObject(font_);
    if (textFont_) DeleteObject(textFont_);
    if (icon_) DestroyIcon(icon_);
    if (smallIcon_) DestroyIcon(smallIcon_);
}

void Win32Form::destroy() {
    if (window_ && IsWindow(window_)) DestroyWindow(window_);
    window_ = nullptr;
    entries_.clear();
}

RECT Win32Form::layoutRect(const ControlSpec& row) const {
    int left = toPixelsX(row.left), top = toPixelsY(row.top);
    // Inside a frame: the frame's corner, in pixels, plus the control's place in it.
    for (const ControlSpec& other : rows_) {
        if (!row.container.empty() && other.name == row.container && other.index < 0) {
            left += toPixelsX(other.left);
            top += toPixelsY(other.top);
            break;
        }
    }
    return {left, top, left + toPixelsX(row.width), top + toPixelsY(row.height)};
}

HWND Win32Form::handle(std::u16string_view name, std::int16_t index) const {
    for (const auto& entry : entries_)
        if (entry->row->name == name && entry->row->index == index) return entry->window;
    return nullptr;
}

const ControlSpec* Win32Form::rowOf(HWND control) const {
    for (const auto& entry : entries_)
        if (control && entry->window == control) return entry->row;
    return nullptr;
}

Win32Form::Entry* Win32Form::entry(HWND control) {
    for (const auto& entry : entries_)
        if (control && entry->window == control) return entry.get();
    return nullptr;
}

Control* Win32Form::findControl(std::u16string_view name, std::int16_t index) {
    for (const auto& entry : entries_)
        if (entry->row->name == name && entry->row->index == index) return entry->control.get();
    return nullptr;
}

OptionArray* Win32Form::findOptionArray(std::u16string_view name) {
    auto found = arrays_.find(name);
    return found == arrays_.end() ? nullptr : found->second.get();
}

namespace {
// Frames and labels hold a place in the order but never take the focus. The style's
// WS_TABSTOP cannot say it: a radio button loses it whenever it is cleared.
bool takesFocus(const Win32Form::Entry& entry) {
    return entry.row->kind != ControlKind::Frame && entry.row->kind != ControlKind::Label &&
           IsWindowEnabled(entry.window) && IsWindowVisible(entry.window);
}
} // namespace

void Win32Form::focusFirst() {
    for (const auto& entry : entries_) {
        if (takesFocus(*entry)) {
            SetFocus(entry->window);
            return;
        }
    }
}

void Win32Form::focusNext(bool previous) {
    const int count = int(entries_.size());
    if (count == 0) return;
    HWND focus = GetFocus();
    int at = -1;
    for (int i = 0; i < count; ++i)
        if (entries_[i]->window == focus) at = i;
    for (int step = 1; step <= count; ++step) {
        const int i = ((at < 0 ? (previous ? 0 : -1) : at) + (previous ? -step : step) + 2 * count) % count;
        HWND candidate = entries_[i]->window;
        if (takesFocus(*entries_[i])) {
            SetFocus(candidate);
            // A text box reached from the keyboard has its whole text selected.
            if (entries_[i]->textBox) SendMessageW(candidate, EM_SETSEL, 0, -1);
            return;
        }
    }
}

LRESULT Win32Form::message(UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_COMMAND: {
        const int id = LOWORD(wParam);
        const int code = HIWORD(wParam);
        // Enter reaches the window as IDOK: it clicks a button only while that button has
        // the focus, as Space does. Esc (IDCANCEL) clicks nothing.
        if (id == IDOK || id == IDCANCEL) {
            Entry* focused = entry(GetFocus());
            if (id == IDOK && focused && focused->button) focused->button->clicked();
            return 0;
        }
        Entry* from = entry(reinterpret_cast<HWND>(lParam));
        if (!from) return 0;
        if (code == BN_CLICKED && from->button) from->button->clicked();
        else if (code == BN_CLICKED && from->option) from->option->clicked();
        else if (code == BN_CLICKED && from->check) from->check->clicked();
        else if (code == EN_CHANGE && from->textBox) from->textBox->noteChange();
        return 0;
    }
    case WM_ACTIVATE:
        // The focus leaves with the window and comes back to the control that had it.
        if (LOWORD(wParam) == WA_INACTIVE) {
            if (entry(GetFocus())) lastFocus_ = GetFocus();
        } else if (lastFocus_ && IsWindow(lastFocus_) && IsWindowEnabled(lastFocus_)) {
            SetFocus(lastFocus_);
            return 0;
        }
        break;
    case WM_CLOSE:
        // A close through the window system: no procedure runs, nothing is written.
        if (!program_.ending()) program_.finish(0);
        return 0;
    default: break;
    }
    return DefWindowProcW(window_, msg, wParam, lParam);
}

float Win32Form::Left() const {
    RECT r{};
    if (window_) GetWindowRect(window_, &r);
    return toTwipsX(r.left);
}
float Win32Form::Top() const {
    RECT r{};
    if (window_) GetWindowRect(window_, &r);
    return toTwipsY(r.top);
}
float Win32Form::Width() const {
    RECT r{};
    if (window_) GetWindowRect(window_, &r);
    return toTwipsX(r.right - r.left);
}
float Win32Form::Height() const {
    RECT r{};
    if (window_) GetWindowRect(window_, &r);
    return toTwipsY(r.bottom - r.top);
}

void Win32Form::setLeft(float twips) {
    if (!window_) raise(error::InvalidProcedureCall);
    if (!std::isfinite(twips)) raise(error::Overflow);
    RECT r{};
    GetWindowRect(window_, &r);
    SetWindowPos(window_, nullptr, toPixelsX(twips), r.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void Win32Form::setTop(float twips) {
    if (!window_) raise(error::InvalidProcedureCall);
    if (!std::isfinite(twips)) raise(error::Overflow);
    RECT r{};
    GetWindowRect(window_, &r);
    SetWindowPos(window_, nullptr, r.left, toPixelsY(twips), 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

} // namespace runtime::win32
