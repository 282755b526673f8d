// The windowing runtime: a form built from a layout table, the screen, and the program's
// start. No toolkit type crosses this interface; text crosses as UTF-16. Each toolkit realises
// it (runtime/qt, runtime/win32).
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "runtime/controls.h"

namespace runtime {

enum class ControlKind { Frame, Label, TextBox, CheckBox, OptionButton, CommandButton };

// One control of a form's layout. Positions and sizes are in twips; a control inside a frame
// is placed relative to the frame's outer top-left corner, any other relative to the form's
// client area.
struct ControlSpec {
    std::u16string_view name;
    std::int16_t index;              // the place within an option array, or -1
    ControlKind kind;
    std::u16string_view container;   // the frame that holds it, or empty for the form
    std::u16string_view caption;
    int left, top, width, height;
    int tabIndex;
};

struct FontSpec {
    std::u16string_view face;
    float points;
    int weight;     // 400 normal, 700 bold
    int charset;    // 128 Shift-JIS
};

// A label that names a control without a caption of its own (a text box) for assistive
// technology: a screen reader reads the label's caption as the control's name.
struct LabelSpec {
    std::u16string_view label;
    std::u16string_view control;
};

// A whole form: its caption, the size of its client area in twips, the form's font (which
// every control without a font of its own uses), the font of the text boxes, its icon, its
// controls in creation order (each frame before the controls that it holds) and the labels
// that name controls.
struct FormSpec {
    std::u16string_view caption;
    int clientWidth, clientHeight;
    FontSpec font;
    FontSpec textBoxFont;
    std::u16string_view icon;   // the name of the program's icon resource, or empty
    std::span<const ControlSpec> controls;
    std::span<const LabelSpec> labels;
};

// A form as the program sees it: its position and outer size in twips, and its controls by
// name. The typed accessors raise InvalidProcedureCall for a name that the form does not
// hold or that names a control of another kind.
class Form {
public:
    virtual ~Form() = default;

    virtual float Left() const = 0;
    virtual void setLeft(float twips) = 0;
    virtual float Top() const = 0;
    virtual void setTop(float twips) = 0;
    virtual float Width() const = 0;
    virtual float Height() const = 0;

    Frame& frame(std::u16string_view name);
    Label& label(std::u16string_view name);
    TextBox& textBox(std::u16string_view name);
    CheckBox& checkBox(std::u16string_view name);
    CommandButton& commandButton(std::u16string_view name);
    OptionArray& optionArray(std::u16string_view name);

protected:
    // The control of that name and index (-1 outside an array), or null.
    virtual Control* findControl(std::u16string_view name, std::int16_t index);
    virtual OptionArray* findOptionArray(std::u16string_view name);
};

// The whole screen, in twips.
class Screen {
public:
    virtual ~Screen() = default;
    virtual float Width() const = 0;
    virtual float Height() const = 0;
};

// The screen of the running program.
const Screen& screen();

// Creates the form from its table, runs `load` on it before the window is first shown, shows
// it and dispatches its events until the program ends. Returns the exit status: 0 after End or
// a close through the window system, non-zero after an error that no procedure handled.
int Run(int argc, char** argv, const FormSpec& layout, std::function<void(Form&)> load);

// The runtime's standard description of an error number, in Japanese.
std::u16string ErrorDescription(int number);
// The runtime's report of an error that no procedure handled.
std::u16string ErrorReport(int number, std::u16string_view description);

// The exit status after an error that no procedure handled.
inline constexpr int ErrorExitStatus = 1;
// The exit status when the window system cannot be reached.
inline constexpr int NoWindowExitStatus = 2;
// The title of the runtime's message boxes.
inline constexpr std::u16string_view MessageTitle = u"Vantorio";

} // namespace runtime
