// The input seam's session as every toolkit runs it: the program started as Run starts it,
// with its reports and message boxes captured instead of shown.
#include <stdexcept>

#include "runtime/session.h"

namespace runtime::testing {

Session::Session(const FormSpec& layout, std::function<void(Form&)> load) : state_(std::make_unique<State>()) {
    state_->program = newProgram(layout);
    ProgramCore& program = *state_->program;
    program.onReport = [this](std::u16string_view text) { state_->reports.emplace_back(text); };
    program.onMessage = [this](std::u16string_view text) { state_->messages.emplace_back(text); };
    program.start(load);
    if (program.ended()) return;
    if (!waitFor([&] { return ready(program, layout); })) throw std::runtime_error("the window did not become active");
    settle(&program);
}

Session::~Session() {
    state_->program.reset();
    settle(nullptr);
}

Form& Session::form() {
    if (state_->program->ended()) throw std::logic_error("the program has ended");
    return state_->program->form();
}

bool Session::ended() const { return state_->program->ended(); }
int Session::status() const { return state_->program->status(); }
const std::vector<std::u16string>& Session::reports() const { return state_->reports; }
const std::vector<std::u16string>& Session::messageBoxes() const { return state_->messages; }

} // namespace runtime::testing
