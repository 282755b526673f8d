// The fuzzers' first inputs, made the way the tests make their hives (libhivex and the engine),
// never taken from files of unknown origin: `fuzz_seeds FOLDER` writes FOLDER/reader,
// FOLDER/commit (hive files), FOLDER/writer (sequences of changes) and FOLDER/replay (hives
// with their logs).
#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "hive_fixture.h"
#include "platform/hive/choice.h"
#include "platform/hive/hive.h"
#include "platform/registry.h"
#include "targets.h"
#include "workspace.h"

namespace {

using testsupport::HiveImage;
using testsupport::HiveValue;
using testsupport::textValue;
namespace regf = platform::hive::regf;

// A hive whose CurrentVersion key lists its subkeys by a list of the kind `kind` ("li", "lf",
// "lh", or "ri" of an "li" and an "lh"), made by hand as Windows makes them, each list in a bin
// of its own.
std::string withList(const std::string& kind) {
    testsupport::TempDir dir;
    const std::string file = dir.file("hive");
    const std::string parent = "Microsoft\\Windows NT\\CurrentVersion";
    const std::vector<std::string> names = {"Alpha", "Fonts", "Winlogon", "Zeta"};
    std::vector<testsupport::HiveKey> keys;
    for (const std::string& n : names)
        keys.push_back({parent + "\\" + n,
                        {textValue("AutoAdminLogon", u"1"), textValue("DefaultUserName", std::u16string(n.begin(), n.end()))}});
    testsupport::makeHive(file, keys);
    HiveImage h(testsupport::fileBytes(file));
    std::vector<testsupport::ListEntry> children;
    for (const std::string& n : names) children.push_back({testsupport::cellOffset(testsupport::keyCellOf(file, parent + "\\" + n)), n});
    std::uint32_t list = 0;
    if (kind == "ri") {
        const std::uint32_t first = h.addBin({testsupport::subkeyList("li", {children[0], children[1]})})[0];
        const std::uint32_t second = h.addBin({testsupport::subkeyList("lh", {children[2], children[3]})})[0];
        list = h.addBin({testsupport::subkeyList("ri", {{first, ""}, {second, ""}})})[0];
    } else {
        list = h.addBin({testsupport::subkeyList(kind, children)})[0];
    }
    h.cell(testsupport::keyCellOf(file, parent)).field(platform::hive::nk::SubkeyList, list);
    return h.bytes();
}

std::string made(const std::vector<testsupport::HiveKey>& keys, std::uint32_t minor = 3) {
    testsupport::TempDir dir;
    const std::string file = dir.file("hive");
    testsupport::makeHive(file, keys);
    return HiveImage(testsupport::fileBytes(file)).base(regf::Minor, minor).bytes();
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
        HiveImage dirty(fuzz::soundHives()[0]);
        dirty.base(regf::Sequence2, dirty.base(regf::Sequence1) + 1);
        hives.emplace_back("dirty", dirty.bytes());

        for (const auto& [name, bytes] : hives) {
            write(out / "reader", name, bytes);
            write(out / "commit", name, bytes);
        }
        // Hives and their logs.
        for (std::size_t i = 0; i < fuzz::replaySeeds().size(); ++i)
            write(out / "replay", "logs-" + std::to_string(i), fuzz::replaySeeds()[i]);
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
        std::printf("%zu hives, 24 sequences and %zu hives with logs in %s\n", hives.size(), fuzz::replaySeeds().size(),
                    out.c_str());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "fuzz_seeds: %s\n", e.what());
        return 1;
    }
    return 0;
}
