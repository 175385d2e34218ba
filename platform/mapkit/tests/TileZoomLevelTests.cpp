#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>

#include "platform/mapkit/MKGeometry.hpp"
#include "platform/mapkit/TileZoomLevel.hpp"

namespace {

using platform::tileZoomLevel;

TEST(TileZoomLevel, FromBoundsAndVisibleWidth) {
    // 2^7.5 times the bounds: log2f of the ratio is exactly -7.5, the half that rounds up.
    const double halfStep = 1000 * std::pow(2.0, 7.5);
    ASSERT_EQ(std::log2(static_cast<float>(1000 / halfStep)), -7.5f);
    struct Case {
        const char* name;
        double bounds;
        double visible;
        std::optional<int64_t> level;
    } cases[] = {
        {"one map point per view point", 1000, 1000, 20},
        {"two view points per map point", 2000, 1000, 21},
        {"a 256th", 1000, 256000, 12},
        {"whole world across 1024 points", 1024, platform::kMKMapWorldSide, 2},
        {"exact half step rounds up", 1000, halfStep, 13},
        {"just below the half step rounds down", 1000, halfStep * 1.001, 12},
        {"world across one point: below 0 counts as 0", 1, platform::kMKMapWorldSide, 0},
        {"no bounds: -infinity counts as 0", 0, 1000, 0},
        {"0 / 0 is not a number: 0", 0, 0, 0},
        {"negative ratio: not a number, 0", -1000, 1000, 0},
        {"visible width 0: infinite, none", 1000, 0, std::nullopt},
        {"ratio beyond float range: none", 1e300, 1e-300, std::nullopt},
        {"NaN bounds: 0", NAN, 1000, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(tileZoomLevel(c.bounds, c.visible), c.level);
    }
}

}  // namespace
