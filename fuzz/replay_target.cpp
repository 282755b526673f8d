// Any bytes as a hive and its two transaction logs, loaded and, when replayed, committed.
#include <cstring>
#include <map>
#include <filesystem>
#include <memory>
#include <sys/mman.h>

#include "hive_check.h"
#include "hive_fixture.h"
#include "hive_logs.h"
#include "platform/bytes.h"
#include "platform/hive/choice.h"
#include "platform/hive/hive.h"
#include "targets.h"
#include "workspace.h"

namespace fuzz {
namespace {

using namespace platform;
namespace hive = platform::hive;
using testsupport::HiveRule;

constexpr const char* LogNames[2][2] = {{"SOFTWARE.LOG1", "SOFTWARE.LOG2"}, {"software.log1", "Software.Log2"}};

// What loading shows: each value of the Winlogon key as the program reads it.
std::vector<Read> shown() {
    std::vector<Read> out;
    Key key = 0;
    const Status opened = RegOpenKeyExA(LocalMachine, WinlogonKey, 0, KeyRead, &key);
    out.push_back({opened, 0, {}});
    if (opened != status::Success) return out;
    for (const char* name : WinlogonValues) out.push_back(queryWhole(key, name));
    RegCloseKey(key);
    return out;
}

// The files of the workspace and their bytes.
std::map<std::string, std::string> files(const Workspace& w) {
    std::map<std::string, std::string> out;
    for (const std::string& name : w.entries()) out[name] = testsupport::fileBytes(w.folder() + "/" + name);
    return out;
}

// The base block and the file's size whole: what the replay itself answers for, whatever the
// logged pages hold.
bool framed(HiveRule rule) {
    return rule == HiveRule::BaseSignature || rule == HiveRule::BaseSequence || rule == HiveRule::BaseChecksum ||
           rule == HiveRule::FileSize;
}
// The layout a commit must never break (as commitHive checks it).
bool layout(HiveRule rule) { return rule <= HiveRule::CellCrossesBin; }

// Leaves the hive alone in the workspace when it goes, as the other targets expect it.
struct OnlyTheHiveLeft {
    const Workspace& w;
    ~OnlyTheHiveLeft() {
        for (const std::string& name : w.entries())
            if (name != "SOFTWARE") std::filesystem::remove_all(w.folder() + "/" + name);
    }
};

// An input of replayHive.
std::string input(std::uint8_t flags, const std::string& hive, const std::string& log1 = {}, const std::string& log2 = {}) {
    std::string in(9, '\0');
    in[0] = static_cast<char>(flags);
    put32(in, 1, static_cast<std::uint32_t>(log1.size()));
    put32(in, 5, static_cast<std::uint32_t>(log2.size()));
    return in + hive + log1 + log2;
}

} // namespace

const std::vector<std::string>& replaySeeds() {
    static const std::vector<std::string> seeds = [] {
        testsupport::TempDir dir;
        const std::string file = dir.file("hive");
        testsupport::makeHive(file, {testsupport::textValue("AutoAdminLogon", u"0"), testsupport::textValue("DefaultUserName", u"zero")});
        std::vector<std::string> states{testsupport::fileBytes(file)};
        for (const testsupport::HiveValue& change :
             {testsupport::textValue("DefaultUserName", u"one"), testsupport::HiveValue{"Large", RegBinary, std::string(6000, 'L')}}) {
            testsupport::putValue(file, change);
            states.push_back(testsupport::fileBytes(file));
        }
        constexpr std::uint32_t First = 10;
        const auto first = testsupport::entryBetween(states[0], states[1], First);
        const auto second = testsupport::entryBetween(states[1], states[2], First + 1);
        std::string dirty = states[0];
        testsupport::leaveDirty(dirty, First);
        const std::string log1 = testsupport::newFormatLog(dirty, First, {first});
        const std::string log2 = testsupport::newFormatLog(dirty, First + 1, {second});
        const auto both = testsupport::entryBetween(states[0], states[2], 0);
        std::string broken = dirty;
        put32(broken, hive::regf::Checksum, le32(broken, hive::regf::Checksum) ^ 1);
        constexpr std::uint8_t Sealed = 1 | 2 | 4;
        return std::vector<std::string>{
            input(Sealed, dirty, log1, log2),
            input(Sealed | 8, dirty, testsupport::newFormatLog(dirty, First, {first, second})),
            input(Sealed, dirty, testsupport::oldFormatLog(dirty, First + 1, both.binsSize, both.pages)),
            input(2 | 4, broken, log1, log2),
            input(Sealed | 16, dirty),
            input(Sealed, states[0], log1, log2),
        };
    }();
    return seeds;
}

std::string replayHive(const std::uint8_t* data, std::size_t size) {
    const Workspace& w = Workspace::get();
    const OnlyTheHiveLeft tidy{w};
    // The input: a byte of flags, the sizes of the two logs, then the hive and the logs.
    if (size < 9) return {};
    const std::uint8_t flags = data[0];
    std::string_view rest(reinterpret_cast<const char*>(data) + 9, size - 9);
    const std::size_t size1 = std::min<std::size_t>(le32(std::string_view(reinterpret_cast<const char*>(data), 9), 1), rest.size());
    const std::size_t size2 = std::min<std::size_t>(le32(std::string_view(reinterpret_cast<const char*>(data), 9), 5), rest.size() - size1);
    std::string primary(rest.substr(0, rest.size() - size1 - size2));
    std::string logs[2] = {std::string(rest.substr(primary.size(), size1)), std::string(rest.substr(primary.size() + size1))};
    // Sums made right, so that inputs get past them: the file's checksum, the logs' copies' and
    // their entries'.
    if (flags & 1) sealBaseBlock(primary);
    for (std::string& log : logs) {
        if (flags & 2) sealBaseBlock(log);
        if (flags & 4) testsupport::sealEntries(log);
    }
    w.put(primary);
    const bool withLogs = !(flags & 16);
    for (int i = 0; i < 2 && withLogs; ++i) testsupport::writeFile(w.folder() + "/" + LogNames[(flags >> 3) & 1][i], logs[i]);
    const auto before = files(w);

    const std::vector<Read> seen = shown();
    const HiveCondition condition = CurrentHiveCondition();
    if (files(w) != before) return "loading wrote the hive or its logs";

    if (condition.state == HiveState::Dirty) {
        const FailureReason expected = withLogs ? FailureReason::LogsUnusable : FailureReason::LogsMissing;
        if (condition.reason != expected) return said("a dirty hive gave the reason", static_cast<long long>(condition.reason));
        Key key = 0;
        if (RegOpenKeyExA(LocalMachine, WinlogonKey, 0, KeyAllAccess, &key) != status::AccessDenied) {
            RegCloseKey(key);
            return "a dirty hive whose logs cannot be used was opened for writing";
        }
        // Shown as its file holds it: as it reads without its logs.
        for (const std::string& name : w.entries())
            if (name != "SOFTWARE") std::filesystem::remove(w.folder() + "/" + name);
        if (shown() != seen) return "a dirty hive whose logs cannot be used reads otherwise than its file";
        return {};
    }
    if (condition.state != HiveState::Recovered) return {};

    // The replayed hive as a file: a complete write, and read just as the replay was.
    std::shared_ptr<const hive::HiveLocation> at;
    std::shared_ptr<hive::Session> session;
    if (hive::locateHive(w.hive(), at) || hive::openSession(at, session)) return "a replayed hive does not open again";
    const hive::Fd out(memfd_create("replayed", MFD_CLOEXEC));
    if (hive::writeUnchanged(*session, out.get()) != status::Success) return "a replayed hive cannot be written out";
    const std::string image = testsupport::fileBytes("/proc/self/fd/" + std::to_string(out.get()));
    const testsupport::HiveCheck imageCheck = testsupport::checkHive(image);
    for (const auto& f : imageCheck.findings)
        if (framed(f.rule)) return "the replayed hive is not whole: " + testsupport::describe({f});

    // A commit on it: the logged pages come from memory, the rest from the file.
    const Status set = hive::setValue(*session, hive::rootKey(*session), u"Fuzz", RegBinary, std::string(300, 'f'));
    if (set == status::Success && hive::writeAccess(*session) == status::Success) {
        const Status committed = hive::commit(*session);
        auto now = files(w);
        if (committed == status::Success) {
            if (hive::condition(*session).state != HiveState::Clean) return "a committed hive is not clean";
            for (const auto& f : testsupport::checkHive(now["SOFTWARE"]).beyond(imageCheck))
                if (layout(f.rule)) return "the commit broke the replayed hive's layout: " + testsupport::describe({f});
            now["SOFTWARE"] = before.at("SOFTWARE");
        }
        if (now != before) return said("a commit on a replayed hive changed a log, or failed and changed the hive", committed);
    }
    session.reset();

    for (const std::string& name : w.entries()) std::filesystem::remove(w.folder() + "/" + name);
    w.put(image);
    if (shown() != seen) return "the replayed hive written out reads otherwise than the replay";
    return {};
}

} // namespace fuzz
