// The five registry operations over an offline SOFTWARE hive.
//
// HKEY_LOCAL_MACHINE\Software is the root of the hive. A key handle names a key of one open
// hive file; all handles on the same file share its session (its lock, its mapping, its
// pending changes), so a second handle sees what the first one changed and never waits for
// it. The file is read in place through a read-only mapping; changes wait in memory until a
// handle that made some is closed, then reach the disk as a new file that replaces the old
// one whole. The operations take their names and string data in code page 932 and keep text
// as UTF-16LE, as the system does.
#include "platform/registry.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/bytes.h"
#include "platform/codepage.h"
#include "platform/hive/choice.h"
#include "platform/hive/hive.h"
#include "platform/key_access.h"
#include "platform/key_handles.h"
#include "platform/rehearsal.h"

namespace platform {
namespace {

using hive::NoCell;

constexpr std::u16string_view SoftwareKey = u"SOFTWARE";
// The longest value name, in characters.
constexpr std::size_t MaxValueName = 16383;

struct Registry {
    std::mutex mutex; // every operation holds it
    KeyHandles keys;
    // From BeginChanges to EndChanges: the sessions whose changes wait for EndChanges.
    bool gathering = false;
    std::vector<std::shared_ptr<hive::Session>> waiting;
    bool unconfirmed = false; // the last commit's, until the next one
};

Registry& registry() {
    static Registry r;
    return r;
}

bool isPredefined(Key key) { return key >= 0x80000000 && key <= 0x80000006; }

bool isStringType(std::uint32_t type) { return type == RegSz || type == RegExpandSz || type == RegMultiSz; }

std::u16string nameText(const char* name) { return name ? cp932::decode(name) : std::u16string(); }

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

Status resolve(const hive::Session& h, std::uint32_t from, const std::vector<std::u16string_view>& parts,
               std::size_t first, std::uint32_t& out) {
    std::uint32_t node = from;
    for (std::size_t i = first; i < parts.size(); ++i)
        if (const Status s = hive::subkey(h, node, parts[i], node)) return s;
    out = node;
    return status::Success;
}

// A value of an open key as it is stored, for a query.
Status queryStored(Key key, const char* valueName, std::uint32_t& type, std::string& data) {
    const OpenKey* k = registry().keys.find(key);
    if (!k) return key != 0 && isPredefined(key) ? status::FileNotFound : status::InvalidHandle;
    if (!(k->access & rights::QueryValue)) return status::AccessDenied;
    return hive::readValue(*k->session, k->node, nameText(valueName), type, data);
}

// A value of an open key as it is stored now, for a rehearsal; nothing when it is absent.
std::optional<StoredValue> storedNow(const OpenKey& k, std::u16string_view name) {
    StoredValue value;
    if (hive::readValue(*k.session, k.node, name, value.type, value.data) != status::Success) return std::nullopt;
    return value;
}

// The key ready for a change: write access granted at open.
Status forChange(Key key, OpenKey*& out) {
    out = registry().keys.find(key);
    if (!out) return key != 0 && isPredefined(key) ? status::AccessDenied : status::InvalidHandle;
    if (!(out->access & rights::SetValue)) return status::AccessDenied;
    return status::Success;
}

// Commits the session's changes, and remembers whether they reached the disk for sure.
Status commitNow(Registry& r, hive::Session& session) {
    const Status s = hive::commit(session);
    r.unconfirmed = s == status::Success && hive::lastCommitUnconfirmed(session);
    return s;
}

} // namespace

Status RegOpenKeyExA(Key key, const char* subKey, std::uint32_t /*options*/, std::uint32_t samDesired, Key* result) {
    hive::clearFailure();
    if (!result) return status::InvalidParameter;
    *result = 0;
    Registry& r = registry();
    std::lock_guard guard(r.mutex);

    const std::u16string path = nameText(subKey);
    const auto parts = splitPath(path);
    if (!parts) return status::FileNotFound;

    std::shared_ptr<hive::Session> session;
    std::uint32_t from = NoCell;
    std::size_t first = 0;
    if (key == LocalMachine) {
        // Only HKLM\Software lives in the hive.
        if (parts->empty() || !hive::sameName((*parts)[0], SoftwareKey)) return status::FileNotFound;
        const hive::ChosenHive chosen = hive::chosenHive();
        if (chosen.path.empty()) return status::FileNotFound;
        // The default hive is made when missing, the first time only: once found, its folder
        // may be moved or removed, and nothing appears at the old path.
        std::shared_ptr<const hive::HiveLocation> at;
        if (const Status s = chosen.named ? hive::locateHive(chosen.path, at) : hive::locateDefaultHive(chosen.path, at))
            return s;
        if (const Status s = hive::openSession(at, session)) return s;
        from = hive::rootKey(*session);
        first = 1;
    } else if (const OpenKey* parent = r.keys.find(key)) {
        session = parent->session;
        from = parent->node;
    } else {
        return isPredefined(key) ? status::FileNotFound : status::InvalidHandle;
    }

    // "The most allowed" settles for reading when the hive cannot be written.
    std::uint32_t access = keyRights(samDesired);
    if (access & rights::Writing) {
        if (const Status s = hive::writeAccess(*session)) {
            if (!(samDesired & rights::MaximumAllowed)) return s;
            access &= ~rights::Writing;
        }
    }

    std::uint32_t node = NoCell;
    if (const Status s = resolve(*session, from, *parts, first, node)) return s;
    *result = r.keys.add(OpenKey{std::move(session), node, access, false});
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
        converted = cp932::encode(fromUtf16le(bytes));
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
    const std::u16string text = fromUtf16le(stored);
    *exact = stored.size() % 2 == 0 && cp932::decode(cp932::encode(text)) == text;
    return status::Success;
}

Status QueryValueStored(Key key, const char* valueName, std::uint32_t* type, std::string* data) {
    hive::clearFailure();
    if (!type || !data) return status::InvalidParameter;
    std::lock_guard guard(registry().mutex);
    return queryStored(key, valueName, *type, *data);
}

Status RegSetValueExA(Key key, const char* valueName, std::uint32_t /*reserved*/, std::uint32_t type,
                      const std::uint8_t* data, std::uint32_t dataSize) {
    hive::clearFailure();
    if (!data && dataSize) return status::InvalidParameter;
    std::lock_guard guard(registry().mutex);
    OpenKey* k = nullptr;
    if (const Status s = forChange(key, k)) return s;

    const std::string_view given(reinterpret_cast<const char*>(data), data ? dataSize : 0);
    std::string stored = isStringType(type) ? utf16le(cp932::decode(given)) : std::string(given);
    const std::u16string name = nameText(valueName);
    // The length of a value name is kept in 16 bits of bytes.
    if (name.size() > MaxValueName) return status::InvalidParameter;
    if (rehearsal::active()) {
        rehearsal::note(name, [&] { return storedNow(*k, name); }, StoredValue{type, std::move(stored)});
        return status::Success;
    }
    if (const Status s = hive::setValue(*k->session, k->node, name, type, std::move(stored))) return s;
    k->changed = true;
    return status::Success;
}

Status RegDeleteValueA(Key key, const char* valueName) {
    hive::clearFailure();
    std::lock_guard guard(registry().mutex);
    OpenKey* k = nullptr;
    if (const Status s = forChange(key, k)) return s;
    const std::u16string name = nameText(valueName);
    if (rehearsal::active()) {
        StoredValue now;
        if (const Status s = hive::readValue(*k->session, k->node, name, now.type, now.data)) return s;
        rehearsal::note(name, [&] { return now; }, std::nullopt);
        return status::Success;
    }
    if (const Status s = hive::deleteValue(*k->session, k->node, name)) return s;
    k->changed = true;
    return status::Success;
}

Status RegCloseKey(Key key) {
    hive::clearFailure();
    if (key == 0) return status::InvalidHandle;
    if (isPredefined(key)) return status::Success;
    std::lock_guard guard(registry().mutex);
    Registry& r = registry();
    std::optional<OpenKey> k = r.keys.take(key);
    if (!k) return status::InvalidHandle;
    // The last handle on the file lets go of its lock and mapping with the session, unless
    // its changes wait for the others of their register.
    if (!k->changed || !hive::hasChanges(*k->session)) return status::Success;
    if (!r.gathering) return commitNow(r, *k->session);
    if (std::find(r.waiting.begin(), r.waiting.end(), k->session) == r.waiting.end()) r.waiting.push_back(k->session);
    return status::Success;
}

HiveCondition CurrentHiveCondition() {
    hive::clearFailure();
    std::lock_guard guard(registry().mutex);
    const hive::ChosenHive chosen = hive::chosenHive();
    std::shared_ptr<const hive::HiveLocation> at;
    std::shared_ptr<hive::Session> session;
    if (chosen.path.empty() || hive::locateHive(chosen.path, at) || hive::openSession(at, session)) return {};
    return hive::condition(*session);
}

bool ChangesUnconfirmed() {
    Registry& r = registry();
    std::lock_guard guard(r.mutex);
    return r.unconfirmed;
}

void BeginChanges() {
    Registry& r = registry();
    std::lock_guard guard(r.mutex);
    r.gathering = true;
}

Status EndChanges(bool write) {
    hive::clearFailure();
    Registry& r = registry();
    std::lock_guard guard(r.mutex);
    r.gathering = false;
    Status result = status::Success;
    bool unconfirmed = false;
    for (const std::shared_ptr<hive::Session>& session : r.waiting) {
        if (write && result == status::Success && hive::hasChanges(*session)) {
            result = commitNow(r, *session);
            unconfirmed = unconfirmed || r.unconfirmed;
        }
        hive::dropChanges(*session);
    }
    r.unconfirmed = result == status::Success && unconfirmed;
    r.waiting.clear();
    return result;
}

} // namespace platform
