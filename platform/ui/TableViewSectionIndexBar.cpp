#include "platform/ui/TableViewSectionIndexBar.hpp"

#include <QFontMetricsF>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

#include "platform/ui/Contrast.hpp"

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

double TableViewSectionIndexBar::itemHeight() const {
    if (titles_.isEmpty()) return kItemHeight;
    return std::min<double>(kItemHeight, height() / static_cast<double>(titles_.size()));
}

QFont TableViewSectionIndexBar::titleFont() const {
    // The bar's font while its line fits the slot; smaller where the slot is shorter, down to a floor
    // that still reads (below it the letters touch, but none is lost).
    QFont shown = font();
    const double slot = itemHeight();
    const double natural = QFontMetricsF(shown).height();
    if (natural > slot && shown.pixelSize() > 0) {
        const int pixels = std::max(7, static_cast<int>(std::floor(shown.pixelSize() * slot / natural)));
        shown.setPixelSize(std::min(shown.pixelSize(), pixels));
    }
    return shown;
}

double TableViewSectionIndexBar::firstTop() const {
    const double used = static_cast<double>(titles_.size()) * itemHeight();
    return std::max(0.0, (height() - used) / 2);
}

int TableViewSectionIndexBar::indexAt(double y) const {
    if (titles_.isEmpty()) return -1;
    const int index = static_cast<int>(std::floor((y - firstTop()) / itemHeight()));
    return std::clamp(index, 0, static_cast<int>(titles_.size()) - 1);
}

QPoint TableViewSectionIndexBar::centreOf(int index) const {
    return QPoint(width() / 2, static_cast<int>(firstTop() + (index + 0.5) * itemHeight()));
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
    const QColor base = palette().color(QPalette::Base);
    painter.fillRect(rect(), base);
    painter.setRenderHint(QPainter::TextAntialiasing);
    // The selection colour, lightened on a dark theme's base until the letters read.
    const QColor color = legibleForeground(palette().color(QPalette::Highlight), base);
    painter.setPen(color);
    const QFont shown = titleFont();
    painter.setFont(shown);
    const QFontMetricsF metrics(shown);
    const double top = firstTop();
    const double slot = itemHeight();
    for (int i = 0; i < titles_.size(); ++i) {
        const QRectF item(0, top + i * slot, width(), slot);
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
