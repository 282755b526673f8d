// The form on Win32: the top-level window with its class and fonts, the walk over the layout
// table that makes each row's control in the order of the tab indices and places it in pixels
// from its twips, and the window's own behaviour (notifications, focus, close).
#include "runtime/win32/form.h"

#include <cmath>
#include <string>
#include <vector>

#include "runtime/win32/accessible.h"
#include "runtime/win32/controls.h"
#include "runtime/win32/text.h"
#include "runtime/win32/twips.h"

namespace runtime::win32 {

namespace {

constexpr wchar_t FormClass[] = L"VantorioForm";
constexpr int FirstControlId = 100;  // clear of IDOK and IDCANCEL, which the dialog manager sends
// The face that stands in where the layout's face is missing: the same metrics.
constexpr wchar_t SubstituteFace[] = L"IPAGothic";
// No WS_CLIPCHILDREN: the window paints the face beneath its group boxes, which draw only their frame.
constexpr DWORD FormStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;

HINSTANCE instance() { return GetModuleHandleW(nullptr); }

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

// Frames and labels hold a place in the order but never take the focus. The style's
// WS_TABSTOP cannot say it: a radio button loses it whenever it is cleared.
template <class Entry>
bool takesFocus(const Entry& entry) {
    return entry.row->kind != ControlKind::Frame && entry.row->kind != ControlKind::Label &&
           IsWindowEnabled(entry.handle) && IsWindowVisible(entry.handle);
}

} // namespace

Win32Form::Win32Form(ProgramCore& program, const FormSpec& layout) : program_(program), rows_(layout.controls) {
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
    sortByTabIndex(order, [](const ControlSpec* row) { return row; });

    entries_.reserve(order.size());
    const ControlSpec* previous = nullptr;
    for (const ControlSpec* row : order) {
        const bool continuesGroup = row->kind == ControlKind::OptionButton && previous &&
                                    previous->kind == ControlKind::OptionButton && previous->name == row->name;
        const Build build{program, *row, window_, layoutRect(*row), FirstControlId + int(entries_.size()),
                          !continuesGroup, font_, textFont_, arrays_};
        Made made = MakeControl(row->kind, build);
        entries_.push_back({row, made.window, std::move(made.control)});
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

void Win32Form::focusFirst() {
    const int first = nextFocus(int(entries_.size()), -1, true, [this](int i) { return takesFocus(entries_[i]); });
    if (first >= 0) SetFocus(entries_[first].handle);
}

void Win32Form::focusNext(bool previous) {
    const int count = int(entries_.size());
    if (count == 0) return;
    HWND focus = GetFocus();
    int at = -1;
    for (int i = 0; i < count; ++i)
        if (entries_[i].handle == focus) at = i;
    const int to = nextFocus(count, at, !previous, [this](int i) { return takesFocus(entries_[i]); });
    if (to < 0) return;
    HWND candidate = entries_[to].handle;
    SetFocus(candidate);
    // A text box reached from the keyboard has its whole text selected.
    if (entries_[to].row->kind == ControlKind::TextBox) SendMessageW(candidate, EM_SETSEL, 0, -1);
}

void Win32Form::notify(const Entry& from, int code) {
    if (auto* control = dynamic_cast<Notified*>(from.control.get())) control->notified(code);
}

LRESULT Win32Form::message(UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_COMMAND: {
        const int id = LOWORD(wParam);
        const int code = HIWORD(wParam);
        // Enter reaches the window as IDOK: it clicks a button only while that button has
        // the focus, as Space does. Esc (IDCANCEL) clicks nothing.
        if (id == IDOK || id == IDCANCEL) {
            const Entry* focused = entryOf(GetFocus());
            if (id == IDOK && focused && focused->row->kind == ControlKind::CommandButton) notify(*focused, BN_CLICKED);
            return 0;
        }
        if (const Entry* from = entryOf(reinterpret_cast<HWND>(lParam))) notify(*from, code);
        return 0;
    }
    case WM_ACTIVATE:
        // The focus leaves with the window and comes back to the control that had it.
        if (LOWORD(wParam) == WA_INACTIVE) {
            if (entryOf(GetFocus())) lastFocus_ = GetFocus();
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

void Win32Form::show() {
    if (!window_) return;
    ShowWindow(window_, SW_SHOW);
    SetForegroundWindow(window_);
    SetActiveWindow(window_);
    focusFirst();
    UpdateWindow(window_);
}

void Win32Form::showBox(std::u16string_view text, BoxKind kind) {
    const UINT type = kind == BoxKind::Report ? MB_OK | MB_ICONERROR | MB_SETFOREGROUND : MB_OK;
    MessageBoxW(window_ && IsWindowVisible(window_) ? window_ : nullptr, wstr(text).c_str(), wstr(MessageTitle).c_str(),
                type);
}

void Win32Form::takeDown() {
    if (window_) ShowWindow(window_, SW_HIDE);
}

TwipsRect Win32Form::outer() const {
    RECT r{};
    if (window_) GetWindowRect(window_, &r);
    return {toTwipsX(r.left), toTwipsY(r.top), toTwipsX(r.right - r.left), toTwipsY(r.bottom - r.top)};
}

void Win32Form::moveTo(std::optional<float> left, std::optional<float> top) {
    RECT r{};
    GetWindowRect(window_, &r);
    SetWindowPos(window_, nullptr, left ? toPixelsX(*left) : r.left, top ? toPixelsY(*top) : r.top, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

} // namespace runtime::win32
