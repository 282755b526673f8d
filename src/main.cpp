// The program's entry: Form1 is the startup object; the runtime runs it until the program ends.
// The commands for scripts (`show`, `set`) run the same window in memory instead, with no
// display. On POSIX systems the command line comes first: it may answer without a window, and
// it names the hive to edit. On Windows the console twin, vantorio.com, answers help, the
// version and a misspelt command itself, and starts the window's program for anything else.
#include <memory>
#include <optional>
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
#ifdef VANTORIO_CONSOLE
#include "commands/words.h"
#include "startup/command_line.h"
#endif
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
// An argument as Windows' command-line rules read it back: in quotes when it is empty or holds
// a blank or a quote, a quote escaped, and the backslashes before a quote or the closing one
// doubled.
std::wstring quoted(const std::string& argument) {
    const std::u16string text = platform::fromUtf8Lenient(argument);
    const std::wstring wide(text.begin(), text.end());
    if (!wide.empty() && wide.find_first_of(L" \t\n\v\"") == std::wstring::npos) return wide;
    std::wstring out = L"\"";
    std::size_t backslashes = 0;
    for (const wchar_t c : wide) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        out.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
        out += c;
        backslashes = 0;
    }
    out.append(2 * backslashes, L'\\');
    return out + L'"';
}

// The window's program beside this one: the console twin starts it for a command line that
// names no command, with the arguments given (`arguments`, the program's name first), as
// Windows starts it (elevated, as its manifest asks). It does not wait for the window.
int startWindowProgram(const std::vector<std::string>& arguments) {
    std::wstring path(MAX_PATH, L'\0');
    path.resize(GetModuleFileNameW(nullptr, path.data(), DWORD(path.size())));
    path = path.substr(0, path.find_last_of(L'.')) + L".exe";
    std::wstring parameters;
    for (std::size_t i = 1; i < arguments.size(); ++i) parameters += (i > 1 ? L" " : L"") + quoted(arguments[i]);
    SHELLEXECUTEINFOW run{};
    run.cbSize = sizeof run;
    run.fMask = SEE_MASK_FLAG_NO_UI;  // a failure is said on the console, not in a dialog
    run.lpVerb = L"open";
    run.lpFile = path.c_str();
    run.lpParameters = parameters.c_str();
    run.nShow = SW_SHOWNORMAL;
    if (ShellExecuteExW(&run)) return 0;
    const DWORD error = GetLastError();
    startup::Say(stderr, "cannot start the window's program '" + platform::toUtf8(std::u16string(path.begin(), path.end())) +
                             "': " + (error == ERROR_CANCELLED ? "elevation was refused" : commands::StatusWords(platform::Status(error))));
    return 1;
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
    // Help, the version and a misspelt command are answered here; only a command line that
    // names nothing else starts the window.
    const startup::CommandLine line = startup::ParseCommandLine(arguments);
    if (const std::optional<int> status = startup::Answer(line, startup::HelpText, stdout, stderr)) return *status;
    return startWindowProgram(line.toolkitArguments);
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
