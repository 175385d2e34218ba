#include "platform/ui/TableViewSectionIndexBar.hpp"

#include <QFontMetricsF>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace platform {

TableViewSectionIndexBar::TableViewSectionIndexBar(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("sectionIndexBar"));
    QFont small = font();
    small.setPixelSize(11);
    small.setBold(true);
    setFont(small);
}

void TableViewSectionIndexBar::setTitles(const QStringList& titles) {
    titles_ = titles;
    lastChosen_ = -1;
    setVisible(!titles.isEmpty());
    update();
}

QSize TableViewSectionIndexBar::sizeHint() const {
    return QSize(kWidth, static_cast<int>(titles_.size()) * kItemHeight);
}

double TableViewSectionIndexBar::firstTop() const {
    const double used = static_cast<double>(titles_.size()) * kItemHeight;
    return std::max(0.0, (height() - used) / 2);
}

int TableViewSectionIndexBar::indexAt(double y) const {
    if (titles_.isEmpty()) return -1;
    const int index = static_cast<int>(std::floor((y - firstTop()) / kItemHeight));
    return std::clamp(index, 0, static_cast<int>(titles_.size()) - 1);
}

QPoint TableViewSectionIndexBar::centreOf(int index) const {
    return QPoint(width() / 2, static_cast<int>(firstTop() + (index + 0.5) * kItemHeight));
}

namespace {

// A small waste bin for the "🗑" title where no installed font has the symbol.
void drawBin(QPainter& painter, const QRectF& item, const QColor& color) {
    const QPointF c = item.center();
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(color, 1.2));
    painter.setBrush(Qt::NoBrush);
    painter.drawLine(QPointF(c.x() - 4.5, c.y() - 3.5), QPointF(c.x() + 4.5, c.y() - 3.5));  // lid
    painter.drawLine(QPointF(c.x() - 1.5, c.y() - 5), QPointF(c.x() + 1.5, c.y() - 5));      // handle
    QPainterPath body;
    body.moveTo(c.x() - 3.5, c.y() - 2.5);
    body.lineTo(c.x() - 2.8, c.y() + 5);
    body.lineTo(c.x() + 2.8, c.y() + 5);
    body.lineTo(c.x() + 3.5, c.y() - 2.5);
    painter.drawPath(body);
    painter.restore();
}

}  // namespace

void TableViewSectionIndexBar::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Base));
    painter.setRenderHint(QPainter::TextAntialiasing);
    const QColor color = palette().color(QPalette::Highlight);
    painter.setPen(color);
    const QFontMetricsF metrics(font());
    const double top = firstTop();
    for (int i = 0; i < titles_.size(); ++i) {
        const QRectF item(0, top + i * kItemHeight, width(), kItemHeight);
        const QString& title = titles_[i];
        if (title == QStringLiteral("\U0001F5D1") && !metrics.inFontUcs4(0x1F5D1)) {
            drawBin(painter, item, color);
        } else {
            painter.drawText(item, Qt::AlignCenter, title);
        }
    }
}

void TableViewSectionIndexBar::choose(double y) {
    const int index = indexAt(y);
    if (index < 0 || index == lastChosen_) return;
    lastChosen_ = index;
    if (onSelect_) onSelect_(index, titles_[index]);
}

void TableViewSectionIndexBar::mousePressEvent(QMouseEvent* event) {
    lastChosen_ = -1;
    choose(event->position().y());
}

void TableViewSectionIndexBar::mouseReleaseEvent(QMouseEvent* event) {
    event->accept();
}

void TableViewSectionIndexBar::mouseMoveEvent(QMouseEvent* event) {
    if (event->buttons() & Qt::LeftButton) choose(event->position().y());
}

}  // namespace platform
