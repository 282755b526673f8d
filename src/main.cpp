// The program's entry: Form1 is the startup object; the runtime runs it until the program ends.
// The commands for scripts (`show`, `set`) run the same window in memory instead, with no
// display. On POSIX systems the command line comes first: it may answer without a window, and
// it names the hive to edit.
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "commands/commands.h"
#include "runtime/runtime.h"
#include "window/Form1.h"

#ifdef _WIN32
#include <windows.h>

#include <shellapi.h>

#include "platform/utf8.h"
#else
#include <cstdio>

#include "startup/startup.h"
#endif

#ifdef _WIN32
namespace {

// The command line as Windows keeps it (UTF-16), in UTF-8.
std::vector<std::string> wideArguments() {
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::string> out;
    for (int i = 0; i < count; ++i)
        out.push_back(platform::toUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(wide[i]))));
    LocalFree(wide);
    return out;
}

#ifdef VANTORIO_CONSOLE
// The window's program beside this one: the console twin starts it for a command line that
// names no command, as Windows starts it (elevated, as its manifest asks).
int startWindowProgram() {
    std::wstring path(MAX_PATH, L'\0');
    path.resize(GetModuleFileNameW(nullptr, path.data(), DWORD(path.size())));
    path = path.substr(0, path.find_last_of(L'.')) + L".exe";
    SHELLEXECUTEINFOW run{};
    run.cbSize = sizeof run;
    run.lpVerb = L"open";
    run.lpFile = path.c_str();
    run.nShow = SW_SHOWNORMAL;
    return ShellExecuteExW(&run) ? 0 : 1;
}
#endif

} // namespace
#endif

int main([[maybe_unused]] int argc, [[maybe_unused]] char** argv) {
    std::unique_ptr<window::Form1> form1;
#ifdef _WIN32
    const std::vector<std::string> utf8 = wideArguments();
    const std::vector<std::string_view> arguments(utf8.begin(), utf8.end());
    if (commands::IsCommand(arguments)) {
        // The window's program has no console of its own: it borrows the one it was started from.
        if (!GetStdHandle(STD_OUTPUT_HANDLE) && AttachConsole(ATTACH_PARENT_PROCESS)) {
            std::freopen("CONOUT$", "w", stdout);
            std::freopen("CONOUT$", "w", stderr);
        }
        return commands::Run(arguments, stdout, stderr);
    }
#ifdef VANTORIO_CONSOLE
    return startWindowProgram();
#else
    return runtime::Run(argc, argv, window::Form1::Layout(), window::Form1::Loader(form1));
#endif
#else
    const std::vector<std::string_view> arguments(argv, argv + argc);
    if (commands::IsCommand(arguments)) return commands::Run(arguments, stdout, stderr);
    startup::Start start = startup::Prepare(arguments, stdout, stderr);
    if (start.exitStatus) return *start.exitStatus;
    // The toolkit sees its own options only.
    std::vector<char*> toolkitArgv;
    for (std::string& argument : start.toolkitArguments) toolkitArgv.push_back(argument.data());
    toolkitArgv.push_back(nullptr);
    return runtime::Run(int(toolkitArgv.size() - 1), toolkitArgv.data(), window::Form1::Layout(),
                        window::Form1::Loader(form1));
#endif
}
