// The five registry operations over an offline SOFTWARE hive.
//
// HKEY_LOCAL_MACHINE\Software is the root of the hive. A key handle names a key of one open
// hive file; all handles on the same file share it (its lock, its mapping, its pending
// changes), so a second handle sees what the first one changed and never waits for it. The
// file is read in place through a read-only mapping; changes wait in memory until a handle
// that made some is closed, then reach the disk as a new file that replaces the old one whole.
#include "platform/registry.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

#include "platform/codepage.h"
#include "platform/hive_file.h"
#include "platform/hive_format.h"
#include "platform/hive_names.h"
#include "platform/hive_reader.h"
#include "platform/hive_writer.h"

namespace platform {
namespace {

using hive::Fd;
using hive::NoCell;

// Access rights, as far as the hive can tell them apart.
constexpr std::uint32_t KeyQueryValue = 0x0001;
constexpr std::uint32_t KeySetValue = 0x0002;
constexpr std::uint32_t KeyReadRights = 0x20019;
constexpr std::uint32_t KeyWriteRights = 0x20006;
constexpr std::uint32_t KeyAllRights = 0xF003F;
// The rights that change the key: set value, create subkey, create link, delete, write DAC and owner.
constexpr std::uint32_t WritingRights = 0x0002 | 0x0004 | 0x0020 | 0x00010000 | 0x00040000 | 0x00080000;
constexpr std::uint32_t GenericRead = 0x80000000;
constexpr std::uint32_t GenericWrite = 0x40000000;
constexpr std::uint32_t GenericAll = 0x10000000;
constexpr std::uint32_t MaximumAllowed = 0x02000000;

constexpr std::u16string_view SoftwareKey = u"SOFTWARE";
// The longest value name, in characters.
constexpr std::size_t MaxValueName = 16383;

// One open hive file and everything the handles on it share.
struct Session {
    std::string path;    // the file itself, every link on the way followed
    Fd lock;             // the hive file, locked
    struct stat file {}; // what `lock` is
    hive::MappedHive hive;
    hive::HiveChanges changes; // not yet on disk
};

struct OpenKey {
    std::shared_ptr<Session> session;
    std::uint32_t node = NoCell; // the key's cell
    std::uint32_t access = 0;
    bool changed = false; // this handle changed something
};

struct Registry {
    std::mutex mutex;
    std::map<Key, OpenKey> keys;
    std::vector<std::weak_ptr<Session>> sessions;
    Key next = 0x100;
};

Registry& registry() {
    static Registry r;
    return r;
}

bool isPredefined(Key key) { return key >= 0x80000000 && key <= 0x80000006; }

bool isStringType(std::uint32_t type) { return type == RegSz || type == RegExpandSz || type == RegMultiSz; }

std::u16string nameText(const char* name) { return name ? cp932::decode(name) : std::u16string(); }

// --- the hive file -------------------------------------------------------------------------

// The session of the hive file that `named` leads to, shared with the handles already open
// on it. The name is followed through its links once, here: the session reads, locks and
// replaces that file, whatever happens to the links while it is open.
Status sessionFor(const std::string& named, std::shared_ptr<Session>& out) {
    Registry& r = registry();
    std::string path;
    if (const Status s = hive::resolveHive(named, path)) return s;
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return hive::statusOfErrno(errno);
    std::erase_if(r.sessions, [](const auto& w) { return w.expired(); });
    for (const auto& w : r.sessions) {
        auto s = w.lock();
        if (s->file.st_dev == st.st_dev && s->file.st_ino == st.st_ino) {
            out = std::move(s);
            return status::Success;
        }
    }

    auto s = std::make_shared<Session>();
    s->path = path;
    if (const Status locked = hive::lockHive(path, s->lock, s->file)) return locked;
    if (const Status mapped = s->hive.map(s->lock.get(), static_cast<std::uint64_t>(s->file.st_size))) return mapped;
    r.sessions.push_back(s);
    out = std::move(s);
    return status::Success;
}

// Whether the hive may be changed and written back: its last write complete, and the file
// replaceable by this user.
Status writeAccess(const Session& s) {
    if (s.hive.base().dirty()) {
        hive::noteFailure(FailureReason::PendingLogChanges, s.path);
        return status::AccessDenied;
    }
    return hive::checkReplaceable(s.path, s.file);
}

// Lets go of a file that a commit replaced. Its last reference takes its blocks and cached
// pages with it, which costs the file system about as much as reading it; nobody needs to
// wait for that, so it is done beside the caller (or here when no thread can be had).
void releaseReplaced(Fd lock, hive::MappedHive mapped) {
    try {
        std::thread([lock = std::move(lock), mapped = std::move(mapped)]() mutable {
            mapped = hive::MappedHive();
            lock = Fd();
        }).detach();
    } catch (const std::system_error&) {
    }
}

// Writes the session's changes to disk: a changed copy of the file replaces it.
Status commit(Session& s) {
    // Worked out in memory first: a commit that cannot fit the hive's size limit writes nothing.
    hive::PreparedCommit prepared;
    if (const Status st = hive::prepareCommit(s.hive, s.changes, hive::filetimeNow(), prepared)) {
        if (st == status::DiskFull) hive::noteFailure(FailureReason::SizeLimit, s.path);
        return st;
    }
    hive::PendingFile pending;
    if (const Status st = hive::beginReplace(s.path, pending)) return st;
    if (const Status st = hive::writeCommit(prepared, s.lock.get(), pending.fd.get())) {
        hive::abandonReplace(pending);
        return st;
    }
    Fd lockedNew;
    const Status st = hive::finishReplace(s.path, s.file, pending, lockedNew);
    if (!lockedNew) return st;
    // The new file is in place (even when its folder could not be flushed): hold its lock. It
    // keeps every key cell where it was, so the open handles stay valid.
    Fd replaced = std::exchange(s.lock, std::move(lockedNew));
    fstat(s.lock.get(), &s.file);
    s.changes.clear();
    hive::MappedHive remapped;
    const Status mapped = remapped.map(s.lock.get(), static_cast<std::uint64_t>(s.file.st_size));
    if (mapped == status::Success) std::swap(s.hive, remapped);
    releaseReplaced(std::move(replaced), std::move(remapped));
    return mapped ? mapped : st;
}

// --- keys and values -----------------------------------------------------------------------

// The components of a key path; nothing when one is empty (a trailing '\' is allowed).
std::optional<std::vector<std::u16string_view>> splitPath(std::u16string_view path) {
    std::vector<std::u16string_view> parts;
    if (!path.empty() && path.back() == u'\\') path.remove_suffix(1);
    if (path.empty()) return parts;
    std::size_t at = 0;
    for (;;) {
        const std::size_t slash = path.find(u'\\', at);
        const auto part = path.substr(at, slash == std::u16string_view::npos ? std::u16string_view::npos : slash - at);
        if (part.empty()) return std::nullopt;
        parts.push_back(part);
        if (slash == std::u16string_view::npos) return parts;
        at = slash + 1;
    }
}

Status resolve(const hive::MappedHive& h, std::uint32_t from, const std::vector<std::u16string_view>& parts,
               std::size_t first, std::uint32_t& out) {
    std::uint32_t node = from;
    for (std::size_t i = first; i < parts.size(); ++i)
        if (const Status s = h.subkey(node, parts[i], node)) return s;
    out = node;
    return status::Success;
}

// The position of the value named `name` among a changed key's values.
Status slotOf(const hive::MappedHive& h, const hive::KeyChanges& changes, std::u16string_view name, std::size_t& at) {
    for (std::size_t i = 0; i < changes.values.size(); ++i) {
        const hive::ValueSlot& slot = changes.values[i];
        hive::ValueHead head;
        if (slot.cell != NoCell) {
            if (const Status s = h.valueHead(slot.cell, head)) return s;
        }
        const hive::StoredName& stored = slot.cell != NoCell ? head.name : slot.name;
        if (hive::sameName(stored.text(), name)) {
            at = i;
            return status::Success;
        }
    }
    return status::FileNotFound;
}

// A value as every handle on the session sees it: with the changes not yet on disk.
Status readValue(const Session& s, std::uint32_t key, std::u16string_view name, std::uint32_t& type,
                 std::string& data) {
    std::uint32_t cell = NoCell;
    if (const auto changed = s.changes.find(key); changed != s.changes.end()) {
        std::size_t at = 0;
        if (const Status st = slotOf(s.hive, changed->second, name, at)) return st;
        const hive::ValueSlot& slot = changed->second.values[at];
        if (slot.cell == NoCell) {
            type = slot.type;
            data = slot.data;
            return status::Success;
        }
        cell = slot.cell;
    } else if (const Status st = s.hive.findValue(key, name, cell)) {
        return st;
    }
    hive::ValueHead head;
    if (const Status st = s.hive.valueHead(cell, head)) return st;
    type = head.type;
    return s.hive.valueData(cell, data);
}

// The pending changes of a key, begun from its values in the file when it has none yet.
Status changesOf(Session& s, std::uint32_t key, hive::KeyChanges*& out) {
    if (const auto it = s.changes.find(key); it != s.changes.end()) {
        out = &it->second;
        return status::Success;
    }
    hive::KeyChanges changes;
    if (const Status st = s.hive.valueList(key, changes.stored, changes.storedList)) return st;
    for (std::uint32_t cell : changes.stored) {
        hive::ValueHead head;
        if (const Status st = s.hive.valueHead(cell, head)) return st;
        changes.values.push_back({cell, {}, 0, {}});
    }
    out = &s.changes.emplace(key, std::move(changes)).first->second;
    return status::Success;
}

// UTF-16LE of stored string data (an odd last byte is not part of any character).
std::u16string storedText(const char* data, std::size_t size) {
    std::u16string text(size / 2, u'\0');
    for (std::size_t i = 0; i < text.size(); ++i)
        text[i] = static_cast<char16_t>(static_cast<unsigned char>(data[2 * i]) |
                                        static_cast<unsigned char>(data[2 * i + 1]) << 8);
    return text;
}

std::string utf16le(std::u16string_view text) {
    std::string bytes;
    bytes.reserve(text.size() * 2);
    for (char16_t c : text) {
        bytes.push_back(static_cast<char>(c & 0xFF));
        bytes.push_back(static_cast<char>(c >> 8));
    }
    return bytes;
}

OpenKey* find(Key key) {
    auto& keys = registry().keys;
    const auto it = keys.find(key);
    return it == keys.end() ? nullptr : &it->second;
}

// A value of an open key as it is stored, for a query.
Status queryStored(Key key, const char* valueName, std::uint32_t& type, std::string& data) {
    const OpenKey* k = find(key);
    if (!k) return key != 0 && isPredefined(key) ? status::FileNotFound : status::InvalidHandle;
    if (!(k->access & KeyQueryValue)) return status::AccessDenied;
    return readValue(*k->session, k->node, nameText(valueName), type, data);
}

// The key ready for a change: write access granted at open.
Status forChange(Key key, OpenKey*& out) {
    out = find(key);
    if (!out) return key != 0 && isPredefined(key) ? status::AccessDenied : status::InvalidHandle;
    if (!(out->access & KeySetValue)) return status::AccessDenied;
    return status::Success;
}

} // namespace

Status RegOpenKeyExA(Key key, const char* subKey, std::uint32_t /*options*/, std::uint32_t samDesired, Key* result) {
    hive::clearFailure();
    if (!result) return status::InvalidParameter;
    *result = 0;
    std::lock_guard guard(registry().mutex);

    const std::u16string path = nameText(subKey);
    const auto parts = splitPath(path);
    if (!parts) return status::FileNotFound;

    std::shared_ptr<Session> session;
    std::uint32_t from = NoCell;
    std::size_t first = 0;
    if (key == LocalMachine) {
        // Only HKLM\Software lives in the hive.
        if (parts->empty() || !hive::sameName((*parts)[0], SoftwareKey)) return status::FileNotFound;
        const std::string file = hive::hivePath();
        if (file.empty()) return status::FileNotFound;
        if (!hive::hiveNamed())
            if (const Status s = hive::ensureDefaultHive(file)) return s;
        if (const Status s = sessionFor(file, session)) return s;
        from = session->hive.root();
        first = 1;
    } else if (const OpenKey* parent = find(key)) {
        session = parent->session;
        from = parent->node;
    } else {
        return isPredefined(key) ? status::FileNotFound : status::InvalidHandle;
    }

    // Generic rights stand for the key rights they map to; "the most allowed" settles for
    // reading when the hive cannot be written.
    std::uint32_t access = samDesired;
    if (access & GenericRead) access |= KeyReadRights;
    if (access & GenericWrite) access |= KeyWriteRights;
    if (access & (GenericAll | MaximumAllowed)) access |= KeyAllRights;
    if (access & WritingRights) {
        if (const Status s = writeAccess(*session)) {
            if (!(samDesired & MaximumAllowed)) return s;
            access &= ~WritingRights;
        }
    }

    std::uint32_t node = NoCell;
    if (const Status s = resolve(session->hive, from, *parts, first, node)) return s;

    Registry& r = registry();
    const Key handle = r.next;
    r.next += 4;
    r.keys.emplace(handle, OpenKey{std::move(session), node, access, false});
    *result = handle;
    return status::Success;
}

Status RegQueryValueExA(Key key, const char* valueName, std::uint32_t* reserved, std::uint32_t* type,
                        std::uint8_t* data, std::uint32_t* dataSize) {
    hive::clearFailure();
    if (reserved) return status::InvalidParameter;
    if (data && !dataSize) return status::InvalidParameter;
    std::lock_guard guard(registry().mutex);
    std::uint32_t storedType = 0;
    std::string stored;
    if (const Status s = queryStored(key, valueName, storedType, stored)) return s;

    std::string_view bytes = stored;
    std::string converted;
    if (isStringType(storedType) && !bytes.empty()) {
        converted = cp932::encode(storedText(bytes.data(), bytes.size()));
        bytes = converted;
    }
    if (type) *type = storedType;
    if (!dataSize) return status::Success;
    if (bytes.size() > 0xFFFFFFFFu) return status::NotEnoughMemory;
    const auto needed = static_cast<std::uint32_t>(bytes.size());
    if (data) {
        if (*dataSize < needed) {
            *dataSize = needed;
            return status::MoreData;
        }
        if (needed) std::memcpy(data, bytes.data(), needed);
        // Like Windows, a string stored without its NUL gets one behind it where the buffer
        // has room; the size does not count it.
        if (isStringType(storedType) && needed && bytes.back() != '\0' && needed < *dataSize) data[needed] = 0;
    }
    *dataSize = needed;
    return status::Success;
}

Status QueryValueExactA(Key key, const char* valueName, bool* exact) {
    hive::clearFailure();
    if (!exact) return status::InvalidParameter;
    *exact = false;
    std::lock_guard guard(registry().mutex);
    std::uint32_t storedType = 0;
    std::string stored;
    if (const Status s = queryStored(key, valueName, storedType, stored)) return s;
    if (!isStringType(storedType)) {
        *exact = true;
        return status::Success;
    }
    // The A form is the code page 932 form of the stored UTF-16; a lost character comes back
    // as something else, and an odd last byte does not come back at all.
    const std::u16string text = storedText(stored.data(), stored.size());
    *exact = stored.size() % 2 == 0 && cp932::decode(cp932::encode(text)) == text;
    return status::Success;
}

Status RegSetValueExA(Key key, const char* valueName, std::uint32_t /*reserved*/, std::uint32_t type,
                      const std::uint8_t* data, std::uint32_t dataSize) {
    hive::clearFailure();
    if (!data && dataSize) return status::InvalidParameter;
    std::lock_guard guard(registry().mutex);
    OpenKey* k = nullptr;
    if (const Status s = forChange(key, k)) return s;

    const std::string_view given(reinterpret_cast<const char*>(data), data ? dataSize : 0);
    hive::ValueSlot value;
    value.type = type;
    value.data = isStringType(type) ? utf16le(cp932::decode(given)) : std::string(given);
    if (value.data.size() > hive::MaxValueData) return status::NotEnoughMemory;

    Session& session = *k->session;
    const std::u16string name = nameText(valueName);
    // The length of a value name is kept in 16 bits of bytes.
    if (name.size() > MaxValueName) return status::InvalidParameter;
    hive::KeyChanges* changes = nullptr;
    if (const Status s = changesOf(session, k->node, changes)) return s;
    std::size_t at = 0;
    const Status found = slotOf(session.hive, *changes, name, at);
    if (found == status::Success) {
        // The value keeps the name it has; only its type and data change.
        hive::ValueSlot& old = changes->values[at];
        if (old.cell != NoCell) {
            hive::ValueHead head;
            if (const Status s = session.hive.valueHead(old.cell, head)) return s;
            value.name = std::move(head.name);
        } else {
            value.name = std::move(old.name);
        }
        old = std::move(value);
    } else if (found == status::FileNotFound) {
        value.name = hive::StoredName::of(name);
        changes->values.push_back(std::move(value));
    } else {
        return found;
    }
    k->changed = true;
    return status::Success;
}

Status RegDeleteValueA(Key key, const char* valueName) {
    hive::clearFailure();
    std::lock_guard guard(registry().mutex);
    OpenKey* k = find(key);
    if (!k) return key != 0 && isPredefined(key) ? status::AccessDenied : status::InvalidHandle;
    if (!(k->access & KeySetValue)) return status::AccessDenied;

    // An absent value changes nothing.
    Session& session = *k->session;
    const std::u16string name = nameText(valueName);
    if (!session.changes.count(k->node)) {
        std::uint32_t cell = NoCell;
        if (const Status s = session.hive.findValue(k->node, name, cell)) return s;
    }
    hive::KeyChanges* changes = nullptr;
    if (const Status s = changesOf(session, k->node, changes)) return s;
    std::size_t at = 0;
    if (const Status s = slotOf(session.hive, *changes, name, at)) return s;
    changes->values.erase(changes->values.begin() + static_cast<std::ptrdiff_t>(at));
    k->changed = true;
    return status::Success;
}

Status RegCloseKey(Key key) {
    hive::clearFailure();
    if (key == 0) return status::InvalidHandle;
    if (isPredefined(key)) return status::Success;
    std::lock_guard guard(registry().mutex);
    auto& keys = registry().keys;
    const auto it = keys.find(key);
    if (it == keys.end()) return status::InvalidHandle;
    OpenKey k = std::move(it->second);
    keys.erase(it);
    // The last handle on the file lets go of its lock and mapping with the session.
    if (k.changed && !k.session->changes.empty()) return commit(*k.session);
    return status::Success;
}

} // namespace platform
