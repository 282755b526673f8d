// The program's entry: Form1 is the startup object; the runtime runs it until the program ends.
// On POSIX systems the command line comes first: it may answer without a window, and it
// names the hive to edit.
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/runtime.h"
#include "window/Form1.h"

#ifndef _WIN32
#include <cstdio>

#include "startup/startup.h"
#endif

int main(int argc, char** argv) {
    std::unique_ptr<window::Form1> form1;
#ifdef _WIN32
    return runtime::Run(argc, argv, window::Form1::Layout(), window::Form1::Loader(form1));
#else
    const std::vector<std::string_view> arguments(argv, argv + argc);
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
