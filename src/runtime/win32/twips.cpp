#include "runtime/win32/twips.h"

#include <windows.h>

#include "runtime/twips.h"

namespace runtime::win32 {

namespace {

struct Resolution {
    int x = 96, y = 96;
};

// The screen's resolution in dots per inch, as the display reports it.
const Resolution& resolution() {
    static const Resolution value = [] {
        Resolution r;
        if (HDC screen = GetDC(nullptr)) {
            const int x = GetDeviceCaps(screen, LOGPIXELSX), y = GetDeviceCaps(screen, LOGPIXELSY);
            if (x > 0) r.x = x;
            if (y > 0) r.y = y;
            ReleaseDC(nullptr, screen);
        }
        return r;
    }();
    return value;
}

constexpr double Limit = 32767.0;  // the largest coordinate a window takes

} // namespace

int toPixelsX(double twips) { return twips::toPixels(twips, resolution().x, Limit); }
int toPixelsY(double twips) { return twips::toPixels(twips, resolution().y, Limit); }
float toTwipsX(int pixels) { return twips::toTwips(pixels, resolution().x); }
float toTwipsY(int pixels) { return twips::toTwips(pixels, resolution().y); }

} // namespace runtime::win32
