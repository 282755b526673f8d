// Twips and pixels: 1440 twips make an inch, so 15 twips make a pixel at 96 dots per inch. Each
// realisation says what resolution its screen has and how far from the origin a window may be
// placed (runtime/qt/twips.h, runtime/win32/twips.h).
#pragma once

#include <cmath>

namespace runtime::twips {

inline constexpr double PerInch = 1440.0;

// The nearest pixel to `twips` at `dotsPerInch`, no further from 0 than `limit`.
inline int toPixels(double twips, double dotsPerInch, double limit) {
    const double pixels = std::round(twips * dotsPerInch / PerInch);
    return int(std::fmax(-limit, std::fmin(limit, pixels)));
}

inline float toTwips(int pixels, double dotsPerInch) { return float(double(pixels) * PerInch / dotsPerInch); }

} // namespace runtime::twips
