#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <vector>

#include "platform/mapkit/MKAnnotation.hpp"
#include "platform/mapkit/MKAnnotationIndex.hpp"

namespace {

using namespace platform;

struct Placed {
    std::unique_ptr<MKPointAnnotation> annotation;
    MKMapPoint point;
};

std::vector<const MKAnnotation*> scan(const std::vector<Placed>& placed, const MKMapRect& rect) {
    std::vector<const MKAnnotation*> found;
    for (const auto& p : placed) {
        if (MKMapRectContainsPoint(rect, p.point)) found.push_back(p.annotation.get());
    }
    std::sort(found.begin(), found.end());
    return found;
}

std::vector<const MKAnnotation*> sorted(std::vector<const MKAnnotation*> found) {
    std::sort(found.begin(), found.end());
    return found;
}

// Random points with a dense cluster (a city full of pins, many at the very same place) on top of a
// uniform spread: the cluster drives the tree to its deepest level.
std::vector<Placed> placePoints(size_t count, std::mt19937_64& random) {
    std::uniform_real_distribution<double> anywhere(0, platform::kMKMapWorldSide);
    std::normal_distribution<double> city(0, 2000);
    std::vector<Placed> placed;
    for (size_t i = 0; i < count; ++i) {
        MKMapPoint point{anywhere(random), anywhere(random)};
        if (i % 4 == 0)
            point = {platform::kMKMapWorldSide * 0.57 + city(random),
                     platform::kMKMapWorldSide * 0.29 + city(random)};
        if (i % 50 == 0) point = {platform::kMKMapWorldSide * 0.57, platform::kMKMapWorldSide * 0.29};
        placed.push_back({std::make_unique<MKPointAnnotation>(), point});
    }
    return placed;
}

TEST(MKAnnotationIndex, AnswersLikeALinearScan) {
    std::mt19937_64 random(42);
    auto placed = placePoints(100000, random);
    MKAnnotationIndex index;
    for (const auto& p : placed) index.insert(p.annotation.get(), p.point);
    ASSERT_EQ(index.size(), placed.size());

    std::uniform_real_distribution<double> position(-0.1 * platform::kMKMapWorldSide,
                                                    platform::kMKMapWorldSide);
    std::uniform_real_distribution<double> exponent(4, 28);
    for (int query = 0; query < 1000; ++query) {
        MKMapRect rect = MKMapRectMake(position(random), position(random), std::exp2(exponent(random)),
                                       std::exp2(exponent(random)));
        if (query % 10 == 0)
            rect = MKMapRectMake(platform::kMKMapWorldSide * 0.57 - 3000,
                                 platform::kMKMapWorldSide * 0.29 - 3000, 6000, 5000);
        ASSERT_EQ(sorted(index.annotationsInRect(rect)), scan(placed, rect)) << query;
    }
}

TEST(MKAnnotationIndex, RemoveAndMove) {
    std::mt19937_64 random(3);
    auto placed = placePoints(5000, random);
    MKAnnotationIndex index;
    for (const auto& p : placed) index.insert(p.annotation.get(), p.point);
    // Remove every third, move every fifth.
    std::vector<Placed> kept;
    for (size_t i = 0; i < placed.size(); ++i) {
        if (i % 3 == 0) {
            ASSERT_TRUE(index.remove(placed[i].annotation.get(), placed[i].point));
            continue;
        }
        if (i % 5 == 0) {
            ASSERT_TRUE(index.remove(placed[i].annotation.get(), placed[i].point));
            placed[i].point = {placed[i].point.y, placed[i].point.x};
            index.insert(placed[i].annotation.get(), placed[i].point);
        }
        kept.push_back(std::move(placed[i]));
    }
    EXPECT_EQ(index.size(), kept.size());
    // Removing what is not there (or with the wrong point) changes nothing.
    MKPointAnnotation stranger;
    EXPECT_FALSE(index.remove(&stranger, {1, 1}));
    EXPECT_EQ(sorted(index.annotationsInRect(MKMapRectWorld)), scan(kept, MKMapRectWorld));
    const MKMapRect half = MKMapRectMake(0, 0, platform::kMKMapWorldSide / 2, platform::kMKMapWorldSide);
    EXPECT_EQ(sorted(index.annotationsInRect(half)), scan(kept, half));
    index.clear();
    EXPECT_EQ(index.size(), 0u);
    EXPECT_TRUE(index.annotationsInRect(MKMapRectWorld).empty());
}

TEST(MKAnnotationIndex, PointsOnTheWorldsEdges) {
    MKAnnotationIndex index;
    MKPointAnnotation east;
    MKPointAnnotation south;
    index.insert(&east, {platform::kMKMapWorldSide, 10});
    index.insert(&south, {10, platform::kMKMapWorldSide});
    // Points on the max edges are kept and found by a query that holds the world.
    EXPECT_EQ(index.annotationsInRect(MKMapRectWorld).size(), 2u);
    EXPECT_TRUE(index.remove(&east, {platform::kMKMapWorldSide, 10}));
    EXPECT_TRUE(index.remove(&south, {10, platform::kMKMapWorldSide}));
}

}  // namespace
