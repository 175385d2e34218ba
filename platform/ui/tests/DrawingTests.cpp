#include <gtest/gtest.h>

#include <QPainter>

#include <cmath>
#include <optional>

#include "platform/ui/DrawingShadow.hpp"
#include "platform/ui/GraphicsContext.hpp"
#include "platform/ui/ShapeLayer.hpp"
#include "platform/ui/TextMeasure.hpp"
#include "platform/ui/tests/WidgetKitTestSupport.hpp"

using platform::GraphicsContext;
using platform::ImageContext;

namespace {

class DrawingTest : public widgetkit_test::WidgetTest {};

// 8×8: the first row red, the rest blue.
QImage redTopRow() {
    QImage image(8, 8, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::blue);
    for (int x = 0; x < 8; ++x) image.setPixelColor(x, 0, Qt::red);
    return image;
}

bool isRed(QColor c) {
    return c.red() > 200 && c.green() < 60 && c.blue() < 60;
}

}  // namespace

// A red top row: the platform draw puts it at the rect's bottom, a context flipped the way tile
// drawing flips it gets it back on top, and an upright draw keeps it on top.
TEST_F(DrawingTest, ImagesKeepThePlatformOrientation) {
    const QImage source = redTopRow();
    struct Case {
        const char* name;
        bool flipFirst;
        bool upright;
        int redRow;
    };
    const Case cases[] = {
        {"quartz", false, false, 7 + 2},
        {"quartz in a flipped context", true, false, 2},
        {"upright", false, true, 2},
    };
    QImage sheet(3 * 14, 14, QImage::Format_ARGB32_Premultiplied);
    sheet.fill(Qt::white);
    int column = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ImageContext image(QSizeF(12, 12));
        auto& context = image.context();
        if (c.flipFirst) {
            context.translateCTM(0, 12);
            context.scaleCTM(1, -1);
        }
        if (c.upright) {
            platform::drawImageUpright(image.painter(), QRectF(2, 2, 8, 8), source);
        } else {
            context.drawImage(QRectF(2, c.flipFirst ? 2 : 2, 8, 8), source);
        }
        const QImage result = image.image();
        for (int y = 2; y < 10; ++y) {
            EXPECT_EQ(isRed(result.pixelColor(5, y)), y == c.redRow) << "row " << y;
        }
        EXPECT_EQ(result.pixelColor(0, 0).alpha(), 0);  // outside the rect stays transparent
        QPainter(&sheet).drawImage(QPoint(column++ * 14 + 1, 1), result);
    }
    widgetkit_test::saveScreenshot(sheet.scaled(sheet.size() * 8),
                                   QStringLiteral("drawing_image_orientation"));

    EXPECT_EQ(platform::cropImage(source, QRect(0, 0, 8, 1)).pixelColor(3, 0), QColor(Qt::red));
    EXPECT_EQ(platform::cropImage(source, QRect(6, 6, 10, 10)).size(), QSize(2, 2));
    EXPECT_TRUE(platform::cropImage(source, QRect(20, 20, 4, 4)).isNull());
}

TEST_F(DrawingTest, ShadowedRoundedRectProbes) {
    ImageContext image(QSizeF(120, 100), true);
    image.painter().fillRect(QRectF(0, 0, 120, 100), Qt::white);
    platform::Shadow shadow{Qt::black, QPointF(0, 8), 0.5, 8};
    platform::drawShadowedRoundedRect(image.painter(), QRectF(30, 20, 60, 40), 12, QColor(220, 40, 40),
                                      shadow);
    const QImage result = image.image();
    widgetkit_test::saveScreenshot(result, QStringLiteral("drawing_shadowed_rounded_rect"));

    EXPECT_TRUE(isRed(result.pixelColor(60, 40)));   // the body
    EXPECT_FALSE(isRed(result.pixelColor(31, 21)));  // cut off by the corner radius
    auto grey = [&](int x, int y) { return result.pixelColor(x, y).red(); };
    EXPECT_EQ(grey(5, 5), 255);             // far away: untouched
    EXPECT_LT(grey(60, 64), 200);           // just below the body: the offset shadow
    EXPECT_GT(grey(60, 16), grey(60, 64));  // above is lighter than below
    EXPECT_EQ(grey(25, 45), grey(94, 45));  // left and right alike (pixels 30…89)
    EXPECT_LT(grey(60, 74), 255);           // the blur reaches past the offset edge
    EXPECT_GT(grey(60, 74), grey(60, 64));  // and fades outwards
}

TEST_F(DrawingTest, ContextStateAndPaths) {
    ImageContext image(QSizeF(40, 40));
    auto& context = image.context();
    context.setFillColor(Qt::green);
    context.setStrokeColor(Qt::black);
    context.setLineWidth(4);
    context.saveGState();
    context.setFillColor(Qt::red);
    context.translateCTM(20, 20);
    context.setAlpha(0.5);
    context.restoreGState();
    // Fill then stroke: the stroke covers the fill along the edge.
    context.beginPath();
    context.addRect(QRectF(10, 10, 20, 20));
    context.drawPath(platform::PathDrawingMode::FillStroke);
    const QImage result = image.image();
    EXPECT_EQ(result.pixelColor(20, 20), QColor(Qt::green));  // the saved colour, transform and alpha
    EXPECT_EQ(result.pixelColor(10, 20), QColor(Qt::black));
    EXPECT_EQ(result.pixelColor(35, 35).alpha(), 0);

    // The path is consumed by drawing: a second stroke draws nothing.
    context.strokePath();
    EXPECT_EQ(image.image(), result);

    // No current painter: nothing happens, nothing crashes.
    GraphicsContext idle(nullptr);
    idle.saveGState();
    idle.fillRect(QRectF(0, 0, 10, 10));
    idle.restoreGState();
    EXPECT_FALSE(idle.isActive());

    ImageContext doubled(QSizeF(10, 5), false, 2);
    EXPECT_EQ(doubled.image().size(), QSize(20, 10));
    EXPECT_EQ(doubled.image().devicePixelRatio(), 2);
}

// A sharp corner (20 degrees) keeps its miter up to the platform's default limit of 10 line widths;
// a lower limit cuts it short.
TEST_F(DrawingTest, MiterLimitIsThePlatformsTen) {
    auto strokeV = [](std::optional<double> limit) {
        ImageContext image(QSizeF(60, 80));
        auto& context = image.context();
        context.setLineWidth(6);
        if (limit) context.setMiterLimit(*limit);
        context.beginPath();
        context.moveTo(30 - 40 * std::sin(M_PI / 18), 40 + 40 * std::cos(M_PI / 18));
        context.addLineTo(30, 40);
        context.addLineTo(30 + 40 * std::sin(M_PI / 18), 40 + 40 * std::cos(M_PI / 18));
        context.strokePath();
        return image.image();
    };
    // Ink above the corner point: the miter's tip reaches 3 ÷ sin(10°) = 17.3 above it.
    auto inkAboveCorner = [](const QImage& image) {
        int ink = 0;
        for (int y = 0; y < 40; ++y) {
            for (int x = 0; x < image.width(); ++x) ink += image.pixelColor(x, y).alpha();
        }
        return ink;
    };
    const QImage byDefault = strokeV(std::nullopt);
    EXPECT_EQ(byDefault, strokeV(10.0));
    EXPECT_GT(byDefault.pixelColor(30, 28).alpha(), 128);  // 12 above the corner, inside the tip
    EXPECT_GT(inkAboveCorner(byDefault), inkAboveCorner(strokeV(4.0)));
    EXPECT_GT(inkAboveCorner(strokeV(4.0)), inkAboveCorner(strokeV(1.0)));
}

TEST_F(DrawingTest, ShapeLayerStrokesBetweenStartAndEnd) {
    QPainterPath check;
    check.moveTo(10, 30);
    check.lineTo(30, 50);  // 28.28 long
    check.lineTo(70, 10);  // 56.57 long
    const double total = std::hypot(20, 20) + std::hypot(40, 40);

    const QPainterPath half = platform::trimmedPath(check, 0, 0.5);
    ASSERT_EQ(half.elementCount(), 3);
    const double along = total / 2 - std::hypot(20, 20);  // into the second segment
    EXPECT_NEAR(half.elementAt(2).x, 30 + along / std::sqrt(2.0), 1e-9);
    EXPECT_NEAR(half.elementAt(2).y, 50 - along / std::sqrt(2.0), 1e-9);
    EXPECT_TRUE(platform::trimmedPath(check, 0.6, 0.4).isEmpty());
    const QPainterPath tail = platform::trimmedPath(check, 0.5, 1);
    EXPECT_NEAR(tail.elementAt(0).x, half.elementAt(2).x, 1e-9);

    QImage sheet(240, 80, QImage::Format_ARGB32_Premultiplied);
    sheet.fill(Qt::white);
    QPainter painter(&sheet);
    int column = 0;
    for (double end : {0.25, 0.5, 1.0}) {
        platform::ShapeLayer layer;
        layer.path = check;
        layer.fillColor = Qt::transparent;
        layer.strokeColor = QColor(20, 150, 60);
        layer.lineWidth = 6;
        layer.lineCap = platform::LineCap::Round;
        layer.lineJoin = platform::LineJoin::Round;
        layer.strokeEnd = end;
        layer.position = QPointF(column++ * 80, 10);
        layer.shadow = {Qt::black, QPointF(0, 2), 0.4, 3};
        layer.paint(painter);
    }
    painter.end();
    widgetkit_test::saveScreenshot(sheet, QStringLiteral("drawing_check_marks"));
    auto green = [&](int x, int y) {
        const QColor c = sheet.pixelColor(x, y);
        return c.green() > 120 && c.red() < 80;
    };
    EXPECT_TRUE(green(20, 50));       // first quarter drawn in the first mark
    EXPECT_FALSE(green(60, 30));      // but not the rising stroke
    EXPECT_TRUE(green(80 + 40, 50));  // half: a little of the rising stroke
    EXPECT_FALSE(green(80 + 60, 30));
    EXPECT_TRUE(green(160 + 60, 30));  // whole
}

TEST_F(DrawingTest, TextSizeMeasuresLinesInTheFont) {
    QFont font;
    font.setPixelSize(20);
    const QSizeF one = platform::textSize(font, QStringLiteral("Tervolo"));
    const QSizeF two = platform::textSize(font, QStringLiteral("Tervolo\nTervolo map"));
    EXPECT_DOUBLE_EQ(one.width(), QFontMetricsF(font).horizontalAdvance(QStringLiteral("Tervolo")));
    EXPECT_GT(two.width(), one.width());
    EXPECT_NEAR(two.height(), 2 * one.height(), 2);
    EXPECT_EQ(platform::textSize(font, QString()).width(), 0);
    QFont bigger = font;
    bigger.setPixelSize(40);
    EXPECT_GT(platform::textSize(bigger, QStringLiteral("Tervolo")).width(), 1.8 * one.width());
}
