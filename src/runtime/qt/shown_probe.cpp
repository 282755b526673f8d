// The start-up benchmark's probe. It is linked only into the programs that the benchmark and
// the tests of the built program start (a copy of the program, and the benchmark's floor),
// never into the program that is installed. With VANTORIO_BENCH_EXIT_ON_SHOW=1 such a program
// prints the moment its main window is first exposed (CLOCK_MONOTONIC, nanoseconds) and
// leaves at once.
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include <QApplication>
#include <QDialog>
#include <QEvent>
#include <QWidget>
#include <QWindow>

namespace {

// A box on the screen (a report, a message) is not the main window.
bool isDialog(const QWindow* window) {
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (widget->windowHandle() == window) return qobject_cast<QDialog*>(widget) != nullptr;
    return false;
}

class ShownProbe : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::Expose) return false;
        auto* window = qobject_cast<QWindow*>(watched);
        if (!window || !window->isExposed() || isDialog(window)) return false;
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        std::printf("mapped %lld\n", (long long)now.tv_sec * 1000000000LL + now.tv_nsec);
        std::fflush(stdout);
        std::_Exit(0);
    }
};

// Runs as the application is made, before any window is.
void installProbe() {
    if (qEnvironmentVariable("VANTORIO_BENCH_EXIT_ON_SHOW") != QLatin1String("1")) return;
    QCoreApplication* app = QCoreApplication::instance();
    app->installEventFilter(new ShownProbe(app));
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(installProbe)
