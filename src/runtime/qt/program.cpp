// The program's start and end on Qt: the application, the boundary around every event
// procedure, the report of an error that no procedure handled, End and MsgBox.
#include <cmath>
#include <cstdio>
#include <new>

#include <QApplication>
#include <QGuiApplication>
#include <QMessageBox>
#include <QScreen>

#include "runtime/qt/program.h"

namespace runtime::qt {

namespace {

QString toQ(std::u16string_view text) {
    return QString(reinterpret_cast<const QChar*>(text.data()), qsizetype(text.size()));
}

double logicalDpi() {
    if (auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        if (QScreen* screen = app->primaryScreen()) return screen->logicalDotsPerInchX();
    return 96.0;
}

class QtScreen : public Screen {
public:
    float Width() const override { return toTwips(geometry().width()); }
    float Height() const override { return toTwips(geometry().height()); }

private:
    static QRect geometry() {
        if (auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
            if (QScreen* screen = app->primaryScreen()) return screen->geometry();
        raise(error::InvalidProcedureCall);
    }
};

} // namespace

int toPixels(double twips) {
    const double pixels = std::round(twips * logicalDpi() / 1440.0);
    constexpr double limit = 16777215.0;  // the largest coordinate a window takes
    return int(std::fmax(-limit, std::fmin(limit, pixels)));
}

float toTwips(int pixels) { return float(double(pixels) * 1440.0 / logicalDpi()); }

Program::Program(const FormSpec& layout, bool mainLoop) : mainLoop_(mainLoop) {
    form_ = std::make_unique<QtForm>(*this, layout);
}

Program::~Program() {
    // Nothing of the program runs while its window is taken down.
    stopRunning();
    form_.reset();
}

void Program::load(const std::function<void(Form&)>& procedure) {
    dispatch([&] { procedure(*form_); });
}

void Program::show() {
    if (ending()) return;
    QWidget* window = form_->window();
    if (!window) return;
    form_->focusFirst();
    window->show();
    window->activateWindow();
}

void Program::showReport(const std::u16string& report) {
    std::fprintf(stderr, "%s\n", toQ(report).toUtf8().constData());
    QWidget* window = form_->window();
    QMessageBox::critical(window && window->isVisible() ? window : nullptr, toQ(MessageTitle), toQ(report));
}

void Program::leave(int status) {
    if (QWidget* window = form_->window()) {
        window->hide();
        window->deleteLater();
    }
    if (mainLoop_) QCoreApplication::exit(status);
}

void Program::showMessage(std::u16string_view text) {
    QWidget* window = form_->window();
    QMessageBox box(QMessageBox::NoIcon, toQ(MessageTitle), toQ(text), QMessageBox::Ok,
                    window && window->isVisible() ? window : nullptr);
    box.exec();
}

} // namespace runtime::qt

namespace runtime {

const Screen& screen() {
    static const qt::QtScreen theScreen;
    return theScreen;
}

int Run(int argc, char** argv, const FormSpec& layout, std::function<void(Form&)> load) {
    QApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(false);
    qt::Program program(layout, true);
    program.load(load);
    program.show();
    if (!program.ended()) app.exec();
    return program.status();
}

} // namespace runtime
