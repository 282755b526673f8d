// What the window tests share: the controls by name, a running Form1, and a probe program
// that binds counters instead of Form1's procedures to the same layout.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <ostream>
#include <string>

#include <gtest/gtest.h>

#include "runtime/testing.h"
#include "window/Form1.h"

namespace vantorio_test {

using runtime::testing::ControlId;
using runtime::testing::Key;
using runtime::testing::Rect;
using runtime::testing::Session;

inline const ControlId AutoLogonFrame{u"AutoLogonFrame"};
inline const ControlId AutoLogonOff{u"AutoLogonOption", 0};
inline const ControlId AutoLogonOn{u"AutoLogonOption", 1};
inline const ControlId UserLabel{u"UserLabel"};
inline const ControlId PassWordLabel{u"PassWordLabel"};
inline const ControlId LastLogonCheck{u"LastLogonCheck"};
inline const ControlId ShutdownCheck{u"ShutdownCheck"};
inline const ControlId UserText{u"UserText"};
inline const ControlId PassWordText{u"PassWordText"};
inline const ControlId LogonMessageFrame{u"LogonMessageFrame"};
inline const ControlId NoticeOff{u"LogonMessageOption", 0};
inline const ControlId NoticeOn{u"LogonMessageOption", 1};
inline const ControlId LogonCaptionLabel{u"LogonCaptionLabel"};
inline const ControlId LogonMessageLabel{u"LogonMessageLabel"};
inline const ControlId LogonCaptionText{u"LogonCaptionText"};
inline const ControlId LogonMessageText{u"LogonMessageText"};
inline const ControlId Cancel{u"Cancel"};
inline const ControlId Ok{u"Ok"};

inline std::string narrow(std::u16string_view text) {
    std::string out;
    for (char16_t c : text) {
        if (c < 0x80) {
            out += char(c);
        } else if (c < 0x800) {
            out += char(0xC0 | (c >> 6));
            out += char(0x80 | (c & 0x3F));
        } else {
            out += char(0xE0 | (c >> 12));
            out += char(0x80 | ((c >> 6) & 0x3F));
            out += char(0x80 | (c & 0x3F));
        }
    }
    return out;
}

inline std::string describe(const std::optional<ControlId>& id) {
    if (!id) return "(none)";
    return narrow(id->name) + (id->index >= 0 ? "(" + std::to_string(id->index) + ")" : "");
}

// Form1 running as the program runs it.
struct Form1Run {
    std::unique_ptr<window::Form1> form1;
    Session session{window::Form1::Layout(), window::Form1::Loader(form1)};

    runtime::Control& control(const ControlId& id) {
        runtime::Form& form = session.form();
        if (id.index >= 0) return form.optionArray(id.name)[id.index];
        for (const auto& row : window::Form1::Layout().controls) {
            if (row.name != id.name) continue;
            switch (row.kind) {
            case runtime::ControlKind::Frame: return form.frame(id.name);
            case runtime::ControlKind::Label: return form.label(id.name);
            case runtime::ControlKind::TextBox: return form.textBox(id.name);
            case runtime::ControlKind::CheckBox: return form.checkBox(id.name);
            case runtime::ControlKind::CommandButton: return form.commandButton(id.name);
            case runtime::ControlKind::OptionButton: break;
            }
        }
        throw std::invalid_argument("no such control");
    }
    bool enabled(const ControlId& id) { return control(id).enabled(); }
    runtime::TextBox& text(const ControlId& id) { return session.form().textBox(id.name); }
};

// The same layout with procedures of the test's own: counts the clicks of the two buttons
// and runs what the test gives for each.
struct ProbeRun {
    int okClicks = 0;
    int cancelClicks = 0;
    std::function<void(runtime::Form&)> onOk;
    std::function<void(runtime::Form&)> onCancel;
    std::function<void(runtime::Form&)> onLoad;
    std::unique_ptr<Session> session;

    void start() {
        session = std::make_unique<Session>(window::Form1::Layout(), [this](runtime::Form& form) {
            form.commandButton(u"Ok").onClick([this, &form] {
                ++okClicks;
                if (onOk) onOk(form);
            });
            form.commandButton(u"Cancel").onClick([this, &form] {
                ++cancelClicks;
                if (onCancel) onCancel(form);
            });
            if (onLoad) onLoad(form);
        });
    }
};

} // namespace vantorio_test
