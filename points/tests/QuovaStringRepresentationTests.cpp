// Colour strings: the decimal and hex readers with their exact log lines, the
// component reader and the hex writer.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "points/AppTextsAndColors.hpp"
#include "points/QuovaStringRepresentation.hpp"
#include "points/tests/PointsTestSupport.hpp"

namespace tervolo::points {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class ColorStringTest : public testing::PointsTest {};

constexpr const char* kDecimalInput = "quovaInitWithDecimalString(rgbString:): Illegal input value ";
constexpr const char* kDecimalAlpha = "quovaInitWithDecimalString(rgbString:): Illegal alpha value ";
constexpr const char* kHexInput = "quovaInitWithHexString(fullRGBString:): Illegal input value ";

void expectComponents(const platform::Color& color, const platform::Color::RGBA& scaled) {
    EXPECT_EQ(color.space(), platform::Color::Space::ExtendedSRGB);
    const auto rgba = color.components();
    EXPECT_EQ(rgba.red, scaled.red / 255.0);
    EXPECT_EQ(rgba.green, scaled.green / 255.0);
    EXPECT_EQ(rgba.blue, scaled.blue / 255.0);
    EXPECT_EQ(rgba.alpha, scaled.alpha / 255.0);
}

TEST_F(ColorStringTest, DecimalReaderTable) {
    const std::string input = kDecimalInput;
    const std::string alpha = kDecimalAlpha;
    const struct {
        const char* text;
        std::optional<platform::Color::RGBA> expected;
        std::string logLine;
    } cases[] = {
        {"246,170,0", platform::Color::RGBA{246, 170, 0, 255}, ""},
        {"255,75,0,128", platform::Color::RGBA{255, 75, 0, 128}, ""},
        {"+1,-0,0", platform::Color::RGBA{1, 0, 0, 255}, ""},
        {"246, 170, 0", std::nullopt, input + "246, 170, 0"},
        {"246,170", std::nullopt, ""},
        {"1,2,3,4,5", std::nullopt, ""},
        {"FF4B00", std::nullopt, ""},  // hex text: refused silently
        {"246,170,0,", std::nullopt, alpha + "246,170,0,"},
        {",170,0", std::nullopt, input + ",170,0"},
        {"1.5,2,3", std::nullopt, input + "1.5,2,3"},
        {"256,0,0", std::nullopt, input + "256,0,0"},  // out of range: refused
        {"-1,0,0", std::nullopt, input + "-1,0,0"},    // out of range: refused
        {"0,0,0,300", std::nullopt, alpha + "0,0,0,300"},
        {"99999999999999999999,0,0", std::nullopt, input + "99999999999999999999,0,0"},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.text);
        log_->clear();
        auto color = quovaInitWithDecimalString(row.text);
        ASSERT_EQ(color.has_value(), row.expected.has_value());
        if (color) expectComponents(*color, *row.expected);
        if (row.logLine.empty()) {
            EXPECT_THAT(log_->texts(), IsEmpty());
        } else {
            EXPECT_THAT(log_->texts(logging::QLLogFlag::debug), ElementsAre(row.logLine));
        }
    }
}

TEST_F(ColorStringTest, HexReaderTable) {
    const std::string input = kHexInput;
    const struct {
        const char* text;
        std::optional<platform::Color::RGBA> expected;
        std::string logLine;
    } cases[] = {
        {"FF0000", platform::Color::RGBA{255, 0, 0, 255}, ""},
        {"#FF0000", platform::Color::RGBA{255, 0, 0, 255}, ""},
        {"ff0000", platform::Color::RGBA{255, 0, 0, 255}, ""},
        {"#ff0000FF", platform::Color::RGBA{255, 0, 0, 255}, ""},
        {"FF000080", platform::Color::RGBA{255, 0, 0, 128}, ""},
        {"FF4B00FF", platform::Color::RGBA{255, 75, 0, 255}, ""},
        {"FF00000", std::nullopt, input + "FF00000"},  // seven without "#": unchanged text
        {"#FF000", std::nullopt, input + "#FF000"},    // six starting with "#": "#F" is no pair
        {"FF000", std::nullopt, input + "FF000"},
        {"#FF00000", std::nullopt, input + "#FF00000"},    // eight characters: "#F" is no pair
        {"FF0000FF0", std::nullopt, input + "FF0000FF0"},  // nine without "#": unchanged text
        {"+F0000", std::nullopt, input + "+F0000"},
        {"GG0000", std::nullopt, input + "GG0000"},
        {"", std::nullopt, input},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.text);
        log_->clear();
        auto color = quovaInitWithHexString(row.text);
        ASSERT_EQ(color.has_value(), row.expected.has_value());
        if (color) expectComponents(*color, *row.expected);
        if (row.logLine.empty()) {
            EXPECT_THAT(log_->texts(), IsEmpty());
        } else {
            EXPECT_THAT(log_->texts(logging::QLLogFlag::debug), ElementsAre(row.logLine));
        }
    }
}

TEST_F(ColorStringTest, StoredTextsReadDecimalFirstThenHexWithoutDecimalLines) {
    auto decimal = colorFromStoredString("255,75,0");
    auto hex = colorFromStoredString("FF4B00FF");
    ASSERT_TRUE(decimal && hex);
    EXPECT_EQ(*decimal, *hex);
    EXPECT_THAT(log_->texts(), IsEmpty());
}

TEST_F(ColorStringTest, HexWriterTable) {
    const struct {
        platform::Color color;
        bool withAlpha;
        std::optional<std::string> expected;
    } cases[] = {
        {platform::Color(1, 0, 0, 1), false, "FF0000"},
        {platform::Color(1, 0, 0, 1), true, "FF0000FF"},
        {platform::Color(1, 0, 0, 0.5), true, "FF00007F"},  // 127.5 truncated
        {*quovaInitWithDecimalString("246,170,0"), false, "F6AA00"},
        {platform::Color::standardRed(), false, "FF0000"},
        {platform::Color(1.2, 0, 0, 1), false, std::nullopt},  // extended sRGB beyond sRGB
        {platform::Color(0, -0.1, 0, 1), false, std::nullopt},
        {platform::Color::displayP3(1, 0, 0, 1), false, std::nullopt},    // out of sRGB gamut after matching
        {platform::Color::displayP3(0.5, 0.5, 0.5, 1), false, "7F7F7F"},  // grey is the same in both spaces
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.color.description());
        EXPECT_EQ(quovaHexStringRepresentation(row.color, row.withAlpha), row.expected);
    }
    // Every palette text reads and writes back as its hex form.
    for (const auto& [text, hex] : std::vector<std::pair<const char*, const char*>>{{"246,170,0", "F6AA00"},
                                                                                    {"255,75,0", "FF4B00"},
                                                                                    {"0,176,107", "00B06B"},
                                                                                    {"25,113,255", "1971FF"},
                                                                                    {"153,0,153", "990099"},
                                                                                    {"0,0,0", "000000"}}) {
        EXPECT_EQ(quovaHexStringRepresentation(*quovaInitWithDecimalString(text), false), hex);
    }
}

}  // namespace
}  // namespace tervolo::points
