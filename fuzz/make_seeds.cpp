// The fuzzers' first inputs, made the way the tests make their hives (libhivex and the engine),
// never taken from files of unknown origin: `fuzz_seeds FOLDER` writes FOLDER/reader,
// FOLDER/commit (hive files) and FOLDER/writer (sequences of changes).
#include <cstdio>
#include <filesystem>
#include <hivex.h>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "hive_fixture.h"
#include "platform/hive/choice.h"
#include "platform/hive/hive.h"
#include "platform/registry.h"
#include "targets.h"
#include "workspace.h"
#include "platform/bytes.h"

namespace {

using platform::le32;
using platform::put32;

using testsupport::HiveValue;
using testsupport::textValue;

std::string u32(std::uint32_t v) {
    std::string s(4, '\0');
    put32(s, 0, v);
    return s;
}

// Appends a bin holding one cell with `payload`; its offset.
std::uint32_t appendCell(std::string& h, const std::string& payload) {
    const std::uint32_t at = le32(h, 40);
    const std::size_t cell = (4 + payload.size() + 7) / 8 * 8;
    const std::size_t size = (32 + cell + 4095) / 4096 * 4096;
    std::string bin(size, '\0');
    bin.replace(0, 4, "hbin");
    put32(bin, 4, at);
    put32(bin, 8, static_cast<std::uint32_t>(size));
    put32(bin, 32, static_cast<std::uint32_t>(-static_cast<std::int32_t>(cell)));
    bin.replace(36, payload.size(), payload);
    if (size > 32 + cell) put32(bin, 32 + cell, static_cast<std::uint32_t>(size - 32 - cell));
    h += bin;
    put32(h, 40, static_cast<std::uint32_t>(at + size));
    fuzz::sealBaseBlock(h);
    return at + 32;
}

std::uint32_t hash(const std::string& name) {
    std::uint32_t h = 0;
    for (char c : name) h = h * 37 + static_cast<unsigned char>(c >= 'a' && c <= 'z' ? c - 0x20 : c);
    return h;
}

// A hive whose CurrentVersion key lists its subkeys by a list of the kind `kind` ("li", "lf",
// "lh", or "ri" of an "li" and an "lh"), made by hand as Windows makes them.
std::string withList(const std::string& kind) {
    testsupport::TempDir dir;
    const std::string file = dir.file("hive");
    const std::vector<std::string> names = {"Alpha", "Fonts", "Winlogon", "Zeta"};
    std::vector<testsupport::HiveKey> keys;
    for (const std::string& n : names)
        keys.push_back({"Microsoft\\Windows NT\\CurrentVersion\\" + n,
                        {textValue("AutoAdminLogon", u"1"), textValue("DefaultUserName", std::u16string(n.begin(), n.end()))}});
    testsupport::makeHive(file, keys);
    std::string h = testsupport::fileBytes(file);
    std::unique_ptr<hive_h, decltype(&hivex_close)> hx(hivex_open(file.c_str(), 0), &hivex_close);
    hive_node_h parent = hivex_root(hx.get());
    for (const char* part : {"Microsoft", "Windows NT", "CurrentVersion"}) parent = hivex_node_get_child(hx.get(), parent, part);
    std::vector<std::pair<std::uint32_t, std::string>> children;
    for (const std::string& n : names)
        children.emplace_back(static_cast<std::uint32_t>(hivex_node_get_child(hx.get(), parent, n.c_str()) - 4096), n);
    auto leaf = [](const std::string& sig, const std::vector<std::pair<std::uint32_t, std::string>>& entries) {
        std::string out = sig + std::string(1, static_cast<char>(entries.size())) + '\0';
        for (const auto& [cell, name] : entries) {
            out += u32(cell);
            if (sig == "lf") out += (name + std::string(4, '\0')).substr(0, 4);
            if (sig == "lh") out += u32(hash(name));
        }
        return out;
    };
    std::uint32_t list = 0;
    if (kind == "ri") {
        const std::uint32_t first = appendCell(h, leaf("li", {children[0], children[1]}));
        const std::uint32_t second = appendCell(h, leaf("lh", {children[2], children[3]}));
        list = appendCell(h, "ri\x02" + std::string(1, '\0') + u32(first) + u32(second));
    } else {
        list = appendCell(h, leaf(kind, children));
    }
    put32(h, parent + 4 + 0x1C, list);
    return h;
}

std::string made(const std::vector<testsupport::HiveKey>& keys, std::uint32_t minor = 3) {
    testsupport::TempDir dir;
    const std::string file = dir.file("hive");
    testsupport::makeHive(file, keys);
    std::string h = testsupport::fileBytes(file);
    put32(h, 24, minor);
    fuzz::sealBaseBlock(h);
    return h;
}

// A hive with values written through the engine (big data in format 1.5 among them).
std::string committed(std::string hive, const std::vector<HiveValue>& values) {
    fuzz::Workspace::get().put(hive);
    platform::Key key = 0;
    if (platform::RegOpenKeyExA(platform::LocalMachine, fuzz::WinlogonKey, 0, platform::KeyAllAccess, &key) != 0)
        throw std::runtime_error("no Winlogon key to write to");
    for (const HiveValue& v : values)
        platform::RegSetValueExA(key, v.name.c_str(), 0, v.type, reinterpret_cast<const std::uint8_t*>(v.bytes.data()),
                                 static_cast<std::uint32_t>(v.bytes.size()));
    if (platform::RegCloseKey(key) != 0) throw std::runtime_error("the engine cannot commit a seed");
    return fuzz::Workspace::get().bytes();
}

void write(const std::filesystem::path& folder, const std::string& name, const std::string& bytes) {
    std::filesystem::create_directories(folder);
    testsupport::writeFile((folder / name).string(), bytes);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    const std::filesystem::path out = argv[1];
    try {
        std::vector<std::pair<std::string, std::string>> hives;
        int n = 0;
        for (const std::string& h : fuzz::soundHives()) hives.emplace_back("sound-" + std::to_string(n++), h);

        testsupport::TempDir dir;
        const std::string defaultHive = dir.file("vantorio/SOFTWARE");
        if (platform::hive::ensureDefaultHive(defaultHive) != 0) throw std::runtime_error("no default hive");
        hives.emplace_back("default", testsupport::fileBytes(defaultHive));
        hives.emplace_back("empty", platform::hive::emptyHive(platform::hive::filetimeNow()));
        for (const char* kind : {"li", "lf", "lh", "ri"}) hives.emplace_back(std::string("list-") + kind, withList(kind));

        const std::string winlogon = testsupport::WinlogonInHive;
        hives.emplace_back("odd-values", made({{winlogon,
                                                {{"AutoAdminLogon", 1, ""},
                                                 {"DefaultUserName", 1, testsupport::utf16le(u"user", false)},
                                                 textValue("DefaultPassword", u"パスワード"),
                                                 {"ShutdownWithoutLogon", 4, std::string("\x01\0\0\0", 4)},
                                                 textValue("LegalNoticeCaption", std::u16string(70, u'c')),
                                                 textValue("LegalNoticeText", std::u16string(1100, u't'))}},
                                               {"Ｖａｎｔｏｒｉｏ\\ソフト", {textValue("既存の値", u"old")}}}));
        const std::string long15 = made({{winlogon, {textValue("AutoAdminLogon", u"1")}}}, 5);
        hives.emplace_back("big-data", committed(long15, {{"LegalNoticeText", 1, std::string(9000, 'n') + '\0'},
                                                          {"Big", 3, std::string(20000, 'b')}}));
        std::string dirty = fuzz::soundHives()[0];
        put32(dirty, 8, le32(dirty, 4) + 1);
        fuzz::sealBaseBlock(dirty);
        hives.emplace_back("dirty", dirty);

        for (const auto& [name, bytes] : hives) {
            write(out / "reader", name, bytes);
            write(out / "commit", name, bytes);
        }
        // Sequences of changes: bytes of a fixed generator, each starting from one of the hives.
        std::uint32_t state = 12345;
        for (int i = 0; i < 24; ++i) {
            std::string steps(static_cast<std::size_t>(16 + i * 12), '\0');
            for (char& c : steps) {
                state = state * 1103515245 + 12345;
                c = static_cast<char>(state >> 16);
            }
            steps[0] = static_cast<char>(i);
            write(out / "writer", "steps-" + std::to_string(i), steps);
        }
        std::printf("%zu hives and 24 sequences in %s\n", hives.size(), out.c_str());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "fuzz_seeds: %s\n", e.what());
        return 1;
    }
    return 0;
}
