// The running program as every toolkit shares it: the boundary that each event procedure runs
// inside, its start around the one form, how it ends, and where reports and messages go. Each
// realisation derives its program from FormProgram and says how its window is shown, how its
// events are dispatched, how it shows a report or a message and how its window goes.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace runtime {

class Form;
class Screen;
struct FormSpec;

// The screen of the toolkit's realisation.
const Screen& toolkitScreen();

// Thrown by End: unwinds the procedures that are running to the boundary, which ends the
// program. Not an std::exception, so nothing but the boundary is meant to catch it.
struct EndRequest {};

class ProgramCore {
public:
    virtual ~ProgramCore();
    ProgramCore(const ProgramCore&) = delete;
    ProgramCore& operator=(const ProgramCore&) = delete;

    // The program that runs now, or null.
    static ProgramCore* current();

    // The program's one form.
    virtual Form& form() = 0;
    // The screen its window is placed on: the toolkit's, unless the program has its own.
    virtual const Screen& screen() const { return toolkitScreen(); }

    // Runs `load` on the form inside the boundary, then shows the window unless the program
    // ended while it loaded.
    void start(const std::function<void(Form&)>& load);
    // Starts the program and dispatches its events until it ends; returns the exit status.
    // The end of a program started so also leaves the event loop (a test drives the events
    // itself and starts the program with start).
    int run(const std::function<void(Form&)>& load);

    // Runs an event procedure inside the boundary: End ends the program, an error that leaves
    // it is reported and ends the program. Nothing runs once the program is ending.
    void dispatch(const std::function<void()>& procedure);
    // The same for a question that program code answers; a failure answers no.
    bool ask(const std::function<bool()>& question);

    // Ends the program with the status: the window goes, no procedure runs any more.
    void finish(int status);
    bool ending() const { return ending_; }
    bool ended() const { return ended_; }
    int status() const { return status_; }

    // Shows a message and waits until the user closes it.
    void message(std::u16string_view text);

    // Where reports and message boxes go instead of a modal box (tests).
    std::function<void(std::u16string_view)> onReport;
    std::function<void(std::u16string_view)> onMessage;

protected:
    ProgramCore();

    // From now on nothing of the program runs (its window is being taken down).
    void stopRunning() { ending_ = true; }
    // Whether the program runs the event loop itself (run), which its end must leave.
    bool runsLoop() const { return runsLoop_; }

    // Shows the window, already placed, with the focus on the first control that takes it.
    virtual void show() = 0;
    // Dispatches events until the program ends.
    virtual void loop() = 0;
    virtual void showReport(const std::u16string& report) = 0;
    virtual void showMessage(std::u16string_view text) = 0;
    // Takes the window out of sight and leaves the event loop with the status.
    virtual void leave(int status) = 0;

private:
    void fail(int number, const std::u16string& description);

    bool ending_ = false;
    bool ended_ = false;
    bool runsLoop_ = false;
    int status_ = 0;
    ProgramCore* previous_;
};

// What a program's box is: a message, or the report of an error that no procedure handled.
enum class BoxKind { Message, Report };

// A program with its one form: the form is built from its table with the program, and taken
// down first when the program goes, with nothing of the program running any more. The form
// shows the window, its boxes and its going (FormT::show, showBox, takeDown); the realisation
// adds its event loop.
template <class FormT>
class FormProgram : public ProgramCore {
public:
    FormT& form() override { return *form_; }
    const FormT& form() const { return *form_; }

protected:
    explicit FormProgram(const FormSpec& layout)
        : form_(std::make_unique<FormT>(static_cast<ProgramCore&>(*this), layout)) {}
    ~FormProgram() override {
        stopRunning();
        form_.reset();
    }

    // Leaves the event loop that run dispatches, with the status.
    virtual void quitLoop(int status) = 0;

private:
    void show() final { form_->show(); }
    void showReport(const std::u16string& report) final { form_->showBox(report, BoxKind::Report); }
    void showMessage(std::u16string_view text) final { form_->showBox(text, BoxKind::Message); }
    void leave(int status) final {
        form_->takeDown();
        if (runsLoop()) quitLoop(status);
    }

    std::unique_ptr<FormT> form_;
};

} // namespace runtime
