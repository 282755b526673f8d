// The values of a session's keys as every handle on it sees them: the file's, overlaid by the
// changes that wait in memory. A key's changes begin as a copy of its value list the first
// time one of its values changes, so its values keep their order.
#include "platform/hive/session.h"

#include <utility>

#include "platform/hive/names.h"

namespace platform::hive {
namespace {

// The position of the value named `name` among a changed key's values.
Status slotOf(const MappedHive& h, const KeyChanges& changes, std::u16string_view name, std::size_t& at) {
    for (std::size_t i = 0; i < changes.values.size(); ++i) {
        const ValueSlot& slot = changes.values[i];
        ValueHead head;
        if (slot.cell != NoCell) {
            if (const Status s = h.valueHead(slot.cell, head)) return s;
        }
        const StoredName& stored = slot.cell != NoCell ? head.name : slot.name;
        if (sameName(stored.text(), name)) {
            at = i;
            return status::Success;
        }
    }
    return status::FileNotFound;
}

// The pending changes of a key, begun from its values in the file when it has none yet.
Status changesOf(Session& s, std::uint32_t key, KeyChanges*& out) {
    if (const auto it = s.changes.find(key); it != s.changes.end()) {
        out = &it->second;
        return status::Success;
    }
    KeyChanges changes;
    if (const Status st = s.hive.valueList(key, changes.stored, changes.storedList)) return st;
    for (std::uint32_t cell : changes.stored) {
        ValueHead head;
        if (const Status st = s.hive.valueHead(cell, head)) return st;
        changes.values.push_back({cell, {}, 0, {}});
    }
    out = &s.changes.emplace(key, std::move(changes)).first->second;
    return status::Success;
}

} // namespace

Status readValue(const Session& s, std::uint32_t key, std::u16string_view name, std::uint32_t& type,
                 std::string& data) {
    std::uint32_t cell = NoCell;
    if (const auto changed = s.changes.find(key); changed != s.changes.end()) {
        std::size_t at = 0;
        if (const Status st = slotOf(s.hive, changed->second, name, at)) return st;
        const ValueSlot& slot = changed->second.values[at];
        if (slot.cell == NoCell) {
            type = slot.type;
            data = slot.data;
            return status::Success;
        }
        cell = slot.cell;
    } else if (const Status st = s.hive.findValue(key, name, cell)) {
        return st;
    }
    ValueHead head;
    if (const Status st = s.hive.valueHead(cell, head)) return st;
    type = head.type;
    return s.hive.valueData(cell, data);
}

Status setValue(Session& s, std::uint32_t key, std::u16string_view name, std::uint32_t type, std::string data) {
    if (data.size() > MaxValueData) return status::NotEnoughMemory;
    KeyChanges* changes = nullptr;
    if (const Status st = changesOf(s, key, changes)) return st;
    ValueSlot value;
    value.type = type;
    value.data = std::move(data);
    std::size_t at = 0;
    const Status found = slotOf(s.hive, *changes, name, at);
    if (found == status::FileNotFound) {
        value.name = StoredName::of(name);
        changes->values.push_back(std::move(value));
        return status::Success;
    }
    if (found != status::Success) return found;
    ValueSlot& old = changes->values[at];
    if (old.cell != NoCell) {
        ValueHead head;
        if (const Status st = s.hive.valueHead(old.cell, head)) return st;
        value.name = std::move(head.name);
    } else {
        value.name = std::move(old.name);
    }
    old = std::move(value);
    return status::Success;
}

Status deleteValue(Session& s, std::uint32_t key, std::u16string_view name) {
    // An absent value changes nothing: not even a copy of the key's list is begun.
    if (!s.changes.count(key)) {
        std::uint32_t cell = NoCell;
        if (const Status st = s.hive.findValue(key, name, cell)) return st;
    }
    KeyChanges* changes = nullptr;
    if (const Status st = changesOf(s, key, changes)) return st;
    std::size_t at = 0;
    if (const Status st = slotOf(s.hive, *changes, name, at)) return st;
    changes->values.erase(changes->values.begin() + static_cast<std::ptrdiff_t>(at));
    return status::Success;
}

} // namespace platform::hive
