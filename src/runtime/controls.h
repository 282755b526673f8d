// The windowing runtime's controls, as the window and the settings store use them.
// No toolkit type crosses this interface; text crosses as UTF-16. Each toolkit realises
// these classes (runtime/qt, runtime/win32).
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <string>
#include <string_view>

namespace runtime {

// Error numbers of the runtime's standard errors.
namespace error {
inline constexpr int InvalidProcedureCall = 5;
inline constexpr int Overflow = 6;
inline constexpr int DivisionByZero = 11;
inline constexpr int InvalidPropertyValue = 380;
} // namespace error

// A runtime error. Raised by a failing control operation, it leaves the procedure and its
// callers and reaches the runtime, which reports it and ends the program.
class Error : public std::exception {
public:
    explicit Error(int number);
    Error(int number, std::u16string description);
    int number() const noexcept { return number_; }
    const std::u16string& description() const noexcept { return description_; }
    const char* what() const noexcept override { return "runtime error"; }

private:
    int number_;
    std::u16string description_;
};

[[noreturn]] void raise(int number);

class Control {
public:
    virtual ~Control() = default;
    virtual bool enabled() const = 0;
    virtual void setEnabled(bool on) = 0;
};

class Frame : public Control {};

class Label : public Control {
public:
    // 0 no border, 1 single line; anything else raises InvalidPropertyValue.
    virtual int borderStyle() const = 0;
    virtual void setBorderStyle(int style) = 0;
};

class TextBox : public Control {
public:
    virtual std::u16string text() const = 0;
    // Text set from code is taken whole, also beyond the maximum length, and is not filtered.
    virtual void setText(std::u16string_view text) = 0;
    // The most characters the user can type; 0 for no limit. It never cuts text already held.
    virtual int maxLength() const = 0;
    virtual void setMaxLength(int length) = 0;
    // One character shown in place of each character held, or empty for plain text.
    virtual std::u16string passwordChar() const = 0;
    virtual void setPasswordChar(std::u16string_view character) = 0;
    // Decides whether an edit by the user (typing, pasting, deleting) may turn the text
    // `current` into `proposed`; a refused edit leaves the text as it was.
    using InputFilter = std::function<bool(std::u16string_view current, std::u16string_view proposed)>;
    virtual void setInputFilter(InputFilter filter) = 0;
    // Whether the user has edited the text (typed, deleted, pasted, undone), even when it ends
    // as it began. Text set from code and edits that the box refused never count.
    virtual bool userActed() const = 0;
};

class CheckBox : public Control {
public:
    // 0 clear, 1 ticked; anything else raises InvalidPropertyValue.
    virtual int value() const = 0;
    virtual void setValue(int value) = 0;
    // Whether the user has clicked the box or toggled it from the keyboard, even back to
    // where it was. A value set from code never counts.
    virtual bool userActed() const = 0;
};

class OptionButton : public Control {
public:
    virtual bool selected() const = 0;
    // Selecting clears the other option of the same array and raises the array's Click at
    // once, before this call returns, exactly as a user's click does.
    virtual void setSelected(bool on) = 0;
    // Whether the user has clicked the option or selected it from the keyboard, even when it
    // was selected already. A selection from code never counts.
    virtual bool userActed() const = 0;
};

// Two option buttons under one name in one frame, with one Click event that receives the
// index of the option that became selected.
class OptionArray {
public:
    virtual ~OptionArray() = default;
    virtual OptionButton& operator[](std::int16_t index) = 0;  // raises for an index not 0 or 1
    virtual void onClick(std::function<void(std::int16_t index)> handler) = 0;
};

class CommandButton : public Control {
public:
    virtual void onClick(std::function<void()> handler) = 0;
};

// Ends the program at once: the window is destroyed and no further event procedure runs.
[[noreturn]] void End();

// Shows a message to the user and waits until they close it.
void MsgBox(std::u16string_view text);

} // namespace runtime
