// The controls' rules that do not depend on the toolkit. Each realisation derives its controls
// from these classes and adds only what its toolkit shows and how a user's action reaches
// them; the controls that only hold their values (memory_controls.h) derive from them too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "runtime/controls.h"

namespace runtime {

class ProgramCore;

namespace common {

// A property of two states (a label's border, a check box's value) takes 0 or 1; anything
// else raises InvalidPropertyValue. Returns the value.
int checkedZeroOrOne(int value);

class Label : public runtime::Label {
public:
    int borderStyle() const final { return borderStyle_; }
    void setBorderStyle(int style) final;

protected:
    // Draws a single-line border round the label, or none.
    virtual void showBorder(bool on) = 0;

private:
    int borderStyle_ = 0;
};

class CheckBox : public runtime::CheckBox {
public:
    int value() const final { return marked() ? 1 : 0; }
    void setValue(int value) final;
    bool userActed() const final { return acted_; }

protected:
    // Whether the box is ticked.
    virtual bool marked() const = 0;
    // Ticks or clears the box from code, which is no click.
    virtual void mark(bool on) = 0;
    // The user clicked the box or toggled it from the keyboard.
    void userClicked() { acted_ = true; }

private:
    bool acted_ = false;
};

class CommandButton : public runtime::CommandButton {
public:
    explicit CommandButton(ProgramCore& program) : program_(program) {}
    void onClick(std::function<void()> handler) final { handler_ = std::move(handler); }

protected:
    // The user clicked the button: its Click runs inside the boundary.
    void userClicked();

private:
    ProgramCore& program_;
    std::function<void()> handler_;
};

class OptionArray;

// A member of an option array. Selecting it from code clears the other members and raises
// the array's Click at once, on the caller's stack, so that an error in Click reaches the
// code that selected; a user's click raises it inside the boundary.
class OptionButton : public runtime::OptionButton {
public:
    OptionButton(OptionArray& array, std::int16_t index);
    OptionButton(const OptionButton&) = delete;
    OptionButton& operator=(const OptionButton&) = delete;

    bool selected() const final { return marked(); }
    void setSelected(bool on) final;
    bool userActed() const final { return acted_; }

protected:
    virtual bool marked() const = 0;
    // Sets or clears the option's mark alone: no other member changes and no Click runs.
    virtual void mark(bool on) = 0;
    // The user clicked the option or selected it from the keyboard, and the toolkit has
    // marked it: Click runs inside the boundary.
    void userClicked();
    // Marks this option and clears the others, as a click does in the toolkit's group.
    void markAlone();

private:
    friend class OptionArray;

    OptionArray& array_;
    std::int16_t index_;
    bool acted_ = false;
};

// Option buttons under one name, with one Click event that receives the index of the option
// that became selected.
class OptionArray : public runtime::OptionArray {
public:
    // `program`: where a user's click runs Click; null runs it at once (no toolkit).
    explicit OptionArray(ProgramCore* program) : program_(program) {}
    OptionArray(const OptionArray&) = delete;
    OptionArray& operator=(const OptionArray&) = delete;

    runtime::OptionButton& operator[](std::int16_t index) override;  // raises for an index it lacks
    void onClick(std::function<void(std::int16_t index)> handler) final { handler_ = std::move(handler); }

private:
    friend class OptionButton;
    void markAlone(std::int16_t index);
    void raiseClick(std::int16_t index);

    ProgramCore* program_;
    std::map<std::int16_t, OptionButton*> members_;
    std::function<void(std::int16_t)> handler_;
};

// A form's option arrays by name, each made with its first member.
class OptionArrays {
public:
    OptionArray& get(std::u16string_view name, ProgramCore& program);
    OptionArray* find(std::u16string_view name) const;

private:
    std::map<std::u16string, std::unique_ptr<OptionArray>, std::less<>> arrays_;
};

// A text box's typing limit, its input filter and what counts as the user's edit. The toolkit
// reports each edit the user makes (takeEdit) and brings the held text back when one is
// refused; text set from code is taken whole, also beyond the maximum length, and never
// counts as an edit.
class TextBox : public runtime::TextBox {
public:
    int maxLength() const final { return maxLength_; }
    void setMaxLength(int length) final;
    std::u16string passwordChar() const final { return passwordChar_; }
    void setPasswordChar(std::u16string_view character) final;
    void setInputFilter(InputFilter filter) final { filter_ = std::move(filter); }
    bool userActed() const final { return acted_; }

protected:
    // `program`: where the filter runs, inside the boundary; null runs it as it is.
    explicit TextBox(ProgramCore* program) : program_(program) {}

    // Makes the toolkit's box follow a new maximum length (maxLength()).
    virtual void applyMaxLength() = 0;
    // Shows `character` in place of each character held, or the text itself when empty.
    virtual void showPasswordChar(std::u16string_view character) = 0;

    // The text as the rules know it: the last text set from code or left by an edit that stood.
    const std::u16string& held() const { return held_; }
    // The toolkit's box now holds `text`, set from code.
    void heldFromCode(std::u16string text) { held_ = std::move(text); }
    // The typing limit: the user's edit may leave `length` characters when that is within
    // the maximum length, or when it makes the text no longer than it was.
    bool withinLimit(std::size_t length) const;
    // Whether the user's edit from the held text to `proposed` stands: the typing limit,
    // then the program's filter.
    bool allows(std::u16string_view proposed) const;
    // The user's edit left `proposed` in the box. True when it stands: the box holds it from
    // now on and the user has acted (unless the box changed its own text). False when the
    // toolkit must bring back held().
    bool takeEdit(std::u16string_view proposed);

    // While the box changes its own text (set from code, or an edit taken back), nothing
    // that changes is the user's.
    bool fromCode() const { return fromCode_; }
    class FromCode {
    public:
        explicit FromCode(TextBox& box) : box_(box), was_(box.fromCode_) { box_.fromCode_ = true; }
        ~FromCode() { box_.fromCode_ = was_; }
        FromCode(const FromCode&) = delete;
        FromCode& operator=(const FromCode&) = delete;

    private:
        TextBox& box_;
        bool was_;
    };

private:
    ProgramCore* program_;
    int maxLength_ = 0;
    std::u16string passwordChar_;
    InputFilter filter_;
    std::u16string held_;
    bool fromCode_ = false;
    bool acted_ = false;
};

} // namespace common
} // namespace runtime
