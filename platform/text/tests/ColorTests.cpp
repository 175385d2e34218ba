#include <gtest/gtest.h>

#include <string>

#include "platform/text/Color.hpp"

namespace platform {
namespace {

std::string hexByte(int k) {
    static constexpr char digits[] = "0123456789ABCDEF";
    return {digits[k >> 4], digits[k & 15]};
}

TEST(Color, RgbaInitialiserLandsInExtendedSRGB) {
    const Color tint(50 / 255.0, 100 / 255.0, 150 / 255.0, 1.0);
    EXPECT_EQ(tint.space(), Color::Space::ExtendedSRGB);
    EXPECT_EQ(tint.components(), (Color::RGBA{50 / 255.0, 100 / 255.0, 150 / 255.0, 1.0}));
    EXPECT_EQ(tint.convertedToSRGB().components(), tint.components());  // same numbers
    EXPECT_EQ(tint.hexString(false), "326496");
    EXPECT_EQ(tint.description(), "UIExtendedSRGBColorSpace 0.196078 0.392157 0.588235 1");
}

TEST(Color, HexTextTruncatesAndRefusesOutOfGamut) {
    struct Row {
        Color color;
        std::optional<std::string> six;
        std::optional<std::string> eight;
    };
    const Row rows[] = {
        {Color::standardRed(), "FF0000", "FF0000FF"},
        {Color::standardBlue(), "0000FF", "0000FFFF"},
        {Color(246 / 255.0, 170 / 255.0, 0, 1), "F6AA00", "F6AA00FF"},
        {Color(1, 0, 0, 0.5), "FF0000", "FF00007F"},  // 127.5 truncated
        {Color(1.2, 0, 0, 1), std::nullopt, std::nullopt},
        {Color(-0.01, 0, 0, 1), std::nullopt, std::nullopt},
        {Color::displayP3(1, 0, 0, 1), std::nullopt, std::nullopt},
        {Color::displayP3(1, 1, 1, 1), "FFFFFF", "FFFFFFFF"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(row.color.hexString(false), row.six) << row.color.description();
        EXPECT_EQ(row.color.hexString(true), row.eight) << row.color.description();
    }
}

TEST(Color, DisplayP3ConvertsWithoutClamping) {
    // Pure P3 red lies outside sRGB: published value about (1.0931, -0.2267, -0.1501).
    const Color::RGBA red = Color::displayP3(1, 0, 0, 1).convertedToSRGB().components();
    EXPECT_NEAR(red.red, 1.0931, 1e-3);
    EXPECT_NEAR(red.green, -0.2267, 1e-3);
    EXPECT_NEAR(red.blue, -0.1501, 1e-3);
    EXPECT_FALSE(Color::displayP3(1, 0, 0, 1).isWithinSRGBGamut());
    EXPECT_FALSE(Color::displayP3(0, 1, 0, 1).isWithinSRGBGamut());

    // The white point and greys map to themselves; a muted P3 colour stays inside.
    const Color::RGBA grey = Color::displayP3(0.5, 0.5, 0.5, 0.25).convertedToSRGB().components();
    EXPECT_NEAR(grey.red, 0.5, 1e-9);
    EXPECT_NEAR(grey.green, 0.5, 1e-9);
    EXPECT_NEAR(grey.blue, 0.5, 1e-9);
    EXPECT_EQ(grey.alpha, 0.25);
    EXPECT_TRUE(Color::displayP3(0.6, 0.5, 0.4, 1).isWithinSRGBGamut());
    EXPECT_EQ(Color::displayP3(1, 0, 0, 1).description(), "UIDisplayP3ColorSpace 1 0 0 1");
}

TEST(Color, EveryByteSurvivesTheRoundTripThroughComponents) {
    // k / 255.0 * 255.0 is not always exactly k in binary floating point, and
    // the P3 matrix adds its own rounding; no byte may come back as k - 1.
    for (int k = 0; k <= 255; ++k) {
        const std::string expected = hexByte(k);
        EXPECT_EQ(Color(k / 255.0, k / 255.0, k / 255.0, 1).hexString(false), expected + expected + expected)
            << k;
        EXPECT_EQ(Color::displayP3(k / 255.0, k / 255.0, k / 255.0, 1).hexString(false),
                  expected + expected + expected)
            << k;
    }
}

}  // namespace
}  // namespace platform
