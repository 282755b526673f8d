// The key handles that the hive registry hands out: each names a key of one open session,
// with the rights it was opened with. Values step by four, as the system's own handles do.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <utility>

#include "platform/hive/hive.h"
#include "platform/registry.h"

namespace platform {

struct OpenKey {
    std::shared_ptr<hive::Session> session;
    std::uint32_t node = hive::NoCell; // the key's cell
    std::uint32_t access = 0;
    bool changed = false; // this handle changed something
};

class KeyHandles {
public:
    Key add(OpenKey key) {
        const Key handle = next_;
        next_ += 4;
        keys_.emplace(handle, std::move(key));
        return handle;
    }
    OpenKey* find(Key handle) {
        const auto it = keys_.find(handle);
        return it == keys_.end() ? nullptr : &it->second;
    }
    // The key, no longer open.
    std::optional<OpenKey> take(Key handle) {
        const auto it = keys_.find(handle);
        if (it == keys_.end()) return std::nullopt;
        OpenKey key = std::move(it->second);
        keys_.erase(it);
        return key;
    }

private:
    std::map<Key, OpenKey> keys_;
    Key next_ = 0x100;
};

} // namespace platform
