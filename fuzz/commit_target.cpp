// Any bytes as a hive, changed and committed.
#include "hive_check.h"
#include "targets.h"
#include "workspace.h"

namespace fuzz {
namespace {

using namespace platform;
using namespace std::string_literals;

// The layout a commit must never break, whatever the file it copies: the base block, the bins,
// the cells that tile them. (What the references of a damaged file lead to is not the commit's.)
bool layout(testsupport::HiveRule rule) { return rule <= testsupport::HiveRule::CellCrossesBin; }

std::string pattern(std::size_t n) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>(i * 7 + i / 509);
    return s;
}

const std::uint8_t* bytes(const std::string& s) { return reinterpret_cast<const std::uint8_t*>(s.data()); }

} // namespace

std::string commitHive(const std::uint8_t* data, std::size_t size) {
    const Workspace& w = Workspace::get();
    std::string hive(reinterpret_cast<const char*>(data), size);
    sealBaseBlock(hive);
    w.put(hive);

    Key key = 0;
    const Status opened = RegOpenKeyExA(LocalMachine, WinlogonKey, 0, KeyAllAccess, &key);
    if (opened != status::Success) {
        if (w.bytes() != hive || w.entries() != std::vector<std::string>{"SOFTWARE"})
            return said("a hive that did not open for writing changed: the open gave", opened);
        return {};
    }
    std::vector<Read> before;
    for (const char* name : WinlogonValues) before.push_back(queryWhole(key, name));

    const std::string password = "fuzz\0"s;
    const std::string big = pattern(20000);
    const Status setPassword = RegSetValueExA(key, "DefaultPassword", 0, RegSz, bytes(password), 5);
    const Status deleted = RegDeleteValueA(key, "AutoAdminLogon");
    const Status setBig = RegSetValueExA(key, "Big", 0, RegBinary, bytes(big), static_cast<std::uint32_t>(big.size()));
    for (Status s : {setPassword, deleted, setBig})
        if (s != status::Success && s != status::FileNotFound && s != status::RegistryCorrupt)
            return said("a change gave code", s);
    const bool changed = setPassword == status::Success || deleted == status::Success || setBig == status::Success;
    const Status closed = RegCloseKey(key);

    if (!changed || closed != status::Success) {
        if (!changed && closed != status::Success) return said("a close without a change gave", closed);
        if (w.bytes() != hive || w.entries() != std::vector<std::string>{"SOFTWARE"})
            return said("a commit that failed changed the hive: it gave", closed);
        return {};
    }
    if (w.entries() != std::vector<std::string>{"SOFTWARE"}) return "a commit left a file beside the hive";

    // The new file's layout is whole, whatever the old one's references were, and every key
    // that the commit did not stamp reads as before, all its values with it.
    const auto source = testsupport::checkHive(hive);
    const auto written = testsupport::checkHive(w.bytes());
    for (const auto& f : written.beyond(source))
        if (layout(f.rule)) return "the commit broke the layout: " + testsupport::describe({f});
    for (const auto& f : testsupport::commitFaults(source, written))
        if (f.rule == testsupport::HiveRule::KeyNotKept) return "the commit changed what it did not touch: " + testsupport::describe({f});

    if (RegOpenKeyExA(LocalMachine, WinlogonKey, 0, KeyRead, &key) != status::Success)
        return "the committed hive does not open";
    std::string wrong;
    if (setPassword == status::Success && queryWhole(key, "DefaultPassword") != Read{status::Success, RegSz, password})
        wrong = "the password set does not read back";
    if (deleted == status::Success && queryWhole(key, "AutoAdminLogon").code != status::FileNotFound)
        wrong = "the value deleted is still there";
    if (setBig == status::Success && queryWhole(key, "Big") != Read{status::Success, RegBinary, big})
        wrong = "the long value set does not read back";
    for (std::size_t i = 0; i < before.size() && wrong.empty(); ++i) {
        const std::string name = WinlogonValues[i];
        if (name == "DefaultPassword" || name == "AutoAdminLogon" || before[i].code != status::Success) continue;
        if (queryWhole(key, name.c_str()) != before[i]) wrong = name + ", which no change touched, reads otherwise";
    }
    RegCloseKey(key);
    return wrong;
}

} // namespace fuzz
