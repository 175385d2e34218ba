#include "platform/mapkit/qt/MKMapViewOrnaments.hpp"

#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include <cmath>

#include "platform/text/Locale.hpp"

namespace platform {

MKCompassView::MKCompassView(QWidget* parent) : QWidget(parent) {
    setFixedSize(40, 40);
    setCursor(Qt::PointingHandCursor);
    setToolTip(tr("Turn the map north"));
}

void MKCompassView::setHeading(double heading) {
    heading_ = heading;
    update();
}

void MKCompassView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(0, 0, 0, 40), 1));
    painter.setBrush(QColor(255, 255, 255, 235));
    painter.drawEllipse(QRectF(1, 1, 38, 38));
    painter.translate(20, 20);
    // The needle points to north on the map, which is turned by minus the heading on screen.
    painter.rotate(-heading_);
    QPainterPath north;
    north.moveTo(0, -14);
    north.lineTo(5, 0);
    north.lineTo(-5, 0);
    north.closeSubpath();
    QPainterPath south;
    south.moveTo(0, 14);
    south.lineTo(5, 0);
    south.lineTo(-5, 0);
    south.closeSubpath();
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(220, 50, 40));
    painter.drawPath(north);
    painter.setBrush(QColor(150, 150, 150));
    painter.drawPath(south);
}

void MKCompassView::mousePressEvent(QMouseEvent* event) {
    // The press is the compass's: left to the map under it, it would start the map's own press (a long
    // press there drops a point) while the release comes here.
    event->accept();
}

void MKCompassView::mouseReleaseEvent(QMouseEvent* event) {
    if (rect().contains(event->position().toPoint()) && onClick) onClick();
}

MKScaleView::MKScaleView(QWidget* parent) : QWidget(parent) {
    setFixedSize(130, 24);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

namespace {

// The longest round length (1, 2 or 5 × 10^n) of at most `max`.
double roundLengthAtMost(double max) {
    const double power = std::pow(10.0, std::floor(std::log10(max)));
    for (const double step : {5.0, 2.0, 1.0}) {
        if (step * power <= max) return step * power;
    }
    return power;
}

constexpr double kMetersPerFoot = 0.3048;
constexpr double kFeetPerMile = 5280;

}  // namespace

void MKScaleView::setMetersPerPoint(double metersPerPoint) {
    if (!(metersPerPoint > 0) || !std::isfinite(metersPerPoint)) return;
    // The longest round length that fits in 100 points, in the units of the user's locale: the same
    // units as every other scale and distance list of the program.
    const double maxMeters = metersPerPoint * 100;
    if (text::Locale::current().usesMetricSystem()) {
        barMeters_ = roundLengthAtMost(maxMeters);
        label_ = barMeters_ >= 1000 ? QStringLiteral("%1 km").arg(barMeters_ / 1000)
                                    : QStringLiteral("%1 m").arg(barMeters_);
    } else {
        const double maxFeet = maxMeters / kMetersPerFoot;
        if (maxFeet < 1000) {
            const double feet = roundLengthAtMost(maxFeet);
            barMeters_ = feet * kMetersPerFoot;
            label_ = QStringLiteral("%1 ft").arg(feet);
        } else {
            const double miles = roundLengthAtMost(maxFeet / kFeetPerMile);
            barMeters_ = miles * kFeetPerMile * kMetersPerFoot;
            label_ = QStringLiteral("%1 mi").arg(miles);
        }
    }
    barPoints_ = barMeters_ / metersPerPoint;
    update();
}

void MKScaleView::setDark(bool dark) {
    dark_ = dark;
    update();
}

void MKScaleView::paintEvent(QPaintEvent*) {
    if (barPoints_ <= 0) return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QString& label = label_;
    QFont font = painter.font();
    font.setPixelSize(11);
    painter.setFont(font);
    const double y = 18;
    const QColor ink = dark_ ? QColor(240, 240, 240) : QColor(40, 40, 40);
    const QColor halo = dark_ ? QColor(0, 0, 0, 160) : QColor(255, 255, 255, 200);
    // A halo keeps the bar and its label readable on land and water alike.
    for (const auto& [color, width] : {std::pair{halo, 4.0}, std::pair{ink, 1.5}}) {
        painter.setPen(QPen(color, width, Qt::SolidLine, Qt::FlatCap));
        painter.drawLine(QPointF(2, y), QPointF(2 + barPoints_, y));
        painter.drawLine(QPointF(2, y - 5), QPointF(2, y));
        painter.drawLine(QPointF(2 + barPoints_, y - 5), QPointF(2 + barPoints_, y));
    }
    QPainterPath text;
    text.addText(QPointF(6, y - 5), font, label);
    painter.setPen(QPen(halo, 3));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(text);
    painter.setPen(Qt::NoPen);
    painter.setBrush(ink);
    painter.drawPath(text);
}

MKAppleLogoImageView::MKAppleLogoImageView(QWidget* parent) : QWidget(parent) {
    setFixedSize(58, 18);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void MKAppleLogoImageView::setDark(bool dark) {
    dark_ = dark;
    update();
}

void MKAppleLogoImageView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    // A folded map: three panels.
    const QColor ink = dark_ ? QColor(235, 235, 235, 220) : QColor(60, 60, 60, 200);
    painter.setPen(QPen(ink, 1.2));
    painter.setBrush(dark_ ? QColor(0, 0, 0, 90) : QColor(255, 255, 255, 170));
    QPolygonF folded;
    folded << QPointF(2, 4) << QPointF(6, 2) << QPointF(10, 4) << QPointF(14, 2) << QPointF(14, 14)
           << QPointF(10, 16) << QPointF(6, 14) << QPointF(2, 16);
    painter.drawPolygon(folded);
    painter.drawLine(QPointF(6, 2), QPointF(6, 14));
    painter.drawLine(QPointF(10, 4), QPointF(10, 16));
    QFont font = painter.font();
    font.setPixelSize(12);
    font.setBold(true);
    painter.setFont(font);
    painter.setPen(ink);
    painter.drawText(QRectF(18, 0, 40, 18), Qt::AlignVCenter | Qt::AlignLeft, QStringLiteral("Map"));
}

MKAttributionLabel::MKAttributionLabel(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setText(tr("Natural Earth"));
}

void MKAttributionLabel::setText(const QString& text) {
    text_ = text;
    QFont font = this->font();
    font.setPixelSize(10);
    setFont(font);
    resize(sizeHint());
    update();
}

QSize MKAttributionLabel::sizeHint() const {
    const QFontMetrics metrics(font());
    return {metrics.horizontalAdvance(text_) + 10, metrics.height() + 4};
}

void MKAttributionLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    // The palette's window colour, a little translucent, under its window text: readable over the
    // map in a light and a dark palette alike (as the screens' own credits).
    QColor plate = palette().color(QPalette::Window);
    plate.setAlpha(200);
    painter.setBrush(plate);
    painter.drawRoundedRect(QRectF(rect()), 3, 3);
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(rect(), Qt::AlignCenter, text_);
}

MKMapNoticeLabel::MKMapNoticeLabel(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    QFont font = this->font();
    font.setPixelSize(10);
    setFont(font);
    hide();
}

void MKMapNoticeLabel::setText(const QString& text) {
    if (text == text_) return;
    text_ = text;
    resize(sizeHint());
    setVisible(!text_.isEmpty());
    update();
}

void MKMapNoticeLabel::setDark(bool dark) {
    dark_ = dark;
    update();
}

QSize MKMapNoticeLabel::sizeHint() const {
    const QFontMetrics metrics(font());
    // Room for the small mark before the text.
    return {metrics.horizontalAdvance(text_) + 10 + metrics.height(), metrics.height() + 4};
}

void MKMapNoticeLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    // As the credits below it: the palette's window colour (a dark plate on a dark map type).
    QColor plate = palette().color(QPalette::Window);
    plate.setAlpha(200);
    painter.setBrush(dark_ ? QColor(0, 0, 0, 150) : plate);
    painter.drawRoundedRect(QRectF(rect()), 3, 3);
    // A small amber dot says that this line is a condition, not a credit.
    const QFontMetrics metrics(font());
    const double dot = metrics.height() * 0.45;
    painter.setBrush(QColor(226, 146, 28));
    painter.drawEllipse(QRectF(5, (height() - dot) / 2, dot, dot));
    painter.setPen(dark_ ? QColor(235, 235, 235) : palette().color(QPalette::WindowText));
    painter.drawText(rect().adjusted(static_cast<int>(5 + dot + 4), 0, -5, 0),
                     Qt::AlignVCenter | Qt::AlignLeft, text_);
}

}  // namespace platform
