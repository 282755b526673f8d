// The five registry operations on Windows: advapi32's own functions, called directly. A
// handle crosses the platform interface as a number; HKEY_LOCAL_MACHINE keeps its value.
#include <windows.h>

#include "platform/registry.h"

namespace platform {

namespace {

HKEY toHkey(Key key) { return reinterpret_cast<HKEY>(key); }

static_assert(sizeof(DWORD) == sizeof(std::uint32_t));

} // namespace

Status RegOpenKeyExA(Key key, const char* subKey, std::uint32_t options, std::uint32_t samDesired,
                     Key* result) {
    if (!result) return status::InvalidParameter;
    HKEY opened = nullptr;
    const LONG code = ::RegOpenKeyExA(toHkey(key), subKey, options, samDesired, &opened);
    // A failed open leaves the caller's handle 0, whatever the system put in its variable.
    *result = code == ERROR_SUCCESS ? reinterpret_cast<Key>(opened) : 0;
    return code;
}

Status RegQueryValueExA(Key key, const char* valueName, std::uint32_t* reserved, std::uint32_t* type,
                        std::uint8_t* data, std::uint32_t* dataSize) {
    return ::RegQueryValueExA(toHkey(key), valueName, reinterpret_cast<DWORD*>(reserved),
                              reinterpret_cast<DWORD*>(type), data, reinterpret_cast<DWORD*>(dataSize));
}

Status RegSetValueExA(Key key, const char* valueName, std::uint32_t reserved, std::uint32_t type,
                      const std::uint8_t* data, std::uint32_t dataSize) {
    return ::RegSetValueExA(toHkey(key), valueName, reserved, type, data, dataSize);
}

Status RegDeleteValueA(Key key, const char* valueName) {
    return ::RegDeleteValueA(toHkey(key), valueName);
}

Status RegCloseKey(Key key) { return ::RegCloseKey(toHkey(key)); }

// The system's registry says all it knows in its status codes.
FailureDetail LastFailureDetail() { return {}; }

} // namespace platform
