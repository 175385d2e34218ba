#include <gtest/gtest.h>

#include <QPainter>

#include <cmath>
#include <memory>
#include <optional>
#include <vector>

#include "mapscreen/AddLocationButton.hpp"
#include "mapscreen/CenterButton.hpp"
#include "mapscreen/InfoButton.hpp"
#include "mapscreen/LocationsButton.hpp"
#include "mapscreen/MapLayersButton.hpp"
#include "mapscreen/MapStyleButton.hpp"
#include "mapscreen/SearchButton.hpp"
#include "mapscreen/StyleKitButton.hpp"
#include "mapscreen/ZoomInButton.hpp"
#include "mapscreen/ZoomOutButton.hpp"
#include "mapscreen/tests/ButtonKitTestSupport.hpp"
#include "platform/foundation/UserDefaults.hpp"
#include "platform/ui/tests/WidgetKitTestSupport.hpp"
#include "testsupport/TestEnvironment.hpp"

using namespace button_test;
using tervolo::mapscreen::ButtonLayer;
using tervolo::mapscreen::CenterButton;
using tervolo::mapscreen::StyleKitButton;

namespace {

class ButtonKitTest : public widgetkit_test::WidgetTest {
  protected:
    tervolo::testsupport::TestEnvironment environment_;
};

const QRectF kCanvas(0, 0, 60, 60);

}  // namespace

TEST(ButtonKitResizing, FitsTheCanvasByEachBehaviour) {
    struct Case {
        const char* name;
        Resizing behavior;
        QRectF target;
        QRectF expected;
    };
    const Case cases[] = {
        // Every button: one factor, the larger ratio, from the button's corner.
        {"fill into 44 × 44", Resizing::proportionalFill, {0, 0, 44, 44}, {0, 0, 44, 44}},
        // The larger ratio is 1: the canvas stays 60 high and pokes out 10 above and below.
        {"fill into 60 × 40", Resizing::proportionalFill, {0, 0, 60, 40}, {0, -10, 60, 60}},
        {"fit into 60 × 40", Resizing::proportionalFit, {0, 0, 60, 40}, {10, 0, 40, 40}},
        {"fit into 120 × 60 at (5, 7)", Resizing::proportionalFit, {5, 7, 120, 60}, {35, 7, 60, 60}},
        {"stretch into 120 × 60", Resizing::stretchToFill, {0, 0, 120, 60}, {0, 0, 120, 60}},
        {"centre unscaled in 100 × 80", Resizing::centerUnscaled, {0, 0, 100, 80}, {20, 10, 60, 60}},
        {"centre unscaled in 30 × 30", Resizing::centerUnscaled, {0, 0, 30, 30}, {-15, -15, 60, 60}},
        // A zero frame leaves the canvas as it is: the icon is drawn at 60 × 60.
        {"zero target, fill", Resizing::proportionalFill, {0, 0, 0, 0}, kCanvas},
        {"zero target, stretch", Resizing::stretchToFill, {0, 0, 0, 0}, kCanvas},
        {"the canvas itself", Resizing::proportionalFit, kCanvas, kCanvas},
        // A target given with negative extent is taken as its standardised rectangle.
        {"fill into a flipped 44 × 44", Resizing::proportionalFill, {44, 44, -44, -44}, {0, 0, 44, 44}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QRectF r = TervoloButtonKit::apply(c.behavior, kCanvas, c.target);
        EXPECT_NEAR(r.x(), c.expected.x(), 1e-9);
        EXPECT_NEAR(r.y(), c.expected.y(), 1e-9);
        EXPECT_NEAR(r.width(), c.expected.width(), 1e-9);
        EXPECT_NEAR(r.height(), c.expected.height(), 1e-9);
    }
    // The 44-point button draws at 44 ÷ 60.
    const QRectF button = TervoloButtonKit::apply(Resizing::proportionalFill, kCanvas, {0, 0, 44, 44});
    EXPECT_NEAR(button.width() / 60, 0.7333, 1e-4);
    // A canvas without extent cannot be scaled and comes back as it is.
    EXPECT_EQ(TervoloButtonKit::apply(Resizing::proportionalFill, QRectF(3, 4, 0, 60), {0, 0, 44, 44}),
              QRectF(3, 4, 0, 60));
}

TEST(ButtonKitResizing, RawValuesZeroToThreeOnly) {
    const std::pair<int64_t, std::optional<Resizing>> cases[] = {
        {0, Resizing::proportionalFit},
        {1, Resizing::proportionalFill},
        {2, Resizing::stretchToFill},
        {3, Resizing::centerUnscaled},
        {4, std::nullopt},
        {-1, std::nullopt},
    };
    for (const auto& [raw, expected] : cases) {
        SCOPED_TRACE(raw);
        EXPECT_EQ(TervoloButtonKit::resizingBehaviorFromRawValue(raw), expected);
        if (expected) {
            EXPECT_EQ(TervoloButtonKit::rawValue(*expected), raw);
        }
    }
}

TEST(ButtonKitColours, TintAndLayerTint) {
    const QColor& blue = TervoloButtonKit::buttonBlue();
    EXPECT_EQ(blue.toRgb(), QColor(50, 100, 150));
    EXPECT_NEAR(blue.redF(), 0.19608, 1e-4);
    EXPECT_NEAR(blue.greenF(), 0.39216, 1e-4);
    EXPECT_NEAR(blue.blueF(), 0.58824, 1e-4);
    EXPECT_EQ(&TervoloButtonKit::buttonBlue(), &blue) << "taken once and kept";

    const QColor tint = TervoloButtonKit::layerTint();
    EXPECT_NEAR(tint.redF(), 0.67843, 1e-4);
    EXPECT_NEAR(tint.greenF(), 0.75686, 1e-4);
    EXPECT_NEAR(tint.blueF(), 0.83529, 1e-4);
    EXPECT_NEAR(tint.alphaF(), 1.0, 1e-6);
}

// Every icon probed where its shapes must (and must not) be, at 60 and 44 points and at one and two
// pixels per point.
TEST_F(ButtonKitTest, IconsDrawTheirShapesWhereTheCanvasPutsThem) {
    struct Probe {
        const char* icon;
        IconDrawing draw;
        std::vector<std::pair<QPointF, Look>> points;
    };
    const Probe probes[] = {
        {"zoom in",
         filled(TervoloButtonKit::drawZoomInButton),
         {{{30, 30}, Look::Blue}, {{30, 14}, Look::Blue}, {{14, 30}, Look::Blue}, {{20, 20}, Look::Clear}}},
        // The minus has no vertical bar.
        {"zoom out",
         filled(TervoloButtonKit::drawZoomOutButton),
         {{{30, 30}, Look::Blue}, {{14, 30}, Look::Blue}, {{30, 14}, Look::Clear}, {{30, 46}, Look::Clear}}},
        // Plates in the tint, the topmost on top; their rims blue.
        {"map layers",
         filled(TervoloButtonKit::drawMapLayersButton),
         {{{30, 20}, Look::Tint}, {{30, 41}, Look::Tint}, {{30, 44}, Look::Blue}, {{30, 5}, Look::Clear}}},
        {"arrow, filled", arrow(true), {{{26, 28}, Look::Blue}, {{30, 8}, Look::Clear}}},
        {"arrow, outlined", arrow(false), {{{26, 28}, Look::Clear}, {{47, 13.5}, Look::Blue}}},
        {"arrow with bearing",
         filled(TervoloButtonKit::drawLocationArrowBearing),
         {{{26, 28}, Look::White}, {{20, 40}, Look::Blue}, {{34.8, 25.2}, Look::Blue}}},
        {"arrow with padlock",
         filled(TervoloButtonKit::drawLocationArrowLock),
         {{{20, 30}, Look::Clear},
          {{25.2, 33}, Look::Blue},
          {{30.5, 33}, Look::Clear},
          {{30.5, 22.3}, Look::Blue}}},
        {"add location",
         filled(TervoloButtonKit::drawAddLocationButton),
         {{{16.5, 23.5}, Look::Blue},
          {{23.9, 45}, Look::Blue},
          {{41, 19}, Look::Blue},
          {{41, 45}, Look::Clear}}},
        // The lens is a ring, open in the middle, and the handle is solid.
        {"search",
         filled(TervoloButtonKit::drawSearchButton),
         {{{23.5, 11}, Look::Blue}, {{23.5, 23.5}, Look::Clear}, {{41.2, 41.2}, Look::Blue}}},
        // Rim and folds blue, the faces open.
        {"map style",
         filled(TervoloButtonKit::drawMapStyleButton),
         {{{13.7, 30}, Look::Blue},
          {{24.3, 30}, Look::Blue},
          {{19, 30}, Look::Clear},
          {{40, 30}, Look::Clear}}},
        {"locations",
         filled(TervoloButtonKit::drawLocationsButton),
         {{{14, 22.5}, Look::Blue},
          {{31, 36.5}, Look::Blue},
          {{38, 16}, Look::Blue},
          {{10, 45}, Look::Clear}}},
        {"info",
         filled(TervoloButtonKit::drawInfoButton),
         {{{30.2, 13.4}, Look::Blue},
          {{30.5, 36}, Look::Blue},
          {{24, 36}, Look::Clear},
          {{30.5, 20}, Look::Clear}}},
    };
    for (const double side : {60.0, 44.0}) {
        for (const double scale : {1.0, 2.0}) {
            for (const auto& probe : probes) {
                SCOPED_TRACE(testing::Message() << probe.icon << " at " << side << " pt, scale " << scale);
                const QImage image = renderIcon(probe.draw, side, scale);
                auto points = probe.points;
                // The ring runs along the canvas' edge in every icon.
                points.push_back({{30, 1}, Look::Blue});
                points.push_back({{1, 30}, Look::Blue});
                for (const auto& [at, look] : points) {
                    const QColor pixel = canvasPixel(image, side, scale, at);
                    EXPECT_TRUE(looks(pixel, look))
                        << "at canvas (" << at.x() << ", " << at.y() << ") expected " << describe(look)
                        << ", found " << pixel.name(QColor::HexArgb).toStdString();
                }
            }
        }
    }
}

// Drawing leaves the painter as it was (transform, clip), and over a painter that is not active,
// nothing happens.
TEST_F(ButtonKitTest, StateIsRestoredAndInactivePaintersAreLeftAlone) {
    const IconDrawing icons[] = {
        arrow(true),
        arrow(false),
        filled(TervoloButtonKit::drawLocationArrowLock),
        filled(TervoloButtonKit::drawLocationArrowBearing),
        filled(TervoloButtonKit::drawZoomOutButton),
        filled(TervoloButtonKit::drawZoomInButton),
        filled(TervoloButtonKit::drawAddLocationButton),
        filled(TervoloButtonKit::drawSearchButton),
        filled(TervoloButtonKit::drawMapStyleButton),
        filled(TervoloButtonKit::drawMapLayersButton),
        filled(TervoloButtonKit::drawLocationsButton),
        filled(TervoloButtonKit::drawInfoButton),
    };
    for (const auto& draw : icons) {
        platform::ImageContext image(QSizeF(44, 44));
        draw(image.context(), QRectF(0, 0, 44, 44));
        EXPECT_TRUE(image.painter().worldTransform().isIdentity());
        EXPECT_FALSE(image.painter().hasClipping());
        // The context's own colours are back too: a fill now is in its default black.
        image.context().fillRect(QRectF(0, 0, 2, 2));
        EXPECT_EQ(image.image().pixelColor(0, 0), QColor(Qt::black));

        QPainter idle;
        platform::GraphicsContext inactive(&idle);
        draw(inactive, QRectF(0, 0, 44, 44));
        EXPECT_FALSE(idle.isActive());
    }
}

// A zero frame draws the icon at the canvas' own size.
TEST_F(ButtonKitTest, AZeroFrameDrawsAtSixty) {
    platform::ImageContext image(QSizeF(60, 60));
    TervoloButtonKit::drawZoomOutButton(image.context(), QRectF(), Resizing::proportionalFill);
    const QImage drawn = image.image();
    EXPECT_TRUE(looks(drawn.pixelColor(30, 1), Look::Blue));
    EXPECT_TRUE(looks(drawn.pixelColor(49, 30), Look::Blue));
    EXPECT_TRUE(looks(drawn.pixelColor(51, 30), Look::Clear));
}

// A 60 × 40 button draws the canvas at factor 1, centred: the ring's top and bottom fall outside.
TEST_F(ButtonKitTest, AWideButtonCutsTheRingAboveAndBelow) {
    tervolo::mapscreen::ZoomInButton button;
    button.resize(60, 40);
    const QImage image = renderWidget(button);
    EXPECT_TRUE(looks(image.pixelColor(1, 20), Look::Blue)) << "the ring's left side";
    EXPECT_TRUE(looks(image.pixelColor(30, 20), Look::Blue)) << "the crossing, at canvas y 30";
    EXPECT_TRUE(looks(image.pixelColor(30, 0), Look::Blue)) << "the vertical bar reaches the edge";
    EXPECT_TRUE(looks(image.pixelColor(15, 1), Look::Clear)) << "no ring top inside the button";
}

// Each button class paints its own icon into its whole rectangle.
TEST_F(ButtonKitTest, ButtonClassesPaintTheirIcons) {
    struct Case {
        const char* name;
        std::unique_ptr<StyleKitButton> button;
        IconDrawing icon;
    };
    Case cases[] = {
        {"info", std::make_unique<tervolo::mapscreen::InfoButton>(),
         filled(TervoloButtonKit::drawInfoButton)},
        {"zoom in", std::make_unique<tervolo::mapscreen::ZoomInButton>(),
         filled(TervoloButtonKit::drawZoomInButton)},
        {"zoom out", std::make_unique<tervolo::mapscreen::ZoomOutButton>(),
         filled(TervoloButtonKit::drawZoomOutButton)},
        {"add location", std::make_unique<tervolo::mapscreen::AddLocationButton>(),
         filled(TervoloButtonKit::drawAddLocationButton)},
        {"locations", std::make_unique<tervolo::mapscreen::LocationsButton>(),
         filled(TervoloButtonKit::drawLocationsButton)},
        {"search", std::make_unique<tervolo::mapscreen::SearchButton>(),
         filled(TervoloButtonKit::drawSearchButton)},
        {"map style", std::make_unique<tervolo::mapscreen::MapStyleButton>(),
         filled(TervoloButtonKit::drawMapStyleButton)},
        {"map layers", std::make_unique<tervolo::mapscreen::MapLayersButton>(),
         filled(TervoloButtonKit::drawMapLayersButton)},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.name);
        c.button->resize(44, 44);
        EXPECT_EQ(renderWidget(*c.button), renderIcon(c.icon, 44, 1));
    }
    // The base class has no icon of its own.
    StyleKitButton plain;
    plain.resize(44, 44);
    QImage empty(44, 44, QImage::Format_ARGB32_Premultiplied);
    empty.fill(Qt::transparent);
    EXPECT_EQ(renderWidget(plain), empty);
}

// A paint of part of the button (something moved away over it) draws that part of the whole icon,
// not the icon squeezed into the part.
TEST_F(ButtonKitTest, APartialPaintDrawsPartOfTheWholeIcon) {
    tervolo::mapscreen::ZoomInButton button;
    button.resize(44, 44);
    const QImage whole = renderWidget(button);
    QImage part(44, 44, QImage::Format_ARGB32_Premultiplied);
    part.fill(Qt::transparent);
    button.render(&part, QPoint(), QRegion(0, 0, 44, 12), QWidget::DrawChildren);
    for (int y = 0; y < 12; ++y) {
        for (int x = 0; x < 44; ++x) ASSERT_EQ(part.pixel(x, y), whole.pixel(x, y)) << x << ", " << y;
    }
}

// The layer the map screen gives the buttons: round (half the height), clipped, and the border of
// the my-location control inside its bounds.
TEST_F(ButtonKitTest, TheLayerRoundsClipsAndBorders) {
    const QColor blue = TervoloButtonKit::buttonBlue();
    CenterButton center;
    center.resize(44, 44);
    center.setLayer(ButtonLayer{22, blue, 2, true});
    tervolo::mapscreen::ZoomInButton zoom;
    zoom.resize(44, 44);
    zoom.setLayer(ButtonLayer{22, blue, 0, true});
    for (const double scale : {1.0, 2.0}) {
        SCOPED_TRACE(scale);
        const QImage withBorder = renderWidget(center, scale);
        const QImage plain = renderWidget(zoom, scale);
        auto at = [scale](const QImage& image, double x, double y) {
            return image.pixelColor(static_cast<int>(x * scale), static_cast<int>(y * scale));
        };
        // Outside the round outline nothing is left.
        EXPECT_TRUE(looks(at(withBorder, 0.5, 0.5), Look::Clear));
        EXPECT_TRUE(looks(at(plain, 0.5, 0.5), Look::Clear));
        EXPECT_TRUE(looks(at(withBorder, 43.5, 43.5), Look::Clear));
        // The border lies on the outline; the icon's ring under it.
        EXPECT_TRUE(looks(at(withBorder, 22, 0.5), Look::Blue));
        EXPECT_TRUE(looks(at(withBorder, 0.5, 22), Look::Blue));
        EXPECT_TRUE(looks(at(plain, 22, 0.5), Look::Blue));
    }
    // Clipping keeps the device's resolution: inside the outline the clipped button is the same as
    // an unclipped one at two pixels per point too, edges of the bars included.
    tervolo::mapscreen::ZoomInButton unclipped;
    unclipped.resize(44, 44);
    const QImage sharp = renderWidget(unclipped, 2);
    const QImage clipped = renderWidget(zoom, 2);
    for (int y = 0; y < sharp.height(); ++y) {
        for (int x = 0; x < sharp.width(); ++x) {
            if (std::hypot(x + 0.5 - 44, y + 0.5 - 44) > 40) continue;
            const QColor a = sharp.pixelColor(x, y), b = clipped.pixelColor(x, y);
            ASSERT_TRUE(near(a, b, 2) && std::abs(a.alpha() - b.alpha()) <= 2) << x << ", " << y;
        }
    }

    // Without a corner radius the border runs into the corner.
    center.setLayer(ButtonLayer{0, blue, 2, false});
    EXPECT_TRUE(looks(renderWidget(center).pixelColor(0, 0), Look::Blue));
}

// The my-location control reads the stored tracking mode at every paint.
TEST_F(ButtonKitTest, CenterButtonShowsTheStoredTrackingMode) {
    struct Case {
        const char* name;
        std::optional<platform::PropertyValue> stored;
        Look interior;
        Look bearing;
    };
    const Case cases[] = {
        {"mode 1: follow", platform::PropertyValue(1), Look::Blue, Look::Clear},
        {"mode 2: follow with heading", platform::PropertyValue(2), Look::White, Look::Blue},
        {"mode 0: none", platform::PropertyValue(0), Look::Clear, Look::Clear},
        {"mode 7: not a mode", platform::PropertyValue(7), Look::Clear, Look::Clear},
        {"mode -1", platform::PropertyValue(-1), Look::Clear, Look::Clear},
        {"a text, not an integer", platform::PropertyValue("1"), Look::Clear, Look::Clear},
        {"absent", std::nullopt, Look::Clear, Look::Clear},
    };
    CenterButton button;
    button.resize(44, 44);
    auto& defaults = platform::UserDefaults::standard();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.stored) {
            defaults.set(CenterButton::kTrackingModeKey, *c.stored);
        } else {
            defaults.remove(CenterButton::kTrackingModeKey);
        }
        for (const double side : {44.0, 60.0}) {
            button.resize(static_cast<int>(side), static_cast<int>(side));
            const QImage image = renderWidget(button);
            EXPECT_TRUE(looks(canvasPixel(image, side, 1, {26, 28}), c.interior)) << "inside the arrow";
            // On the bearing stroke, outside the arrow's outline.
            EXPECT_TRUE(looks(canvasPixel(image, side, 1, {17, 43}), c.bearing)) << "the bearing stroke";
            EXPECT_TRUE(looks(canvasPixel(image, side, 1, {30, 1}), Look::Blue)) << "the ring";
        }
    }
}
