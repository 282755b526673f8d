// The form on Qt widgets: the top-level window, the walk over the layout table that makes each
// row's control and places it in pixels from its twips, and the window's own behaviour.
#include "runtime/qt/form.h"

#include <cstdio>
#include <vector>

#include <QCloseEvent>
#include <QFont>
#include <QFontDatabase>
#include <QIcon>
#include <QImage>
#include <QLabel>
#include <QMessageBox>
#include <QPixmap>

#include "runtime/qt/controls.h"
#include "runtime/qt/icon.h"
#include "runtime/qt/text.h"
#include "runtime/qt/twips.h"

namespace runtime::qt {

namespace {

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

// The top-level window: a close through the window system ends the program, no key of its
// own (Esc, Enter) does anything, and Tab walks the form's focus order, in which every
// option button is a stop of its own.
class FormWindowWidget : public QWidget {
public:
    explicit FormWindowWidget(ProgramCore& program) : program_(program) {}
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
        // An option button whose partner had the focus has lost its tab stop to it: the
        // order itself says which controls take the focus.
        const int to = nextFocus(count, at, next, [this](int i) {
            QWidget* candidate = tabOrder[i];
            return candidate && candidate->isEnabled() && candidate->isVisible();
        });
        if (to < 0) return false;
        tabOrder[to]->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
        return true;
    }

private:
    ProgramCore& program_;
};

} // namespace

QtForm::QtForm(ProgramCore& program, const FormSpec& layout) : textStyle_(makeTextBoxStyle()) {
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

    // In the table's order, each frame before what it holds.
    entries_.reserve(layout.controls.size());
    for (const ControlSpec& row : layout.controls) {
        QWidget* parent = row.container.empty() ? nullptr : handle(row.container, -1).data();
        if (!parent) parent = window;
        Made made = MakeControl(row.kind, Build{program, row, parent, textFont, textStyle_.get(), arrays_});
        made.widget->setGeometry(toPixels(row.left), toPixels(row.top), toPixels(row.width), toPixels(row.height));
        entries_.push_back({&row, made.widget, std::move(made.control)});
    }

    // A label names the control beside it for assistive technology. No caption holds a
    // mnemonic, so the label takes no shortcut and the focus order stays as it is.
    for (const LabelSpec& pair : layout.labels)
        if (auto* label = qobject_cast<QLabel*>(handle(pair.label, -1).data())) label->setBuddy(handle(pair.control, -1));

    // The focus order follows the tab indices; frames and labels never take the focus.
    std::vector<const Entry*> order;
    for (const Entry& entry : entries_)
        if (entry.handle->focusPolicy() & Qt::TabFocus) order.push_back(&entry);
    sortByTabIndex(order, [](const Entry* entry) { return entry->row; });
    for (size_t i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(order[i - 1]->handle, order[i]->handle);
    for (const Entry* entry : order) window->tabOrder.push_back(entry->handle);
}

QtForm::~QtForm() {
    delete window_.data();
}

void QtForm::focusFirst() {
    const auto& order = static_cast<FormWindowWidget*>(window_.data())->tabOrder;
    const int first = nextFocus(int(order.size()), -1, true, [&](int i) { return order[i] && order[i]->isEnabled(); });
    if (first >= 0) order[first]->setFocus(Qt::TabFocusReason);
}

void QtForm::show() {
    if (!window_) return;
    focusFirst();
    window_->show();
    window_->activateWindow();
}

void QtForm::showBox(std::u16string_view text, BoxKind kind) {
    QWidget* owner = window_ && window_->isVisible() ? window_.data() : nullptr;
    if (kind == BoxKind::Report) {
        std::fprintf(stderr, "%s\n", toQ(text).toUtf8().constData());
        QMessageBox::critical(owner, toQ(MessageTitle), toQ(text));
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, toQ(MessageTitle), toQ(text), QMessageBox::Ok, owner);
    box.exec();
}

void QtForm::takeDown() {
    if (!window_) return;
    window_->hide();
    window_->deleteLater();
}

TwipsRect QtForm::outer() const {
    const QRect frame = window_ ? window_->frameGeometry() : QRect();
    return {toTwips(frame.x()), toTwips(frame.y()), toTwips(frame.width()), toTwips(frame.height())};
}

void QtForm::moveTo(std::optional<float> left, std::optional<float> top) {
    window_->move(left ? toPixels(*left) : window_->pos().x(), top ? toPixels(*top) : window_->pos().y());
}

} // namespace runtime::qt
