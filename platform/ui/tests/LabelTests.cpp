#include <gtest/gtest.h>

#include <QFontMetricsF>
#include <QVBoxLayout>

#include <cmath>

#include "platform/ui/Label.hpp"
#include "platform/ui/LayoutConstraint.hpp"
#include "platform/ui/TextMeasure.hpp"
#include "platform/ui/tests/WidgetKitTestSupport.hpp"

namespace {
class LabelTest : public widgetkit_test::WidgetTest {};
}  // namespace

TEST_F(LabelTest, ShrinksToFitDownToTheMinimumScaleThenElides) {
    platform::Label label(QStringLiteral("Kauppatori, Helsinki"));
    QFont font = label.font();
    font.setPixelSize(20);
    label.setFont(font);
    const double natural = platform::textSize(font, label.text()).width();
    label.resize(static_cast<int>(natural * 0.6), 30);
    label.show();                        // a hidden widget gets its resize only when shown
    EXPECT_EQ(label.appliedScale(), 1);  // not adjusting: elided at the end
    EXPECT_TRUE(label.shownText().endsWith(QChar(0x2026)));

    label.setAdjustsFontSizeToFitWidth(true);
    label.setMinimumScaleFactor(0.25);
    EXPECT_LT(label.appliedScale(), 0.65);
    EXPECT_GT(label.appliedScale(), 0.45);
    EXPECT_EQ(label.shownText(), label.text());
    EXPECT_LE(platform::textSize(platform::scaledFont(font, label.appliedScale()), label.text()).width(),
              label.contentsRect().width());

    label.setMinimumScaleFactor(0.9);  // not allowed that small: shrinks what it may, elides the rest
    label.setLineBreakMode(Qt::ElideMiddle);
    EXPECT_DOUBLE_EQ(label.appliedScale(), 0.9);
    EXPECT_TRUE(label.shownText().contains(QChar(0x2026)));
    EXPECT_TRUE(label.shownText().startsWith(QStringLiteral("Kau")));
    EXPECT_TRUE(label.shownText().endsWith(QStringLiteral("nki")));

    label.sizeToFit();
    EXPECT_EQ(label.appliedScale(), 1);
    EXPECT_EQ(label.shownText(), label.text());

    EXPECT_EQ(platform::scaledFont(font, 1.5).pixelSize(), 30);
    QFont points;
    points.setPointSizeF(12);
    EXPECT_DOUBLE_EQ(platform::scaledFont(points, 1.7).pointSizeF(), 12 * 1.7);
}

TEST_F(LabelTest, TighteningMovesLettersCloserBeforeEliding) {
    platform::Label label(QStringLiteral("5000 km"));
    QFont font = label.font();
    font.setPixelSize(20);
    label.setFont(font);
    const double natural = platform::textSize(font, label.text()).width();
    label.setAllowsDefaultTighteningForTruncation(true);
    label.resize(static_cast<int>(std::ceil(natural)) + 2, 30);
    label.show();
    EXPECT_EQ(label.appliedLetterSpacing(), 0) << "text that fits is not tightened";
    EXPECT_EQ(label.shownText(), label.text());

    // A little too narrow: tightening alone makes it fit, nothing is cut.
    label.resize(static_cast<int>(natural) - 2, 30);
    EXPECT_LT(label.appliedLetterSpacing(), 0);
    EXPECT_EQ(label.shownText(), label.text());
    EXPECT_LE(platform::textSize(label.QLabel::font(), label.text()).width(), label.contentsRect().width());

    // Far too narrow: tightened as far as allowed, then elided.
    label.resize(static_cast<int>(natural * 0.5), 30);
    EXPECT_GE(label.appliedLetterSpacing(), -0.1 * QFontMetricsF(font).height());
    EXPECT_TRUE(label.shownText().endsWith(QChar(0x2026)));

    label.setAllowsDefaultTighteningForTruncation(false);
    EXPECT_EQ(label.appliedLetterSpacing(), 0);
}

TEST_F(LabelTest, Screenshot) {
    QWidget window;
    window.setStyleSheet(QStringLiteral("background: white"));
    window.setFixedWidth(180);
    auto* layout = new QVBoxLayout(&window);
    const QString text = QStringLiteral("Suomenlinna Sea Fortress, Helsinki");
    for (int variant = 0; variant < 3; ++variant) {
        auto* label = new platform::Label(text, &window);
        QFont font = label->font();
        font.setPixelSize(16);
        label->setFont(font);
        if (variant == 1) {
            label->setAdjustsFontSizeToFitWidth(true);
            label->setMinimumScaleFactor(0.25);
        }
        if (variant == 2) label->setLineBreakMode(Qt::ElideMiddle);
        platform::setTextColor(label, QColor(0, 0, 0, variant == 0 ? 255 : 160));
        layout->addWidget(label);
    }
    window.show();
    widgetkit_test::saveScreenshot(widgetkit_test::render(window), QStringLiteral("labels_fit"));
}

TEST(LayoutConstraint, ConstantsAndActivationReachTheLayout) {
    platform::LayoutConstraintList constraints;
    int layouts = 0;
    auto top = constraints.add(QStringLiteral("top"), 8);
    constraints.setOnChange([&] { ++layouts; });
    auto height = constraints.add(QStringLiteral("searchHeight"), 44, false);
    EXPECT_EQ(constraints.find(QStringLiteral("searchHeight")), height);
    EXPECT_EQ(constraints.find(QStringLiteral("missing")), nullptr);
    EXPECT_EQ(height->valueOr(0), 0);
    height->setActive(true);
    height->setConstant(52);
    height->setConstant(52);  // unchanged: no layout
    top->setConstant(0);
    EXPECT_EQ(layouts, 3);
    EXPECT_EQ(height->valueOr(0), 52);
    EXPECT_EQ(constraints.all().size(), 2u);
}
