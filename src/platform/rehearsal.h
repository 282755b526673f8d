// The rehearsal of registers (registry.h) as both realisations of the registry keep it: each
// rehearsed set or delete notes the value as it is stored now and as the change would leave it.
// Private to the registry's realisations.
#pragma once

#include <functional>
#include <optional>
#include <string_view>

#include "platform/registry.h"

namespace platform::rehearsal {

// Whether sets and deletes are rehearsed now.
bool active();

// Notes that the value `name` would become `after` (nothing: deleted). `stored` reads it as it
// is stored now; it is asked only at the value's first change, so that `before` stays what the
// registry holds.
void note(std::u16string_view name, const std::function<std::optional<StoredValue>()>& stored,
          std::optional<StoredValue> after);

} // namespace platform::rehearsal
