#include "hive_fixture.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <hivex.h>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <unistd.h>

#include "platform/hive/choice.h"
#include "platform/bytes.h"
#include "platform/hive/format.h"
#include "child_process.h"
#include "hive_logs.h"

namespace testsupport {

void PrintTo(const HiveValue& value, std::ostream* os) {
    *os << value.name << " type " << value.type << " bytes";
    for (unsigned char c : value.bytes) *os << ' ' << std::hex << int(c) << std::dec;
}

namespace {

struct HiveCloser {
    void operator()(hive_h* h) const { hivex_close(h); }
};
using Hive = std::unique_ptr<hive_h, HiveCloser>;

std::vector<std::string> split(std::string_view path) {
    std::vector<std::string> parts;
    while (!path.empty()) {
        const auto slash = path.find('\\');
        parts.emplace_back(path.substr(0, slash));
        if (slash == std::string_view::npos) break;
        path.remove_prefix(slash + 1);
    }
    return parts;
}

hive_node_h findKey(hive_h* h, std::string_view keyPath) {
    hive_node_h node = hivex_root(h);
    for (const std::string& part : split(keyPath)) {
        if (node == 0) break;
        node = hivex_node_get_child(h, node, part.c_str());
    }
    return node;
}

// Value types are plain numbers here: hive_type does not name every type a hive may hold.
static_assert(sizeof(hive_type) == sizeof(std::uint32_t));
hive_type* asHiveType(std::uint32_t* type) { return reinterpret_cast<hive_type*>(type); }

hive_set_value setValue(const HiveValue& v) {
    hive_set_value out{const_cast<char*>(v.name.c_str()), hive_t_REG_NONE, v.bytes.size(),
                       const_cast<char*>(v.bytes.data())};
    std::memcpy(&out.t, &v.type, sizeof out.t);
    return out;
}

} // namespace

std::string utf16le(std::u16string_view text, bool terminated) {
    return platform::utf16le(text) + std::string(terminated ? 2 : 0, '\0');
}

HiveValue textValue(std::string name, std::u16string_view text) { return {std::move(name), 1, utf16le(text)}; }

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "vantorio-test-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ec;
    // A test may leave folders unwritable or unreadable; open them up before removing.
    for (auto it = std::filesystem::recursive_directory_iterator(path_, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
        std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path_, ec);
}

void makeHive(const std::string& file, const std::vector<HiveKey>& keys) {
    writeFile(file, platform::hive::emptyHive(platform::hive::filetimeNow()));
    Hive h(hivex_open(file.c_str(), HIVEX_OPEN_WRITE));
    if (!h) throw std::runtime_error("hivex cannot open the empty hive");
    for (const HiveKey& key : keys) {
        hive_node_h node = hivex_root(h.get());
        for (const std::string& part : split(key.path)) {
            hive_node_h child = hivex_node_get_child(h.get(), node, part.c_str());
            if (child == 0) child = hivex_node_add_child(h.get(), node, part.c_str());
            if (child == 0) throw std::runtime_error("hivex cannot add a key");
            node = child;
        }
        std::vector<hive_set_value> set;
        for (const HiveValue& v : key.values)
            set.push_back(setValue(v));
        if (!set.empty() && hivex_node_set_values(h.get(), node, set.size(), set.data(), 0) != 0)
            throw std::runtime_error("hivex cannot set the values");
    }
    if (hivex_commit(h.get(), nullptr, 0) != 0) throw std::runtime_error("hivex cannot write the hive");
}

void makeHive(const std::string& file, const std::vector<HiveValue>& values, std::string_view keyPath) {
    makeHive(file, std::vector<HiveKey>{{std::string(keyPath), values}});
}

void putValue(const std::string& file, const HiveValue& value, std::string_view keyPath) {
    Hive h(hivex_open(file.c_str(), HIVEX_OPEN_WRITE));
    if (!h) throw std::runtime_error("hivex cannot open " + file);
    const hive_node_h node = findKey(h.get(), keyPath);
    if (node == 0) throw std::runtime_error("no such key in " + file);
    const hive_set_value set = setValue(value);
    if (hivex_node_set_value(h.get(), node, &set, 0) != 0) throw std::runtime_error("hivex cannot set the value");
    if (hivex_commit(h.get(), nullptr, 0) != 0) throw std::runtime_error("hivex cannot write the hive");
}

std::optional<std::vector<HiveValue>> readValues(const std::string& file, std::string_view keyPath) {
    Hive h(hivex_open(file.c_str(), 0));
    if (!h) return std::nullopt;
    const hive_node_h node = findKey(h.get(), keyPath);
    if (node == 0) return std::nullopt;
    std::unique_ptr<hive_value_h, decltype(&std::free)> values(hivex_node_values(h.get(), node), &std::free);
    if (!values) return std::nullopt;
    std::vector<HiveValue> out;
    for (const hive_value_h* v = values.get(); *v; ++v) {
        std::unique_ptr<char, decltype(&std::free)> name(hivex_value_key(h.get(), *v), &std::free);
        std::uint32_t type = 0;
        std::size_t size = 0;
        std::unique_ptr<char, decltype(&std::free)> data(hivex_value_value(h.get(), *v, asHiveType(&type), &size),
                                                         &std::free);
        if (!name || (!data && size)) return std::nullopt;
        out.push_back({name.get(), type, std::string(data ? data.get() : "", size)});
    }
    return out;
}

std::optional<HiveValue> readValue(const std::string& file, std::string_view name, std::string_view keyPath) {
    Hive h(hivex_open(file.c_str(), 0));
    if (!h) return std::nullopt;
    const hive_node_h node = findKey(h.get(), keyPath);
    if (node == 0) return std::nullopt;
    const hive_value_h v = hivex_node_get_value(h.get(), node, std::string(name).c_str());
    if (v == 0) return std::nullopt;
    std::unique_ptr<char, decltype(&std::free)> key(hivex_value_key(h.get(), v), &std::free);
    std::uint32_t type = 0;
    std::size_t size = 0;
    std::unique_ptr<char, decltype(&std::free)> data(hivex_value_value(h.get(), v, asHiveType(&type), &size),
                                                     &std::free);
    if (!key || (!data && size)) return std::nullopt;
    return HiveValue{key.get(), type, std::string(data ? data.get() : "", size)};
}

void growToTheLimit(const std::string& file, const std::string& more, bool fillFreeSpace) {
    namespace hive = platform::hive;
    HiveImage small(fileBytes(file));
    if (small.bytes().size() < hive::BaseBlockSize) throw std::runtime_error("no hive at " + file);
    const std::uint32_t smallBins = small.base(hive::regf::BinsSize);
    if (fillFreeSpace) {
        for (const std::size_t bin : small.bins())
            for (const std::size_t at : small.cells(bin))
                if (HiveImage::Cell cell = small.cell(at); cell.size() > 0) cell.size(-cell.size());
        writeFile(file, small.bytes());
    }
    // One bin from the end of the hive up to the limit, all of it one cell in use.
    const std::string huge =
        binHeader(smallBins, hive::BinsLimit - smallBins) +
        platform::bytes32(0u - (hive::BinsLimit - smallBins - static_cast<std::uint32_t>(hive::BinHeaderSize)));
    HiveImage base(small.get(0, hive::regf::HeaderSize));
    base.base(hive::regf::BinsSize, hive::BinsLimit + static_cast<std::uint32_t>(more.size()));
    const std::string& header = base.bytes();

    const int fd = ::open(file.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) throw std::runtime_error("cannot open " + file);
    const off_t bins = static_cast<off_t>(hive::BaseBlockSize);
    const bool written =
        pwrite(fd, header.data(), header.size(), 0) == static_cast<ssize_t>(header.size()) &&
        pwrite(fd, huge.data(), huge.size(), bins + smallBins) == static_cast<ssize_t>(huge.size()) &&
        (more.empty() || pwrite(fd, more.data(), more.size(), bins + hive::BinsLimit) == static_cast<ssize_t>(more.size())) &&
        ftruncate(fd, bins + hive::BinsLimit + static_cast<off_t>(more.size())) == 0;
    ::close(fd);
    if (!written) throw std::runtime_error("cannot grow " + file);
}

std::size_t keyCellOf(const std::string& file, std::string_view keyPath) {
    Hive h(hivex_open(file.c_str(), 0));
    const hive_node_h node = h ? findKey(h.get(), keyPath) : 0;
    if (node == 0) throw std::runtime_error("no key " + std::string(keyPath) + " in " + file);
    return node;
}

std::size_t valueCellOf(const std::string& file, std::string_view keyPath, std::string_view name) {
    Hive h(hivex_open(file.c_str(), 0));
    const hive_node_h node = h ? findKey(h.get(), keyPath) : 0;
    const hive_value_h value = node ? hivex_node_get_value(h.get(), node, std::string(name).c_str()) : 0;
    if (value == 0) throw std::runtime_error("no value " + std::string(name) + " in " + file);
    return value;
}

std::optional<std::string> reglookupData(const std::string& file, std::string_view keyPath, std::string_view name) {
    std::string path;
    for (const std::string& part : split(keyPath)) path += "/" + part;
    // A line a value: its path, its type, its data (other than printable ASCII as %XX), a time.
    const std::string listing = platformtest::outputOf("reglookup -H -p '" + path + "' '" + file + "' 2>/dev/null");
    const std::string start = path + "/" + std::string(name) + ",";
    for (std::size_t at = 0; at < listing.size();) {
        const std::size_t end = std::min(listing.find('\n', at), listing.size());
        const std::string line = listing.substr(at, end - at);
        at = end + 1;
        if (!line.starts_with(start)) continue;
        const std::size_t from = line.find(',', start.size()) + 1, to = line.rfind(',');
        std::string data;
        for (std::size_t i = from; i < to; ++i) {
            data += line[i] != '%' ? line[i] : static_cast<char>(std::stoi(line.substr(i + 1, 2), nullptr, 16));
            if (line[i] == '%') i += 2;
        }
        return data;
    }
    return std::nullopt;
}

std::string fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeFile(const std::string& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out.flush()) throw std::runtime_error("cannot write " + path);
}

std::string logChange(const std::string& file, const std::string& log, const std::function<void()>& change) {
    std::string before = fileBytes(file);
    change();
    const std::string after = fileBytes(file);
    const std::uint32_t sequence = platform::le32(before, platform::hive::regf::Sequence1) + 1;
    leaveDirty(before, sequence);
    writeFile(log, newFormatLog(before, sequence, {entryBetween(before, after, sequence)}));
    writeFile(file, before);
    return after;
}

ScopedHive::ScopedHive(const std::string& file) {
    if (const char* was = std::getenv(platform::hive::HiveVariable)) previous_ = was;
    setenv(platform::hive::HiveVariable, file.c_str(), 1);
}

ScopedHive::~ScopedHive() {
    if (previous_) setenv(platform::hive::HiveVariable, previous_->c_str(), 1);
    else unsetenv(platform::hive::HiveVariable);
}

HiveFile::HiveFile(std::string_view folder)
    : folder(folder.empty() ? dir.path() : dir.file(folder)), file(this->folder + "/SOFTWARE") {
    std::filesystem::create_directories(this->folder);
}

void HiveFile::make(const std::vector<HiveValue>& values, std::uint32_t minor) {
    make(std::vector<HiveKey>{{WinlogonInHive, values}}, minor);
}

void HiveFile::make(const std::vector<HiveKey>& keys, std::uint32_t minor) {
    makeHive(file, keys);
    if (minor != 3) format(minor);
    point();
}

void HiveFile::format(std::uint32_t minor) const {
    HiveImage h = image();
    h.base(platform::hive::regf::Minor, minor);
    overwrite(h);
}

void HiveFile::point(const std::string& path) {
    scope_.reset();
    scope_.emplace(path);
}

} // namespace testsupport
