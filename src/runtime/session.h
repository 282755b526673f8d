// A test session as every toolkit keeps it, and what each toolkit supplies to run one
// (runtime/qt/testing.cpp, runtime/win32/testing.cpp). Private to the runtime's input seam.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "runtime/program.h"
#include "runtime/testing.h"

namespace runtime::testing {

struct Session::State {
    std::unique_ptr<ProgramCore> program;
    std::vector<std::u16string> reports;
    std::vector<std::u16string> messages;
};

// Supplied by each toolkit.
// Makes the toolkit ready for a session and builds the program's form from the table.
std::unique_ptr<ProgramCore> newProgram(const FormSpec& layout);
// Whether the window that the program has shown is active and ready for input.
bool ready(ProgramCore& program, const FormSpec& layout);
// Hands every event that is waiting to the program, or to the toolkit once it has gone.
void settle(ProgramCore* program);

} // namespace runtime::testing
