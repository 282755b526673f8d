// The controls as Win32 standard controls, one small factory for each kind: BUTTON as group
// box, auto check box, auto radio button and push button, STATIC for labels, EDIT for text
// boxes. A control depends on the program core only, for the boundary that a user's action
// runs inside. Private to the Win32 realisation of the runtime.
#pragma once

#include <windows.h>

#include <memory>

#include "runtime/common_controls.h"
#include "runtime/control_factories.h"
#include "runtime/program.h"

namespace runtime::win32 {

// What a factory needs to make the control of one row.
struct Build {
    ProgramCore& program;
    const ControlSpec& row;
    HWND parent;                    // the form's window, parent of every control
    RECT rect;                      // in the window's client area, in pixels
    int id;                         // the control's identifier in its parent's notifications
    bool startsGroup;               // the first of a group that the arrow keys move within
    HFONT font;                     // the form's font
    HFONT textFont;                 // the text boxes' font
    common::OptionArrays& arrays;   // where an option button finds its array
};

// The control's window, and the control that the program uses.
struct Made {
    HWND window;
    std::unique_ptr<Control> control;
};

extern const ControlFactories<Build, Made> MakeControl;

// A control as its parent sees it: its window's notifications (WM_COMMAND) reach it here.
class Notified {
public:
    virtual ~Notified() = default;
    // The control's window told its parent `code` (BN_CLICKED, EN_CHANGE).
    virtual void notified(int code) = 0;
};

} // namespace runtime::win32
