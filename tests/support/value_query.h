// A value of an open key read whole, as the tests and fuzz targets check it: its size asked
// first, then its bytes into a buffer of exactly that size (string types come in code page 932).
#pragma once

#include <cstdint>
#include <string>

#include "platform/registry.h"

namespace testsupport {

struct Read {
    platform::Status code = 0;
    std::uint32_t type = 0;
    std::string data;
    bool operator==(const Read&) const = default;
};

Read queryWhole(platform::Key key, const char* name);

} // namespace testsupport
