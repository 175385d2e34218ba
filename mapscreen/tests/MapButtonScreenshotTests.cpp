#include <gtest/gtest.h>

#include <QFont>
#include <QPainter>
#include <QPainterPath>

#include <functional>
#include <memory>
#include <vector>

#include "mapscreen/AddLocationButton.hpp"
#include "mapscreen/CenterButton.hpp"
#include "mapscreen/InfoButton.hpp"
#include "mapscreen/LocationsButton.hpp"
#include "mapscreen/MapLayersButton.hpp"
#include "mapscreen/MapStyleButton.hpp"
#include "mapscreen/SearchButton.hpp"
#include "mapscreen/ZoomInButton.hpp"
#include "mapscreen/ZoomOutButton.hpp"
#include "mapscreen/tests/ButtonKitTestSupport.hpp"
#include "platform/foundation/UserDefaults.hpp"
#include "platform/ui/tests/WidgetKitTestSupport.hpp"
#include "testsupport/TestEnvironment.hpp"

using namespace button_test;
using tervolo::mapscreen::ButtonLayer;
using tervolo::mapscreen::CenterButton;

namespace {

class MapButtonScreenshotTest : public widgetkit_test::WidgetTest {
  protected:
    tervolo::testsupport::TestEnvironment environment_;
};

constexpr int kCellWidth = 84;
constexpr int kIconArea = 72;
constexpr int kLabelHeight = 18;
constexpr int kCellHeight = kIconArea + kLabelHeight;

// Something like the drawn map under the buttons: land, water, a park and a road.
void paintMapBackdrop(QPainter& painter, const QRectF& area) {
    painter.save();
    painter.setClipRect(area);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillRect(area, QColor(242, 239, 233));
    QPainterPath water;
    water.moveTo(area.left(), area.top() + area.height() * 0.55);
    bool up = true;
    for (double x = area.left(); x <= area.right() + 40; x += 40, up = !up) {
        water.quadTo(x + 20, area.top() + area.height() * (up ? 0.3 : 0.8), x + 40,
                     area.top() + area.height() * 0.55);
    }
    water.lineTo(area.right() + 40, area.bottom());
    water.lineTo(area.left(), area.bottom());
    water.closeSubpath();
    painter.fillPath(water, QColor(170, 211, 223));
    for (double x = area.left() + 30; x < area.right(); x += 170) {
        painter.setBrush(QColor(200, 250, 204));
        painter.setPen(Qt::NoPen);
        painter.drawEllipse(QPointF(x, area.top() + 20), 38, 26);
    }
    QPainterPath road;
    road.moveTo(area.left(), area.bottom() - 10);
    road.lineTo(area.right(), area.top() + 10);
    painter.strokePath(road, QPen(QColor(190, 180, 170), 9));
    painter.strokePath(road, QPen(Qt::white, 6));
    painter.restore();
}

struct Item {
    QString label;
    std::function<void(QPainter&, QPoint, int side)> paint;
};

template <class Button>
Item styleKitItem(const char* label) {
    return {QString::fromUtf8(label), [](QPainter& painter, QPoint at, int side) {
                Button button;
                button.resize(side, side);
                // The map screen's styling: round, clipped, no border for the kit's buttons.
                button.setTintColor(TervoloButtonKit::buttonBlue());
                button.setLayer(ButtonLayer{side / 2.0, Qt::black, 0, true});
                button.render(&painter, at, QRegion(), QWidget::DrawChildren);
            }};
}

Item centerItem(const char* label, int mode) {
    return {QString::fromUtf8(label), [mode](QPainter& painter, QPoint at, int side) {
                platform::UserDefaults::standard().set(CenterButton::kTrackingModeKey, mode);
                CenterButton button;
                button.resize(side, side);
                // Not a kit button: it also gets the blue border.
                button.setTintColor(TervoloButtonKit::buttonBlue());
                button.setLayer(ButtonLayer{side / 2.0, TervoloButtonKit::buttonBlue(), 2, true});
                button.render(&painter, at, QRegion(), QWidget::DrawChildren);
            }};
}

Item kitItem(const char* label, IconDrawing draw) {
    return {QString::fromUtf8(label), [draw](QPainter& painter, QPoint at, int side) {
                platform::GraphicsContext context(&painter);
                context.saveGState();
                context.translateCTM(at.x(), at.y());
                draw(context, QRectF(0, 0, side, side));
                context.restoreGState();
            }};
}

QImage sheet(double scale) {
    const std::vector<Item> items = {
        styleKitItem<tervolo::mapscreen::InfoButton>("info"),
        styleKitItem<tervolo::mapscreen::ZoomInButton>("zoom in"),
        styleKitItem<tervolo::mapscreen::ZoomOutButton>("zoom out"),
        styleKitItem<tervolo::mapscreen::AddLocationButton>("add"),
        styleKitItem<tervolo::mapscreen::LocationsButton>("points"),
        styleKitItem<tervolo::mapscreen::SearchButton>("search"),
        styleKitItem<tervolo::mapscreen::MapStyleButton>("map style"),
        styleKitItem<tervolo::mapscreen::MapLayersButton>("layers"),
        centerItem("mode 0", 0),
        centerItem("mode 1", 1),
        centerItem("mode 2", 2),
        kitItem("padlock", filled(TervoloButtonKit::drawLocationArrowLock)),
    };
    struct Row {
        int side;
        bool map;
    };
    const Row rows[] = {{44, false}, {60, false}, {44, true}, {60, true}};
    const int width = kCellWidth * static_cast<int>(items.size());
    const int height = kCellHeight * 4;
    QImage image(QSize(static_cast<int>(width * scale), static_cast<int>(height * scale)),
                 QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(scale);
    image.fill(Qt::white);
    QPainter painter(&image);
    QFont font = painter.font();
    font.setPixelSize(11);
    painter.setFont(font);
    for (int r = 0; r < 4; ++r) {
        const int top = r * kCellHeight;
        if (rows[r].map) paintMapBackdrop(painter, QRectF(0, top, width, kIconArea));
        for (size_t i = 0; i < items.size(); ++i) {
            const int left = static_cast<int>(i) * kCellWidth;
            const int side = rows[r].side;
            items[i].paint(painter, QPoint(left + (kCellWidth - side) / 2, top + (kIconArea - side) / 2),
                           side);
            painter.setPen(QColor(60, 60, 60));
            painter.drawText(QRectF(left, top + kIconArea, kCellWidth, kLabelHeight), Qt::AlignCenter,
                             items[i].label + QStringLiteral(" %1").arg(side));
        }
    }
    return image;
}

}  // namespace

// Every icon at 44 and 60 points, on white and over the map's colours, at one and two pixels per
// point: <build>/screenshots/mapscreen/map_buttons*.png.
TEST_F(MapButtonScreenshotTest, EveryButtonOnWhiteAndOverTheMap) {
    for (const double scale : {1.0, 2.0}) {
        const QImage image = sheet(scale);
        ASSERT_FALSE(image.isNull());
        const QString name = scale == 1 ? QStringLiteral("map_buttons") : QStringLiteral("map_buttons@2x");
        widgetkit_test::saveScreenshot(image, name);
        // The 44-point buttons on white, each device pixel blown up to a block of 4 × 4 (at one pixel
        // per point) or 2 × 2 (at two), in two halves: to judge line weights and edges.
        const int half = kCellWidth * 6;
        for (int part = 0; part < 2; ++part) {
            const QImage row =
                image.copy(QRect(static_cast<int>(part * half * scale), 0, static_cast<int>(half * scale),
                                 static_cast<int>(kIconArea * scale)));
            const int blow = scale == 1 ? 4 : 2;
            widgetkit_test::saveScreenshot(
                row.scaled(row.size() * blow, Qt::IgnoreAspectRatio, Qt::FastTransformation),
                name + QStringLiteral("_zoom_%1").arg(part + 1));
        }
    }
}
