// The program's start and end on Qt: the application, the boundary around every event
// procedure, the report of an error that no procedure handled, End and MsgBox.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <new>

#include <QApplication>
#include <QGuiApplication>
#include <QMessageBox>
#include <QScreen>
#include <QWindow>

#include "runtime/qt/program.h"

namespace runtime::qt {

namespace {

Program* currentProgram = nullptr;

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

// With VANTORIO_BENCH_EXIT_ON_SHOW=1 the program prints the moment its window is first
// exposed (CLOCK_MONOTONIC, nanoseconds) and leaves at once: the start-up benchmark's probe.
class ShownProbe : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Expose) {
            auto* window = qobject_cast<QWindow*>(watched);
            if (window && window->isExposed()) {
                timespec now{};
                clock_gettime(CLOCK_MONOTONIC, &now);
                std::printf("mapped %lld\n", (long long)now.tv_sec * 1000000000LL + now.tv_nsec);
                std::fflush(stdout);
                std::_Exit(0);
            }
        }
        return false;
    }
};

} // namespace

int toPixels(double twips) {
    const double pixels = std::round(twips * logicalDpi() / 1440.0);
    constexpr double limit = 16777215.0;  // the largest coordinate a window takes
    return int(std::fmax(-limit, std::fmin(limit, pixels)));
}

float toTwips(int pixels) { return float(double(pixels) * 1440.0 / logicalDpi()); }

Program::Program(const FormSpec& layout, bool mainLoop) : mainLoop_(mainLoop), previous_(currentProgram) {
    currentProgram = this;
    form_ = std::make_unique<QtForm>(*this, layout);
}

Program::~Program() {
    // Nothing of the program runs while its window is taken down.
    ending_ = true;
    form_.reset();
    currentProgram = previous_;
}

Program* Program::current() { return currentProgram; }

void Program::load(const std::function<void(Form&)>& procedure) {
    dispatch([&] { procedure(*form_); });
}

void Program::show() {
    if (ending_) return;
    QWidget* window = form_->window();
    if (!window) return;
    form_->focusFirst();
    if (mainLoop_ && qEnvironmentVariable("VANTORIO_BENCH_EXIT_ON_SHOW") == QLatin1String("1")) {
        window->winId();
        window->windowHandle()->installEventFilter(new ShownProbe(window));
    }
    window->show();
    window->activateWindow();
}

void Program::dispatch(const std::function<void()>& procedure) {
    if (ending_) return;
    try {
        procedure();
    } catch (const EndRequest&) {
        finish(0);
    } catch (const Error& error) {
        fail(error.number(), error.description());
    } catch (const std::bad_alloc&) {
        fail(7, ErrorDescription(7));
    } catch (...) {
        fail(51, ErrorDescription(51));
    }
}

bool Program::ask(const std::function<bool()>& question) {
    bool answer = false;
    dispatch([&] { answer = question(); });
    return answer && !ending_;
}

void Program::fail(int number, const std::u16string& description) {
    if (ending_) return;
    ending_ = true;  // no procedure runs while the report is up
    const std::u16string report = ErrorReport(number, description);
    if (onReport) {
        onReport(report);
    } else {
        std::fprintf(stderr, "%s\n", toQ(report).toUtf8().constData());
        QWidget* window = form_->window();
        QMessageBox::critical(window && window->isVisible() ? window : nullptr, toQ(MessageTitle),
                              toQ(report));
    }
    finish(ErrorExitStatus);
}

void Program::finish(int status) {
    if (ended_) return;
    ending_ = true;
    ended_ = true;
    status_ = status;
    if (QWidget* window = form_->window()) {
        window->hide();
        window->deleteLater();
    }
    if (mainLoop_) QCoreApplication::exit(status);
}

void Program::message(std::u16string_view text) {
    if (onMessage) {
        onMessage(text);
        return;
    }
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

void End() {
    if (!qt::Program::current()) std::exit(0);
    throw qt::EndRequest{};
}

void MsgBox(std::u16string_view text) {
    qt::Program* program = qt::Program::current();
    if (!program) raise(error::InvalidProcedureCall);
    program->message(text);
    // The program ended while the box was up (its window was closed): nothing more runs.
    if (program->ending()) throw qt::EndRequest{};
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
