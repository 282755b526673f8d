#include "runtime/memory_program.h"

#include <memory>

namespace runtime::memory {

namespace {

// A screen of 1024 x 768 pixels, at 96 dots per inch.
class MemoryScreen final : public Screen {
public:
    float Width() const override { return 1024 * 15.0f; }
    float Height() const override { return 768 * 15.0f; }
};

template <class T>
T& typedControl(Control* control) {
    T* typed = dynamic_cast<T*>(control);
    if (!typed) raise(error::InvalidProcedureCall);
    return *typed;
}

} // namespace

Form::Form(ProgramCore& program, const FormSpec& layout)
    : place_{0, 0, float(layout.clientWidth), float(layout.clientHeight)} {
    window_ = this;
    entries_.reserve(layout.controls.size());
    for (const ControlSpec& row : layout.controls) {
        std::unique_ptr<Control> control;
        switch (row.kind) {
        case ControlKind::Frame: control = std::make_unique<Frame>(); break;
        case ControlKind::Label: control = std::make_unique<Label>(); break;
        case ControlKind::TextBox: control = std::make_unique<TextBox>(); break;
        case ControlKind::CheckBox: control = std::make_unique<CheckBox>(); break;
        case ControlKind::CommandButton: control = std::make_unique<CommandButton>(program); break;
        case ControlKind::OptionButton:
            control = std::make_unique<OptionButton>(arrays_.get(row.name, program), row.index);
            break;
        }
        const void* handle = control.get();
        entries_.push_back({&row, handle, std::move(control)});
    }
}

TextBox& Form::userTextBox(std::u16string_view name) { return typedControl<TextBox>(findControl(name, -1)); }
CheckBox& Form::userCheckBox(std::u16string_view name) { return typedControl<CheckBox>(findControl(name, -1)); }
OptionButton& Form::userOption(std::u16string_view name, std::int16_t index) {
    return typedControl<OptionButton>(findControl(name, index));
}
CommandButton& Form::userButton(std::u16string_view name) { return typedControl<CommandButton>(findControl(name, -1)); }

void Form::moveTo(std::optional<float> left, std::optional<float> top) {
    if (left) place_.left = *left;
    if (top) place_.top = *top;
}

const Screen& Program::screen() const {
    static const MemoryScreen theScreen;
    return theScreen;
}

} // namespace runtime::memory
