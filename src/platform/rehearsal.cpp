#include "platform/rehearsal.h"

#include <algorithm>
#include <utility>

namespace platform {
namespace {

struct Rehearsal {
    bool active = false;
    std::vector<ValueChange> changes;
};

Rehearsal& current() {
    static Rehearsal r;
    return r;
}

} // namespace

namespace rehearsal {

bool active() { return current().active; }

void note(std::u16string_view name, const std::function<std::optional<StoredValue>()>& stored,
          std::optional<StoredValue> after) {
    std::vector<ValueChange>& changes = current().changes;
    auto it = std::find_if(changes.begin(), changes.end(), [&](const ValueChange& c) { return c.name == name; });
    if (it == changes.end()) it = changes.insert(changes.end(), ValueChange{std::u16string(name), stored(), {}});
    it->after = std::move(after);
}

} // namespace rehearsal

void BeginRehearsal() { current() = Rehearsal{true, {}}; }

std::vector<ValueChange> EndRehearsal() {
    std::vector<ValueChange> changes = std::move(current().changes);
    current() = Rehearsal{};
    std::erase_if(changes, [](const ValueChange& c) { return c.before == c.after; });
    return changes;
}

} // namespace platform
