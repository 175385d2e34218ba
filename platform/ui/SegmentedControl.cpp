#include "platform/ui/SegmentedControl.hpp"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

#include "platform/ui/Contrast.hpp"
#include "platform/ui/TextMeasure.hpp"

namespace platform {

SegmentedControl::SegmentedControl(const QStringList& titles, QWidget* parent)
    : QWidget(parent),
      titles_(titles),
      images_(static_cast<size_t>(titles.size())),
      enabled_(static_cast<size_t>(titles.size()), true) {
    setFocusPolicy(Qt::StrongFocus);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

QString SegmentedControl::titleForSegment(int index) const {
    return index >= 0 && index < numberOfSegments() ? titles_[index] : QString();
}

void SegmentedControl::setTitleForSegment(int index, const QString& title) {
    if (index < 0 || index >= numberOfSegments()) return;
    titles_[index] = title;
    updateGeometry();
    update();
}

void SegmentedControl::setImageForSegment(int index, const NamedImage& image) {
    if (index < 0 || index >= numberOfSegments()) return;
    images_[static_cast<size_t>(index)] = image;
    update();
}

NamedImage SegmentedControl::imageForSegment(int index) const {
    if (index < 0 || index >= numberOfSegments()) return NamedImage();
    return images_[static_cast<size_t>(index)];
}

void SegmentedControl::insertSegment(int index, const QString& title) {
    index = std::clamp(index, 0, numberOfSegments());
    titles_.insert(index, title);
    enabled_.insert(enabled_.begin() + index, true);
    images_.insert(images_.begin() + index, NamedImage());
    if (selected_ >= index) ++selected_;
    updateGeometry();
    update();
}

void SegmentedControl::removeAllSegments() {
    titles_.clear();
    enabled_.clear();
    images_.clear();
    selected_ = kNoSegment;
    updateGeometry();
    update();
}

void SegmentedControl::setSelectedSegmentIndex(int index) {
    selected_ = index >= 0 && index < numberOfSegments() ? index : kNoSegment;
    update();
}

void SegmentedControl::setSegmentEnabled(int index, bool enabled) {
    if (index < 0 || index >= numberOfSegments()) return;
    enabled_[static_cast<size_t>(index)] = enabled;
    update();
}

bool SegmentedControl::isSegmentEnabled(int index) const {
    return index >= 0 && index < numberOfSegments() && enabled_[static_cast<size_t>(index)];
}

QRectF SegmentedControl::segmentRect(int index) const {
    if (index < 0 || index >= numberOfSegments()) return {};
    const double w = (width() - 1.0) / numberOfSegments();
    return QRectF(0.5 + index * w, 0.5, w, height() - 1.0);
}

int SegmentedControl::segmentAt(QPointF point) const {
    if (!rect().contains(point.toPoint()) || numberOfSegments() == 0) return kNoSegment;
    const int index = static_cast<int>(point.x() / (width() / static_cast<double>(numberOfSegments())));
    return std::clamp(index, 0, numberOfSegments() - 1);
}

QSize SegmentedControl::sizeHint() const {
    double widest = 0;
    for (const auto& title : titles_) widest = std::max(widest, textSize(font(), title).width());
    const int segments = std::max(1, numberOfSegments());
    return QSize(static_cast<int>(std::ceil((widest + 24) * segments)), 28);
}

void SegmentedControl::userSelect(int index) {
    if (index == kNoSegment || index == selected_ || !isSegmentEnabled(index)) return;
    selected_ = index;
    update();
    emit valueChanged(selected_);
}

void SegmentedControl::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) userSelect(segmentAt(event->position()));
}

void SegmentedControl::keyPressEvent(QKeyEvent* event) {
    const int step = event->key() == Qt::Key_Left ? -1 : event->key() == Qt::Key_Right ? 1 : 0;
    if (step == 0) {
        QWidget::keyPressEvent(event);
        return;
    }
    for (int index = selected_ + step; index >= 0 && index < numberOfSegments(); index += step) {
        if (isSegmentEnabled(index)) {
            userSelect(index);
            break;
        }
    }
}

void SegmentedControl::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor base = palette().color(QPalette::Base);
    // The selection colour as the tint, made lighter where a dark theme pairs a deep selection blue
    // with its base (1.6:1): unselected titles read at 4.5:1, their symbols and the outline even so.
    const QColor tint = legibleForeground(palette().color(QPalette::Highlight), base);
    const QColor selectedFace =
        legibleBackground(palette().color(QPalette::Highlight), palette().color(QPalette::HighlightedText));
    const QRectF outline = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QPainterPath shape;
    shape.addRoundedRect(outline, 5, 5);
    painter.fillPath(shape, base);
    painter.save();
    painter.setClipPath(shape);
    for (int i = 0; i < numberOfSegments(); ++i) {
        const QRectF segment = segmentRect(i);
        // The selected face is the theme's selection colour, darkened where its text would not read
        // on it (Qt's own light palette pairs #308cc6 with white at 3.7:1).
        if (i == selected_) painter.fillRect(segment, selectedFace);
        if (i > 0) {
            painter.setPen(QPen(tint, 1));
            painter.drawLine(segment.topLeft(), segment.bottomLeft());
        }
        QColor text = i == selected_ ? palette().color(QPalette::HighlightedText) : tint;
        if (!isSegmentEnabled(i)) text.setAlphaF(0.35f);
        painter.setPen(text);
        if (const NamedImage& image = images_[static_cast<size_t>(i)]; !image.isNull()) {
            // Drawn at the device's pixel ratio, a little shorter than the text line, so it stays sharp.
            const double side = std::min(segment.height() - 8, QFontMetricsF(font()).height() * 1.1);
            const double ratio = devicePixelRatioF();
            QImage drawn = image.render(QSize(qRound(side * ratio), qRound(side * ratio)), text);
            drawn.setDevicePixelRatio(ratio);
            painter.drawImage(
                QRectF(segment.center().x() - side / 2, segment.center().y() - side / 2, side, side), drawn);
            continue;
        }
        painter.drawText(segment.adjusted(4, 0, -4, 0), Qt::AlignCenter,
                         QFontMetrics(font()).elidedText(titles_[i], Qt::ElideRight,
                                                         static_cast<int>(segment.width()) - 8));
    }
    painter.restore();
    painter.setPen(QPen(tint, 1));
    painter.drawPath(shape);
    if (hasFocus()) {
        painter.setPen(QPen(tint, 1, Qt::DotLine));
        painter.drawRoundedRect(outline.adjusted(2, 2, -2, -2), 3, 3);
    }
}

}  // namespace platform
