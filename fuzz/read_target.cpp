// Any bytes as a hive, only read.
#include <cstring>

#include "targets.h"
#include "workspace.h"

namespace fuzz {
namespace {

using namespace platform;

// The codes a read may give on any file.
bool readCode(Status code) {
    return code == status::Success || code == status::FileNotFound || code == status::BadDatabase ||
           code == status::RegistryCorrupt;
}

// One value queried every way the program and its tests do; what disagreed.
std::string queryEveryWay(Key key, const char* name) {
    std::uint32_t type = 0, size = 0;
    const Status code = RegQueryValueExA(key, name, nullptr, &type, nullptr, &size);
    if (!readCode(code)) return said(std::string("the size of ") + name + " gave code", code);

    // Into the program's buffer of 64 bytes, marked to see what was written.
    std::uint8_t buffer[64 + 8];
    std::memset(buffer, 0xCC, sizeof buffer);
    std::uint32_t room = 64, type64 = 0;
    const Status code64 = RegQueryValueExA(key, name, nullptr, &type64, buffer, &room);
    if (code != status::Success) {
        if (code64 != code) return said(std::string("a read of ") + name + " into 64 bytes gave another failure", code64);
        return {};
    }
    if (type64 != type) return std::string("the type of ") + name + " changed between two reads";
    if (size <= 64) {
        if (code64 != status::Success || room != size) return said(std::string(name) + " of this size did not fit 64 bytes", size);
    } else if (code64 != status::MoreData || room != size) {
        return said(std::string(name) + " did not say it needs more than 64 bytes", room);
    }
    // What lies beyond the data: untouched, but for one NUL behind a string without its own.
    const std::size_t written = code64 == status::Success ? room : 0;
    for (std::size_t i = written; i < sizeof buffer; ++i) {
        const bool terminator = i == written && written > 0 && written < 64 && buffer[i] == 0;
        if (buffer[i] != 0xCC && !terminator) return said(std::string("a read of ") + name + " wrote past its data at", static_cast<long long>(i));
    }

    // Whole, into exactly its size, twice: the same bytes.
    const Read whole = queryWhole(key, name);
    if (whole.code != status::Success || whole.type != type || whole.data.size() != size)
        return said(std::string("a read of ") + name + " into its own size gave", whole.code);
    if (written && std::memcmp(buffer, whole.data.data(), written) != 0) return std::string(name) + " read two ways differs";
    // Long values cost a conversion a read: the rest for those the program could show.
    if (size > 4096) return {};
    if (queryWhole(key, name) != whole) return std::string(name) + " read twice differs";
    // One byte short: more data, and the size, and nothing written.
    if (size > 0) {
        std::string shorter(size - 1, '\x5A');
        std::uint32_t less = size - 1;
        const Status code2 = RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<std::uint8_t*>(shorter.data()), &less);
        if (code2 != status::MoreData || less != size || shorter != std::string(size - 1, '\x5A'))
            return said(std::string("a read of ") + name + " one byte short gave", code2);
    }
    return {};
}

// The keys handed out, closed at the end whatever happens.
struct Handles {
    std::vector<Key> keys;
    ~Handles() {
        for (Key k : keys) RegCloseKey(k);
    }
};

} // namespace

std::string readHive(const std::uint8_t* data, std::size_t size) {
    const Workspace& w = Workspace::get();
    std::string hive(reinterpret_cast<const char*>(data), size);
    sealBaseBlock(hive);
    w.put(hive);
    const auto file = w.identity();
    std::string wrong;
    {
        Handles open;
        // The path one key at a time, each opened from the one before.
        static const char* const Path[] = {"Software", "Microsoft", "Windows NT", "CurrentVersion", "Winlogon"};
        Key parent = LocalMachine;
        Status stepwise = status::Success;
        for (const char* part : Path) {
            Key next = 0;
            stepwise = RegOpenKeyExA(parent, part, 0, KeyRead, &next);
            if (!readCode(stepwise)) return said(std::string("opening ") + part + " gave code", stepwise);
            if (stepwise != status::Success) break;
            open.keys.push_back(next);
            parent = next;
        }
        // And at once, as the program opens it.
        Key key = 0;
        const Status whole = RegOpenKeyExA(LocalMachine, WinlogonKey, 0, KeyRead, &key);
        if (whole != stepwise) return said("the key opened at once and step by step differ: at once", whole);
        if (whole == status::Success) {
            open.keys.push_back(key);
            for (const char* name : WinlogonValues)
                if (wrong.empty()) wrong = queryEveryWay(key, name);
            // The default value, a name in another case, and one that is not there.
            for (const char* name : {"", "autoadminlogon", "NoSuchValue"})
                if (wrong.empty()) wrong = queryEveryWay(key, name);
        }
        // Asked for write access but nothing changed: nothing to write either.
        Key writable = 0;
        if (RegOpenKeyExA(LocalMachine, WinlogonKey, 0, KeyAllAccess, &writable) == status::Success)
            open.keys.push_back(writable);
    }
    if (!wrong.empty()) return wrong;
    if (w.identity() != file || w.bytes() != hive) return "a hive only read was written";
    if (w.entries() != std::vector<std::string>{"SOFTWARE"}) return "reading left a file beside the hive";
    return {};
}

} // namespace fuzz
