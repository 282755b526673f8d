// The input seam on Win32: key, character and mouse messages posted to the controls and
// taken through the program's own loop (the dialog manager, TranslateMessage and the
// controls' window procedures), the clipboard for pastes, and a look at the windows.
#include <oleacc.h>

#include <stdexcept>

#include "runtime/session.h"
#include "runtime/win32/program.h"
#include "runtime/win32/text.h"

namespace runtime::testing {

namespace {

// Hands every message waiting for this thread to the program, as its loop would.
void settleMessages(win32::Program* program) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) continue;
        if (program) program->handle(msg);
        else {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
}

LPARAM keyData(UINT vk, bool up) {
    const UINT scan = MapVirtualKeyW(vk, MAPVK_VK_TO_VSC);
    LPARAM data = 1 | LPARAM(scan & 0xFF) << 16;
    if (vk == VK_DELETE || vk == VK_HOME || vk == VK_END || (vk >= VK_LEFT && vk <= VK_DOWN)) data |= 1 << 24;
    if (up) data |= LPARAM(0xC0000000u);
    return data;
}

// The modifier keys held while a key is pressed, in the thread's keyboard state.
class Modifiers {
public:
    Modifiers(bool shift, bool control) : active_(shift || control) {
        if (!active_) return;
        GetKeyboardState(saved_);
        BYTE state[256];
        GetKeyboardState(state);
        if (shift) state[VK_SHIFT] = state[VK_LSHIFT] = 0x80;
        if (control) state[VK_CONTROL] = state[VK_LCONTROL] = 0x80;
        SetKeyboardState(state);
    }
    ~Modifiers() {
        if (active_) SetKeyboardState(saved_);
    }

private:
    bool active_;
    BYTE saved_[256] = {};
};

struct KeyStroke {
    UINT vk;
    bool shift = false, control = false;
    wchar_t character = 0;  // what the key types once translated, where a control reads it
};

KeyStroke stroke(Key key) {
    switch (key) {
    case Key::Tab: return {VK_TAB};
    case Key::ShiftTab: return {VK_TAB, true};
    case Key::Enter: return {VK_RETURN};
    case Key::Escape: return {VK_ESCAPE};
    case Key::Space: return {VK_SPACE, false, false, L' '};
    case Key::Left: return {VK_LEFT};
    case Key::Right: return {VK_RIGHT};
    case Key::Up: return {VK_UP};
    case Key::Down: return {VK_DOWN};
    case Key::Backspace: return {VK_BACK, false, false, 0x08};
    case Key::Delete: return {VK_DELETE};
    case Key::Home: return {VK_HOME};
    case Key::End: return {VK_END};
    case Key::Undo: return {'Z', false, true, 0x1A};
    }
    return {0};
}

win32::Program& program(const Session::State& state) { return static_cast<win32::Program&>(*state.program); }

HWND controlWindow(const Session::State& state, const ControlId& id) {
    if (state.program->ended()) throw std::logic_error("the program has ended");
    HWND w = program(state).form().handle(id.name, id.index);
    if (!w) throw std::invalid_argument("no such control");
    return w;
}

HWND formWindow(const Session::State& state) {
    if (state.program->ended() || !program(state).form().window()) throw std::logic_error("the program has ended");
    return program(state).form().window();
}

void settle(const Session::State& state) { settleMessages(&program(state)); }

// A key pressed and released where the focus is, with the modifiers held meanwhile.
void pressKey(const Session::State& state, HWND target, const KeyStroke& k) {
    const Modifiers held(k.shift, k.control);
    PostMessageW(target, WM_KEYDOWN, k.vk, keyData(k.vk, false));
    // The key goes through the loop; where translating it typed nothing (a posted key
    // has no keyboard behind it on every system), its character follows as the
    // keyboard would have typed it.
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) continue;
        program(state).handle(msg);
        if (msg.message == WM_KEYDOWN && msg.wParam == k.vk) break;
    }
    if (k.character && !state.program->ended() && !PeekMessageW(&msg, nullptr, WM_CHAR, WM_CHAR, PM_NOREMOVE))
        if (HWND now = GetFocus()) PostMessageW(now, WM_CHAR, k.character, keyData(k.vk, false));
    settle(state);
    if (state.program->ended()) return;
    HWND now = GetFocus();
    PostMessageW(now ? now : target, WM_KEYUP, k.vk, keyData(k.vk, true));
    settle(state);
}

// Focuses the control as a user's keyboard can: a disabled control takes no focus.
bool focusOn(const Session::State& state, HWND control) {
    if (!IsWindowEnabled(control)) return false;
    if (GetFocus() != control) SetFocus(control);
    settle(state);
    return GetFocus() == control;
}

} // namespace

std::unique_ptr<ProgramCore> newProgram(const FormSpec& layout) { return std::make_unique<win32::Program>(layout); }

// Visible, every control there, and the focus inside the window.
bool ready(ProgramCore& core, const FormSpec& layout) {
    const win32::Win32Form& form = static_cast<win32::Program&>(core).form();
    HWND window = form.window();
    if (!window || !IsWindowVisible(window)) return false;
    for (const ControlSpec& row : layout.controls) {
        HWND control = form.handle(row.name, row.index);
        if (!control || !IsWindowVisible(control)) return false;
    }
    return GetActiveWindow() == window;
}

void settle(ProgramCore* core) { settleMessages(static_cast<win32::Program*>(core)); }

void Session::click(const ControlId& control) {
    HWND target = controlWindow(*state_, control);
    RECT r{};
    GetClientRect(target, &r);
    POINT at{(r.right - r.left) / 2, (r.bottom - r.top) / 2};
    // A disabled control lets the click fall through to the window beneath it.
    if (!IsWindowEnabled(target)) {
        MapWindowPoints(target, formWindow(*state_), &at, 1);
        target = formWindow(*state_);
    }
    const LPARAM where = MAKELPARAM(at.x, at.y);
    PostMessageW(target, WM_MOUSEMOVE, 0, where);
    PostMessageW(target, WM_LBUTTONDOWN, MK_LBUTTON, where);
    settle(*state_);
    if (state_->program->ended()) return;
    HWND captured = GetCapture();
    PostMessageW(captured ? captured : target, WM_LBUTTONUP, 0, where);
    settle(*state_);
}

void Session::press(Key key) {
    HWND target = GetFocus();
    if (!target) target = formWindow(*state_);
    pressKey(*state_, target, stroke(key));
}

void Session::press(Key key, const ControlId& control) {
    HWND w = controlWindow(*state_, control);
    if (!focusOn(*state_, w)) return;
    pressKey(*state_, w, stroke(key));
}

void Session::type(const ControlId& control, std::u16string_view text) {
    HWND w = controlWindow(*state_, control);
    if (!focusOn(*state_, w)) return;
    // Each character as the keyboard (or an input method) delivers it once translated.
    for (char16_t c : text) {
        if (state_->program->ending()) break;
        PostMessageW(w, WM_CHAR, WPARAM(c), 1);
        settle(*state_);
    }
}

void Session::paste(const ControlId& control, std::u16string_view text) {
    HWND w = controlWindow(*state_, control);
    if (!focusOn(*state_, w)) return;
    if (!OpenClipboard(formWindow(*state_))) throw std::runtime_error("the clipboard cannot be opened");
    EmptyClipboard();
    HGLOBAL data = GlobalAlloc(GMEM_MOVEABLE, (text.size() + 1) * sizeof(wchar_t));
    if (data) {
        auto* out = static_cast<char16_t*>(GlobalLock(data));
        std::copy(text.begin(), text.end(), out);
        out[text.size()] = 0;
        GlobalUnlock(data);
        if (!SetClipboardData(CF_UNICODETEXT, data)) GlobalFree(data);
    }
    CloseClipboard();
    // Ctrl+V, which the box receives as its paste character.
    pressKey(*state_, w, KeyStroke{'V', false, true, 0x16});
}

void Session::closeWindow() {
    // The title bar's close button: the system command that becomes WM_CLOSE.
    PostMessageW(formWindow(*state_), WM_SYSCOMMAND, SC_CLOSE, 0);
    settle(*state_);
}

std::optional<ControlId> Session::focused() const {
    if (state_->program->ended()) return std::nullopt;
    const ControlSpec* row = program(*state_).form().rowOf(GetFocus());
    if (!row) return std::nullopt;
    return ControlId{std::u16string(row->name), row->index};
}

namespace {
RECT inClient(HWND control, HWND window) {
    RECT r{};
    GetWindowRect(control, &r);
    MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&r), 2);
    return r;
}
} // namespace

Rect Session::rectInContainer(const ControlId& control) const {
    HWND w = controlWindow(*state_, control);
    RECT r = inClient(w, formWindow(*state_));
    const ControlSpec* row = program(*state_).form().rowOf(w);
    if (row && !row->container.empty()) {
        const RECT frame = inClient(controlWindow(*state_, {std::u16string(row->container)}), formWindow(*state_));
        OffsetRect(&r, -frame.left, -frame.top);
    }
    return {r.left, r.top, r.right - r.left, r.bottom - r.top};
}

Rect Session::rectInClient(const ControlId& control) const {
    const RECT r = inClient(controlWindow(*state_, control), formWindow(*state_));
    return {r.left, r.top, r.right - r.left, r.bottom - r.top};
}

Rect Session::clientRect() const {
    RECT r{};
    GetClientRect(formWindow(*state_), &r);
    return {0, 0, r.right - r.left, r.bottom - r.top};
}

std::u16string Session::displayedText(const ControlId& control) const {
    HWND w = controlWindow(*state_, control);
    wchar_t className[16] = {};
    GetClassNameW(w, className, 16);
    if (lstrcmpiW(className, L"EDIT") != 0) throw std::invalid_argument("not a text box");
    std::u16string text = win32::windowText(w);
    const auto mask = char16_t(SendMessageW(w, EM_GETPASSWORDCHAR, 0, 0));
    if ((GetWindowLongPtrW(w, GWL_STYLE) & ES_PASSWORD) && mask) text.assign(text.size(), mask);
    return text;
}

namespace {
// The metrics of the font that the control draws with.
template <class F>
auto withFont(HWND control, F&& f) {
    HDC dc = GetDC(control);
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(control, WM_GETFONT, 0, 0)));
    auto result = f(dc);
    SelectObject(dc, old);
    ReleaseDC(control, dc);
    return result;
}
} // namespace

std::u16string Session::fontFamily(const ControlId& control) const {
    return withFont(controlWindow(*state_, control), [](HDC dc) {
        wchar_t face[LF_FACESIZE] = {};
        GetTextFaceW(dc, LF_FACESIZE, face);
        return win32::u16(face);
    });
}

int Session::fontPixelSize(const ControlId& control) const {
    return withFont(controlWindow(*state_, control), [](HDC dc) {
        TEXTMETRICW metrics{};
        GetTextMetricsW(dc, &metrics);
        return int(metrics.tmHeight - metrics.tmInternalLeading);
    });
}

namespace {
// The icon's colour and mask as 32-bit rows, top-down.
struct IconImage {
    int width = 0, height = 0;
    std::vector<std::uint32_t> colour, mask;
};

IconImage iconImage(HICON icon) {
    IconImage image;
    ICONINFO info{};
    if (!icon || !GetIconInfo(icon, &info)) return image;
    BITMAP bitmap{};
    GetObjectW(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof bitmap, &bitmap);
    image.width = bitmap.bmWidth;
    image.height = info.hbmColor ? bitmap.bmHeight : bitmap.bmHeight / 2;
    BITMAPINFO header{};
    header.bmiHeader.biSize = sizeof header.bmiHeader;
    header.bmiHeader.biWidth = image.width;
    header.bmiHeader.biHeight = -image.height;
    header.bmiHeader.biPlanes = 1;
    header.bmiHeader.biBitCount = 32;
    header.bmiHeader.biCompression = BI_RGB;
    image.colour.assign(std::size_t(image.width * image.height), 0);
    image.mask.assign(std::size_t(image.width * image.height), 0);
    HDC dc = GetDC(nullptr);
    if (info.hbmColor) GetDIBits(dc, info.hbmColor, 0, UINT(image.height), image.colour.data(), &header, DIB_RGB_COLORS);
    GetDIBits(dc, info.hbmMask, 0, UINT(image.height), image.mask.data(), &header, DIB_RGB_COLORS);
    ReleaseDC(nullptr, dc);
    if (info.hbmColor) DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    return image;
}
} // namespace

bool Session::iconLoaded() const {
    formWindow(*state_);
    const IconImage image = iconImage(program(*state_).form().icon());
    return image.width == 32 && image.height == 32;
}

std::uint32_t Session::iconPixel(int x, int y) const {
    formWindow(*state_);
    const IconImage image = iconImage(program(*state_).form().icon());
    if (x < 0 || y < 0 || x >= image.width || y >= image.height) throw std::out_of_range("outside the icon");
    const std::size_t at = std::size_t(y * image.width + x);
    // A set mask bit is a transparent pixel.
    const bool transparent = (image.mask[at] & 0xFFFFFF) != 0;
    return (transparent ? 0u : 0xFF000000u) | (image.colour[at] & 0xFFFFFF);
}

std::u16string Session::accessibleName(const ControlId& control) const {
    HWND window = state_->program->ended() ? nullptr : program(*state_).form().handle(control.name, control.index);
    if (!window) throw std::invalid_argument("no such control");
    // As a screen reader asks: the control's object through the system, then its name.
    static thread_local const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    (void)com;
    IAccessible* accessible = nullptr;
    if (FAILED(AccessibleObjectFromWindow(window, OBJID_CLIENT, __uuidof(IAccessible),
                                          reinterpret_cast<void**>(&accessible))) || !accessible)
        throw std::runtime_error("the control has no accessible object");
    VARIANT self;
    VariantInit(&self);
    self.vt = VT_I4;
    self.lVal = CHILDID_SELF;
    BSTR name = nullptr;
    const HRESULT got = accessible->get_accName(self, &name);
    accessible->Release();
    if (FAILED(got)) throw std::runtime_error("the control's name cannot be read");
    std::u16string text = name ? win32::u16(std::wstring_view(name, SysStringLen(name))) : std::u16string();
    SysFreeString(name);
    return text;
}

bool Session::windowVisible() const {
    return !state_->program->ended() && IsWindowVisible(formWindow(*state_));
}

std::u16string Session::windowTitle() const { return win32::windowText(formWindow(*state_)); }

bool Session::waitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    const ULONGLONG deadline = GetTickCount64() + ULONGLONG(timeout.count());
    for (;;) {
        settle(*state_);
        if (condition()) return true;
        if (GetTickCount64() >= deadline) return condition();
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
}

} // namespace runtime::testing
