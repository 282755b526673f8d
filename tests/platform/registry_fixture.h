// What the registry table needs from the platform it runs on: a fresh, empty key under
// HKEY_LOCAL_MACHINE for each row, gone again afterwards. Each platform makes it its own way.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace registrytable {

class FreshKey {
public:
    FreshKey();
    ~FreshKey();
    FreshKey(const FreshKey&) = delete;
    FreshKey& operator=(const FreshKey&) = delete;
    // The key's path under HKEY_LOCAL_MACHINE, in code page 932.
    const std::string& subKey() const;
    // Stores a value as the system keeps it, past the A functions: text as UTF-16LE bytes.
    // False when the system keeps other bytes than those given (Wine puts a NUL behind text
    // stored without one).
    bool storeAsIs(const std::string& name, std::uint32_t type, const std::string& bytes);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace registrytable
