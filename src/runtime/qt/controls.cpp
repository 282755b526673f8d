// The controls on Qt widgets: the widgets as the platform's standard controls behave, the
// adapters that give them the properties and events that the program uses, and the factories.
#include "runtime/qt/controls.h"

#include <cstdint>
#include <utility>

#include <QCheckBox>
#include <QCoreApplication>
#include <QEvent>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProxyStyle>
#include <QPushButton>
#include <QRadioButton>
#include <QValidator>

#include "runtime/qt/text.h"

namespace runtime::qt {

namespace {

// The character that a password box shows, kept on the widget for the style to find.
constexpr const char* PasswordCharProperty = "vantorioPasswordChar";

class TextBoxStyle : public QProxyStyle {
public:
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override {
        if (hint == SH_LineEdit_PasswordCharacter && widget) {
            QVariant character = widget->property(PasswordCharProperty);
            if (character.isValid()) return character.toInt();
        }
        if (hint == SH_LineEdit_PasswordMaskDelay) return 0;
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

// ---- widgets -------------------------------------------------------------------------

// Option buttons and check boxes answer a click anywhere in their rectangle, as the
// platform's standard controls do, not only on the mark and the caption.
class OptionWidget : public QRadioButton {
public:
    using QRadioButton::QRadioButton;

protected:
    bool hitButton(const QPoint& pos) const override { return rect().contains(pos); }
};

class CheckWidget : public QCheckBox {
public:
    using QCheckBox::QCheckBox;

protected:
    bool hitButton(const QPoint& pos) const override { return rect().contains(pos); }
};

// A command button is never a default button; Enter clicks it only while it has the focus.
class ButtonWidget : public QPushButton {
public:
    using QPushButton::QPushButton;

protected:
    void keyPressEvent(QKeyEvent* event) override {
        if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
            event->modifiers() == Qt::NoModifier) {
            if (!event->isAutoRepeat()) click();
            return;
        }
        QPushButton::keyPressEvent(event);
    }
};

// ---- controls ------------------------------------------------------------------------

template <class Interface, class Widget>
class WidgetControl : public Interface {
public:
    template <class... Args>
    explicit WidgetControl(Widget* widget, Args&&... args) : Interface(std::forward<Args>(args)...), widget_(widget) {}
    // The control's own flag, not whether its container is enabled.
    bool enabled() const override { return !get().testAttribute(Qt::WA_ForceDisabled); }
    void setEnabled(bool on) override { get().setEnabled(on); }

protected:
    Widget& get() const {
        if (!widget_) raise(error::InvalidProcedureCall);
        return *widget_;
    }

private:
    QPointer<Widget> widget_;
};

class FrameControl : public WidgetControl<Frame, QGroupBox> {
public:
    using WidgetControl::WidgetControl;
};

class LabelControl : public WidgetControl<common::Label, QLabel> {
public:
    using WidgetControl::WidgetControl;

private:
    void showBorder(bool on) override { get().setFrameStyle(on ? QFrame::Box | QFrame::Plain : QFrame::NoFrame); }
};

// A button (check box, option button, push button): its click, by the mouse or the keyboard,
// is the user's; a change from code never is.
template <class Interface, class Widget>
class ButtonControl : public WidgetControl<Interface, Widget> {
public:
    template <class... Args>
    explicit ButtonControl(Widget* button, Args&&... args)
        : WidgetControl<Interface, Widget>(button, std::forward<Args>(args)...) {
        QObject::connect(button, &Widget::clicked, button, [this] { this->userClicked(); });
    }
};

class CheckBoxControl : public ButtonControl<common::CheckBox, QCheckBox> {
public:
    using ButtonControl::ButtonControl;

private:
    bool marked() const override { return get().isChecked(); }
    void mark(bool on) override { get().setChecked(on); }
};

class CommandButtonControl : public ButtonControl<common::CommandButton, QPushButton> {
public:
    using ButtonControl::ButtonControl;
};

class OptionControl : public ButtonControl<common::OptionButton, QRadioButton> {
public:
    using ButtonControl::ButtonControl;

private:
    bool marked() const override { return get().isChecked(); }
    void mark(bool on) override {
        QRadioButton& button = get();
        const QSignalBlocker blocker(button);
        if (on) {
            button.setChecked(true);
        } else if (button.isChecked()) {
            // A selected option of a group cannot be cleared by the group itself.
            button.setAutoExclusive(false);
            button.setChecked(false);
            button.setAutoExclusive(true);
        }
    }
};

// The box's own typing limit is high; the validator decides each edit of the user by the
// rules of the box (the typing limit and the program's filter).
class TextBoxControl : public WidgetControl<common::TextBox, QLineEdit> {
public:
    TextBoxControl(ProgramCore& program, QLineEdit* edit);

    std::u16string text() const override { return fromQ(get().text()); }
    void setText(std::u16string_view text) override {
        QLineEdit& edit = get();
        {
            const FromCode fromCode(*this);
            edit.setText(toQ(text));
        }
        heldFromCode(fromQ(edit.text()));
    }
    bool allowsEdit(const QString& proposed) const { return allows(fromQ(proposed)); }

private:
    // The validator keeps to the maximum length; the box need only still be there.
    void applyMaxLength() override { get(); }
    void showPasswordChar(std::u16string_view character) override {
        QLineEdit& edit = get();
        if (character.empty()) {
            edit.setProperty(PasswordCharProperty, QVariant());
            edit.setEchoMode(QLineEdit::Normal);
        } else {
            edit.setProperty(PasswordCharProperty, int(character[0]));
            edit.setEchoMode(QLineEdit::Password);
        }
        // The box asks its style for the character when the style changes.
        QEvent styleChange(QEvent::StyleChange);
        QCoreApplication::sendEvent(&edit, &styleChange);
    }

    void changed(const QString& text) {
        if (takeEdit(fromQ(text))) return;
        // An edit that the box could not refuse on its own (an undo to a text the rules no
        // longer allow): the text held before it comes back.
        const FromCode fromCode(*this);
        get().setText(toQ(held()));
    }
};

class EditValidator : public QValidator {
public:
    EditValidator(const TextBoxControl& box, QObject* parent) : QValidator(parent), box_(box) {}
    State validate(QString& input, int&) const override { return box_.allowsEdit(input) ? Acceptable : Invalid; }

private:
    const TextBoxControl& box_;
};

TextBoxControl::TextBoxControl(ProgramCore& program, QLineEdit* edit) : WidgetControl(edit, &program) {
    edit->setValidator(new EditValidator(*this, edit));
    QObject::connect(edit, &QLineEdit::textChanged, edit, [this](const QString& text) { changed(text); });
}

// ---- factories -----------------------------------------------------------------------

Made makeFrame(const Build& b) {
    auto* box = new QGroupBox(toQ(b.row.caption), b.parent);
    return {box, std::make_unique<FrameControl>(box)};
}

Made makeLabel(const Build& b) {
    auto* label = new QLabel(toQ(b.row.caption), b.parent);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setTextFormat(Qt::PlainText);
    return {label, std::make_unique<LabelControl>(label)};
}

Made makeTextBox(const Build& b) {
    auto* edit = new QLineEdit(b.parent);
    edit->setFont(b.textFont);
    edit->setStyle(b.textStyle);
    edit->setMaxLength(32767);
    edit->setContextMenuPolicy(Qt::DefaultContextMenu);
    return {edit, std::make_unique<TextBoxControl>(b.program, edit)};
}

Made makeCheckBox(const Build& b) {
    auto* check = new CheckWidget(toQ(b.row.caption), b.parent);
    return {check, std::make_unique<CheckBoxControl>(check)};
}

Made makeOptionButton(const Build& b) {
    auto* option = new OptionWidget(toQ(b.row.caption), b.parent);
    common::OptionArray& array = b.arrays.get(b.row.name, b.program);
    return {option, std::make_unique<OptionControl>(option, array, b.row.index)};
}

Made makeCommandButton(const Build& b) {
    auto* button = new ButtonWidget(toQ(b.row.caption), b.parent);
    button->setAutoDefault(false);
    button->setDefault(false);
    return {button, std::make_unique<CommandButtonControl>(button, b.program)};
}

} // namespace

const ControlFactories<Build, Made> MakeControl{
    makeFrame, makeLabel, makeTextBox, makeCheckBox, makeOptionButton, makeCommandButton,
};

std::unique_ptr<QStyle> makeTextBoxStyle() { return std::make_unique<TextBoxStyle>(); }

} // namespace runtime::qt
