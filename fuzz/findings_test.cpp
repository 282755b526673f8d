// What the fuzz targets found, replayed as tests: each row is an input that once made a target
// go wrong, kept as its bytes or as the small change to a sound hive that makes it. And each
// target on the hives it starts from, so that the bodies themselves stay right in the ordinary
// build.
#include <gtest/gtest.h>

#include <functional>
#include <hivex.h>
#include <memory>
#include <string>
#include <vector>

#include "hive_fixture.h"
#include "targets.h"
#include "platform/bytes.h"

namespace {

using platform::le32;
using platform::put32;

using Target = std::string (*)(const std::uint8_t*, std::size_t);


// A sound hive with AutoAdminLogon and DefaultUserName, and its cells by file offset.
struct Spotted {
    std::string hive;
    std::size_t currentVersion, winlogon, autoLogon, userName;
};

Spotted spotted() {
    testsupport::TempDir dir;
    const std::string file = dir.file("hive");
    testsupport::makeHive(file, {testsupport::textValue("AutoAdminLogon", u"1"),
                                 testsupport::textValue("DefaultUserName", u"Administrator")});
    std::unique_ptr<hive_h, decltype(&hivex_close)> hx(hivex_open(file.c_str(), 0), &hivex_close);
    hive_node_h key = hivex_root(hx.get());
    for (const char* part : {"Microsoft", "Windows NT", "CurrentVersion"}) key = hivex_node_get_child(hx.get(), key, part);
    const hive_node_h winlogon = hivex_node_get_child(hx.get(), key, "Winlogon");
    return {testsupport::fileBytes(file), key, winlogon, hivex_node_get_value(hx.get(), winlogon, "AutoAdminLogon"),
            hivex_node_get_value(hx.get(), winlogon, "DefaultUserName")};
}

// Appends a bin of one page to the hive: a raw cell of 24 bytes, then a copy of the cell at
// `copied`, the rest free. The offsets of the two cells.
std::pair<std::uint32_t, std::uint32_t> appendCopy(std::string& h, std::size_t copied) {
    const std::uint32_t at = le32(h, 40);
    std::string bin(4096, '\0');
    bin.replace(0, 4, "hbin");
    put32(bin, 4, at);
    put32(bin, 8, 4096);
    put32(bin, 32, static_cast<std::uint32_t>(-24));
    const auto size = static_cast<std::uint32_t>(-static_cast<std::int32_t>(le32(h, copied)));
    bin.replace(56, size, h.substr(copied, size));
    put32(bin, 56 + size, 4096 - 56 - size);
    h += bin;
    put32(h, 40, at + 4096);
    return {at + 32, at + 56};
}

// DefaultUserName's data made to begin 16 bytes into the raw cell of appendCopy, as a cell of
// `size` bytes that lies across the copy's first bytes.
void dataAcross(std::string& h, const Spotted& s, std::uint32_t raw, std::uint32_t size, std::uint32_t dataSize) {
    put32(h, 4096 + raw + 16, static_cast<std::uint32_t>(-static_cast<std::int32_t>(size)));
    put32(h, s.userName + 4 + 4, dataSize);
    put32(h, s.userName + 4 + 8, raw + 16);
    fuzz::sealBaseBlock(h);
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
         std::string h = s.hive;
         const auto [raw, copy] = appendCopy(h, s.autoLogon);
         put32(h, 4096 + le32(h, s.winlogon + 4 + 0x28) + 4, copy); // the list names the copy
         dataAcross(h, s, raw, 16, 8);
         return h;
     }},
    // The same across the fields of its own key, which every commit rewrites.
    {"KeptDataAcrossItsKey", fuzz::commitHive, [] {
         const Spotted s = spotted();
         std::string h = s.hive;
         const auto [raw, copy] = appendCopy(h, s.winlogon);
         put32(h, 4096 + le32(h, s.currentVersion + 4 + 0x1C) + 4 + 4, copy); // the parent lists the copy
         dataAcross(h, s, raw, 96, 64);
         return h;
     }},
    // The last bin's header claims pages beyond the end of the bins. A commit that needed a
    // bin more put it there, inside what the damaged header claims, so that its cells lay
    // across the new bin's header.
    {"BinReachingPastTheEnd", fuzz::commitHive, [] {
         std::string h = spotted().hive;
         std::size_t last = 0;
         for (std::size_t at = 0; at < le32(h, 40); at += le32(h, 4096 + at + 8)) last = at;
         put32(h, 4096 + last + 8, le32(h, 4096 + last + 8) + 0x4000);
         fuzz::sealBaseBlock(h);
         return h;
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
