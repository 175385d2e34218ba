#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "points/AppTextsAndColors.hpp"
#include "points/QuovaStringRepresentation.hpp"

namespace tervolo::points {
namespace {

TEST(AppTextsAndColorsTest, EnglishTextsAndTheTintColour) {
    EXPECT_EQ(newLocationTitle(), "New Location");
    EXPECT_EQ(sharedLocationTitle(), "Location Shared By Tervolo");
    EXPECT_EQ(myPositionText(), "My Position");
    EXPECT_EQ(unknownSpeedBearingText(), "(unknown speed/bearing)");
    EXPECT_EQ(localDataSourceName(), "local data");

    const auto tint = appTintColor().components();
    EXPECT_EQ(tint.red * 255.0, 50);
    EXPECT_EQ(tint.green * 255.0, 100);
    EXPECT_EQ(tint.blue * 255.0, 150);
    EXPECT_EQ(tint.alpha, 1.0);
    EXPECT_EQ(quovaHexStringRepresentation(defaultPointColor(), true), "FF0000FF");
}

TEST(AppTextsAndColorsTest, ValuesAreMadeOnceEvenWhenFirstReadTogether) {
    std::vector<const void*> seen(8);
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i) {
        threads.emplace_back([&seen, i] {
            seen[i] = (i % 2 == 0) ? static_cast<const void*>(&myPositionText())
                                   : static_cast<const void*>(&appTintColor());
        });
    }
    for (auto& thread : threads) thread.join();
    for (int i = 2; i < 8; ++i) EXPECT_EQ(seen[i], seen[i % 2]);
}

}  // namespace
}  // namespace tervolo::points
