// The input seam that tests drive a form with, as a user drives it: real mouse and key events
// through the toolkit's own event path, and a look at what the window shows. Every toolkit
// realises it; tests use only this header and the runtime's, never the toolkit.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/runtime.h"

namespace runtime::testing {

// A control by its name and its index within an option array (-1 outside one).
struct ControlId {
    std::u16string name;
    std::int16_t index = -1;
    friend bool operator==(const ControlId&, const ControlId&) = default;
};

// A rectangle in pixels.
struct Rect {
    int left = 0, top = 0, width = 0, height = 0;
    friend bool operator==(const Rect&, const Rect&) = default;
};

// Undo is the platform's undo key of a text box (Ctrl+Z).
enum class Key { Tab, ShiftTab, Enter, Escape, Space, Left, Right, Up, Down, Backspace, Delete, Home, End, Undo };

// One running program, as Run starts it, that returns control to the test. The form is built
// from the table, `load` runs before the window is first shown, and unless the program ended
// during load the window is shown, active and ready for input when the constructor returns.
// Reports of unhandled errors and message boxes are captured instead of shown. One session
// at a time.
class Session {
public:
    Session(const FormSpec& layout, std::function<void(Form&)> load);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // The form; only while the program has not ended.
    Form& form();

    // A mouse press and release at the control's centre.
    void click(const ControlId& control);
    // A key pressed and released in the control that has the focus, or in the given one.
    void press(Key key);
    void press(Key key, const ControlId& control);
    // Real key events, one character after another, into the control (focused first).
    void type(const ControlId& control, std::u16string_view text);
    // The text put on the clipboard and pasted into the control with the toolkit's paste key.
    void paste(const ControlId& control, std::u16string_view text);
    // A close request through the window system, as the title bar's close button makes.
    void closeWindow();

    std::optional<ControlId> focused() const;
    // The control's rectangle relative to its container, and relative to the client area.
    Rect rectInContainer(const ControlId& control) const;
    Rect rectInClient(const ControlId& control) const;
    // The form's client area in pixels.
    Rect clientRect() const;
    // The text that a text box displays (password characters in place of what it holds).
    std::u16string displayedText(const ControlId& control) const;
    // The family and pixel size of the font that the control really draws with.
    std::u16string fontFamily(const ControlId& control) const;
    int fontPixelSize(const ControlId& control) const;
    bool iconLoaded() const;
    // A pixel of the window's 32 x 32 icon as 0xAARRGGBB.
    std::uint32_t iconPixel(int x, int y) const;
    // The name that assistive technology (a screen reader) reads for the control.
    std::u16string accessibleName(const ControlId& control) const;
    bool windowVisible() const;
    std::u16string windowTitle() const;

    bool ended() const;
    int status() const;   // the exit status, once ended
    const std::vector<std::u16string>& reports() const;      // unhandled errors, as reported
    const std::vector<std::u16string>& messageBoxes() const;  // MsgBox texts

    // Dispatches events until `condition` holds or the time is up; returns the condition.
    bool waitFor(const std::function<bool()>& condition,
                 std::chrono::milliseconds timeout = std::chrono::seconds(5));

    struct State;

private:
    std::unique_ptr<State> state_;
};

} // namespace runtime::testing
