#include <gtest/gtest.h>

#include "platform/ui/Contrast.hpp"

namespace {

using platform::contrastRatio;

TEST(Contrast, RatiosAndCorrections) {
    struct Case {
        QColor a;
        QColor b;
        double ratio;
    };
    // Reference values of the accessibility guidelines' formula.
    const Case cases[] = {
        {Qt::black, Qt::white, 21.0},
        {Qt::white, Qt::white, 1.0},
        {QColor(0x76, 0x76, 0x76), Qt::white, 4.54},
        {QColor(0x30, 0x8c, 0xc6), Qt::white, 3.69},
    };
    for (const auto& c : cases) {
        EXPECT_NEAR(contrastRatio(c.a, c.b), c.ratio, 0.01) << c.a.name().toStdString();
        EXPECT_NEAR(contrastRatio(c.b, c.a), c.ratio, 0.01);
    }
    // A faint selection is darkened under white text until it reads, and only as far as that.
    const QColor faint(0x30, 0x8c, 0xc6);
    const QColor fixed = platform::legibleBackground(faint, Qt::white);
    EXPECT_GE(contrastRatio(fixed, Qt::white), 4.5);
    EXPECT_LT(contrastRatio(fixed, Qt::white), 5.0);
    EXPECT_LT(fixed.lightness(), faint.lightness());
    // Under dark text it is lightened; a pair that reads is left alone.
    EXPECT_GT(platform::legibleBackground(QColor(0x40, 0x40, 0x40), Qt::black).lightness(), 0x40);
    EXPECT_EQ(platform::legibleBackground(Qt::white, Qt::black), QColor(Qt::white));
    // A quieter mix stays at 4.5:1 or more.
    for (const QColor& background : {QColor(Qt::white), QColor(0x2b, 0x2b, 0x2b), fixed}) {
        const QColor text = background.lightness() > 128 ? QColor(Qt::black) : QColor(Qt::white);
        EXPECT_GE(contrastRatio(platform::legibleMix(text, background, 0.3), background), 4.5);
    }
    // A tint that reads on the light base stays as it is; on a dark base it is lightened until it reads
    // (a dark desktop theme's selection blue on its base: 1.6:1 as given).
    const QColor tint(0x12, 0x60, 0x8a);
    EXPECT_EQ(platform::legibleForeground(tint, Qt::white), tint);
    const QColor onDark = platform::legibleForeground(tint, QColor(0x3d, 0x3d, 0x3d));
    EXPECT_GE(contrastRatio(onDark, QColor(0x3d, 0x3d, 0x3d)), 4.5);
    EXPECT_GT(onDark.lightness(), tint.lightness());
    EXPECT_GE(contrastRatio(platform::legibleForeground(tint, QColor(0x3d, 0x3d, 0x3d), 3.0),
                            QColor(0x3d, 0x3d, 0x3d)),
              3.0);
    // Chip labels: black on pale and bright colours, white on deep ones.
    EXPECT_EQ(platform::blackOrWhiteOn(QColor(255, 255, 153)), QColor(Qt::black));
    EXPECT_EQ(platform::blackOrWhiteOn(QColor(0, 255, 255)), QColor(Qt::black));
    EXPECT_EQ(platform::blackOrWhiteOn(QColor(0x12, 0x60, 0x8a)), QColor(Qt::white));
}

}  // namespace
