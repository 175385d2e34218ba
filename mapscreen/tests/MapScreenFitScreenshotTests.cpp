// The map screen at window sizes from wide to small, light and dark, at pixel
// ratio 1 and 2: the credit line beside the scale bar, a selected point's
// callout beside the button column, the style and layers sheets at their
// buttons. Each writes its pictures and measures what it shows.
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QMouseEvent>
#include <QRegularExpression>
#include <QTest>

#include <string>
#include <vector>

#include "MapDelegateTestSupport.hpp"
#include "mapscreen/QuovaScaleView.hpp"
#include "mapscreen/SideContainerView.hpp"
#include "platform/mapkit/MKGeometry.hpp"
#include "platform/mapkit/qt/MKCalloutView.hpp"
#include "platform/ui/AlertController.hpp"
#include "platform/ui/PopoverPresentationController.hpp"
#include "tiles/QuovaBaseMapStyle.hpp"
#include "widgets/hud/MultilineLabel.hpp"

namespace mapdelegate_test {
namespace {

using tervolo::tiles::QuovaBaseMapStyle;

// A widget's frame in the screen's view.
QRect frameInView(const QWidget* widget, const QWidget* view) {
    // Through the screen: a presented sheet lies in the window, outside the screen's view.
    return QRect(widget->mapToGlobal(QPoint(0, 0)) - view->mapToGlobal(QPoint(0, 0)), widget->size());
}

class MapScreenFitTest : public MapDelegateTest {
  protected:
    void showAt(QSize size) {
        show(size);
        map().setRegion(platform::MKCoordinateRegionMakeWithDistance({60.17, 24.94}, 20000, 20000));
        advance(1.5);
    }
    // Frames until every cell is there, then the queued changes they caused.
    void drawFrames() {
        for (int i = 0; i < 3; ++i) {
            map().waitForCells();
            map().repaint();
            advance(0.5);
            QApplication::processEvents();
        }
    }
    QImage shoot(const std::string& name, double ratio) {
        const QImage image = widgetkit_test::render(*fixture_->window(), ratio);
        widgetkit_test::saveScreenshot(image, QString::fromStdString(name));
        return image;
    }
    QWidget* view() { return screen_->view(); }
};

// The credit line stays inside the window and clear of the scale bar at every
// width, wrapping rather than being cut; a fresh install, whose start style's
// tiles cannot be fetched, credits the map's own drawing.
TEST_F(MapScreenFitTest, TheCreditFitsBesideTheScaleBarAndNamesWhatShows) {
    const std::string topo =
        "\u00a9 OpenStreetMap contributors, SRTM\nMap Display \u00a9 OpenTopoMap (CC-BY-SA)";
    struct Case {
        const char* name;
        QSize size;
        bool dark;
        double ratio;
        std::string text;  // empty: what the map shows by itself
    } cases[] = {
        {"credit-fresh-1280x800", {1280, 800}, false, 1, ""},
        {"credit-fresh-640x480-dark", {640, 480}, true, 1, ""},
        {"credit-topo-1280x800", {1280, 800}, false, 1, topo},
        {"credit-topo-900x600-dark-dpr2", {900, 600}, true, 2, topo},
        {"credit-topo-640x480", {640, 480}, false, 1, topo},
        {"credit-topo-640x480-dark", {640, 480}, true, 1, topo},
        {"credit-topo-500x800", {500, 800}, false, 1, topo},
        {"credit-topo-420x600-dark", {420, 600}, true, 1, topo},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        widgetkit_test::PaletteScope palette(c.dark);
        showAt(c.size);
        ASSERT_EQ(map().mapStyle(), QuovaBaseMapStyle::osm) << "the start style";
        drawFrames();
        auto* credit = screen_->osmCreditLabel();
        ASSERT_NE(credit, nullptr);
        if (c.text.empty()) {
            // Nothing reaches the tile server of a fresh install: only the drawn map shows.
            EXPECT_EQ(credit->text().toStdString(), "Natural Earth");
        } else {
            // A long credit, as the tile source's own when its tiles show.
            credit->setText(QString::fromStdString(c.text));
            screen_->creditLabelDidChange();
            QApplication::processEvents();
        }
        shoot(c.name, c.ratio);
        ASSERT_TRUE(credit->isVisible());
        const QRect frame = frameInView(credit, view());
        const QRect scale = frameInView(screen_->scaleView(), view());
        EXPECT_TRUE(view()->rect().contains(frame)) << "inside the window";
        EXPECT_FALSE(frame.intersects(scale)) << "clear of the scale bar";
        EXPECT_LE(frame.right(), frameInView(screen_->sideContainer(), view()).left()) << "beside the column";
        // Every letter shown (lines break at spaces or after hyphens), none cut with an ellipsis.
        const auto letters = [](QString text) {
            return text.remove(QRegularExpression(QStringLiteral("\\s")));
        };
        const QString shown = credit->shownLines().join(QLatin1Char('|'));
        EXPECT_FALSE(shown.contains(QChar(0x2026))) << shown.toStdString();
        EXPECT_EQ(letters(credit->shownLines().join(QString())).toStdString(),
                  letters(credit->text()).toStdString())
            << shown.toStdString();
    }
}

// Every credit stands on a plate in the palette's colours, so map labels never
// run through it, and the notice of missing tiles stands above the credits,
// never over them: a small window, light and dark, at ratio 1 and 2, with the
// tile source's credit and the drawn map's credit both shown.
TEST_F(MapScreenFitTest, CreditsStandOnPlatesAndTheTileNoticeNeverOverlapsThem) {
    struct Case {
        const char* name;
        bool dark;
        double ratio;
    } cases[] = {{"credit-plates-420x500", false, 1},
                 {"credit-plates-420x500-dark", true, 1},
                 {"credit-plates-420x500-dpr2", false, 2},
                 {"credit-plates-420x500-dark-dpr2", true, 2}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        widgetkit_test::PaletteScope palette(c.dark);
        showAt({420, 500});
        drawFrames();
        auto* credit = screen_->osmCreditLabel();
        ASSERT_NE(credit, nullptr);
        // As the map composes it while tiles fail: the source's credit, then the drawn map's.
        credit->setText(QStringLiteral("© OpenStreetMap contributors\nNatural Earth"));
        screen_->creditLabelDidChange();
        map().setNotice(QStringLiteral("Map tiles can't be loaded"));
        QApplication::processEvents();
        const QImage image = shoot(c.name, c.ratio);

        ASSERT_TRUE(credit->isVisible());
        EXPECT_TRUE(credit->showsPlate());
        const QRectF plate = credit->plateRect();
        ASSERT_FALSE(plate.isEmpty());
        const QRect frame = frameInView(credit, view());
        // The plate's left margin, beside the text: the plate's colour over the map.
        const QPointF probe = QPointF(frame.topLeft()) + plate.topLeft() + QPointF(2, plate.height() / 2);
        const QColor plateColour = image.pixelColor((probe * c.ratio).toPoint());
        if (c.dark) {
            EXPECT_LT(plateColour.lightness(), 110) << "a dark plate in the dark palette";
        } else {
            EXPECT_GT(plateColour.lightness(), 200) << "a light plate in the light palette";
        }

        QWidget* notice = map().findSubview(QStringLiteral("MKMapNoticeLabel"));
        ASSERT_NE(notice, nullptr);
        ASSERT_TRUE(notice->isVisible());
        const QRect noticeFrame = frameInView(notice, view());
        EXPECT_TRUE(view()->rect().contains(noticeFrame)) << "inside the window";
        EXPECT_FALSE(noticeFrame.intersects(frame)) << "the notice clear of the credits";
        EXPECT_FALSE(noticeFrame.intersects(frameInView(screen_->scaleView(), view()))) << "and of the scale";
        QWidget* attribution = map().findSubview(QStringLiteral("MKAttributionLabel"));
        if (attribution != nullptr && attribution->isVisible()) {
            EXPECT_FALSE(noticeFrame.intersects(frameInView(attribution, view())));
        }
        map().setNotice(QString());
    }
}

// A selected point's callout shows whole in the map's free area, left of the
// button column, at every width; the map moves to show it.
TEST_F(MapScreenFitTest, ASelectedPointsCalloutShowsWholeBesideTheColumn) {
    struct Case {
        const char* name;
        QSize size;
        bool dark;
        double ratio;
        std::string title;
        double latitude;  // where the point stands
        double longitude;
    } cases[] = {
        {"callout-fit-500x700",
         {500, 700},
         false,
         1,
         "A point with a title far longer than any callout has room for, typed by a patient user",
         60.17,
         24.94},
        {"callout-fit-420x600-dark-dpr2",
         {420, 600},
         true,
         2,
         "Suomenlinnan merilinnoitus ja sen satama",
         60.17,
         24.94},
        {"callout-fit-900x600-near-column",
         {900, 600},
         false,
         1,
         "Katajanokan kasino ja ravintolalaiva",
         60.17,
         25.02},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        widgetkit_test::PaletteScope palette(c.dark);
        showAt(c.size);
        auto point = putPoint(c.title, c.latitude, c.longitude);
        advance(0.5);
        // A click on the pin where it stands (the map's own selection road).
        const QPointF pin = map().anchorPointForAnnotation(*annotationOf(point)) - QPointF(0, 20);
        ASSERT_TRUE(map().rect().contains(pin.toPoint()));
        QWidget* target = map().childAt(pin.toPoint()) != nullptr ? map().childAt(pin.toPoint()) : &map();
        const QPoint local = target->mapFrom(&map(), pin.toPoint());
        QTest::mousePress(target, Qt::LeftButton, {}, local);
        QTest::mouseRelease(target, Qt::LeftButton, {}, local);
        advance(2.0);
        drawFrames();
        shoot(c.name, c.ratio);
        platform::MKCalloutView* callout = map().calloutView();
        ASSERT_NE(callout, nullptr);
        ASSERT_TRUE(callout->isVisible()) << "the click selected the point";
        const QRect frame = frameInView(callout, view());
        const QRect column = frameInView(screen_->sideContainer(), view());
        const QRect free(QPoint(0, 0), QPoint(column.left() - 1, view()->height() - 1));
        EXPECT_TRUE(free.contains(frame))
            << "callout (" << frame.x() << ", " << frame.y() << ", " << frame.width() << " x "
            << frame.height() << ") column at " << column.left();
        // Its pointer still points at the pin.
        const QPointF tip = callout->mapTo(&map(), callout->pointerTip().toPoint());
        const QPointF anchor = map().anchorPointForAnnotation(*annotationOf(point));
        EXPECT_NEAR(tip.x(), anchor.x(), 2.0);
        screen_.reset();
        fixture_ = std::make_unique<tervolo::testsupport::MapScreenFixture>();
        advance(2.0);
    }
}

// The style and layers sheets open at their buttons, in the same place each
// time, wherever the pointer was before.
TEST_F(MapScreenFitTest, StyleAndLayersSheetsOpenAtTheirButtons) {
    for (const bool dark : {false, true}) {
        SCOPED_TRACE(dark ? "dark" : "light");
        widgetkit_test::PaletteScope palette(dark);
        showAt(QSize(1024, 700));
        for (const auto which :
             {MainViewController::MapButton::mapStyle, MainViewController::MapButton::mapLayers}) {
            QWidget* button = screen_->mapButton(which);
            ASSERT_NE(button, nullptr);
            std::vector<QRect> places;
            for (const QPoint pointer : {QPoint(100, 100), QPoint(600, 500)}) {
                // The pointer passes over the map first.
                QTest::mouseMove(&map(), pointer);
                QMouseEvent move(QEvent::MouseMove, QPointF(pointer), map().mapToGlobal(QPointF(pointer)),
                                 Qt::NoButton, Qt::NoButton, Qt::NoModifier);
                QApplication::sendEvent(&map(), &move);
                advance(0.1);
                const QPoint middle = button->rect().center();
                QTest::mousePress(button, Qt::LeftButton, {}, middle);
                QTest::mouseRelease(button, Qt::LeftButton, {}, middle);
                advance(1.0);
                QApplication::processEvents();
                const auto sheet = recorder_->topAlert();
                ASSERT_TRUE(sheet);
                EXPECT_EQ(sheet->popoverPresentationController()->sourceView(), button);
                QWidget* shown = sheet->viewIfLoaded();
                ASSERT_NE(shown, nullptr);
                const QRect frame = frameInView(shown, view());
                places.push_back(frame);
                const QRect at = frameInView(button, view());
                // Next to its button: touching it once grown by the popover's gap and border.
                EXPECT_TRUE(frame.intersects(at.adjusted(-40, -40, 40, 40)))
                    << frame.x() << ", " << frame.y() << " button at " << at.x() << ", " << at.y();
                EXPECT_TRUE(view()->rect().contains(frame));
                shoot(std::string("sheet-") +
                          (which == MainViewController::MapButton::mapStyle ? "style" : "layers") +
                          (dark ? "-dark" : "") + "-" + std::to_string(pointer.x()),
                      1);
                ASSERT_TRUE(recorder_->chooseAction("Cancel"));
                advance(1.0);
            }
            ASSERT_EQ(places.size(), 2u);
            EXPECT_EQ(places[0], places[1]) << "the same place each time";
        }
        screen_.reset();
        fixture_ = std::make_unique<tervolo::testsupport::MapScreenFixture>();
        advance(2.0);
    }
}

}  // namespace
}  // namespace mapdelegate_test
