// The input seam on Qt: real mouse and key events through QtTest's event path into the
// application, the clipboard for pastes, and a look at the widgets.
#include <stdexcept>

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QDeadlineTimer>
#include <QFontInfo>
#include <QLineEdit>
#include <QTest>
#include <QWindow>

#include "runtime/qt/program.h"
#include "runtime/testing.h"

namespace runtime::testing {

namespace {

QString toQ(std::u16string_view text) {
    return QString(reinterpret_cast<const QChar*>(text.data()), qsizetype(text.size()));
}
std::u16string fromQ(const QString& text) {
    return std::u16string(reinterpret_cast<const char16_t*>(text.utf16()), size_t(text.size()));
}

// One application for the whole test process; it stays reachable until the process ends.
QApplication* application = nullptr;

void ensureApplication() {
    if (QApplication::instance()) return;
    static int argc = 1;
    static char name[] = "vantorio-test";
    static char* argv[] = {name, nullptr};
    // Tests drive the window without a display unless told to use one.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    application = new QApplication(argc, argv);
    application->setQuitOnLastWindowClosed(false);
}

void settle() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

} // namespace

struct Session::State {
    std::unique_ptr<qt::Program> program;
    std::vector<std::u16string> reports;
    std::vector<std::u16string> messages;

    QWidget& widget(const ControlId& id) const {
        if (program->ended()) throw std::logic_error("the program has ended");
        QWidget* w = program->form().widget(id.name, id.index);
        if (!w) throw std::invalid_argument("no such control");
        return *w;
    }
    QWidget& window() const {
        if (program->ended() || !program->form().window())
            throw std::logic_error("the program has ended");
        return *program->form().window();
    }
};

Session::Session(const FormSpec& layout, std::function<void(Form&)> load) : state_(std::make_unique<State>()) {
    ensureApplication();
    state_->program = std::make_unique<qt::Program>(layout, false);
    state_->program->onReport = [this](std::u16string_view text) { state_->reports.emplace_back(text); };
    state_->program->onMessage = [this](std::u16string_view text) { state_->messages.emplace_back(text); };
    state_->program->load(load);
    if (state_->program->ended()) return;
    state_->program->show();
    QWidget* window = state_->program->form().window();
    if (!waitFor([window] { return window->isActiveWindow() && window->windowHandle()->isExposed(); }))
        throw std::runtime_error("the window did not become active");
    settle();
}

Session::~Session() {
    state_->program.reset();
    settle();
}

Form& Session::form() {
    if (state_->program->ended()) throw std::logic_error("the program has ended");
    return state_->program->form();
}

void Session::click(const ControlId& control) {
    QWidget& w = state_->widget(control);
    QTest::mouseClick(&w, Qt::LeftButton, Qt::NoModifier, w.rect().center());
    settle();
}

namespace {
std::pair<Qt::Key, Qt::KeyboardModifiers> qtKey(Key key) {
    switch (key) {
    case Key::Tab: return {Qt::Key_Tab, Qt::NoModifier};
    case Key::ShiftTab: return {Qt::Key_Backtab, Qt::ShiftModifier};
    case Key::Enter: return {Qt::Key_Return, Qt::NoModifier};
    case Key::Escape: return {Qt::Key_Escape, Qt::NoModifier};
    case Key::Space: return {Qt::Key_Space, Qt::NoModifier};
    case Key::Left: return {Qt::Key_Left, Qt::NoModifier};
    case Key::Right: return {Qt::Key_Right, Qt::NoModifier};
    case Key::Up: return {Qt::Key_Up, Qt::NoModifier};
    case Key::Down: return {Qt::Key_Down, Qt::NoModifier};
    case Key::Backspace: return {Qt::Key_Backspace, Qt::NoModifier};
    case Key::Delete: return {Qt::Key_Delete, Qt::NoModifier};
    case Key::Home: return {Qt::Key_Home, Qt::NoModifier};
    case Key::End: return {Qt::Key_End, Qt::NoModifier};
    case Key::Undo: return {Qt::Key_Z, Qt::ControlModifier};
    }
    return {Qt::Key_unknown, Qt::NoModifier};
}

void sendKey(QWidget* target, Key key) {
    const auto [code, modifiers] = qtKey(key);
    const QString text = key == Key::Space ? QStringLiteral(" ")
                       : key == Key::Enter ? QStringLiteral("\r")
                       : key == Key::Escape ? QString(QChar(0x1b))
                       : key == Key::Tab ? QStringLiteral("\t")
                                         : QString();
    QTest::sendKeyEvent(QTest::Press, target, code, text, modifiers);
    if (target) QTest::sendKeyEvent(QTest::Release, target, code, text, modifiers);
}
} // namespace

void Session::press(Key key) {
    QWidget* target = QApplication::focusWidget();
    if (!target) target = &state_->window();
    sendKey(target, key);
    settle();
}

void Session::press(Key key, const ControlId& control) {
    QWidget& w = state_->widget(control);
    w.setFocus(Qt::OtherFocusReason);
    sendKey(&w, key);
    settle();
}

void Session::type(const ControlId& control, std::u16string_view text) {
    QWidget& w = state_->widget(control);
    w.setFocus(Qt::OtherFocusReason);
    for (QChar c : toQ(text)) {
        if (state_->program->ending()) break;
        const char16_t u = c.unicode();
        Qt::Key code = Qt::Key_unknown;
        if (u >= u'a' && u <= u'z') code = Qt::Key(Qt::Key_A + (u - u'a'));
        else if (u >= 0x20 && u < 0x7f) code = Qt::Key(u);
        QTest::sendKeyEvent(QTest::Press, &w, code, QString(c), Qt::NoModifier);
        QTest::sendKeyEvent(QTest::Release, &w, code, QString(c), Qt::NoModifier);
    }
    settle();
}

void Session::paste(const ControlId& control, std::u16string_view text) {
    QWidget& w = state_->widget(control);
    w.setFocus(Qt::OtherFocusReason);
    QGuiApplication::clipboard()->setText(toQ(text));
    QTest::keyClick(&w, Qt::Key_V, Qt::ControlModifier);
    settle();
}

void Session::closeWindow() {
    QWindow* handle = state_->window().windowHandle();
    QCloseEvent event;
    QCoreApplication::sendEvent(handle, &event);
    settle();
}

std::optional<ControlId> Session::focused() const {
    if (state_->program->ended()) return std::nullopt;
    const ControlSpec* row = state_->program->form().rowOf(QApplication::focusWidget());
    if (!row) return std::nullopt;
    return ControlId{std::u16string(row->name), row->index};
}

Rect Session::rectInContainer(const ControlId& control) const {
    const QRect r = state_->widget(control).geometry();
    return {r.x(), r.y(), r.width(), r.height()};
}

Rect Session::rectInClient(const ControlId& control) const {
    QWidget& w = state_->widget(control);
    const QPoint topLeft = w.mapTo(&state_->window(), QPoint(0, 0));
    return {topLeft.x(), topLeft.y(), w.width(), w.height()};
}

Rect Session::clientRect() const {
    QWidget& window = state_->window();
    return {0, 0, window.width(), window.height()};
}

std::u16string Session::displayedText(const ControlId& control) const {
    auto* edit = qobject_cast<QLineEdit*>(&state_->widget(control));
    if (!edit) throw std::invalid_argument("not a text box");
    return fromQ(edit->displayText());
}

std::u16string Session::fontFamily(const ControlId& control) const {
    return fromQ(QFontInfo(state_->widget(control).font()).family());
}

int Session::fontPixelSize(const ControlId& control) const {
    return QFontInfo(state_->widget(control).font()).pixelSize();
}

bool Session::iconLoaded() const {
    const QIcon icon = state_->window().windowIcon();
    return !icon.isNull() && icon.availableSizes().contains(QSize(32, 32));
}

std::uint32_t Session::iconPixel(int x, int y) const {
    const QImage image = state_->window().windowIcon().pixmap(QSize(32, 32)).toImage();
    return image.convertToFormat(QImage::Format_ARGB32).pixel(x, y);
}

bool Session::windowVisible() const {
    return !state_->program->ended() && state_->window().isVisible();
}

std::u16string Session::windowTitle() const { return fromQ(state_->window().windowTitle()); }

std::u16string Session::accessibleName(const ControlId& control) const {
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(&state_->widget(control));
    if (!accessible) throw std::runtime_error("the control has no accessible interface");
    return fromQ(accessible->text(QAccessible::Name));
}

bool Session::ended() const { return state_->program->ended(); }
int Session::status() const { return state_->program->status(); }
const std::vector<std::u16string>& Session::reports() const { return state_->reports; }
const std::vector<std::u16string>& Session::messageBoxes() const { return state_->messages; }

bool Session::waitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    QDeadlineTimer deadline(timeout.count());
    while (!condition()) {
        if (deadline.hasExpired()) return condition();
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 10);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    return true;
}

} // namespace runtime::testing
