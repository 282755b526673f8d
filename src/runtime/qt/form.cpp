// The form and its controls on Qt widgets: one widget per row of the layout table, placed in
// pixels from its twips, with the properties and events that the program uses.
#include <algorithm>
#include <cmath>

#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFont>
#include <QFontDatabase>
#include <QGroupBox>
#include <QIcon>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QProxyStyle>
#include <QPushButton>
#include <QRadioButton>
#include <QValidator>

#include "runtime/qt/icon.h"
#include "runtime/qt/program.h"

namespace runtime::qt {

namespace {

QString toQ(std::u16string_view text) {
    return QString(reinterpret_cast<const QChar*>(text.data()), qsizetype(text.size()));
}
std::u16string fromQ(const QString& text) {
    return std::u16string(reinterpret_cast<const char16_t*>(text.utf16()), size_t(text.size()));
}

// The character that a password box shows, kept on the widget for the style to find.
constexpr const char* PasswordCharProperty = "vantorioPasswordChar";

// The platform's look, except that a password box shows the program's own password character.
class RuntimeStyle : public QProxyStyle {
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

QFont makeFont(const FontSpec& wanted) {
    QString face = toQ(wanted.face);
    // Where the face is missing, a Gothic face of the same metrics stands in, so Japanese
    // captions never fall back to a Latin font.
    if (!QFontDatabase::families().contains(face)) QFont::insertSubstitution(face, "IPAGothic");
    QFont font(face);
    font.setPointSizeF(wanted.points);
    font.setWeight(wanted.weight >= 700 ? QFont::Bold : QFont::Normal);
    font.setItalic(false);
    font.setUnderline(false);
    font.setStrikeOut(false);
    font.setStyleHint(QFont::TypeWriter);
    return font;
}

// ---- widgets -------------------------------------------------------------------------

// The top-level window: a close through the window system ends the program, no key of its
// own (Esc, Enter) does anything, and Tab walks the form's focus order, in which every
// option button is a stop of its own.
class FormWindowWidget : public QWidget {
public:
    explicit FormWindowWidget(Program& program) : program_(program) {}
    std::vector<QPointer<QWidget>> tabOrder;

protected:
    void closeEvent(QCloseEvent* event) override {
        event->accept();
        if (!program_.ending()) program_.finish(0);
    }

    bool focusNextPrevChild(bool next) override {
        const int count = int(tabOrder.size());
        if (count == 0) return QWidget::focusNextPrevChild(next);
        int at = -1;
        for (int i = 0; i < count; ++i)
            if (tabOrder[i] && tabOrder[i] == focusWidget()) at = i;
        for (int step = 1; step <= count; ++step) {
            const int i = ((at < 0 ? (next ? -1 : count) : at) + (next ? step : -step) + 2 * count) % count;
            QWidget* candidate = tabOrder[i];
            // An option button whose partner had the focus has lost its tab stop to it: the
            // order itself says which controls take the focus.
            if (candidate && candidate->isEnabled() && candidate->isVisible()) {
                candidate->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
                return true;
            }
        }
        return false;
    }

private:
    Program& program_;
};

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
    explicit WidgetControl(Widget* widget) : widget_(widget) {}
    // The control's own flag, not whether its container is enabled.
    bool enabled() const override { return !get().testAttribute(Qt::WA_ForceDisabled); }
    void setEnabled(bool on) override { get().setEnabled(on); }

protected:
    Widget& get() const {
        if (!widget_) raise(error::InvalidProcedureCall);
        return *widget_;
    }
    QPointer<Widget> widget_;
};

class FrameControl : public WidgetControl<Frame, QGroupBox> {
public:
    using WidgetControl::WidgetControl;
};

class LabelControl : public WidgetControl<Label, QLabel> {
public:
    using WidgetControl::WidgetControl;
    int borderStyle() const override { return borderStyle_; }
    void setBorderStyle(int style) override {
        if (style != 0 && style != 1) raise(error::InvalidPropertyValue);
        get().setFrameStyle(style == 1 ? QFrame::Box | QFrame::Plain : QFrame::NoFrame);
        borderStyle_ = style;
    }

private:
    int borderStyle_ = 0;
};

class CheckBoxControl : public WidgetControl<CheckBox, QCheckBox> {
public:
    explicit CheckBoxControl(QCheckBox* check) : WidgetControl(check) {
        // A click or the space bar: never a value set from code.
        QObject::connect(check, &QCheckBox::clicked, check, [this] { acted_ = true; });
    }
    int value() const override { return get().isChecked() ? 1 : 0; }
    void setValue(int value) override {
        if (value != 0 && value != 1) raise(error::InvalidPropertyValue);
        get().setChecked(value == 1);
    }
    bool userActed() const override { return acted_; }

private:
    bool acted_ = false;
};

class CommandButtonControl : public WidgetControl<CommandButton, QPushButton> {
public:
    CommandButtonControl(Program& program, QPushButton* button) : WidgetControl(button) {
        QObject::connect(button, &QPushButton::clicked, button, [this, &program] {
            if (handler_) program.dispatch(handler_);
        });
    }
    void onClick(std::function<void()> handler) override { handler_ = std::move(handler); }

private:
    std::function<void()> handler_;
};

class OptionArrayControl;

class OptionControl : public WidgetControl<OptionButton, QRadioButton> {
public:
    OptionControl(OptionArrayControl& array, std::int16_t index, QRadioButton* button)
        : WidgetControl(button), array_(array), index_(index) {}
    bool selected() const override { return get().isChecked(); }
    void setSelected(bool on) override;
    bool userActed() const override { return acted_; }
    void noteUserAction() { acted_ = true; }
    QRadioButton& button() const { return get(); }

private:
    OptionArrayControl& array_;
    std::int16_t index_;
    bool acted_ = false;
};

class OptionArrayControl : public OptionArray {
public:
    explicit OptionArrayControl(Program& program) : program_(program) {}

    OptionButton& operator[](std::int16_t index) override {
        auto found = members_.find(index);
        if (found == members_.end()) raise(error::InvalidProcedureCall);
        return *found->second;
    }
    void onClick(std::function<void(std::int16_t)> handler) override { handler_ = std::move(handler); }

    void add(std::int16_t index, OptionControl* member, QRadioButton* button) {
        members_[index] = member;
        // A click or a keyboard selection by the user: the procedure runs inside the boundary.
        QObject::connect(button, &QRadioButton::clicked, button, [this, index, member] {
            member->noteUserAction();
            program_.dispatch([this, index] { raiseClick(index); });
        });
    }
    // Selection from code: the other members are cleared and Click runs at once, on this
    // stack, so an error in it reaches the code that selected.
    void select(std::int16_t index) {
        for (auto& [other, member] : members_) {
            QRadioButton& button = member->button();
            const QSignalBlocker blocker(button);
            if (other == index) {
                button.setChecked(true);
            } else if (button.isChecked()) {
                button.setAutoExclusive(false);
                button.setChecked(false);
                button.setAutoExclusive(true);
            }
        }
        raiseClick(index);
    }
    void raiseClick(std::int16_t index) {
        if (handler_) handler_(index);
    }

private:
    Program& program_;
    std::map<std::int16_t, OptionControl*> members_;
    std::function<void(std::int16_t)> handler_;
};

void OptionControl::setSelected(bool on) {
    QRadioButton& button = get();
    if (on) {
        array_.select(index_);
        return;
    }
    // A selected option of a group cannot be cleared by the group itself.
    const QSignalBlocker blocker(button);
    button.setAutoExclusive(false);
    button.setChecked(false);
    button.setAutoExclusive(true);
}

class TextBoxControl;

// Decides each edit of the user: the typing limit and the program's filter together.
class EditValidator : public QValidator {
public:
    EditValidator(TextBoxControl& box, QObject* parent) : QValidator(parent), box_(box) {}
    State validate(QString& input, int& position) const override;

private:
    TextBoxControl& box_;
};

class TextBoxControl : public WidgetControl<TextBox, QLineEdit> {
public:
    TextBoxControl(Program& program, QLineEdit* edit) : WidgetControl(edit), program_(program) {
        edit->setValidator(new EditValidator(*this, edit));
        QObject::connect(edit, &QLineEdit::textChanged, edit, [this](const QString& text) {
            changed(text);
        });
    }

    std::u16string text() const override { return fromQ(get().text()); }
    void setText(std::u16string_view text) override {
        QLineEdit& edit = get();
        fromCode_ = true;
        edit.setText(toQ(text));
        fromCode_ = false;
        accepted_ = edit.text();
    }
    int maxLength() const override { return maxLength_; }
    void setMaxLength(int length) override {
        if (length < 0) raise(error::InvalidPropertyValue);
        get();
        maxLength_ = length;
    }
    std::u16string passwordChar() const override { return passwordChar_; }
    void setPasswordChar(std::u16string_view character) override {
        if (character.size() > 1) raise(error::InvalidPropertyValue);
        QLineEdit& edit = get();
        passwordChar_ = std::u16string(character);
        if (passwordChar_.empty()) {
            edit.setProperty(PasswordCharProperty, QVariant());
            edit.setEchoMode(QLineEdit::Normal);
        } else {
            edit.setProperty(PasswordCharProperty, int(passwordChar_[0]));
            edit.setEchoMode(QLineEdit::Password);
        }
        // The box asks its style for the character when the style changes.
        QEvent styleChange(QEvent::StyleChange);
        QCoreApplication::sendEvent(&edit, &styleChange);
    }
    void setInputFilter(InputFilter filter) override { filter_ = std::move(filter); }
    bool userActed() const override { return acted_; }

    // Whether the user's edit from the text held to `proposed` stands.
    bool allows(const QString& proposed) const {
        if (fromCode_) return true;
        const bool longer = proposed.size() > accepted_.size();
        if (maxLength_ > 0 && proposed.size() > maxLength_ && longer) return false;
        if (!filter_) return true;
        const std::u16string current = fromQ(accepted_), next = fromQ(proposed);
        return program_.ask([&] { return filter_(current, next); });
    }

private:
    void changed(const QString& text) {
        if (fromCode_ || allows(text)) {
            if (!fromCode_) acted_ = true;
            accepted_ = text;
            return;
        }
        // An edit that the box could not refuse on its own (an undo to a text the rules no
        // longer allow): the text held before it comes back.
        fromCode_ = true;
        get().setText(accepted_);
        fromCode_ = false;
    }

    Program& program_;
    int maxLength_ = 0;
    std::u16string passwordChar_;
    InputFilter filter_;
    QString accepted_;
    bool fromCode_ = false;
    bool acted_ = false;
};

QValidator::State EditValidator::validate(QString& input, int&) const {
    return box_.allows(input) ? Acceptable : Invalid;
}

} // namespace

// ---- the form ------------------------------------------------------------------------

QtForm::QtForm(Program& program, const FormSpec& layout) : program_(program) {
    style_ = std::make_unique<RuntimeStyle>();

    auto* window = new FormWindowWidget(program);
    window_ = window;
    window->setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                           Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    window->setWindowTitle(toQ(layout.caption));
    window->setFixedSize(toPixels(layout.clientWidth), toPixels(layout.clientHeight));
    window->setFont(makeFont(layout.font));
    if (!layout.icon.empty()) {
        const QImage image = LoadIcon(QStringLiteral(":/icons/") + toQ(layout.icon) + QStringLiteral(".ico"));
        if (!image.isNull()) window->setWindowIcon(QIcon(QPixmap::fromImage(image)));
    }
    const QFont textFont = makeFont(layout.textBoxFont);

    entries_.reserve(layout.controls.size());
    for (const ControlSpec& row : layout.controls) {
        QWidget* parent = window;
        if (!row.container.empty()) parent = widget(row.container, -1);
        if (!parent) parent = window;
        const QString caption = toQ(row.caption);

        Entry entry{&row, nullptr, nullptr};
        switch (row.kind) {
        case ControlKind::Frame: {
            auto* box = new QGroupBox(caption, parent);
            entry.widget = box;
            entry.control = std::make_unique<FrameControl>(box);
            break;
        }
        case ControlKind::Label: {
            auto* label = new QLabel(caption, parent);
            label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            label->setTextFormat(Qt::PlainText);
            entry.widget = label;
            entry.control = std::make_unique<LabelControl>(label);
            break;
        }
        case ControlKind::TextBox: {
            auto* edit = new QLineEdit(parent);
            edit->setFont(textFont);
            edit->setStyle(style_.get());
            edit->setMaxLength(32767);
            edit->setContextMenuPolicy(Qt::DefaultContextMenu);
            entry.widget = edit;
            entry.control = std::make_unique<TextBoxControl>(program, edit);
            break;
        }
        case ControlKind::CheckBox: {
            auto* check = new CheckWidget(caption, parent);
            entry.widget = check;
            entry.control = std::make_unique<CheckBoxControl>(check);
            break;
        }
        case ControlKind::OptionButton: {
            auto* option = new OptionWidget(caption, parent);
            auto& array = arrays_[std::u16string(row.name)];
            if (!array) array = std::make_unique<OptionArrayControl>(program);
            auto& options = static_cast<OptionArrayControl&>(*array);
            auto member = std::make_unique<OptionControl>(options, row.index, option);
            options.add(row.index, member.get(), option);
            entry.widget = option;
            entry.control = std::move(member);
            break;
        }
        case ControlKind::CommandButton: {
            auto* button = new ButtonWidget(caption, parent);
            button->setAutoDefault(false);
            button->setDefault(false);
            entry.widget = button;
            entry.control = std::make_unique<CommandButtonControl>(program, button);
            break;
        }
        }
        entry.widget->setGeometry(toPixels(row.left), toPixels(row.top), toPixels(row.width),
                                  toPixels(row.height));
        entries_.push_back(std::move(entry));
    }

    // A label names the control beside it for assistive technology. No caption holds a
    // mnemonic, so the label takes no shortcut and the focus order stays as it is.
    for (const LabelSpec& pair : layout.labels)
        if (auto* label = qobject_cast<QLabel*>(widget(pair.label, -1))) label->setBuddy(widget(pair.control, -1));

    // The focus order follows the tab indices; frames and labels never take the focus.
    std::vector<const Entry*> order;
    for (const Entry& entry : entries_)
        if (entry.widget->focusPolicy() & Qt::TabFocus) order.push_back(&entry);
    std::stable_sort(order.begin(), order.end(), [](const Entry* a, const Entry* b) {
        return a->row->tabIndex < b->row->tabIndex;
    });
    for (size_t i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(order[i - 1]->widget, order[i]->widget);
    for (const Entry* entry : order) window->tabOrder.push_back(entry->widget);
}

QtForm::~QtForm() {
    delete window_.data();
}

QWidget* QtForm::widget(std::u16string_view name, std::int16_t index) const {
    for (const Entry& entry : entries_)
        if (entry.row->name == name && entry.row->index == index) return entry.widget;
    return nullptr;
}

const ControlSpec* QtForm::rowOf(const QWidget* widget) const {
    for (const Entry& entry : entries_)
        if (widget && entry.widget == widget) return entry.row;
    return nullptr;
}

Control* QtForm::findControl(std::u16string_view name, std::int16_t index) {
    for (Entry& entry : entries_)
        if (entry.row->name == name && entry.row->index == index) return entry.control.get();
    return nullptr;
}

OptionArray* QtForm::findOptionArray(std::u16string_view name) {
    auto found = arrays_.find(name);
    return found == arrays_.end() ? nullptr : found->second.get();
}

void QtForm::focusFirst() {
    for (QWidget* w : static_cast<FormWindowWidget*>(window_.data())->tabOrder) {
        if (w && w->isEnabled()) {
            w->setFocus(Qt::TabFocusReason);
            return;
        }
    }
}

float QtForm::Left() const { return toTwips(window_ ? window_->frameGeometry().x() : 0); }
float QtForm::Top() const { return toTwips(window_ ? window_->frameGeometry().y() : 0); }
float QtForm::Width() const { return toTwips(window_ ? window_->frameGeometry().width() : 0); }
float QtForm::Height() const { return toTwips(window_ ? window_->frameGeometry().height() : 0); }

void QtForm::setLeft(float twips) {
    if (!window_) raise(error::InvalidProcedureCall);
    if (!std::isfinite(twips)) raise(error::Overflow);
    window_->move(toPixels(twips), window_->pos().y());
}

void QtForm::setTop(float twips) {
    if (!window_) raise(error::InvalidProcedureCall);
    if (!std::isfinite(twips)) raise(error::Overflow);
    window_->move(window_->pos().x(), toPixels(twips));
}

} // namespace runtime::qt
