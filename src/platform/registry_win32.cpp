// The five registry operations on Windows: advapi32's own functions, called directly. A
// handle crosses the platform interface as a number; HKEY_LOCAL_MACHINE keeps its value.
#include <windows.h>

#include <cstring>
#include <optional>
#include <string>

#include "platform/registry.h"
#include "platform/rehearsal.h"

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

std::u16string wideText(const char* valueName) {
    const std::wstring name = wideName(valueName);
    return std::u16string(name.begin(), name.end());
}

// The value as stored: the W function hands text out as it is.
LONG readStored(Key key, const char* valueName, std::string& data, DWORD& type) {
    const std::wstring name = wideName(valueName);
    return readWhole([&](BYTE* bytes, DWORD* size, DWORD* t) {
        return ::RegQueryValueExW(toHkey(key), name.c_str(), nullptr, t, bytes, size);
    }, data, type);
}

// The value as stored now, for a rehearsal; nothing when it cannot be read.
std::optional<StoredValue> storedNow(Key key, const char* valueName) {
    StoredValue value;
    DWORD type = 0;
    if (readStored(key, valueName, value.data, type) != ERROR_SUCCESS) return std::nullopt;
    value.type = type;
    return value;
}

// The data as the system stores it from an A call: text turned into UTF-16 with the system's
// code page, as the A function turns it.
std::string storedForm(std::uint32_t type, const std::uint8_t* data, std::uint32_t size) {
    const char* bytes = reinterpret_cast<const char*>(data);
    if (type != REG_SZ && type != REG_EXPAND_SZ && type != REG_MULTI_SZ) return std::string(bytes, data ? size : 0);
    if (!data || size == 0) return {};
    const int n = MultiByteToWideChar(CP_ACP, 0, bytes, int(size), nullptr, 0);
    std::wstring wide(n > 0 ? n : 0, L'\0');
    if (n > 0) MultiByteToWideChar(CP_ACP, 0, bytes, int(size), wide.data(), n);
    return std::string(reinterpret_cast<const char*>(wide.data()), wide.size() * sizeof(wchar_t));
}

} // namespace

// A rehearsed change reaches the system's registry no more than its query does.
Status RegSetValueExA(Key key, const char* valueName, std::uint32_t reserved, std::uint32_t type,
                      const std::uint8_t* data, std::uint32_t dataSize) {
    if (!rehearsal::active()) return ::RegSetValueExA(toHkey(key), valueName, reserved, type, data, dataSize);
    if (!data && dataSize) return ERROR_INVALID_PARAMETER;
    rehearsal::note(wideText(valueName), [&] { return storedNow(key, valueName); },
                    StoredValue{type, storedForm(type, data, dataSize)});
    return ERROR_SUCCESS;
}

Status RegDeleteValueA(Key key, const char* valueName) {
    if (!rehearsal::active()) return ::RegDeleteValueA(toHkey(key), valueName);
    StoredValue now;
    DWORD type = 0;
    if (const LONG code = readStored(key, valueName, now.data, type)) return code;
    now.type = type;
    rehearsal::note(wideText(valueName), [&] { return now; }, std::nullopt);
    return ERROR_SUCCESS;
}

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

// The system replays a hive's logs itself when it loads the hive.
HiveCondition CurrentHiveCondition() { return {}; }

} // namespace platform
