#include "value_query.h"

namespace testsupport {

Read queryWhole(platform::Key key, const char* name) {
    Read r;
    std::uint32_t size = 0;
    r.code = platform::RegQueryValueExA(key, name, nullptr, &r.type, nullptr, &size);
    if (r.code != platform::status::Success) return r;
    r.data.assign(size, '\0');
    r.code = platform::RegQueryValueExA(key, name, nullptr, &r.type, reinterpret_cast<std::uint8_t*>(r.data.data()), &size);
    r.data.resize(r.code == platform::status::Success ? size : 0);
    return r;
}

} // namespace testsupport
