#include "window/FormCenter.h"

#include <cmath>

namespace window {

namespace {

constexpr float Divisor = 2.0f;
constexpr float VerticalOffset = 300.0f;

// The runtime's floating-point errors: division by zero, overflow to an infinity, and an
// invalid operation (a result that is not a number).
float Halved(float difference) {
    if (Divisor == 0.0f) runtime::raise(runtime::error::DivisionByZero);
    return difference / Divisor;
}

float Checked(float value) {
    if (std::isnan(value)) runtime::raise(runtime::error::InvalidProcedureCall);
    if (std::isinf(value)) runtime::raise(runtime::error::Overflow);
    return value;
}

} // namespace

void CenterForm(runtime::Form& form, const runtime::Screen& screen) {
    const float width = form.Width();
    const float screenWidth = screen.Width();
    const float left = Checked(Halved(screenWidth - width));
    form.setLeft(left);

    const float height = form.Height();
    const float screenHeight = screen.Height();
    const float top = Checked(Halved(screenHeight - height) - VerticalOffset);
    form.setTop(top);
}

void CenterForm(runtime::Form& form) { CenterForm(form, runtime::screen()); }

} // namespace window
