#include <gtest/gtest.h>

#include <memory>

#include "location/QuovaPinCircleOverlay.hpp"
#include "location/QuovaUserLocationCircleOverlay.hpp"
#include "platform/mapkit/MKMapViewModel.hpp"
#include "testsupport/VirtualClockScope.hpp"

namespace tervolo::location {
namespace {

// The map screen keeps both kinds of circle on one map: it finds a point's
// circle by the point's identifier and tells the kinds apart by class only.
TEST(CircleOverlayTest, PointCirclesAreFoundByIdentifierAndTheKindsByClass) {
    tervolo::testsupport::VirtualClockScope time;
    platform::MKMapViewModel map;
    auto harbour =
        std::make_shared<QuovaPinCircleOverlay>(platform::CLLocationCoordinate2D{60.1699, 24.9384}, 250);
    harbour->setPointUUID("0F5B3C9A-7D1E-4B6A-9C2D-1E2F3A4B5C6D");
    auto unnamed = std::make_shared<QuovaPinCircleOverlay>(platform::CLLocationCoordinate2D{60.2, 24.9}, 100);
    auto user =
        std::make_shared<QuovaUserLocationCircleOverlay>(platform::CLLocationCoordinate2D{60.17, 24.94}, 500);
    map.addOverlay(unnamed);
    map.addOverlay(harbour);
    map.addOverlay(user);

    std::shared_ptr<QuovaPinCircleOverlay> found;
    int userCircles = 0;
    for (const auto& overlay : map.overlays()) {
        if (auto pin = std::dynamic_pointer_cast<QuovaPinCircleOverlay>(overlay);
            pin && pin->pointUUID() == "0F5B3C9A-7D1E-4B6A-9C2D-1E2F3A4B5C6D") {
            found = pin;
        }
        if (std::dynamic_pointer_cast<QuovaUserLocationCircleOverlay>(overlay)) ++userCircles;
    }
    EXPECT_EQ(found, harbour);
    EXPECT_EQ(userCircles, 1);
    EXPECT_FALSE(unnamed->pointUUID().has_value());
    // The map's index finds the same without the walk; an absent identifier
    // and the empty one are different keys.
    EXPECT_EQ(map.firstOverlayWithLookupKey(
                  QuovaPinCircleOverlay::lookupKeyFor(std::string("0F5B3C9A-7D1E-4B6A-9C2D-1E2F3A4B5C6D"))),
              harbour);
    EXPECT_EQ(map.firstOverlayWithLookupKey(QuovaPinCircleOverlay::lookupKeyFor(std::nullopt)), unnamed);
    EXPECT_EQ(map.firstOverlayWithLookupKey(QuovaPinCircleOverlay::lookupKeyFor(std::string())), nullptr);
    EXPECT_EQ(map.firstOverlayWithLookupKey(QuovaUserLocationCircleOverlay::kLookupKey), user);

    // Still circles of their radius in metres around their centre.
    const platform::MKCircle plain({60.17, 24.94}, 500);
    EXPECT_EQ(user->radius(), 500);
    EXPECT_EQ(user->boundingMapRect(), plain.boundingMapRect());
    EXPECT_EQ(harbour->coordinate(), (platform::CLLocationCoordinate2D{60.1699, 24.9384}));

    // Made without centre and radius: an empty circle nowhere.
    const QuovaPinCircleOverlay bare;
    EXPECT_EQ(bare.radius(), 0);
    EXPECT_FALSE(bare.pointUUID().has_value());
    EXPECT_EQ(QuovaUserLocationCircleOverlay().radius(), 0);
}

}  // namespace
}  // namespace tervolo::location
