#include "window/FormCenter.h"

#include <cmath>

namespace window {

namespace {

constexpr float Divisor = 2.0f;
constexpr float VerticalOffset = 300.0f;

// The runtime's floating-point errors: an overflow to an infinity, and an invalid operation
// (a result that is not a number). The divisor is a constant 2, so no division by zero.
float Checked(float value) {
    if (std::isnan(value)) runtime::raise(runtime::error::InvalidProcedureCall);
    if (std::isinf(value)) runtime::raise(runtime::error::Overflow);
    return value;
}

} // namespace

void CenterForm(runtime::Form& form, const runtime::Screen& screen) {
    const float width = form.Width();
    const float screenWidth = screen.Width();
    const float left = Checked((screenWidth - width) / Divisor);
    form.setLeft(left);

    const float height = form.Height();
    const float screenHeight = screen.Height();
    const float top = Checked((screenHeight - height) / Divisor - VerticalOffset);
    form.setTop(top);
}

void CenterForm(runtime::Form& form) { CenterForm(form, runtime::screen()); }

} // namespace window
