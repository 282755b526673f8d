// Files of the build as Windows sees them: a build folder on a POSIX host (under Wine) is on
// drive Z:, and its separators are backslashes. Each test names the built program with
// VANTORIO_EXE.
#pragma once

#include <string>

namespace windowstests {

inline std::wstring builtPath(std::string path) {
    if (!path.empty() && path[0] == '/') path = "Z:" + path;
    for (char& c : path)
        if (c == '/') c = '\\';
    return std::wstring(path.begin(), path.end());
}

// The window's program, vantorio.exe.
inline std::wstring programPath() { return builtPath(VANTORIO_EXE); }

} // namespace windowstests
