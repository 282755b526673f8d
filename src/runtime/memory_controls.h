// Controls that only hold their values, with no toolkit and no window: for running the
// settings store in benchmarks and fast tests. They keep the rules of the real controls
// (common_controls.h). What a user does is done through the user* members, which count as the
// user's action as the real controls count a click or an edit.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "runtime/common_controls.h"

namespace runtime::memory {

template <class Interface>
class Held : public Interface {
public:
    using Interface::Interface;
    bool enabled() const override { return enabled_; }
    void setEnabled(bool on) override { enabled_ = on; }

private:
    bool enabled_ = true;
};

class CheckBox final : public Held<common::CheckBox> {
public:
    // A click: the box toggles.
    void userClick() {
        userClicked();
        ticked_ = !ticked_;
    }

private:
    bool marked() const override { return ticked_; }
    void mark(bool on) override { ticked_ = on; }

    bool ticked_ = false;
};

class TextBox final : public Held<common::TextBox> {
public:
    TextBox() : Held(nullptr) {}
    std::u16string text() const override { return held(); }
    void setText(std::u16string_view text) override { heldFromCode(std::u16string(text)); }
    // An edit that leaves `text` in the box; refused, as the real box refuses it, when it
    // passes the typing limit or the program's filter does not allow it.
    bool userEdit(std::u16string_view text) { return takeEdit(text); }

private:
    void applyMaxLength() override {}
    void showPasswordChar(std::u16string_view) override {}
};

class OptionButton final : public Held<common::OptionButton> {
public:
    using Held::Held;
    // A click: the option is selected (again, when it was) and the array's Click runs.
    void userClick() {
        markAlone();
        userClicked();
    }

private:
    bool marked() const override { return selected_; }
    void mark(bool on) override { selected_ = on; }

    bool selected_ = false;
};

class Frame final : public Held<runtime::Frame> {};

class Label final : public Held<common::Label> {
private:
    void showBorder(bool) override {}
};

class CommandButton final : public Held<common::CommandButton> {
public:
    using Held::Held;
    // A click: the button's Click runs inside the program's boundary.
    void userClick() { userClicked(); }
};

// Two options, indices 0 and 1.
class OptionArray final : public common::OptionArray {
public:
    OptionArray() : common::OptionArray(nullptr) {}
    OptionButton& operator[](std::int16_t index) override {
        if (index != 0 && index != 1) raise(error::InvalidProcedureCall);
        return buttons_[index];
    }

private:
    OptionButton buttons_[2]{{*this, 0}, {*this, 1}};
};

} // namespace runtime::memory
