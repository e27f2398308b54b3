#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "runtime/command_line.h"

namespace {

std::string Tail(std::vector<const char*> arguments, std::size_t capacity = 256) {
    std::vector<char> buffer(capacity, 'X');
    runtime::BuildCommandTail(arguments, buffer);
    return std::string(buffer.data(), strnlen(buffer.data(), buffer.size()));
}

TEST(CommandTail, JoinsArgumentsWithSpaces) {
    EXPECT_EQ(Tail({}), "");
    EXPECT_EQ(Tail({"0"}), "0");
    EXPECT_EQ(Tail({"1", "2"}), "1 2");
}

TEST(CommandTail, QuotesWhatWouldSplitOrVanish) {
    EXPECT_EQ(Tail({"1 "}), "\"1 \"");
    EXPECT_EQ(Tail({""}), "\"\"");
    EXPECT_EQ(Tail({"a b", "c"}), "\"a b\" c");
}

TEST(CommandTail, StopsAtCapacityWithoutOverrun) {
    std::array<char, 4> buffer{};
    const std::array<const char*, 1> arguments{"123456"};
    runtime::BuildCommandTail(arguments, buffer);
    EXPECT_EQ(std::string(buffer.data(), 4), "1234");  // full: no room for the NUL
    EXPECT_EQ(Tail({"12", "34"}, 4), "12 3");
}

struct StrToIntCase {
    const char* text;
    bool ok;
    std::int32_t value;
};

void PrintTo(const StrToIntCase& c, std::ostream* os) {
    *os << '"' << c.text << '"';
}

class StrToIntCases : public testing::TestWithParam<StrToIntCase> {};

TEST_P(StrToIntCases, ResultAndValue) {
    const auto& c = GetParam();
    std::int32_t value = 99;
    EXPECT_EQ(runtime::StrToInt(c.text, value), c.ok) << c.text;
    EXPECT_EQ(value, c.value) << c.text;
}

INSTANTIATE_TEST_SUITE_P(Table, StrToIntCases,
                         testing::Values(StrToIntCase{"12", true, 12}, StrToIntCase{" 7", true, 7},
                                         StrToIntCase{"3x", false, 3},
                                         StrToIntCase{"abc", false, 0}, StrToIntCase{"", false, 0},
                                         StrToIntCase{"2147483648", false, 214748364},
                                         StrToIntCase{"-2147483648", true, -2147483647 - 1},
                                         StrToIntCase{"2147483647", true, 2147483647},
                                         StrToIntCase{"-2147483649", false, -214748364},
                                         StrToIntCase{"+5", true, 5}, StrToIntCase{"-", false, 0},
                                         StrToIntCase{"1 ", false, 1}, StrToIntCase{"-1", true, -1},
                                         StrToIntCase{"99999999999", false, 999999999}));

TEST(StrToInt, StopsAtAnEmbeddedNul) {
    std::int32_t value = 0;
    EXPECT_TRUE(runtime::StrToInt(std::string_view("42\0garbage", 10), value));
    EXPECT_EQ(value, 42);
}

}  // namespace
