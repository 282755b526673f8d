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
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include "big_hive.h"
#include "platform/hive/hive.h"
#include "runtime/memory_controls.h"
#include "winlogon/Module1.h"

namespace {

struct Window {
    runtime::memory::OptionArray autoLogon, notice;
    runtime::memory::CheckBox lastLogon, shutdown;
    runtime::memory::TextBox user, password, caption, text;
    winlogon::Store store{{autoLogon, lastLogon, shutdown, user, password, notice, caption, text}};
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
    auto edit = [](runtime::memory::TextBox& box, const std::u16string& t) {
        if (!box.userEdit(t)) bench::die("the window refused an edit");
    };
    auto tick = [](runtime::memory::CheckBox& box, int value) {
        if (box.value() != value) box.userClick();
    };
    window.autoLogon[static_cast<std::int16_t>(round % 2)].userClick();
    tick(window.lastLogon, static_cast<int>(round / 2 % 2));
    tick(window.shutdown, static_cast<int>(round / 4 % 2));
    edit(window.user, text(round * 7 + 1, 16, u'a'));
    edit(window.password, round % 5 == 4 ? u"" : text(round * 11 + 2, 16, u'A'));
    window.notice[static_cast<std::int16_t>(round / 3 % 2)].userClick();
    edit(window.caption, text(round * 13 + 3, 60, u'ア'));
    edit(window.text, text(round * 17 + 4, 511, u'あ')); // two bytes each: up to 1022
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
            winlogon::BeginRegister();
            winlogon::SaveAutoLogonSettings();
            winlogon::SaveLogonNotice();
            winlogon::EndRegister();
            if (winlogon::LastSaveFailure()) bench::die("register did not save");
            if (r == 0) first = std::filesystem::file_size(file);
        }
    });
    bench::growthLine(what, "after the first", first, std::filesystem::file_size(file), platform::hive::HiveBinSize, ms / 1000);
}

} // namespace

int main(int argc, char** argv) {
    const bench::LargeHive hive(argc, argv);
    const std::string& file = hive.file;

    Window window;
    auto load = [] {
        winlogon::LoadAutoLogonSettings();
        winlogon::LoadLogonNotice();
    };
    bench::readFloor(file);
    load();

    std::vector<double> readFloors, loads, copyFloors, saves;
    for (int r = 0; r < hive.rounds; ++r) {
        readFloors.push_back(bench::timeOnce([&] { bench::readFloor(file); }));
        loads.push_back(bench::timeOnce(load));

        copyFloors.push_back(bench::timeOnce([&] { bench::copyFloor(file, hive.copy); }));
        ::unlink(hive.copy.c_str());
        // What a user changes between two registers: the password and the notice.
        window.password.userEdit(u"password " + std::u16string(1, u'0' + r % 10));
        window.notice[1].userClick();
        window.text.userEdit(u"お知らせ " + std::u16string(1, u'0' + r % 10));
        saves.push_back(bench::timeOnce([] {
            winlogon::BeginRegister();
            winlogon::SaveAutoLogonSettings();
            winlogon::SaveLogonNotice();
            winlogon::EndRegister();
        }));
        if (winlogon::LastSaveFailure()) bench::die("register did not save");
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
    bench::line("start-up: both loads", bench::median(loads), "read the file once", bench::median(readFloors), 1.2);
    bench::line("register: both saves, one commit", bench::median(saves), "copy + fsync", bench::median(copyFloors), 1.2);

    const unsigned registers = argc > 4 ? static_cast<unsigned>(std::strtoul(argv[4], nullptr, 10)) : 1000;
    if (registers > 0) {
        const bench::GrowthHives growth(file);
        const std::string many = std::to_string(registers) + " registers";
        registerGrowth(window, growth.fresh, registers, ("growth: " + many + ", default hive").c_str());
        registerGrowth(window, growth.large, registers, ("growth: " + many + ", large hive").c_str());
    }
    return 0;
}
