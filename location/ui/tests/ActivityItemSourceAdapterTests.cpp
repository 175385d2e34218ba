// The share sheet's adapter: requests passed on, and the HUD hidden on the
// main thread once the user's position has its item.
#include <gtest/gtest.h>

#include <QApplication>

#include <atomic>
#include <thread>

#include "location/QuovaUserLocationAnnotation.hpp"
#include "location/ui/ActivityItemSourceAdapter.hpp"
#include "location/ui/tests/LocationUITestSupport.hpp"
#include "platform/dispatch/RunLoop.hpp"
#include "points/QuovaMapPoint.hpp"
#include "points/QuovaMapPointStore.hpp"
#include "points/ShareActivityType.hpp"
#include "widgets/hud/HUD.hpp"
#include "widgets/hud/HUDController.hpp"

namespace location_ui_test {
namespace {

using location::ActivityItemSourceAdapter;

class ActivityItemSourceAdapterTest : public LocationUITest {
  protected:
    void SetUp() override {
        LocationUITest::SetUp();
        tervolo::points::QuovaMapPointStore::resetSharedForTesting();
    }
    void TearDown() override {
        tervolo::points::QuovaMapPointStore::resetSharedForTesting();
        LocationUITest::TearDown();
    }
};

TEST_F(ActivityItemSourceAdapterTest, UserLocationItemHidesTheHUDOnTheMainThread) {
    namespace hud = tervolo::widgets::hud;
    QWidget window;
    window.resize(400, 300);
    window.show();
    hud::HUDController controller;
    auto replacement = platform::SharedInstance<hud::HUDController>::replaceForTesting(controller);
    platform::RunLoop::runUntilIdle();
    hud::HUD::show(hud::HUDContentType::labeledProgress(std::string("Creating link\u2026"), std::nullopt),
                   &window);
    environment_.advance(1);
    platform::RunLoop::runUntilIdle();
    ASSERT_TRUE(hud::HUD::isVisible());

    auto annotation = std::make_shared<location::QuovaUserLocationAnnotation>();
    annotation->setCoordinate({60.1699, 24.9384});
    annotation->setTitle("Kauppatori");
    auto adapter = ActivityItemSourceAdapter::makeForUserLocation(annotation);
    EXPECT_EQ(adapter->placeholderItem(), "Kauppatori");  // no uploader: the title
    EXPECT_EQ(adapter->subject(tervolo::points::UIActivityTypeMail), "Kauppatori");

    std::atomic<bool> done{false};
    std::string item;
    std::thread worker([&] {
        item = adapter->item(tervolo::points::UIActivityTypeCopyToPasteboard);
        done = true;
    });
    ASSERT_TRUE(platform::RunLoop::runUntil([&] { return done.load(); }, 30));
    worker.join();
    EXPECT_EQ(item, "https://www.openstreetmap.org/?mlat=60.1699&mlon=24.9384#map=15/60.1699/24.9384");
    platform::RunLoop::runUntilIdle();
    environment_.advance(1);  // the fade
    platform::RunLoop::runUntilIdle();
    EXPECT_FALSE(hud::HUD::isVisible());
}

TEST_F(ActivityItemSourceAdapterTest, PointsUseTheSameAdapterWithoutTouchingTheHUD) {
    auto point = tervolo::points::QuovaMapPoint::make("Harbour");
    point->setCoordinate({53.5511, 9.9937});
    bool finished = false;
    auto adapter = ActivityItemSourceAdapter::make(point);
    EXPECT_EQ(adapter->subject(std::nullopt), "Harbour");
    EXPECT_EQ(adapter->item(tervolo::points::UIActivityTypeMessage),
              "https://www.openstreetmap.org/?mlat=53.5511&mlon=9.9937#map=15/53.5511/9.9937");
    ActivityItemSourceAdapter::Requests requests;
    requests.item = [](const std::optional<std::string>& type) {
        return "item for " + type.value_or("none");
    };
    requests.itemDidFinish = [&] { finished = true; };
    ActivityItemSourceAdapter plain(std::move(requests));
    EXPECT_EQ(plain.item(std::nullopt), "item for none");
    EXPECT_TRUE(finished);
    EXPECT_EQ(plain.placeholderItem(), "");
}

}  // namespace
}  // namespace location_ui_test
