// What the fuzz targets found, replayed as tests: each row is an input that once made a target
// go wrong, kept as its bytes or as the small change to a sound hive that makes it. And each
// target on the hives it starts from, so that the bodies themselves stay right in the ordinary
// build.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "hive_fixture.h"
#include "targets.h"

namespace {

using testsupport::HiveImage;
using namespace testsupport::fields;

using Target = std::string (*)(const std::uint8_t*, std::size_t);

// A sound hive with AutoAdminLogon and DefaultUserName, and its cells by file offset.
struct Spotted {
    HiveImage hive;
    std::size_t currentVersion, winlogon, autoLogon, userName;
};

Spotted spotted() {
    testsupport::HiveFile hiveFile;
    hiveFile.make({testsupport::textValue("AutoAdminLogon", u"1"), testsupport::textValue("DefaultUserName", u"Administrator")});
    const std::string& file = hiveFile.file;
    return {hiveFile.image(), testsupport::keyCellOf(file, "Microsoft\\Windows NT\\CurrentVersion"),
            testsupport::keyCellOf(file, testsupport::WinlogonInHive),
            testsupport::valueCellOf(file, testsupport::WinlogonInHive, "AutoAdminLogon"),
            testsupport::valueCellOf(file, testsupport::WinlogonInHive, "DefaultUserName")};
}

// Appends a bin of one page to the hive: a raw cell of 24 bytes, then a copy of the cell at
// `copied`, the rest free. The offsets of the two cells.
std::pair<std::uint32_t, std::uint32_t> appendCopy(HiveImage& h, std::size_t copied) {
    const HiveImage::Cell original = h.cell(copied);
    const auto cells = h.addBin({std::string(20, '\0'), original.get(0, static_cast<std::size_t>(-original.size()) - cell::Payload)});
    return {cells[0], cells[1]};
}

// DefaultUserName's data made to begin 16 bytes into the raw cell of appendCopy, as a cell of
// `size` bytes that lies across the copy's first bytes.
void dataAcross(HiveImage& h, const Spotted& s, std::uint32_t raw, std::uint32_t size, std::uint32_t dataSize) {
    h.cellAt(raw + 16).size(-static_cast<std::int32_t>(size));
    h.cell(s.userName).field(vk::DataSize, dataSize).field(vk::DataOffset, raw + 16);
    h.seal();
}

std::string run(Target target, const std::string& input) {
    return target(reinterpret_cast<const std::uint8_t*>(input.data()), input.size());
}

struct Finding {
    const char* name;
    Target target;
    std::function<std::string()> input;
};

const std::vector<Finding> Findings = {
    // A value kept whose damaged data offset leads into the middle of a cell, across the value
    // cell that the commit gave up: freeing that cell rewrote the kept value's bytes.
    {"KeptDataAcrossAFreedCell", fuzz::commitHive, [] {
         const Spotted s = spotted();
         HiveImage h = s.hive;
         const auto [raw, copy] = appendCopy(h, s.autoLogon);
         h.cell(s.winlogon).ref(nk::ValueList).field(0, copy); // the list names the copy
         dataAcross(h, s, raw, 16, 8);
         return h.bytes();
     }},
    // The same across the fields of its own key, which every commit rewrites.
    {"KeptDataAcrossItsKey", fuzz::commitHive, [] {
         const Spotted s = spotted();
         HiveImage h = s.hive;
         const auto [raw, copy] = appendCopy(h, s.winlogon);
         h.cell(s.currentVersion).ref(nk::SubkeyList).field(list::Entries, copy); // the parent lists the copy
         dataAcross(h, s, raw, 96, 64);
         return h.bytes();
     }},
    // The last bin's header claims pages beyond the end of the bins. A commit that needed a
    // bin more put it there, inside what the damaged header claims, so that its cells lay
    // across the new bin's header.
    {"BinReachingPastTheEnd", fuzz::commitHive, [] {
         HiveImage h = spotted().hive;
         const std::size_t last = h.bins().back();
         h.put32(last + hbin::Size, h.u32(last + hbin::Size) + 0x4000).seal();
         return h.bytes();
     }},
};

void PrintTo(const Finding& f, std::ostream* os) { *os << f.name; }

class Found : public testing::TestWithParam<Finding> {};

TEST_P(Found, StaysFixed) { EXPECT_EQ(run(GetParam().target, GetParam().input()), ""); }

INSTANTIATE_TEST_SUITE_P(Fuzz, Found, testing::ValuesIn(Findings),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(FuzzTargets, PassOnTheHivesTheyStartFrom) {
    for (const std::string& hive : fuzz::soundHives()) {
        EXPECT_EQ(run(fuzz::readHive, hive), "");
        EXPECT_EQ(run(fuzz::commitHive, hive), "");
    }
    for (const std::string& input : fuzz::replaySeeds()) EXPECT_EQ(run(fuzz::replayHive, input), "");
    // A set of every size class on each hive, committed, then a delete and a query.
    for (char start = 0; start < 3; ++start)
        for (char size = 0; size < 8; ++size) {
            const std::string steps = {start, 0, 1, 3, size, 7, 5, 3, 1, 0, 4, 1, 0};
            EXPECT_EQ(run(fuzz::editHive, steps), "") << int(start) << " " << int(size);
        }
    // Big data whose segments begin with each signature of a cell, committed, then overwritten.
    for (char signature = 0; signature < 8; ++signature) {
        const std::string steps = {2, 0, 4, 0, 3, 15, 0, 0, 0, 0, static_cast<char>(6 + 8 * signature), 5, 0, 4, 0, 3, 5, 20, 0, 5};
        EXPECT_EQ(run(fuzz::editHive, steps), "") << int(signature);
    }
}

} // namespace
