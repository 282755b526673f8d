// Twips and pixels on Qt, at the screen's logical resolution. Private to the Qt realisation.
#pragma once

namespace runtime::qt {

int toPixels(double twips);
float toTwips(int pixels);

} // namespace runtime::qt
