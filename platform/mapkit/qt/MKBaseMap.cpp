#include "platform/mapkit/qt/MKBaseMap.hpp"

#include <QByteArray>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QPen>
#include <QPolygonF>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <span>

#include "platform/dispatch/SharedInstance.hpp"
#include "platform/foundation/Bundle.hpp"
#include "platform/foundation/OSLog.hpp"

namespace platform {

namespace {

constexpr qint64 kMaxFileSize = 64 * 1024 * 1024;
constexpr int kMaxInflated = 64 * 1024 * 1024;

// Grid bits of the blocks per scale: blocks about the size of a cell at the scale's coarsest zoom.
constexpr int kGridBits[3] = {2, 4, 6};

struct Reader {
    const uint8_t* data;
    size_t size;
    size_t at = 0;
    bool failed = false;

    uint64_t varint() {
        uint64_t value = 0;
        for (int shift = 0; shift < 64; shift += 7) {
            if (at >= size) break;
            const uint8_t byte = data[at++];
            value |= static_cast<uint64_t>(byte & 0x7F) << shift;
            if ((byte & 0x80) == 0) return value;
        }
        failed = true;
        return 0;
    }
    int64_t zigzag() {
        const uint64_t v = varint();
        return static_cast<int64_t>(v >> 1) ^ -static_cast<int64_t>(v & 1);
    }
};

using Path = std::vector<QPointF>;

// Reads `count` paths of points in grid units and returns them in map points; false on damage.
bool readPaths(Reader& reader, double unit, std::vector<Path>* paths) {
    const uint64_t count = reader.varint();
    if (reader.failed || count > reader.size) return false;
    paths->reserve(count);
    for (uint64_t i = 0; i < count; ++i) {
        const uint64_t points = reader.varint();
        // Each point takes at least two bytes: a larger count is a damaged file.
        if (reader.failed || points > (reader.size - reader.at) / 2 + 1) return false;
        Path path;
        path.reserve(points);
        int64_t x = 0;
        int64_t y = 0;
        // Real coordinates stay within a few worlds of the grid; anything far beyond is damage (and
        // must not overflow the sums).
        constexpr int64_t kLimit = int64_t{1} << 40;
        for (uint64_t p = 0; p < points; ++p) {
            const int64_t dx = reader.zigzag();
            const int64_t dy = reader.zigzag();
            if (dx > kLimit || dx < -kLimit || dy > kLimit || dy < -kLimit) return false;
            x += dx;
            y += dy;
            if (x > kLimit || x < -kLimit || y > kLimit || y < -kLimit) return false;
            path.emplace_back(static_cast<double>(x) * unit, static_cast<double>(y) * unit);
        }
        if (reader.failed) return false;
        paths->push_back(std::move(path));
    }
    return true;
}

QRectF bounds(const QPointF* points, size_t count) {
    double minX = points[0].x(), maxX = minX, minY = points[0].y(), maxY = minY;
    for (const QPointF& p : std::span(points, count)) {
        minX = std::min(minX, p.x());
        maxX = std::max(maxX, p.x());
        minY = std::min(minY, p.y());
        maxY = std::max(maxY, p.y());
    }
    return QRectF(minX, minY, maxX - minX, maxY - minY);
}

QRectF bounds(const Path& path) {
    return bounds(path.data(), path.size());
}

// Sutherland–Hodgman against one axis-aligned edge.
template <typename Inside, typename Cross>
Path clipEdge(const Path& input, Inside inside, Cross cross) {
    Path output;
    if (input.empty()) return output;
    QPointF previous = input.back();
    bool previousInside = inside(previous);
    for (const QPointF& current : input) {
        const bool currentInside = inside(current);
        if (currentInside != previousInside) output.push_back(cross(previous, current));
        if (currentInside) output.push_back(current);
        previous = current;
        previousInside = currentInside;
    }
    return output;
}

Path clipToRect(const Path& ring, const QRectF& r) {
    auto atX = [](const QPointF& a, const QPointF& b, double x) {
        const double t = (x - a.x()) / (b.x() - a.x());
        return QPointF(x, a.y() + t * (b.y() - a.y()));
    };
    auto atY = [](const QPointF& a, const QPointF& b, double y) {
        const double t = (y - a.y()) / (b.y() - a.y());
        return QPointF(a.x() + t * (b.x() - a.x()), y);
    };
    Path out = clipEdge(
        ring, [&](const QPointF& p) { return p.x() >= r.left(); },
        [&](const QPointF& a, const QPointF& b) { return atX(a, b, r.left()); });
    out = clipEdge(
        out, [&](const QPointF& p) { return p.x() <= r.right(); },
        [&](const QPointF& a, const QPointF& b) { return atX(a, b, r.right()); });
    out = clipEdge(
        out, [&](const QPointF& p) { return p.y() >= r.top(); },
        [&](const QPointF& a, const QPointF& b) { return atY(a, b, r.top()); });
    out = clipEdge(
        out, [&](const QPointF& p) { return p.y() <= r.bottom(); },
        [&](const QPointF& a, const QPointF& b) { return atY(a, b, r.bottom()); });
    return out;
}

// A Qt path fills caches of its own on first use (its bounds, the form the paint engine draws).
// Paths are shared by the drawing threads, and two threads filling one path's caches at once tear
// memory apart; so every path is used once here, on the preparing thread, and is only read after.
void fillPathCaches(const std::vector<QPainterPath>& paths) {
    QImage scratch(1, 1, QImage::Format_RGB32);
    QPainter painter(&scratch);
    painter.setBrush(Qt::black);
    QPen pen(Qt::black);
    pen.setCosmetic(true);
    painter.setPen(pen);
    for (const QPainterPath& path : paths) {
        (void)path.boundingRect();
        (void)path.controlPointRect();
        painter.drawPath(path);
    }
}

}  // namespace

struct MKBaseMap::Layer {
    // A short run of an outline's points, drawn as one polyline.
    struct LinePiece {
        uint32_t start = 0;  // index of its first point in linePoints
        uint32_t count = 0;
        QRectF bounds;  // map points; a cell it does not reach skips it
    };

    int gridBits = 0;
    double blockSide = 0;            // map points
    std::vector<QPainterPath> land;  // per block, clipped to it, odd-even filled
    // The coast and the borders are stroked, never filled, so they need no painter paths: each
    // outline is cut into short pieces whose points are kept once, in linePoints, and every block
    // lists the pieces whose bounds touch it. A painter path would keep each point three times over
    // (its elements and the two forms the paint engine draws), and a piece once per block it touches.
    std::vector<QPointF> linePoints;
    std::vector<std::vector<LinePiece>> coast;    // per block
    std::vector<std::vector<LinePiece>> borders;  // per block

    int blocksPerSide() const { return 1 << gridBits; }
    size_t bytes() const;
};

size_t MKBaseMap::Layer::bytes() const {
    // A filled path keeps its elements and the paint engine's form of them (points and types).
    constexpr size_t kPerElement = sizeof(QPainterPath::Element) + 2 * sizeof(qreal) + sizeof(int);
    size_t total = sizeof(*this) + linePoints.capacity() * sizeof(QPointF);
    for (const QPainterPath& path : land)
        total += sizeof(QPainterPath) + static_cast<size_t>(path.capacity()) * kPerElement;
    for (const auto* blocks : {&coast, &borders}) {
        for (const auto& pieces : *blocks) total += sizeof(pieces) + pieces.capacity() * sizeof(LinePiece);
    }
    return total;
}

MKBaseMap::Palette MKBaseMap::paletteForMapType(MKMapType type) {
    switch (type) {
        case MKMapType::Satellite:
        case MKMapType::SatelliteFlyover:
            return {QColor(14, 42, 63), QColor(58, 74, 47), QColor(30, 56, 70), QColor()};
        case MKMapType::Hybrid:
        case MKMapType::HybridFlyover:
            return {QColor(14, 42, 63), QColor(58, 74, 47), QColor(30, 56, 70), QColor(224, 214, 150)};
        case MKMapType::MutedStandard:
            return {QColor(203, 216, 222), QColor(246, 245, 241), QColor(181, 197, 205),
                    QColor(196, 186, 196)};
        case MKMapType::Standard:
            break;
    }
    return {QColor(170, 211, 223), QColor(242, 239, 233), QColor(140, 178, 194), QColor(172, 140, 170)};
}

const MKBaseMap& MKBaseMap::shared() {
    return SharedInstance<MKBaseMap>::get([] {
        const auto path = Bundle::main().pathForResource("basemap/world", "tvbm");
        return new MKBaseMap(QString::fromStdString(path.value_or(std::string())));
    });
}

MKBaseMap::MKBaseMap(QString path) : path_(std::move(path)) {}

MKBaseMap::~MKBaseMap() = default;

MKBaseMap::Detail MKBaseMap::detailForZoomLevel(int zoomLevel) {
    if (zoomLevel <= 2) return Detail::Coarse;
    if (zoomLevel <= 5) return Detail::Medium;
    return Detail::Fine;
}

bool MKBaseMap::isAvailable(Detail detail) const {
    return layer(detail) != nullptr;
}

void MKBaseMap::preload(Detail detail) const {
    (void)layer(detail);
}

const MKBaseMap::Layer* MKBaseMap::layer(Detail detail) const {
    const int index = static_cast<int>(detail);
    std::call_once(once_[index], [&] {
        auto fail = [&](const char* why) {
            OSLog::make("org.tervolo.TervoloNG", "mapkit")
                ->write(OSLogType::Error, std::string("Base map: ") + why + " (" + path_.toStdString() + ")");
        };
        QFile file(path_);
        if (path_.isEmpty() || !file.open(QIODevice::ReadOnly) || file.size() > kMaxFileSize) {
            fail("file missing or unreadable");
            return;
        }
        const QByteArray bytes = file.readAll();
        const auto* data = reinterpret_cast<const uint8_t*>(bytes.constData());
        const auto size = static_cast<size_t>(bytes.size());
        if (size < 6 || std::memcmp(data, "TVBM", 4) != 0 || data[4] != 2) {
            fail("not a base map file");
            return;
        }
        const int scales = data[5];
        if (index >= scales || size < 6 + static_cast<size_t>(scales) * 11) {
            fail("scale missing");
            return;
        }
        const uint8_t* entry = data + 6 + index * 11;
        const int gridUnitBits = entry[2];
        uint32_t offset = 0;
        uint32_t length = 0;
        std::memcpy(&offset, entry + 3, 4);
        std::memcpy(&length, entry + 7, 4);
        if (gridUnitBits < 8 || gridUnitBits > 28 || offset > size || length > size - offset || length < 4) {
            fail("damaged table");
            return;
        }
        const uint32_t inflatedSize = (uint32_t{data[offset]} << 24) | (uint32_t{data[offset + 1]} << 16) |
                                      (uint32_t{data[offset + 2]} << 8) | uint32_t{data[offset + 3]};
        if (inflatedSize > kMaxInflated) {
            fail("block too large");
            return;
        }
        const QByteArray raw =
            qUncompress(reinterpret_cast<const uchar*>(data + offset), static_cast<qsizetype>(length));
        if (raw.isEmpty()) {
            fail("block does not inflate");
            return;
        }
        Reader reader{reinterpret_cast<const uint8_t*>(raw.constData()), static_cast<size_t>(raw.size())};
        const double unit = kMKMapWorldSide / static_cast<double>(1u << gridUnitBits);
        std::vector<Path> rings;
        std::vector<Path> lines;
        if (!readPaths(reader, unit, &rings) || !readPaths(reader, unit, &lines)) {
            fail("damaged block");
            return;
        }

        auto prepared = std::make_unique<Layer>();
        prepared->gridBits = kGridBits[index];
        const int side = prepared->blocksPerSide();
        prepared->blockSide = kMKMapWorldSide / side;
        const size_t blocks = static_cast<size_t>(side) * static_cast<size_t>(side);
        prepared->land.resize(blocks);
        prepared->coast.resize(blocks);
        prepared->borders.resize(blocks);
        for (auto& path : prepared->land) path.setFillRule(Qt::OddEvenFill);
        auto blockRange = [&](const QRectF& box, int* x0, int* y0, int* x1, int* y1) {
            *x0 = std::clamp(static_cast<int>(box.left() / prepared->blockSide), 0, side - 1);
            *y0 = std::clamp(static_cast<int>(box.top() / prepared->blockSide), 0, side - 1);
            *x1 = std::clamp(static_cast<int>(box.right() / prepared->blockSide), 0, side - 1);
            *y1 = std::clamp(static_cast<int>(box.bottom() / prepared->blockSide), 0, side - 1);
        };
        // Each ring is cut into its blocks by halving the world: a square of blocks passes on to its
        // quarters only the part of the ring inside each, so the work grows with the ring's size
        // times the grid's depth, not times the number of blocks it spans.
        std::function<void(const Path&, int, int, int)> fileRing = [&](const Path& ring, int x, int y,
                                                                       int span) {
            if (ring.size() < 3) return;
            int x0, y0, x1, y1;
            blockRange(bounds(ring), &x0, &y0, &x1, &y1);
            x0 = std::max(x0, x);
            y0 = std::max(y0, y);
            x1 = std::min(x1, x + span - 1);
            y1 = std::min(y1, y + span - 1);
            if (x0 > x1 || y0 > y1) return;
            if (x0 == x1 && y0 == y1) {
                auto& path = prepared->land[static_cast<size_t>(y0) * side + x0];
                path.addPolygon(QPolygonF(QList<QPointF>(ring.begin(), ring.end())));
                path.closeSubpath();
                return;
            }
            const int half = span / 2;
            for (int quarter = 0; quarter < 4; ++quarter) {
                const int qx = x + (quarter & 1) * half;
                const int qy = y + (quarter >> 1) * half;
                if (x1 < qx || x0 >= qx + half || y1 < qy || y0 >= qy + half) continue;
                const QRectF square(qx * prepared->blockSide, qy * prepared->blockSide,
                                    half * prepared->blockSide, half * prepared->blockSide);
                fileRing(clipToRect(ring, square), qx, qy, half);
            }
        };
        for (const Path& ring : rings) fileRing(ring, 0, 0, side);
        // Outlines in short pieces, each filed under the blocks its bounds touch.
        auto addLines = [&](const Path& line, bool closed,
                            std::vector<std::vector<Layer::LinePiece>>& target) {
            constexpr size_t kPiece = 64;
            const size_t total = line.size() + (closed ? 1 : 0);
            for (size_t start = 0; start + 1 < total; start += kPiece) {
                const size_t end = std::min(start + kPiece, total - 1);
                Layer::LinePiece piece{static_cast<uint32_t>(prepared->linePoints.size()),
                                       static_cast<uint32_t>(end - start + 1), QRectF()};
                for (size_t i = start; i <= end; ++i) prepared->linePoints.push_back(line[i % line.size()]);
                piece.bounds = bounds(prepared->linePoints.data() + piece.start, piece.count);
                int x0, y0, x1, y1;
                blockRange(piece.bounds, &x0, &y0, &x1, &y1);
                for (int by = y0; by <= y1; ++by) {
                    for (int bx = x0; bx <= x1; ++bx)
                        target[static_cast<size_t>(by) * side + bx].push_back(piece);
                }
            }
        };
        // The coast is the land's outline without the edges along the antimeridian (in the world or one
        // world over), where the data cuts land in two, and without those along the map's top or bottom
        // edge, where land reaching beyond 85.05° (Antarctica, down to the pole) is cut by the
        // projection.
        auto onAntimeridian = [](const QPointF& p) {
            return std::fmod(std::abs(p.x()), kMKMapWorldSide) == 0;
        };
        auto cutEdge = [&](const QPointF& a, const QPointF& b) {
            if (onAntimeridian(a) && onAntimeridian(b)) return true;
            return a.y() == b.y() && (a.y() <= 0 || a.y() >= kMKMapWorldSide);
        };
        for (const Path& ring : rings) {
            Path line;
            for (size_t i = 0; i <= ring.size(); ++i) {
                const QPointF& point = ring[i % ring.size()];
                if (!line.empty() && cutEdge(line.back(), point)) {
                    if (line.size() >= 2) addLines(line, false, prepared->coast);
                    line.clear();
                }
                line.push_back(point);
            }
            if (line.size() >= 2) addLines(line, false, prepared->coast);
        }
        for (const Path& line : lines) addLines(line, false, prepared->borders);
        // Sized to what they hold: grown point by point, they kept up to twice that.
        prepared->linePoints.shrink_to_fit();
        for (auto* blocks : {&prepared->coast, &prepared->borders}) {
            for (auto& pieces : *blocks) pieces.shrink_to_fit();
        }
        for (QPainterPath& path : prepared->land) {
            if (path.capacity() <= path.elementCount()) continue;
            QPainterPath exact;
            exact.setFillRule(path.fillRule());
            exact.reserve(path.elementCount());
            exact.addPath(path);
            path = std::move(exact);
        }
        fillPathCaches(prepared->land);
        geometryBytes_[index] = prepared->bytes();
        layers_[index] = std::move(prepared);
    });
    return layers_[index].get();
}

void MKBaseMap::draw(QPainter& painter, const MKMapRect& mapRect, Detail detail,
                     const Palette& palette) const {
    const QRectF area(mapRect.origin.x, mapRect.origin.y, mapRect.size.width, mapRect.size.height);
    painter.fillRect(area, palette.water);
    const Layer* data = layer(detail);
    if (data == nullptr) return;
    const int side = data->blocksPerSide();
    const int x0 = std::clamp(static_cast<int>(area.left() / data->blockSide), 0, side - 1);
    const int y0 = std::clamp(static_cast<int>(area.top() / data->blockSide), 0, side - 1);
    const int x1 = std::clamp(static_cast<int>(std::ceil(area.right() / data->blockSide)) - 1, 0, side - 1);
    const int y1 = std::clamp(static_cast<int>(std::ceil(area.bottom() / data->blockSide)) - 1, 0, side - 1);
    painter.save();
    painter.setClipRect(area);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setPen(Qt::NoPen);
    painter.setBrush(palette.land);
    for (int by = y0; by <= y1; ++by) {
        for (int bx = x0; bx <= x1; ++bx) painter.drawPath(data->land[static_cast<size_t>(by) * side + bx]);
    }
    // Cosmetic pens: strokes about one device pixel wide whatever the cell's scale.
    painter.setBrush(Qt::NoBrush);
    QPen coastPen(palette.coast);
    coastPen.setCosmetic(true);
    coastPen.setWidthF(0.8);
    painter.setPen(coastPen);
    // A block may be far larger than the cell: its pieces that cannot reach the cell (its area with a
    // margin of a few pixels for the stroke) are not handed to the painter at all.
    const double margin = area.width() / 64;
    const QRectF reach = area.adjusted(-margin, -margin, margin, margin);
    auto drawPieces = [&](const std::vector<std::vector<Layer::LinePiece>>& blocks) {
        for (int by = y0; by <= y1; ++by) {
            for (int bx = x0; bx <= x1; ++bx) {
                for (const Layer::LinePiece& piece : blocks[static_cast<size_t>(by) * side + bx]) {
                    const QRectF& b = piece.bounds;
                    if (b.right() < reach.left() || b.left() > reach.right() || b.bottom() < reach.top() ||
                        b.top() > reach.bottom())
                        continue;
                    painter.drawPolyline(data->linePoints.data() + piece.start,
                                         static_cast<int>(piece.count));
                }
            }
        }
    };
    drawPieces(data->coast);
    if (palette.border.isValid()) {
        QPen borderPen(palette.border);
        borderPen.setCosmetic(true);
        borderPen.setWidthF(1.0);
        painter.setPen(borderPen);
        drawPieces(data->borders);
    }
    painter.restore();
}

}  // namespace platform
