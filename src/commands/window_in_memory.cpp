#include "commands/window_in_memory.h"

namespace commands {

WindowInMemory::WindowInMemory() : program_(window::Form1::Layout()) {
    program_.onMessage = [this](std::u16string_view text) { said_.emplace_back(text); };
    program_.onReport = program_.onMessage;
    program_.start(window::Form1::Loader(form1_));
}

WindowInMemory::~WindowInMemory() { form1_.reset(); }

bool WindowInMemory::clickRegister() {
    controls().userButton(u"Ok").userClick();
    return program_.ended() && program_.status() == 0;
}

} // namespace commands
