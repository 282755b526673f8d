// The values of a session's keys as every handle on it sees them: the file's, overlaid by the
// changes that wait in memory. A key's changes begin as a copy of its value list the first
// time one of its values changes, so its values keep their order.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/hive_session.h"

namespace platform::hive {

// The type and stored bytes of the value `name` of the key `key`: FileNotFound when absent.
Status readValue(const Session& s, std::uint32_t key, std::u16string_view name, std::uint32_t& type,
                 std::string& data);

// Sets the value `name` of `key` (the stored bytes `data`). A value that exists keeps the name
// it has; only its type and data change.
Status setValue(Session& s, std::uint32_t key, std::u16string_view name, std::uint32_t type, std::string data);

// Deletes the value `name` of `key`: FileNotFound, changing nothing, when it is absent.
Status deleteValue(Session& s, std::uint32_t key, std::u16string_view name);

} // namespace platform::hive
