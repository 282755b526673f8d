// Twips and pixels on Win32, at the screen's real resolution (the program is aware of it, so
// nothing is scaled to 96). Private to the Win32 realisation.
#pragma once

namespace runtime::win32 {

int toPixelsX(double twips);
int toPixelsY(double twips);
float toTwipsX(int pixels);
float toTwipsY(int pixels);

} // namespace runtime::win32
