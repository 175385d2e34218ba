#include "tiles/TileImageDecoder.hpp"

#include <QBuffer>
#include <QByteArray>
#include <QImageReader>

namespace tervolo::tiles {

QImage decodeTileImage(std::span<const uint8_t> bytes) {
    if (bytes.empty()) return {};
    QByteArray data =
        QByteArray::fromRawData(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size()));
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setAllocationLimit(kMaximumTileImageMegabytes);
    auto tooLarge = [](QSize size) {
        return size.width() > kMaximumTileImageDimension || size.height() > kMaximumTileImageDimension;
    };
    // Formats that announce their size are refused before any pixel is decoded.
    if (const QSize announced = reader.size(); announced.isValid() && tooLarge(announced)) return {};
    QImage image;
    if (!reader.read(&image) || image.isNull() || tooLarge(image.size())) return {};
    return image;
}

bool isTileImage(std::span<const uint8_t> bytes) {
    return !decodeTileImage(bytes).isNull();
}

}  // namespace tervolo::tiles
