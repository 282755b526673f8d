// Names for assistive technology on Win32. A control without a caption of its own (an EDIT)
// is named by a label: the system's proxy would take the name from whatever static control
// precedes it in the z-order, which follows the focus order here, not the layout. The
// control answers WM_GETOBJECT itself with the system's own accessible object, whose name
// is the label's caption at the time it is asked. Creation, z-order and focus order stay as
// they are.
#pragma once

#include <windows.h>

namespace runtime::win32 {

// From now until `control` is destroyed, screen readers read `label`'s text as its name.
void NameByLabel(HWND control, HWND label);

} // namespace runtime::win32
