#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "platform/mapkit/MKMapViewModel.hpp"
#include "testsupport/VirtualClockScope.hpp"
#include "testsupport/mapkit/RecordingMapViewDelegate.hpp"

namespace {

using namespace platform;
using Calls = std::vector<std::string>;

struct Named : MKCircle {
    explicit Named(std::string name) : MKCircle({60, 25}, 1000), name(std::move(name)) {}
    std::string name;
};

class Overlays : public ::testing::Test {
  protected:
    void SetUp() override {
        model.setDelegate(delegate);
        for (const char* name : {"a", "b", "c", "d", "e"}) {
            auto overlay = std::make_shared<Named>(name);
            delegate->nameOverlay(overlay, name);
            o[name] = overlay;
        }
    }
    std::string order() const {
        std::string text;
        for (const auto& overlay : model.overlays()) text += static_cast<const Named&>(*overlay).name;
        text += "|";
        for (const auto& overlay : model.overlaysInLevel(MKOverlayLevel::AboveRoads)) {
            text += static_cast<const Named&>(*overlay).name;
        }
        return text;
    }

    tervolo::testsupport::VirtualClockScope time;
    std::shared_ptr<tervolo::testsupport::RecordingMapViewDelegate> delegate =
        std::make_shared<tervolo::testsupport::RecordingMapViewDelegate>();
    MKMapViewModel model;
    std::map<std::string, std::shared_ptr<Named>> o;
};

TEST_F(Overlays, OrderAfterEveryMix) {
    constexpr auto roads = MKOverlayLevel::AboveRoads;
    constexpr auto labels = MKOverlayLevel::AboveLabels;
    // Each step and the order after it: all overlays in draw order | the AboveRoads level alone.
    struct Step {
        std::function<void()> act;
        const char* expected;
    };
    const Step steps[] = {
        {[&] { model.addOverlay(o["a"]); }, "a|"},
        {[&] { model.addOverlay(o["b"], roads); }, "ba|b"},
        {[&] { model.addOverlay(o["a"], roads); }, "ba|b"},  // already there: nothing
        {[&] { model.insertOverlay(o["c"], 0, labels); }, "bca|b"},
        // An index past the end lands on top of its level.
        {[&] { model.insertOverlay(o["d"], 99, labels); }, "bcad|b"},
        {[&] { model.insertOverlayBelow(o["e"], o["b"]); }, "ebcad|eb"},
        {[&] { model.removeOverlay(o["c"]); }, "ebad|eb"},
        {[&] { model.removeOverlay(o["c"]); }, "ebad|eb"},
        {[&] { model.insertOverlayAbove(o["c"], o["e"]); }, "ecbad|ecb"},
        {[&] { model.insertOverlayAbove(o["b"], o["d"]); }, "ecbad|ecb"},  // present: nothing
        {[&] {
             model.removeOverlays({o["e"], o["a"]});
         },
         "cbd|cb"},
        // A sibling not on the map: like addOverlay.
        {[&] { model.insertOverlayAbove(o["a"], o["e"]); }, "cbda|cb"},
        {[&] { model.insertOverlay(o["e"], 1); }, "cbdea|cb"},
        {[&] { model.insertOverlayAbove(o["d"], o["a"]); }, "cbdea|cb"},
        {[&] { model.removeOverlays(model.overlays()); }, "|"},
        {[&] {
             model.addOverlays({o["c"], o["a"], o["c"]});
         },
         "ca|"},
    };
    for (size_t i = 0; i < std::size(steps); ++i) {
        steps[i].act();
        EXPECT_EQ(order(), steps[i].expected) << "step " << i;
    }
}

TEST_F(Overlays, RendererIsAskedOncePerAdd) {
    delegate->rendererFactory = [](const std::shared_ptr<MKOverlay>& overlay) {
        return std::make_shared<MKCircleRenderer>(std::dynamic_pointer_cast<MKCircle>(overlay));
    };
    model.addOverlay(o["a"]);
    model.addOverlay(o["b"]);
    EXPECT_TRUE(delegate->calls.empty());  // asked when first needed
    const auto first = model.rendererForOverlay(o["a"]);
    ASSERT_TRUE(first);
    EXPECT_EQ(model.rendererForOverlay(o["a"]), first);
    EXPECT_EQ(model.existingRendererForOverlay(o["b"].get()), nullptr);
    model.rendererForOverlay(o["b"]);
    EXPECT_EQ(delegate->calls, (Calls{"rendererFor a", "rendererFor b"}));
    // Removed and added again: asked again, and a new renderer is kept.
    model.removeOverlay(o["a"]);
    EXPECT_EQ(model.rendererForOverlay(o["a"]), nullptr);
    model.addOverlay(o["a"]);
    const auto second = model.rendererForOverlay(o["a"]);
    EXPECT_NE(second, first);
    EXPECT_EQ(delegate->calls, (Calls{"rendererFor a", "rendererFor b", "rendererFor a"}));
    // A delegate without an answer: asked once, nothing drawn.
    delegate->rendererFactory = nullptr;
    model.addOverlay(o["c"]);
    EXPECT_EQ(model.rendererForOverlay(o["c"]), nullptr);
    EXPECT_EQ(model.rendererForOverlay(o["c"]), nullptr);
    EXPECT_EQ(delegate->callsStartingWith("rendererFor c").size(), 1u);
}

// A circle filed under a key of its choosing.
struct Keyed : MKCircle {
    explicit Keyed(std::string key) : MKCircle({60, 25}, 100), key(std::move(key)) {}
    std::string lookupKey() const override { return key; }
    std::string key;
};

TEST(OverlayLookup, FindsTheFirstInDrawOrderAfterAnyMixOfChanges) {
    // The index must answer as a walk over overlays() would, whatever the inserts, levels, removals and
    // batch re-stacking did before: checked against that walk after every step of a long random mix.
    MKMapViewModel model;
    const std::vector<std::string> keys{"", "pin:A", "pin:B", "user"};
    std::vector<std::shared_ptr<Keyed>> pool;
    for (int i = 0; i < 40; ++i)
        pool.push_back(std::make_shared<Keyed>(keys[static_cast<size_t>(i) % keys.size()]));
    const auto walk = [&](const std::string& key) -> std::shared_ptr<MKOverlay> {
        if (key.empty()) return nullptr;
        for (const auto& overlay : model.overlays()) {
            if (overlay->lookupKey() == key) return overlay;
        }
        return nullptr;
    };
    std::mt19937 random(11);
    std::uniform_int_distribution<size_t> pick(0, pool.size() - 1);
    std::uniform_int_distribution<int> action(0, 5);
    for (int step = 0; step < 2000; ++step) {
        const auto& overlay = pool[pick(random)];
        switch (action(random)) {
            case 0:
                model.addOverlay(overlay, MKOverlayLevel::AboveRoads);
                break;
            case 1:
                model.insertOverlay(overlay, pick(random) % 7, MKOverlayLevel::AboveLabels);
                break;
            case 2:
                model.insertOverlayBelow(overlay, pool[pick(random)]);
                break;
            case 3:
                model.removeOverlay(overlay);
                break;
            case 4:
                model.removeOverlays({overlay, pool[pick(random)]});
                break;
            default: {
                // The style switch's re-stacking: everything off, back on above the labels in order.
                const auto all = model.overlays();
                model.removeOverlays(all);
                model.addOverlays(all);
            }
        }
        for (const auto& key : keys) {
            ASSERT_EQ(model.firstOverlayWithLookupKey(key), walk(key)) << "step " << step << " key " << key;
        }
    }
    model.removeOverlays(model.overlays());
    EXPECT_EQ(model.firstOverlayWithLookupKey("pin:A"), nullptr);
}

// A host that counts what renderers report.
struct CountingModel : MKMapViewModel {
    std::atomic<int> invalidations{0};
    std::atomic<int> allScales{0};
    void overlayRendererNeedsDisplay(const MKOverlayRenderer&, const MKMapRect&, MKZoomScale scale) override {
        ++invalidations;
        if (scale <= 0) ++allScales;
    }
    ~CountingModel() override { detachRenderers(); }
};

TEST(OverlayRenderer, InvalidationsReachTheMapOnlyWhileOnIt) {
    CountingModel model;
    auto delegate = std::make_shared<tervolo::testsupport::RecordingMapViewDelegate>();
    model.setDelegate(delegate);
    auto circle = std::make_shared<MKCircle>(CLLocationCoordinate2D{0, 0}, 500);
    auto renderer = std::make_shared<MKCircleRenderer>(circle);
    delegate->rendererFactory = [&](const std::shared_ptr<MKOverlay>&) { return renderer; };
    renderer->setNeedsDisplay();
    EXPECT_EQ(model.invalidations, 0);
    model.addOverlay(circle);
    model.rendererForOverlay(circle);
    // From several threads at once.
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 1000; ++i)
                renderer->setNeedsDisplayInMapRect(circle->boundingMapRect(), 1.0 / 64);
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(model.invalidations, 4000);
    renderer->setFillColor(Color(1, 0, 0, 0.25));
    EXPECT_EQ(model.allScales, 1);
    model.removeOverlay(circle);
    renderer->setNeedsDisplay();
    EXPECT_EQ(model.invalidations, 4001);
}

TEST(OverlayRenderer, RendererSpaceIsRelativeToTheOverlay) {
    auto circle = std::make_shared<MKCircle>(CLLocationCoordinate2D{0, 0}, 1000);
    MKOverlayRenderer renderer(circle);
    const MKMapRect bounds = circle->boundingMapRect();
    const MKMapRect cell = MKMapRectMake(bounds.origin.x + 10, bounds.origin.y + 20, 256, 256);
    EXPECT_EQ(renderer.rectForMapRect(cell), MKMapRectMake(10, 20, 256, 256));
    EXPECT_EQ(renderer.mapRectForRect(renderer.rectForMapRect(cell)), cell);
    // 1 km at the equator.
    EXPECT_NEAR(bounds.size.width, 2000 * MKMapPointsPerMeterAtLatitude(0), 1e-6);
    EXPECT_NEAR(circle->coordinate().latitude, 0, 1e-12);
    EXPECT_EQ(MKCircle({0, 0}, -5).radius(), 0);
}

// Writes what a renderer draws, one line per call.
struct RecordingContext : MKGraphicsContext {
    std::vector<std::string> lines;
    void saveGState() override { lines.push_back("save"); }
    void restoreGState() override { lines.push_back("restore"); }
    void translateCTM(double, double) override { lines.push_back("translate"); }
    void scaleCTM(double, double) override { lines.push_back("scale"); }
    void setAlpha(double alpha) override { lines.push_back("alpha " + std::to_string(alpha)); }
    void setFillColor(const Color& color) override { lines.push_back("fill " + *color.hexString(true)); }
    void setStrokeColor(const Color& color) override { lines.push_back("stroke " + *color.hexString(true)); }
    void setLineWidth(double width) override { lines.push_back("width " + std::to_string(width)); }
    void fillRect(const Rect&) override { lines.push_back("fillRect"); }
    void fillEllipseInRect(const Rect& r) override {
        lines.push_back("fillEllipse " + std::to_string(static_cast<int>(r.x)) + " " +
                        std::to_string(static_cast<int>(r.width)));
    }
    void strokeEllipseInRect(const Rect&) override { lines.push_back("strokeEllipse"); }
    void fillPolygon(const std::vector<Point>&) override { lines.push_back("fillPolygon"); }
    void strokePath(const std::vector<Point>&, bool) override { lines.push_back("strokePath"); }
    void drawImage(const Rect&, const MKBitmap&) override { lines.push_back("image"); }
    void showText(const std::string&, Point, const std::string&, double) override { lines.push_back("text"); }
};

TEST(OverlayRenderer, CircleRendererFillsAndStrokesWhatIsSet) {
    auto circle = std::make_shared<MKCircle>(CLLocationCoordinate2D{0, 0}, 1000);
    MKCircleRenderer renderer(circle);
    const int width = static_cast<int>(circle->boundingMapRect().size.width);
    struct Case {
        std::optional<Color> fill;
        std::optional<Color> stroke;
        double lineWidth;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {Color(1, 0, 0, 0.25),
         std::nullopt,
         0,
         {"save", "alpha 1.000000", "fill FF00003F", "fillEllipse 0 " + std::to_string(width), "restore"}},
        {std::nullopt,
         Color(0, 0, 1, 1),
         2,
         {"save", "alpha 1.000000", "stroke 0000FFFF", "width 128.000000", "strokeEllipse", "restore"}},
        // A stroke without width draws nothing.
        {std::nullopt, Color(0, 0, 1, 1), 0, {"save", "alpha 1.000000", "restore"}},
    };
    for (const auto& c : cases) {
        renderer.setFillColor(c.fill);
        renderer.setStrokeColor(c.stroke);
        renderer.setLineWidth(c.lineWidth);
        RecordingContext context;
        // Two view points at zoom scale 1/64 are 128 map points.
        renderer.drawMapRect(circle->boundingMapRect(), 1.0 / 64, context);
        EXPECT_EQ(context.lines, c.expected);
    }
}

}  // namespace
