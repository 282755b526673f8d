// A hive over a long life. First the free space of the bins on its own: free cells merged with
// their neighbours, the smallest run that holds a cell, a bin added only for what fits nowhere,
// and the format's size limit. Then commits through the registry: many of them keep the file
// within one bin of its size after the first, every file they write reads whole through
// libhivex and through the engine and is tiled exactly, and a commit that would pass the
// format's 2 GiB limit refuses before it writes anything.
#include <gtest/gtest.h>

#include <algorithm>
#include <fcntl.h>
#include <filesystem>
#include <hivex.h>
#include <memory>
#include <optional>
#include <string>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "child_process.h"
#include "hive_fixture.h"
#include "value_query.h"
#include "platform/codepage.h"
#include "platform/hive/choice.h"
#include "platform/hive/format.h"
#include "platform/hive/space.h"
#include "platform/registry.h"
#include "platform/bytes.h"

namespace {

using namespace platform;
using hive::FreeSpace;
using Range = FreeSpace::Range;
using Ranges = std::vector<Range>;
using testsupport::fileOffset;
using testsupport::HiveImage;
using testsupport::HiveValue;
using namespace testsupport::fields;

// --- the free space of the bins --------------------------------------------------------------

// Hive bins made of cells given by their size fields (negative: in use). A bin is as large as
// its cells round up to; cells that do not fill it leave it untiled, as in a damaged file.
std::string bin(std::uint32_t at, const std::vector<std::int32_t>& cells) {
    std::uint32_t used = hive::BinHeaderSize;
    for (std::int32_t c : cells) used += static_cast<std::uint32_t>(c < 0 ? -c : c);
    const auto size = static_cast<std::uint32_t>((used + hive::HiveBinSize - 1) / hive::HiveBinSize * hive::HiveBinSize);
    std::string b = testsupport::binHeader(at, size);
    b.resize(size, '\0');
    std::uint32_t cell = hive::BinHeaderSize;
    for (std::int32_t c : cells) {
        put32(b, cell + hive::cell::Size, static_cast<std::uint32_t>(c));
        cell += static_cast<std::uint32_t>(c < 0 ? -c : c);
    }
    return b;
}

// One page bin: a used cell of 32 bytes, then `cells`, then a used cell filling the rest.
std::string page(std::uint32_t at, std::vector<std::int32_t> cells) {
    std::int32_t rest = 4096 - 32 - 32;
    for (std::int32_t c : cells) rest -= c < 0 ? -c : c;
    cells.insert(cells.begin(), -32);
    cells.push_back(-rest);
    return bin(at, cells);
}

TEST(FreeSpace, OffersTheFreeCellsOfSoundBinsMergedWithTheirNeighbours) {
    std::string bins = page(0, {64, 16, -8, 24});         // two free cells side by side, one alone
    bins += bin(4096, {-96, 4096 - 32 - 96});             // a free cell at the end of a bin
    bins += page(8192, {64, 100});                         // not tiled: a size that is no multiple of 8
    std::string badHeader = page(12288, {48});
    put32(badHeader, hbin::Size, 4000);                    // a bin size of no whole pages
    bins += badHeader;
    bins += page(16384, {40});                             // found again on the next page
    FreeSpace space(bins);
    space.readAll();
    EXPECT_EQ(space.runs(), (Ranges{{64, 80}, {152, 24}, {4096 + 128, 3968}, {16384 + 64, 40}}));
    // Only the merged run is no free cell of the file as it is.
    EXPECT_EQ(space.changedRuns(), (Ranges{{64, 80}}));
    EXPECT_EQ(space.end(), 20480u);
    EXPECT_TRUE(space.addedBins().empty());
}

// What a kept value or key reaches stays as it is, even where a damaged offset leads into the
// middle of a free cell or of a cell given up.
TEST(FreeSpace, KeptStretchesAreNeitherHandedOutNorTakenBack) {
    // Cells of 32 bytes from offset 64 on: A used, F free, B used, G free, C used.
    const std::string bins = page(0, {-32, 32, -32, 32, -32});
    FreeSpace space(bins);
    space.keep({100, 1});    // a kept value's data offset into the middle of F
    space.keep({160, 40});   // a kept cell across G and into C
    space.readAll();
    EXPECT_TRUE(space.runs().empty()) << "F and G overlap kept stretches";
    EXPECT_FALSE(space.release(192, 32)) << "C overlaps a kept stretch";
    EXPECT_TRUE(space.release(64, 32));   // A and B touch nothing kept, and no longer meet F
    EXPECT_TRUE(space.release(128, 32));
    EXPECT_EQ(space.runs(), (Ranges{{64, 32}, {128, 32}}));
    EXPECT_EQ(space.changedRuns(), space.runs());
    EXPECT_EQ(space.allocate(32), std::optional<std::uint32_t>(64));
}

TEST(FreeSpace, GivenUpCellsJoinTheirFreeNeighbours) {
    // Cells of 32 bytes from offset 64 on: A used, B used, F free, C used, D used.
    std::string bins = page(0, {-32, -32, 32, -32, -32});
    bins += page(4096, {32, 100});                         // a damaged bin
    FreeSpace space(bins);
    space.readAll();
    ASSERT_EQ(space.runs(), (Ranges{{128, 32}}));

    struct Refused {
        const char* why;
        std::uint32_t offset, size;
    };
    for (const Refused r : {Refused{"overlaps the free cell", 120, 16}, Refused{"inside the free cell", 128, 32},
                            Refused{"the bin's header", 0, 32}, Refused{"crosses the bin's end", 4064, 64},
                            Refused{"in a damaged bin", 4096 + 64, 32}, Refused{"beyond the bins", 8192, 32},
                            Refused{"no multiple of 8", 64, 28}, Refused{"too small", 64, 0}})
        EXPECT_FALSE(space.release(r.offset, r.size)) << r.why;
    EXPECT_EQ(space.runs(), (Ranges{{128, 32}}));

    EXPECT_TRUE(space.release(96, 32)); // B, before F
    EXPECT_EQ(space.runs(), (Ranges{{96, 64}}));
    EXPECT_TRUE(space.release(192, 32)); // D, alone
    EXPECT_EQ(space.runs(), (Ranges{{96, 64}, {192, 32}}));
    EXPECT_TRUE(space.release(160, 32)); // C, between them
    EXPECT_EQ(space.runs(), (Ranges{{96, 128}}));
    EXPECT_TRUE(space.release(64, 32)); // A
    EXPECT_EQ(space.runs(), (Ranges{{64, 160}}));
    EXPECT_EQ(space.changedRuns(), space.runs());
    EXPECT_FALSE(space.release(64, 32)) << "free already";
}

TEST(FreeSpace, ReadsOnlyTheBinsACommitNeeds) {
    // Three bins with free space; the hive may be far larger.
    const std::string bins = page(0, {64}) + page(4096, {128}) + page(8192, {256});
    FreeSpace space(bins);
    EXPECT_TRUE(space.runs().empty()) << "nothing read before it is needed";
    // A cell given up: its own bin is read, to merge it with its neighbours.
    EXPECT_TRUE(space.release(8192 + 32, 32));
    EXPECT_EQ(space.runs(), (Ranges{{8192 + 32, 288}}));
    // A cell that fits there takes it, and nothing else is read.
    EXPECT_EQ(space.allocate(200), 8192u + 32);
    EXPECT_EQ(space.runs(), (Ranges{{8192 + 232, 88}}));
    // One that fits nowhere read yet: bins are read in the order of the file until one holds it.
    EXPECT_EQ(space.allocate(128), 4096u + 64);
    EXPECT_EQ(space.runs(), (Ranges{{64, 64}, {8192 + 232, 88}}));
    // Only when the whole file holds no room does a bin get added.
    EXPECT_EQ(space.allocate(96), 12288u + 32);
    EXPECT_EQ(space.addedBins(), (Ranges{{12288, 4096}}));
}

TEST(FreeSpace, ACellTakesTheSmallestRunThatHoldsIt) {
    // Free runs: 64 at 64, 32 at 160, 64 at 224, 128 at 320.
    const std::string bins = page(0, {64, -32, 32, -32, 64, -32, 128});
    FreeSpace space(bins);
    space.readAll();
    ASSERT_EQ(space.runs(), (Ranges{{64, 64}, {160, 32}, {224, 64}, {320, 128}}));
    struct Take {
        std::uint32_t size, at, from = 0; // beyond `from`: the next segment of big data
    };
    for (const Take t : {Take{32, 160}, Take{48, 64}, Take{64, 224}, Take{72, 320}, Take{16, 392, 321}, Take{16, 112}})
        EXPECT_EQ(space.allocate(t.size, t.from), t.at) << t.size;
    // What was left of the runs cut stays free, as new free cells.
    EXPECT_EQ(space.runs(), (Ranges{{408, 40}}));
    EXPECT_EQ(space.changedRuns(), space.runs());
    EXPECT_EQ(space.allocate(60), std::nullopt) << "a size of no multiple of 8";
    EXPECT_TRUE(space.addedBins().empty());
}

struct NewBin {
    std::uint32_t cell, bin;
};
void PrintTo(const NewBin& row, std::ostream* os) { *os << "Cell" << row.cell; }

class FreeSpaceNewBin : public testing::TestWithParam<NewBin> {};

TEST_P(FreeSpaceNewBin, IsSizedForTheCellThatFitsNowhere) {
    const std::string bins = page(0, {32});
    FreeSpace space(bins);
    const std::uint32_t cell = GetParam().cell;
    EXPECT_EQ(space.allocate(cell), 4096u + 32);
    EXPECT_EQ(space.addedBins(), (Ranges{{4096, GetParam().bin}}));
    EXPECT_EQ(space.end(), 4096 + GetParam().bin);
    Ranges rest = {{64, 32}};
    if (GetParam().bin - 32 > cell) rest.push_back({4096 + 32 + cell, GetParam().bin - 32 - cell});
    EXPECT_EQ(space.runs(), rest);
    // The rest of the new bin takes the next cells before another bin is added.
    if (GetParam().bin - 32 - cell >= 40) {
        EXPECT_EQ(space.allocate(40), 4096u + 32 + cell);
        EXPECT_EQ(space.addedBins().size(), 1u);
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, FreeSpaceNewBin,
                         testing::Values(NewBin{40, 4096}, NewBin{4064, 4096}, NewBin{4072, 8192},
                                         // a segment of big data fills a bin of its own exactly
                                         NewBin{16352, 16384}, NewBin{16360, 20480},
                                         // one cell of 1 MB of data (format 1.3)
                                         NewBin{1048584, 1052672}),
                         [](const auto& info) { return "Cell" + std::to_string(info.param.cell); });

TEST(FreeSpace, TheLastBinGrowsByWhatItsFreeEndLacks) {
    // The last bin ends with 4000 free bytes: a cell of 6000 takes them and one page more.
    const std::string bins = page(0, {32}) + bin(4096, {-64, 4096 - 32 - 64});
    FreeSpace space(bins);
    EXPECT_EQ(space.allocate(6000), 4096u + 96);
    EXPECT_EQ(space.grownBins(), (Ranges{{4096, 8192}}));
    EXPECT_TRUE(space.addedBins().empty());
    EXPECT_EQ(space.end(), 12288u);
    EXPECT_EQ(space.allocate(3000), 4096u + 96 + 6000) << "the rest (2096 bytes) and one page more";
    EXPECT_EQ(space.grownBins(), (Ranges{{4096, 12288}}));
    EXPECT_EQ(space.runs(), (Ranges{{64, 32}, {4096 + 96 + 9000, 12288 - 96 - 9000}}));

    // A bin added by the same commit grows the same way.
    const std::string one = page(0, {32});
    FreeSpace fresh(one);
    EXPECT_EQ(fresh.allocate(40), 4096u + 32);
    EXPECT_EQ(fresh.allocate(5000), 4096u + 72);
    EXPECT_EQ(fresh.addedBins(), (Ranges{{4096, 8192}}));
    EXPECT_TRUE(fresh.grownBins().empty());

    // Not beyond the limit.
    FreeSpace bounded(bins, 8192);
    EXPECT_EQ(bounded.allocate(4008), std::nullopt);
    EXPECT_EQ(bounded.allocate(4000), 4096u + 96);
}

TEST(FreeSpace, NoBinReachesTheLimit) {
    const std::string bins = page(0, {64}) + page(4096, {64});
    {
        FreeSpace space(bins, 16384);
        EXPECT_EQ(space.allocate(64), 64u) << "free space below the limit is used";
        EXPECT_EQ(space.allocate(8160), 8192u + 32) << "a bin that ends right at the limit";
        EXPECT_EQ(space.end(), 16384u);
        EXPECT_EQ(space.allocate(72), std::nullopt);
        EXPECT_EQ(space.allocate(64), 4096u + 64);
        EXPECT_EQ(space.addedBins().size(), 1u);
    }
    {
        // Bins at or beyond the limit are never offered: no cell may lie there.
        FreeSpace space(bins, 4096);
        space.readAll();
        EXPECT_EQ(space.runs(), (Ranges{{64, 64}}));
        EXPECT_EQ(space.allocate(64), 64u);
        EXPECT_EQ(space.allocate(8), std::nullopt);
        EXPECT_FALSE(space.release(4096 + 64, 64));
    }
}

TEST(FreeSpace, NoBinIsAddedInsideOneThatClaimsPagesPastTheEnd) {
    std::string bins = page(0, {64}) + page(4096, {128});
    put32(bins, 4096 + hbin::Size, 3 * 4096); // the last bin's header claims two pages the file lacks
    FreeSpace space(bins);
    EXPECT_EQ(space.allocate(64), 64u) << "free space in sound bins is still used";
    EXPECT_EQ(space.allocate(64), std::nullopt);
    EXPECT_TRUE(space.endClaimed());
    EXPECT_TRUE(space.addedBins().empty());
    EXPECT_EQ(space.end(), bins.size());
}

TEST(FreeSpace, ACommitThatNeedsABinPastAClaimedEndIsRefusedAsCorrupt) {
    testsupport::HiveFile hiveFile;
    hiveFile.make({testsupport::textValue("DefaultUserName", u"Administrator")});
    HiveImage h = hiveFile.image();
    const std::size_t last = h.bins().back();
    h.put32(last + hbin::Size, h.u32(last + hbin::Size) + 2 * 4096).seal();
    hiveFile.overwrite(h);

    Key key = 0;
    ASSERT_EQ(RegOpenKeyExA(LocalMachine, testsupport::WinlogonKey, 0, KeyAllAccess, &key), status::Success);
    const std::string big(64 * 1024, 'b');
    ASSERT_EQ(RegSetValueExA(key, "Large", 0, RegBinary, reinterpret_cast<const std::uint8_t*>(big.data()),
                             static_cast<std::uint32_t>(big.size())),
              status::Success);
    EXPECT_EQ(RegCloseKey(key), status::RegistryCorrupt);
    EXPECT_EQ(LastFailureDetail().reason, FailureReason::None) << "not the size limit";
    EXPECT_EQ(hiveFile.contents(), h.bytes());
}

// --- commits over a long life ----------------------------------------------------------------

// What is wrong with the structure of a hive file, or nothing: a clean base block (equal
// sequence numbers, its checksum, the bins' size that of the file less the base block), bins
// one after the other, each tiled exactly by cells of whole multiples of 8, and no two free
// cells side by side.
std::string structureFault(const std::string& bytes) {
    const HiveImage h(bytes);
    if (bytes.size() < hive::BaseBlockSize + hive::HiveBinSize || h.get(regf::Signature, 4) != "regf") return "no hive";
    if (h.base(regf::Sequence1) != h.base(regf::Sequence2)) return "sequence numbers differ";
    if (h.base(regf::Checksum) != hive::baseBlockChecksum(bytes)) return "checksum";
    const std::uint32_t binsSize = h.base(regf::BinsSize);
    if (binsSize != bytes.size() - hive::BaseBlockSize)
        return "bins size " + std::to_string(binsSize) + " in a file of " + std::to_string(bytes.size());
    if (binsSize > hive::BinsLimit) return "bins beyond the limit";
    for (std::uint32_t at = 0; at < binsSize;) {
        const std::uint32_t size = h.u32(fileOffset(at) + hbin::Size);
        if (h.get(fileOffset(at) + hbin::Signature, 4) != "hbin" || h.u32(fileOffset(at) + hbin::Offset) != at ||
            size < hive::HiveBinSize || size % hive::HiveBinSize != 0 || size > binsSize - at)
            return "bin header at " + std::to_string(at);
        bool lastFree = false;
        for (std::uint32_t cell = at + hive::BinHeaderSize; cell < at + size;) {
            const auto field = static_cast<std::int32_t>(h.u32(fileOffset(cell) + hive::cell::Size));
            const std::uint32_t length = field < 0 ? 0u - static_cast<std::uint32_t>(field) : static_cast<std::uint32_t>(field);
            if (length < 8 || length % 8 != 0 || length > at + size - cell) return "cell at " + std::to_string(cell);
            if (field > 0 && lastFree) return "free cells side by side at " + std::to_string(cell);
            lastFree = field > 0;
            cell += length;
        }
        at += size;
    }
    return {};
}

// Every key and value of a hive, read through libhivex; nothing when any of it does not read.
struct StoredValue {
    std::string key; // inside the hive, backslash-separated
    HiveValue value;
};
using Hive = std::unique_ptr<hive_h, decltype(&hivex_close)>;

bool collect(hive_h* h, hive_node_h node, const std::string& path, std::vector<StoredValue>& out) {
    std::unique_ptr<hive_value_h, decltype(&std::free)> values(hivex_node_values(h, node), &std::free);
    if (!values) return false;
    for (const hive_value_h* v = values.get(); *v; ++v) {
        std::unique_ptr<char, decltype(&std::free)> name(hivex_value_key(h, *v), &std::free);
        // A plain number: hive_type does not name every type a hive holds.
        std::uint32_t type = 0;
        std::size_t size = 0;
        std::unique_ptr<char, decltype(&std::free)> data(
            hivex_value_value(h, *v, reinterpret_cast<hive_type*>(&type), &size), &std::free);
        if (!name || (!data && size)) return false;
        out.push_back({path, {name.get(), type, std::string(data ? data.get() : "", size)}});
    }
    std::unique_ptr<hive_node_h, decltype(&std::free)> children(hivex_node_children(h, node), &std::free);
    if (!children) return false;
    for (const hive_node_h* c = children.get(); *c; ++c) {
        std::unique_ptr<char, decltype(&std::free)> name(hivex_node_name(h, *c), &std::free);
        if (!name || !collect(h, *c, path.empty() ? name.get() : path + "\\" + name.get(), out)) return false;
    }
    return true;
}

std::optional<std::vector<StoredValue>> everyValue(const std::string& file) {
    Hive h(hivex_open(file.c_str(), 0), &hivex_close);
    std::vector<StoredValue> out;
    if (!h || !collect(h.get(), hivex_root(h.get()), "", out)) return std::nullopt;
    return out;
}

std::string utf16Text(const std::string& bytes) {
    std::u16string text;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
        text.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) | static_cast<unsigned char>(bytes[i + 1]) << 8));
    return cp932::encode(text);
}

// The whole hive read through libhivex, then every value of it (or every `stride`-th, for a
// large hive) through the engine, which must give the same type and data (text as code page
// 932, as the A functions give it).
void expectReadWhole(const std::string& file, std::size_t stride = 1) {
    const auto values = everyValue(file);
    ASSERT_TRUE(values) << "libhivex cannot read all of " << file;
    for (std::size_t i = 0; i < values->size(); i += stride) {
        const StoredValue& v = (*values)[i];
        // Names the A functions cannot name are left to libhivex.
        const auto ascii = [](const std::string& name) {
            return std::all_of(name.begin(), name.end(), [](char c) { return c > 0 && c < 0x7F; });
        };
        if (!ascii(v.key) || !ascii(v.value.name)) continue;
        Key key = 0;
        ASSERT_EQ(RegOpenKeyExA(LocalMachine, ("Software\\" + v.key).c_str(), 0, KeyRead, &key), status::Success) << v.key;
        const testsupport::Read read = testsupport::queryWhole(key, v.value.name.c_str());
        ASSERT_EQ(read.code, status::Success) << v.value.name;
        EXPECT_EQ(read.type, v.value.type) << v.value.name;
        const bool text = v.value.type == RegSz || v.value.type == RegExpandSz || v.value.type == RegMultiSz;
        EXPECT_EQ(read.data, text ? utf16Text(v.value.bytes) : v.value.bytes) << v.key << "\\" << v.value.name;
        EXPECT_EQ(RegCloseKey(key), status::Success);
    }
}

// Whether the segments of the big data of the Winlogon value `name` lie in the file in the
// order of their list, as some readers join them.
bool segmentsAscend(const std::string& file, const char* name) {
    HiveImage h(testsupport::fileBytes(file));
    const HiveImage::Cell data = h.cell(testsupport::valueCellOf(file, testsupport::WinlogonInHive, name)).ref(vk::DataOffset);
    if (data.get(db::Signature, 2) != "db") return false;
    const HiveImage::Cell list = data.ref(db::SegmentList);
    for (std::size_t i = 1; i < data.field16(db::SegmentCount); ++i)
        if (list.field(4 * i) <= list.field(4 * (i - 1))) return false;
    return true;
}

class Growth : public testing::TestWithParam<std::uint32_t>, protected testsupport::HiveFile {
protected:
    // The default hive, as tight as a hive gets (hivex leaves little free space), in the
    // format under test.
    void makeHive() {
        ASSERT_EQ(hive::ensureDefaultHive(file), status::Success);
        format(GetParam());
        point();
    }
    std::uint64_t size() const { return std::filesystem::file_size(file); }
};

std::string text(unsigned seed, std::size_t most) {
    // Lengths that wander over the whole range, and text of both widths.
    const std::size_t length = (seed * 2654435761u >> 7) % (most + 1);
    std::u16string t;
    for (std::size_t i = 0; i < length; ++i) t.push_back(i % 3 == 0 ? u'あ' + static_cast<char16_t>((seed + i) % 80) : u'a' + (seed + i) % 26);
    return cp932::encode(t);
}

TEST_P(Growth, TwoHundredRegistersStayWithinOneBinOfTheFirst) {
    ASSERT_NO_FATAL_FAILURE(makeHive());
    std::uint64_t afterFirst = 0;
    for (unsigned round = 0; round < 200; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        // What register writes, every value changed: the logon choice flips, the texts change
        // in content and length (the notice text up to the most its box takes).
        Key key = 0;
        ASSERT_EQ(RegOpenKeyExA(LocalMachine, testsupport::WinlogonKey, 0, KeyAllAccess, &key), status::Success);
        auto set = [&](const char* name, const std::string& value) {
            const std::string stored = value + '\0';
            ASSERT_EQ(RegSetValueExA(key, name, 0, RegSz, reinterpret_cast<const std::uint8_t*>(stored.data()),
                                     static_cast<std::uint32_t>(stored.size())),
                      status::Success) << name;
        };
        auto remove = [&](const char* name) {
            const Status s = RegDeleteValueA(key, name);
            ASSERT_TRUE(s == status::Success || s == status::FileNotFound) << name;
        };
        const bool autoLogon = round % 2 == 0;
        if (autoLogon) {
            set("AutoAdminLogon", "1");
            remove("DontDisplayLastUserName");
        } else {
            remove("AutoAdminLogon");
            set("DontDisplayLastUserName", "1");
            set("ShutdownWithoutLogon", round % 4 == 1 ? "1" : "0");
        }
        set("DefaultUserName", text(round * 7 + 1, 16));
        if (round % 5 == 4) remove("DefaultPassword");
        else set("DefaultPassword", text(round * 11 + 2, 16));
        set("LegalNoticeCaption", text(round * 13 + 3, 120));
        set("LegalNoticeText", text(round * 17 + 4, 1023));
        ASSERT_EQ(RegCloseKey(key), status::Success);

        if (round == 0) afterFirst = size();
        EXPECT_LE(size(), afterFirst + 4096);
        ASSERT_EQ(structureFault(contents()), "");
        ASSERT_NO_FATAL_FAILURE(expectReadWhole(file));
    }
}

TEST_P(Growth, TwentyCommitsOfOneMegabyteValueGrowByAtMostTwiceIt) {
    ASSERT_NO_FATAL_FAILURE(makeHive());
    const std::uint64_t before = size();
    constexpr std::size_t Megabyte = 1 << 20;
    std::string data(Megabyte, '\0');
    for (unsigned round = 0; round < 20; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>((i * 7 + round) & 0xFF);
        Key key = 0;
        ASSERT_EQ(RegOpenKeyExA(LocalMachine, testsupport::WinlogonKey, 0, KeyAllAccess, &key), status::Success);
        ASSERT_EQ(RegSetValueExA(key, "Large", 0, RegBinary, reinterpret_cast<const std::uint8_t*>(data.data()),
                                 static_cast<std::uint32_t>(data.size())),
                  status::Success);
        ASSERT_EQ(RegCloseKey(key), status::Success);
        EXPECT_LE(size(), before + 2 * Megabyte);
        ASSERT_EQ(structureFault(contents()), "");
        const auto large = testsupport::readValue(file, "Large");
        ASSERT_TRUE(large);
        EXPECT_TRUE(large->bytes == data);
        if (GetParam() >= 4) {
            EXPECT_TRUE(segmentsAscend(file, "Large")) << "the segments of big data lie out of their order";
        }
    }
    ASSERT_NO_FATAL_FAILURE(expectReadWhole(file));
    // So a reader that joins them in the order of the file reads the value right.
    if (!platformtest::have("reglookup")) GTEST_SKIP() << "reglookup is not installed";
    EXPECT_TRUE(testsupport::reglookupData(file, testsupport::WinlogonInHive, "Large") == data);
}

INSTANTIATE_TEST_SUITE_P(Formats, Growth, testing::Values(3u, 5u),
                         [](const auto& info) { return "Format1_" + std::to_string(info.param); });

// --- hives that Windows wrote ----------------------------------------------------------------

struct RealHive {
    const char* file;
    const char* key; // below HKEY_LOCAL_MACHINE, inside the hive
};
void PrintTo(const RealHive& row, std::ostream* os) { *os << row.file; }

class RealHives : public testing::TestWithParam<RealHive>, protected testsupport::HiveFile {};

// Real free space is scarce and scattered, and real bins come in many sizes: registers over a
// copy of a hive that Windows wrote keep it within a bin of its size after the first, and every
// file written is sound. A copy whose last write did not complete is made clean first (its
// sequence numbers made equal), as Windows would leave it after replaying its logs.
TEST_P(RealHives, RegistersOnAHiveWindowsWroteStayWithinOneBin) {
    const std::string folder = VANTORIO_REAL_HIVES;
    const std::string packed = folder + "/" + GetParam().file + ".xz";
    if (!std::filesystem::exists(packed)) GTEST_SKIP() << "no hives of Windows in " << folder;
    const platformtest::Outcome unpacked = platformtest::launch({"xz", {"-dc", packed}});
    if (unpacked.status != 0) GTEST_SKIP() << "xz cannot unpack " << GetParam().file;
    HiveImage h(unpacked.out);
    h.base(regf::Sequence2, h.base(regf::Sequence1));
    overwrite(h);
    const auto before = everyValue(file);
    ASSERT_TRUE(before);
    point();

    const std::string big = std::string(40000, 'b');
    std::uint64_t afterFirst = 0;
    for (unsigned round = 0; round < 20; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        Key key = 0;
        ASSERT_EQ(RegOpenKeyExA(LocalMachine, GetParam().key, 0, KeyAllAccess, &key), status::Success);
        for (const char* name : {"VantorioUser", "VantorioNotice", "VantorioCaption"}) {
            const std::string value = text(round * 31 + static_cast<unsigned>(name[8]), name[8] == 'N' ? 1023 : 40) + '\0';
            ASSERT_EQ(RegSetValueExA(key, name, 0, RegSz, reinterpret_cast<const std::uint8_t*>(value.data()),
                                     static_cast<std::uint32_t>(value.size())),
                      status::Success);
        }
        std::string blob = big;
        blob[round] = 'x';
        ASSERT_EQ(RegSetValueExA(key, "VantorioBlob", 0, RegBinary, reinterpret_cast<const std::uint8_t*>(blob.data()),
                                 static_cast<std::uint32_t>(blob.size())),
                  status::Success);
        ASSERT_EQ(RegCloseKey(key), status::Success);
        if (round == 0) afterFirst = std::filesystem::file_size(file);
        EXPECT_LE(std::filesystem::file_size(file), afterFirst + 4096);
        ASSERT_EQ(structureFault(contents()), "");
    }
    // Everything the hive held is still there, beside the new values, and reads whole.
    const auto after = everyValue(file);
    ASSERT_TRUE(after);
    EXPECT_EQ(after->size(), before->size() + 4);
    for (std::size_t i = 0, j = 0; i < before->size() && j < after->size(); ++j) {
        if ((*after)[j].value.name.rfind("Vantorio", 0) == 0) continue;
        EXPECT_EQ((*after)[j].key, (*before)[i].key);
        EXPECT_TRUE((*after)[j].value == (*before)[i].value) << (*before)[i].key << "\\" << (*before)[i].value.name;
        ++i;
    }
    ASSERT_NO_FATAL_FAILURE(expectReadWhole(file, 37));
}

INSTANTIATE_TEST_SUITE_P(Windows, RealHives,
                         testing::Values(RealHive{"NTUSER.DAT", "Software\\Environment"},
                                         RealHive{"SYSTEM_WIN_10_1709", "Software\\Setup"}),
                         [](const auto& info) {
                             std::string name = info.param.file;
                             std::erase(name, '.');
                             return name;
                         });

// --- the size limit --------------------------------------------------------------------------

// Watches a folder for any file made, changed or moved into it.
class FolderWatch {
public:
    explicit FolderWatch(const std::string& folder) : fd_(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
        if (fd_ >= 0) inotify_add_watch(fd_, folder.c_str(), IN_CREATE | IN_MODIFY | IN_MOVED_TO | IN_ATTRIB);
    }
    ~FolderWatch() {
        if (fd_ >= 0) ::close(fd_);
    }
    bool quiet() const {
        char buffer[4096];
        return fd_ >= 0 && ::read(fd_, buffer, sizeof buffer) < 0 && errno == EAGAIN;
    }

private:
    int fd_;
};

class SizeLimit : public testing::Test, protected testsupport::HiveFile {
protected:
    std::size_t userValue = 0;  // where the hive keeps DefaultUserName's value cell (a file offset)

    // A hive whose bins reach `end`: after the bins of a small hive, one bin up to the limit
    // holding one cell in use whose inside is a hole of the file, then `more` (bins beyond
    // the limit, whole). Nothing near 2 GiB is ever written.
    void makeHugeHive(const std::string& more = {}) {
        make({testsupport::textValue("DefaultUserName", u"Administrator"), testsupport::textValue("AutoAdminLogon", u"1")});
        userValue = testsupport::valueCellOf(file, testsupport::WinlogonInHive, "DefaultUserName");
        ASSERT_EQ(image().cell(userValue).get(vk::Signature, 2), "vk");
        testsupport::growToTheLimit(file, more);
    }

    // A change that no free space of the small hive holds: it needs a bin at the end.
    void expectRefused(const char* name) {
        struct stat before {};
        ASSERT_EQ(stat(file.c_str(), &before), 0);
        Key key = 0;
        ASSERT_EQ(RegOpenKeyExA(LocalMachine, testsupport::WinlogonKey, 0, KeyAllAccess, &key), status::Success);
        const std::string big(64 * 1024, 'b');
        ASSERT_EQ(RegSetValueExA(key, name, 0, RegBinary, reinterpret_cast<const std::uint8_t*>(big.data()),
                                 static_cast<std::uint32_t>(big.size())),
                  status::Success);
        const FolderWatch watch(dir.path());
        EXPECT_EQ(RegCloseKey(key), status::DiskFull);
        const FailureDetail detail = LastFailureDetail();
        EXPECT_EQ(detail.reason, FailureReason::SizeLimit);
        EXPECT_EQ(detail.path, file);
        // Refused before anything was made: no new file, no copy begun, the hive untouched.
        EXPECT_TRUE(watch.quiet()) << "the commit made or changed a file";
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
        struct stat after {};
        ASSERT_EQ(stat(file.c_str(), &after), 0);
        EXPECT_EQ(after.st_ino, before.st_ino);
        EXPECT_EQ(after.st_size, before.st_size);
        EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
        EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
        EXPECT_EQ(after.st_blocks, before.st_blocks);
    }
};

TEST_F(SizeLimit, ACommitThatNeedsABinBeyondItWritesNothing) {
    ASSERT_NO_FATAL_FAILURE(makeHugeHive());
    // The hive is sound and reads as before.
    Key key = 0;
    ASSERT_EQ(RegOpenKeyExA(LocalMachine, testsupport::WinlogonKey, 0, KeyRead, &key), status::Success);
    const testsupport::Read user = testsupport::queryWhole(key, "DefaultUserName");
    EXPECT_EQ(user.code, status::Success);
    EXPECT_STREQ(user.data.c_str(), "Administrator");
    EXPECT_EQ(RegCloseKey(key), status::Success);
    expectRefused("Large");
}

TEST_F(SizeLimit, OffsetsWithTheTopBitSetAreDamageEvenInsideTheBins) {
    // A bin beyond the limit with a sound data cell, which DefaultUserName's data is made to
    // name: the offset lies inside the bins, yet no cell of a file may be there.
    const std::string beyond = testsupport::newBin(hive::BinsLimit, {std::string("x\0y\0z\0\0\0", 8)});
    ASSERT_NO_FATAL_FAILURE(makeHugeHive(beyond));
    // Its DataSize and DataOffset, side by side: six bytes of data in the cell beyond the limit.
    const std::string field = bytes32(6) + bytes32(hive::BinsLimit + static_cast<std::uint32_t>(hive::BinHeaderSize));
    const int fd = ::open(file.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(pwrite(fd, field.data(), 8, static_cast<off_t>(userValue + cell::Payload + vk::DataSize)), 8);
    ::close(fd);

    Key key = 0;
    ASSERT_EQ(RegOpenKeyExA(LocalMachine, testsupport::WinlogonKey, 0, KeyAllAccess, &key), status::Success);
    EXPECT_EQ(testsupport::queryWhole(key, "DefaultUserName").code, status::RegistryCorrupt);
    EXPECT_EQ(testsupport::queryWhole(key, "AutoAdminLogon").code, status::Success);
    EXPECT_EQ(RegCloseKey(key), status::Success);
    // Nor is a hive whose bins already pass the limit ever written, whatever the change.
    expectRefused("Small");
}

} // namespace
