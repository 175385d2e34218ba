#include "geodesy/Datum.hpp"

namespace tervolo::geodesy {

const std::vector<Datum>& datumTable() {
    static const auto* table = new std::vector<Datum>{
        {"ED50", Ellipsoid::Intl1924, {89.5, 93.8, 123.1, -1.2, 0.0, 0.0, 0.156}},
        {"Irl1975", Ellipsoid::AiryModified, {-482.53, 130.596, -564.557, -8.15, -1.042, -0.214, -0.631}},
        {"NAD27", Ellipsoid::Clarke1866, {8.0, -160.0, -176.0, 0.0, 0.0, 0.0, 0.0}},
        {"NAD83", Ellipsoid::GRS80, {1.004, -1.91, -0.515, -0.0015, 0.0267, 0.00034, 0.011}},
        {"NTF", Ellipsoid::Clarke1880IGN, {168.0, 60.0, -320.0, 0.0, 0.0, 0.0, 0.0}},
        {"OSGB36", Ellipsoid::Airy1830, {-446.448, 125.157, -542.06, 20.4894, -0.1502, -0.247, -0.8421}},
        {"Potsdam", Ellipsoid::Bessel1841, {-582.0, -105.0, -414.0, -8.3, 1.04, 0.35, -3.08}},
        {"TokyoJapan", Ellipsoid::Bessel1841, {148.0, -507.0, -685.0, 0.0, 0.0, 0.0, 0.0}},
        {"WGS72", Ellipsoid::WGS72, {0.0, 0.0, -4.5, -0.22, 0.0, 0.0, 0.0}},
        {"WGS84", Ellipsoid::WGS84, {0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0}},
    };
    return *table;
}

namespace {

const Datum& firstWGS84(const std::vector<Datum>& store) {
    for (const Datum& datum : store) {
        if (datum.name == "WGS84") return datum;
    }
    // The table always holds a "WGS84" entry; a store without one is a programming error.
    return datumTable().back();
}

}  // namespace

const Datum& wgs84TableDatum() {
    static const Datum& wgs84 = firstWGS84(datumTable());
    return wgs84;
}

const Datum& validatedDatum(const std::vector<Datum>& store, const Datum& desired) {
    // The common case: the table's own WGS84 entry, passed on by reference or as a copy. (The result does
    // not depend on the order in which the entries are compared.)
    if (&store == &datumTable() && (&desired == &wgs84TableDatum() || desired == wgs84TableDatum()))
        return desired;
    for (const Datum& datum : store) {
        if (datum == desired) return desired;
    }
    return &store == &datumTable() ? wgs84TableDatum() : firstWGS84(store);
}

Datum DatumFinder::getDatum(const Datum& desiredDatum) {
    return validatedDatum(datumTable(), desiredDatum);
}

}  // namespace tervolo::geodesy
