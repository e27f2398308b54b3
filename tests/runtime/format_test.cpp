#include <gtest/gtest.h>

#include "runtime/format.h"

namespace {

using runtime::Dialect;
using runtime::FormatFixed;
using runtime::FormatInt;

TEST(FormatInt, PadsOnTheLeftAndNeverCuts) {
    EXPECT_EQ(FormatInt(5, 2).View(), " 5");
    EXPECT_EQ(FormatInt(123, 2).View(), "123");
    EXPECT_EQ(FormatInt(-7, 4).View(), "  -7");
    EXPECT_EQ(FormatInt(0, 0).View(), "0");
    EXPECT_EQ(FormatInt(-2147483648LL, 0).View(), "-2147483648");
    EXPECT_EQ(FormatInt(42, -3).View(), "42");
}

struct FixedCase {
    double value;
    int places;
    int width;
    const char* expected;
};

void PrintTo(const FixedCase& c, std::ostream* os) {
    *os << c.value << "," << c.places << "," << c.width;
}

class FormatFixedCases : public testing::TestWithParam<FixedCase> {};

TEST_P(FormatFixedCases, RoundsHalfUpThenCuts) {
    const FixedCase& c = GetParam();
    EXPECT_EQ(FormatFixed(c.value, c.places, c.width, Dialect::tamblin).View(), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, FormatFixedCases,
    testing::Values(FixedCase{12.34, 1, 5, " 12.3"}, FixedCase{0.0, 1, 5, "  0.0"},
                    FixedCase{99.96, 1, 5, "100.0"}, FixedCase{99.992, 1, 5, "100.0"},
                    FixedCase{96.0, 1, 5, " 96.0"}, FixedCase{0.05, 1, 0, "0.1"},
                    FixedCase{0.04999, 1, 0, "0.0"}, FixedCase{-1.25, 1, 6, "  -1.3"},
                    FixedCase{-0.01, 1, 0, "0.0"}, FixedCase{7.0, 0, 3, "  7"},
                    FixedCase{123456.789, 2, 5, "123456.79"},
                    FixedCase{1e20, 1, 0, "100000000000000000000.0"}));

TEST(FormatFixed, QuellorPrintsOneLeadingSpaceAtWidthZero) {
    EXPECT_EQ(FormatFixed(3.14, 1, 0, Dialect::quellor).View(), " 3.1");
    EXPECT_EQ(FormatFixed(3.14, 1, 0, Dialect::tamblin).View(), "3.1");
    EXPECT_EQ(FormatFixed(3.14, 1, 5, Dialect::quellor).View(), "  3.1");
}

TEST(FormatFixed, HugeValuesAreNotCut) {
    const auto text = FormatFixed(1.7e308, 1, 5, Dialect::tamblin);
    EXPECT_EQ(text.size, 311u);                  // 309 digits, the point and one decimal
    EXPECT_EQ(text.View().substr(0, 3), "169");  // the double nearest 1.7e308 lies below it
}

}  // namespace
