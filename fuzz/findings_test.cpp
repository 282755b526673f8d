// What the fuzzers found, replayed as tests: each row is an input that once made a target go
// wrong, kept as its bytes or as the small change to a sound hive that makes it. And each target
// on the hives it starts from, so that the bodies themselves stay right in the ordinary build.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "targets.h"

namespace {

using Target = std::string (*)(const std::uint8_t*, std::size_t);

std::string run(Target target, const std::string& input) {
    return target(reinterpret_cast<const std::uint8_t*>(input.data()), input.size());
}

struct Finding {
    const char* name;
    Target target;
    std::function<std::string()> input;
};

const std::vector<Finding> Findings = {
};

class Found : public testing::TestWithParam<Finding> {};

TEST_P(Found, StaysFixed) { EXPECT_EQ(run(GetParam().target, GetParam().input()), ""); }

INSTANTIATE_TEST_SUITE_P(Fuzz, Found, testing::ValuesIn(Findings),
                         [](const auto& info) { return std::string(info.param.name); });
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(Found);

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
}

} // namespace
