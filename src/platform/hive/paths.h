// The parts of a file's path.
#pragma once

#include <algorithm>
#include <string>
#include <string_view>

namespace platform {

// The folder that holds the file `path`: "." for a bare name, "/" for a file in the root.
inline std::string folderOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

// The file's own name, without its folder.
inline std::string nameOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Whether two names of files are the same but for the case of their ASCII letters, as an NTFS
// volume mounted with ntfs-3g shows the names Windows gave ("software.log1", "Config").
inline bool sameLettersAnyCase(std::string_view a, std::string_view b) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) { return lower(x) == lower(y); });
}

} // namespace platform
