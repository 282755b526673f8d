// The program's window held in memory: Form1 made and loaded as the program makes it, on
// controls that a command acts on as a user does in the window. No toolkit, no display.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "runtime/memory_program.h"
#include "window/Form1.h"

namespace commands {

class WindowInMemory {
public:
    // Makes the window and runs its load, as the program's start does.
    WindowInMemory();
    ~WindowInMemory();
    WindowInMemory(const WindowInMemory&) = delete;
    WindowInMemory& operator=(const WindowInMemory&) = delete;

    // False when an error that no procedure handled ended the program while it loaded.
    bool loaded() const { return form1_ && !program_.ended(); }
    window::Form1& form1() { return *form1_; }
    // The controls, to act on them as a user does.
    runtime::memory::Form& controls() { return program_.form(); }

    // Clicks the register button: true when the program ended as after a register that saved.
    bool clickRegister();
    // What the program said: its message boxes, and the reports of errors no procedure handled.
    const std::vector<std::u16string>& said() const { return said_; }

private:
    runtime::memory::Program program_;
    std::unique_ptr<window::Form1> form1_;
    std::vector<std::u16string> said_;
};

} // namespace commands
