#include <gtest/gtest.h>

#include <stdlib.h>

#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <optional>
#include <string>

#include "platform/text/Numbers.hpp"

namespace platform::text {
namespace {

struct DescribeRow {
    double value;
    const char* text;
};

TEST(Describe, ShortestRoundTripFormWithPlatformLayout) {
    const DescribeRow rows[] = {
        {48.0, "48.0"},
        {0.1, "0.1"},
        {1e-05, "1e-05"},
        {1e+16, "1e+16"},
        {-0.0, "-0.0"},
        {0.0, "0.0"},
        {1234567.125, "1234567.125"},
        {0.0001, "0.0001"},  // the smallest magnitude still in decimal form
        {0.00012345, "0.00012345"},
        {1.5e-07, "1.5e-07"},
        {9007199254740992.0, "9007199254740992.0"},  // 2^53: last decimal form
        {1.2345e+20, "1.2345e+20"},
        {5e-324, "5e-324"},  // three exponent digits when needed
        {-25.0, "-25.0"},
        {53.5511, "53.5511"},
        {0.30000000000000004, "0.30000000000000004"},
        {std::numeric_limits<double>::infinity(), "inf"},
        {-std::numeric_limits<double>::infinity(), "-inf"},
        {std::numeric_limits<double>::quiet_NaN(), "nan"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(describe(row.value), row.text) << row.text;
        if (std::isfinite(row.value)) {
            // The text reads back to the very same double.
            EXPECT_EQ(parseDouble(describe(row.value)), row.value) << row.text;
        }
    }
}

struct ParseRow {
    const char* text;
    std::optional<double> value;
};

TEST(ParseDouble, StrictDecimalWholeTextFiniteOnly) {
    const ParseRow rows[] = {
        {"48", 48.0},
        {"-33.8688", -33.8688},
        {"+9.9937", 9.9937},
        {".5", 0.5},
        {"5.", 5.0},
        {"1e-3", 0.001},
        {"1E+2", 100.0},
        {"1e-400", 0.0},  // underflow is finite: reads as zero
        {"", std::nullopt},
        {"-", std::nullopt},
        {".", std::nullopt},
        {"e5", std::nullopt},
        {" 1", std::nullopt},  // no white space on either side
        {"1 ", std::nullopt},
        {"1x", std::nullopt},  // trailing junk
        {"1e", std::nullopt},
        {"1,5", std::nullopt},
        {"0x1A", std::nullopt},  // no hexadecimal
        {"0x1p3", std::nullopt},
        {"nan", std::nullopt},
        {"NaN", std::nullopt},
        {"inf", std::nullopt},
        {"-infinity", std::nullopt},
        {"1e400", std::nullopt},  // overflow would be infinite
        {"-1e400", std::nullopt},
        {"１", std::nullopt},  // full-width digit
    };
    for (const auto& row : rows) EXPECT_EQ(parseDouble(row.text), row.value) << '"' << row.text << '"';
}

struct PrefixRow {
    const char* text;
    NumberSyntax syntax;
    std::optional<double> value;  // NaN rows compare by isnan
    size_t length;
};

TEST(ParseDoublePrefix, LongestLeadingNumber) {
    constexpr auto C = NumberSyntax::CStrtod;
    constexpr auto D = NumberSyntax::Decimal;
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const PrefixRow rows[] = {
        {"51°", C, 51.0, 2},
        {"40.12″", C, 40.12, 5},
        {"12,5", C, 12.0, 2},
        {"1e", C, 1.0, 1},
        {"1e+x", C, 1.0, 1},
        {"-.5e1z", C, -5.0, 5},
        {"abc", C, std::nullopt, 0},
        {"", C, std::nullopt, 0},
        {" 1", C, std::nullopt, 0},  // leading white space is not skipped
        {"0x1p3", C, 8.0, 5},        // strtod's forms are read in C syntax ...
        {"0x", C, 0.0, 1},
        {"infinity!", C, inf, 8},
        {"nan(1)x", C, nan, 6},
        {"1e400", C, inf, 5},
        {"0x1p3", D, 0.0, 1},  // ... and refused by the decimal syntax
        {"nan", D, std::nullopt, 0},
        {"inf", D, std::nullopt, 0},
        {"1e400", D, std::nullopt, 0},
        {"2.5e-3m", D, 0.0025, 6},
    };
    for (const auto& row : rows) {
        const auto result = parseDoublePrefix(row.text, row.syntax);
        SCOPED_TRACE(row.text);
        ASSERT_EQ(result.has_value(), row.value.has_value());
        if (!result) continue;
        if (std::isnan(*row.value)) {
            EXPECT_TRUE(std::isnan(result->first));
        } else {
            EXPECT_EQ(result->first, *row.value);
        }
        EXPECT_EQ(result->second, row.length);
    }
}

TEST(DoubleValue, LeadingNumberRestIgnored) {
    const std::pair<const char*, double> rows[] = {
        {"2,5", 2.0}, {"12abc", 12.0}, {"  42.5", 42.5},  {"\u00a0\u2003 7", 7.0},
        {"abc", 0.0}, {"", 0.0},       {"-3e2m", -300.0}, {"0x10", 0.0},
        {"nan", 0.0}, {"inf", 0.0},    {".25", 0.25},
    };
    for (const auto& [text, value] : rows) EXPECT_EQ(doubleValue(text), value) << '"' << text << '"';
    EXPECT_EQ(doubleValue("1e999"), std::numeric_limits<double>::infinity());
}

// A process locale with a comma separator must change nothing. The image
// may have no such locale installed, so one is compiled from glibc's sources
// into a temporary folder and found through LOCPATH.
class UnderCommaLocale : public ::testing::Test {
  protected:
    void SetUp() override {
        previous_ = std::setlocale(LC_ALL, nullptr);
        const char* tmp = std::getenv("TMPDIR");
        char pattern[4096];
        std::snprintf(pattern, sizeof pattern, "%s/tervolo-locale-XXXXXX", tmp && *tmp ? tmp : "/tmp");
        if (::mkdtemp(pattern) == nullptr) GTEST_SKIP() << "no temporary folder";
        folder_ = pattern;
        const std::string command =
            "localedef -i de_DE -f UTF-8 '" + folder_ + "/de_DE.UTF-8' >/dev/null 2>&1";
        (void)std::system(command.c_str());  // warnings give a non-zero status; setlocale decides
        ::setenv("LOCPATH", folder_.c_str(), 1);
        if (std::setlocale(LC_ALL, "de_DE.UTF-8") == nullptr) GTEST_SKIP() << "cannot make a de_DE locale";
        char text[32];
        std::snprintf(text, sizeof text, "%.1f", 1.5);
        ASSERT_STREQ(text, "1,5");  // the C library now really writes a comma
    }
    void TearDown() override {
        std::setlocale(LC_ALL, previous_.c_str());
        ::unsetenv("LOCPATH");
        if (!folder_.empty()) (void)std::system(("rm -rf '" + folder_ + "'").c_str());
    }
    std::string previous_;
    std::string folder_;
};

TEST_F(UnderCommaLocale, ParsingAndFormattingKeepThePoint) {
    EXPECT_EQ(parseDouble("1.5"), 1.5);
    EXPECT_EQ(parseDouble("1,5"), std::nullopt);
    EXPECT_EQ(doubleValue("2.75"), 2.75);
    EXPECT_EQ(describe(0.5), "0.5");
    EXPECT_EQ(formatC("%.6f, %.6f", 47.376887, 8.541694), "47.376887, 8.541694");
}

TEST(FormatC, PrintfFormsInCLocale) {
    EXPECT_EQ(formatC("%.0f", 2.5), "2");  // printf rounds half to even on exact halves
    EXPECT_EQ(formatC("%02d", 5), "05");
    EXPECT_EQ(formatC("%02X", 0xAB), "AB");
    EXPECT_EQ(formatC("%0*.*f", 7, 2, 3.14159), "0003.14");
    const std::string big(1000, 'x');
    EXPECT_EQ(formatC("%s!", big.c_str()), big + "!");  // longer than the stack buffer
}

}  // namespace
}  // namespace platform::text
