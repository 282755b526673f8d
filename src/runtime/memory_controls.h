// Controls that only hold their values, with no toolkit and no window: for running the
// settings store in benchmarks and fast tests. What a user does is done through the user*
// members, which count as the user's action as the real controls count a click or an edit.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>

#include "runtime/controls.h"

namespace runtime::memory {

template <class Interface>
class Held : public Interface {
public:
    bool enabled() const override { return enabled_; }
    void setEnabled(bool on) override { enabled_ = on; }

private:
    bool enabled_ = true;
};

class CheckBox final : public Held<runtime::CheckBox> {
public:
    int value() const override { return value_; }
    void setValue(int value) override {
        if (value != 0 && value != 1) raise(error::InvalidPropertyValue);
        value_ = value;
    }
    bool userActed() const override { return acted_; }
    // A click: the box toggles.
    void userClick() {
        acted_ = true;
        value_ = 1 - value_;
    }

private:
    int value_ = 0;
    bool acted_ = false;
};

class TextBox final : public Held<runtime::TextBox> {
public:
    std::u16string text() const override { return text_; }
    void setText(std::u16string_view text) override { text_ = text; }
    int maxLength() const override { return maxLength_; }
    void setMaxLength(int length) override {
        if (length < 0) raise(error::InvalidPropertyValue);
        maxLength_ = length;
    }
    std::u16string passwordChar() const override { return passwordChar_; }
    void setPasswordChar(std::u16string_view character) override {
        if (character.size() > 1) raise(error::InvalidPropertyValue);
        passwordChar_ = character;
    }
    void setInputFilter(InputFilter filter) override { filter_ = std::move(filter); }
    bool userActed() const override { return acted_; }
    // An edit that leaves `text` in the box; refused, as the real box refuses it, when the
    // program's filter does not allow it.
    bool userEdit(std::u16string_view text) {
        if (filter_ && !filter_(text_, text)) return false;
        acted_ = true;
        text_ = text;
        return true;
    }

private:
    std::u16string text_;
    int maxLength_ = 0;
    std::u16string passwordChar_;
    InputFilter filter_;
    bool acted_ = false;
};

class OptionArray;

class OptionButton final : public Held<runtime::OptionButton> {
public:
    bool selected() const override { return selected_; }
    void setSelected(bool on) override;
    bool userActed() const override { return acted_; }
    // A click: the option is selected (again, when it was) and the array's Click runs.
    void userClick() {
        acted_ = true;
        setSelected(true);
    }

private:
    friend class OptionArray;
    OptionArray* array_ = nullptr;
    std::int16_t index_ = 0;
    bool selected_ = false;
    bool acted_ = false;
};

// Two options, indices 0 and 1.
class OptionArray final : public runtime::OptionArray {
public:
    OptionArray() {
        for (std::int16_t i = 0; i < 2; ++i) {
            buttons_[i].array_ = this;
            buttons_[i].index_ = i;
        }
    }
    OptionArray(const OptionArray&) = delete;
    OptionArray& operator=(const OptionArray&) = delete;
    OptionButton& operator[](std::int16_t index) override {
        if (index != 0 && index != 1) raise(error::InvalidProcedureCall);
        return buttons_[index];
    }
    void onClick(std::function<void(std::int16_t)> handler) override { click_ = std::move(handler); }

private:
    friend class OptionButton;
    OptionButton buttons_[2];
    std::function<void(std::int16_t)> click_;
};

inline void OptionButton::setSelected(bool on) {
    selected_ = on;
    if (!on) return;
    array_->buttons_[1 - index_].selected_ = false;
    if (array_->click_) array_->click_(index_);
}

} // namespace runtime::memory
