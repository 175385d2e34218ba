#include "geodesy/detail/Kruger.hpp"

#include <cmath>

namespace tervolo::geodesy::detail {

namespace {

KrugerSeries makeSeries(Ellipsoid ellipsoid) {
    KrugerSeries k{};
    const double aa = a(ellipsoid);
    const double ff = f(ellipsoid);
    k.a = aa;
    k.e = std::sqrt(ff * (2.0 - ff));
    k.e2 = k.e * k.e;
    const double n = ff / (2.0 - ff);
    const double n2 = n * n, n3 = n * n2, n4 = n * n3, n5 = n * n4, n6 = n * n5;
    k.A = aa / (1.0 + n) * (1.0 + 1.0 / 4.0 * n2 + 1.0 / 64.0 * n4 + 1.0 / 256.0 * n6);
    // Karney (2011), "Transverse Mercator with an accuracy of a few nanometers", eqs. 35 and 36.
    k.alpha[0] = 0.0;
    k.alpha[1] = 1.0 / 2.0 * n - 2.0 / 3.0 * n2 + 5.0 / 16.0 * n3 + 41.0 / 180.0 * n4 - 127.0 / 288.0 * n5 +
                 7891.0 / 37800.0 * n6;
    k.alpha[2] = 13.0 / 48.0 * n2 - 3.0 / 5.0 * n3 + 557.0 / 1440.0 * n4 + 281.0 / 630.0 * n5 -
                 1983433.0 / 1935360.0 * n6;
    k.alpha[3] = 61.0 / 240.0 * n3 - 103.0 / 140.0 * n4 + 15061.0 / 26880.0 * n5 + 167603.0 / 181440.0 * n6;
    k.alpha[4] = 49561.0 / 161280.0 * n4 - 179.0 / 168.0 * n5 + 6601661.0 / 7257600.0 * n6;
    k.alpha[5] = 34729.0 / 80640.0 * n5 - 3418889.0 / 1995840.0 * n6;
    k.alpha[6] = 212378941.0 / 319334400.0 * n6;
    k.beta[0] = 0.0;
    k.beta[1] = 1.0 / 2.0 * n - 2.0 / 3.0 * n2 + 37.0 / 96.0 * n3 - 1.0 / 360.0 * n4 - 81.0 / 512.0 * n5 +
                96199.0 / 604800.0 * n6;
    k.beta[2] = 1.0 / 48.0 * n2 + 1.0 / 15.0 * n3 - 437.0 / 1440.0 * n4 + 46.0 / 105.0 * n5 -
                1118711.0 / 3870720.0 * n6;
    k.beta[3] = 17.0 / 480.0 * n3 - 37.0 / 840.0 * n4 - 209.0 / 4480.0 * n5 + 5569.0 / 90720.0 * n6;
    k.beta[4] = 4397.0 / 161280.0 * n4 - 11.0 / 504.0 * n5 - 830251.0 / 7257600.0 * n6;
    k.beta[5] = 4583.0 / 161280.0 * n5 - 108847.0 / 3991680.0 * n6;
    k.beta[6] = 20648693.0 / 638668800.0 * n6;
    return k;
}

struct AllSeries {
    KrugerSeries series[kEllipsoidCount];
    AllSeries() {
        for (int i = 0; i < kEllipsoidCount; ++i) series[i] = makeSeries(static_cast<Ellipsoid>(i));
    }
};

}  // namespace

const KrugerSeries& krugerSeries(Ellipsoid ellipsoid) {
    static const AllSeries all;
    return all.series[static_cast<int>(ellipsoid)];
}

}  // namespace tervolo::geodesy::detail
