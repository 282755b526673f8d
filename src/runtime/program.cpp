#include "runtime/program.h"

#include <cstdlib>
#include <new>

#include "runtime/runtime.h"

namespace runtime {

namespace {
ProgramCore* currentProgram = nullptr;
} // namespace

ProgramCore::ProgramCore() : previous_(currentProgram) { currentProgram = this; }

ProgramCore::~ProgramCore() { currentProgram = previous_; }

ProgramCore* ProgramCore::current() { return currentProgram; }

void ProgramCore::dispatch(const std::function<void()>& procedure) {
    if (ending_) return;
    try {
        procedure();
    } catch (const EndRequest&) {
        finish(0);
    } catch (const Error& error) {
        fail(error.number(), error.description());
    } catch (const std::bad_alloc&) {
        fail(7, ErrorDescription(7));
    } catch (...) {
        fail(51, ErrorDescription(51));
    }
}

void ProgramCore::start(const std::function<void(Form&)>& load) {
    dispatch([&] { load(form()); });
    if (!ending()) show();
}

int ProgramCore::run(const std::function<void(Form&)>& load) {
    runsLoop_ = true;
    start(load);
    if (!ended()) loop();
    return status();
}

bool ProgramCore::ask(const std::function<bool()>& question) {
    bool answer = false;
    dispatch([&] { answer = question(); });
    return answer && !ending_;
}

void ProgramCore::fail(int number, const std::u16string& description) {
    if (ending_) return;
    ending_ = true;  // no procedure runs while the report is up
    const std::u16string report = ErrorReport(number, description);
    if (onReport)
        onReport(report);
    else
        showReport(report);
    finish(ErrorExitStatus);
}

void ProgramCore::finish(int status) {
    if (ended_) return;
    ending_ = true;
    ended_ = true;
    status_ = status;
    leave(status);
}

void ProgramCore::message(std::u16string_view text) {
    if (onMessage)
        onMessage(text);
    else
        showMessage(text);
}

const Screen& screen() {
    const ProgramCore* program = ProgramCore::current();
    return program ? program->screen() : toolkitScreen();
}

void End() {
    if (!ProgramCore::current()) std::exit(0);
    throw EndRequest{};
}

void MsgBox(std::u16string_view text) {
    ProgramCore* program = ProgramCore::current();
    if (!program) raise(error::InvalidProcedureCall);
    program->message(text);
    // The program ended while the box was up (its window was closed): nothing more runs.
    if (program->ending()) throw EndRequest{};
}

} // namespace runtime
