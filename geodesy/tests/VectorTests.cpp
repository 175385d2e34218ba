#include <gtest/gtest.h>

#include <cmath>

#include "geodesy/Vector.hpp"

using namespace tervolo::geodesy;

namespace {

constexpr double kPi = 3.141592653589793;

void expectNear(const Vector& actual, const Vector& expected, double tolerance = 1e-12) {
    EXPECT_NEAR(actual.x, expected.x, tolerance);
    EXPECT_NEAR(actual.y, expected.y, tolerance);
    EXPECT_NEAR(actual.z, expected.z, tolerance);
}

TEST(VectorTest, Algebra) {
    const Vector v{1, 2, 3};
    EXPECT_EQ(v + (Vector{1, 1, 1}), (Vector{2, 3, 4}));
    EXPECT_EQ(v - (Vector{1, 1, 1}), (Vector{0, 1, 2}));
    EXPECT_EQ(v * (Vector{4, 5, 6}), 32.0);
    EXPECT_EQ(v.dot({4, 5, 6}), 32.0);
    EXPECT_EQ(v / (Vector{1, 1, 1}), 6.0);
    EXPECT_TRUE(std::isinf(v / (Vector{0, 1, 1})));
    EXPECT_EQ(v.times(2), (Vector{2, 4, 6}));
    EXPECT_EQ(v.divideBy(2), (Vector{0.5, 1, 1.5}));
    EXPECT_EQ((Vector{1, 0, 0}).cross({0, 1, 0}), (Vector{0, 0, 1}));
    EXPECT_EQ(v.negate(), (Vector{-1, -2, -3}));
    EXPECT_EQ((Vector{1, 2, 2}).length(), 3.0);
    EXPECT_FALSE((Vector{NAN, 0, 0}) == (Vector{NAN, 0, 0}));
}

TEST(VectorTest, UnitLeavesZeroAndUnitVectorsAlone) {
    EXPECT_EQ((Vector{0, 0, 0}).unit(), (Vector{0, 0, 0}));
    EXPECT_EQ((Vector{0, 1, 0}).unit(), (Vector{0, 1, 0}));
    expectNear((Vector{3, 4, 0}).unit(), {0.6, 0.8, 0});
}

TEST(VectorTest, AngleToWithAndWithoutNormal) {
    const Vector x{1, 0, 0}, y{0, 1, 0};
    EXPECT_NEAR(x.angleTo(y, {0, 0, 1}), kPi / 2, 1e-15);
    EXPECT_NEAR(x.angleTo(y, kNoPlaneNormal), kPi / 2, 1e-15);
    EXPECT_NEAR(x.angleTo(y, {0, 0, -1}), -kPi / 2, 1e-15);
    EXPECT_NEAR(y.angleTo(x, kNoPlaneNormal), kPi / 2, 1e-15);
}

TEST(VectorTest, RotateAroundNormalisesFirst) {
    expectNear((Vector{2, 0, 0}).rotateAround({0, 0, 1}, kPi / 2), {0, 1, 0}, 1e-15);
    expectNear((Vector{0, 0, 5}).rotateAround({3, 0, 0}, kPi / 2), {0, -1, 0}, 1e-15);
}

TEST(VectorTest, Description) {
    EXPECT_EQ((Vector{1, 2, 3}).description(), "[1.00000, 2.00000, 3.00000]");
    EXPECT_EQ((Vector{-0.123456, 1e6, 0}).description(), "[-0.12346, 1000000.00000, 0.00000]");
}

}  // namespace
