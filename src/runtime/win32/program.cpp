// The program's start and end on Win32: the message loop with the dialog manager, the
// boundary around every event procedure, the report of an error that no procedure handled,
// End and MsgBox.
#include <cmath>
#include <cstdlib>
#include <new>

#include "runtime/win32/program.h"

namespace runtime::win32 {

namespace {

struct Resolution {
    int x = 96, y = 96;
};

// The screen's resolution in dots per inch, as the display reports it.
const Resolution& resolution() {
    static const Resolution value = [] {
        Resolution r;
        if (HDC screen = GetDC(nullptr)) {
            const int x = GetDeviceCaps(screen, LOGPIXELSX), y = GetDeviceCaps(screen, LOGPIXELSY);
            if (x > 0) r.x = x;
            if (y > 0) r.y = y;
            ReleaseDC(nullptr, screen);
        }
        return r;
    }();
    return value;
}

int toPixels(double twips, int dotsPerInch) {
    const double pixels = std::round(twips * dotsPerInch / 1440.0);
    constexpr double limit = 32767.0;  // the largest coordinate a window takes
    return int(std::fmax(-limit, std::fmin(limit, pixels)));
}

class Win32Screen : public Screen {
public:
    float Width() const override { return toTwipsX(GetSystemMetrics(SM_CXSCREEN)); }
    float Height() const override { return toTwipsY(GetSystemMetrics(SM_CYSCREEN)); }
};

} // namespace

int toPixelsX(double twips) { return toPixels(twips, resolution().x); }
int toPixelsY(double twips) { return toPixels(twips, resolution().y); }
float toTwipsX(int pixels) { return float(double(pixels) * 1440.0 / resolution().x); }
float toTwipsY(int pixels) { return float(double(pixels) * 1440.0 / resolution().y); }

Program::Program(const FormSpec& layout, bool mainLoop) : mainLoop_(mainLoop) {
    form_ = std::make_unique<Win32Form>(*this, layout);
}

Program::~Program() {
    // Nothing of the program runs while its window is taken down.
    stopRunning();
    form_.reset();
}

void Program::load(const std::function<void(Form&)>& procedure) {
    dispatch([&] { procedure(*form_); });
}

void Program::show() {
    if (ending()) return;
    HWND window = form_->window();
    if (!window) return;
    ShowWindow(window, SW_SHOW);
    SetForegroundWindow(window);
    SetActiveWindow(window);
    form_->focusFirst();
    UpdateWindow(window);
}

void Program::handle(MSG& msg) {
    HWND window = ended() ? nullptr : form_->window();
    // Tab walks the whole focus order, every option button a stop of its own, as on the other
    // build (the dialog manager would stop only at the selected option of a pair).
    if (window && msg.message == WM_KEYDOWN && msg.wParam == VK_TAB && !(GetKeyState(VK_CONTROL) & 0x8000) &&
        (msg.hwnd == window || IsChild(window, msg.hwnd))) {
        form_->focusNext((GetKeyState(VK_SHIFT) & 0x8000) != 0);
        return;
    }
    // The dialog manager moves within an option pair with the arrows; Enter and Esc reach the
    // window as commands that it ignores unless a button has the focus.
    if (window && IsDialogMessageW(window, &msg)) return;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
}

void Program::showReport(const std::u16string& report) {
    HWND window = form_->window();
    MessageBoxW(window && IsWindowVisible(window) ? window : nullptr, wstr(report).c_str(), wstr(MessageTitle).c_str(),
                MB_OK | MB_ICONERROR | MB_SETFOREGROUND);
}

void Program::leave(int status) {
    // The window goes out of sight at once; it is destroyed when the loop has left the
    // procedures that may still be running on its stack.
    if (HWND window = form_->window()) ShowWindow(window, SW_HIDE);
    if (mainLoop_) PostQuitMessage(status);
}

void Program::showMessage(std::u16string_view text) {
    HWND window = form_->window();
    MessageBoxW(window && IsWindowVisible(window) ? window : nullptr, wstr(text).c_str(), wstr(MessageTitle).c_str(),
                MB_OK);
}

} // namespace runtime::win32

namespace runtime {

const Screen& screen() {
    static const win32::Win32Screen theScreen;
    return theScreen;
}

int Run(int, char**, const FormSpec& layout, std::function<void(Form&)> load) {
    // Twips become pixels at the display's real resolution, not a scaled 96.
    SetProcessDPIAware();
    win32::Program program(layout, true);
    program.load(load);
    program.show();
    MSG msg;
    while (!program.ended()) {
        const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
        if (got <= 0) break;
        program.handle(msg);
    }
    return program.status();
}

} // namespace runtime
