// The controls on Qt widgets, one small factory for each kind. A control depends on the
// program core only, for the boundary that a user's action runs inside. Private to the Qt
// realisation of the runtime.
#pragma once

#include <memory>

#include <QFont>
#include <QStyle>
#include <QWidget>

#include "runtime/common_controls.h"
#include "runtime/control_factories.h"
#include "runtime/program.h"

namespace runtime::qt {

// What a factory needs to make the control of one row.
struct Build {
    ProgramCore& program;
    const ControlSpec& row;
    QWidget* parent;                // the form's window, or the frame that holds the control
    const QFont& textFont;          // the text boxes' font
    QStyle* textStyle;              // the text boxes' style
    common::OptionArrays& arrays;   // where an option button finds its array
};

// The widget, which the form places, and the control that the program uses.
struct Made {
    QWidget* widget;
    std::unique_ptr<Control> control;
};

extern const ControlFactories<Build, Made> MakeControl;

// The style of the text boxes: the platform's look, except that a password box shows the
// program's own password character. One for the form, which outlives its boxes.
std::unique_ptr<QStyle> makeTextBoxStyle();

} // namespace runtime::qt
