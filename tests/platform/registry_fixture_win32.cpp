// The registry table's fresh key on Windows: a new, empty key of the test's own under
// HKEY_LOCAL_MACHINE\Software in the real registry, removed with everything under it at the end.
#include "registry_fixture.h"

#include <windows.h>

#include <atomic>
#include <stdexcept>
#include <string>

namespace registrytable {

struct FreshKey::Impl {
    std::string subKey;
};

namespace {
constexpr const char* Parent = "Software\\VantorioTests";
std::atomic<unsigned> counter{0};
} // namespace

FreshKey::FreshKey() : impl_(std::make_unique<Impl>()) {
    impl_->subKey = std::string(Parent) + "\\Key" + std::to_string(GetCurrentProcessId()) + "-" +
                    std::to_string(counter++);
    HKEY key = nullptr;
    DWORD disposition = 0;
    const LONG code = RegCreateKeyExA(HKEY_LOCAL_MACHINE, impl_->subKey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                      KEY_ALL_ACCESS, nullptr, &key, &disposition);
    if (code != ERROR_SUCCESS) throw std::runtime_error("cannot create " + impl_->subKey);
    RegCloseKey(key);
    if (disposition != REG_CREATED_NEW_KEY) throw std::runtime_error(impl_->subKey + " was there already");
}

FreshKey::~FreshKey() {
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, impl_->subKey.c_str());
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, impl_->subKey.c_str());
}

const std::string& FreshKey::subKey() const { return impl_->subKey; }

bool FreshKey::storeAsIs(const std::string& name, std::uint32_t type, const std::string& bytes) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, impl_->subKey.c_str(), 0, KEY_SET_VALUE | KEY_QUERY_VALUE, &key) !=
        ERROR_SUCCESS)
        throw std::runtime_error("cannot open " + impl_->subKey);
    const std::wstring wide(name.begin(), name.end());
    const LONG code = RegSetValueExW(key, wide.c_str(), 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                                     DWORD(bytes.size()));
    std::string kept(bytes.size() + 16, '\0');
    DWORD size = DWORD(kept.size());
    const LONG read = RegQueryValueExW(key, wide.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(kept.data()), &size);
    RegCloseKey(key);
    if (code != ERROR_SUCCESS || read != ERROR_SUCCESS) throw std::runtime_error("cannot set " + name);
    return kept.substr(0, size) == bytes;
}

} // namespace registrytable
