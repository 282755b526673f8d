// The program's start on Qt: the application and its event loop, and the screen.
#include "runtime/qt/program.h"

#include <QApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QtGlobal>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "runtime/qt/twips.h"

namespace runtime::qt {

namespace {

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

// What the toolkit says while it connects to the window system, held back: when it cannot
// connect (a display that cannot be reached, a platform that does not exist) it gives up with
// an abort, which becomes one line of the program's own and the status of a start without a
// display. Once connected, what was held is said as the toolkit would have said it.
struct HeldMessage {
    QString text;      // what was said
    QString formatted; // as the toolkit prints it
};
std::vector<HeldMessage> heldMessages;

void holdStartMessage(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (type != QtFatalMsg) {
        heldMessages.push_back({text, qFormatLogMessage(type, context, text)});
        return;
    }
    // The first thing said tells why; the abort's own text only that it gives up.
    const QString why = heldMessages.empty() ? text.section(u'\n', 0, 0) : heldMessages.front().text;
    std::fprintf(stderr, "vantorio: cannot open the window: %s\n", why.toLocal8Bit().constData());
    std::fflush(stderr);
    std::_Exit(NoWindowExitStatus);
}

} // namespace

void Program::loop() { QCoreApplication::exec(); }

void Program::quitLoop(int status) { QCoreApplication::exit(status); }

} // namespace runtime::qt

namespace runtime {

const Screen& toolkitScreen() {
    static const qt::QtScreen theScreen;
    return theScreen;
}

int Run(int argc, char** argv, const FormSpec& layout, std::function<void(Form&)> load) {
    const QtMessageHandler previous = qInstallMessageHandler(qt::holdStartMessage);
    QApplication app(argc, argv);
    qInstallMessageHandler(previous);
    for (const qt::HeldMessage& message : qt::heldMessages)
        std::fprintf(stderr, "%s\n", message.formatted.toLocal8Bit().constData());
    qt::heldMessages.clear();
    app.setQuitOnLastWindowClosed(false);
    return qt::Program(layout).run(load);
}

} // namespace runtime
