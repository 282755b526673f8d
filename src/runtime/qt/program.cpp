// The program's start on Qt: the application and its event loop, and the screen.
#include "runtime/qt/program.h"

#include <QApplication>
#include <QGuiApplication>
#include <QScreen>

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

} // namespace

void Program::loop() { QCoreApplication::exec(); }

void Program::quitLoop(int status) { QCoreApplication::exit(status); }

} // namespace runtime::qt

namespace runtime {

const Screen& screen() {
    static const qt::QtScreen theScreen;
    return theScreen;
}

int Run(int argc, char** argv, const FormSpec& layout, std::function<void(Form&)> load) {
    QApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(false);
    return qt::Program(layout).run(load);
}

} // namespace runtime
