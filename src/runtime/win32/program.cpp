// The program's start on Win32: the message loop with the dialog manager, and the screen.
#include "runtime/win32/program.h"

#include "runtime/win32/twips.h"

namespace runtime::win32 {

namespace {

class Win32Screen : public Screen {
public:
    float Width() const override { return toTwipsX(GetSystemMetrics(SM_CXSCREEN)); }
    float Height() const override { return toTwipsY(GetSystemMetrics(SM_CYSCREEN)); }
};

} // namespace

void Program::loop() {
    MSG msg;
    while (!ended()) {
        const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
        if (got <= 0) break;
        handle(msg);
    }
}

void Program::quitLoop(int status) { PostQuitMessage(status); }

void Program::handle(MSG& msg) {
    HWND window = ended() ? nullptr : form().window();
    // Tab walks the whole focus order, every option button a stop of its own, as on the other
    // build (the dialog manager would stop only at the selected option of a pair).
    if (window && msg.message == WM_KEYDOWN && msg.wParam == VK_TAB && !(GetKeyState(VK_CONTROL) & 0x8000) &&
        (msg.hwnd == window || IsChild(window, msg.hwnd))) {
        form().focusNext((GetKeyState(VK_SHIFT) & 0x8000) != 0);
        return;
    }
    // The dialog manager moves within an option pair with the arrows; Enter and Esc reach the
    // window as commands that it ignores unless a button has the focus.
    if (window && IsDialogMessageW(window, &msg)) return;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
}

} // namespace runtime::win32

namespace runtime {

const Screen& toolkitScreen() {
    static const win32::Win32Screen theScreen;
    return theScreen;
}

int Run(int, char**, const FormSpec& layout, std::function<void(Form&)> load) {
    // Twips become pixels at the display's real resolution, not a scaled 96.
    SetProcessDPIAware();
    return win32::Program(layout).run(load);
}

} // namespace runtime
