#include "runtime/common_controls.h"

#include <utility>

#include "runtime/program.h"

namespace runtime::common {

int checkedZeroOrOne(int value) {
    if (value != 0 && value != 1) raise(error::InvalidPropertyValue);
    return value;
}

void Label::setBorderStyle(int style) {
    showBorder(checkedZeroOrOne(style) == 1);
    borderStyle_ = style;
}

void CheckBox::setValue(int value) { mark(checkedZeroOrOne(value) == 1); }

void CommandButton::userClicked() {
    if (handler_) program_.dispatch(handler_);
}

OptionButton::OptionButton(OptionArray& array, std::int16_t index) : array_(array), index_(index) {
    array_.members_[index] = this;
}

void OptionButton::setSelected(bool on) {
    if (!on) {
        mark(false);
        return;
    }
    array_.markAlone(index_);
    array_.raiseClick(index_);
}

void OptionButton::userClicked() {
    acted_ = true;
    const std::int16_t index = index_;
    OptionArray& array = array_;
    if (array.program_)
        array.program_->dispatch([&array, index] { array.raiseClick(index); });
    else
        array.raiseClick(index);
}

void OptionButton::markAlone() { array_.markAlone(index_); }

runtime::OptionButton& OptionArray::operator[](std::int16_t index) {
    auto found = members_.find(index);
    if (found == members_.end()) raise(error::InvalidProcedureCall);
    return *found->second;
}

void OptionArray::markAlone(std::int16_t index) {
    for (auto& [other, member] : members_) member->mark(other == index);
}

void OptionArray::raiseClick(std::int16_t index) {
    if (handler_) handler_(index);
}

OptionArray& OptionArrays::get(std::u16string_view name, ProgramCore& program) {
    auto found = arrays_.find(name);
    if (found == arrays_.end())
        found = arrays_.emplace(std::u16string(name), std::make_unique<OptionArray>(&program)).first;
    return *found->second;
}

OptionArray* OptionArrays::find(std::u16string_view name) const {
    auto found = arrays_.find(name);
    return found == arrays_.end() ? nullptr : found->second.get();
}

void TextBox::setMaxLength(int length) {
    if (length < 0) raise(error::InvalidPropertyValue);
    maxLength_ = length;
    applyMaxLength();
}

void TextBox::setPasswordChar(std::u16string_view character) {
    if (character.size() > 1) raise(error::InvalidPropertyValue);
    showPasswordChar(character);
    passwordChar_ = std::u16string(character);
}

bool TextBox::withinLimit(std::size_t length) const {
    return maxLength_ <= 0 || length <= std::size_t(maxLength_) || length <= held_.size();
}

bool TextBox::allows(std::u16string_view proposed) const {
    if (fromCode_) return true;
    if (!withinLimit(proposed.size())) return false;
    if (!filter_) return true;
    // The filter sees the text as it was, whatever it does meanwhile.
    const std::u16string current = held_;
    if (!program_) return filter_(current, proposed);
    return program_->ask([&] { return filter_(current, proposed); });
}

bool TextBox::takeEdit(std::u16string_view proposed) {
    if (!allows(proposed)) return false;
    held_ = std::u16string(proposed);
    if (!fromCode_) acted_ = true;
    return true;
}

} // namespace runtime::common
