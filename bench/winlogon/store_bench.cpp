// How long the settings store takes on a large SOFTWARE hive, beside what the file system needs
// at least for the same work:
//   start-up: both loads, beside reading the whole file once;
//   register: both saves with their commits, beside copying the file and flushing the copy
//             twice (each save replaces the whole hive once);
//   growth:   how much the hive grows over many registers that change every value, beyond its
//             size after the first, on the default hive and on the large one (in a folder in
//             memory: the figure does not depend on the disk, and thousands of flushes of a
//             large file would only make the run long).
// The store runs against controls of the benchmark's own that only hold their values, so the
// figures are the store's and the registry's alone.
// Usage: vantorio_store_bench [megabytes=100] [rounds=7] [folder] [registers=1000]
// (an empty folder: a temporary one; registers=0 leaves out the growth rows).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include "big_hive.h"
#include "platform/hive_file.h"
#include "platform/hive_format.h"
#include "winlogon/Module1.h"

namespace {

struct Enabled {
    bool on = true;
    bool enabled() const { return on; }
    void setEnabled(bool value) { on = value; }
};

struct CheckBox final : runtime::CheckBox {
    Enabled e;
    int v = 0;
    bool enabled() const override { return e.enabled(); }
    void setEnabled(bool on) override { e.setEnabled(on); }
    int value() const override { return v; }
    void setValue(int value) override { v = value; }
};

struct TextBox final : runtime::TextBox {
    Enabled e;
    std::u16string t;
    int max = 0;
    std::u16string password;
    bool enabled() const override { return e.enabled(); }
    void setEnabled(bool on) override { e.setEnabled(on); }
    std::u16string text() const override { return t; }
    void setText(std::u16string_view text) override { t = text; }
    int maxLength() const override { return max; }
    void setMaxLength(int length) override { max = length; }
    std::u16string passwordChar() const override { return password; }
    void setPasswordChar(std::u16string_view c) override { password = c; }
    void setInputFilter(InputFilter) override {}
};

struct OptionArray;
struct OptionButton final : runtime::OptionButton {
    OptionArray* array = nullptr;
    std::int16_t index = 0;
    bool on = false;
    Enabled e;
    bool enabled() const override { return e.enabled(); }
    void setEnabled(bool value) override { e.setEnabled(value); }
    bool selected() const override { return on; }
    void setSelected(bool value) override;
};

struct OptionArray final : runtime::OptionArray {
    OptionButton buttons[2];
    std::function<void(std::int16_t)> click;
    OptionArray() {
        for (std::int16_t i = 0; i < 2; ++i) buttons[i].array = this, buttons[i].index = i;
    }
    runtime::OptionButton& operator[](std::int16_t index) override { return buttons[index]; }
    void onClick(std::function<void(std::int16_t)> handler) override { click = std::move(handler); }
};

void OptionButton::setSelected(bool value) {
    on = value;
    if (!value) return;
    array->buttons[1 - index].on = false;
    if (array->click) array->click(index);
}

struct Window {
    OptionArray autoLogon, notice;
    CheckBox lastLogon, shutdown;
    TextBox user, password, caption, text;
    winlogon::Form1Controls controls{autoLogon, lastLogon, shutdown, user, password, notice, caption, text};
    Window() { winlogon::Attach(&controls); }
    ~Window() { winlogon::Attach(nullptr); }
};

// What a user may do between two registers: change every control of the window. The logon
// choice and the check boxes flip, the texts change in content and in length (the notice up
// to the most its box takes), and every fifth password is emptied (which deletes the value).
void changeEverything(Window& window, unsigned round) {
    auto text = [](unsigned seed, std::size_t most, char16_t first) {
        std::u16string t;
        const std::size_t length = 1 + (seed * 2654435761u >> 7) % most;
        for (std::size_t i = 0; i < length; ++i) t.push_back(static_cast<char16_t>(first + (seed + i) % 26));
        return t;
    };
    window.autoLogon.buttons[round % 2].setSelected(true);
    window.lastLogon.v = round / 2 % 2;
    window.shutdown.v = round / 4 % 2;
    window.user.t = text(round * 7 + 1, 16, u'a');
    window.password.t = round % 5 == 4 ? u"" : text(round * 11 + 2, 16, u'A');
    window.notice.buttons[round / 3 % 2].setSelected(true);
    window.caption.t = text(round * 13 + 3, 60, u'ア');
    window.text.t = text(round * 17 + 4, 511, u'あ'); // two bytes each: up to 1022
}

// The hive at `file` over `registers` registers: its size after the first and after the last.
void registerGrowth(Window& window, const std::string& file, unsigned registers, const char* what) {
    setenv("VANTORIO_SOFTWARE_HIVE", file.c_str(), 1);
    winlogon::LoadAutoLogonSettings();
    winlogon::LoadLogonNotice();
    std::uintmax_t first = 0;
    const double ms = bench::timeOnce([&] {
        for (unsigned r = 0; r < registers; ++r) {
            changeEverything(window, r);
            winlogon::ResetSaveFailure();
            winlogon::SaveAutoLogonSettings();
            winlogon::SaveLogonNotice();
            if (winlogon::LastSaveFailure()) bench::die("register did not save");
            if (r == 0) first = std::filesystem::file_size(file);
        }
    });
    bench::growthLine(what, "after the first", first, std::filesystem::file_size(file), platform::hive::HiveBinSize, ms / 1000);
}

} // namespace

int main(int argc, char** argv) {
    const std::size_t megabytes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 100;
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 7;
    const bench::Folder folder(argc, argv, 3);
    const std::string file = folder.path + "/SOFTWARE";
    const std::string copy = folder.path + "/copy";
    setenv("VANTORIO_SOFTWARE_HIVE", file.c_str(), 1);

    if (!std::filesystem::exists(file)) bench::makeHive(file, megabytes);
    std::printf("hive: %.1f MB in %s; %d rounds, medians\n",
                static_cast<double>(std::filesystem::file_size(file)) / 1e6, folder.path.c_str(), rounds);
    bench::prepareFloors(file);

    Window window;
    auto load = [] {
        winlogon::LoadAutoLogonSettings();
        winlogon::LoadLogonNotice();
    };
    bench::readFloor(file);
    load();

    std::vector<double> readFloors, loads, copyFloors, saves;
    for (int r = 0; r < rounds; ++r) {
        readFloors.push_back(bench::timeOnce([&] { bench::readFloor(file); }));
        loads.push_back(bench::timeOnce(load));

        copyFloors.push_back(bench::timeOnce([&] {
            bench::copyFloor(file, copy);
            bench::copyFloor(file, copy);
        }));
        ::unlink(copy.c_str());
        // What a user changes between two registers: the password and the notice.
        window.password.t = u"password " + std::u16string(1, u'0' + r % 10);
        window.notice.buttons[1].setSelected(true);
        window.text.t = u"お知らせ " + std::u16string(1, u'0' + r % 10);
        winlogon::ResetSaveFailure();
        saves.push_back(bench::timeOnce([] {
            winlogon::SaveAutoLogonSettings();
            winlogon::SaveLogonNotice();
        }));
        if (winlogon::LastSaveFailure()) bench::die("register did not save");
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
    bench::line("start-up: both loads", bench::median(loads), "read the file once", bench::median(readFloors), 1.2);
    bench::line("register: both saves", bench::median(saves), "copy + fsync, twice", bench::median(copyFloors), 1.2);

    const unsigned registers = argc > 4 ? static_cast<unsigned>(std::strtoul(argv[4], nullptr, 10)) : 1000;
    if (registers > 0) {
        const bench::Folder memory{bench::Folder::InMemory{}};
        const std::string fresh = memory.path + "/default/SOFTWARE";
        if (platform::hive::ensureDefaultHive(fresh) != platform::status::Success) bench::die("no default hive");
        const std::string large = memory.path + "/SOFTWARE";
        std::filesystem::copy_file(file, large);
        const std::string many = std::to_string(registers) + " registers";
        registerGrowth(window, fresh, registers, ("growth: " + many + ", default hive").c_str());
        registerGrowth(window, large, registers, ("growth: " + many + ", large hive").c_str());
    }
    return 0;
}
