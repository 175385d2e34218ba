#pragma once

#include <cmath>

#include "platform/location/CLLocationCoordinate2D.hpp"

namespace platform {

// The flat map: spherical Mercator over a square of 2^28 × 2^28 map points with the origin at the
// north-west corner (latitude 85.05112878°, longitude -180°), x growing east and y growing south.
// At zoom scale 1 (one view point per map point) the world is 2^20 tiles of 256 points across, so
// zoom level z is zoom scale 2^(z - 20).

// View points per map point.
using MKZoomScale = double;

struct MKMapPoint {
    double x = 0;
    double y = 0;
    bool operator==(const MKMapPoint&) const = default;
};

struct MKMapSize {
    double width = 0;
    double height = 0;
    bool operator==(const MKMapSize&) const = default;
};

struct MKMapRect {
    MKMapPoint origin;
    MKMapSize size;
    bool operator==(const MKMapRect&) const = default;
};

// Degrees of latitude and longitude a region spans.
struct MKCoordinateSpan {
    double latitudeDelta = 0;
    double longitudeDelta = 0;
    bool operator==(const MKCoordinateSpan&) const = default;
};

// A centre with a span: the region reaches span / 2 to each side of the centre.
struct MKCoordinateRegion {
    CLLocationCoordinate2D center;
    MKCoordinateSpan span;
    bool operator==(const MKCoordinateRegion&) const = default;
};

inline constexpr double kMKMapWorldSide = 268435456.0;  // 2^28 map points
inline constexpr MKMapSize MKMapSizeWorld{kMKMapWorldSide, kMKMapWorldSide};
inline constexpr MKMapRect MKMapRectWorld{{0, 0}, {kMKMapWorldSide, kMKMapWorldSide}};
// The rect that stands for "no rect" (an empty intersection): infinite origin, zero size.
inline constexpr MKMapRect MKMapRectNull{{INFINITY, INFINITY}, {0, 0}};
// Mercator does not reach the poles; coordinates beyond this latitude land on the world's edge.
inline constexpr double kMKMaximumLatitude = 85.05112878;
// The spherical earth the projection and the distance-based regions use, in metres.
inline constexpr double kMKEarthRadius = 6378137.0;

inline constexpr MKMapPoint MKMapPointMake(double x, double y) {
    return {x, y};
}
inline constexpr MKMapSize MKMapSizeMake(double width, double height) {
    return {width, height};
}
inline constexpr MKMapRect MKMapRectMake(double x, double y, double width, double height) {
    return {{x, y}, {width, height}};
}
inline constexpr MKCoordinateSpan MKCoordinateSpanMake(double latitudeDelta, double longitudeDelta) {
    return {latitudeDelta, longitudeDelta};
}
inline constexpr MKCoordinateRegion MKCoordinateRegionMake(CLLocationCoordinate2D center,
                                                           MKCoordinateSpan span) {
    return {center, span};
}

inline constexpr double MKMapRectGetMinX(const MKMapRect& r) {
    return r.origin.x;
}
inline constexpr double MKMapRectGetMinY(const MKMapRect& r) {
    return r.origin.y;
}
inline constexpr double MKMapRectGetMaxX(const MKMapRect& r) {
    return r.origin.x + r.size.width;
}
inline constexpr double MKMapRectGetMaxY(const MKMapRect& r) {
    return r.origin.y + r.size.height;
}
inline constexpr double MKMapRectGetMidX(const MKMapRect& r) {
    return r.origin.x + r.size.width / 2;
}
inline constexpr double MKMapRectGetMidY(const MKMapRect& r) {
    return r.origin.y + r.size.height / 2;
}
inline constexpr double MKMapRectGetWidth(const MKMapRect& r) {
    return r.size.width;
}
inline constexpr double MKMapRectGetHeight(const MKMapRect& r) {
    return r.size.height;
}

// True for MKMapRectNull (and any rect with an infinite origin).
bool MKMapRectIsNull(const MKMapRect& rect);
// True for the null rect and for rects without area.
bool MKMapRectIsEmpty(const MKMapRect& rect);
// Half-open on the max edges, so a point on the shared edge of two cells belongs to one of them.
bool MKMapRectContainsPoint(const MKMapRect& rect, MKMapPoint point);
bool MKMapRectContainsRect(const MKMapRect& outer, const MKMapRect& inner);
// True when the two rects share area (touching edges do not count).
bool MKMapRectIntersectsRect(const MKMapRect& a, const MKMapRect& b);
// The shared part, or MKMapRectNull when there is none.
MKMapRect MKMapRectIntersection(const MKMapRect& a, const MKMapRect& b);
// The smallest rect holding both; a null rect contributes nothing.
MKMapRect MKMapRectUnion(const MKMapRect& a, const MKMapRect& b);
MKMapRect MKMapRectInset(const MKMapRect& rect, double dx, double dy);
MKMapRect MKMapRectOffset(const MKMapRect& rect, double dx, double dy);
// True when the rect reaches east of the world's right edge (it wraps across the antimeridian).
bool MKMapRectSpans180thMeridian(const MKMapRect& rect);
// The part of a wrapping rect that lies east of the antimeridian, moved back into the world; the null
// rect when the rect does not wrap.
MKMapRect MKMapRectRemainder(const MKMapRect& rect);
// x moved by whole world widths into [0, 2^28).
double MKMapPointWrapX(double x);

// Spherical Mercator. The latitude is clamped to ±kMKMaximumLatitude first, so every valid coordinate
// lands inside the world; longitudes outside ±180 are not wrapped.
MKMapPoint MKMapPointForCoordinate(CLLocationCoordinate2D coordinate);
// The inverse; x outside the world gives a longitude beyond ±180 (callers wrap when they need to).
CLLocationCoordinate2D MKCoordinateForMapPoint(MKMapPoint point);
// Map points per metre along the ground at a latitude (grows towards the poles as 1 / cos φ).
double MKMapPointsPerMeterAtLatitude(double latitude);
double MKMetersPerMapPointAtLatitude(double latitude);
// Ground distance between two map points: the Mercator scale taken at their mean latitude, which is
// good to a fraction of a percent over the few kilometres a circle or a scale bar spans.
double MKMetersBetweenMapPoints(MKMapPoint a, MKMapPoint b);

// A region of `latitudinalMeters` north-south and `longitudinalMeters` east-west around `center`, on
// the sphere of radius kMKEarthRadius: Δlat = d_ns / (πR / 180), Δlon = d_ew / (πR cos φ / 180).
// Against the WGS84 geodesic this is good to about 0.7 % in latitude (the ellipsoid's meridian
// curvature varies by that much between the equator and the poles) and 0.5 % in longitude. The
// latitude span is capped at 180° and the longitude span at 360°; at the poles (cos φ = 0) the region
// spans every longitude.
MKCoordinateRegion MKCoordinateRegionMakeWithDistance(CLLocationCoordinate2D center, double latitudinalMeters,
                                                      double longitudinalMeters);
// The region a map rect covers: the centre is the coordinate of the rect's middle, the spans the
// differences of the corner coordinates.
MKCoordinateRegion MKCoordinateRegionForMapRect(const MKMapRect& rect);
// The map rect between a region's north-west and south-east corners. Latitudes beyond the projection
// are clamped; a region crossing the antimeridian gives a rect reaching east of the world's edge.
MKMapRect MKMapRectForCoordinateRegion(const MKCoordinateRegion& region);

}  // namespace platform
