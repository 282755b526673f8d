#include "runtime/qt/twips.h"

#include <QGuiApplication>
#include <QScreen>

#include "runtime/twips.h"

namespace runtime::qt {

namespace {

double logicalDpi() {
    if (auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        if (QScreen* screen = app->primaryScreen()) return screen->logicalDotsPerInchX();
    return 96.0;
}

constexpr double Limit = 16777215.0;  // the largest coordinate a window takes

} // namespace

int toPixels(double twips) { return twips::toPixels(twips, logicalDpi(), Limit); }

float toTwips(int pixels) { return twips::toTwips(pixels, logicalDpi()); }

} // namespace runtime::qt
