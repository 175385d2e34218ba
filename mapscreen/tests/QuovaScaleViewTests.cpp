#include <gtest/gtest.h>

#include <QApplication>
#include <QEvent>
#include <QHBoxLayout>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QVBoxLayout>

#include <memory>

#include "mapscreen/QuovaScaleView.hpp"
#include "platform/ui/GraphicsContext.hpp"
#include "platform/ui/TextMeasure.hpp"
#include "platform/ui/tests/WidgetKitTestSupport.hpp"

namespace tervolo::mapscreen {
namespace {

const QColor kBlue(50, 100, 150);
const QColor kWhite(255, 255, 255);
const QColor kMap(40, 40, 40);  // a dark map under the bar, so white and blue both stand out

class QuovaScaleViewTest : public widgetkit_test::WidgetTest {
  protected:
    // The view drawn over the dark map colour at `scale` pixels per point.
    static QImage render(QuovaScaleView& view, double scale) {
        QImage image((QSizeF(view.size()) * scale).toSize(), QImage::Format_ARGB32_Premultiplied);
        image.setDevicePixelRatio(scale);
        image.fill(kMap);
        QPainter painter(&image);
        platform::GraphicsContext context(&painter);
        view.draw(context);
        return image;
    }
    // The colour at a point given in view points.
    static QColor at(const QImage& image, double x, double y) {
        const double scale = image.devicePixelRatio();
        return image.pixelColor(int(x * scale), int(y * scale));
    }
};

// Counts the paints a widget gets.
class PaintCounter : public QObject {
  public:
    int paints = 0;
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) ++paints;
        return false;
    }
};

TEST_F(QuovaScaleViewTest, GeometryOfTheBar) {
    struct Case {
        double width, height;
        QRectF bar;
        double segment;
        double tickTop;
        QRectF label;
    } cases[] = {
        {220, 30, QRectF(24, 18, 172, 12), 43, 12, QRectF(172, 0, 48, 10)},
        {248, 30, QRectF(24, 18, 200, 12), 50, 12, QRectF(200, 0, 48, 10)},
        {100, 60, QRectF(24, 36, 52, 24), 13, 24, QRectF(52, 0, 48, 20)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.width);
        const auto g = QuovaScaleView::geometryFor(QSizeF(c.width, c.height));
        EXPECT_EQ(g.bar, c.bar);
        EXPECT_DOUBLE_EQ(g.segmentWidth, c.segment);
        for (int k = 0; k < 4; ++k) {
            EXPECT_EQ(g.segments[k], QRectF(c.bar.x() + k * c.segment, c.bar.y(), c.segment, c.bar.height()));
        }
        for (int k = 0; k < 5; ++k) {
            EXPECT_EQ(g.ticks[k], QLineF(24 + k * c.segment, c.tickTop, 24 + k * c.segment, c.height));
        }
        EXPECT_EQ(g.label, c.label);
    }

    // The view lays its label out the same way.
    QuovaScaleView view;
    EXPECT_EQ(view.scaleInset(), 24);
    EXPECT_EQ(view.buttonBlue(), kBlue);
    view.resize(220, 30);
    view.show();
    EXPECT_EQ(view.maxLabelFrame(), QRectF(172, 0, 48, 10));
    // The label widget keeps the frame's centre line and width, but is tall enough for its text.
    const QRect label = view.maxLabel()->geometry();
    EXPECT_EQ(label.x(), 172);
    EXPECT_EQ(label.width(), 48);
    EXPECT_EQ(label.y(), 0);
    EXPECT_GE(label.height(),
              int(platform::textSize(view.maxLabel()->font(), QStringLiteral("500 m")).height()));
}

TEST_F(QuovaScaleViewTest, TheLabelIsMadeOnFirstUse) {
    QuovaScaleView view;
    EXPECT_TRUE(view.findChildren<platform::Label*>().isEmpty());
    platform::Label* label = view.maxLabel();
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(view.findChildren<platform::Label*>().size(), 1);
    EXPECT_EQ(label->parentWidget(), &view);
    EXPECT_EQ(view.maxLabel(), label);
    EXPECT_EQ(label->alignment(), Qt::AlignCenter);
    EXPECT_TRUE(label->allowsDefaultTighteningForTruncation());
    EXPECT_EQ(label->font().weight(), QFont::DemiBold);
    EXPECT_EQ(label->font().pixelSize(), 12);
    EXPECT_EQ(label->palette().color(QPalette::WindowText), kBlue);
    // Laying out again keeps the one label.
    view.resize(248, 30);
    view.show();
    view.resize(220, 30);
    EXPECT_EQ(view.findChildren<platform::Label*>().size(), 1);
}

TEST_F(QuovaScaleViewTest, SegmentsOutlineAndTicksInBothModes) {
    QuovaScaleView view;
    view.resize(220, 30);
    for (bool light : {false, true}) {
        SCOPED_TRACE(light);
        view.setLightMode(light);
        const QColor line = light ? kWhite : kBlue;
        // At two pixels per point the one-point lines cover whole pixels.
        const QImage image = render(view, 2);
        // Segment centres: blue, white, blue, white in both modes.
        EXPECT_EQ(at(image, 24 + 21.5, 24), kBlue);
        EXPECT_EQ(at(image, 67 + 21.5, 24), kWhite);
        EXPECT_EQ(at(image, 110 + 21.5, 24), kBlue);
        EXPECT_EQ(at(image, 153 + 21.5, 24), kWhite);
        // The outline's top edge, half a point above the bar (over the map).
        EXPECT_EQ(at(image, 88.5, 17.5), line);
        EXPECT_EQ(at(image, 45.5, 17.5), line);
        // Above the bar only the ticks are drawn: one point wide at each segment edge.
        for (double x : {24.0, 67.0, 110.0, 153.0, 196.0}) {
            SCOPED_TRACE(x);
            EXPECT_EQ(at(image, x - 0.25, 13), line);
            EXPECT_EQ(at(image, x + 0.25, 13), line);
            EXPECT_EQ(at(image, x + 1, 13), kMap) << "the ticks keep a width of 1";
            EXPECT_EQ(at(image, x - 1.25, 13), kMap);
        }
        EXPECT_EQ(at(image, 45.5, 11.5), kMap) << "ticks start at H - 1.5 h";
        EXPECT_EQ(at(image, 10, 25), kMap) << "nothing in the inset";
        EXPECT_EQ(at(image, 210, 25), kMap);
    }
}

TEST_F(QuovaScaleViewTest, LightModeRedrawsOnlyOnAChange) {
    QuovaScaleView view;
    view.resize(220, 30);
    platform::Label* label = view.maxLabel();
    label->setText(QStringLiteral("500 m"));
    view.show();
    QApplication::processEvents();
    PaintCounter viewPaints, labelPaints;
    view.installEventFilter(&viewPaints);
    label->installEventFilter(&labelPaints);

    struct Step {
        bool set;
        int viewPaints, labelPaints;
        QColor text;
    } steps[] = {
        {true, 1, 1, kWhite},
        {true, 1, 1, kWhite},  // the same value again: no redraw
        {false, 2, 2, kBlue},
        {false, 2, 2, kBlue},
    };
    for (const auto& step : steps) {
        view.setLightMode(step.set);
        QApplication::processEvents();
        EXPECT_EQ(view.lightMode(), step.set);
        EXPECT_EQ(viewPaints.paints, step.viewPaints);
        EXPECT_GE(labelPaints.paints, step.labelPaints);
        EXPECT_LE(labelPaints.paints, step.viewPaints);
        EXPECT_EQ(label->palette().color(QPalette::WindowText), step.text);
    }
    // A label made in light mode starts white.
    QuovaScaleView light;
    light.setLightMode(true);
    EXPECT_EQ(light.maxLabel()->palette().color(QPalette::WindowText), kWhite);
}

TEST_F(QuovaScaleViewTest, NothingIsDrawnWithoutAPainter) {
    QuovaScaleView view;
    view.resize(220, 30);
    platform::GraphicsContext none(nullptr);
    view.draw(none);  // must not crash
    QImage image(10, 10, QImage::Format_ARGB32);
    QPainter inactive;
    platform::GraphicsContext idle(&inactive);
    view.draw(idle);
    SUCCEED();
}

// A stand-in for the map under the bar: a light street map, or dark imagery.
class MapBackdrop : public QWidget {
  public:
    explicit MapBackdrop(bool dark) : dark_(dark) {}

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        QLinearGradient gradient(0, 0, width(), height());
        gradient.setColorAt(0, dark_ ? QColor(38, 52, 40) : QColor(242, 239, 233));
        gradient.setColorAt(1, dark_ ? QColor(62, 70, 58) : QColor(226, 232, 220));
        painter.fillRect(rect(), gradient);
        painter.setPen(QPen(dark_ ? QColor(90, 96, 80) : QColor(255, 255, 255), 3));
        painter.drawLine(0, height() * 2 / 3, width(), height() / 3);
    }

  private:
    bool dark_;
};

TEST_F(QuovaScaleViewTest, Screenshots) {
    struct Shot {
        const char* name;
        bool light;
        double scale;
    } shots[] = {
        {"scale_plain", false, 1},
        {"scale_light_over_dark_map", true, 1},
        {"scale_plain_2x", false, 2},
        {"scale_light_over_dark_map_2x", true, 2},
    };
    struct Bar {
        int width;
        const char* text;
    } bars[] = {{248, "500 m"}, {169, "1000 ft"}, {220, "5000 km"}, {122, "20 km"}};
    for (const auto& shot : shots) {
        MapBackdrop backdrop(shot.light);
        backdrop.resize(300, 4 * 50 + 10);
        auto* column = new QVBoxLayout(&backdrop);
        for (const auto& bar : bars) {
            auto* view = new QuovaScaleView;
            view->setFixedSize(bar.width, 30);
            view->setLightMode(shot.light);
            view->maxLabel()->setText(QString::fromUtf8(bar.text));
            column->addWidget(view, 0, Qt::AlignHCenter);
        }
        backdrop.show();
        QApplication::processEvents();
        QImage image((QSizeF(backdrop.size()) * shot.scale).toSize(), QImage::Format_ARGB32_Premultiplied);
        image.setDevicePixelRatio(shot.scale);
        image.fill(Qt::transparent);
        backdrop.render(&image);
        widgetkit_test::saveScreenshot(image, QString::fromUtf8(shot.name));
    }
}

}  // namespace
}  // namespace tervolo::mapscreen
