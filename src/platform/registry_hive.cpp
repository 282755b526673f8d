// The five registry operations over an offline SOFTWARE hive, read and written with hivex.
//
// HKEY_LOCAL_MACHINE\Software is the root of the hive. A key handle names a key of one open
// hive file; all handles on the same file share it (its lock, its hivex handle, its pending
// changes), so a second handle sees what the first one changed and never waits for it. The
// file is read through hivex's read-only mapping until the first change, then opened for
// writing; the changes reach the disk when a handle that made some is closed, as a new file
// that replaces the old one whole.
#include "platform/registry.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <hivex.h>
#include <map>
#include <optional>
#include <memory>
#include <mutex>
#include <string_view>
#include <unistd.h>
#include <vector>

#include "platform/codepage.h"
#include "platform/hive_file.h"
#include "platform/hive_format.h"
#include "platform/hive_names.h"

namespace platform {
namespace {

using hive::Fd;

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

struct HiveCloser {
    void operator()(hive_h* h) const { hivex_close(h); }
};
using HiveHandle = std::unique_ptr<hive_h, HiveCloser>;

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
template <class T>
using Owned = std::unique_ptr<T, FreeDeleter>;

// One open hive file and everything the handles on it share.
struct Session {
    std::string path;    // as it was named when opened
    Fd lock;             // the hive file, locked
    struct stat file {}; // what `lock` is
    HiveHandle hive;
    bool writable = false; // opened by hivex for writing
    bool dirty = false;    // changes not yet on disk
};

struct OpenKey {
    std::shared_ptr<Session> session;
    hive_node_h node = 0;
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

// A failure reported by hivex while reading: absent things are not failures.
Status corrupt() { return errno == ENOMEM ? status::NotEnoughMemory : status::RegistryCorrupt; }

// --- the hive file -------------------------------------------------------------------------

// Why a file could not be opened as a hive.
Status openFailure(int err) {
    switch (err) {
    case ENOENT: case EACCES: case EPERM: case ENOMEM: return hive::statusOfErrno(err);
    default: return status::BadDatabase; // not a hive, or one hivex cannot make sense of
    }
}

// The base block of the locked file as it is on disk now.
std::optional<hive::BaseBlock> baseBlockOf(int fd) {
    std::string block(hive::BaseBlockSize, '\0');
    std::size_t done = 0;
    while (done < block.size()) {
        const ssize_t n = pread(fd, block.data() + done, block.size() - done, static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return std::nullopt;
        done += static_cast<std::size_t>(n);
    }
    return hive::readBaseBlock(block);
}

// The session of the file at `path`, shared with the handles already open on it.
Status sessionFor(const std::string& path, std::shared_ptr<Session>& out) {
    Registry& r = registry();
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
    const auto base = baseBlockOf(s->lock.get());
    if (!base || !base->checksumValid() || !base->wholeIn(static_cast<std::uint64_t>(s->file.st_size)))
        return status::BadDatabase;
    errno = 0;
    s->hive.reset(hivex_open(hive::pathOfFd(s->lock.get(), path).c_str(), 0));
    if (!s->hive) return openFailure(errno);
    r.sessions.push_back(s);
    out = std::move(s);
    return status::Success;
}

// Whether the hive may be changed and written back: the file and its folder writable by us,
// the file ours to recreate with its owner, and its last write complete.
Status writeAccess(const Session& s) {
    const auto slash = s.path.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : s.path.substr(0, slash);
    if (faccessat(AT_FDCWD, s.path.c_str(), W_OK, AT_EACCESS) != 0) return hive::statusOfErrno(errno);
    if (faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) != 0) return hive::statusOfErrno(errno);
    const uid_t me = geteuid();
    if (me != 0 && s.file.st_uid != me) return status::AccessDenied;
    const auto base = baseBlockOf(s.lock.get());
    if (!base) return status::BadDatabase;
    if (base->dirty()) return status::AccessDenied;
    return status::Success;
}

// From here on the session's hive is open for writing (hivex reads the whole file for that).
Status makeWritable(Session& s) {
    if (s.writable) return status::Success;
    errno = 0;
    HiveHandle h(hivex_open(hive::pathOfFd(s.lock.get(), s.path).c_str(), HIVEX_OPEN_WRITE));
    if (!h) return openFailure(errno);
    s.hive = std::move(h);
    s.writable = true;
    return status::Success;
}

// Writes the session's changes to disk, replacing the file whole.
Status commit(Session& s) {
    Fd lockedNew;
    const Status st = hive::replaceFile(
        s.path, s.file, [&](const char* temp) { return hivex_commit(s.hive.get(), temp, 0); }, lockedNew);
    if (lockedNew) {
        // The new file is in place (even when its folder could not be flushed): hold its lock.
        s.lock = std::move(lockedNew);
        fstat(s.lock.get(), &s.file);
        s.dirty = false;
    }
    return st;
}

// --- keys and values -----------------------------------------------------------------------

Status findChild(hive_h* h, hive_node_h parent, std::u16string_view name, hive_node_h& out) {
    errno = 0;
    Owned<hive_node_h> children(hivex_node_children(h, parent));
    if (!children) return corrupt();
    for (const hive_node_h* c = children.get(); *c; ++c) {
        Owned<char> childName(hivex_node_name(h, *c));
        if (!childName) return corrupt();
        if (hive::sameName(hive::toUtf16(childName.get()), name)) {
            out = *c;
            return status::Success;
        }
    }
    return status::FileNotFound;
}

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

Status resolve(hive_h* h, hive_node_h from, const std::vector<std::u16string_view>& parts, std::size_t first,
               hive_node_h& out) {
    hive_node_h node = from;
    for (std::size_t i = first; i < parts.size(); ++i)
        if (const Status s = findChild(h, node, parts[i], node)) return s;
    out = node;
    return status::Success;
}

// hivex reports a value's type as a hive_type, an enumeration that does not name every type a
// hive may hold; it is received into a plain number of the same size instead.
static_assert(sizeof(hive_type) == sizeof(std::uint32_t));
hive_type* asHiveType(std::uint32_t* type) { return reinterpret_cast<hive_type*>(type); }

// A value of a key as hivex hands it back, for passing it on unchanged.
struct StoredValue {
    Owned<char> name;
    std::uint32_t type = 0; // any number: the hive keeps types that hive_type does not name
    std::size_t size = 0;
    Owned<char> data;
};

Status findValue(hive_h* h, hive_node_h node, std::u16string_view name, hive_value_h& out) {
    errno = 0;
    Owned<hive_value_h> values(hivex_node_values(h, node));
    if (!values) return corrupt();
    for (const hive_value_h* v = values.get(); *v; ++v) {
        Owned<char> valueName(hivex_value_key(h, *v));
        if (!valueName) return corrupt();
        if (hive::sameName(hive::toUtf16(valueName.get()), name)) {
            out = *v;
            return status::Success;
        }
    }
    return status::FileNotFound;
}

Status readValue(hive_h* h, hive_value_h v, StoredValue& out) {
    errno = 0;
    out.data.reset(hivex_value_value(h, v, asHiveType(&out.type), &out.size));
    if (!out.data && out.size != 0) return corrupt();
    if (!out.data && errno != 0) return corrupt();
    return status::Success;
}

// All values of a key, in their order, and the position of the one named `name` (or npos).
Status readAllValues(hive_h* h, hive_node_h node, std::u16string_view name, std::vector<StoredValue>& out,
                     std::size_t& match) {
    match = std::u16string_view::npos;
    errno = 0;
    Owned<hive_value_h> values(hivex_node_values(h, node));
    if (!values) return corrupt();
    for (const hive_value_h* v = values.get(); *v; ++v) {
        StoredValue value;
        value.name.reset(hivex_value_key(h, *v));
        if (!value.name) return corrupt();
        if (const Status s = readValue(h, *v, value)) return s;
        if (match == std::u16string_view::npos && hive::sameName(hive::toUtf16(value.name.get()), name))
            match = out.size();
        out.push_back(std::move(value));
    }
    return status::Success;
}

Status writeAllValues(hive_h* h, hive_node_h node, const std::vector<StoredValue>& values) {
    std::vector<hive_set_value> set;
    set.reserve(values.size());
    static char nothing = 0;
    for (const StoredValue& v : values) {
        hive_set_value one{v.name.get(), hive_t_REG_NONE, v.size, v.data ? v.data.get() : &nothing};
        std::memcpy(&one.t, &v.type, sizeof one.t);
        set.push_back(one);
    }
    errno = 0;
    if (hivex_node_set_values(h, node, set.size(), set.data(), 0) != 0)
        return errno == ENOMEM ? status::NotEnoughMemory : status::RegistryCorrupt;
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

// The key ready for a change: write access granted at open, the hive open for writing.
Status forChange(Key key, OpenKey*& out) {
    out = find(key);
    if (!out) return key != 0 && isPredefined(key) ? status::AccessDenied : status::InvalidHandle;
    if (!(out->access & KeySetValue)) return status::AccessDenied;
    return makeWritable(*out->session);
}

Status replaceValues(OpenKey& k, const std::vector<StoredValue>& values) {
    const Status s = writeAllValues(k.session->hive.get(), k.node, values);
    if (s == status::Success) {
        k.session->dirty = true;
        k.changed = true;
    }
    return s;
}

} // namespace

Status RegOpenKeyExA(Key key, const char* subKey, std::uint32_t /*options*/, std::uint32_t samDesired, Key* result) {
    if (!result) return status::InvalidParameter;
    *result = 0;
    std::lock_guard guard(registry().mutex);

    const std::u16string path = nameText(subKey);
    const auto parts = splitPath(path);
    if (!parts) return status::FileNotFound;

    std::shared_ptr<Session> session;
    hive_node_h from = 0;
    std::size_t first = 0;
    if (key == LocalMachine) {
        // Only HKLM\Software lives in the hive.
        if (parts->empty() || !hive::sameName((*parts)[0], SoftwareKey)) return status::FileNotFound;
        const std::string file = hive::hivePath();
        if (file.empty()) return status::FileNotFound;
        if (!std::getenv(hive::HiveVariable) || !*std::getenv(hive::HiveVariable))
            if (const Status s = hive::ensureDefaultHive(file)) return s;
        if (const Status s = sessionFor(file, session)) return s;
        from = hivex_root(session->hive.get());
        if (from == 0) return status::BadDatabase;
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

    hive_node_h node = 0;
    if (const Status s = resolve(session->hive.get(), from, *parts, first, node)) return s;

    Registry& r = registry();
    const Key handle = r.next;
    r.next += 4;
    r.keys.emplace(handle, OpenKey{std::move(session), node, access, false});
    *result = handle;
    return status::Success;
}

Status RegQueryValueExA(Key key, const char* valueName, std::uint32_t* reserved, std::uint32_t* type,
                        std::uint8_t* data, std::uint32_t* dataSize) {
    if (reserved) return status::InvalidParameter;
    if (data && !dataSize) return status::InvalidParameter;
    std::lock_guard guard(registry().mutex);
    const OpenKey* k = find(key);
    if (!k) return key != 0 && isPredefined(key) ? status::FileNotFound : status::InvalidHandle;
    if (!(k->access & KeyQueryValue)) return status::AccessDenied;

    hive_h* h = k->session->hive.get();
    hive_value_h v = 0;
    if (const Status s = findValue(h, k->node, nameText(valueName), v)) return s;
    StoredValue value;
    if (const Status s = readValue(h, v, value)) return s;

    std::string converted;
    std::string_view bytes(value.data ? value.data.get() : "", value.size);
    if (isStringType(value.type) && !bytes.empty()) {
        converted = cp932::encode(storedText(bytes.data(), bytes.size()));
        bytes = converted;
    }
    if (type) *type = value.type;
    if (!dataSize) return status::Success;
    if (bytes.size() > 0xFFFFFFFFu) return status::NotEnoughMemory;
    const auto needed = static_cast<std::uint32_t>(bytes.size());
    if (data) {
        if (*dataSize < needed) {
            *dataSize = needed;
            return status::MoreData;
        }
        if (needed) std::memcpy(data, bytes.data(), needed);
    }
    *dataSize = needed;
    return status::Success;
}

Status RegSetValueExA(Key key, const char* valueName, std::uint32_t /*reserved*/, std::uint32_t type,
                      const std::uint8_t* data, std::uint32_t dataSize) {
    if (!data && dataSize) return status::InvalidParameter;
    std::lock_guard guard(registry().mutex);
    OpenKey* k = nullptr;
    if (const Status s = forChange(key, k)) return s;

    const std::string_view given(reinterpret_cast<const char*>(data), data ? dataSize : 0);
    StoredValue value;
    const std::string stored = isStringType(type) ? utf16le(cp932::decode(given)) : std::string(given);
    value.type = type;
    value.size = stored.size();
    if (!stored.empty()) {
        value.data.reset(static_cast<char*>(std::malloc(stored.size())));
        if (!value.data) return status::NotEnoughMemory;
        std::memcpy(value.data.get(), stored.data(), stored.size());
    }

    const std::u16string name = nameText(valueName);
    std::vector<StoredValue> values;
    std::size_t match = 0;
    if (const Status s = readAllValues(k->session->hive.get(), k->node, name, values, match)) return s;
    if (match != std::u16string_view::npos) {
        // The value keeps the name it has; only its type and data change.
        value.name = std::move(values[match].name);
        values[match] = std::move(value);
    } else {
        value.name.reset(strdup(hive::toUtf8(name).c_str()));
        if (!value.name) return status::NotEnoughMemory;
        values.push_back(std::move(value));
    }
    return replaceValues(*k, values);
}

Status RegDeleteValueA(Key key, const char* valueName) {
    std::lock_guard guard(registry().mutex);
    OpenKey* k = find(key);
    if (!k) return key != 0 && isPredefined(key) ? status::AccessDenied : status::InvalidHandle;
    if (!(k->access & KeySetValue)) return status::AccessDenied;

    // An absent value needs no hive opened for writing.
    const std::u16string name = nameText(valueName);
    hive_value_h v = 0;
    if (const Status s = findValue(k->session->hive.get(), k->node, name, v)) return s;
    if (const Status s = makeWritable(*k->session)) return s;

    std::vector<StoredValue> values;
    std::size_t match = 0;
    if (const Status s = readAllValues(k->session->hive.get(), k->node, name, values, match)) return s;
    if (match == std::u16string_view::npos) return status::FileNotFound;
    values.erase(values.begin() + static_cast<std::ptrdiff_t>(match));
    return replaceValues(*k, values);
}

Status RegCloseKey(Key key) {
    if (key == 0) return status::InvalidHandle;
    if (isPredefined(key)) return status::Success;
    std::lock_guard guard(registry().mutex);
    auto& keys = registry().keys;
    const auto it = keys.find(key);
    if (it == keys.end()) return status::InvalidHandle;
    OpenKey k = std::move(it->second);
    keys.erase(it);
    // The last handle on the file lets go of its lock and hivex handle with the session.
    if (k.changed && k.session->dirty) return commit(*k.session);
    return status::Success;
}

} // namespace platform
