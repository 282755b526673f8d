// The five registry operations on Windows: advapi32's own functions, called directly. A
// handle crosses the platform interface as a number; HKEY_LOCAL_MACHINE keeps its value.
#include <windows.h>

#include <cstring>
#include <string>

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

namespace {

// A value read whole by `query`, growing the buffer while it says there is more.
template <class Query>
LONG readWhole(Query query, std::string& data, DWORD& type) {
    for (DWORD size = 256;;) {
        data.assign(size, '\0');
        const LONG code = query(reinterpret_cast<BYTE*>(data.data()), &size, &type);
        if (code == ERROR_MORE_DATA) continue;
        if (code == ERROR_SUCCESS) data.resize(size);
        return code;
    }
}

std::wstring wideName(const char* valueName) {
    const int n = MultiByteToWideChar(CP_ACP, 0, valueName ? valueName : "", -1, nullptr, 0);
    std::wstring name(n > 0 ? n : 1, L'\0');
    if (n > 0) MultiByteToWideChar(CP_ACP, 0, valueName ? valueName : "", -1, name.data(), n);
    name.resize(name.size() - 1);
    return name;
}

// The value as stored: the W function hands text out as it is.
LONG readStored(Key key, const char* valueName, std::string& data, DWORD& type) {
    const std::wstring name = wideName(valueName);
    return readWhole([&](BYTE* bytes, DWORD* size, DWORD* t) {
        return ::RegQueryValueExW(toHkey(key), name.c_str(), nullptr, t, bytes, size);
    }, data, type);
}

} // namespace

Status QueryValueStored(Key key, const char* valueName, std::uint32_t* type, std::string* data) {
    if (!type || !data) return status::InvalidParameter;
    DWORD stored = 0;
    const LONG code = readStored(key, valueName, *data, stored);
    *type = stored;
    return code;
}

Status QueryValueExactA(Key key, const char* valueName, bool* exact) {
    if (!exact) return status::InvalidParameter;
    *exact = false;
    // The value as stored (W) and as the A function hands it out, each read whole.
    std::string wide, narrow;
    DWORD wideType = 0, narrowType = 0;
    LONG code = readStored(key, valueName, wide, wideType);
    if (code != ERROR_SUCCESS) return code;
    code = readWhole([&](BYTE* data, DWORD* size, DWORD* type) {
        return ::RegQueryValueExA(toHkey(key), valueName, nullptr, type, data, size);
    }, narrow, narrowType);
    if (code != ERROR_SUCCESS) return code;
    if (wideType != REG_SZ && wideType != REG_EXPAND_SZ && wideType != REG_MULTI_SZ) {
        *exact = wide == narrow;
        return ERROR_SUCCESS;
    }
    // What the A function handed out, turned back into UTF-16 as the system turned it out.
    const int n = MultiByteToWideChar(CP_ACP, 0, narrow.data(), int(narrow.size()), nullptr, 0);
    std::wstring back(n > 0 ? n : 0, L'\0');
    if (n > 0) MultiByteToWideChar(CP_ACP, 0, narrow.data(), int(narrow.size()), back.data(), n);
    // Trailing NULs are the text's end on either side, however the A function counted them.
    std::wstring stored(wide.size() / sizeof(wchar_t), L'\0');
    if (!stored.empty()) std::memcpy(stored.data(), wide.data(), stored.size() * sizeof(wchar_t));
    while (!stored.empty() && stored.back() == L'\0') stored.pop_back();
    while (!back.empty() && back.back() == L'\0') back.pop_back();
    *exact = wide.size() % 2 == 0 && stored == back;
    return ERROR_SUCCESS;
}

// Each change of the system's registry lands when it is made.
void BeginChanges() {}
Status EndChanges(bool) { return ERROR_SUCCESS; }
bool ChangesUnconfirmed() { return false; }

// The system's registry says all it knows in its status codes.
FailureDetail LastFailureDetail() { return {}; }

} // namespace platform
