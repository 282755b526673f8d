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
#include "runtime/qt/text.h"
#include "runtime/session.h"

namespace runtime::testing {

using qt::fromQ;
using qt::toQ;

namespace {

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

qt::QtForm& qtForm(ProgramCore& program) { return static_cast<qt::Program&>(program).form(); }

QWidget& widget(const Session::State& state, const ControlId& id) {
    if (state.program->ended()) throw std::logic_error("the program has ended");
    QWidget* w = qtForm(*state.program).handle(id.name, id.index);
    if (!w) throw std::invalid_argument("no such control");
    return *w;
}

QWidget& window(const Session::State& state) {
    if (state.program->ended() || !qtForm(*state.program).window()) throw std::logic_error("the program has ended");
    return *qtForm(*state.program).window();
}

} // namespace

std::unique_ptr<ProgramCore> newProgram(const FormSpec& layout) {
    ensureApplication();
    return std::make_unique<qt::Program>(layout);
}

bool ready(ProgramCore& program, const FormSpec&) {
    QWidget* window = qtForm(program).window();
    return window && window->isActiveWindow() && window->windowHandle()->isExposed();
}

void settle(ProgramCore*) { settle(); }

void Session::click(const ControlId& control) {
    QWidget& w = widget(*state_, control);
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
    if (!target) target = &window(*state_);
    sendKey(target, key);
    settle();
}

void Session::press(Key key, const ControlId& control) {
    QWidget& w = widget(*state_, control);
    w.setFocus(Qt::OtherFocusReason);
    sendKey(&w, key);
    settle();
}

void Session::type(const ControlId& control, std::u16string_view text) {
    QWidget& w = widget(*state_, control);
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
    QWidget& w = widget(*state_, control);
    w.setFocus(Qt::OtherFocusReason);
    QGuiApplication::clipboard()->setText(toQ(text));
    QTest::keyClick(&w, Qt::Key_V, Qt::ControlModifier);
    settle();
}

void Session::closeWindow() {
    QWindow* handle = window(*state_).windowHandle();
    QCloseEvent event;
    QCoreApplication::sendEvent(handle, &event);
    settle();
}

std::optional<ControlId> Session::focused() const {
    if (state_->program->ended()) return std::nullopt;
    const ControlSpec* row = qtForm(*state_->program).rowOf(QApplication::focusWidget());
    if (!row) return std::nullopt;
    return ControlId{std::u16string(row->name), row->index};
}

Rect Session::rectInContainer(const ControlId& control) const {
    const QRect r = widget(*state_, control).geometry();
    return {r.x(), r.y(), r.width(), r.height()};
}

Rect Session::rectInClient(const ControlId& control) const {
    QWidget& w = widget(*state_, control);
    const QPoint topLeft = w.mapTo(&window(*state_), QPoint(0, 0));
    return {topLeft.x(), topLeft.y(), w.width(), w.height()};
}

Rect Session::clientRect() const {
    const QWidget& w = window(*state_);
    return {0, 0, w.width(), w.height()};
}

std::u16string Session::displayedText(const ControlId& control) const {
    auto* edit = qobject_cast<QLineEdit*>(&widget(*state_, control));
    if (!edit) throw std::invalid_argument("not a text box");
    return fromQ(edit->displayText());
}

std::u16string Session::fontFamily(const ControlId& control) const {
    return fromQ(QFontInfo(widget(*state_, control).font()).family());
}

int Session::fontPixelSize(const ControlId& control) const {
    return QFontInfo(widget(*state_, control).font()).pixelSize();
}

bool Session::iconLoaded() const {
    const QIcon icon = window(*state_).windowIcon();
    return !icon.isNull() && icon.availableSizes().contains(QSize(32, 32));
}

std::uint32_t Session::iconPixel(int x, int y) const {
    const QImage image = window(*state_).windowIcon().pixmap(QSize(32, 32)).toImage();
    return image.convertToFormat(QImage::Format_ARGB32).pixel(x, y);
}

bool Session::windowVisible() const {
    return !state_->program->ended() && window(*state_).isVisible();
}

std::u16string Session::windowTitle() const { return fromQ(window(*state_).windowTitle()); }

std::u16string Session::accessibleName(const ControlId& control) const {
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(&widget(*state_, control));
    if (!accessible) throw std::runtime_error("the control has no accessible interface");
    return fromQ(accessible->text(QAccessible::Name));
}

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
