// The order field's number syntax.
#include <gtest/gtest.h>

#include <optional>

#include "Global.h"

namespace {

struct Case {
    const char* text;
    std::optional<std::uint32_t> value;
};

const Case Cases[] = {
    {"0", 0u},
    {"42", 42u},
    {"007", 7u},
    {"  7", 7u},
    {"+7", 7u},
    {"-1", 0xFFFFFFFFu},
    {"-0", 0u},
    {"2147483647", 2147483647u},
    {"-2147483648", 0x80000000u},
    {"$FF", 255u},
    {"$ff", 255u},
    {"x10", 16u},
    {"X10", 16u},
    {"0x10", 16u},
    {"0X1a", 26u},
    {"$FFFFFFFF", 0xFFFFFFFFu},
    {"0x00000000FFFFFFFF", 0xFFFFFFFFu},
    {"-0x1", 0xFFFFFFFFu},
    {"  -$2", 0xFFFFFFFEu},
    {"0x80000000", 0x80000000u},
    // Not numbers.
    {"", std::nullopt},
    {"   ", std::nullopt},
    {"7 ", std::nullopt},
    {"+", std::nullopt},
    {"-", std::nullopt},
    {"$", std::nullopt},
    {"x", std::nullopt},
    {"0x", std::nullopt},
    {"-0x", std::nullopt},
    {"2147483648", std::nullopt},
    {"-2147483649", std::nullopt},
    {"99999999999999999999", std::nullopt},
    {"$100000000", std::nullopt},
    {"0x1G", std::nullopt},
    {"12a", std::nullopt},
    {"1.5", std::nullopt},
    {"+-1", std::nullopt},
    {"--1", std::nullopt},
    {"\t7", std::nullopt},
    {"0x-1", std::nullopt},
    {"$ 1", std::nullopt},
    {"abc", std::nullopt},
};

TEST(OrderNumber, ParsesExactlyTheFieldsSyntax) {
    for (const Case& c : Cases) {
        EXPECT_EQ(ParseOrderNumber(c.text), c.value) << '"' << c.text << '"';
    }
}

}  // namespace
