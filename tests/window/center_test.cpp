// CenterForm on a form and a screen of the test's own: single precision, unrounded, negative
// positions allowed, left set before top, and the floating-point errors.
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>
#include <vector>

#include <gtest/gtest.h>

#include "window/FormCenter.h"

namespace {

struct FakeScreen : runtime::Screen {
    float width, height;
    FakeScreen(float w, float h) : width(w), height(h) {}
    float Width() const override { return width; }
    float Height() const override { return height; }
};

// Records every write of a position, in order.
struct FakeForm : runtime::Form {
    float left = -1, top = -1, width, height;
    std::vector<char> writes;
    FakeForm(float w, float h) : width(w), height(h) {}
    float Left() const override { return left; }
    void setLeft(float twips) override { left = twips, writes.push_back('L'); }
    float Top() const override { return top; }
    void setTop(float twips) override { top = twips, writes.push_back('T'); }
    float Width() const override { return width; }
    float Height() const override { return height; }
};

constexpr float Max = std::numeric_limits<float>::max();
constexpr float NaN = std::numeric_limits<float>::quiet_NaN();

struct CenterCase {
    const char* name;
    float screenWidth, screenHeight, width, height;
    float left, top;             // expected positions when no error
    std::optional<int> error;    // the error raised
    std::vector<char> writes;    // positions written before it returned or raised
};

void PrintTo(const CenterCase& row, std::ostream* os) { *os << row.name; }

class Centering : public ::testing::TestWithParam<CenterCase> {};

TEST_P(Centering, PlacesTheForm) {
    const CenterCase& row = GetParam();
    FakeScreen screen(row.screenWidth, row.screenHeight);
    FakeForm form(row.width, row.height);
    if (row.error) {
        try {
            window::CenterForm(form, screen);
            ADD_FAILURE() << "no error raised";
        } catch (const runtime::Error& e) {
            EXPECT_EQ(e.number(), *row.error);
        }
    } else {
        window::CenterForm(form, screen);
        EXPECT_EQ(form.left, row.left);
        EXPECT_EQ(form.top, row.top);
    }
    EXPECT_EQ(form.writes, row.writes);
    // The size is never written.
    EXPECT_EQ(std::memcmp(&form.width, &row.width, sizeof(float)), 0);
    EXPECT_EQ(std::memcmp(&form.height, &row.height, sizeof(float)), 0);
}

INSTANTIATE_TEST_SUITE_P(
    FormCenter, Centering,
    ::testing::Values(
        CenterCase{"Typical", 15360, 11520, 6000, 4000, 4680, 3460, {}, {'L', 'T'}},
        CenterCase{"HalfTwipKept", 15360, 11520, 6015, 4000, 4672.5f, 3460, {}, {'L', 'T'}},
        CenterCase{"HalfTwipTop", 15360, 11520, 6000, 4015, 4680, 3452.5f, {}, {'L', 'T'}},
        CenterCase{"TopZero", 15360, 11520, 6000, 10920, 4680, 0, {}, {'L', 'T'}},
        CenterCase{"TopNegative", 15360, 11520, 6000, 11000, 4680, -40, {}, {'L', 'T'}},
        CenterCase{"TallerThanTheScreen", 15360, 11520, 6000, 13000, 4680, -1040, {}, {'L', 'T'}},
        CenterCase{"LeftNegative", 15360, 11520, 16000, 4000, -320, 3460, {}, {'L', 'T'}},
        CenterCase{"SameSize", 9600, 7200, 9600, 7200, 0, -300, {}, {'L', 'T'}},
        CenterCase{"SinglePrecision", 16777218, 11520, 1, 4000, 8388608, 3460, {}, {'L', 'T'}},
        CenterCase{"OverflowInLeft", Max, 11520, -Max, 4000, 0, 0, 6, {}},
        CenterCase{"OverflowInTopAfterLeft", 15360, Max, 6000, -Max, 4680, 0, 6, {'L'}},
        CenterCase{"InvalidLeft", NaN, 11520, 6000, 4000, 0, 0, 5, {}},
        CenterCase{"InvalidTopAfterLeft", 15360, 11520, 6000, NaN, 4680, 0, 5, {'L'}},
        CenterCase{"InfinityLessInfinity", std::numeric_limits<float>::infinity(), 11520,
                   std::numeric_limits<float>::infinity(), 4000, 0, 0, 5, {}}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
