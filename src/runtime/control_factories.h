// The factories of a realisation's controls, one for each kind of control, and the choice
// among them by a row's kind. A realisation's controls depend on this, on the program core
// and on the controls' common rules, never on its form.
#pragma once

#include "runtime/runtime.h"

namespace runtime {

// One factory for each kind of control: each makes the toolkit's control for a row (`Build`
// says where and with what) and returns what it made (`Made`).
template <class Build, class Made>
struct ControlFactories {
    Made (*frame)(const Build&);
    Made (*label)(const Build&);
    Made (*textBox)(const Build&);
    Made (*checkBox)(const Build&);
    Made (*optionButton)(const Build&);
    Made (*commandButton)(const Build&);

    Made operator()(ControlKind kind, const Build& build) const {
        switch (kind) {
        case ControlKind::Frame: return frame(build);
        case ControlKind::Label: return label(build);
        case ControlKind::TextBox: return textBox(build);
        case ControlKind::CheckBox: return checkBox(build);
        case ControlKind::OptionButton: return optionButton(build);
        case ControlKind::CommandButton: return commandButton(build);
        }
        return commandButton(build);  // every kind has its case above
    }
};

} // namespace runtime
