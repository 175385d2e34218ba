#include <gtest/gtest.h>

#include <QPushButton>

#include "MapStyleTestSupport.hpp"
#include "appinfo/UIDevice_QuovaAdditions.hpp"
#include "mapscreen/LayerManager.hpp"
#include "mapscreen/QuovaNavigationController.hpp"
#include "mapscreen/StylesAndLayers.hpp"
#include "platform/ui/AlertController.hpp"
#include "platform/ui/AnimationWidget.hpp"
#include "platform/ui/MainWindow.hpp"
#include "platform/ui/PopoverPresentationController.hpp"
#include "platform/ui/PresentationRecorder.hpp"

namespace mapstyle_test {
namespace {

using tervolo::mapscreen::InfoLayerKey;
using tervolo::mapscreen::StylesAndLayers;
using Device = tervolo::appinfo::UIDevice_QuovaAdditions;

const std::string kCheck = " \u2714\uFE0F";

// A view controller whose view is the given widget.
class ScreenController : public platform::ViewController {
  public:
    explicit ScreenController(QWidget* view) : content_(view) {}
    void loadView() override { setView(content_); }

  private:
    QWidget* content_;
};

// The map screen in a window: the map view 40 points below the screen's top,
// the part under test owned by the test, a points button in the corner.
class StylesAndLayersTest : public MapStyleTest {
  protected:
    void SetUp() override {
        MapStyleTest::SetUp();
        map_->setGeometry(0, 40, 900, 560);
        button_ = new QPushButton(QStringLiteral("Points"), host_.get());
        button_->setGeometry(820, 100, 60, 40);
        screenController_ = std::make_shared<ScreenController>(host_.release());
        window_ = std::make_unique<platform::MainWindow>();
        window_->resize(900, 600);
        window_->setRootViewController(screenController_);
        window_->show();
        part_ = std::make_unique<StylesAndLayers>(*screenController_);
        part_->setMapView(map_);
        part_->setLastMouseLocationProvider([this] { return mouse_; });
        part_->setUpOpenSeaMapOverlay();
    }
    void TearDown() override {
        // The recorder holds what was presented: it goes while the application still exists.
        recorder_.reset();
        part_.reset();
        window_.reset();
        screenController_.reset();
        MapStyleTest::TearDown();
    }
    // The presented action sheet's action titles.
    std::vector<std::string> sheetTitles() const { return recorder_->actionTitles(); }
    std::shared_ptr<platform::AlertController> sheet() const { return recorder_->topAlert(); }
    // Lets the presentation (or dismissal) animation finish.
    void settle() { advance(1.0); }

    std::unique_ptr<platform::PresentationRecorder> recorder_ =
        std::make_unique<platform::PresentationRecorder>();
    std::shared_ptr<ScreenController> screenController_;
    std::unique_ptr<platform::MainWindow> window_;
    std::unique_ptr<StylesAndLayers> part_;
    QPushButton* button_ = nullptr;
    std::optional<QPointF> mouse_;
};

// Title, message and the styles in order, the current one marked (OpenStreetMap
// while none is set), Cancel last; a popover on the map view.
TEST_F(StylesAndLayersTest, StyleSheetListsTheStylesAndMarksTheCurrentOne) {
    struct Case {
        std::optional<QuovaBaseMapStyle> shown;
        std::string current;
    } cases[] = {{std::nullopt, "OpenStreetMap"},
                 {QuovaBaseMapStyle::openTopoMap, "OpenTopoMap"},
                 {QuovaBaseMapStyle::hybrid, "Hybrid"}};
    const std::vector<std::string> names{"Standard",
                                         "Satellite",
                                         "Hybrid",
                                         "OpenStreetMap",
                                         "OpenStreetMap Retina",
                                         "OpenTopoMap",
                                         "OpenCycleMap",
                                         "OpenCycleMap Retina"};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.current);
        if (c.shown) map_->setMapStyle(*c.shown);
        part_->showMapStyleActionSheetFrom(nullptr);
        settle();
        const auto presented = sheet();
        ASSERT_TRUE(presented);
        EXPECT_EQ(presented->title(), "Map Style Selection");
        EXPECT_EQ(presented->message(), "Please Select Map Style. Current Style is " + c.current + ".");
        EXPECT_EQ(presented->preferredStyle(), platform::AlertController::Style::actionSheet);
        EXPECT_EQ(presented->modalPresentationStyle(), platform::ModalPresentationStyle::popover);
        EXPECT_EQ(presented->popoverPresentationController()->sourceView(), map_);
        std::vector<std::string> expected;
        for (const auto& name : names) expected.push_back(name == c.current ? name + kCheck : name);
        expected.push_back("Cancel");
        EXPECT_EQ(sheetTitles(), expected);
        EXPECT_EQ(presented->actions().back()->style(), platform::AlertAction::Style::cancel);
        ASSERT_TRUE(recorder_->chooseAction("Cancel"));
        settle();
    }
    EXPECT_EQ(map_->mapStyle(), QuovaBaseMapStyle::hybrid) << "Cancel changes nothing";
}

// Choosing the current style changes nothing; another one switches.
TEST_F(StylesAndLayersTest, ChoosingAStyleSetsItAndTheCurrentOneChangesNothing) {
    map_->setMapStyle(QuovaBaseMapStyle::openTopoMap);
    const auto before = map_->overlays();
    systemLog_->clear();
    part_->showMapStyleActionSheetFrom(nullptr);
    settle();
    ASSERT_TRUE(recorder_->chooseAction("OpenTopoMap" + kCheck));
    settle();
    EXPECT_EQ(map_->overlays(), before);
    EXPECT_EQ(countSystemLines("TileCacheManager: flushing download queues"), 0u);

    part_->showMapStyleActionSheetFrom(nullptr);
    settle();
    ASSERT_TRUE(recorder_->chooseAction("Satellite"));
    settle();
    EXPECT_EQ(map_->mapStyle(), QuovaBaseMapStyle::satellite);
    EXPECT_EQ(map_->currentTileOverlay(), nullptr);
}

// Both sheets point at the last mouse position in the map view, else at a
// third of the way along the top edge.
TEST_F(StylesAndLayersTest, SheetsAnchorAtTheMouseOrAThirdAlongTheTop) {
    struct Case {
        std::optional<QPointF> mouse;  // in the screen's view
        QRectF rect;                   // in the map view
    } cases[] = {{QPointF(300, 240), QRectF(300, 200, 1, 1)}, {std::nullopt, QRectF(300, 0, 1, 1)}};
    for (const auto& c : cases) {
        mouse_ = c.mouse;
        for (bool styles : {true, false}) {
            SCOPED_TRACE(styles ? "styles" : "layers");
            if (styles) {
                part_->showMapStyleActionSheetFrom(nullptr);
            } else {
                part_->showMapLayersActionSheetFrom(nullptr);
            }
            settle();
            ASSERT_TRUE(sheet());
            EXPECT_EQ(sheet()->popoverPresentationController()->sourceView(), map_);
            EXPECT_EQ(sheet()->popoverPresentationController()->sourceRect(), c.rect);
            ASSERT_TRUE(recorder_->chooseAction("Cancel"));
            settle();
        }
    }
}

// The layers sheet offers the sea-mark layer alone, whatever the other switches hold.
TEST_F(StylesAndLayersTest, LayersSheetOffersOnlyTheSeaMarkLayer) {
    for (int mask = 0; mask < 16; ++mask) {
        SCOPED_TRACE(mask);
        for (int k = 0; k < 4; ++k)
            tervolo::mapscreen::setInfoLayerActive(tervolo::mapscreen::allInfoLayerKeys()[k],
                                                   (mask >> k) & 1);
        part_->showMapLayersActionSheetFrom(nullptr);
        settle();
        ASSERT_TRUE(sheet());
        EXPECT_EQ(sheet()->title(), "Map Layer Selection");
        EXPECT_EQ(sheet()->message(), "Map Layers appear on top of the currently selected map.");
        EXPECT_EQ(sheetTitles(),
                  (std::vector<std::string>{(mask & 1) ? "OpenSeaMap" + kCheck : "OpenSeaMap", "Cancel"}));
        ASSERT_TRUE(recorder_->chooseAction("Cancel"));
        settle();
    }
    EXPECT_EQ(tervolo::mapscreen::LayerManager::shared().wikipediaLayer().localizedDescription,
              "Wikipedia Articles");
}

// The sea-mark layer goes directly above the base tile overlay, or plainly on
// top over one of the map's own types; choosing it again takes it off. The
// switch follows.
TEST_F(StylesAndLayersTest, SeaMarkLayerLiesDirectlyAboveTheBaseMap) {
    const auto seaMarks = part_->osmSeamapOverlay();
    ASSERT_TRUE(seaMarks);
    const auto circle = std::make_shared<platform::MKCircle>(platform::CLLocationCoordinate2D{54, 10}, 1000);
    map_->setMapStyle(QuovaBaseMapStyle::osm);
    map_->addOverlay(circle);
    const auto base = map_->currentTileOverlay();

    part_->showMapLayersActionSheetFrom(nullptr);
    settle();
    ASSERT_TRUE(recorder_->chooseAction("OpenSeaMap"));
    settle();
    EXPECT_TRUE(tervolo::mapscreen::isInfoLayerActive(InfoLayerKey::openSeaMap));
    EXPECT_EQ(map_->overlays(), (std::vector<std::shared_ptr<platform::MKOverlay>>{base, seaMarks, circle}));

    // Across a style switch it stays right above the base map.
    map_->setMapStyle(QuovaBaseMapStyle::openCycleMap);
    EXPECT_EQ(map_->overlays().at(1), seaMarks);

    part_->showMapLayersActionSheetFrom(nullptr);
    settle();
    ASSERT_TRUE(recorder_->chooseAction("OpenSeaMap" + kCheck));
    settle();
    EXPECT_FALSE(tervolo::mapscreen::isInfoLayerActive(InfoLayerKey::openSeaMap));
    EXPECT_FALSE(map_->containsOverlay(seaMarks.get()));

    map_->setMapStyle(QuovaBaseMapStyle::standard);
    part_->addLayerFor(InfoLayerKey::openSeaMap);
    EXPECT_EQ(map_->overlays().back(), seaMarks);

    // The other keys draw nothing.
    const auto count = map_->overlays().size();
    part_->addLayerFor(InfoLayerKey::wikipediaArticles);
    part_->removeLayerFor(InfoLayerKey::localPictures);
    EXPECT_EQ(map_->overlays().size(), count);
}

// The sea-mark overlay's parameters, made once.
TEST_F(StylesAndLayersTest, SeaMarkOverlayIsMadeOnceWithItsSource) {
    const auto seaMarks = part_->osmSeamapOverlay();
    ASSERT_TRUE(seaMarks);
    EXPECT_EQ(seaMarks->map(), "OpenSeaMap");
    EXPECT_EQ(seaMarks->maxTileZ(), 19);
    EXPECT_EQ(seaMarks->tempDirPrefix(), "OpenSeaMapTiles");
    EXPECT_EQ(seaMarks->tileDownloadURLPattern(),
              "https://seamarks.tervolo.invalid/tiles/openseamap/%1$@/%2$@/%3$@.png");
    EXPECT_EQ(seaMarks->tileDownloadPrefixes(), (std::vector<std::string>{"a", "b", "d", "e"}));
    EXPECT_EQ(seaMarks->retinaShiftFrom(), 10);
    EXPECT_EQ(seaMarks->retinaShiftLevel(), 2);
    EXPECT_FALSE(seaMarks->canReplaceMapContent());
    EXPECT_EQ(seaMarks->delegate(), map_->tileOverlayDelegate());
    part_->setUpOpenSeaMapOverlay();
    EXPECT_EQ(part_->osmSeamapOverlay(), seaMarks);

    // A deployment names its own server.
    platform::Bundle::main().setInfoDictionaryForTesting(platform::PropertyValue::Dictionary{
        {"QuovaSeaMarkTileServerScheme", "http"}, {"QuovaSeaMarkTileServerHost", "marks.test:8080"}});
    EXPECT_EQ(StylesAndLayers::seaMarkTileURLPattern(),
              "http://marks.test:8080/tiles/openseamap/%1$@/%2$@/%3$@.png");
}

// Without a map view: no style sheet, the layer is neither added nor removed,
// but the layers sheet still flips the switch.
TEST_F(StylesAndLayersTest, WithoutAMapViewNothingReachesTheMap) {
    part_->setMapView(nullptr);
    part_->showMapStyleActionSheetFrom(nullptr);
    settle();
    EXPECT_TRUE(recorder_->entries().empty());
    part_->showMapLayersActionSheetFrom(nullptr);
    settle();
    ASSERT_TRUE(recorder_->chooseAction("OpenSeaMap"));
    settle();
    EXPECT_TRUE(tervolo::mapscreen::isInfoLayerActive(InfoLayerKey::openSeaMap));
    EXPECT_FALSE(map_->containsOverlay(part_->osmSeamapOverlay().get()));
}

// Every tile cache is emptied: overlays of the register not on the map too,
// and the sea-mark overlay.
TEST_F(StylesAndLayersTest, ClearingCachesReachesOverlaysNotOnTheMap) {
    map_->setMapStyle(QuovaBaseMapStyle::osm);
    map_->setMapStyle(QuovaBaseMapStyle::openTopoMap);  // OpenStreetMap's overlay leaves the map
    systemLog_->clear();
    part_->clearAllOSMCaches();
    for (const char* key : {"OpenStreetMap", "OpenTopoMap", "OpenSeaMap"}) {
        EXPECT_EQ(countSystemLines(std::string("clearing cache for overlay ") + key), 1u) << key;
    }
}

// The point list and the About screen: popovers from the pressed button at half
// the screen's width and two thirds of its height, full screen on a phone;
// nothing without a screen to show. The button fades back in over 0.3 s.
TEST_F(StylesAndLayersTest, PointListAndAboutScreenArePresentedFromTheirButton) {
    struct Case {
        bool points;
        Device::Idiom idiom;  // device type 3, 0, 2, 0
        platform::ModalPresentationStyle style;
        std::string wrapper;
    } cases[] = {
        {true, Device::Idiom::mac, platform::ModalPresentationStyle::popover, "QuovaNavigationController"},
        {true, Device::Idiom::phone, platform::ModalPresentationStyle::fullScreen, "QuovaNavigationController"},
        {false, Device::Idiom::pad, platform::ModalPresentationStyle::popover, "NavigationController"},
        {false, Device::Idiom::phone, platform::ModalPresentationStyle::fullScreen, "NavigationController"},
    };
    for (const auto& c : cases) {
        auto sources = Device::desktopSources();
        sources.userInterfaceIdiom = [idiom = c.idiom] { return idiom; };
        const auto device = Device::replaceSourcesForTesting(sources);
        SCOPED_TRACE(std::string(c.points ? "points " : "about ") + std::to_string(Device::quovaDeviceType()));
        auto content = std::make_shared<platform::ViewController>();
        auto factory = [content] { return content; };
        part_->setPointListFactory(c.points ? StylesAndLayers::ScreenFactory(factory) : nullptr);
        part_->setAboutScreenFactory(c.points ? nullptr : StylesAndLayers::ScreenFactory(factory));
        platform::setAlpha(button_, 0.7);
        if (c.points) {
            part_->pointsButtonPressed(button_);
        } else {
            part_->infoButtonPressed(button_);
        }
        advance(0.3);
        EXPECT_DOUBLE_EQ(platform::presentationAlpha(button_), 1.0);
        settle();
        const auto top = recorder_->topPresented();
        ASSERT_TRUE(top);
        EXPECT_EQ(recorder_->entries().back().className, c.wrapper);
        EXPECT_EQ(top->modalPresentationStyle(), c.style);
        auto* navigation = dynamic_cast<platform::NavigationController*>(top.get());
        ASSERT_NE(navigation, nullptr);
        EXPECT_EQ(navigation->topViewController(), content);
        if (c.style == platform::ModalPresentationStyle::popover) {
            EXPECT_EQ(top->popoverPresentationController()->sourceView(), button_);
            EXPECT_EQ(content->preferredContentSize(), QSizeF(450, 400));
            EXPECT_EQ(top->preferredContentSize(), QSizeF(450, 400));
        }
        ASSERT_TRUE(recorder_->dismissTop());
        settle();

        // No screen to show: the button only logs.
        const size_t presented = recorder_->entries().size();
        part_->setPointListFactory([] { return std::shared_ptr<platform::ViewController>(); });
        part_->setAboutScreenFactory(nullptr);
        part_->pointsButtonPressed(button_);
        part_->infoButtonPressed(button_);
        settle();
        EXPECT_EQ(recorder_->entries().size(), presented);
    }
}

}  // namespace
}  // namespace mapstyle_test
