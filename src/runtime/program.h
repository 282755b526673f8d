// The running program as every toolkit shares it: the boundary that each event procedure runs
// inside, how the program ends, and where reports and messages go. Each realisation derives
// its program from this and says how its window shows a report or a message and how it goes.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace runtime {

// Thrown by End: unwinds the procedures that are running to the boundary, which ends the
// program. Not an std::exception, so nothing but the boundary is meant to catch it.
struct EndRequest {};

class ProgramCore {
public:
    ProgramCore(const ProgramCore&) = delete;
    ProgramCore& operator=(const ProgramCore&) = delete;

    // The program that runs now, or null.
    static ProgramCore* current();

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
    virtual ~ProgramCore();

    // From now on nothing of the program runs (its window is being taken down).
    void stopRunning() { ending_ = true; }

    virtual void showReport(const std::u16string& report) = 0;
    virtual void showMessage(std::u16string_view text) = 0;
    // Takes the window out of sight and leaves the event loop with the status.
    virtual void leave(int status) = 0;

private:
    void fail(int number, const std::u16string& description);

    bool ending_ = false;
    bool ended_ = false;
    int status_ = 0;
    ProgramCore* previous_;
};

} // namespace runtime
