// What the end-to-end tests of the settings store share: a hive file of the test's own with
// given Winlogon values, Form1 started on it as the program starts, and the values that the
// hive holds afterwards, read with libhivex itself.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "support/hive_fixture.h"
#include "window_test.h"

namespace vantorio_test {

using testsupport::HiveValue;

inline HiveValue sz(const char* name, std::u16string_view text) { return testsupport::textValue(name, text); }
// A REG_SZ stored without its terminating NUL.
inline HiveValue unterminated(const char* name, std::u16string_view text) {
    return {name, 1, testsupport::utf16le(text, false)};
}
inline HiveValue raw(const char* name, std::uint32_t type, std::string bytes) { return {name, type, std::move(bytes)}; }

// n copies of a text.
inline std::u16string times(std::size_t n, std::u16string_view text) {
    std::u16string out;
    for (std::size_t i = 0; i < n; ++i) out += text;
    return out;
}

inline const std::vector<const char*> WinlogonNames{
    "AutoAdminLogon",  "DontDisplayLastUserName", "ShutdownWithoutLogon", "DefaultUserName",
    "DefaultPassword", "LegalNoticeCaption",      "LegalNoticeText"};

// A hive with the Winlogon key (or without it), and the program started on it.
class HiveRun {
public:
    explicit HiveRun(const std::vector<HiveValue>& values, bool withKey = true) {
        if (withKey)
            hive_.make(values);
        else
            hive_.make(std::vector<testsupport::HiveKey>{{"Microsoft\\Windows NT", {}}});
        before_ = hive_.contents();
    }

    // Changes the file's bytes before the program starts (a damaged or dirty hive).
    void rewrite(const std::function<void(std::string&)>& change) {
        std::string bytes = hive_.contents();
        change(bytes);
        hive_.overwrite(bytes);
        before_ = bytes;
    }

    // Starts the program; the values are loaded before this returns.
    Form1Run& start() {
        toolkitStarted() = true;
        run_ = std::make_unique<Form1Run>();
        return *run_;
    }
    // Whether this process has started the window toolkit: a forked child must not use it then.
    static bool& toolkitStarted() {
        static bool started = false;
        return started;
    }
    Form1Run& run() { return *run_; }
    Session& session() { return run_->session; }

    // Clicks the register button and waits for the program to end.
    void registerAndEnd() {
        session().click(Ok);
        ASSERT_TRUE(session().waitFor([&] { return session().ended(); }))
            << "register did not end the program: "
            << (session().messageBoxes().empty() ? "" : narrow(session().messageBoxes().back()));
        EXPECT_EQ(session().status(), 0);
    }

    // Empties a text box as the user does: to its end, then backspace over every character.
    void clear(const ControlId& box) {
        const std::size_t length = run_->text(box).text().size();
        session().press(Key::End, box);
        for (std::size_t i = 0; i < length; ++i) session().press(Key::Backspace, box);
    }

    std::optional<HiveValue> value(const char* name) const { return testsupport::readValue(hive_.file, name); }
    const std::string& file() const { return hive_.file; }
    const std::string& folder() const { return hive_.folder; }
    bool unchanged() const { return hive_.contents() == before_; }

private:
    testsupport::HiveFile hive_;
    std::string before_;
    std::unique_ptr<Form1Run> run_;
};

} // namespace vantorio_test
