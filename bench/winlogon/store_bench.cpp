// How long the settings store takes on a large SOFTWARE hive, beside what the file system needs
// at least for the same work:
//   start-up: both loads, beside reading the whole file once;
//   register: both saves with their commits, beside copying the file and flushing the copy
//             twice (each save replaces the whole hive once).
// The store runs against controls of the benchmark's own that only hold their values, so the
// figures are the store's and the registry's alone.
// Usage: vantorio_store_bench [megabytes=100] [rounds=7] [folder]
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
#include "runtime/memory_controls.h"
#include "winlogon/Module1.h"

namespace {

struct Window {
    runtime::memory::OptionArray autoLogon, notice;
    runtime::memory::CheckBox lastLogon, shutdown;
    runtime::memory::TextBox user, password, caption, text;
    winlogon::Form1Controls controls{autoLogon, lastLogon, shutdown, user, password, notice, caption, text};
    Window() { winlogon::Attach(&controls); }
    ~Window() { winlogon::Attach(nullptr); }
};

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
        window.password.userEdit(u"password " + std::u16string(1, u'0' + r % 10));
        window.notice[1].userClick();
        window.text.userEdit(u"お知らせ " + std::u16string(1, u'0' + r % 10));
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
    return 0;
}
