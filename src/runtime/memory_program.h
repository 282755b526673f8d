// The program with its one form in memory: each control of the form's table holds its values
// and keeps the rules of the real controls, but nothing is shown and no toolkit is touched, so
// it runs where there is no display. The window's procedures run on it unchanged; what a user
// does is done through the memory controls' user* members.
#pragma once

#include <optional>
#include <string_view>

#include "runtime/memory_controls.h"
#include "runtime/program.h"
#include "runtime/table_form.h"

namespace runtime::memory {

// The form built from its table, each control made in memory; its "window" is the form itself.
class Form final : public TableForm<const void*> {
public:
    Form(ProgramCore& program, const FormSpec& layout);

    // The controls as the memory realisation has them, to act on them as a user does.
    TextBox& userTextBox(std::u16string_view name);
    CheckBox& userCheckBox(std::u16string_view name);
    OptionButton& userOption(std::u16string_view name, std::int16_t index);
    CommandButton& userButton(std::u16string_view name);

    void show() {}
    void showBox(std::u16string_view, BoxKind) {}
    void takeDown() { window_ = nullptr; }

private:
    TwipsRect outer() const override { return place_; }
    void moveTo(std::optional<float> left, std::optional<float> top) override;

    TwipsRect place_;
};

class Program final : public FormProgram<Form> {
public:
    explicit Program(const FormSpec& layout) : FormProgram(layout) {}
    const Screen& screen() const override;

private:
    void loop() override {}
    void quitLoop(int) override {}
};

} // namespace runtime::memory
