// Hives that Windows left dirty, replayed from their transaction logs: hives and logs that
// Windows wrote, against what Windows itself made of them; then logs made here, for what only
// made logs can show. Every register on a replayed hive is checked by independent readers.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <stdexcept>
#include <memory>
#include <string>
#include <sys/mman.h>
#include <utility>
#include <vector>

#include "child_process.h"
#include "hive_check.h"
#include "hive_fixture.h"
#include "hive_logs.h"
#include "platform/bytes.h"
#include "platform/hive/choice.h"
#include "platform/hive/hive.h"
#include "platform/registry.h"

namespace {

namespace fs = std::filesystem;
namespace hive = platform::hive;
using namespace platform;
using testsupport::HiveValue;
using testsupport::textValue;
using namespace std::string_literals;

const std::uint8_t* bytes(const std::string& s) { return reinterpret_cast<const std::uint8_t*>(s.data()); }

std::string bins(std::string_view file) { return std::string(file.substr(hive::BaseBlockSize, le32(file, hive::regf::BinsSize))); }

// The files of a folder and their bytes.
std::map<std::string, std::string> folderContents(const std::string& folder) {
    std::map<std::string, std::string> out;
    for (const auto& e : fs::directory_iterator(folder))
        out[e.path().filename()] = e.is_symlink()         ? "-> " + fs::read_symlink(e.path()).string()
                                   : e.is_regular_file() ? testsupport::fileBytes(e.path())
                                                         : "";
    return out;
}

// What independent readers say of a hive file: empty when libhivex (hivexsh), libregf
// (regfinfo, regfexport) and reglookup all read it whole.
std::string unreadable(const std::string& file) {
    std::string wrong;
    for (const auto& [program, input] : std::vector<std::pair<std::string, std::string>>{
             {"hivexsh", "ls\nlsval\n"}, {"regfinfo", ""}, {"regfexport", ""}, {"reglookup", ""}}) {
        if (!platformtest::have(program)) continue;
        const platformtest::Outcome o =
            platformtest::launch({"sh", {"-c", "\"$0\" \"$1\" >/dev/null", program, file}, {}, false, false, input});
        if (o.status != 0 || (program == "reglookup" && o.err.find("ERROR") != std::string::npos))
            wrong += program + " fails (" + std::to_string(o.status) + "): " + o.err.substr(0, 200) + "\n";
    }
    return wrong;
}

// --- Hives and logs that Windows wrote ------------------------------------------------------

// The hives of ../shared/realhives, decompressed into a folder of the test's own.
class Unpacked {
public:
    explicit Unpacked(const std::string& folder, const std::vector<std::string>& files) {
        for (const std::string& f : files) {
            const std::string from = std::string(VANTORIO_REAL_HIVES) + "/" + folder + "/" + f + ".xz";
            if (std::system(("xz -dc '" + from + "' > '" + dir.file(f) + "'").c_str()) != 0) missing = true;
        }
    }
    testsupport::TempDir dir;
    bool missing = false;
};

struct WindowsRow {
    const char* name;
    std::string folder;               // in the real hives
    std::vector<std::string> files;   // the hive first, then its logs and Windows' own recovery
    int status;                       // hive_replay's
    std::string said;                 // its output (standard output, or the error); $HIVE: the hive
    // What else must hold of the hive written (`out`, beside the files in `dir`).
    std::function<void(const std::string& dir, const std::string& out)> check;
};
void PrintTo(const WindowsRow& row, std::ostream* os) { *os << row.name; }

class WindowsLogs : public testing::TestWithParam<WindowsRow> {};

TEST_P(WindowsLogs, ReplayedAsWindowsReplaysThem) {
    const WindowsRow& row = GetParam();
    if (!fs::exists(VANTORIO_REAL_HIVES)) GTEST_SKIP() << "no real hives in " << VANTORIO_REAL_HIVES;
    const Unpacked hives(row.folder, row.files);
    ASSERT_FALSE(hives.missing);
    const auto before = folderContents(hives.dir.path());
    const std::string out = hives.dir.file("written");
    const platformtest::Outcome o = platformtest::launch({HIVE_REPLAY, {hives.dir.file(row.files[0]), out}});
    EXPECT_EQ(o.status, row.status);
    std::string said = row.said;
    if (const std::size_t at = said.find("$HIVE"); at != std::string::npos) said.replace(at, 5, hives.dir.file(row.files[0]));
    EXPECT_EQ(row.status == 0 ? o.out : o.err, said);
    auto now = folderContents(hives.dir.path());
    EXPECT_EQ(now.count("written"), row.status == 0 ? 1u : 0u);
    now.erase("written");
    EXPECT_TRUE(now == before) << "the hive or its logs changed";
    if (row.status != 0) return;
    const std::string written = testsupport::fileBytes(out);
    // A clean file: both sequence numbers equal, the checksum right, nothing after the bins.
    EXPECT_EQ(le32(written, hive::regf::Sequence1), le32(written, hive::regf::Sequence2));
    EXPECT_EQ(le32(written, hive::regf::Checksum), hive::baseBlockChecksum(written));
    EXPECT_EQ(written.size(), hive::BaseBlockSize + le32(written, hive::regf::BinsSize));
    // The large one is read by them once, after a register (below): they take long on it.
    if (row.files[0] != "SYSTEM_B") {
        EXPECT_EQ(unreadable(out), "");
    }
    row.check(hives.dir.path(), out);
}

// regfexport's listing of a hive, which Windows' recovery must match key by key, value by value.
std::string exported(const std::string& file) { return platformtest::outputOf("regfexport '" + file + "' 2>&1"); }

const WindowsRow WindowsRows[] = {
    // Both logs needed: the entry in .LOG1 is older than the file, .LOG2 holds the three after.
    {"NewFormat", "dirty/NewDirtyHive1", {"NewDirtyHive", "NewDirtyHive.LOG1", "NewDirtyHive.LOG2", "RecoveredHive_Windows10"},
     0, "recovered: 3 log entries replayed\n",
     [](const std::string& dir, const std::string& out) {
         const std::string windows = testsupport::fileBytes(dir + "/RecoveredHive_Windows10");
         const std::string written = testsupport::fileBytes(out);
         EXPECT_TRUE(bins(written) == bins(windows)) << "the bins differ from Windows' own recovery";
         EXPECT_EQ(le32(written, hive::regf::Sequence1), le32(windows, hive::regf::Sequence1)); // 6: one past entry 5
     }},
    {"OldFormat", "dirty/OldDirtyHive", {"OldDirtyHive", "OldDirtyHive.LOG1", "OldDirtyHive.LOG2", "RecoveredHive_Windows7"},
     0, "recovered: 1 log entry replayed\n",
     [](const std::string& dir, const std::string& out) {
         EXPECT_EQ(exported(out), exported(dir + "/RecoveredHive_Windows7"));
         EXPECT_NE(exported(out).find("key_with_many_subkeys\\5000\\find_me_in_log"), std::string::npos);
     }},
    {"LogsThatCannotBeUsed", "dirty/BadLogHive1", {"BadLogHive", "BadLogHive.LOG1", "BadLogHive.LOG2"}, 1,
     "hive_replay: $HIVE: Windows left changes in its logs, which cannot be used (damaged, or another hive's)\n", nullptr},
    // The same hive as OldDirtyHive, its base block broken: the log's copy stands for it.
    {"BaseBlockFromTheLog", "dirty/BadBaseBlockHive", {"BadBaseBlockHive", "BadBaseBlockHive.LOG1", "BadBaseBlockHive.LOG2"},
     0, "recovered: 1 log entry replayed\n",
     [](const std::string&, const std::string& out) {
         const Unpacked windows("dirty/OldDirtyHive", {"RecoveredHive_Windows7"});
         EXPECT_EQ(exported(out), exported(windows.dir.file("RecoveredHive_Windows7")));
     }},
    // A large real case: 24 entries over both logs, which make the bins grow.
    {"SystemHive", ".", {"SYSTEM_B", "SYSTEM_B.LOG1", "SYSTEM_B.LOG2"}, 0, "recovered: 24 log entries replayed\n",
     [](const std::string& dir, const std::string& out) {
         const std::string written = testsupport::fileBytes(out);
         EXPECT_GT(le32(written, hive::regf::BinsSize), le32(testsupport::fileBytes(dir + "/SYSTEM_B"), hive::regf::BinsSize));
         EXPECT_EQ(le32(written, hive::regf::Sequence1), 2131u); // one past entry 2130
         const testsupport::HiveCheck check = testsupport::checkHiveFile(out);
         EXPECT_TRUE(check.unlikeWindows().empty()) << testsupport::describe(check.unlikeWindows());
     }},
};
INSTANTIATE_TEST_SUITE_P(Hive, WindowsLogs, testing::ValuesIn(WindowsRows),
                         [](const auto& info) { return std::string(info.param.name); });

// A register on SYSTEM_B as Windows left it: one clean file with the logs' changes and the new
// value, which every reader reads whole; the logs stay as they were.
TEST(WindowsLogs, RegisterWritesTheReplayedHive) {
    if (!fs::exists(VANTORIO_REAL_HIVES)) GTEST_SKIP() << "no real hives in " << VANTORIO_REAL_HIVES;
    const Unpacked hives(".", {"SYSTEM_B", "SYSTEM_B.LOG1", "SYSTEM_B.LOG2"});
    ASSERT_FALSE(hives.missing);
    const std::string file = hives.dir.file("SYSTEM_B");
    ASSERT_EQ(platformtest::launch({HIVE_REPLAY, {file, hives.dir.file("replayed")}}).status, 0);
    const auto logs = folderContents(hives.dir.path());
    std::shared_ptr<const hive::HiveLocation> at;
    std::shared_ptr<hive::Session> session;
    ASSERT_EQ(hive::locateHive(file, at), status::Success);
    ASSERT_EQ(hive::openSession(at, session), status::Success);
    ASSERT_EQ(hive::writeAccess(*session), status::Success);
    ASSERT_EQ(hive::setValue(*session, hive::rootKey(*session), u"Vantorio", RegSz, testsupport::utf16le(u"replayed")), 0);
    ASSERT_EQ(hive::commit(*session), status::Success);
    EXPECT_EQ(hive::condition(*session).state, HiveState::Clean);
    session.reset();

    const std::string written = testsupport::fileBytes(file);
    EXPECT_EQ(le32(written, hive::regf::Sequence1), 2131u);
    EXPECT_EQ(le32(written, hive::regf::Sequence2), 2131u);
    EXPECT_EQ(le32(written, hive::regf::Checksum), hive::baseBlockChecksum(written));
    EXPECT_EQ(unreadable(file), "");
    // The replayed hive with the new value: the commit changed a few pages of it, no more.
    const std::string replayed = testsupport::fileBytes(hives.dir.file("replayed"));
    std::size_t differ = 0;
    for (std::size_t at = hive::BaseBlockSize; at < replayed.size(); at += hive::HiveBinSize)
        differ += replayed.compare(at, hive::HiveBinSize, written, at, hive::HiveBinSize) != 0;
    EXPECT_LE(differ, 4u);
    EXPECT_EQ(testsupport::readValue(file, "Vantorio", ""), textValue("Vantorio", u"replayed"));
    for (const char* log : {"SYSTEM_B.LOG1", "SYSTEM_B.LOG2"}) EXPECT_TRUE(testsupport::fileBytes(hives.dir.file(log)) == logs.at(log));
}

// --- Logs made here -----------------------------------------------------------------------

// A hive in four states, each one change through libhivex after the one before, and the log
// entries between them: entries[k] takes states[k] to states[k + 1], with the sequence number
// First + k. The last change adds a bin.
struct Made {
    static constexpr std::uint32_t First = 100;
    std::vector<std::string> states;
    std::vector<testsupport::LogEntry> entries;

    Made() {
        testsupport::HiveFile h;
        h.make({textValue("DefaultUserName", u"zero"), textValue("AutoAdminLogon", u"0")});
        states.push_back(h.contents());
        const std::vector<HiveValue> changes = {textValue("DefaultUserName", u"one"), textValue("LegalNoticeCaption", u"two"),
                                                {"Large", RegBinary, std::string(12000, 'L')}};
        for (const HiveValue& change : changes) {
            testsupport::putValue(h.file, change);
            states.push_back(h.contents());
            entries.push_back(testsupport::entryBetween(states[states.size() - 2], states.back(),
                                                        First + static_cast<std::uint32_t>(entries.size())));
        }
        if (le32(states[3], hive::regf::BinsSize) <= le32(states[2], hive::regf::BinsSize))
            throw std::logic_error("the last change must add a bin");
    }
    // The file as Windows left it in state k: the write of entries[k] begun.
    std::string file(int k) const {
        std::string bytes = states[static_cast<std::size_t>(k)];
        testsupport::leaveDirty(bytes, First + static_cast<std::uint32_t>(k));
        return bytes;
    }
    // A new-format log of the file in state `k`, with the entries from..to (not including to).
    std::string log(int k, int from, int to) const {
        return testsupport::newFormatLog(file(k), First + static_cast<std::uint32_t>(from),
                                         {entries.begin() + from, entries.begin() + to});
    }
};

const Made& made() {
    static const Made m;
    return m;
}

using Log = std::pair<std::string, std::function<std::string()>>;

struct MadeRow {
    const char* name;
    std::function<std::string()> file;
    std::vector<Log> logs;
    HiveCondition condition;
    int replayedTo;      // the state that the replay gives; -1: as the file holds it
    bool linked = false; // each log a symbolic link to a file elsewhere
};
void PrintTo(const MadeRow& row, std::ostream* os) { *os << row.name; }

// The hive as the engine sees it, as a commit with no change writes it.
std::string unchanged(const std::string& file) {
    std::shared_ptr<const hive::HiveLocation> at;
    std::shared_ptr<hive::Session> session;
    if (hive::locateHive(file, at) || hive::openSession(at, session)) return {};
    const hive::Fd image(memfd_create("unchanged", MFD_CLOEXEC));
    if (hive::writeUnchanged(*session, image.get()) != status::Success) return {};
    return testsupport::fileBytes("/proc/self/fd/" + std::to_string(image.get()));
}

// The Winlogon values as the registry reads them, as stored.
std::vector<HiveValue> valuesThroughTheRegistry(const std::vector<HiveValue>& like) {
    std::vector<HiveValue> out;
    Key key = 0;
    if (RegOpenKeyExA(LocalMachine, testsupport::WinlogonKey, 0, KeyRead, &key) != 0) return out;
    for (const HiveValue& v : like) {
        HiveValue read{v.name, 0, {}};
        if (QueryValueStored(key, v.name.c_str(), &read.type, &read.bytes) == 0) out.push_back(read);
    }
    RegCloseKey(key);
    return out;
}

class MadeLogs : public testing::TestWithParam<MadeRow>, public testsupport::HiveFile {};

TEST_P(MadeLogs, Row) {
    const MadeRow& row = GetParam();
    overwrite(row.file());
    for (const auto& [name, log] : row.logs) {
        if (!row.linked) {
            testsupport::writeFile(dir.file(name), log());
            continue;
        }
        fs::create_directory(dir.file("elsewhere"));
        testsupport::writeFile(dir.file("elsewhere/" + name), log());
        fs::create_symlink("elsewhere/" + name, dir.file(name));
    }
    point();
    const auto before = folderContents(dir.path());

    const HiveCondition condition = CurrentHiveCondition();
    EXPECT_EQ(condition.state, row.condition.state);
    EXPECT_EQ(condition.replayed, row.condition.replayed);
    EXPECT_EQ(condition.reason, row.condition.reason);
    const std::string seen = row.replayedTo >= 0 ? made().states[static_cast<std::size_t>(row.replayedTo)] : row.file();
    testsupport::writeFile(dir.file("seen"), seen);
    const auto values = testsupport::readValues(dir.file("seen"));
    fs::remove(dir.file("seen"));
    ASSERT_TRUE(values);
    EXPECT_EQ(valuesThroughTheRegistry(*values), *values);
    if (row.replayedTo >= 0) {
        const std::string written = unchanged(file);
        EXPECT_TRUE(bins(written) == bins(seen)) << "the replay is not the hive of state " << row.replayedTo;
        EXPECT_EQ(le32(written, hive::regf::Sequence1), Made::First + static_cast<std::uint32_t>(row.replayedTo));
    }
    // The start-up check takes what an open takes: a broken base block that the logs repair too.
    EXPECT_EQ(hive::checkHive(file).problem, hive::HiveProblem::None);
    EXPECT_TRUE(folderContents(dir.path()) == before) << "loading wrote the hive or its logs";

    // Register: a clean file with the replayed values and the new one, the logs untouched; or a
    // refusal that says why, and nothing written.
    Key key = 0;
    const Status open = RegOpenKeyExA(LocalMachine, testsupport::WinlogonKey, 0, KeyAllAccess, &key);
    if (row.condition.state == HiveState::Dirty) {
        EXPECT_EQ(open, status::AccessDenied);
        EXPECT_EQ(LastFailureDetail().reason, row.condition.reason);
        EXPECT_TRUE(folderContents(dir.path()) == before);
        return;
    }
    ASSERT_EQ(open, status::Success);
    const std::string password = "pw\0"s;
    ASSERT_EQ(RegSetValueExA(key, "DefaultPassword", 0, RegSz, bytes(password), 3), 0);
    ASSERT_EQ(RegCloseKey(key), status::Success);
    std::vector<HiveValue> after = *values;
    after.push_back(textValue("DefaultPassword", u"pw"));
    EXPECT_EQ(testsupport::readValues(file), after);
    const std::string written = contents();
    // One past the last entry replayed, as Windows' own recovered files have them.
    const std::uint32_t sequence = row.replayedTo >= 0 ? Made::First + static_cast<std::uint32_t>(row.replayedTo)
                                                       : le32(row.file(), hive::regf::Sequence1) + 1;
    EXPECT_EQ(le32(written, hive::regf::Sequence1), sequence);
    EXPECT_EQ(le32(written, hive::regf::Sequence2), sequence);
    EXPECT_EQ(le32(written, hive::regf::Checksum), hive::baseBlockChecksum(written));
    EXPECT_TRUE(testsupport::checkHive(written).sound()) << testsupport::describe(testsupport::checkHive(written).findings);
    EXPECT_EQ(unreadable(file), "");
    EXPECT_EQ(CurrentHiveCondition().state, HiveState::Clean);
    for (const auto& [name, log] : row.logs) EXPECT_TRUE(folderContents(dir.path()).at(name) == before.at(name));
}

// The log with the byte at `at` of its entry `entry` (counted from 0) turned over, its sums
// not made right again: an entry that fails its checks.
std::string damaged(std::string log, int entry, std::size_t at) {
    std::size_t start = 512;
    for (int i = 0; i < entry; ++i) start += le32(log, start + 4);
    log[start + at] = static_cast<char>(log[start + at] ^ 0x5A);
    return log;
}
// The log's copy of the base block from another write than the file's: another timestamp.
std::string ofAnotherWrite(std::string log) {
    put32(log, hive::regf::Written, le32(log, hive::regf::Written) + 1);
    put32(log, hive::regf::Checksum, hive::baseBlockChecksum(log));
    return log;
}
// The file with its base block's checksum wrong.
std::string brokenBaseBlock(std::string file) {
    put32(file, hive::regf::Checksum, le32(file, hive::regf::Checksum) ^ 1);
    return file;
}
// An old-format log that takes the file in state 0 to state 3, its copy of the write 102.
std::string oldLog() {
    const Made& m = made();
    const testsupport::LogEntry all = testsupport::entryBetween(m.states[0], m.states[3], 0);
    return testsupport::oldFormatLog(m.file(0), Made::First + 2, all.binsSize, all.pages);
}

HiveCondition recovered(std::uint32_t entries) { return {HiveState::Recovered, entries, FailureReason::None}; }
const HiveCondition Missing{HiveState::Dirty, 0, FailureReason::LogsMissing};
const HiveCondition Unusable{HiveState::Dirty, 0, FailureReason::LogsUnusable};

const MadeRow MadeRows[] = {
    {"AllInTheFirstLog", [] { return made().file(0); }, {{"SOFTWARE.LOG1", [] { return made().log(0, 0, 3); }}}, recovered(3), 3},
    {"EntriesAlreadyApplied", [] { return made().file(1); }, {{"SOFTWARE.LOG1", [] { return made().log(1, 0, 3); }}}, recovered(2), 3},
    {"EntriesSplitOverBothLogs", [] { return made().file(0); },
     {{"SOFTWARE.LOG1", [] { return made().log(0, 0, 1); }}, {"SOFTWARE.LOG2", [] { return made().log(0, 1, 3); }}}, recovered(3), 3},
    // The logs are written by turns: here the second holds the earlier entries.
    {"EarlierEntriesInTheSecondLog", [] { return made().file(0); },
     {{"SOFTWARE.LOG1", [] { return made().log(0, 1, 3); }}, {"SOFTWARE.LOG2", [] { return made().log(0, 0, 1); }}}, recovered(3), 3},
    {"BadEntryAfterGoodOnes", [] { return made().file(0); },
     {{"SOFTWARE.LOG1", [] { return damaged(made().log(0, 0, 3), 2, 600); }}}, recovered(2), 2},
    // Nothing of .LOG2 counts once an entry of .LOG1 failed.
    {"BadEntryEndsTheReplay", [] { return made().file(0); },
     {{"SOFTWARE.LOG1", [] { return damaged(made().log(0, 0, 2), 1, 24); }}, {"SOFTWARE.LOG2", [] { return made().log(0, 2, 3); }}},
     recovered(1), 1},
    {"EntryMissingBetween", [] { return made().file(0); },
     {{"SOFTWARE.LOG1", [] { return made().log(0, 0, 1); }}, {"SOFTWARE.LOG2", [] { return made().log(0, 2, 3); }}}, recovered(1), 1},
    {"LowerCaseNames", [] { return made().file(0); },
     {{"software.log1", [] { return made().log(0, 0, 1); }}, {"Software.Log2", [] { return made().log(0, 1, 3); }}}, recovered(3), 3},
    {"BinsThatGrow", [] { return made().file(2); }, {{"SOFTWARE.LOG1", [] { return made().log(2, 2, 3); }}}, recovered(1), 3},
    {"BaseBlockFromTheLog", [] { return brokenBaseBlock(made().file(0)); }, {{"SOFTWARE.LOG1", [] { return made().log(0, 0, 3); }}},
     recovered(3), 3},
    {"OldFormat", [] { return made().file(0); }, {{"SOFTWARE.LOG", oldLog}}, recovered(1), 3},
    {"MissingLogs", [] { return made().file(0); }, {}, Missing, -1},
    {"LogsOfAnotherHive", [] { return made().file(0); }, {{"SOFTWARE.LOG1", [] { return ofAnotherWrite(made().log(0, 0, 3)); }}},
     Unusable, -1},
    {"FirstEntryBroken", [] { return made().file(0); }, {{"SOFTWARE.LOG1", [] { return damaged(made().log(0, 0, 3), 0, 40); }}},
     Unusable, -1},
    {"OnlyEntriesAlreadyApplied", [] { return made().file(2); }, {{"SOFTWARE.LOG1", [] { return made().log(2, 0, 2); }}}, Unusable, -1},
    {"OldFormatCutShort", [] { return made().file(0); }, {{"SOFTWARE.LOG", [] { return oldLog().substr(0, oldLog().size() - 512); }}},
     Unusable, -1},
    // A bin that the log's pages fall in must be sound: here the bin they add is not one.
    {"OldFormatWithABrokenBin", [] { return made().file(0); },
     {{"SOFTWARE.LOG", [] {
           std::string log = oldLog();
           log[log.rfind("hbin") + 3] = 'x';
           return log;
       }}},
     Unusable, -1},
    {"OldFormatOfAnotherWrite", [] { return made().file(0); }, {{"SOFTWARE.LOG1", [] { return ofAnotherWrite(oldLog()); }}},
     Unusable, -1},
    // A log is read only as a file of the hive's folder, never through a link.
    {"LogLinkedFromElsewhere", [] { return made().file(0); }, {{"SOFTWARE.LOG1", [] { return made().log(0, 0, 3); }}},
     Unusable, -1, true},
    // Logs count only for a hive whose last write did not finish.
    {"CleanHiveIgnoresItsLogs", [] { return made().states[0]; }, {{"SOFTWARE.LOG1", [] { return made().log(0, 0, 3); }}},
     {}, -1},
};
INSTANTIATE_TEST_SUITE_P(Hive, MadeLogs, testing::ValuesIn(MadeRows), [](const auto& info) { return std::string(info.param.name); });

} // namespace
