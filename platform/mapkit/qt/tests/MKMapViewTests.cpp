#include <gtest/gtest.h>
#include <QApplication>
#include <QDir>
#include <QMainWindow>
#include <QMouseEvent>
#include <QPainter>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QThreadPool>
#include <QToolBar>
#include <QWheelEvent>
#include <QWindow>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <numbers>
#include <optional>
#include <random>
#include <thread>
#include <vector>

#include "platform/dispatch/RunLoop.hpp"
#include "platform/dispatch/SharedInstance.hpp"
#include "platform/foundation/OSLog.hpp"
#include "platform/mapkit/qt/MKMapView.hpp"
#include "platform/mapkit/qt/MKMapViewCells.hpp"
#include "platform/text/Locale.hpp"
#include "platform/ui/Animator.hpp"
#include "testsupport/VirtualClockScope.hpp"
#include "testsupport/mapkit/RecordingMapViewDelegate.hpp"
#include "testsupport/ui/TestApplication.hpp"

namespace {

using namespace platform;
using Calls = std::vector<std::string>;

constexpr double kWorld = 268435456.0;

QApplication& application() {
    return tervolo::testsupport::sharedTestApplication("tervolo_platform_mapkit_qt_tests");
}

// A view of `size` points at zoom level `zoom` (exactly: the draw scale equals the view's) around a
// coordinate.
void show(MKMapView& map, CLLocationCoordinate2D center, int zoom) {
    const double scale = std::exp2(zoom - 20);
    const MKMapPoint middle = MKMapPointForCoordinate(center);
    map.setVisibleMapRect(MKMapRectMake(middle.x - map.width() / 2.0 / scale,
                                        middle.y - map.height() / 2.0 / scale, map.width() / scale,
                                        map.height() / scale));
}

QImage frame(MKMapView& map) {
    EXPECT_TRUE(map.waitForCells());
    QImage image(map.size(), QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&image);
    map.drawMap(painter);
    return image;
}

QColor pixel(const QImage& image, QPointF at) {
    return image.pixelColor(at.toPoint());
}

bool near(const QColor& a, const QColor& b, int tolerance = 3) {
    return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance &&
           std::abs(a.blue() - b.blue()) <= tolerance;
}

std::string describe(const QColor& c) {
    return std::to_string(c.red()) + "," + std::to_string(c.green()) + "," + std::to_string(c.blue());
}

QPointF at(MKMapView& map, CLLocationCoordinate2D coordinate) {
    const auto p = map.convertCoordinate(coordinate);
    return {p.x, p.y};
}

void saveScreenshot(QWidget& widget, const QString& name) {
    QDir().mkpath(QStringLiteral(TERVOLO_SCREENSHOT_DIR));
    EXPECT_TRUE(widget.grab().save(QStringLiteral(TERVOLO_SCREENSHOT_DIR "/") + name));
}

// A map view that counts the frames it paints and gathers what they repainted.
struct CountingMap : MKMapView {
    using MKMapView::MKMapView;
    int paints = 0;
    QRegion painted;
    void paintEvent(QPaintEvent* event) override {
        ++paints;
        painted |= event->region();
        MKMapView::paintEvent(event);
    }
};

// A new map view of type `View` as the central widget of `window`, the window shown at `size`.
template <typename View = MKMapView>
View* showInWindow(QMainWindow& window, QSize size = QSize(1024, 768)) {
    auto* view = new View(&window);
    window.setCentralWidget(view);
    window.resize(size);
    window.show();
    QApplication::processEvents();
    return view;
}

// Events until the repaints asked for are done, and then those of the cells they had drawn, as the
// window system shows a window.
void settleRepaints(MKMapView& view) {
    for (int round = 0; round < 16; ++round) {
        QApplication::processEvents();
        QApplication::processEvents();
        if (view.lastFrameStats().cellsPending == 0) break;
        CellCache::drawingPool().waitForDone();
    }
}

class MapView : public ::testing::Test {
  protected:
    void SetUp() override {
        application();
        map = std::make_unique<MKMapView>();
        map->resize(640, 480);
        map->setDelegate(delegate);
        // Every map view shares one cell cache: each test starts cold.
        map->clearCellCache();
        RunLoop::runUntilIdle();
    }
    void TearDown() override {
        map.reset();
        RunLoop::runUntilIdle();
    }

    tervolo::testsupport::VirtualClockScope time;
    std::shared_ptr<tervolo::testsupport::RecordingMapViewDelegate> delegate =
        std::make_shared<tervolo::testsupport::RecordingMapViewDelegate>();
    std::unique_ptr<MKMapView> map;
};

// ---- Pixels

TEST_F(MapView, BaseMapShowsLandAndWater) {
    const auto palette = MKBaseMap::paletteForMapType(MKMapType::Standard);
    struct Case {
        const char* name;
        CLLocationCoordinate2D coordinate;
        int zoom;
        QColor expected;
    };
    const Case cases[] = {
        {"Helsinki", {60.25, 24.95}, 5, palette.land}, {"Helsinki close", {60.25, 24.95}, 9, palette.land},
        {"mid-Atlantic", {30, -40}, 5, palette.water}, {"Sahara", {23, 10}, 2, palette.land},
        {"Pacific", {0, -150}, 2, palette.water},
    };
    for (const auto& c : cases) {
        show(*map, c.coordinate, c.zoom);
        const QImage image = frame(*map);
        const QColor found = pixel(image, at(*map, c.coordinate));
        EXPECT_TRUE(near(found, c.expected)) << c.name << ": " << describe(found);
    }
    // The dark palette for satellite.
    map->setMapType(MKMapType::Satellite);
    show(*map, {60.25, 24.95}, 5);
    EXPECT_TRUE(near(pixel(frame(*map), at(*map, {60.25, 24.95})),
                     MKBaseMap::paletteForMapType(MKMapType::Satellite).land));
}

// Antarctica reaches the pole, beyond the map's southern edge (85.05° S): the bottom row of pixels is
// land under it at every scale, with no band of water between the coast's last latitude and the edge.
TEST_F(MapView, LandAroundThePoleFillsToTheSouthernEdge) {
    const auto palette = MKBaseMap::paletteForMapType(MKMapType::Standard);
    map->resize(512, 512);
    struct Case {
        int zoom;
        double longitude;
    };
    // Zoom 1 shows the whole world (1:110m), zoom 3 and 5 the middle scale, zoom 7 the finest. At 1:110m
    // the simplified Ross Ice Shelf itself reaches past 85° S between 146° and 162° W (water in the
    // data), so the world view is probed at 140° W there.
    const Case cases[] = {{1, 0}, {1, -140}, {1, 100}, {3, 0},   {3, -150},
                          {5, 0}, {5, -150}, {7, 0},   {7, -150}};
    for (const auto& c : cases) {
        // A centre far south: the view stops at the map's edge, so its bottom row is the edge.
        show(*map, {-84, c.longitude}, c.zoom);
        const QImage image = frame(*map);
        const int x = static_cast<int>(at(*map, {-80, c.longitude}).x());
        for (const int fromBottom : {1, 4, 12}) {
            const QColor found = image.pixelColor(x, image.height() - fromBottom);
            EXPECT_TRUE(near(found, palette.land)) << "zoom " << c.zoom << " at " << c.longitude << "°, row "
                                                   << fromBottom << " from the bottom: " << describe(found);
        }
    }
}

// The coast and the borders are stroked at every scale, each in its own colour, from a map read
// afresh: a scale holds no geometry until it is first drawn, then says what it holds.
TEST(BaseMap, StrokesCoastAndBordersAtEveryScale) {
    MKBaseMap baseMap(QStringLiteral(BASEMAP_FILE));
    const MKBaseMap::Palette palette{Qt::black, Qt::white, QColor(255, 0, 0), QColor(0, 0, 255)};
    struct Case {
        MKBaseMap::Detail detail;
        int zoom;
        CLLocationCoordinate2D centre;  // the Finnish coast and its eastern border
    };
    const Case cases[] = {{MKBaseMap::Detail::Coarse, 2, {62, 28}},
                          {MKBaseMap::Detail::Medium, 5, {62, 28}},
                          {MKBaseMap::Detail::Fine, 7, {60.5, 27.5}}};
    for (const auto& c : cases) {
        EXPECT_EQ(baseMap.geometryBytes(c.detail), 0u) << static_cast<int>(c.detail);
        const double scale = std::exp2(c.zoom - 20);
        const MKMapPoint middle = MKMapPointForCoordinate(c.centre);
        const MKMapRect rect =
            MKMapRectMake(middle.x - 256 / scale, middle.y - 256 / scale, 512 / scale, 512 / scale);
        QImage image(512, 512, QImage::Format_RGB32);
        QPainter painter(&image);
        painter.scale(scale, scale);
        painter.translate(-rect.origin.x, -rect.origin.y);
        baseMap.draw(painter, rect, c.detail, palette);
        painter.end();
        EXPECT_GT(baseMap.geometryBytes(c.detail), 0u) << static_cast<int>(c.detail);
        int coast = 0;
        int border = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                const QColor found = image.pixelColor(x, y);
                // Mostly the stroke's own colour (anti-aliased edges blend into land or water).
                if (found.red() > 150 && found.blue() < 60 && found.green() < 150) ++coast;
                if (found.blue() > 150 && found.red() < 60 && found.green() < 150) ++border;
            }
        }
        EXPECT_GT(coast, 100) << "zoom " << c.zoom;
        EXPECT_GT(border, 100) << "zoom " << c.zoom;
    }
}

std::shared_ptr<MKCircleRenderer> circleRenderer(const std::shared_ptr<MKOverlay>& overlay, QColor color) {
    auto renderer = std::make_shared<MKCircleRenderer>(std::dynamic_pointer_cast<MKCircle>(overlay));
    renderer->setFillColor(Color(color.redF(), color.greenF(), color.blueF(), color.alphaF()));
    return renderer;
}

TEST_F(MapView, CircleFillsAQuarterOverTheMap) {
    const CLLocationCoordinate2D middle{30, -40};
    show(*map, middle, 6);
    const QColor water = pixel(frame(*map), at(*map, middle));
    auto circle = std::make_shared<MKCircle>(middle, 50000);
    delegate->rendererFactory = [](const std::shared_ptr<MKOverlay>& o) {
        return circleRenderer(o, QColor::fromRgbF(1, 0, 0, 0.25));
    };
    map->addOverlay(circle);
    const QColor blended = pixel(frame(*map), at(*map, middle));
    const QColor expected(static_cast<int>(std::lround(water.red() * 0.75 + 255 * 0.25)),
                          static_cast<int>(std::lround(water.green() * 0.75)),
                          static_cast<int>(std::lround(water.blue() * 0.75)));
    EXPECT_TRUE(near(blended, expected)) << describe(blended) << " vs " << describe(expected);
    // Outside the circle the map is untouched.
    EXPECT_TRUE(near(pixel(frame(*map), at(*map, {30, -35})), water));
}

TEST_F(MapView, OverlaysDrawInLevelOrder) {
    const CLLocationCoordinate2D middle{30, -40};
    show(*map, middle, 6);
    std::map<const MKOverlay*, QColor> colors;
    delegate->rendererFactory = [&](const std::shared_ptr<MKOverlay>& o) {
        return circleRenderer(o, colors[o.get()]);
    };
    auto make = [&](QColor color) {
        auto circle = std::make_shared<MKCircle>(middle, 40000);
        colors[circle.get()] = color;
        return circle;
    };
    const auto red = make(Qt::red);
    const auto blue = make(Qt::blue);
    const auto green = make(Qt::green);
    const auto yellow = make(Qt::yellow);
    map->addOverlay(red);                               // above labels
    map->addOverlay(blue, MKOverlayLevel::AboveRoads);  // below every label-level overlay
    EXPECT_TRUE(near(pixel(frame(*map), at(*map, middle)), Qt::red));
    map->insertOverlay(green, 99, MKOverlayLevel::AboveRoads);  // top of its level, still below red
    EXPECT_TRUE(near(pixel(frame(*map), at(*map, middle)), Qt::red));
    map->insertOverlayAbove(yellow, red);
    EXPECT_TRUE(near(pixel(frame(*map), at(*map, middle)), Qt::yellow));
    map->removeOverlay(yellow);
    map->removeOverlay(red);
    EXPECT_TRUE(near(pixel(frame(*map), at(*map, middle)), Qt::green));
}

// Paints the northern eighth of every cell red and the rest blue, in renderer space.
class NorthRowRenderer : public MKOverlayRenderer {
  public:
    using MKOverlayRenderer::MKOverlayRenderer;
    std::atomic<int> draws{0};
    void drawMapRect(const MKMapRect& mapRect, MKZoomScale, MKGraphicsContext& context) override {
        ++draws;
        const MKMapRect r = rectForMapRect(mapRect);
        context.setFillColor(Color(0, 0, 1, 1));
        context.fillRect({r.origin.x, r.origin.y, r.size.width, r.size.height});
        context.setFillColor(Color(1, 0, 0, 1));
        context.fillRect({r.origin.x, r.origin.y, r.size.width, r.size.height / 8});
    }
};

// An overlay over the whole world whose origin is not the world's (as the tile overlay's is not).
class ShiftedWorldOverlay : public MKOverlay {
  public:
    explicit ShiftedWorldOverlay(bool replaces = false) : replaces_(replaces) {}
    MKMapRect boundingMapRect() const override { return MKMapRectMake(-180, -90, kWorld, kWorld); }
    bool canReplaceMapContent() const override { return replaces_; }

  private:
    bool replaces_;
};

TEST_F(MapView, RendererCellsLandWhereTheDrawingProtocolSays) {
    // Zoom 4: cells are 2^24 map points; put a cell corner in the middle of the view.
    const double cell = kWorld / 16;
    const MKMapPoint corner{5 * cell, 6 * cell};
    const double scale = std::exp2(4 - 20);
    map->setVisibleMapRect(
        MKMapRectMake(corner.x - 320 / scale, corner.y - 240 / scale, 640 / scale, 480 / scale));
    auto overlay = std::make_shared<ShiftedWorldOverlay>();
    auto renderer = std::make_shared<NorthRowRenderer>(overlay);
    delegate->rendererFactory = [&](const std::shared_ptr<MKOverlay>&) { return renderer; };
    map->addOverlay(overlay);
    const QImage image = frame(*map);
    // The cell south-east of the corner starts at (320, 240): red on top, blue below; the 90-map-point
    // origin shift is far below a pixel at this zoom.
    EXPECT_TRUE(near(image.pixelColor(330, 241), Qt::red)) << describe(image.pixelColor(330, 241));
    EXPECT_TRUE(near(image.pixelColor(330, 240 + 30), Qt::red));
    EXPECT_TRUE(near(image.pixelColor(330, 240 + 40), Qt::blue));
    EXPECT_TRUE(near(image.pixelColor(330, 239), Qt::blue));  // the bottom of the cell north of it
    EXPECT_EQ(map->lastFrameStats().cellsStandIn, 0);
}

TEST_F(MapView, InvalidationRedrawsOnlyTheCoveredCellsWithOneRepaint) {
    CountingMap counting;
    counting.resize(512, 512);
    counting.show();
    auto delegate2 = std::make_shared<tervolo::testsupport::RecordingMapViewDelegate>();
    counting.setDelegate(delegate2);
    const double scale = std::exp2(3 - 20);
    counting.setVisibleMapRect(MKMapRectMake(0, 0, 512 / scale, 512 / scale));  // 2 × 2 cells at zoom 3
    auto overlay = std::make_shared<ShiftedWorldOverlay>();
    auto renderer = std::make_shared<NorthRowRenderer>(overlay);
    delegate2->rendererFactory = [&](const std::shared_ptr<MKOverlay>&) { return renderer; };
    counting.addOverlay(overlay);
    ASSERT_TRUE(counting.waitForCells());
    EXPECT_EQ(renderer->draws, 4);
    QApplication::processEvents();
    counting.paints = 0;
    // Many invalidations from several threads of one cell (the north-west one) at this scale, and of
    // every cell at another scale (nothing to redraw here).
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 500; ++i) {
                renderer->setNeedsDisplayInMapRect(MKMapRectMake(10, 10, 100, 100), scale);
                renderer->setNeedsDisplayInMapRect(MKMapRectWorld, scale * 4);
            }
        });
    }
    for (auto& thread : threads) thread.join();
    QApplication::processEvents();
    QApplication::processEvents();
    EXPECT_EQ(counting.paints, 1);
    ASSERT_TRUE(counting.waitForCells());
    EXPECT_EQ(renderer->draws, 5);
}

class RefusingRenderer : public NorthRowRenderer {
  public:
    using NorthRowRenderer::NorthRowRenderer;
    std::atomic<bool> ready{false};
    std::atomic<int> asked{0};
    bool canDrawMapRect(const MKMapRect&, MKZoomScale) override {
        ++asked;
        return ready;
    }
};

TEST_F(MapView, ReplacingOverlayHidesTheBaseMapOnlyWhereItDrew) {
    const double scale = std::exp2(3 - 20);
    // Finland's cell at zoom 3 and its neighbours.
    show(*map, {62, 25}, 3);
    auto overlay = std::make_shared<ShiftedWorldOverlay>(true);
    auto renderer = std::make_shared<RefusingRenderer>(overlay);
    delegate->rendererFactory = [&](const std::shared_ptr<MKOverlay>&) { return renderer; };
    map->addOverlay(overlay, MKOverlayLevel::AboveRoads);
    const auto palette = MKBaseMap::paletteForMapType(MKMapType::Standard);
    // Nothing drawable yet: the base map shows (no empty grid), and the renderer is not asked again.
    QImage image = frame(*map);
    EXPECT_TRUE(near(pixel(image, at(*map, {62, 25})), palette.land));
    const int asked = renderer->asked;
    frame(*map);
    EXPECT_EQ(renderer->asked, asked);
    // The tiles arrived for Finland's cell only.
    renderer->ready = true;
    const MKMapPoint finland = MKMapPointForCoordinate({62, 25});
    const double cell = 256 / scale;
    const MKMapRect finlandCell =
        MKMapRectMake(std::floor(finland.x / cell) * cell, std::floor(finland.y / cell) * cell, cell, cell);
    renderer->setNeedsDisplayInMapRect(MKMapRectInset(finlandCell, 1, 1), scale);
    image = frame(*map);
    EXPECT_TRUE(near(pixel(image, at(*map, {62, 25})), Qt::blue));
    EXPECT_TRUE(near(pixel(image, at(*map, {62, -15})), palette.water));  // a cell not drawn: still the map
}

// Blue in the cells of zoom 4 whose column is even, nothing anywhere else.
class EvenColumnRenderer : public MKOverlayRenderer {
  public:
    using MKOverlayRenderer::MKOverlayRenderer;
    void drawMapRect(const MKMapRect& mapRect, MKZoomScale zoomScale, MKGraphicsContext& context) override {
        if (std::abs(zoomScale - std::exp2(4 - 20)) > 1e-12) return;
        if (static_cast<int64_t>(std::floor(mapRect.origin.x / (kWorld / 16) + 0.5)) % 2 != 0) return;
        const MKMapRect r = rectForMapRect(mapRect);
        context.setFillColor(Color(0, 0, 1, 1));
        context.fillRect({r.origin.x, r.origin.y, r.size.width, r.size.height});
    }
};

// While a replacing layer's cell is being drawn, finer cells stand in for
// it, some of them blank: the base map shows under those, never the plain
// background, also where the layer's tiles had covered it before.
TEST_F(MapView, ReplacingOverlayStandInsLeaveTheBaseMapUnderTheirBlankParts) {
    const auto palette = MKBaseMap::paletteForMapType(MKMapType::Standard);
    // The middle of the zoom-3 cell (6, 2), in Siberia: its zoom-4 children are columns 12 and 13.
    const CLLocationCoordinate2D middle = MKCoordinateForMapPoint({6.5 * kWorld / 8, 2.5 * kWorld / 8});
    show(*map, middle, 4);
    auto overlay = std::make_shared<ShiftedWorldOverlay>(true);
    auto renderer = std::make_shared<EvenColumnRenderer>(overlay);
    delegate->rendererFactory = [&](const std::shared_ptr<MKOverlay>&) { return renderer; };
    map->addOverlay(overlay, MKOverlayLevel::AboveRoads);
    frame(*map);
    QImage image = frame(*map);
    EXPECT_TRUE(near(pixel(image, {300, 240}), Qt::blue));  // column 12
    EXPECT_TRUE(near(pixel(image, {340, 240}), palette.land)) << describe(pixel(image, {340, 240}));

    // Zoomed out: the first frame draws the cell from its children while the cell itself is drawn.
    show(*map, middle, 3);
    QImage standIn(map->size(), QImage::Format_ARGB32_Premultiplied);
    {
        QPainter painter(&standIn);
        map->drawMap(painter);
    }
    ASSERT_GT(map->lastFrameStats().cellsStandIn, 0);
    EXPECT_TRUE(near(pixel(standIn, {300, 240}), Qt::blue));  // the left half, from column 12
    EXPECT_TRUE(near(pixel(standIn, {380, 240}), palette.land)) << describe(pixel(standIn, {380, 240}));
    EXPECT_TRUE(near(pixel(standIn, {380, 150}), palette.land)) << describe(pixel(standIn, {380, 150}));
    // Once drawn, the cell is blank: all base map.
    image = frame(*map);
    EXPECT_TRUE(near(pixel(image, {300, 240}), palette.land)) << describe(pixel(image, {300, 240}));
}

TEST_F(MapView, PinsWearTheirTint) {
    show(*map, {30, -40}, 5);
    auto a = std::make_shared<MKPointAnnotation>(CLLocationCoordinate2D{30, -40}, "A");
    delegate->viewFactory = [](MKMapViewModel&, const std::shared_ptr<MKAnnotation>& annotation) {
        auto view = std::make_shared<MKPinAnnotationView>(annotation, "pin");
        view->setPinTintColor(Color(0, 0.8, 0, 1));
        return view;
    };
    map->addAnnotation(a);
    const QImage image = frame(*map);
    const QPointF tip = at(*map, {30, -40});
    // The head's middle, 27 points above the tip.
    EXPECT_TRUE(near(pixel(image, tip + QPointF(1, -27)), QColor(0, 204, 0), 12))
        << describe(pixel(image, tip + QPointF(1, -27)));
    EXPECT_EQ(map->lastFrameStats().annotationsDrawn, 1);
}

TEST_F(MapView, WorldCopiesMeetAtTheAntimeridian) {
    const auto palette = MKBaseMap::paletteForMapType(MKMapType::Standard);
    show(*map, {65, 180}, 4);
    const QImage image = frame(*map);
    // Chukotka west of the line and Alaska east of it, both drawn from the one world's cells.
    EXPECT_TRUE(near(pixel(image, at(*map, {66, 172})), palette.land));
    EXPECT_TRUE(near(pixel(image, at(*map, {65, -160})), palette.land));
    EXPECT_TRUE(near(pixel(image, at(*map, {60, -178})), palette.water));  // the Bering Sea
    EXPECT_LT(at(*map, {66, 172}).x(), at(*map, {65, -160}).x());
}

TEST_F(MapView, CoarserCellsStandInWhileCellsAreDrawn) {
    const auto palette = MKBaseMap::paletteForMapType(MKMapType::Standard);
    show(*map, {60.25, 24.95}, 4);
    frame(*map);
    // One zoom level in: no cell of the new level is drawn yet, so this frame enlarges the old ones.
    show(*map, {60.25, 24.95}, 5);
    QImage image(map->size(), QImage::Format_ARGB32_Premultiplied);
    {
        QPainter painter(&image);
        map->drawMap(painter);
    }
    const auto stats = map->lastFrameStats();
    EXPECT_GT(stats.cellsStandIn, 0);
    EXPECT_EQ(stats.cellsStandIn, stats.cellsDrawn);
    EXPECT_TRUE(near(pixel(image, at(*map, {60.25, 24.95})), palette.land, 12));
    EXPECT_TRUE(near(pixel(image, at(*map, {57.5, 20})), palette.water, 12));  // the Baltic
    // And once drawn, the new level's own cells.
    frame(*map);
    EXPECT_EQ(map->lastFrameStats().cellsStandIn, 0);
}

// The frame `map` draws into an image of its size at `ratio`, and the same frame put together from
// what it drew: the water, its cells, then every marker's picture drawn by itself with a bare
// QPainter, in the frame's order.
struct FramePair {
    QImage drawn;
    QImage eachByItself;
};
FramePair drawnAndEachByItself(MKMapView& map, qreal ratio) {
    auto blank = [&] {
        QImage image(map.size() * ratio, QImage::Format_ARGB32_Premultiplied);
        image.setDevicePixelRatio(ratio);
        image.fill(Qt::black);
        return image;
    };
    FramePair pair{blank(), blank()};
    map.setRecordsDrawing(true);
    {
        QPainter painter(&pair.drawn);
        map.drawMap(painter);
    }
    map.setRecordsDrawing(false);
    QPainter painter(&pair.eachByItself);
    painter.fillRect(QRectF(QPointF(0, 0), QSizeF(map.size())),
                     MKBaseMap::paletteForMapType(map.mapType()).water);
    for (const auto& cell : map.drawnCells()) painter.drawImage(cell.target, cell.image, cell.source);
    for (const auto& marker : map.drawnPixmaps()) painter.drawPixmap(marker.topLeft, marker.pixmap);
    return pair;
}

// The largest difference of one colour channel between two images of one size; -1 when the sizes differ.
int largestDifference(const QImage& a, const QImage& b) {
    if (a.size() != b.size()) return -1;
    int largest = 0;
    for (int y = 0; y < a.height(); ++y) {
        const auto* rowA = reinterpret_cast<const QRgb*>(a.constScanLine(y));
        const auto* rowB = reinterpret_cast<const QRgb*>(b.constScanLine(y));
        for (int x = 0; x < a.width(); ++x) {
            largest = std::max({largest, std::abs(qRed(rowA[x]) - qRed(rowB[x])),
                                std::abs(qGreen(rowA[x]) - qGreen(rowB[x])),
                                std::abs(qBlue(rowA[x]) - qBlue(rowB[x]))});
        }
    }
    return largest;
}

// With thousands of markers in view a frame shows the pixels an earlier one made of them: it must look
// exactly as if each marker had been drawn by itself, at either pixel ratio, piled up in one city or
// spread over the world, pins of several tints and pictures of their own.
TEST_F(MapView, ManyMarkersLookAsIfEachWereDrawnByItself) {
    QImage square(10, 14, QImage::Format_ARGB32_Premultiplied);
    square.fill(QColor(20, 160, 60, 200));
    const auto bitmap = MKMapView::bitmapFromImage(square);
    delegate->viewFactory = [&](MKMapViewModel&, const std::shared_ptr<MKAnnotation>& annotation) {
        const int kind =
            static_cast<int>(std::labs(std::lround(annotation->coordinate().longitude * 1000)) % 5);
        if (kind == 4) {
            auto view = std::make_shared<MKAnnotationView>(annotation, "image");
            view->setImage(bitmap);
            view->setCenterOffset({0, -7});
            return std::shared_ptr<MKAnnotationView>(view);
        }
        auto view = std::make_shared<MKPinAnnotationView>(annotation, "pin");
        if (kind == 1) view->setPinTintColor(Color(0.1, 0.4, 0.9, 1));
        if (kind == 2) view->setPinTintColor(Color(1, 0.8, 0, 1));
        return std::shared_ptr<MKAnnotationView>(view);
    };
    std::vector<CLLocationCoordinate2D> city;
    for (int i = 0; i < 3000; ++i) city.push_back({60.0 + (i % 60) * 0.004, 24.7 + (i / 60) * 0.006});
    std::vector<CLLocationCoordinate2D> world;
    std::mt19937 random(11);
    std::uniform_real_distribution<double> latitude(-70, 75);
    std::uniform_real_distribution<double> longitude(-179, 179);
    for (int i = 0; i < 3000; ++i) world.push_back({latitude(random), longitude(random)});
    const struct {
        const char* name;
        const std::vector<CLLocationCoordinate2D>* pins;
        qreal ratio;
    } cases[] = {{"city, ratio 1", &city, 1},
                 {"city, ratio 2", &city, 2},
                 {"world, ratio 1", &world, 1},
                 {"world, ratio 2", &world, 2}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        map->removeAnnotations(map->annotations());
        std::vector<std::shared_ptr<MKAnnotation>> annotations;
        for (const auto& coordinate : *c.pins)
            annotations.push_back(std::make_shared<MKPointAnnotation>(coordinate));
        map->addAnnotations(annotations);
        show(*map, {40, 0}, 1);
        // Frames at this ratio until every cell is there (each one exact), then two more: the second
        // shows the pixels kept of the markers at the latest by the first.
        for (int frame = 0; frame < 16; ++frame) {
            const FramePair pair = drawnAndEachByItself(*map, c.ratio);
            EXPECT_EQ(largestDifference(pair.drawn, pair.eachByItself), 0);
            if (map->lastFrameStats().cellsPending == 0) break;
            CellCache::drawingPool().waitForDone();
        }
        for (int frame = 0; frame < 2; ++frame) {
            const FramePair pair = drawnAndEachByItself(*map, c.ratio);
            EXPECT_EQ(largestDifference(pair.drawn, pair.eachByItself), 0);
            if (frame == 1) {
                QDir().mkpath(QStringLiteral(TERVOLO_SCREENSHOT_DIR));
                EXPECT_TRUE(pair.drawn.save(
                    QStringLiteral(TERVOLO_SCREENSHOT_DIR "/mapview-many-markers-%1.png")
                        .arg(QString::fromUtf8(c.name).replace(", ", "-").replace(' ', '-'))));
            }
        }
        EXPECT_EQ(map->lastFrameStats().annotationsFromLayer, static_cast<int>(c.pins->size()));
        // Pins are drawn from a picture of the frame's own ratio, not scaled from another one.
        for (const auto& marker : map->drawnPixmaps()) {
            if (marker.pixmap.width() != 10) {
                ASSERT_EQ(marker.pixmap.devicePixelRatio(), c.ratio);
            }
        }
    }
}

// The kept pixels are shown while the markers keep their places relative to each other over the same
// map, and made again when one of them moves, goes or comes, is selected, the view moves them apart,
// or the map under them changes.
TEST_F(MapView, KeptMarkersFollowEveryChange) {
    std::vector<std::shared_ptr<MKAnnotation>> annotations;
    std::mt19937 random(3);
    std::uniform_real_distribution<double> latitude(30, 50);
    std::uniform_real_distribution<double> longitude(-10, 20);
    for (int i = 0; i < 1000; ++i) {
        annotations.push_back(
            std::make_shared<MKPointAnnotation>(CLLocationCoordinate2D{latitude(random), longitude(random)}));
    }
    map->addAnnotations(annotations);
    show(*map, {40, 5}, 3);
    ASSERT_TRUE(map->waitForCells());
    // Each step's frame is drawn straight after the change, with whatever cells it finds.
    // `kept`: whether the frame must show the kept pixels (true), must draw the markers (false), or
    // either, as the cells it finds allow (empty).
    auto check = [&](const char* step, std::optional<bool> kept) {
        SCOPED_TRACE(step);
        const FramePair pair = drawnAndEachByItself(*map, 1);
        if (kept) {
            EXPECT_EQ(map->lastFrameStats().annotationsFromLayer,
                      *kept ? map->lastFrameStats().annotationsDrawn : 0);
        }
        EXPECT_EQ(largestDifference(pair.drawn, pair.eachByItself), 0);
    };
    check("the same frame again: its pixels are kept, if not yet", std::nullopt);
    check("and again: the kept pixels are shown", true);
    const MKMapRect shown = map->visibleMapRect();
    const double point = 1 / std::exp2(3 - 20);  // one view point in map points at zoom 3
    map->setVisibleMapRect(MKMapRectOffset(shown, 37 * point, -11 * point));
    check("panned by whole points", true);
    map->setVisibleMapRect(MKMapRectOffset(shown, 37.5 * point, -11.25 * point));
    check("panned by a part of a point", false);
    map->removeAnnotation(annotations[500]);
    check("one removed", false);
    map->addAnnotation(std::make_shared<MKPointAnnotation>(CLLocationCoordinate2D{41, 6}));
    map->removeAnnotation(annotations[501]);
    check("one added, one removed", false);
    map->selectAnnotation(annotations[502], false);
    check("one selected", false);
    map->deselectAnnotation(annotations[502], false);
    check("deselected", false);
    delegate->rendererFactory = [](const std::shared_ptr<MKOverlay>& o) {
        return circleRenderer(o, QColor::fromRgbF(1, 0, 0, 0.25));
    };
    map->addOverlay(std::make_shared<MKCircle>(CLLocationCoordinate2D{40, 5}, 400000));
    for (int frame = 0; frame < 16; ++frame) {
        check("a circle under the markers, while its cells are drawn", std::nullopt);
        if (map->lastFrameStats().cellsPending == 0) break;
        CellCache::drawingPool().waitForDone();
    }
    EXPECT_EQ(map->lastFrameStats().cellsPending, 0);
    // The frames that found the map changed under the markers drew them for a while without keeping
    // their pixels; a still map shows kept pixels again within a few frames.
    for (int frame = 0; frame < 20 && map->lastFrameStats().annotationsFromLayer == 0; ++frame) {
        check("the circle drawn, the map still again", std::nullopt);
    }
    check("the circle drawn", true);
    show(*map, {40, 5}, 4);
    check("zoomed in", false);
}

// A repaint of a part of the window (a label fading over the map, the user's dot) shows there what a
// whole frame shows, the markers reaching into the part from outside it included.
TEST_F(MapView, APartRepaintedShowsWhatTheWholeFrameShows) {
    for (const int pins : {100, 1000}) {
        SCOPED_TRACE(pins);
        QMainWindow window;
        window.addToolBar(QStringLiteral("tools"))->addAction(QStringLiteral("A tool"));
        auto* view = showInWindow(window, QSize(640, 480));
        std::mt19937 random(pins);
        std::uniform_real_distribution<double> latitude(30, 50);
        std::uniform_real_distribution<double> longitude(-10, 20);
        std::vector<std::shared_ptr<MKAnnotation>> annotations;
        for (int i = 0; i < pins; ++i) {
            annotations.push_back(std::make_shared<MKPointAnnotation>(
                CLLocationCoordinate2D{latitude(random), longitude(random)}));
        }
        view->addAnnotations(annotations);
        show(*view, {40, 5}, 3);
        ASSERT_TRUE(view->waitForCells());
        const QImage whole = window.grab().toImage();
        ASSERT_GT(view->lastFrameStats().annotationsDrawn, pins / 2);
        const QPoint mapAt = view->mapTo(&window, QPoint(0, 0));
        for (const QRect part : {QRect(300, 200, 9, 9), QRect(250, 120, 120, 30), QRect(0, 0, 640, 10)}) {
            const QRect inWindow = part.translated(mapAt);
            const QImage shown = window.grab(inWindow).toImage();
            EXPECT_EQ(largestDifference(shown.convertToFormat(whole.format()), whole.copy(inWindow)), 0)
                << part.x() << "," << part.y();
        }
    }
    RunLoop::runUntilIdle();
}

TEST_F(MapView, CustomImageSitsAtItsCentreOffset) {
    show(*map, {30, -40}, 5);
    auto a = std::make_shared<MKPointAnnotation>(CLLocationCoordinate2D{30, -40}, "A");
    QImage square(10, 10, QImage::Format_ARGB32_Premultiplied);
    square.fill(QColor(0, 200, 0));
    const auto bitmap = MKMapView::bitmapFromImage(square);
    delegate->viewFactory = [&](MKMapViewModel&, const std::shared_ptr<MKAnnotation>& annotation) {
        auto view = std::make_shared<MKAnnotationView>(annotation, "image");
        view->setImage(bitmap);
        view->setCenterOffset({0, -20});
        return view;
    };
    map->addAnnotation(a);
    const QImage image = frame(*map);
    const QPointF point = at(*map, {30, -40});
    EXPECT_TRUE(near(pixel(image, point + QPointF(0, -20)), QColor(0, 200, 0)));
    EXPECT_TRUE(
        near(pixel(image, point + QPointF(0, -27)), MKBaseMap::paletteForMapType(MKMapType::Standard).water));
    EXPECT_TRUE(near(pixel(image, point), MKBaseMap::paletteForMapType(MKMapType::Standard).water));
}

TEST(BaseMapFile, LoadsItsScalesAndRefusesDamage) {
    application();
    const QString folder = QStringLiteral(MAPKIT_BASEMAP_SAMPLES);
    MKBaseMap tiny(folder + QStringLiteral("/tiny.tvbm"));
    const auto palette = MKBaseMap::paletteForMapType(MKMapType::Standard);
    for (const auto detail :
         {MKBaseMap::Detail::Coarse, MKBaseMap::Detail::Medium, MKBaseMap::Detail::Fine}) {
        ASSERT_TRUE(tiny.isAvailable(detail));
        // The sample's square island covers the world's second quarter on both axes.
        QImage image(64, 64, QImage::Format_RGB32);
        QPainter painter(&image);
        painter.scale(64 / kWorld, 64 / kWorld);
        tiny.draw(painter, MKMapRectWorld, detail, palette);
        painter.end();
        EXPECT_TRUE(near(image.pixelColor(24, 24), palette.land)) << static_cast<int>(detail);
        EXPECT_TRUE(near(image.pixelColor(8, 40), palette.water)) << static_cast<int>(detail);
    }
    auto log = OSLogCapture::install();
    for (const char* damaged : {"/header-only.tvbm", "/version-1.tvbm", "/missing.tvbm"}) {
        MKBaseMap map(folder + QString::fromLatin1(damaged));
        EXPECT_FALSE(map.isAvailable(MKBaseMap::Detail::Coarse)) << damaged;
    }
    EXPECT_EQ(log->texts().size(), 3u);
    log->uninstall();
    // The shipped map has all three.
    EXPECT_TRUE(MKBaseMap::shared().isAvailable(MKBaseMap::Detail::Fine));
}

// ---- Input on virtual time

void send(QWidget& widget, QEvent::Type type, QPointF position, Qt::MouseButtons buttons,
          Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    const Qt::MouseButton button = (type == QEvent::MouseMove) ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent event(type, position, widget.mapToGlobal(position), button, buttons, modifiers);
    QApplication::sendEvent(&widget, &event);
}

void press(QWidget& w, QPointF p) {
    send(w, QEvent::MouseButtonPress, p, Qt::LeftButton);
}
void moveTo(QWidget& w, QPointF p) {
    send(w, QEvent::MouseMove, p, Qt::LeftButton);
}
void release(QWidget& w, QPointF p) {
    send(w, QEvent::MouseButtonRelease, p, Qt::NoButton);
}

TEST_F(MapView, ClickSelectsAndDeselects) {
    show(*map, {30, -40}, 5);
    auto a = std::make_shared<MKPointAnnotation>(CLLocationCoordinate2D{30, -40}, "A");
    map->addAnnotation(a);
    // No frame drawn yet: the click finds the pin from the model.
    map->updateAnnotationViews();
    delegate->clear();
    const QPointF head = at(*map, {30, -40}) + QPointF(0, -27);
    press(*map, head);
    release(*map, head);
    EXPECT_EQ(delegate->calls, (Calls{"didSelect A"}));
    ASSERT_NE(map->calloutView(), nullptr);
    EXPECT_EQ(map->calloutView()->title(), QStringLiteral("A"));
    // A changed title reaches the open callout.
    a->setTitle("A2");
    map->annotationChanged(a);
    EXPECT_EQ(map->calloutView()->title(), QStringLiteral("A2"));
    press(*map, {20, 20});
    release(*map, {20, 20});
    EXPECT_EQ(delegate->calls, (Calls{"didSelect A", "didDeselect A2"}));
}

TEST_F(MapView, AClickGoesToThePinDrawnOnTop) {
    show(*map, {30, -40}, 9);
    auto north = std::make_shared<MKPointAnnotation>(CLLocationCoordinate2D{30.02, -40}, "north");
    auto south = std::make_shared<MKPointAnnotation>(CLLocationCoordinate2D{30, -40}, "south");
    map->addAnnotations({north, south});
    map->updateAnnotationViews();
    delegate->clear();
    // The northern pin's head, where the southern pin (drawn later, on top) covers it.
    const QPointF northHead = at(*map, north->coordinate()) + QPointF(0, -27);
    ASSERT_LT(at(*map, south->coordinate()).y() - 37, northHead.y());
    press(*map, northHead);
    release(*map, northHead);
    EXPECT_EQ(delegate->calls, Calls{"didSelect south"});
    // The northern pin's head above the southern one's reach.
    delegate->clear();
    const QPointF top = at(*map, north->coordinate()) + QPointF(0, -35);
    press(*map, top);
    release(*map, top);
    EXPECT_EQ(delegate->calls, (Calls{"didDeselect south", "didSelect north"}));
}

TEST_F(MapView, DraggingAPin) {
    show(*map, {30, -40}, 5);
    auto a = std::make_shared<MKPointAnnotation>(CLLocationCoordinate2D{30, -40}, "A");
    map->addAnnotation(a);
    map->selectAnnotation(a);
    map->viewForAnnotation(a.get())->setDraggable(true);
    frame(*map);
    const QPointF head = at(*map, {30, -40}) + QPointF(0, -27);

    // Escape cancels: the pin stays.
    delegate->clear();
    press(*map, head);
    moveTo(*map, head + QPointF(20, 0));
    moveTo(*map, head + QPointF(40, 10));
    QTest::keyClick(map.get(), Qt::Key_Escape);
    release(*map, head + QPointF(40, 10));
    EXPECT_EQ(delegate->calls, (Calls{"drag A 1<-0", "drag A 2<-1", "drag A 3<-2", "drag A 0<-3"}));
    EXPECT_NEAR(a->coordinate().latitude, 30, 1e-12);

    // Released: the pin lands where the pointer moved it.
    delegate->clear();
    press(*map, head);
    moveTo(*map, head + QPointF(20, 0));
    moveTo(*map, head + QPointF(40, 10));
    release(*map, head + QPointF(40, 10));
    EXPECT_EQ(delegate->calls, (Calls{"drag A 1<-0", "drag A 2<-1", "drag A 4<-2", "drag A 0<-4"}));
    const QPointF landed = at(*map, a->coordinate());
    const QPointF expected = at(*map, {30, -40}) + QPointF(40, 10);
    EXPECT_NEAR(landed.x(), expected.x(), 0.5);
    EXPECT_NEAR(landed.y(), expected.y(), 0.5);
}

TEST_F(MapView, LongPressAndPanShareThePress) {
    std::vector<std::pair<MKGestureState, QPointF>> states;
    map->longPressRecognizer().action = [&](MKGestureState state, QPointF point) {
        states.emplace_back(state, point);
    };
    show(*map, {30, -40}, 5);
    RunLoop::runUntilIdle();
    delegate->clear();
    // Held still for half a second: a long press, and no region change.
    press(*map, {100, 100});
    time.advance(0.49);
    EXPECT_TRUE(states.empty());
    time.advance(0.02);
    ASSERT_EQ(states.size(), 1u);
    EXPECT_EQ(states[0].first, MKGestureState::Began);
    moveTo(*map, {104, 100});
    release(*map, {104, 100});
    ASSERT_EQ(states.size(), 3u);
    EXPECT_EQ(states[1].first, MKGestureState::Changed);
    EXPECT_EQ(states[2].first, MKGestureState::Ended);
    EXPECT_TRUE(delegate->calls.empty());
    // Escape takes a long press away: Cancelled, and the release says nothing more.
    states.clear();
    press(*map, {100, 100});
    time.advance(0.5);
    QTest::keyClick(map.get(), Qt::Key_Escape);
    release(*map, {100, 100});
    ASSERT_EQ(states.size(), 2u);
    EXPECT_EQ(states[0].first, MKGestureState::Began);
    EXPECT_EQ(states[1].first, MKGestureState::Cancelled);
    // Within the tolerance and released early: neither a long press nor a pan.
    states.clear();
    press(*map, {100, 100});
    moveTo(*map, {108, 100});
    time.advance(0.3);
    release(*map, {108, 100});
    time.advance(1);
    EXPECT_TRUE(states.empty());
    EXPECT_TRUE(delegate->callsStartingWith("willChange").empty());
    // Moved past the tolerance: a pan with one will/did pair, and no long press later.
    const CLLocationCoordinate2D before = map->centerCoordinate();
    press(*map, {100, 100});
    moveTo(*map, {130, 100});
    time.advance(0.6);
    moveTo(*map, {160, 100});
    time.advance(0.5);
    release(*map, {160, 100});
    EXPECT_TRUE(states.empty());
    EXPECT_EQ(delegate->calls, (Calls{"willChange animated=0", "didChange animated=0"}));
    EXPECT_LT(map->centerCoordinate().longitude, before.longitude);  // content moved east: view went west
}

// Presses on what lies over the map are not the map's long press: the compass
// (its click turns the map north), a widget the map is told to leave out
// (a scale bar that lets the mouse through); on the open map the same press
// held is one. A double click counts on the map only after the map's own
// first click.
TEST_F(MapView, ControlsOverTheMapAreNoPlaceForALongPress) {
    std::vector<MKGestureState> states;
    map->longPressRecognizer().action = [&](MKGestureState state, QPointF) { states.push_back(state); };
    map->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(map.get()));
    show(*map, {30, -40}, 5);
    auto* scaleBar = new QWidget(map.get());
    scaleBar->setAttribute(Qt::WA_TransparentForMouseEvents);
    scaleBar->setGeometry(200, 400, 150, 30);
    scaleBar->show();
    map->addLongPressExclusion(scaleBar);
    auto camera = map->camera();
    camera.heading = 40;
    map->setCamera(camera, false);
    QWidget* compass = map->findSubview(QStringLiteral("MKCompassView"));
    ASSERT_NE(compass, nullptr);
    QWindow* window = map->windowHandle();
    const QPoint onCompass = compass->geometry().center();
    const struct Case {
        const char* name;
        QPoint where;
        double hold;
        bool longPress;
    } cases[] = {
        {"compass clicked", onCompass, 0, false},
        {"scale bar held", scaleBar->geometry().center(), 1, false},
        {"map clicked", {100, 100}, 0, false},
        {"map held", {100, 100}, 1, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        states.clear();
        QTest::mousePress(window, Qt::LeftButton, Qt::NoModifier, c.where);
        time.advance(c.hold);
        QTest::mouseRelease(window, Qt::LeftButton, Qt::NoModifier, c.where);
        time.advance(1);
        EXPECT_EQ(!states.empty() && states.front() == MKGestureState::Began, c.longPress);
    }
    EXPECT_EQ(map->camera().heading, 0) << "the compass click turned the map north";

    // The second half of a double click whose first click went elsewhere
    // (a list that closed under the pointer) does not zoom.
    const double zoom = map->zoomScale();
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(map.get(), &leave);
    send(*map, QEvent::MouseButtonDblClick, {300, 200}, Qt::LeftButton);
    release(*map, {300, 200});
    time.advance(1);
    EXPECT_EQ(map->zoomScale(), zoom);
    // As the window system delivers one: press, release, the second press as a double click, release.
    press(*map, {300, 200});
    release(*map, {300, 200});
    send(*map, QEvent::MouseButtonDblClick, {300, 200}, Qt::LeftButton);
    release(*map, {300, 200});
    time.advance(1);
    EXPECT_NEAR(map->zoomScale(), zoom * 2, zoom * 1e-9) << "the map's own double click zooms";
}

TEST_F(MapView, FlingGlidesOnAndEndsWithOneRegionChange) {
    show(*map, {30, -40}, 5);
    RunLoop::runUntilIdle();
    delegate->clear();
    const MKMapPoint start = map->centerMapPoint();
    press(*map, {100, 100});
    for (const double x : {130.0, 160.0, 190.0}) {
        time.advance(0.01);
        moveTo(*map, {x, 100});
    }
    release(*map, {190, 100});
    // Released while moving at 3,000 points a second: the map glides on.
    const double releasedAt = (start.x - map->centerMapPoint().x) * map->zoomScale();
    EXPECT_NEAR(releasedAt, 90, 1e-6);
    EXPECT_EQ(delegate->calls, Calls{"willChange animated=0"});
    time.advance(0.2);
    const double gliding = (start.x - map->centerMapPoint().x) * map->zoomScale();
    EXPECT_GT(gliding, releasedAt + 100);
    EXPECT_EQ(delegate->calls, Calls{"willChange animated=0"});
    time.advance(5);
    EXPECT_EQ(delegate->calls, (Calls{"willChange animated=0", "didChange animated=0"}));
    // It slows down: the whole glide stays within speed × time constant.
    const double total = (start.x - map->centerMapPoint().x) * map->zoomScale() - releasedAt;
    EXPECT_LT(total, 3000 * 0.325 + 1);
    EXPECT_GT(total, 3000 * 0.325 * 0.9);
}

// A drag of ten moves of 10 points, stamped 10 ms apart by the window system (1,000 points a second),
// handled either as they come or in a burst after a busy event loop (0.5 ms apart); and a flick far
// faster than a hand moves. Returns how far the map glided on after the release, in view points.
double glideAfterDrag(MKMapView& map, tervolo::testsupport::VirtualClockScope& time, double handledApart,
                      double pointsPerMove, ulong stampedApartMs) {
    // Zoom 8: the world is 65,536 points wide, so no glide goes round it.
    show(map, {30, -40}, 8);
    RunLoop::runUntilIdle();
    const MKMapPoint start = map.centerMapPoint();
    auto moved = [&] {
        double dx = start.x - map.centerMapPoint().x;
        dx -= std::round(dx / kWorld) * kWorld;
        return dx * map.zoomScale();
    };
    ulong stamp = 100000;
    auto send = [&](QEvent::Type type, QPointF position, Qt::MouseButtons buttons) {
        const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
        QMouseEvent event(type, position, map.mapToGlobal(position), button, buttons, Qt::NoModifier);
        event.setTimestamp(stamp);
        QApplication::sendEvent(&map, &event);
    };
    QPointF at(100, 100);
    send(QEvent::MouseButtonPress, at, Qt::LeftButton);
    for (int i = 0; i < 10; ++i) {
        time.advance(handledApart);
        stamp += stampedApartMs;
        at.rx() += pointsPerMove;
        send(QEvent::MouseMove, at, Qt::LeftButton);
    }
    send(QEvent::MouseButtonRelease, at, Qt::NoButton);
    const double releasedAt = moved();
    EXPECT_NEAR(releasedAt, at.x() - 100, 1e-6);
    time.advance(10);
    return moved() - releasedAt;
}

TEST_F(MapView, GlideFollowsWhenTheMovesWereMadeNotWhenTheyWereHandled) {
    const double even = glideAfterDrag(*map, time, 0.010, 10, 10);
    const double burst = glideAfterDrag(*map, time, 0.0005, 10, 10);
    // Released at 1,000 points a second: speed × time constant.
    EXPECT_NEAR(even, 1000 * 0.325, 1000 * 0.325 * 0.1);
    EXPECT_LE(burst, even + 1);
    EXPECT_GE(burst, even * 0.9);
    // A flick at 50,000 points a second glides no farther than the capped speed allows.
    const double flick = glideAfterDrag(*map, time, 0.001, 50, 1);
    EXPECT_LE(flick, 5000 * 0.325 + 1);
    EXPECT_GT(flick, even);
}

TEST_F(MapView, WheelBurstIsOneRegionChange) {
    show(*map, {30, -40}, 5);
    RunLoop::runUntilIdle();
    delegate->clear();
    const double before = map->zoomScale();
    const QPointF pointer(200, 150);
    const CLLocationCoordinate2D under = map->convertPoint({pointer.x(), pointer.y()});
    for (int i = 0; i < 3; ++i) {
        QWheelEvent wheel(pointer, map->mapToGlobal(pointer), QPoint(), QPoint(0, 120), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(map.get(), &wheel);
        time.advance(0.1);
    }
    EXPECT_EQ(delegate->calls, (Calls{"willChange animated=0"}));
    time.advance(0.15);
    EXPECT_EQ(delegate->calls, (Calls{"willChange animated=0", "didChange animated=0"}));
    EXPECT_NEAR(map->zoomScale(), before * std::exp2(1.5), before * 1e-9);
    // Zoomed around the pointer: the same coordinate stays under it.
    const CLLocationCoordinate2D after = map->convertPoint({pointer.x(), pointer.y()});
    EXPECT_NEAR(after.latitude, under.latitude, 1e-9);
    EXPECT_NEAR(after.longitude, under.longitude, 1e-9);
}

TEST_F(MapView, KeysZoomAndPanWithOneRegionChangeEach) {
    show(*map, {30, -40}, 5);
    RunLoop::runUntilIdle();
    struct Case {
        Qt::Key key;
        double zoomFactor;
        double dx;  // view points the centre moves east
        double dy;  // and south
    };
    const Case cases[] = {
        {Qt::Key_Plus, 2, 0, 0},    {Qt::Key_Minus, 0.5, 0, 0}, {Qt::Key_Left, 1, -120, 0},
        {Qt::Key_Right, 1, 120, 0}, {Qt::Key_Up, 1, 0, -120},   {Qt::Key_Down, 1, 0, 120},
    };
    for (const auto& c : cases) {
        delegate->clear();
        const double scale = map->zoomScale();
        const MKMapPoint before = map->centerMapPoint();
        QTest::keyClick(map.get(), c.key);
        EXPECT_EQ(delegate->calls, (Calls{"willChange animated=0", "didChange animated=0"})) << c.key;
        EXPECT_NEAR(map->zoomScale(), scale * c.zoomFactor, scale * 1e-9) << c.key;
        EXPECT_NEAR((map->centerMapPoint().x - before.x) * scale, c.dx, 1e-6) << c.key;
        EXPECT_NEAR((map->centerMapPoint().y - before.y) * scale, c.dy, 1e-6) << c.key;
    }
}

TEST_F(MapView, HoverReportsTheCoordinateUnderThePointer) {
    show(*map, {30, -40}, 5);
    std::vector<std::pair<MKGestureState, CLLocationCoordinate2D>> hovers;
    map->setHoverHandler([&](MKGestureState state, QPointF, CLLocationCoordinate2D coordinate) {
        hovers.emplace_back(state, coordinate);
    });
    const QPointF middle(320, 240);
    QEnterEvent enter(middle, middle, map->mapToGlobal(middle));
    QApplication::sendEvent(map.get(), &enter);
    send(*map, QEvent::MouseMove, middle + QPointF(10, 0), Qt::NoButton);
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(map.get(), &leave);
    ASSERT_EQ(hovers.size(), 3u);
    EXPECT_EQ(hovers[0].first, MKGestureState::Began);
    EXPECT_EQ(hovers[1].first, MKGestureState::Changed);
    EXPECT_EQ(hovers[2].first, MKGestureState::Ended);
    EXPECT_NEAR(hovers[0].second.latitude, map->centerCoordinate().latitude, 1e-9);
    const CLLocationCoordinate2D expected = map->convertPoint({330, 240});
    EXPECT_NEAR(hovers[1].second.longitude, expected.longitude, 1e-9);
    EXPECT_NEAR(map->hoverCoordinate().longitude, expected.longitude, 1e-9);
}

TEST_F(MapView, CalloutAccessoryControlReportsAfterItsOwnAction) {
    show(*map, {30, -40}, 5);
    auto a = std::make_shared<MKPointAnnotation>(CLLocationCoordinate2D{30, -40}, "A");
    auto* button = new QPushButton(QStringLiteral("i"));
    button->setFixedSize(24, 24);
    std::vector<std::string> order;
    QObject::connect(button, &QPushButton::clicked, [&] { order.push_back("button"); });
    delegate->onCall = [&](const std::string& line) {
        if (line.rfind("accessory", 0) == 0) order.push_back("delegate");
    };
    auto accessory = std::make_shared<MKCalloutAccessoryWidget>(button);
    delegate->viewFactory = [&](MKMapViewModel&, const std::shared_ptr<MKAnnotation>& annotation) {
        auto view = std::make_shared<MKPinAnnotationView>(annotation, "pin");
        view->setCanShowCallout(true);
        view->setRightCalloutAccessoryView(accessory);
        return view;
    };
    map->addAnnotation(a);
    map->selectAnnotation(a);
    map->show();
    QApplication::processEvents();
    ASSERT_TRUE(button->isVisible());
    QTest::mouseClick(button, Qt::LeftButton);
    QApplication::processEvents();
    EXPECT_EQ(order, (std::vector<std::string>{"button", "delegate"}));
    saveScreenshot(*map, QStringLiteral("mapview-callout.png"));
}

// Each line of the callout starts on the side its script is read from; the shorter line shows it.
TEST_F(MapView, CalloutLinesStartWhereTheirScriptIsRead) {
    struct Case {
        const char* name;
        const char* title;
        const char* subtitle;
        bool titleAtRight;
        bool subtitleAtRight;
    };
    const char* latinLong = "Pier 4, on the west side of the old town";
    const Case cases[] = {
        {"latin", "Harbour", latinLong, false, false},
        {"hebrew title", "\u05E0\u05DE\u05DC", latinLong, true, false},
        {"arabic title", "\u0645\u064A\u0646\u0627\u0621", latinLong, true, false},
        {"hebrew subtitle", "Harbour and old town pier", "\u05E8\u05E6\u05D9\u05E3 4", false, true},
    };
    show(*map, {30, -40}, 5);
    map->show();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto a = std::make_shared<MKPointAnnotation>(CLLocationCoordinate2D{30, -40}, c.title, c.subtitle);
        map->addAnnotation(a);
        map->selectAnnotation(a);
        QApplication::processEvents();
        MKCalloutView* callout = map->calloutView();
        ASSERT_NE(callout, nullptr);
        ASSERT_TRUE(callout->isVisible());
        const QImage image = callout->grab().toImage();
        QFont titleFont = callout->font();
        titleFont.setPixelSize(14);
        titleFont.setBold(true);
        QFont subtitleFont = callout->font();
        subtitleFont.setPixelSize(12);
        const int titleHeight = QFontMetrics(titleFont).height();
        const int subtitleHeight = QFontMetrics(subtitleFont).height();
        // Text area: ten points in from the bubble's sides, title over subtitle, centred in the bubble.
        const int textLeft = 10;
        const int textRight = image.width() - 10;
        const int top = (image.height() - 10 - titleHeight - subtitleHeight) / 2;
        auto ink = [&](int fromY, int toY) {
            int left = image.width();
            int right = -1;
            for (int y = std::max(0, fromY); y < std::min(image.height(), toY); ++y) {
                for (int x = 0; x < image.width(); ++x) {
                    if (image.pixelColor(x, y).lightness() < 140) {
                        left = std::min(left, x);
                        right = std::max(right, x);
                    }
                }
            }
            return std::pair{left, right};
        };
        const auto [titleLeft, titleRight] = ink(top, top + titleHeight);
        const auto [subtitleLeft, subtitleRight] = ink(top + titleHeight, top + titleHeight + subtitleHeight);
        ASSERT_GE(titleRight, 0);
        ASSERT_GE(subtitleRight, 0);
        if (c.titleAtRight) {
            EXPECT_GE(titleRight, textRight - 4)
                << titleLeft << ".." << titleRight << " of " << image.width();
            EXPECT_GT(titleLeft, textLeft + 20);
        } else {
            EXPECT_LE(titleLeft, textLeft + 3) << titleLeft << ".." << titleRight << " of " << image.width();
        }
        if (c.subtitleAtRight) {
            EXPECT_GE(subtitleRight, textRight - 4) << subtitleLeft << ".." << subtitleRight;
            EXPECT_GT(subtitleLeft, textLeft + 20);
        } else {
            EXPECT_LE(subtitleLeft, textLeft + 3) << subtitleLeft << ".." << subtitleRight;
        }
        saveScreenshot(
            *callout,
            QStringLiteral("mapview-callout-%1.png").arg(QString::fromUtf8(c.name).replace(' ', '-')));
        map->removeAnnotation(a);
        QApplication::processEvents();
    }
}

TEST_F(MapView, CompassComesAndGoesWithTheHeading) {
    struct Hooked : MKMapView {
        std::vector<std::string> hooks;
        void didAddSubview(QWidget* subview) override {
            hooks.push_back("add " + std::string(subview->metaObject()->className()));
        }
        void willRemoveSubview(QWidget* subview) override {
            hooks.push_back("remove " + std::string(subview->metaObject()->className()));
        }
    };
    Hooked hooked;
    EXPECT_EQ(hooked.findSubview(QStringLiteral("MKCompassView")), nullptr);
    EXPECT_NE(hooked.findSubview(QStringLiteral("MKAppleLogoImageView")), nullptr);
    EXPECT_NE(hooked.findSubview(QStringLiteral("MKAttributionLabel")), nullptr);
    MKMapCamera camera = hooked.camera();
    camera.heading = 30;
    hooked.setCamera(camera);
    EXPECT_NE(hooked.findSubview(QStringLiteral("MKCompassView")), nullptr);
    camera.heading = 0;
    hooked.setCamera(camera);
    EXPECT_EQ(hooked.hooks,
              (std::vector<std::string>{"add platform::MKCompassView", "remove platform::MKCompassView"}));
    RunLoop::runUntilIdle();
}

TEST_F(MapView, ProgrammaticAnimationEndsOnTheTarget) {
    map->show();
    show(*map, {30, -40}, 5);
    RunLoop::runUntilIdle();
    delegate->clear();
    auto target = std::make_shared<MKPointAnnotation>(CLLocationCoordinate2D{40, -30}, "T");
    map->addAnnotation(target);
    const QPointF middle(map->width() / 2.0, map->height() / 2.0);
    map->setCenterCoordinate({40, -30}, true);
    EXPECT_EQ(delegate->calls, (Calls{"willChange animated=1"}));
    // The model is there at once; the screen is on its way.
    EXPECT_NEAR(map->centerCoordinate().latitude, 40, 1e-9);
    EXPECT_GT(QLineF(map->anchorPointForAnnotation(*target), middle).length(), 100);
    time.advance(0.2);
    RunLoop::runUntilIdle();
    EXPECT_EQ(delegate->calls, (Calls{"willChange animated=1"}));
    const double halfway = QLineF(map->anchorPointForAnnotation(*target), middle).length();
    EXPECT_GT(halfway, 1);
    time.advance(0.2);
    RunLoop::runUntilIdle();
    EXPECT_EQ(delegate->calls, (Calls{"willChange animated=1", "didChange animated=1"}));
    EXPECT_LT(QLineF(map->anchorPointForAnnotation(*target), middle).length(), 1e-6);
    // With animations switched to immediate the screen jumps.
    {
        ImmediateAnimationsScope immediate;
        map->setCenterCoordinate({30, -40}, true);
        EXPECT_GT(QLineF(map->anchorPointForAnnotation(*target), middle).length(), 100);
        map->setCenterCoordinate({40, -30}, true);
        EXPECT_LT(QLineF(map->anchorPointForAnnotation(*target), middle).length(), 1e-6);
    }
    time.advance(1);
}

// ---- Memory: one cell cache and one drawing pool for every map view

// Resident set size of this process in MiB (Linux).
double residentMiB() {
    std::FILE* file = std::fopen("/proc/self/statm", "r");
    if (file == nullptr) return 0;
    long pages = 0;
    long resident = 0;
    const int read = std::fscanf(file, "%ld %ld", &pages, &resident);
    std::fclose(file);
    return read == 2 ? static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / (1 << 20)
                     : 0;
}

TEST(MapViewMemory, ViewsShareOneCellCacheWithOneBudget) {
    application();
    tervolo::testsupport::VirtualClockScope time;
    // A budget small enough to be reached in a test (TERVOLO_CELL_BUDGET_MIB measures another).
    const char* budgetText = std::getenv("TERVOLO_CELL_BUDGET_MIB");
    const size_t budget = static_cast<size_t>(budgetText != nullptr ? std::atoi(budgetText) : 24) << 20;
    CellCache cache(budget);
    {
        auto replaced = SharedInstance<CellCache>::replaceForTesting(cache);
        auto large = std::make_unique<MKMapView>();
        large->resize(1024, 768);
        // What one view drew, another showing the same place finds drawn.
        show(*large, {60.25, 24.95}, 6);
        ASSERT_TRUE(large->waitForCells());
        const double oneView = residentMiB();
        auto small = std::make_unique<MKMapView>();
        small->resize(320, 200);
        show(*small, {60.25, 24.95}, 6);
        {
            QImage image(small->size(), QImage::Format_ARGB32_Premultiplied);
            QPainter painter(&image);
            small->drawMap(painter);
        }
        EXPECT_EQ(small->lastFrameStats().cellsPending, 0);
        EXPECT_GT(small->lastFrameStats().cellsDrawn, 0);
        const double twoViews = residentMiB();

        // 1,000 random pans and zooms, mostly on the large view, some on the small one: the cache
        // stays within its one budget, and the process's resident size levels off.
        std::mt19937 random(59);
        std::vector<double> resident;
        for (int step = 1; step <= 1000; ++step) {
            MKMapView& view = step % 5 == 0 ? *small : *large;
            const double latitude = std::uniform_real_distribution<>(-60, 70)(random);
            const double longitude = std::uniform_real_distribution<>(-180, 180)(random);
            const int zoom = std::uniform_int_distribution<>(2, 9)(random);
            show(view, {latitude, longitude}, zoom);
            ASSERT_TRUE(view.waitForCells());
            EXPECT_LE(cache.byteCount(), budget);
            if (step % 250 == 0) resident.push_back(residentMiB());
        }
        std::printf(
            "resident MiB: one view %.1f, with the small one %.1f; after 250/500/750/1000 steps "
            "(cell budget %zu MiB): %.1f %.1f %.1f %.1f\n",
            oneView, twoViews, budget >> 20, resident[0], resident[1], resident[2], resident[3]);
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
        // (Sanitizers keep freed memory in quarantine: their resident size says nothing here.)
        EXPECT_LT(resident[3] - resident[1], 32.0) << "resident size still growing";
#endif
        small.reset();
        large.reset();
        CellCache::drawingPool().waitForDone();
    }
}

TEST_F(MapView, ManySmallCirclesInViewFitTheCellBudget) {
    // Every overlay keeps cells of its own; a small circle's cell is nearly all transparent, so only
    // its inked part is kept. Three hundred circles in view, whose whole cells would need 75 MiB,
    // fit a budget of 16 MiB, and the frame completes with every circle drawn where it stands.
    CellCache cache(16u << 20);
    auto replaced = SharedInstance<CellCache>::replaceForTesting(cache);
    auto view = std::make_unique<MKMapView>();
    view->resize(1024, 768);
    view->setDelegate(delegate);
    const CLLocationCoordinate2D middle{48.5, 11.0};
    show(*view, middle, 9);
    const QImage bare = frame(*view);
    delegate->rendererFactory = [](const std::shared_ptr<MKOverlay>& o) {
        return circleRenderer(o, QColor::fromRgbF(1, 0, 0, 0.5));
    };
    std::mt19937 random(17);
    std::vector<CLLocationCoordinate2D> centres;
    for (int i = 0; i < 300; ++i) {
        const QPointF spot(std::uniform_real_distribution<>(20, 1004)(random),
                           std::uniform_real_distribution<>(20, 748)(random));
        const MKMapRect shown = view->visibleMapRect();
        centres.push_back(MKCoordinateForMapPoint({shown.origin.x + spot.x() * shown.size.width / 1024,
                                                   shown.origin.y + spot.y() * shown.size.height / 768}));
        view->addOverlay(std::make_shared<MKCircle>(centres.back(), 1500));
    }
    const QImage drawn = frame(*view);
    EXPECT_EQ(view->lastFrameStats().cellsPending, 0);
    EXPECT_LE(cache.byteCount(), size_t{16} << 20);
    for (const auto& centre : centres) {
        const QColor before = pixel(bare, at(*view, centre));
        const QColor after = pixel(drawn, at(*view, centre));
        EXPECT_GT(after.red() - after.blue(), before.red() - before.blue() + 40)
            << "no circle at " << centre.latitude << ", " << centre.longitude;
    }
    view.reset();
    CellCache::drawingPool().waitForDone();
}

// ---- Screenshots

TEST_F(MapView, WindowScreenshotsOverFinland) {
    QMainWindow window;
    auto* view = showInWindow(window);
    auto owner = std::make_shared<tervolo::testsupport::RecordingMapViewDelegate>();
    view->setDelegate(owner);
    owner->rendererFactory = [](const std::shared_ptr<MKOverlay>& o) {
        return circleRenderer(o, QColor::fromRgbF(1, 0, 0, 0.25));
    };
    auto helsinki = std::make_shared<MKPointAnnotation>(CLLocationCoordinate2D{60.1699, 24.9384}, "Helsinki",
                                                        "Capital of Finland");
    view->addAnnotation(helsinki);
    view->addAnnotation(
        std::make_shared<MKPointAnnotation>(CLLocationCoordinate2D{65.0121, 25.4651}, "Oulu"));
    view->addOverlay(std::make_shared<MKCircle>(CLLocationCoordinate2D{61.4978, 23.7610}, 30000));
    view->updateUserLocation(CLLocation({62.2426, 25.7473}, 0, 5000, -1, Date{0}));
    view->setShowsUserLocation(true);
    for (const int zoom : {2, 6}) {
        show(*view, {64, 26}, zoom);
        if (zoom == 6) view->selectAnnotation(helsinki);
        ASSERT_TRUE(view->waitForCells());
        QApplication::processEvents();
        saveScreenshot(window, QStringLiteral("mapview-finland-zoom%1.png").arg(zoom));
    }
    view->setMapType(MKMapType::Hybrid);
    ASSERT_TRUE(view->waitForCells());
    saveScreenshot(window, QStringLiteral("mapview-finland-zoom6-hybrid.png"));
    MKMapCamera camera = view->camera();
    camera.heading = 20;
    view->setCamera(camera);
    ASSERT_TRUE(view->waitForCells());
    QApplication::processEvents();
    saveScreenshot(window, QStringLiteral("mapview-finland-zoom6-turned.png"));
    RunLoop::runUntilIdle();
}

TEST_F(MapView, WorldScreenshots) {
    QMainWindow window;
    auto* view = showInWindow(window);
    view->setVisibleMapRect(MKMapRectWorld);
    ASSERT_TRUE(view->waitForCells());
    QApplication::processEvents();
    saveScreenshot(window, QStringLiteral("mapview-world.png"));
    // The far south at the middle scale: land to the map's edge.
    for (const double longitude : {0.0, -150.0}) {
        show(*view, {-84, longitude}, 3);
        ASSERT_TRUE(view->waitForCells());
        QApplication::processEvents();
        saveScreenshot(window,
                       QStringLiteral("mapview-antarctica-zoom3-%1.png").arg(static_cast<int>(longitude)));
    }
    RunLoop::runUntilIdle();
}

// A circle renderer that counts the cells it draws.
struct CountingCircleRenderer : MKCircleRenderer {
    using MKCircleRenderer::MKCircleRenderer;
    std::atomic<int> cells{0};
    void drawMapRect(const MKMapRect& rect, MKZoomScale zoomScale, MKGraphicsContext& context) override {
        ++cells;
        MKCircleRenderer::drawMapRect(rect, zoomScale, context);
    }
};

double areaOf(const QRegion& region) {
    double area = 0;
    for (const QRect& rect : region) area += static_cast<double>(rect.width()) * rect.height();
    return area;
}

// A fix of the user's position repaints where the dot and its accuracy halo were and where they are
// now, and, when the screen replaces the circle it keeps around the user, the old and the new circle:
// not the map, and no cell of another overlay is drawn again.
TEST_F(MapView, AFixRepaintsOnlyTheDotAndTheCircleAroundTheUser) {
    QMainWindow window;
    auto* view = showInWindow<CountingMap>(window);
    auto owner = std::make_shared<tervolo::testsupport::RecordingMapViewDelegate>();
    view->setDelegate(owner);
    auto pointCircle = std::make_shared<MKCircle>(CLLocationCoordinate2D{60.1704, 24.9404}, 30);
    std::shared_ptr<CountingCircleRenderer> pointRenderer;
    owner->rendererFactory = [&](const std::shared_ptr<MKOverlay>& o) -> std::shared_ptr<MKOverlayRenderer> {
        auto renderer = std::make_shared<CountingCircleRenderer>(std::dynamic_pointer_cast<MKCircle>(o));
        if (o == pointCircle) {
            renderer->setFillColor(Color(1, 0, 0, 0.25));
            pointRenderer = renderer;
        } else {
            renderer->setFillColor(Color(0, 0.48, 1, 0.25));
            renderer->setStrokeColor(Color(0, 0.48, 1, 0.8));
            renderer->setLineWidth(3);
        }
        return renderer;
    };
    view->addOverlay(pointCircle);
    view->addAnnotation(std::make_shared<MKPointAnnotation>(CLLocationCoordinate2D{60.1702, 24.9390}, "Pin"));
    const CLLocationCoordinate2D start{60.1699, 24.9384};
    const double accuracy = 4.5;
    view->updateUserLocation(CLLocation(start, 0, accuracy, -1, Date{0}));
    view->setShowsUserLocation(true);
    view->setRegion({start, {0.0018, 0.0000018}});
    auto userCircle = std::make_shared<MKCircle>(start, 40);
    view->addOverlay(userCircle);
    ASSERT_TRUE(view->waitForCells());
    settleRepaints(*view);
    ASSERT_NE(pointRenderer, nullptr);
    const int pointCells = pointRenderer->cells;
    ASSERT_GT(pointCells, 0);

    // Where the dot with its halo, or a circle with its stroke, shows, with a few points to spare. The
    // map is scaled (cells of 256 pixels shown about 1.2 times as large): a row of a part is repainted
    // from edge to edge of the cells it crosses, at most a cell further to either side.
    const double halo = accuracy * MKMapPointsPerMeterAtLatitude(start.latitude) * view->zoomScale();
    const double cell = 256 * view->zoomScale() / std::exp2(std::round(std::log2(view->zoomScale())));
    ASSERT_GT(std::abs(cell - 256), 1);
    auto rows = [&](QRectF area) { return area.adjusted(-cell, 0, cell, 0).toAlignedRect(); };
    auto dotArea = [&](CLLocationCoordinate2D at) {
        const double reach = std::max(halo, 10.0) + 4;
        return rows(QRectF(::at(*view, at) - QPointF(reach, reach), QSizeF(2 * reach, 2 * reach)));
    };
    auto circleArea = [&](const MKCircle& circle) {
        const MKMapRect bounds = circle.boundingMapRect();
        const auto corner = view->convertCoordinate(MKCoordinateForMapPoint(bounds.origin));
        const double side = bounds.size.width * view->zoomScale();
        return rows(
            QRectF(corner.x - 6, corner.y - 6, side + 12, bounds.size.height * view->zoomScale() + 12));
    };
    const double eastPerMetre = 1 / (111320.0 * std::cos(start.latitude * std::numbers::pi / 180));
    struct Case {
        const char* what;
        double metresEast;  // from the start
        bool newCircle;     // the screen puts a new circle around the user, then takes the old one off
    };
    const Case cases[] = {
        {"a step east", 1.4, false},   {"the same place again", 1.4, false},
        {"another step", 2.8, false},  {"ten metres on, with a new circle", 11.2, true},
        {"out of sight", 2000, false},
    };
    CLLocationCoordinate2D last = start;
    double lastMetres = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        view->painted = QRegion();
        const CLLocationCoordinate2D now{start.latitude, start.longitude + c.metresEast * eastPerMetre};
        QRegion allowed = QRegion(dotArea(last)) | dotArea(now);
        view->updateUserLocation(CLLocation(now, 0, accuracy, -1, Date{c.metresEast}));
        if (c.newCircle) {
            auto next = std::make_shared<MKCircle>(now, 40);
            view->insertOverlay(next, view->overlays().size(), MKOverlayLevel::AboveLabels);
            view->removeOverlay(userCircle);
            allowed |= circleArea(*userCircle);
            allowed |= circleArea(*next);
            userCircle = next;
        }
        settleRepaints(*view);
        EXPECT_TRUE((view->painted - allowed).isEmpty())
            << "repainted " << view->painted.boundingRect().x() << "," << view->painted.boundingRect().y()
            << " " << view->painted.boundingRect().width() << "x" << view->painted.boundingRect().height();
        if (c.metresEast == lastMetres) {
            EXPECT_TRUE(view->painted.isEmpty());
        }
        // And then no more repaints.
        view->paints = 0;
        QApplication::processEvents();
        QApplication::processEvents();
        EXPECT_EQ(view->paints, 0);
        EXPECT_LT(areaOf(view->painted), (c.newCircle ? 0.35 : 0.05) * view->width() * view->height());
        EXPECT_EQ(pointRenderer->cells, pointCells);
        last = now;
        lastMetres = c.metresEast;
    }
    RunLoop::runUntilIdle();
}

// The user walking east at 1.4 m/s, a fix a second, at the zoom the my-location button gives (about
// 200 m of latitude in view), with a circle kept around the user as the map screen keeps it (a new
// one once the user is 10 m from the old one's centre) and a point's circle nearby. After each fix
// has been shown as the window system shows windows, the window holds what a whole frame of that
// moment shows: the dot, its accuracy halo, the circles and the pins under and over them.
TEST_F(MapView, WalkingUserAtStreetZoomShowsWhatAWholeFrameShows) {
    QMainWindow window;
    auto* view = showInWindow(window);
    auto owner = std::make_shared<tervolo::testsupport::RecordingMapViewDelegate>();
    view->setDelegate(owner);
    std::map<const MKOverlay*, QColor> colors;
    owner->rendererFactory = [&](const std::shared_ptr<MKOverlay>& o) {
        return circleRenderer(o,
                              colors.count(o.get()) ? colors[o.get()] : QColor::fromRgbF(0, 0.48, 1, 0.25));
    };
    const CLLocationCoordinate2D start{60.1699, 24.9384};
    for (const auto& pin : std::vector<CLLocationCoordinate2D>{
             {60.1702, 24.9390}, {60.1695, 24.9371}, {60.1699, 24.9420}, {60.1704, 24.9404}}) {
        view->addAnnotation(std::make_shared<MKPointAnnotation>(pin, "Pin"));
    }
    auto pointCircle = std::make_shared<MKCircle>(CLLocationCoordinate2D{60.1704, 24.9404}, 30);
    colors[pointCircle.get()] = QColor::fromRgbF(1, 0, 0, 0.25);
    view->addOverlay(pointCircle);
    view->setRegion({start, {0.0018, 0.0000018}});
    // A fix's accuracy from the replayed track's dilution (4.5 m): a halo of about 17 points.
    const double eastPerFix = 1.4 / (111320.0 * std::cos(start.latitude * std::numbers::pi / 180));
    std::shared_ptr<MKCircle> userCircle;
    auto walk = [&](int fix) {
        const CLLocationCoordinate2D at{start.latitude, start.longitude + fix * eastPerFix};
        view->updateUserLocation(CLLocation(at, 0, 4.5, -1, Date{static_cast<double>(fix)}));
        if (fix == 0) view->setShowsUserLocation(true);
        const CLLocation here(at.latitude, at.longitude);
        if (!userCircle || here.distance(CLLocation(userCircle->coordinate().latitude,
                                                    userCircle->coordinate().longitude)) >= 10) {
            auto next = std::make_shared<MKCircle>(at, 40);
            view->insertOverlay(next, view->overlays().size(), MKOverlayLevel::AboveLabels);
            if (userCircle) view->removeOverlay(userCircle);
            userCircle = next;
        }
        settleRepaints(*view);  // the fix's repaints, as the window system shows them
    };
    walk(0);
    ASSERT_TRUE(view->waitForCells());
    QApplication::processEvents();
    for (int fix = 1; fix <= 12; ++fix) {
        walk(fix);
        if (fix != 6 && fix != 12) continue;
        SCOPED_TRACE(fix);
        // What the window shows now, and a whole frame drawn afresh.
        const QImage shown = window.screen()->grabWindow(window.winId()).toImage();
        const QImage whole = window.grab().toImage();
        EXPECT_EQ(largestDifference(shown.convertToFormat(whole.format()), whole), 0);
        QDir().mkpath(QStringLiteral(TERVOLO_SCREENSHOT_DIR));
        EXPECT_TRUE(
            shown.save(QStringLiteral(TERVOLO_SCREENSHOT_DIR "/mapview-my-location-walk-%1.png").arg(fix)));
    }
    RunLoop::runUntilIdle();
}

// At pixel ratio 2 the cells waitForCells waits for are the ones the next real frame draws: that frame
// has none pending. The screen's ratio is fixed when the application starts, so the check runs in a
// second run of this program with QT_SCALE_FACTOR=2.
TEST(MapViewAtRatioTwo, WaitForCellsLeavesNoCellOfTheRealFramePending) {
    application();  // in the second run with the scale factor of its environment
    if (std::getenv("TERVOLO_MAPVIEW_RATIO_TWO_RUN") == nullptr) {
        QProcess run;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_SCALE_FACTOR"), QStringLiteral("2"));
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        environment.insert(QStringLiteral("TERVOLO_MAPVIEW_RATIO_TWO_RUN"), QStringLiteral("1"));
        run.setProcessEnvironment(environment);
        run.setProcessChannelMode(QProcess::MergedChannels);
        run.start(QCoreApplication::applicationFilePath(),
                  {QStringLiteral("--gtest_filter=MapViewAtRatioTwo.*")});
        ASSERT_TRUE(run.waitForFinished(240000));
        const std::string output = run.readAll().toStdString();
        EXPECT_EQ(run.exitCode(), 0) << output;
        EXPECT_NE(output.find("[  PASSED  ] 1 test"), std::string::npos) << output;
        return;
    }
    ASSERT_DOUBLE_EQ(qApp->devicePixelRatio(), 2.0);
    tervolo::testsupport::VirtualClockScope time;
    MKMapView map;
    map.resize(640, 480);
    map.show();
    map.clearCellCache();
    RunLoop::runUntilIdle();
    ASSERT_DOUBLE_EQ(map.devicePixelRatioF(), 2.0);
    show(map, {46.5, 9.5}, 9);  // the Alps
    ASSERT_TRUE(map.waitForCells());
    // The real frame: the widget painting itself at its own ratio.
    const QPixmap picture = map.grab();
    EXPECT_DOUBLE_EQ(picture.devicePixelRatio(), 2.0);
    const auto stats = map.lastFrameStats();
    EXPECT_GT(stats.cellsDrawn, 0);
    EXPECT_EQ(stats.cellsPending, 0) << "of " << stats.cellsDrawn << " cells";
    EXPECT_EQ(stats.cellsStandIn, 0);
    QDir().mkpath(QStringLiteral(TERVOLO_SCREENSHOT_DIR));
    EXPECT_TRUE(picture.save(QStringLiteral(TERVOLO_SCREENSHOT_DIR "/mapview-alps-zoom9@2x.png")));
}

// The map's own scale speaks the units of the user's locale, the metres of the C locale included.
TEST_F(MapView, OwnScaleUsesTheLocalesUnits) {
    const struct {
        const char* locale;
        std::vector<QString> units;
    } cases[] = {
        {"de_DE", {"m", "km"}}, {"C.UTF-8", {"m", "km"}}, {"en_US", {"ft", "mi"}}, {"en_GB", {"ft", "mi"}}};
    auto* scale = dynamic_cast<MKScaleView*>(map->findSubview(QStringLiteral("MKScaleView")));
    ASSERT_NE(scale, nullptr);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.locale);
        text::Locale::setCurrentForTesting(text::Locale(c.locale));
        for (const int zoom : {6, 12, 17}) {
            show(*map, {60.17, 24.94}, zoom);
            const QString unit = scale->label().section(QLatin1Char(' '), 1);
            EXPECT_TRUE(std::find(c.units.begin(), c.units.end(), unit) != c.units.end())
                << scale->label().toStdString();
            EXPECT_GT(scale->barPoints(), 20);
            EXPECT_LE(scale->barPoints(), 100.5);
        }
    }
    text::Locale::setCurrentForTesting(std::nullopt);
}

TEST_F(MapView, ShowsItsOwnScaleUntilTurnedOff) {
    map->show();
    QWidget* scale = map->findSubview(QStringLiteral("MKScaleView"));
    ASSERT_NE(scale, nullptr);
    EXPECT_TRUE(map->showsScale());
    EXPECT_TRUE(scale->isVisible());
    map->setShowsScale(false);
    EXPECT_FALSE(map->showsScale());
    EXPECT_FALSE(scale->isVisible());
    // Moving and resizing the map keeps it off.
    map->resize(800, 600);
    show(*map, {48.2, 16.4}, 12);
    EXPECT_FALSE(scale->isVisible());
    map->setShowsScale(true);
    EXPECT_TRUE(scale->isVisible());
}

}  // namespace

// A fix of the user's position that leaves the dot (and its halo) within a pixel of where the last
// frame drew it draws no frame; one that moves the dot, or changes its halo, draws one.
TEST_F(MapView, UserLocationFixesRepaintOnlyWhenTheDotMoves) {
    CountingMap counting;
    counting.resize(512, 512);
    counting.show();
    counting.setDelegate(std::make_shared<tervolo::testsupport::RecordingMapViewDelegate>());
    const CLLocationCoordinate2D start{60.1699, 24.9384};
    counting.updateUserLocation(CLLocation(start, 0, 30, -1, Date{0}));
    counting.setShowsUserLocation(true);
    show(counting, start, 16);  // about 47,000 pixels to a degree of longitude, 1.2 m a pixel
    ASSERT_TRUE(counting.waitForCells());
    QApplication::processEvents();
    QApplication::processEvents();

    struct Case {
        const char* what;
        double dLongitude;
        double accuracy;
        bool repaints;
    };
    const Case cases[] = {
        {"the same place again", 0, 30, false},
        {"a tenth of a pixel east", 0.000002, 30, false},
        {"back by as much", 0, 30, false},
        {"ten pixels east", 0.00021, 30, true},
        {"a halo four times as wide", 0.00021, 120, true},
        {"the halo a hair wider", 0.00021, 120.01, false},
    };
    for (const Case& c : cases) {
        counting.paints = 0;
        counting.updateUserLocation(
            CLLocation({start.latitude, start.longitude + c.dLongitude}, 0, c.accuracy, -1, Date{0}));
        QApplication::processEvents();
        QApplication::processEvents();
        EXPECT_EQ(counting.paints > 0, c.repaints) << c.what;
        // The model follows every fix, drawn or not.
        EXPECT_DOUBLE_EQ(counting.userLocation()->coordinate().longitude, start.longitude + c.dLongitude)
            << c.what;
    }
    RunLoop::runUntilIdle();
}
