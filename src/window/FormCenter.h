// FormCenter: places a window in the middle of the screen, 300 twips above the middle.
#pragma once

#include "runtime/runtime.h"

namespace window {

// Sets the form's left and then its top position from its outer size and the screen's size,
// in single precision, unrounded and unclamped: a half twip stays, and a window larger than
// the screen gets a negative position. A result that is not a finite number raises the
// runtime's floating-point error before it is written.
void CenterForm(runtime::Form& form, const runtime::Screen& screen);
// The same on the runtime's screen.
void CenterForm(runtime::Form& form);

} // namespace window
