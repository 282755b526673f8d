// The running program on Qt: the one form, the boundary that every event procedure runs
// inside, and the program's end. Private to the Qt realisation of the runtime.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <QPointer>
#include <QWidget>

#include "runtime/program.h"
#include "runtime/runtime.h"

class QProxyStyle;

namespace runtime::qt {

class FormWindow;

// The form built from its table: the window, its controls and their wrappers.
class QtForm : public Form {
public:
    QtForm(class Program& program, const FormSpec& layout);
    ~QtForm() override;

    float Left() const override;
    void setLeft(float twips) override;
    float Top() const override;
    void setTop(float twips) override;
    float Width() const override;
    float Height() const override;

    QWidget* window() const { return window_; }
    QWidget* widget(std::u16string_view name, std::int16_t index) const;
    const ControlSpec* rowOf(const QWidget* widget) const;
    // Gives the focus to the first control of the focus order that can take it.
    void focusFirst();

protected:
    Control* findControl(std::u16string_view name, std::int16_t index) override;
    OptionArray* findOptionArray(std::u16string_view name) override;

private:
    struct Entry {
        const ControlSpec* row;
        QPointer<QWidget> widget;
        std::unique_ptr<Control> control;
    };
    Program& program_;
    QPointer<QWidget> window_;
    std::unique_ptr<QProxyStyle> style_;
    std::vector<Entry> entries_;
    std::map<std::u16string, std::unique_ptr<OptionArray>, std::less<>> arrays_;
};

class Program final : public ProgramCore {
public:
    // `mainLoop`: the program runs the application's event loop and leaves it when it ends.
    Program(const FormSpec& layout, bool mainLoop);
    ~Program() override;

    // The program that runs now, or null.
    static Program* current() { return static_cast<Program*>(ProgramCore::current()); }

    QtForm& form() { return *form_; }
    const QtForm& form() const { return *form_; }

    // Runs the load procedure inside the boundary.
    void load(const std::function<void(Form&)>& procedure);
    // Shows the window, already placed, and lets it take the focus.
    void show();

private:
    void showReport(const std::u16string& report) override;
    void showMessage(std::u16string_view text) override;
    void leave(int status) override;

    bool mainLoop_;
    std::unique_ptr<QtForm> form_;
};

// Twips and pixels at the screen's logical resolution.
int toPixels(double twips);
float toTwips(int pixels);

} // namespace runtime::qt
