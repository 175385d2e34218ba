#include <gtest/gtest.h>

#include <cstring>

#include "geodesy/Datum.hpp"

using namespace tervolo::geodesy;

namespace {

struct EllipsoidRow {
    Ellipsoid ellipsoid;
    double a, b, f;
};

TEST(EllipsoidTest, ConstantsMatchTheCatalogue) {
    const EllipsoidRow rows[] = {
        {Ellipsoid::WGS84, 6378137.0, 6356752.314245, 0.0033528106647474805},
        {Ellipsoid::Airy1830, 6377563.396, 6356256.909, 0.0033408506414970775},
        {Ellipsoid::AiryModified, 6377340.189, 6356034.448, 0.0033408506414970775},
        {Ellipsoid::Bessel1841, 6377397.155, 6356078.962818, 0.003342773182174806},
        {Ellipsoid::Clarke1866, 6378206.4, 6356583.8, 0.0033900753039276207},
        {Ellipsoid::Clarke1880IGN, 6378249.2, 6356515.0, 0.003407549520011315},
        {Ellipsoid::GRS80, 6378137.0, 6356752.31414, 0.003352810681182319},
        {Ellipsoid::Intl1924, 6378388.0, 6356911.946, 0.003367003367003367},
        {Ellipsoid::WGS72, 6378135.0, 6356750.5, 0.003352779454167505},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(static_cast<int>(row.ellipsoid));
        EXPECT_EQ(a(row.ellipsoid), row.a);
        EXPECT_EQ(b(row.ellipsoid), row.b);
        // Bit for bit: the flattening is the Double quotient 1 / x.
        EXPECT_EQ(f(row.ellipsoid), row.f);
    }
    EXPECT_EQ(f(Ellipsoid::Intl1924), 1.0 / 297.0);
}

TEST(DatumTableTest, TenEntriesInOrder) {
    struct Row {
        const char* name;
        Ellipsoid ellipsoid;
        Transform t;
    };
    const Row rows[] = {
        {"ED50", Ellipsoid::Intl1924, {89.5, 93.8, 123.1, -1.2, 0, 0, 0.156}},
        {"Irl1975", Ellipsoid::AiryModified, {-482.53, 130.596, -564.557, -8.15, -1.042, -0.214, -0.631}},
        {"NAD27", Ellipsoid::Clarke1866, {8, -160, -176, 0, 0, 0, 0}},
        {"NAD83", Ellipsoid::GRS80, {1.004, -1.91, -0.515, -0.0015, 0.0267, 0.00034, 0.011}},
        {"NTF", Ellipsoid::Clarke1880IGN, {168, 60, -320, 0, 0, 0, 0}},
        {"OSGB36", Ellipsoid::Airy1830, {-446.448, 125.157, -542.06, 20.4894, -0.1502, -0.247, -0.8421}},
        {"Potsdam", Ellipsoid::Bessel1841, {-582, -105, -414, -8.3, 1.04, 0.35, -3.08}},
        {"TokyoJapan", Ellipsoid::Bessel1841, {148, -507, -685, 0, 0, 0, 0}},
        {"WGS72", Ellipsoid::WGS72, {0, 0, -4.5, -0.22, 0, 0, 0}},
        {"WGS84", Ellipsoid::WGS84, {0, 0, 0, 0, 0, 0, 0}},
    };
    const auto& table = Datums().datums;
    ASSERT_EQ(table.size(), 10u);
    for (size_t i = 0; i < table.size(); ++i) {
        SCOPED_TRACE(rows[i].name);
        EXPECT_EQ(table[i].name, rows[i].name);
        EXPECT_EQ(table[i].ellipsoid, rows[i].ellipsoid);
        const Transform& t = table[i].transform;
        const double actual[7] = {t.tx, t.ty, t.tz, t.s, t.rx, t.ry, t.rz};
        const double expected[7] = {rows[i].t.tx, rows[i].t.ty, rows[i].t.tz, rows[i].t.s,
                                    rows[i].t.rx, rows[i].t.ry, rows[i].t.rz};
        for (int k = 0; k < 7; ++k) EXPECT_EQ(actual[k], expected[k]) << k;
    }
    EXPECT_EQ(&wgs84TableDatum(), &datumTable().back());
}

TEST(DatumTest, EqualityIgnoresRotationsOnly) {
    const Transform base{1, 2, 3, 4, 5, 6, 7};
    Transform otherRz = base;
    otherRz.rz = 99;
    EXPECT_EQ(base, otherRz);
    for (double Transform::*field : {&Transform::tx, &Transform::ty, &Transform::tz, &Transform::s}) {
        Transform changed = base;
        changed.*field += 0.001;
        EXPECT_FALSE(base == changed);
    }
    const Datum osgb = datumTable()[5];
    Datum renamed = osgb;
    renamed.name = "OSGB36x";
    Datum otherEllipsoid = osgb;
    otherEllipsoid.ellipsoid = Ellipsoid::AiryModified;
    EXPECT_FALSE(osgb == renamed);
    EXPECT_FALSE(osgb == otherEllipsoid);
}

TEST(DatumFinderTest, LookupTable) {
    const Datum osgb = datumTable()[5];
    Datum osgbOwnRotations = osgb;
    osgbOwnRotations.transform.rx = 1.5;
    osgbOwnRotations.transform.rz = -2.5;
    Datum custom{"Custom", Ellipsoid::WGS84, {1, 2, 3, 0, 0, 0, 0}};
    Datum osgbOnBessel = osgb;
    osgbOnBessel.ellipsoid = Ellipsoid::Bessel1841;

    struct Case {
        const char* what;
        Datum desired;
        Datum expected;
        double expectedRz;
    };
    const Case cases[] = {
        {"table entry", osgb, osgb, -0.8421},
        {"own rotations kept", osgbOwnRotations, osgbOwnRotations, -2.5},
        {"unknown name", custom, wgs84TableDatum(), 0.0},
        {"other ellipsoid", osgbOnBessel, wgs84TableDatum(), 0.0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Datum found = DatumFinder::getDatum(c.desired);
        EXPECT_EQ(found, c.expected);
        EXPECT_EQ(found.name, c.expected.name);
        EXPECT_EQ(found.transform.rz, c.expectedRz);
    }
    const Datum wgs = DatumFinder::getDatum(custom);
    const Transform& t = wgs.transform;
    for (double v : {t.tx, t.ty, t.tz, t.s, t.rx, t.ry, t.rz}) EXPECT_EQ(v, 0.0);
}

}  // namespace
