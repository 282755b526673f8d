// The form on Qt: its window and the controls of its table. Private to the Qt realisation of
// the runtime.
#pragma once

#include <memory>
#include <optional>
#include <string_view>

#include <QPointer>
#include <QStyle>
#include <QWidget>

#include "runtime/program.h"
#include "runtime/table_form.h"

namespace runtime::qt {

// The form built from its table: the top-level window and one widget for each row, each
// inside its frame.
class QtForm : public TableForm<QPointer<QWidget>> {
public:
    QtForm(ProgramCore& program, const FormSpec& layout);
    ~QtForm() override;

    // Shows the window, already placed, and lets it take the focus.
    void show();
    // A modal box over the window while it is on the screen; a report also goes to standard
    // error.
    void showBox(std::u16string_view text, BoxKind kind);
    // The window goes out of sight at once, and is deleted once the events in hand are done.
    void takeDown();

private:
    TwipsRect outer() const override;
    void moveTo(std::optional<float> left, std::optional<float> top) override;
    // Gives the focus to the first control of the focus order that can take it.
    void focusFirst();

    std::unique_ptr<QStyle> textStyle_;
};

} // namespace runtime::qt
