// The map view's world-map file: a damaged or foreign file must load as "no map", never crash.
#include <QByteArray>
#include <QFile>
#include <QString>

#include <unistd.h>
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/mapkit/qt/MKBaseMap.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const QString path = QStringLiteral("/tmp/tervolo-fuzz-basemap-%1.tvbm").arg(getpid());
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) return 0;
        file.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size));
    }
    platform::MKBaseMap map(path);
    for (const auto detail : {platform::MKBaseMap::Detail::Coarse, platform::MKBaseMap::Detail::Medium,
                              platform::MKBaseMap::Detail::Fine}) {
        map.preload(detail);
    }
    return 0;
}
