#include <gtest/gtest.h>

#include "backend/DecimalText.hpp"

namespace tervolo::backend {
namespace {

TEST(DecimalTextTest, StrictBase10ReadingAcceptsOnlySignAndDigitsInRange) {
    struct Case {
        const char* text;
        std::optional<int64_t> expected;
    };
    const Case cases[] = {
        {"42", 42},
        {"+7", 7},
        {"-5", -5},
        {"0", 0},
        {"007", 7},
        {"9223372036854775807", INT64_MAX},
        {"-9223372036854775808", INT64_MIN},
        {"9223372036854775808", std::nullopt},
        {"-9223372036854775809", std::nullopt},
        {" 7", std::nullopt},
        {"7 ", std::nullopt},
        {"7a", std::nullopt},
        {"", std::nullopt},
        {"+", std::nullopt},
        {"-", std::nullopt},
        {"+-1", std::nullopt},
        {"0x10", std::nullopt},
        {"1_0", std::nullopt},
        {"\xd9\xa3", std::nullopt},  // ARABIC-INDIC DIGIT THREE
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(parseDecimalText(c.text), c.expected);
    }
}

}  // namespace
}  // namespace tervolo::backend
