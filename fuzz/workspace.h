// What the fuzz targets share: the hive file they work on, and reading a value as the
// program does.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

#include "platform/registry.h"
#include "value_query.h"

namespace fuzz {

// A folder of the process's own, in memory where the system offers it (/dev/shm), holding the
// hive file that the registry operations are pointed at; removed when the process ends.
class Workspace {
public:
    static Workspace& get();
    const std::string& folder() const { return folder_; }
    const std::string& hive() const { return hive_; }
    // Puts a new hive file in place: a file of its own, not the last one rewritten.
    void put(std::string_view bytes) const;
    std::string bytes() const;
    // The names in the folder, sorted.
    std::vector<std::string> entries() const;
    // Which file the hive path names now (device, inode).
    std::pair<dev_t, ino_t> identity() const;

private:
    Workspace();
    std::string folder_;
    std::string hive_;
};

using testsupport::Read;
using testsupport::queryWhole;

// The Winlogon key, as the program opens it.
inline constexpr const char* WinlogonKey = "Software\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon";

// The values the program reads.
inline constexpr const char* WinlogonValues[] = {"AutoAdminLogon",  "DontDisplayLastUserName", "ShutdownWithoutLogon",
                                                 "DefaultUserName", "DefaultPassword",         "LegalNoticeCaption",
                                                 "LegalNoticeText"};

// "what went wrong" with a number, for reports.
std::string said(std::string_view what, long long number);

} // namespace fuzz
