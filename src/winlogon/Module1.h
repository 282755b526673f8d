// Module1: the Winlogon settings store. Reads the seven Winlogon values into the main
// window's controls and writes them back from the controls' state.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/registry.h"
#include "runtime/controls.h"
#include "winlogon/rules.h"

namespace winlogon {

// The result of the last registry operation; 0 when the program starts.
extern platform::Status LastResult;
// The working copy of the text being saved; empty when the program starts.
extern std::u16string ValueText;

void LoadAutoLogonSettings();
void LoadLogonNotice();
void SaveAutoLogonSettings();
void SaveLogonNotice();

// One register: the saves made between BeginRegister and EndRegister land together. On the
// hive, EndRegister writes all their changes in one replace of the file, or none of them when
// anything failed; on Windows each change landed as it was made.
void BeginRegister();
void EndRegister();

// The first thing that kept the register from storing everything: what was done, to which
// value, and the system's code; and which values it stored and which it did not.
struct SaveFailure {
    enum class Step { None, Open, Set, Delete, Close, TooLong };
    Step step = Step::None;
    std::u16string value;  // the value's name, for Set, Delete and TooLong
    platform::Status code = platform::status::Success;
    platform::FailureDetail detail;  // what the registry knows beyond the code
    std::vector<std::u16string> saved, notSaved;  // the values register changed, or meant to
    explicit operator bool() const { return step != Step::None; }
};

// The store's memory for one window, from the loads to the program's end: the controls it
// reads and sets, what loading kept as stored, and the first failure of a register. The
// procedures of this module work on the store that lives now; one lives at a time.
class Store {
public:
    explicit Store(const Form1Controls& controls);
    ~Store();
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;

    Form1Controls controls;
    Kept kept;
    SaveFailure failure;
};

// The failure of the last register; false when it stored everything.
const SaveFailure& LastSaveFailure();
// What loading kept as stored, value by value, and why.
const Kept& KeptAsLoaded();
// The message that tells the user what failed and why, in Japanese.
std::u16string SaveFailureMessage(const SaveFailure& failure);

// Whether the user may edit a text box's text from `current` to `proposed`: the store keeps
// only what code page 932 can hold, and at most `maxBytes` bytes of it (0: no byte limit).
bool StorableEdit(std::u16string_view current, std::u16string_view proposed, std::size_t maxBytes);
// The most bytes a notice caption or text may take, so that it is stored whole with its NUL.
inline constexpr std::size_t NoticeMaxBytes = 1023;

} // namespace winlogon
