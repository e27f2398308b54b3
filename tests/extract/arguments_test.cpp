#include <gtest/gtest.h>

#include <array>
#include <string>

#include "extract/arguments.h"

namespace {

using extract::ArgumentCount;

std::string Argument(std::string_view text, std::int32_t n, std::size_t capacity = 256) {
    std::string out(capacity, 'X');
    extract::GetArgument(text, n, std::span(out.data(), out.size()));
    return out.substr(0, out.find('\0'));
}

TEST(Arguments, CountFollowsRunsOfSpaces) {
    EXPECT_EQ(ArgumentCount(""), 0);
    EXPECT_EQ(ArgumentCount("1"), 1);
    EXPECT_EQ(ArgumentCount("1 "), 1);
    EXPECT_EQ(ArgumentCount("1 2"), 2);
    EXPECT_EQ(ArgumentCount("1    2   "), 2);
    EXPECT_EQ(ArgumentCount("   "), 0);
    EXPECT_EQ(ArgumentCount(std::string_view("1\0 2", 4)), 1);
}

TEST(Arguments, QuotesGroupAndAreDropped) {
    EXPECT_EQ(ArgumentCount("\"0\""), 1);
    EXPECT_EQ(Argument("\"0\"", 1), "0");
    // A quoted stretch with spaces is one argument for the count and the fetch alike.
    EXPECT_EQ(ArgumentCount("\"1 2\""), 1);
    EXPECT_EQ(Argument("\"1 2\"", 1), "1 2");
    EXPECT_EQ(ArgumentCount("a\"b c\"d e"), 2);
    EXPECT_EQ(Argument("a\"b c\"d e", 1), "ab cd");
    EXPECT_EQ(Argument("\"unterminated stretch", 1), "unterminated stretch");
    EXPECT_EQ(ArgumentCount("\"\""), 1);
    EXPECT_EQ(Argument("\"\"", 1), "");
}

TEST(Arguments, FetchesTheNthAndCutsToTheBuffer) {
    EXPECT_EQ(Argument("alpha beta gamma", 2), "beta");
    EXPECT_EQ(Argument("alpha beta gamma", 3), "gamma");
    EXPECT_EQ(Argument("alpha beta", 3), "");
    EXPECT_EQ(Argument("alphabet", 1, 4), "alp");
}

}  // namespace
