// The running program on Qt: the one form and the application's event loop. Private to the Qt
// realisation of the runtime.
#pragma once

#include "runtime/program.h"
#include "runtime/qt/form.h"

namespace runtime::qt {

class Program final : public FormProgram<QtForm> {
public:
    explicit Program(const FormSpec& layout) : FormProgram(layout) {}

private:
    void loop() override;
    void quitLoop(int status) override;
};

} // namespace runtime::qt
