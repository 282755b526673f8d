// The runtime's errors and their standard descriptions, the form's typed access to its
// controls and the checks of its moves: the same on every toolkit.
#include <cmath>
#include <utility>

#include "runtime/controls.h"
#include "runtime/runtime.h"
#include "runtime/table_form.h"

namespace runtime {

Error::Error(int number) : number_(number), description_(ErrorDescription(number)) {}

Error::Error(int number, std::u16string description)
    : number_(number), description_(std::move(description)) {}

void raise(int number) { throw Error(number); }

std::u16string ErrorDescription(int number) {
    switch (number) {
    case error::InvalidProcedureCall: return u"プロシージャの呼び出し、または引数が不正です。";
    case error::Overflow: return u"オーバーフローしました。";
    case 7: return u"メモリが不足しています。";
    case error::DivisionByZero: return u"0 で除算しました。";
    case 51: return u"内部エラーです。";
    case error::InvalidPropertyValue: return u"プロパティの値が不正です。";
    default: return u"アプリケーション定義またはオブジェクト定義のエラーです。";
    }
}

std::u16string ErrorReport(int number, std::u16string_view description) {
    std::u16string text = u"実行時エラー '";
    for (char c : std::to_string(number)) text += char16_t(c);
    text += u"':\n\n";
    text += description;
    return text;
}

namespace {
template <class T>
T& typed(Control* control) {
    if (auto* typedControl = dynamic_cast<T*>(control)) return *typedControl;
    raise(error::InvalidProcedureCall);
}
} // namespace

Control* Form::findControl(std::u16string_view, std::int16_t) { return nullptr; }
OptionArray* Form::findOptionArray(std::u16string_view) { return nullptr; }

Frame& Form::frame(std::u16string_view name) { return typed<Frame>(findControl(name, -1)); }
Label& Form::label(std::u16string_view name) { return typed<Label>(findControl(name, -1)); }
TextBox& Form::textBox(std::u16string_view name) { return typed<TextBox>(findControl(name, -1)); }
CheckBox& Form::checkBox(std::u16string_view name) { return typed<CheckBox>(findControl(name, -1)); }
CommandButton& Form::commandButton(std::u16string_view name) {
    return typed<CommandButton>(findControl(name, -1));
}
OptionArray& Form::optionArray(std::u16string_view name) {
    if (auto* array = findOptionArray(name)) return *array;
    raise(error::InvalidProcedureCall);
}

void checkMove(bool windowThere, float twips) {
    if (!windowThere) raise(error::InvalidProcedureCall);
    if (!std::isfinite(twips)) raise(error::Overflow);
}

} // namespace runtime
