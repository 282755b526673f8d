// The running program on Win32: the one form and the thread's message loop with the dialog
// manager. Private to the Win32 realisation of the runtime.
#pragma once

#include <windows.h>

#include "runtime/program.h"
#include "runtime/win32/form.h"

namespace runtime::win32 {

class Program final : public FormProgram<Win32Form> {
public:
    explicit Program(const FormSpec& layout) : FormProgram(layout) {}

    // Hands one message to the dialog manager (Tab, arrows) or to its window.
    void handle(MSG& msg);

private:
    void loop() override;
    void quitLoop(int status) override;
};

} // namespace runtime::win32
